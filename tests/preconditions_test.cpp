#include <cstring>
#include <string>
#include <vector>

#include "app/updater.h"
#include "tests/machine_test.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/code_pages.h"
#include "winsim/system_info.h"
#include "winsim/token_groups.h"
#include "winsim/user.h"

namespace {

const HKEY HKLM = HKEY_LOCAL_MACHINE;
const char APP_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker";
const char INSTALL_DIR[] = "C:\\Program Files\\ODRIX\\Carvella Maker\\";

class PreconditionsTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    updater.SetMessages(messageTable.Text());
    winsim::SetModuleFileName("D:\\Tools\\upd.exe");
  }

  void TearDown() override {
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
    EXPECT_EQ(winsim::LiveSids(), 0u);
  }

  static void Install(DWORD version) {
    winsim::SetRegistryString(HKLM, APP_KEY, "InstallPath", INSTALL_DIR);
    winsim::SetRegistryDword(HKLM, APP_KEY, "Version", version);
  }

  Updater updater;
};

TEST_F(PreconditionsTest, InstalledVersionMustLieInTheSupportedWindow) {
  struct Case {
    DWORD version;
    bool passes;
  } cases[] = {{0x06FFFFFF, false}, {0x07000000, true},  {0x08010000, true},  {0x08FFFFFF, true},
               {0x0A0000FF, true},  {0x0A000100, false}, {0x0B000000, false}, {0xFF000000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version);
    winsim::ResetMachine();
    winsim::SetModuleFileName("D:\\Tools\\upd.exe");
    Install(c.version);
    Updater record;
    record.SetMessages(messageTable.Text());
    EXPECT_EQ(record.CheckPreconditions(), c.passes);
    EXPECT_EQ(record.installedVersion, c.version);
    ASSERT_NE(record.installDir, nullptr);
    EXPECT_STREQ(record.installDir, INSTALL_DIR);
    ASSERT_NE(record.sourceDir, nullptr);
    EXPECT_STREQ(record.sourceDir, "D:\\Tools\\");
    EXPECT_EQ(UpdaterBoxTexts(), c.passes ? std::vector<std::string>{} : std::vector<std::string>{Text(MSG_NOT_INSTALLED)});
  }
}

TEST_F(PreconditionsTest, BrokenRegistrationGivesItsMessage) {
  struct Case {
    const char* name;
    void (*arrange)();
    int slot;
  } cases[] = {
      {"no key", [] {}, MSG_NOT_INSTALLED},
      {"read-only key",
       [] {
         Install(0x09000000);
         winsim::SetRegistryKey(HKLM, APP_KEY, winsim::KEY_RIGHTS_READ_ONLY);
       },
       MSG_NOT_INSTALLED},
      {"no InstallPath", [] { winsim::SetRegistryDword(HKLM, APP_KEY, "Version", 0x09000000); }, MSG_INSTALL_BROKEN},
      {"InstallPath REG_EXPAND_SZ",
       [] {
         Install(0x09000000);
         winsim::SetRegistryValue(HKLM, APP_KEY, "InstallPath", REG_EXPAND_SZ, std::string("%ProgramFiles%\0", 15));
       },
       MSG_INSTALL_BROKEN},
      {"no Version", [] { winsim::SetRegistryString(HKLM, APP_KEY, "InstallPath", INSTALL_DIR); },
       MSG_NOT_INSTALLED},
      {"Version as text",
       [] {
         Install(0);
         winsim::SetRegistryString(HKLM, APP_KEY, "Version", "9.00");
       },
       MSG_NOT_INSTALLED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    winsim::ResetMachine();
    c.arrange();
    Updater record;
    record.SetMessages(messageTable.Text());
    EXPECT_FALSE(record.CheckPreconditions());
    EXPECT_EQ(UpdaterBoxTexts(), std::vector<std::string>{Text(c.slot)});
    EXPECT_EQ(record.installedVersion, 0u);
  }
}

TEST_F(PreconditionsTest, MistypedInstallPathStopsBeforeTheVersionIsRead) {
  Install(0x09000000);
  winsim::SetRegistryValue(HKLM, APP_KEY, "InstallPath", REG_EXPAND_SZ, std::string("C:\\x\0", 5));
  EXPECT_FALSE(updater.CheckPreconditions());
  EXPECT_EQ(updater.installDir, nullptr);
  for (const winsim::RegistryQueryCall& query : winsim::RegistryQueries()) EXPECT_NE(query.valueName, "Version");
}

// The elevated updater writes wherever "InstallPath" points: only an absolute
// local path to a plain folder, or to nothing yet, is taken.
TEST_F(PreconditionsTest, InstallPathMustBeAnAbsoluteLocalPathToAPlainFolder) {
  const std::string katakanaSo = "\x83\x5C";  // its trail byte is a backslash
  struct Case {
    std::string path;
    bool passes;
    void (*arrange)(const std::string& path);
  } cases[] = {
      {"C:\\Carvella Maker", true, [](const std::string& path) { winsim::MakeFolder(path); }},
      {"C:\\Carvella Maker\\", true, [](const std::string& path) { winsim::MakeFolder(path); }},
      {"C:\\Not\\There\\Yet", true, nullptr},
      {"C:\\", true, nullptr},
      {"d:\\Apps/Carvella", true, nullptr},
      {"d:/Apps", false, nullptr},
      {"C:\\" + katakanaSo, true, [](const std::string&) { winsim::MakeFolder("C:\\\xE3\x82\xBD"); }},  // in UTF-8
      {"C:\\" + katakanaSo + "\\" + katakanaSo + ".", true, nullptr},
      {"", false, nullptr},
      {"Relative", false, nullptr},
      {"Carvella\\Maker\\", false, nullptr},
      {"\\Carvella Maker", false, nullptr},
      {"\\\\host\\share\\Carvella", false, nullptr},
      {"\\\\.\\pipe\\x", false, nullptr},
      {"\\\\?\\C:\\Carvella", false, nullptr},
      {"C:", false, nullptr},
      {"C:Carvella", false, nullptr},
      {"1:\\Carvella", false, nullptr},
      {"C:\\Carvella\\..\\Windows\\System32", false, nullptr},
      {"C:\\Carvella\\..", false, nullptr},
      {"C:\\.\\Carvella", false, nullptr},
      {"C:\\Carvella/../Windows", false, nullptr},
      {"C:\\Carvella\\...\\x", false, nullptr},
      {"C:\\Carvella\\. \\x", false, nullptr},
      {"C:\\Carvella:stream", false, nullptr},
      {"C:\\Carvella\\D:\\x", false, nullptr},
      {"C:\\Carvella.ini", false, [](const std::string& path) { winsim::PutFile(path, "a file, not a folder"); }},
      {"C:\\Carvella Maker", false, [](const std::string& path) { winsim::MakeJunction(path, "C:\\Windows"); }},
      {"C:\\Carvella Maker\\", false, [](const std::string& path) { winsim::MakeSymbolicLink(path, "C:\\Windows"); }},
      {"C:\\Locked\\Carvella", false,
       [](const std::string&) { winsim::FailCall("GetFileAttributesA", 1, ERROR_ACCESS_DENIED); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    winsim::ResetMachine();
    winsim::SetAnsiCodePage(932);
    winsim::SetModuleFileName("D:\\Tools\\upd.exe");
    Install(0x09000000);
    winsim::SetRegistryString(HKLM, APP_KEY, "InstallPath", c.path);
    if (c.arrange != nullptr) c.arrange(c.path);
    Updater record;
    record.SetMessages(messageTable.Text());
    EXPECT_EQ(record.CheckPreconditions(), c.passes);
    EXPECT_EQ(UpdaterBoxTexts(), c.passes ? std::vector<std::string>{} : std::vector<std::string>{Text(MSG_INSTALL_BROKEN)});
    EXPECT_STREQ(record.installDir, c.passes ? c.path.c_str() : nullptr);
  }
}

TEST_F(PreconditionsTest, EarlierInstallFolderIsReplaced) {
  Install(0x09000000);
  winsim::SetRegistryString(HKLM, APP_KEY, "InstallPath", "E:\\CM\\");
  updater.installDir = new char[8];
  std::strcpy(updater.installDir, "old");
  EXPECT_TRUE(updater.CheckPreconditions());
  EXPECT_STREQ(updater.installDir, "E:\\CM\\");
}

TEST_F(PreconditionsTest, OnlyNtFromVersionFivePasses) {
  struct Case {
    const char* name;
    DWORD platform;
    DWORD major;
    DWORD minor;
    bool supported;
  } cases[] = {
      {"Windows 3.1 Win32s", VER_PLATFORM_WIN32s, 3, 10, false},
      {"Windows 98", VER_PLATFORM_WIN32_WINDOWS, 4, 10, false},
      {"non-NT reporting 5", VER_PLATFORM_WIN32_WINDOWS, 5, 0, false},
      {"NT 4.0", VER_PLATFORM_WIN32_NT, 4, 0, false},
      {"Windows 2000 without service pack", VER_PLATFORM_WIN32_NT, 5, 0, true},
      {"Windows XP", VER_PLATFORM_WIN32_NT, 5, 1, true},
      {"Windows 7", VER_PLATFORM_WIN32_NT, 6, 1, true},
      {"Windows 11", VER_PLATFORM_WIN32_NT, 10, 0, true},
  };
  for (const Case& c : cases) {
    winsim::SetWindowsVersion(c.platform, c.major, c.minor);
    EXPECT_EQ(updater.IsSupportedOs(), c.supported) << c.name;
  }
  winsim::FailCall("GetVersionExW", winsim::CallCount("GetVersionExW") + 1, ERROR_ACCESS_DENIED);
  EXPECT_FALSE(updater.IsSupportedOs()) << "a failed call leaves nothing to judge";
}

TEST_F(PreconditionsTest, OsAndRightsFailuresAreToldOnlyInInteractiveRuns) {
  struct Case {
    const char* name;
    bool oldWindows;
    int slot;
  } cases[] = {{"NT 4.0", true, MSG_OS_TOO_OLD}, {"no administrator", false, MSG_NEED_ADMIN}};
  for (const Case& c : cases) {
    for (BYTE showUi : {1, 0}) {
      SCOPED_TRACE(testing::Message() << c.name << (showUi ? " interactive" : " silent"));
      winsim::ResetMachine();
      Install(0x09000000);
      if (c.oldWindows) winsim::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 4, 0);
      winsim::SetAdministratorsGroup(winsim::AdministratorsGroup::Absent);
      Updater record;
      record.SetMessages(messageTable.Text());
      record.SetShowUi(showUi);
      EXPECT_FALSE(record.CheckPreconditions());
      EXPECT_EQ(UpdaterBoxTexts(), showUi ? std::vector<std::string>{Text(c.slot)} : std::vector<std::string>{});
      EXPECT_EQ(winsim::CallCount("OpenProcessToken"), c.oldWindows ? 0u : 1u);
      EXPECT_TRUE(winsim::RegistryOpens().empty());
    }
  }
}

TEST_F(PreconditionsTest, AdministratorsGroupCountsWhateverItsAttributes) {
  struct Case {
    winsim::AdministratorsGroup group;
    bool administrator;
  } cases[] = {{winsim::AdministratorsGroup::Enabled, true},
               {winsim::AdministratorsGroup::DenyOnly, true},
               {winsim::AdministratorsGroup::Absent, false}};
  for (const Case& c : cases) {
    winsim::SetAdministratorsGroup(c.group);
    EXPECT_EQ(updater.IsAdministrator(), c.administrator) << static_cast<int>(c.group);
  }
}

// Whatever fails, the answer is no, and the token, list and SID are released.
TEST_F(PreconditionsTest, AdministratorCheckThatCannotReadTheGroupsAnswersNo) {
  struct Case {
    const char* function;
    unsigned nth;
  } cases[] = {{"OpenProcessToken", 1},
               {"GetTokenInformation", 1},
               {"GetTokenInformation", 2},
               {"LocalAlloc", 1},
               {"AllocateAndInitializeSid", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.function << " #" << c.nth);
    winsim::ResetMachine();
    winsim::FailCall(c.function, c.nth, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_FALSE(updater.IsAdministrator());
    EXPECT_EQ(winsim::OpenHandleCount(winsim::HandleKind::Token), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
    EXPECT_EQ(winsim::LiveSids(), 0u);
  }
}

TEST_F(PreconditionsTest, ModuleDirectoryKeepsTheTrailingBackslashOrGivesNothing) {
  const std::string longest = "C:\\" + std::string(MAX_PATH - 10, 'd') + "\\u.exe";  // 259 characters: fits
  ASSERT_EQ(longest.size(), static_cast<std::size_t>(MAX_PATH - 1));
  struct Case {
    std::string modulePath;
    std::string folder;
    DWORD result;
  } cases[] = {
      {"D:\\Tools\\upd.exe", "D:\\Tools\\", 0},
      {"C:\\upd.exe", "C:\\", 0},
      {"upd.exe", "", 0},
      {longest, longest.substr(0, longest.size() - 5), 0},
      {longest + "x", "", ERROR_INSUFFICIENT_BUFFER},  // 260 characters: no room for the terminator
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.modulePath);
    winsim::SetModuleFileName(c.modulePath);
    char buffer[MAX_PATH + 1];
    std::memset(buffer, 'x', sizeof(buffer));
    EXPECT_EQ(updater.ModuleDirectory(buffer, MAX_PATH), c.result);
    EXPECT_EQ(std::string(buffer), c.folder);
  }

  winsim::FailCall("GetModuleFileNameA", winsim::CallCount("GetModuleFileNameA") + 1, ERROR_ACCESS_DENIED);
  char buffer[MAX_PATH];
  std::memset(buffer, 'x', sizeof(buffer));
  EXPECT_EQ(updater.ModuleDirectory(buffer, MAX_PATH), static_cast<DWORD>(ERROR_ACCESS_DENIED));
  EXPECT_STREQ(buffer, "");
}

TEST_F(PreconditionsTest, UnreadableOwnPathDoesNotStopTheCheck) {
  Install(0x07000000);
  winsim::FailCall("GetModuleFileNameA", 1, ERROR_ACCESS_DENIED);
  EXPECT_TRUE(updater.CheckPreconditions());
  ASSERT_NE(updater.sourceDir, nullptr);
  EXPECT_STREQ(updater.sourceDir, "");
}

TEST_F(PreconditionsTest, PassesOnWindows2000AndReadsTheSixtyFourBitViewUnderWow64) {
  winsim::UseWindows2000();
  Install(0x09000000);
  EXPECT_TRUE(updater.CheckPreconditions());
  EXPECT_TRUE(UpdaterBoxTexts().empty());

  winsim::ResetMachine();
  winsim::UseWow64Windows7();
  Install(0x09000000);
  winsim::SetRegistryString(HKLM, "SOFTWARE\\Wow6432Node\\ODRIX\\Carvella Maker", "InstallPath", "C:\\Wrong\\");
  winsim::SetRegistryDword(HKLM, "SOFTWARE\\Wow6432Node\\ODRIX\\Carvella Maker", "Version", 0x05000000);
  Updater record;
  record.SetMessages(messageTable.Text());
  EXPECT_TRUE(record.CheckPreconditions());
  EXPECT_STREQ(record.installDir, INSTALL_DIR);
  EXPECT_EQ(record.installedVersion, 0x09000000u);
}

}  // namespace
