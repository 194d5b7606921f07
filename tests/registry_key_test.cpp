#include <functional>
#include <memory>
#include <string>

#include "registry/registry_key.h"
#include "tests/machine_test.h"
#include "winsim/registry.h"
#include "winsim/system_info.h"

namespace {

using winsim::RegistryValue;

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const char APP_KEY[] = "SOFTWARE\\Vendor\\App";

class RegistryKeyTest : public MachineTest {
 protected:
  void TearDown() override { EXPECT_EQ(winsim::OpenHandleCount(winsim::HandleKind::RegistryKey), 0u); }

  static std::unique_ptr<RegistryKey> KeyAt(const std::string& path) {
    std::unique_ptr<RegistryKey> key(new RegistryKey);
    key->SetRoot(HKLM);
    EXPECT_EQ(key->SetPath(path.c_str()), 0);
    return key;
  }

  static std::string ReadString(RegistryKey& key, const char* name, int* error) {
    char* text = key.GetString(name, error);
    if (text == nullptr) return "<none>";
    std::string result(text);
    delete[] text;
    return result;
  }
};

// Every operation that needs a key reports what is missing, root first, and calls nothing.
TEST_F(RegistryKeyTest, MissingRootOrPathIsReportedBeforeAnyRegistryCall) {
  struct Setup {
    const char* name;
    bool root;
    bool path;
    int expected;
  } setups[] = {{"neither", false, false, ERR_NO_ROOT}, {"path only", false, true, ERR_NO_ROOT},
                {"root only", true, false, ERR_NO_PATH}};
  for (const Setup& setup : setups) {
    SCOPED_TRACE(setup.name);
    RegistryKey key;
    if (setup.root) key.SetRoot(HKLM);
    if (setup.path) key.SetPath(APP_KEY);
    const DWORD number = 7;
    int error = 0;
    EXPECT_FALSE(key.Exists(&error));
    EXPECT_EQ(error, setup.expected);
    EXPECT_EQ(key.Create(), setup.expected);
    EXPECT_EQ(key.SetString("v", "x"), setup.expected);
    EXPECT_EQ(key.SetDword("v", &number), setup.expected);
    DWORD type = 99;
    error = 0;
    EXPECT_EQ(key.Query("v", &error, &type), nullptr);
    EXPECT_EQ(error, setup.expected);
    EXPECT_EQ(ReadString(key, "v", &error), "<none>");
    EXPECT_EQ(error, setup.expected);
    error = 0;
    EXPECT_EQ(key.GetDword("v", &error), 0u);
    EXPECT_EQ(error, setup.expected);
  }
  EXPECT_TRUE(winsim::RegistryOpens().empty());
  EXPECT_TRUE(winsim::RegistryQueries().empty());
}

TEST_F(RegistryKeyTest, ReadsGiveTheirOwnCodesOrTheRegistryCode) {
  winsim::SetRegistryKey(HKLM, APP_KEY);
  winsim::SetRegistryValue(HKLM, APP_KEY, "Expand", REG_EXPAND_SZ, std::string("%TEMP%\0", 7));
  winsim::SetRegistryValue(HKLM, APP_KEY, "Multi", REG_MULTI_SZ, std::string("a\0b\0\0", 5));
  winsim::SetRegistryString(HKLM, APP_KEY, "Text", "12");
  winsim::SetRegistryValue(HKLM, APP_KEY, "BigEndian", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\1", 4));
  winsim::SetRegistryValue(HKLM, APP_KEY, "Quad", REG_QWORD, std::string(8, '\1'));
  winsim::SetRegistryDword(HKLM, APP_KEY, "Number", 0x0A0000FF);
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\Vendor\\Locked", winsim::KEY_RIGHTS_NONE);
  winsim::SetRegistryDword(HKLM, "SOFTWARE\\Vendor\\Locked", "Number", 1);

  struct Case {
    const char* path;
    const char* value;
    bool asString;
    int error;
    std::string text;
    DWORD number;
  } cases[] = {
      {APP_KEY, "Absent", true, ERR_VALUE_NOT_FOUND, "<none>", 0},
      {"SOFTWARE\\Vendor\\Gone", "Text", true, ERROR_FILE_NOT_FOUND, "<none>", 0},
      {APP_KEY, "Expand", true, ERR_TYPE_MISMATCH, "<none>", 0},
      {APP_KEY, "Multi", true, ERR_TYPE_MISMATCH, "<none>", 0},
      {APP_KEY, "Number", true, ERR_TYPE_MISMATCH, "<none>", 0},
      {APP_KEY, "Text", true, 0, "12", 0},
      {APP_KEY, "Absent", false, ERR_VALUE_NOT_FOUND, "", 0},
      {APP_KEY, "Text", false, ERR_TYPE_MISMATCH, "", 0},
      {APP_KEY, "BigEndian", false, ERR_TYPE_MISMATCH, "", 0},
      {APP_KEY, "Quad", false, ERR_TYPE_MISMATCH, "", 0},
      {APP_KEY, "Number", false, 0, "", 0x0A0000FF},
      {"SOFTWARE\\Vendor\\Locked", "Number", false, ERROR_ACCESS_DENIED, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.path) + " " + c.value);
    auto key = KeyAt(c.path);
    int error = -1;
    if (c.asString) {
      EXPECT_EQ(ReadString(*key, c.value, &error), c.text);
    } else {
      EXPECT_EQ(key->GetDword(c.value, &error), c.number);
    }
    EXPECT_EQ(error, c.error);
  }
}

TEST_F(RegistryKeyTest, DwordIsWrittenLittleEndianAndWritesPassOnTheRegistryCode) {
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\ReadOnly", winsim::KEY_RIGHTS_READ_ONLY);
  winsim::SetRegistryKey(HKLM, APP_KEY);
  const DWORD number = 1;
  EXPECT_EQ(KeyAt("SOFTWARE\\Gone")->SetString("v", "x"), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(KeyAt("SOFTWARE\\Gone")->SetDword("v", &number), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(KeyAt("SOFTWARE\\ReadOnly")->SetString("v", "x"), ERROR_ACCESS_DENIED);
  const DWORD version = 0x0A000100;
  EXPECT_EQ(KeyAt(APP_KEY)->SetDword("Version", &version), 0);
  winsim::RegistryValue stored{};
  ASSERT_TRUE(winsim::GetRegistryValue(HKLM, APP_KEY, "Version", &stored));
  EXPECT_EQ(stored.type, static_cast<DWORD>(REG_DWORD));
  EXPECT_EQ(stored.bytes, std::string("\x00\x01\x00\x0A", 4));
  winsim::FailCall("RegSetValueExA", 2, ERROR_HANDLE_DISK_FULL);
  EXPECT_EQ(KeyAt(APP_KEY)->SetDword("v", &number), ERROR_HANDLE_DISK_FULL);
  EXPECT_EQ(winsim::RegistryValueCount(HKLM, "SOFTWARE\\ReadOnly"), 0u);
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, "SOFTWARE\\Gone"));
}

TEST_F(RegistryKeyTest, ExistsNeedsTheRightToWriteAndKeepsTheOldErrorWhenTrue) {
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\ReadOnly", winsim::KEY_RIGHTS_READ_ONLY);
  winsim::SetRegistryKey(HKLM, APP_KEY);
  int error = 0;
  EXPECT_FALSE(KeyAt("SOFTWARE\\ReadOnly")->Exists(&error));
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(KeyAt("SOFTWARE\\Gone")->Exists(&error));
  EXPECT_EQ(error, ERROR_FILE_NOT_FOUND);
  error = 1234;
  EXPECT_TRUE(KeyAt("software\\VENDOR\\app")->Exists(&error)) << "names are compared without case";
  EXPECT_EQ(error, 1234);
}

TEST_F(RegistryKeyTest, StringIsWrittenWithoutItsNulAndReadBackTerminated) {
  winsim::SetRegistryKey(HKLM, APP_KEY);
  auto key = KeyAt(APP_KEY);
  EXPECT_EQ(key->SetString("Short", "abc"), 0);
  ASSERT_EQ(winsim::RegistrySetCalls().size(), 1u);
  const winsim::RegistrySetCall& call = winsim::RegistrySetCalls()[0];
  EXPECT_EQ(call.keyPath, APP_KEY);
  EXPECT_EQ(call.valueName, "Short");
  EXPECT_EQ(call.type, static_cast<DWORD>(REG_SZ));
  EXPECT_EQ(call.byteCount, 3u);
  EXPECT_EQ(call.data, "abc");

  int error = -1;
  EXPECT_EQ(ReadString(*key, "Short", &error), "abc");
  EXPECT_EQ(error, 0);

  // Values stored by other writers: without any NUL, empty with or without one.
  struct Stored {
    const char* name;
    std::string bytes;
    std::string text;
  } stored[] = {{"NoNul", "xyz", "xyz"}, {"EmptyNoNul", "", ""}, {"Empty", std::string(1, '\0'), ""}};
  for (const Stored& value : stored) {
    winsim::SetRegistryValue(HKLM, APP_KEY, value.name, REG_SZ, value.bytes);
    error = -1;
    EXPECT_EQ(ReadString(*key, value.name, &error), value.text) << value.name;
    EXPECT_EQ(error, 0) << value.name;
  }
}

TEST_F(RegistryKeyTest, CreateMakesTheMissingKeysAndLeavesAnExistingKeyAsItIs) {
  winsim::SetRegistryKey(HKLM, APP_KEY, winsim::KEY_RIGHTS_READ_ONLY);
  winsim::SetRegistryString(HKLM, APP_KEY, "Kept", "value");
  EXPECT_EQ(KeyAt(APP_KEY)->Create(), 0);
  RegistryValue kept{};
  ASSERT_TRUE(winsim::GetRegistryValue(HKLM, APP_KEY, "Kept", &kept));
  EXPECT_EQ(kept.bytes, std::string("value\0", 6));
  int error = 0;
  EXPECT_FALSE(KeyAt(APP_KEY)->Exists(&error)) << "rights unchanged";

  EXPECT_EQ(KeyAt("SYSTEM\\New\\Deeper\\Key")->Create(), 0);
  EXPECT_TRUE(winsim::RegistryKeyExists(HKLM, "SYSTEM\\New\\Deeper"));
  EXPECT_TRUE(winsim::RegistryKeyExists(HKLM, "SYSTEM\\New\\Deeper\\Key"));

  // Below a key that refuses new sub-keys the registry's own code is not kept.
  EXPECT_EQ(KeyAt(std::string(APP_KEY) + "\\Child")->Create(), ERR_CREATE_FAILED);
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, std::string(APP_KEY) + "\\Child"));
}

// Every open asks for exactly its rights, in the 64-bit view.
TEST_F(RegistryKeyTest, EachOperationAsksForItsOwnAccess) {
  winsim::SetRegistryKey(HKLM, APP_KEY);
  winsim::SetRegistryString(HKLM, APP_KEY, "Text", "t");
  winsim::SetRegistryDword(HKLM, APP_KEY, "Number", 1);
  const DWORD number = 2;
  int error = 0;
  DWORD type = 0;
  struct Case {
    const char* name;
    std::function<void(RegistryKey&)> run;
    const char* function;
    REGSAM access;
  } cases[] = {
      {"Exists", [&](RegistryKey& k) { k.Exists(&error); }, "RegOpenKeyExA", 0x2011F},
      {"Create", [&](RegistryKey& k) { k.Create(); }, "RegCreateKeyExA", 0x20119},
      {"Query", [&](RegistryKey& k) { delete[] k.Query("Text", &error, &type); }, "RegOpenKeyExA", 0x20119},
      {"GetString", [&](RegistryKey& k) { delete[] k.GetString("Text", &error); }, "RegOpenKeyExA", 0x20119},
      {"GetDword", [&](RegistryKey& k) { k.GetDword("Number", &error); }, "RegOpenKeyExA", 0x20119},
      {"SetString", [&](RegistryKey& k) { k.SetString("Text", "u"); }, "RegOpenKeyExA", 0x20106},
      {"SetDword", [&](RegistryKey& k) { k.SetDword("Number", &number); }, "RegOpenKeyExA", 0x20106},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::size_t before = winsim::RegistryOpens().size();
    c.run(*KeyAt(APP_KEY));
    ASSERT_EQ(winsim::RegistryOpens().size(), before + 1);
    const winsim::RegistryOpenCall& open = winsim::RegistryOpens().back();
    EXPECT_EQ(open.function, c.function);
    EXPECT_EQ(open.root, HKLM);
    EXPECT_EQ(open.keyPath, APP_KEY);
    EXPECT_EQ(open.access, c.access);
    EXPECT_EQ(open.result, ERROR_SUCCESS);
  }
}

// Windows 2000 has one view and refuses the view flag: it is left out there.
TEST_F(RegistryKeyTest, WindowsWithoutWow64GetsNoViewFlagAndWorks) {
  winsim::UseWindows2000();
  winsim::SetRegistryKey(HKLM, APP_KEY);
  auto key = KeyAt(APP_KEY);
  int error = 0;
  EXPECT_TRUE(key->Exists(&error));
  EXPECT_EQ(KeyAt("SOFTWARE\\Vendor\\Other")->Create(), 0);
  EXPECT_EQ(key->SetString("Text", "2000"), 0);
  EXPECT_EQ(ReadString(*key, "Text", &error), "2000");
  EXPECT_EQ(error, 0);
  for (const winsim::RegistryOpenCall& open : winsim::RegistryOpens()) {
    EXPECT_EQ(open.access & KEY_WOW64_64KEY, 0u) << open.function;
    EXPECT_EQ(open.result, ERROR_SUCCESS) << open.function;
  }
}

// The sizing read states one byte more than it learnt and keeps spare room after it.
TEST_F(RegistryKeyTest, QueryReadsInTwoCallsAndPassesOnTheSecondCallsFailure) {
  winsim::SetRegistryKey(HKLM, APP_KEY);
  winsim::SetRegistryValue(HKLM, APP_KEY, "Data", REG_BINARY, "0123456789");
  auto key = KeyAt(APP_KEY);
  int error = -1;
  DWORD type = 0;
  char* data = key->Query("Data", &error, &type);
  ASSERT_NE(data, nullptr);
  EXPECT_EQ(std::string(data, 10 + 17), std::string("0123456789") + std::string(17, '\0'));
  delete[] data;
  EXPECT_EQ(error, 0);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  const auto& queries = winsim::RegistryQueries();
  ASSERT_EQ(queries.size(), 2u);
  EXPECT_FALSE(queries[0].withBuffer);
  EXPECT_EQ(queries[0].statedSize, 0u);
  EXPECT_TRUE(queries[1].withBuffer);
  EXPECT_EQ(queries[1].statedSize, 11u);

  winsim::FailCall("RegQueryValueExA", 4, ERROR_MORE_DATA);  // the value grew in between
  EXPECT_EQ(key->Query("Data", &error, &type), nullptr);
  EXPECT_EQ(error, ERROR_MORE_DATA);
  winsim::FailCall("RegQueryValueExA", 5, ERROR_ACCESS_DENIED);
  EXPECT_EQ(key->Query("Data", &error, &type), nullptr);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
}

TEST_F(RegistryKeyTest, FailedAllocationsGiveOutOfMemory) {
  winsim::SetRegistryString(HKLM, APP_KEY, "Text", "t");
  RegistryKey key;
  key.SetRoot(HKLM);
  winsim::FailAllocation(winsim::AllocationCount() + 1);
  EXPECT_EQ(key.SetPath(APP_KEY), ERR_OUT_OF_MEMORY);
  int error = 0;
  EXPECT_FALSE(key.Exists(&error));
  EXPECT_EQ(error, ERR_NO_PATH) << "a failed SetPath leaves no path";

  ASSERT_EQ(key.SetPath(APP_KEY), 0);
  winsim::FailAllocation(winsim::AllocationCount() + 1);
  EXPECT_EQ(ReadString(key, "Text", &error), "<none>");
  EXPECT_EQ(error, ERR_OUT_OF_MEMORY);
}

TEST_F(RegistryKeyTest, PathLongerThanTheBufferIsRefusedWholeNeverCut) {
  const std::string name(255, 'k');
  const std::string longest = name + "\\" + name + "\\" + name + "\\" + name;  // 1023 characters
  ASSERT_EQ(longest.size(), 1023u);
  winsim::SetRegistryKey(HKLM, longest);

  RegistryKey key;
  key.SetRoot(HKLM);
  ASSERT_EQ(key.SetPath(longest.c_str()), 0);
  int error = 0;
  EXPECT_TRUE(key.Exists(&error));
  EXPECT_EQ(winsim::RegistryOpens().back().keyPath, longest);

  EXPECT_EQ(key.SetPath((longest + "x").c_str()), ERR_TEXT_TOO_LONG);
  const std::size_t opens = winsim::RegistryOpens().size();
  EXPECT_FALSE(key.Exists(&error));
  EXPECT_EQ(error, ERR_NO_PATH) << "neither the cut path nor the previous one is used";
  EXPECT_EQ(winsim::RegistryOpens().size(), opens);
}

}  // namespace
