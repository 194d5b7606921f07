// The simulated registry agrees with Windows where the product relies on it.
#include <cstring>
#include <string>

#include "tests/machine_test.h"
#include "winsim/files.h"
#include "winsim/registry.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;

class SimulatedRegistryTest : public MachineTest {
 protected:
  HKEY Open(const char* path, REGSAM access, LSTATUS expected = ERROR_SUCCESS) {
    HKEY key = reinterpret_cast<HKEY>(0x1);
    EXPECT_EQ(RegOpenKeyExA(HKLM, path, 0, access, &key), expected) << path;
    if (expected != ERROR_SUCCESS) {
      EXPECT_EQ(key, nullptr);
    }
    return key;
  }
};

TEST_F(SimulatedRegistryTest, AnsiStringWriteIsStoredWithItsNulButLoggedWithTheCountPassed) {
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\T");
  HKEY key = Open("SOFTWARE\\T", KEY_WRITE);
  const char text[] = "abc";
  struct Case {
    const char* name;
    DWORD type;
    DWORD count;
    std::string stored;
  } cases[] = {{"without", REG_SZ, 3, std::string("abc\0", 4)},
               {"with", REG_SZ, 4, std::string("abc\0", 4)},
               {"expand", REG_EXPAND_SZ, 2, std::string("ab\0", 3)},
               {"binary", REG_BINARY, 3, "abc"},
               {"empty", REG_SZ, 0, ""}};
  for (const Case& c : cases) {
    EXPECT_EQ(RegSetValueExA(key, c.name, 0, c.type, reinterpret_cast<const BYTE*>(text), c.count), ERROR_SUCCESS);
    EXPECT_EQ(winsim::LastSetValueByteCount(), c.count) << c.name;
    winsim::RegistryValue value{};
    ASSERT_TRUE(winsim::GetRegistryValue(HKLM, "software\\t", c.name, &value)) << c.name;
    EXPECT_EQ(value.type, c.type) << c.name;
    EXPECT_EQ(value.bytes, c.stored) << c.name;
  }
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
}

TEST_F(SimulatedRegistryTest, QueryAnswersSizeMoreDataAndMissingValues) {
  winsim::SetRegistryValue(HKLM, "SOFTWARE\\T", "V", REG_BINARY, "12345");
  HKEY key = Open("SOFTWARE\\T", KEY_READ);
  DWORD type = 0;
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(key, "v", nullptr, &type, nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(type, static_cast<DWORD>(REG_BINARY));
  BYTE buffer[8];
  std::memset(buffer, 0xCC, sizeof(buffer));
  size = 4;
  EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, &type, buffer, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 5u);
  size = 6;
  EXPECT_EQ(RegQueryValueExA(key, "V", nullptr, &type, buffer, &size), ERROR_SUCCESS);
  EXPECT_EQ(size, 5u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 6), "12345\xCC");
  EXPECT_EQ(RegQueryValueExA(key, "W", nullptr, &type, nullptr, &size), ERROR_FILE_NOT_FOUND);
  RegCloseKey(key);
}

TEST_F(SimulatedRegistryTest, KeyRightsDecideWhatAnOpenAndItsHandleMayDo) {
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\ReadOnly", winsim::KEY_RIGHTS_READ_ONLY);
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\Closed", winsim::KEY_RIGHTS_NONE);
  Open("SOFTWARE\\ReadOnly", KEY_WRITE, ERROR_ACCESS_DENIED);
  Open("SOFTWARE\\Closed", KEY_READ, ERROR_ACCESS_DENIED);
  Open("SOFTWARE\\Missing", KEY_READ, ERROR_FILE_NOT_FOUND);
  HKEY readOnly = Open("SOFTWARE\\READONLY", KEY_READ | KEY_WOW64_64KEY);
  EXPECT_EQ(RegSetValueExA(readOnly, "v", 0, REG_SZ, reinterpret_cast<const BYTE*>("x"), 1), ERROR_ACCESS_DENIED);
  HKEY created = nullptr;
  EXPECT_EQ(RegCreateKeyExA(readOnly, "Child", 0, nullptr, 0, KEY_READ, nullptr, &created, nullptr),
            ERROR_ACCESS_DENIED);
  RegCloseKey(readOnly);
  HKEY writeOnly = nullptr;
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\Open");
  ASSERT_EQ(RegOpenKeyExA(HKLM, "SOFTWARE\\Open", 0, KEY_WRITE, &writeOnly), ERROR_SUCCESS);
  DWORD size = 0;
  EXPECT_EQ(RegQueryValueExA(writeOnly, "v", nullptr, nullptr, nullptr, &size), ERROR_ACCESS_DENIED);
  RegCloseKey(writeOnly);
  EXPECT_EQ(winsim::OpenHandleCount(winsim::HandleKind::RegistryKey), 0u);
}

TEST_F(SimulatedRegistryTest, ViewsRedirectOrRefuseTheFlag) {
  winsim::SetRegistryString(HKLM, "SOFTWARE\\V", "Which", "64");
  winsim::SetRegistryString(HKLM, "SOFTWARE\\Wow6432Node\\V", "Which", "32");
  winsim::SetRegistryViews(winsim::RegistryViews::Split);
  struct Case {
    const char* path;
    REGSAM access;
    const char* reached;
  } cases[] = {{"SOFTWARE\\V", KEY_READ, "SOFTWARE\\Wow6432Node\\V"},
               {"SOFTWARE\\V", KEY_READ | KEY_WOW64_64KEY, "SOFTWARE\\V"},
               {"SYSTEM", KEY_READ, "SYSTEM"}};
  for (const Case& c : cases) {
    RegCloseKey(Open(c.path, c.access));
    EXPECT_EQ(winsim::RegistryOpens().back().keyPath, c.reached);
  }

  winsim::SetRegistryViews(winsim::RegistryViews::RejectFlags);
  Open("SOFTWARE\\V", KEY_READ | KEY_WOW64_64KEY, ERROR_ACCESS_DENIED);
  HKEY key = nullptr;
  EXPECT_EQ(RegCreateKeyExA(HKLM, "SOFTWARE\\N", 0, nullptr, 0, KEY_READ | KEY_WOW64_64KEY, nullptr, &key, nullptr),
            ERROR_ACCESS_DENIED);
  EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, "SOFTWARE\\N"));
  RegCloseKey(Open("SOFTWARE\\V", KEY_READ));
  EXPECT_EQ(winsim::OpenHandleCount(winsim::HandleKind::RegistryKey), 0u);
}

// A flush needs KEY_QUERY_VALUE and writes its key's hive only; a power cut
// gives each hive back what its own last flush wrote.
TEST_F(SimulatedRegistryTest, EachHiveKeepsWhatItsOwnFlushWrote) {
  winsim::SetRegistryKey(HKLM, "SOFTWARE\\T");
  winsim::SetRegistryKey(HKLM, "SYSTEM\\T");
  const BYTE data[] = "x";
  for (const char* path : {"SOFTWARE\\T", "SYSTEM\\T"}) {
    HKEY key = Open(path, KEY_WRITE);
    EXPECT_EQ(RegSetValueExA(key, "V", 0, REG_SZ, data, 1), ERROR_SUCCESS);
    EXPECT_EQ(RegFlushKey(key), ERROR_ACCESS_DENIED) << "opened without KEY_QUERY_VALUE";
    RegCloseKey(key);
  }
  HKEY software = Open("SOFTWARE\\T", KEY_QUERY_VALUE);
  EXPECT_EQ(RegFlushKey(software), ERROR_SUCCESS);
  RegCloseKey(software);
  winsim::LoseUnflushedRegistry();
  winsim::RegistryValue value{};
  EXPECT_TRUE(winsim::GetRegistryValue(HKLM, "SOFTWARE\\T", "V", &value));
  EXPECT_FALSE(winsim::GetRegistryValue(HKLM, "SYSTEM\\T", "V", &value));
}

// A volatile key goes, with what lies below it, when Windows starts again,
// even flushed; a key that exists opens as it is, and nothing durable is made
// below a volatile one.
TEST_F(SimulatedRegistryTest, VolatileKeysLastUntilWindowsStartsAgain) {
  const struct {
    const char* what;
    void (*between)();
    bool kept;
  } rows[] = {{"a killed process", winsim::EndProcess, true},
              {"a restart", winsim::StartWindowsAgain, false},
              {"a power cut", [] { winsim::CutPower(); }, false}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    winsim::ResetMachine();
    winsim::SetRegistryKey(HKLM, "SOFTWARE\\Durable");
    const struct {
      const char* path;
      DWORD options;
      LSTATUS result;
      DWORD disposition;
    } creates[] = {{"SOFTWARE\\Durable\\Owed\\Run", REG_OPTION_VOLATILE, ERROR_SUCCESS, REG_CREATED_NEW_KEY},
                   {"SOFTWARE\\Durable\\Owed\\Kept", REG_OPTION_NON_VOLATILE, ERROR_CHILD_MUST_BE_VOLATILE, 0},
                   {"SOFTWARE\\Durable\\Owed", REG_OPTION_NON_VOLATILE, ERROR_SUCCESS, REG_OPENED_EXISTING_KEY},
                   {"SOFTWARE\\Durable", REG_OPTION_VOLATILE, ERROR_SUCCESS, REG_OPENED_EXISTING_KEY}};
    for (const auto& c : creates) {
      HKEY key = nullptr;
      DWORD disposition = 0;
      EXPECT_EQ(RegCreateKeyExA(HKLM, c.path, 0, nullptr, c.options, KEY_ALL_ACCESS, nullptr, &key, &disposition),
                c.result) << c.path;
      EXPECT_EQ(disposition, c.disposition) << c.path;
      if (key == nullptr) continue;
      EXPECT_EQ(RegFlushKey(key), ERROR_SUCCESS);
      RegCloseKey(key);
    }
    EXPECT_FALSE(winsim::RegistryKeyExists(HKLM, "SOFTWARE\\Durable\\Owed\\Kept"));
    EXPECT_TRUE(winsim::RegistryKeyIsVolatile(HKLM, "SOFTWARE\\Durable\\Owed"));
    EXPECT_FALSE(winsim::RegistryKeyIsVolatile(HKLM, "SOFTWARE\\Durable"));
    row.between();
    EXPECT_EQ(winsim::RegistryKeyExists(HKLM, "SOFTWARE\\Durable\\Owed\\Run"), row.kept);
    EXPECT_EQ(winsim::RegistryKeyExists(HKLM, "SOFTWARE\\Durable\\Owed"), row.kept);
    EXPECT_TRUE(winsim::RegistryKeyExists(HKLM, "SOFTWARE\\Durable"));
  }
}

}  // namespace
