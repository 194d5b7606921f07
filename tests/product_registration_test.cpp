#include <string>
#include <vector>

#include "app/updater.h"
#include "tests/machine_test.h"
#include "winsim/registry.h"
#include "winsim/system_info.h"
#include "winsim/user.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const std::string FILTER = "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter";
const std::string ROVE = FILTER + "\\ROVE";
const std::string ODRIX = FILTER + "\\ODRIX";
const std::string ID = "XVT-7Q2RN  KR550";
const std::string SLOT_A = "AAAAAAAAAAAAAAAA";
const std::string SLOT_B = "BBBBBBBBBBBBBBBB";

class ProductRegistrationTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    updater.SetMessages(messageTable.Text());
  }

  void TearDown() override {
    EXPECT_EQ(winsim::OpenHandleCount(winsim::HandleKind::RegistryKey), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
  }

  // The stored list as text; a REG_SZ written through the ANSI call carries one NUL.
  static std::string Products(const std::string& key) {
    winsim::RegistryValue value{};
    if (!winsim::GetRegistryValue(HKLM, key, "Products", &value)) return "<missing>";
    EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
    return value.bytes;
  }

  static std::string Stored(const std::string& list) { return list + std::string(1, '\0'); }

  std::size_t RegistryErrorBoxes() const {
    std::size_t count = 0;
    for (const winsim::MessageBoxRecord& box : winsim::MessageBoxes()) {
      ExpectUpdaterBox(box, Text(MSG_REGISTRY_ERROR));
      ++count;
    }
    return count;
  }

  Updater updater;
};

TEST_F(ProductRegistrationTest, WithoutTheFilterKeyNothingIsWrittenOrShown) {
  winsim::SetRegistryKey(HKLM, "SYSTEM\\CurrentControlSet\\Services\\NavoDrv");
  EXPECT_EQ(updater.UpdateRegistry(), 0);
  EXPECT_TRUE(winsim::RegistrySetCalls().empty());
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, ROVE));
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, ODRIX));
  EXPECT_TRUE(winsim::MessageBoxes().empty());
}

// A filter key that is there belongs to an installed driver, whether or not it
// opens with the rights the update asks for: the vendor keys decide.
TEST_F(ProductRegistrationTest, FilterKeyThatIsThereButCannotBeOpenedLeavesTheVendorKeysToDecide) {
  const struct {
    REGSAM filterRights;
    REGSAM vendorRights;
    int result;
  } cases[] = {
      {winsim::KEY_RIGHTS_READ_ONLY, winsim::KEY_RIGHTS_ALL, 0},
      {winsim::KEY_RIGHTS_NONE, winsim::KEY_RIGHTS_ALL, 0},
      {winsim::KEY_RIGHTS_READ_ONLY, winsim::KEY_RIGHTS_READ_ONLY, -1},
  };
  for (const auto& c : cases) {
    winsim::ResetMachine();
    winsim::SetRegistryString(HKLM, ROVE, "Products", SLOT_A);
    winsim::SetRegistryString(HKLM, ODRIX, "Products", SLOT_B);
    winsim::SetRegistryKey(HKLM, FILTER, c.filterRights);
    winsim::SetRegistryKey(HKLM, ROVE, c.vendorRights);
    EXPECT_EQ(updater.UpdateRegistry(), c.result);
    const bool written = c.result == 0;
    EXPECT_EQ(Products(ROVE), Stored(written ? SLOT_A + ID : SLOT_A));
    EXPECT_EQ(Products(ODRIX), Stored(written ? SLOT_B + ID : SLOT_B));
    EXPECT_EQ(RegistryErrorBoxes(), written ? 0u : 1u);
  }
}

TEST_F(ProductRegistrationTest, MissingVendorKeysAreCreatedHoldingJustTheId) {
  winsim::SetRegistryKey(HKLM, FILTER);
  EXPECT_EQ(updater.UpdateRegistry(), 0);
  EXPECT_EQ(Products(ROVE), Stored(ID));
  EXPECT_EQ(Products(ODRIX), Stored(ID));
  const auto& calls = winsim::RegistrySetCalls();
  ASSERT_EQ(calls.size(), 2u) << "each new value is written once";
  const std::string keys[] = {ROVE, ODRIX};
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(calls[i].keyPath, keys[i]);
    EXPECT_EQ(calls[i].valueName, "Products");
    EXPECT_EQ(calls[i].type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(calls[i].byteCount, 16u);
    EXPECT_EQ(calls[i].data, ID);
  }
  EXPECT_TRUE(winsim::MessageBoxes().empty());
}

// Lists as found in the registry; what each becomes, and whether it is written.
TEST_F(ProductRegistrationTest, ListTakesTheIdInANewWholeSlotOnlyWhenAbsent) {
  std::string seventy;
  for (int slot = 0; slot < 70; ++slot) seventy += slot % 2 ? SLOT_A : SLOT_B;
  std::string lowerId = ID;
  for (char& c : lowerId) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  struct Case {
    const char* name;
    std::string storedBytes;  // as another writer left them
    std::string result;       // the list afterwards, without its NUL
    bool written;
  } cases[] = {
      {"two slots", Stored(SLOT_A + SLOT_B), SLOT_A + SLOT_B + ID, true},
      {"20 characters", Stored(SLOT_A + "tail"), SLOT_A + ID, true},
      {"shorter than a slot", Stored("ABC"), ID, true},
      {"empty", Stored(""), ID, true},
      {"empty without NUL", "", ID, true},
      {"id in another letter case", Stored(SLOT_A + lowerId), SLOT_A + lowerId, false},
      {"id first of 20 characters", Stored(ID + "tail"), ID + "tail", false},
      {"id across a slot boundary", Stored("12345678" + ID + "12345678"), "12345678" + ID + "12345678" + ID, true},
      {"id in a cut trailing slot", Stored(SLOT_A + ID.substr(0, 15)), SLOT_A + ID, true},
      {"stored without NUL", SLOT_A + SLOT_B, SLOT_A + SLOT_B + ID, true},
      {"embedded NUL ends the text", SLOT_A + std::string(1, '\0') + ID + std::string(1, '\0'), SLOT_A + ID, true},
      {"70 slots", Stored(seventy), seventy + ID, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::ResetMachine();
    winsim::SetRegistryValue(HKLM, ROVE, "Products", REG_SZ, c.storedBytes);
    winsim::SetRegistryValue(HKLM, ODRIX, "Products", REG_SZ, c.storedBytes);
    EXPECT_EQ(updater.UpdateRegistry(), 0);
    const auto& calls = winsim::RegistrySetCalls();
    ASSERT_EQ(calls.size(), c.written ? 2u : 0u);
    for (const winsim::RegistrySetCall& call : calls) {
      EXPECT_EQ(call.data, c.result);
      EXPECT_EQ(call.byteCount, c.result.size()) << "written without NUL";
    }
    EXPECT_EQ(Products(ROVE), c.written ? Stored(c.result) : c.storedBytes);
    EXPECT_EQ(Products(ODRIX), Products(ROVE));
    EXPECT_TRUE(winsim::MessageBoxes().empty());
  }
}

TEST_F(ProductRegistrationTest, ProductsOfAnotherTypeFailsAndStaysUnchanged) {
  struct Case {
    DWORD type;
    std::string bytes;
  } cases[] = {{REG_MULTI_SZ, SLOT_A + std::string(2, '\0')}, {REG_DWORD, std::string("\1\0\0\0", 4)}};
  for (const Case& c : cases) {
    winsim::ResetMachine();
    winsim::SetRegistryValue(HKLM, ROVE, "Products", c.type, c.bytes);
    EXPECT_EQ(updater.UpdateRegistry(), -1);
    EXPECT_EQ(RegistryErrorBoxes(), 1u);
    winsim::RegistryValue value{};
    ASSERT_TRUE(winsim::GetRegistryValue(HKLM, ROVE, "Products", &value));
    EXPECT_EQ(value.type, c.type);
    EXPECT_EQ(value.bytes, c.bytes);
    EXPECT_TRUE(winsim::RegistrySetCalls().empty());
    EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, ODRIX)) << "the second row is not carried out";
  }
}

TEST_F(ProductRegistrationTest, FailingSecondRowKeepsTheFirstRowsAppend) {
  winsim::SetRegistryString(HKLM, ROVE, "Products", SLOT_A);
  winsim::SetRegistryString(HKLM, ODRIX, "Products", SLOT_B);
  winsim::SetRegistryKey(HKLM, ODRIX, winsim::KEY_RIGHTS_READ_ONLY);
  EXPECT_EQ(updater.UpdateRegistry(), -1);
  EXPECT_EQ(Products(ROVE), Stored(SLOT_A + ID));
  EXPECT_EQ(Products(ODRIX), Stored(SLOT_B));
  EXPECT_EQ(RegistryErrorBoxes(), 1u);
}

TEST_F(ProductRegistrationTest, SilentRunStillShowsTheRegistryError) {
  updater.SetShowUi(0);
  winsim::SetRegistryKey(HKLM, FILTER);
  winsim::FailCall("RegCreateKeyExA", 1, ERROR_ACCESS_DENIED);
  EXPECT_EQ(updater.UpdateRegistry(), -1);
  EXPECT_EQ(RegistryErrorBoxes(), 1u);
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, ROVE));
}

TEST_F(ProductRegistrationTest, FailedFirstWriteOfANewListFails) {
  winsim::SetRegistryKey(HKLM, ROVE);
  winsim::FailCall("RegSetValueExA", 1, ERROR_HANDLE_DISK_FULL);
  EXPECT_EQ(updater.UpdateRegistry(), -1);
  EXPECT_EQ(RegistryErrorBoxes(), 1u);
  EXPECT_EQ(winsim::RegistrySetCalls().size(), 1u);
}

TEST_F(ProductRegistrationTest, WorksOnWindows2000WithoutTheViewFlag) {
  winsim::UseWindows2000();
  updater.versionClass = 1;
  winsim::SetRegistryKey(HKLM, FILTER);
  winsim::SetRegistryString(HKLM, ODRIX, "Products", SLOT_A);
  EXPECT_EQ(updater.UpdateRegistry(), 0);
  EXPECT_EQ(Products(ROVE), Stored(ID));
  EXPECT_EQ(Products(ODRIX), Stored(SLOT_A + ID));
  EXPECT_TRUE(winsim::MessageBoxes().empty());
}

// Whatever registry call or allocation fails, the step either finishes or
// fails with exactly one box, and leaves no handle or block behind.
TEST_F(ProductRegistrationTest, EveryFaultEndsInSuccessOrOneBox) {
  const char* const functions[] = {"RegOpenKeyExA", "RegCreateKeyExA", "RegQueryValueExA", "RegSetValueExA",
                                   "RegCloseKey"};
  struct Fault {
    const char* function;  // nullptr: an allocation
    unsigned nth;
  };
  std::vector<Fault> faults;
  for (const char* function : functions) {
    for (unsigned nth = 1; nth <= 12; ++nth) faults.push_back({function, nth});
  }
  for (unsigned nth = 1; nth <= 12; ++nth) faults.push_back({nullptr, nth});
  for (const Fault& fault : faults) {
    SCOPED_TRACE(testing::Message() << (fault.function ? fault.function : "allocation") << " #" << fault.nth);
    winsim::ResetMachine();
    winsim::SetRegistryString(HKLM, ROVE, "Products", SLOT_A);
    winsim::SetRegistryKey(HKLM, FILTER);
    if (fault.function != nullptr) {
      winsim::FailCall(fault.function, fault.nth, ERROR_ACCESS_DENIED);
    } else {
      winsim::FailAllocation(fault.nth);
    }
    const int result = updater.UpdateRegistry();
    EXPECT_EQ(RegistryErrorBoxes(), result == 0 ? 0u : 1u);
    const std::string rove = Products(ROVE);
    EXPECT_TRUE(rove == Stored(SLOT_A) || rove == Stored(SLOT_A + ID)) << "never a cut or mixed list";
    EXPECT_EQ(winsim::OpenHandleCount(winsim::HandleKind::RegistryKey), 0u);
  }
}

TEST_F(ProductRegistrationTest, ContainsComparesWholeSlotsIgnoringAsciiCase) {
  struct Case {
    std::string list;
    std::string id;
    bool found;
  } cases[] = {
      {ID, ID, true},
      {SLOT_A + "xvt-7q2rn  kr550", ID, true},
      {SLOT_A + SLOT_B, ID, false},
      {ID.substr(0, 15), ID, false},
      {"", ID, false},
      {"12345678" + ID + "12345678", ID, false},
      {"XVT_7Q2RN  KR550", ID, false},
      {"XVT-7Q2RN\t KR550", ID, false},
      {ID, ID.substr(0, 15), false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(updater.ProductListContains(c.list.c_str(), c.id.c_str()), c.found) << c.list << " / " << c.id;
  }
}

TEST_F(ProductRegistrationTest, ParentPathIsEverythingBeforeTheLastBackslash) {
  struct Case {
    const char* path;
    int capacity;
    int result;
    std::string buffer;
  } cases[] = {
      {"A\\B\\C", 260, 0, "A\\B"},
      {"A\\", 260, 0, "A"},
      {"\\A", 260, 0, ""},
      {"ABC", 260, -1, "untouched"},
      {"", 260, -1, "untouched"},
      {"A\\BC", 5, 0, "A"},
      {"A\\BCD", 5, -1, "untouched"},
  };
  for (const Case& c : cases) {
    char buffer[260] = "untouched";
    EXPECT_EQ(updater.ParentPath(c.path, buffer, c.capacity), c.result) << c.path;
    EXPECT_EQ(std::string(buffer), c.buffer) << c.path;
  }
}

TEST_F(ProductRegistrationTest, DwordWriteNeedsAnExistingKey) {
  const DWORD number = 0x12345678;
  winsim::SetRegistryKey(HKLM, "SYSTEM\\Existing");
  EXPECT_EQ(updater.WriteDwordValue("SYSTEM\\Existing", "N", &number), 0);
  winsim::RegistryValue value{};
  ASSERT_TRUE(winsim::GetRegistryValue(HKLM, "SYSTEM\\Existing", "N", &value));
  EXPECT_EQ(value.bytes, std::string("\x78\x56\x34\x12", 4));
  EXPECT_EQ(updater.WriteDwordValue("SYSTEM\\Missing", "N", &number), -1);
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, "SYSTEM\\Missing"));
  EXPECT_EQ(RegistryErrorBoxes(), 1u);
}

TEST_F(ProductRegistrationTest, StringWriteCreatesTheKeyAndFailsWhenItCannot) {
  EXPECT_EQ(updater.WriteStringValue("SYSTEM\\New\\Key", "S", "text"), 0);
  EXPECT_EQ(winsim::LastSetValueByteCount(), 4u);
  winsim::RegistryValue value{};
  ASSERT_TRUE(winsim::GetRegistryValue(HKLM, "SYSTEM\\New\\Key", "S", &value));
  EXPECT_EQ(value.bytes, Stored("text"));
  EXPECT_TRUE(winsim::MessageBoxes().empty());

  winsim::SetRegistryKey(HKLM, "SYSTEM\\Sealed", winsim::KEY_RIGHTS_READ_ONLY);
  EXPECT_EQ(updater.WriteStringValue("SYSTEM\\Sealed\\Key", "S", "text"), -1);
  EXPECT_EQ(RegistryErrorBoxes(), 1u);
}

TEST_F(ProductRegistrationTest, IdOfAnotherLengthIsRefused) {
  winsim::SetRegistryString(HKLM, ROVE, "Products", SLOT_A);
  EXPECT_EQ(updater.AppendProductId(ROVE.c_str(), "Products", "SHORT"), -1);
  EXPECT_EQ(Products(ROVE), Stored(SLOT_A));
  EXPECT_EQ(RegistryErrorBoxes(), 1u);
}

}  // namespace
