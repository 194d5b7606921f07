// The whole run on a machine with the application installed: every exit of the
// run, what it shows, what it undoes, and what it leaves on the machine.
#include <algorithm>
#include <map>
#include <string>
#include <vector>

#include "app/product_tables.h"
#include "app/run.h"
#include "log/result_words.h"
#include "log/run_log.h"
#include "tests/installed_application.h"
#include "tests/machine_test.h"
#include "winsim/code_pages.h"
#include "winsim/files.h"
#include "winsim/mutex.h"
#include "winsim/privileges.h"
#include "winsim/processes.h"
#include "winsim/registry.h"
#include "winsim/services.h"
#include "winsim/shutdown.h"
#include "winsim/system.h"
#include "winsim/system_info.h"
#include "winsim/time.h"
#include "winsim/user.h"

namespace {

using installed::Windows;

const char* const SERVICES[] = {installed::CONTROL_SERVICE, installed::COPY_SERVICE, installed::MONITOR_SERVICE};

const std::string SUPVER_PATH = std::string(installed::INSTALL_DIR) + "\\SupVer.inf";
void ReadOnlySupVer() { winsim::PutFile(SUPVER_PATH, installed::OldContent("SupVer.inf"), FILE_ATTRIBUTE_READONLY); }
void MultiStringOdrixList() {
  winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, installed::ODRIX_KEY, "Products", REG_MULTI_SZ,
                           std::string("DVR-XD10J  KR300") + '\0' + '\0');
}
void CopyServiceStuck() { winsim::SetStopBehaviour(installed::COPY_SERVICE, winsim::StopBehaviour::StuckPending); }
void CopyServiceNeverStarts() {
  winsim::SetStartBehaviour(installed::COPY_SERVICE, winsim::StartBehaviour::NeverStarts);
}
void CopyServiceStillStarting() {
  winsim::RemoveService(installed::COPY_SERVICE);
  winsim::InstallService(installed::COPY_SERVICE, SERVICE_START_PENDING);
  winsim::SettleAfterQueries(installed::COPY_SERVICE, 4);
}
void CopyServiceNotRunning() {
  winsim::RemoveService(installed::COPY_SERVICE);
  winsim::InstallService(installed::COPY_SERVICE, SERVICE_STOPPED);
}
void CopyServiceStoppingBySelf() {
  winsim::RemoveService(installed::COPY_SERVICE);
  winsim::InstallService(installed::COPY_SERVICE, SERVICE_STOP_PENDING);
  winsim::SettleAfterQueries(installed::COPY_SERVICE, 4);
}
// A registry failure, and the record cannot learn that SupVer.inf was put
// back: the roll-back's first record write, after three for the services
// and four for the rows, fails.
void SupVerPutBackRecordNotUpdated() {
  MultiStringOdrixList();
  winsim::FailCall("RegSetValueExA", 9, ERROR_ACCESS_DENIED);
}
// A registry failure, and the roll-back cannot put SupVer.inf back (three backups, then it comes first).
// The roll-back's rename of the last backup (the fourth rename) and the copy
// in its place (its first read follows the three backups' two each) both fail.
void SupVerNotPutBack() {
  MultiStringOdrixList();
  winsim::FailCall("MoveFileExA", 4, ERROR_ACCESS_DENIED);
  winsim::FailCall("ReadFile", 7, ERROR_ACCESS_DENIED);
}

void RestartedSince() { winsim::StartWindowsAgain(); }

enum class FilesAfter { Untouched, RolledBack, Updated };

const std::string DEFAULT_LOG = "C:\\WINDOWS\\TEMP\\CarvellaMakerUpdater.log";
const std::size_t TIME_STAMP_LENGTH = std::string("2024-01-01 09:00:00.000  ").size();

// The lines of a log, each checked for its time stamp and CR LF and given
// without them; the file must begin with UTF-8's byte-order mark.
std::vector<std::string> LogLines(const std::string& path) {
  const std::string bytes = winsim::FileBytes(path);
  std::vector<std::string> lines;
  if (bytes.compare(0, 3, "\xEF\xBB\xBF") != 0) {
    ADD_FAILURE() << "no byte-order mark in " << path;
    return lines;
  }
  for (std::size_t start = 3; start < bytes.size();) {
    const std::size_t end = bytes.find("\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "a line without CR LF: " << bytes.substr(start);
      break;
    }
    const std::string line = bytes.substr(start, end - start);
    const bool stamped = line.size() >= TIME_STAMP_LENGTH && line[4] == '-' && line[10] == ' ' && line[13] == ':' &&
                         line[19] == '.' && line.compare(TIME_STAMP_LENGTH - 2, 2, "  ") == 0;
    EXPECT_TRUE(stamped) << line;
    lines.push_back(stamped ? line.substr(TIME_STAMP_LENGTH) : line);
    start = end + 2;
  }
  return lines;
}

class WholeRunTest : public MachineTest {
 protected:
  void Install(DWORD version, Windows windows = Windows::Windows7Wow64) {
    installed::Install(version, windows);
    this->version = version;
    this->windows = windows;
    before = installed::InstallFolder();
  }

  // Texts of the boxes shown, in order, with their styles checked on the way.
  std::vector<int> Boxes() const {
    std::vector<int> slots;
    for (const winsim::MessageBoxRecord& box : winsim::MessageBoxes()) {
      int slot = -1;
      for (int candidate = 0; candidate < MESSAGE_COUNT; ++candidate) {
        if (box.text == Text(candidate)) slot = candidate;
      }
      if (box.text.compare(0, 18, "File copy error. [") == 0) slot = MSG_FILE_COPY_ERROR;
      if (box.text.compare(0, 21, "Service Stop error. [") == 0) slot = MSG_SERVICE_ERROR;
      if (box.text.compare(0, 22, "Service Start error. [") == 0) slot = MSG_SERVICE_START_ERROR;
      const bool question = slot == MSG_CONFIRM_ADD_DRIVE || slot == MSG_DONE_REBOOT_PROMPT;
      ExpectUpdaterBoxStyle(box, question ? MB_OKCANCEL : MB_OK);
      slots.push_back(slot);
    }
    return slots;
  }

  void ExpectFilesUntouched() const { EXPECT_EQ(installed::InstallFolder(), before); }

  // Rolled back: the old files, and the marker file that a first update created, which has no backup.
  void ExpectFiles(FilesAfter after) const {
    if (after == FilesAfter::Updated) return ExpectFilesUpdated();
    std::map<std::string, std::string> expected = before;
    if (after == FilesAfter::RolledBack) expected["XVT-7Q2RN3.txt"] = installed::PayloadFor(version, "XVT-7Q2RN3.txt");
    EXPECT_EQ(installed::InstallFolder(), expected);
  }

  void ExpectFilesUpdated() const {
    std::map<std::string, std::string> expected = before;
    for (const std::string& name : installed::DataFiles(windows)) expected[name] = installed::PayloadFor(version, name);
    EXPECT_EQ(installed::InstallFolder(), expected);
  }

  void ExpectProductListsUntouched() const {
    EXPECT_EQ(installed::ProductList(installed::ROVE_KEY), installed::ROVE_PRODUCTS);
    EXPECT_EQ(installed::ProductList(installed::ODRIX_KEY), installed::ODRIX_PRODUCTS);
  }

  void ExpectProductListsExtended() const {
    EXPECT_EQ(installed::ProductList(installed::ROVE_KEY), std::string(installed::ROVE_PRODUCTS) + installed::PRODUCT_ID);
    EXPECT_EQ(installed::ProductList(installed::ODRIX_KEY),
              std::string(installed::ODRIX_PRODUCTS) + installed::PRODUCT_ID);
  }

  std::vector<DWORD> ServiceStates() const {
    std::vector<DWORD> states;
    for (const char* service : SERVICES) states.push_back(winsim::ServiceState(service));
    return states;
  }

  void ExpectNothingLeftOpen() const {
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
  }

  DWORD version = 0;
  Windows windows = Windows::Windows7Wow64;
  std::map<std::string, std::string> before;
};

const std::vector<DWORD> ALL_RUNNING = {SERVICE_RUNNING, SERVICE_RUNNING, SERVICE_RUNNING};
const char RECORD_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker Updater";
const std::vector<DWORD> TWO_STOPPED = {SERVICE_STOPPED, SERVICE_STOPPED, SERVICE_RUNNING};


// The run the administrator expects most often: 64-bit Windows, 9.xx installed,
// the user confirms and accepts the restart.
TEST_F(WholeRunTest, TypicalInteractiveRunGoesStageByStage) {
  Install(0x09000000);
  winsim::ScriptAnswers({IDOK, IDOK});

  EXPECT_EQ(RunUpdater(L""), EXIT_FINISHED);

  EXPECT_EQ(Boxes(), (std::vector<int>{MSG_CONFIRM_ADD_DRIVE, MSG_DONE_REBOOT_PROMPT}));
  EXPECT_EQ(ServiceStates(), TWO_STOPPED) << "the Monitor service belongs to 10.00 only";
  EXPECT_EQ(winsim::StatusQueries(installed::MONITOR_SERVICE), 0u);
  ExpectFilesUpdated();
  ExpectProductListsExtended();
  ASSERT_EQ(winsim::ExitWindowsCalls().size(), 1u);
  EXPECT_EQ(winsim::ExitWindowsCalls()[0].flags, static_cast<UINT>(EWX_REBOOT));
  EXPECT_EQ(winsim::ExitWindowsCalls()[0].reason, 0u);
  EXPECT_TRUE(winsim::PrivilegeEnabled("SeShutdownPrivilege"));

  // Backups of the four rows in table order, then the payload written over each.
  std::vector<std::string> copies;
  for (const auto& move : winsim::MoveLog()) {
    const std::string name = move.second.substr(move.second.rfind('\\') + 1);
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".bk0") == 0) copies.push_back(name);
  }
  EXPECT_EQ(copies, (std::vector<std::string>{"DrvClass.ini.bk0", "DrvClass64.ini.bk0", "SupVer.inf.bk0"}));

  // The stages, call by call, with repeated calls folded together: the
  // application is looked for before any service is touched.
  const std::vector<std::string> milestones = {
      "CreateMutexA",     "GetVersionExW",  "OpenProcessToken", "RegOpenKeyExA", "MessageBoxA",
      "EnumProcesses",    "OpenSCManagerW", "RegSetValueExA",   "ControlService", "WriteFile",
      "MoveFileExA",      "DeleteFileA",    "MessageBoxA",      "AdjustTokenPrivileges", "ExitWindowsEx"};
  std::vector<std::string> seen;
  for (const std::string& call : winsim::CallLog()) {
    if (std::find(milestones.begin(), milestones.end(), call) == milestones.end()) continue;
    if (std::find(seen.begin(), seen.end(), call) != seen.end() && call != "MessageBoxA") continue;
    if (!seen.empty() && seen.back() == call) continue;
    seen.push_back(call);
  }
  EXPECT_EQ(seen, milestones);
  ExpectNothingLeftOpen();
}

TEST_F(WholeRunTest, SilentRunUpdatesEveryKindOfWindowsAndClassWithoutABox) {
  struct Case {
    DWORD version;
    Windows windows;
    std::vector<DWORD> servicesAfter;
    // The updater's folder with its backslash, of this many characters (a short file
    // name after it, so that the module path fits); 0: the usual one.
    // The class 1 source folder and "DrvClass64.ini" fit MAX_PATH only up to 225.
    std::size_t updaterFolderLength = 0;
  } cases[] = {
      {0x07000000, Windows::Xp32Bit, TWO_STOPPED},
      {0x08010000, Windows::Windows7Wow64, TWO_STOPPED},
      {0x09000000, Windows::Xp32Bit, TWO_STOPPED},
      {0x0A000000, Windows::Windows7Wow64, {SERVICE_STOPPED, SERVICE_STOPPED, SERVICE_STOPPED}},
      {0x0A0000FF, Windows::Windows2000, {SERVICE_STOPPED, SERVICE_STOPPED, SERVICE_STOPPED}},
      {0x09000000, Windows::Windows7Wow64, TWO_STOPPED, 225},
      {0x09000000, Windows::Windows7Wow64, TWO_STOPPED, 230},
      {0x09000000, Windows::Windows7Wow64, TWO_STOPPED, 240},
      {0x09000000, Windows::Windows7Wow64, TWO_STOPPED, 250},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << std::hex << c.version << " on kind " << static_cast<int>(c.windows)
                                    << std::dec << ", updater folder " << c.updaterFolderLength);
    Install(c.version, c.windows);
    if (c.updaterFolderLength != 0) {
      winsim::SetModuleFileName("C:\\" + std::string(c.updaterFolderLength - 4, 'u') + "\\u.exe");
    }
    EXPECT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
    EXPECT_TRUE(winsim::MessageBoxes().empty());
    ExpectFilesUpdated();
    ExpectProductListsExtended();
    EXPECT_EQ(ServiceStates(), c.servicesAfter);
    EXPECT_EQ(winsim::ExitWindowsCalls().size(), 1u);
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, RECORD_KEY));
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY));
    ExpectNothingLeftOpen();
  }
}

// Windows replaces a hidden or system file only when asked to keep it so.
TEST_F(WholeRunTest, HiddenOrSystemTargetIsUpdatedAndKeepsItsAttributes) {
  const std::string target = std::string(installed::INSTALL_DIR) + "\\DrvClass.ini";
  for (DWORD attributes : {FILE_ATTRIBUTE_HIDDEN, FILE_ATTRIBUTE_SYSTEM, FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM}) {
    SCOPED_TRACE(attributes);
    Install(0x09000000);
    winsim::PutFile(target, installed::OldContent("DrvClass.ini"), attributes);
    EXPECT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
    EXPECT_TRUE(winsim::MessageBoxes().empty());
    ExpectFilesUpdated();
    EXPECT_EQ(winsim::FileAttributes(target) & attributes, attributes);
    ExpectNothingLeftOpen();
  }
}

// A standard user who can write the install folder may plant links there; no
// write of the elevated updater may reach the file they lead to.
TEST_F(WholeRunTest, PlantedLinksNeverCarryAWriteOutOfTheFolder) {
  static const std::string OUTSIDE = "C:\\Windows\\System32\\drivers\\etc\\hosts";
  static const std::string FOLDER = std::string(installed::INSTALL_DIR) + "\\";
  struct Case {
    const char* what;
    DWORD outsideAttributes;
    void (*plant)();
    const char* failingRow;  // nullptr: the update goes through
  } cases[] = {
      {"backup name hard-linked", 0, [] { winsim::MakeHardLink(OUTSIDE, FOLDER + "DrvClass.ini.bk0"); }, nullptr},
      {"fresh backup name hard-linked, as a cut may leave it", 0,
       [] { winsim::MakeHardLink(OUTSIDE, FOLDER + "DrvClass.ini.bk0.tmp"); }, nullptr},
      {"a read-only file at a fresh backup name", 0,
       [] { winsim::PutFile(FOLDER + "SupVer.inf.bk0.tmp", "cut short", FILE_ATTRIBUTE_READONLY); }, nullptr},
      {"backup name a symbolic link", FILE_ATTRIBUTE_READONLY,
       [] { winsim::MakeSymbolicLink(FOLDER + "SupVer.inf.bk0", OUTSIDE); }, nullptr},
      {"read-only backup name hard-linked, so it cannot go", FILE_ATTRIBUTE_READONLY,
       [] { winsim::MakeHardLink(OUTSIDE, FOLDER + "DrvClass64.ini.bk0"); }, "DrvClass64.ini"},
      {"target hard-linked", 0, [] { winsim::MakeHardLink(FOLDER + "DrvClass64.ini", OUTSIDE); }, "DrvClass64.ini"},
      {"target a symbolic link", 0,
       [] { winsim::MakeSymbolicLink(FOLDER + "SupVer.inf", OUTSIDE); }, "SupVer.inf"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Install(0x09000000);
    winsim::PutFile(OUTSIDE, "127.0.0.1 localhost\r\n", c.outsideAttributes);
    c.plant();
    const std::string outsideBytes = winsim::FileBytes(OUTSIDE);
    const std::map<std::string, std::string> planted = installed::InstallFolder();
    const int exitCode = RunUpdater(L"/S");
    EXPECT_EQ(winsim::FileBytes(OUTSIDE), outsideBytes);
    EXPECT_EQ(winsim::FileAttributes(OUTSIDE), c.outsideAttributes);
    if (c.failingRow == nullptr) {
      EXPECT_EQ(exitCode, EXIT_FINISHED);
      EXPECT_TRUE(winsim::MessageBoxes().empty());
      ExpectFilesUpdated();
    } else {
      EXPECT_EQ(exitCode, EXIT_STOPPED);
      ASSERT_EQ(Boxes(), std::vector<int>{MSG_FILE_COPY_ERROR});
      EXPECT_EQ(winsim::MessageBoxes()[0].text,
                std::string("File copy error. [") + c.failingRow + "]\nUpdate has been canceled.");
      std::map<std::string, std::string> expected = planted;
      if (std::string(c.failingRow) == "SupVer.inf") {
        expected["XVT-7Q2RN3.txt"] = installed::PayloadFor(version, "XVT-7Q2RN3.txt");
      }
      EXPECT_EQ(installed::InstallFolder(), expected);
      ExpectProductListsUntouched();
    }
    ExpectNothingLeftOpen();
  }
}

void Session0WithReadOnlySupVer() {
  winsim::SetProcessSession(0);
  ReadOnlySupVer();
}
void Session0OfXp() {
  winsim::SetProcessSession(0);
  winsim::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 1);
}

// Deployment tools run the updater where nobody can answer a box. There it
// shows none, not even a failure's, and ends by itself with its roll-back and
// exit code; a station that cannot be asked is taken for a visible one.
TEST_F(WholeRunTest, NoBoxIsShownWhereNobodyCouldAnswerIt) {
  using winsim::WindowStation;
  const struct {
    WindowStation station;
    const wchar_t* commandLine;
    void (*arrange)();
    int exitCode;
    std::vector<int> boxes;
    FilesAfter files;
  } rows[] = {
      {WindowStation::Hidden, L"/S", ReadOnlySupVer, EXIT_STOPPED, {}, FilesAfter::RolledBack},
      {WindowStation::Hidden, L"", ReadOnlySupVer, EXIT_STOPPED, {}, FilesAfter::RolledBack},
      {WindowStation::Hidden, L"/S", MultiStringOdrixList, EXIT_STOPPED, {}, FilesAfter::RolledBack},
      {WindowStation::Hidden, L"/S", CopyServiceStuck, EXIT_STOPPED, {}, FilesAfter::Untouched},
      {WindowStation::Hidden, L"", [] {}, EXIT_FINISHED, {}, FilesAfter::Updated},
      {WindowStation::Visible, L"/S /SUPPRESSMSGBOXES", ReadOnlySupVer, EXIT_STOPPED, {}, FilesAfter::RolledBack},
      {WindowStation::Visible, L"/S /suppressmsgboxes", CopyServiceStuck, EXIT_STOPPED, {}, FilesAfter::Untouched},
      {WindowStation::Visible, L"/NORESTART /SUPPRESSMSGBOXES", ReadOnlySupVer, EXIT_STOPPED,
       {MSG_CONFIRM_ADD_DRIVE, MSG_FILE_COPY_ERROR}, FilesAfter::RolledBack},
      {WindowStation::Unaskable, L"/S", ReadOnlySupVer, EXIT_STOPPED, {MSG_FILE_COPY_ERROR}, FilesAfter::RolledBack},
      // Session 0 of Windows 7 is seen by nobody, whatever its station's flags; of XP it is the console's.
      {WindowStation::Visible, L"/S", Session0WithReadOnlySupVer, EXIT_STOPPED, {}, FilesAfter::RolledBack},
      {WindowStation::Visible, L"", [] { winsim::SetProcessSession(0); }, EXIT_FINISHED, {}, FilesAfter::Updated},
      {WindowStation::Visible, L"", Session0OfXp, EXIT_FINISHED, {MSG_CONFIRM_ADD_DRIVE, MSG_DONE_REBOOT_PROMPT},
       FilesAfter::Updated},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << winsim::Utf8Of(row.commandLine) << " in station " << static_cast<int>(row.station));
    Install(0x0A000000);
    winsim::SetWindowStation(row.station);
    row.arrange();
    EXPECT_EQ(RunUpdater(row.commandLine), row.exitCode);
    EXPECT_EQ(Boxes(), row.boxes);
    ExpectFiles(row.files);
    EXPECT_EQ(winsim::ExitWindowsCalls().size(), row.exitCode == EXIT_FINISHED ? 1u : 0u);
    ExpectNothingLeftOpen();
  }
}

// One copy per PC in every session, and the session's own name for a copy of
// an earlier version beside it; a lone run updates wherever a deployment tool
// or a user starts it.
TEST_F(WholeRunTest, OneCopyRunsPerPcInEverySessionAndALoneOneUpdates) {
  const struct {
    const char* windows;
    Windows kind;
    void (*arrange)();
  } systems[] = {
      {"Windows 2000", Windows::Windows2000, [] {}},
      {"Windows 2000 with Terminal Services", Windows::Windows2000, [] { winsim::SetTerminalServices(true); }},
      {"Windows XP", Windows::Xp32Bit, [] {}},
      {"Windows 7", Windows::Windows7Wow64, [] {}},
      {"Windows 10", Windows::Windows7Wow64, [] { winsim::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 10, 0); }},
  };
  enum class Other { None, AnotherSession, EarlierVersionHere };
  for (const auto& system : systems) {
    for (DWORD session : {0u, 1u}) {
      for (Other other : {Other::None, Other::AnotherSession, Other::EarlierVersionHere}) {
        SCOPED_TRACE(testing::Message() << system.windows << ", session " << session << ", other copy "
                                        << static_cast<int>(other));
        Install(0x09000000, system.kind);
        system.arrange();
        winsim::SetProcessSession(session);
        if (other == Other::AnotherSession) winsim::HoldMutexElsewhere(GLOBAL_INSTANCE_MUTEX_NAME, 1 - session);
        if (other == Other::EarlierVersionHere) winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
        const int exitCode = RunUpdater(L"/S /NORESTART");
        EXPECT_EQ(exitCode, other == Other::None ? EXIT_RESTART_REQUIRED : EXIT_RETRY_LATER);
        ExpectFiles(other == Other::None ? FilesAfter::Updated : FilesAfter::Untouched);
        ExpectNothingLeftOpen();
      }
    }
  }
}

// The restart is the caller's; the services that the run stopped work again
// until it comes, on every ending but one that could not put a file back, and
// 3010 says the update wants it. 1618: a later try can succeed.
TEST_F(WholeRunTest, NoRestartStartsTheServicesAndLeavesTheRestartToTheCaller) {
  const std::vector<DWORD> copyNotBack = {SERVICE_RUNNING, SERVICE_START_PENDING, SERVICE_RUNNING};
  const std::vector<DWORD> copyStuck = {SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_RUNNING};
  const std::vector<DWORD> allStopped = {SERVICE_STOPPED, SERVICE_STOPPED, SERVICE_STOPPED};
  const std::vector<DWORD> copyStopped = {SERVICE_RUNNING, SERVICE_STOPPED, SERVICE_RUNNING};
  const struct {
    const wchar_t* commandLine;
    std::vector<int> answers;
    void (*arrange)();
    int exitCode;
    std::vector<int> boxes;
    std::vector<DWORD> services;
  } rows[] = {
      {L"/S /NORESTART", {}, [] {}, EXIT_RESTART_REQUIRED, {}, ALL_RUNNING},
      {L"/NoRestart", {IDOK}, [] {}, EXIT_RESTART_REQUIRED, {MSG_CONFIRM_ADD_DRIVE}, ALL_RUNNING},
      {L"/NORESTART", {IDCANCEL}, [] {}, EXIT_FINISHED, {MSG_CONFIRM_ADD_DRIVE}, ALL_RUNNING},
      {L"/S /NORESTART", {}, CopyServiceNeverStarts, EXIT_RESTART_REQUIRED, {}, copyNotBack},
      {L"/S /NORESTART", {}, [] { winsim::RemoveService(installed::MONITOR_SERVICE); }, EXIT_RESTART_REQUIRED, {},
       {SERVICE_RUNNING, SERVICE_RUNNING, 0}},
      {L"/S /NORESTART", {}, CopyServiceStillStarting, EXIT_RESTART_REQUIRED, {}, ALL_RUNNING},
      {L"/S /NORESTART", {}, [] { winsim::AddProcess("CVMaker.exe"); }, EXIT_RETRY_LATER, {}, ALL_RUNNING},
      {L"/S /NORESTART", {}, CopyServiceStuck, EXIT_RETRY_LATER, {MSG_SERVICE_ERROR}, copyStuck},
      {L"/S /NORESTART", {}, ReadOnlySupVer, EXIT_STOPPED, {MSG_FILE_COPY_ERROR}, ALL_RUNNING},
      {L"/S /NORESTART", {}, SupVerNotPutBack, EXIT_STOPPED, {MSG_REGISTRY_ERROR}, allStopped},
      {L"/S /NORESTART", {}, SupVerPutBackRecordNotUpdated, EXIT_STOPPED, {MSG_REGISTRY_ERROR}, ALL_RUNNING},
      {L"/S /NORESTART", {}, CopyServiceNotRunning, EXIT_RESTART_REQUIRED, {}, copyStopped},
      {L"/S /NORESTART", {}, CopyServiceStoppingBySelf, EXIT_RESTART_REQUIRED, {}, copyStopped},
      // Still stopping when the stop's wait ends: waited for within the start's own, then started.
      {L"/S /NORESTART", {}, [] { winsim::SetStopBehaviour(installed::COPY_SERVICE, winsim::StopBehaviour::AfterQueries, 80); },
       EXIT_RETRY_LATER, {MSG_SERVICE_ERROR}, ALL_RUNNING},
      // A refused stop request leaves the service as it was: not the run's.
      {L"/S /NORESTART", {}, [] { winsim::FailCall("ControlService", 2, ERROR_SERVICE_CANNOT_ACCEPT_CTRL); },
       EXIT_RETRY_LATER, {MSG_SERVICE_ERROR}, ALL_RUNNING},
      // No key can be made below the vendor's: the services stopped are this run's all the same.
      {L"/S /NORESTART", {}, [] { winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, PUBLISHER_KEY, winsim::KEY_RIGHTS_READ_ONLY); },
       EXIT_STOPPED, {MSG_FILE_COPY_ERROR}, ALL_RUNNING},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << winsim::Utf8Of(row.commandLine) << ", answers " << row.answers.size());
    Install(0x0A000000);
    row.arrange();
    winsim::ScriptAnswers(row.answers);
    EXPECT_EQ(RunUpdater(row.commandLine), row.exitCode);
    EXPECT_EQ(Boxes(), row.boxes);
    EXPECT_EQ(ServiceStates(), row.services);
    EXPECT_TRUE(winsim::ExitWindowsCalls().empty());
    EXPECT_TRUE(winsim::PrivilegeAdjustments().empty());
    // Recorded for later runs of this start of Windows: exactly those asked to stop and not running.
    for (const char* service : SERVICES) {
      winsim::RegistryValue recorded;
      const std::vector<winsim::ServiceRequest> requests = winsim::ServiceRequests(service);
      const bool asked = std::count(requests.begin(), requests.end(), winsim::ServiceRequest::Stop) != 0;
      EXPECT_EQ(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, BOOT_RECORD_KEY, service, &recorded),
                asked && winsim::ServiceState(service) != SERVICE_RUNNING)
          << service;
    }
    ExpectNothingLeftOpen();
  }
}

// A service that the run asked to stop is the run's to start again, also
// when it stopped too late for the run: the retry finds it stopped and
// starts it at its end; no run leaves it stopped.
TEST_F(WholeRunTest, AServiceThatStopsTooLateIsStartedAgainByTheRetry) {
  Install(0x0A000000);
  winsim::SetStopBehaviour(installed::COPY_SERVICE, winsim::StopBehaviour::AfterQueries, 150);
  EXPECT_EQ(RunUpdater(L"/S /NORESTART"), EXIT_RETRY_LATER);
  ExpectFilesUntouched();
  EXPECT_EQ(ServiceStates(), (std::vector<DWORD>{SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_RUNNING}));
  EXPECT_EQ(RunUpdater(L"/S /NORESTART"), EXIT_RESTART_REQUIRED);
  ExpectFilesUpdated();
  EXPECT_EQ(ServiceStates(), ALL_RUNNING);
  EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, RECORD_KEY)) << "nothing left to record";
  ExpectNothingLeftOpen();
}

// A record the run cannot use is told before a service is touched: nothing
// changes, the box says so in a silent run too, and the log names the value.
TEST_F(WholeRunTest, ARecordTheRunCannotUseStopsItBeforeAnyServiceIsStopped) {
  const std::string folder = installed::INSTALL_DIR;
  const struct {
    const char* what;
    std::vector<std::pair<const char*, std::string>> places;  // REG_SZ records; "" gives a REG_BINARY one
    std::string logLine;
    void (*arrange)() = nullptr;
  } rows[] = {
      {"not text", {{"Update in progress 2", ""}},
       "the record of an unfinished update, HKLM\\SOFTWARE\\ODRIX\\Carvella Maker Updater \"Update in progress 2\", "
       "cannot be read: it is not a REG_SZ value (20: the value is of another type)"},
      {"a field of another kind", {{"Update in progress", folder + "|SupVer.inf:kept"}},
       "the record of an unfinished update, HKLM\\SOFTWARE\\ODRIX\\Carvella Maker Updater \"Update in progress\", "
       "cannot be read: a field this updater does not know (13: the record is there but cannot be read or understood)"},
      {"two records of this folder",
       {{"Update in progress", folder + "|SupVer.inf:backup"}, {"Update in progress 3", folder + "\\"}},
       "the record of an unfinished update, HKLM\\SOFTWARE\\ODRIX\\Carvella Maker Updater \"Update in progress 3\", "
       "cannot be read: a second record of this folder (13: the record is there but cannot be read or understood)"},
      {"every place another folder's",
       {{"Update in progress", "D:\\A|SupVer.inf:backup"}, {"Update in progress 2", "D:\\B|SupVer.inf:backup"},
        {"Update in progress 3", "D:\\C|SupVer.inf:backup"}, {"Update in progress 4", "D:\\D|SupVer.inf:backup"}},
       "every place for a record under HKLM\\SOFTWARE\\ODRIX\\Carvella Maker Updater holds another folder's"},
      // A durable key of the name of the record of this start of Windows could not tell later runs what this one stops.
      {"the record of this start of Windows durable", {},
       "HKLM\\SOFTWARE\\ODRIX\\Carvella Maker Updater (this start of Windows) cannot be trusted (24: a key that would "
       "outlive the restart of Windows): nothing in it counts",
       [] { winsim::SetRegistryString(HKEY_LOCAL_MACHINE, BOOT_RECORD_KEY, "Restart owed", "C:\\Elsewhere"); }},
  };
  for (const auto& row : rows) {
    for (const wchar_t* commandLine : {L"/S /NORESTART /LOG=C:\\run.log", L"/LOG=C:\\run.log"}) {
      SCOPED_TRACE(testing::Message() << row.what << ", " << winsim::Utf8Of(commandLine));
      Install(0x0A000000);
      if (row.arrange != nullptr) row.arrange();
      for (const auto& place : row.places) {
        winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, RECORD_KEY, place.first, place.second.empty() ? REG_BINARY : REG_SZ,
                                 place.second);
      }
      winsim::ScriptAnswers({IDOK});
      EXPECT_EQ(RunUpdater(commandLine), EXIT_STOPPED);
      const std::vector<int> failure = {MSG_FILE_COPY_ERROR};
      const std::vector<int> interactive = {MSG_CONFIRM_ADD_DRIVE, MSG_FILE_COPY_ERROR};
      EXPECT_EQ(Boxes(), commandLine[1] == L'S' ? failure : interactive);
      EXPECT_EQ(ServiceStates(), ALL_RUNNING);
      EXPECT_EQ(winsim::CallCount("ControlService"), 0u);
      ExpectFilesUntouched();
      EXPECT_EQ(winsim::RegistryValueCount(HKEY_LOCAL_MACHINE, RECORD_KEY), row.places.size());
      EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, std::string(BOOT_RECORD_KEY) + "\\Volatile probe"));
      const std::vector<std::string> lines = LogLines("C:\\run.log");
      EXPECT_NE(std::find(lines.begin(), lines.end(), row.logLine), lines.end()) << testing::PrintToString(lines);
      ExpectNothingLeftOpen();
    }
  }
}

// What a run leaves belongs to the start of Windows it ran in. A service that
// can never start again is dropped from what later runs start and never
// keeps an updated PC from counting as updated; after a restart no key of
// the updater is left, whatever the ending.
TEST_F(WholeRunTest, WhatBelongsToAStartOfWindowsEndsWithIt) {
  static const char* const COPY = installed::COPY_SERVICE;
  const struct {
    const char* what;
    void (*before)();
    const wchar_t* first;
    int firstExit;
    void (*between)();  // then a second run in the same start of Windows, on the updated PC
    void (*afterRestart)();
    int lastExit;  // of a run after the restart
  } rows[] = {
      {"a disabled service", [] { winsim::SetServiceStartType(COPY, SERVICE_DISABLED); }, L"/S /NORESTART",
       EXIT_RESTART_REQUIRED, [] {}, [] {}, EXIT_FINISHED},
      {"a service marked for deletion", [] { winsim::MarkServiceForDeletion(COPY); }, L"/S /NORESTART",
       EXIT_RESTART_REQUIRED, [] {}, [] {}, EXIT_FINISHED},
      {"a refused restart, then the service deleted", [] { winsim::RefuseRestart(ERROR_PRIVILEGE_NOT_HELD); }, L"/S",
       EXIT_FINISHED, [] { winsim::RemoveService(COPY); }, [] {}, EXIT_FINISHED},
      {"a failed silent run, then a good one", ReadOnlySupVer, L"/S", EXIT_STOPPED, nullptr,
       [] { winsim::PutFile(SUPVER_PATH, installed::OldContent("SupVer.inf")); }, EXIT_RESTART_REQUIRED},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Install(0x0A000000);
    row.before();
    EXPECT_EQ(RunUpdater(row.first), row.firstExit);
    if (row.between != nullptr) {
      row.between();
      const std::size_t copyRequests = winsim::ServiceRequests(COPY).size();
      EXPECT_EQ(RunUpdater(L"/S /NORESTART"), EXIT_RESTART_REQUIRED) << "in place, the restart still owed";
      EXPECT_EQ(winsim::ServiceState(installed::CONTROL_SERVICE), static_cast<DWORD>(SERVICE_RUNNING));
      EXPECT_EQ(winsim::ServiceRequests(COPY).size(), copyRequests) << "dropped: no later run asks it";
    }
    RestartedSince();
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, RECORD_KEY));
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, BOOT_RECORD_KEY));
    row.afterRestart();
    const std::size_t managerAccesses = winsim::ServiceManagerAccesses().size();
    EXPECT_EQ(RunUpdater(L"/S /NORESTART"), row.lastExit);
    ExpectFilesUpdated();
    EXPECT_EQ(winsim::ServiceManagerAccesses().size() == managerAccesses, row.lastExit == EXIT_FINISHED)
        << "an updated PC is left alone";
    ExpectNothingLeftOpen();
  }
}

// After a successful update no run puts the old bytes back, whatever failed
// while the record was being cleared: the backups go all the same, and a
// recorded row whose backup is gone is forgotten by the next run.
TEST_F(WholeRunTest, ARecordThatCouldNotBeClearedNeverUndoesAFinishedUpdate) {
  Install(0x09000000);
  ASSERT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
  const unsigned lastFlush = winsim::CallCount("RegFlushKey");
  for (const auto& failing : {std::make_pair("RegDeleteValueA", 1u), std::make_pair("RegFlushKey", lastFlush)}) {
    SCOPED_TRACE(failing.first);
    Install(0x09000000);
    winsim::FailCall(failing.first, failing.second, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
    ExpectFilesUpdated();
    MultiStringOdrixList();
    EXPECT_EQ(RunUpdater(L"/S"), EXIT_STOPPED);
    ExpectFilesUpdated();
    ExpectNothingLeftOpen();
  }
}

// What an administrator reads after a deployment: every stage's outcome in
// order, appended run after run.
TEST_F(WholeRunTest, TheLogTellsEveryStepOfASuccessfulRun) {
  Install(0x09000000);
  winsim::MakeFolder("C:\\WINDOWS\\TEMP");
  const std::vector<std::string> run = {
      "ODRIX Carvella Maker Updater 1.1.0.0, command line: /S /LOG",
      "silent run; boxes: failures only; restart: at the end; texts: English",
      "Windows 6.1 build 7601 Service Pack 1, platform 2",
      "ODRIX Carvella Maker Ver.9.00 (0x09000000) in C:\\Program Files\\ODRIX\\Carvella Maker",
      "64-bit Windows",
      "version class 1: 4 data files",
      "file DrvClass.ini: does not hold its payload",
      "the update is not in place",
      "question not shown (silent run), taken as OK: Do you want to add the drive that ODRIX Carvella Maker supports?",
      "CVMaker.exe is not running",
      "service \"ODRIX Carvella Control Service\": asked to stop, done",
      "service \"ODRIX Carvella Copy Service\": asked to stop, done",
      "CVMaker.exe is not running",
      "file DrvClass.ini: written",
      "file DrvClass64.ini: written",
      "file XVT-7Q2RN3.txt: written",
      "file SupVer.inf: written",
      "registry HKLM\\SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ROVE \"Products\": the id added",
      "registry HKLM\\SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ODRIX \"Products\": the id added",
      "question not shown (silent run), taken as OK: Update has been finished correctly.\\nRestart Windows to enable "
      "the ODRIX Carvella Maker.\\nRestart Windows right now?",
      "restart requested: Windows is restarting",
      "exit code 0",
  };
  ASSERT_EQ(RunUpdater(L"/S /LOG"), EXIT_FINISHED);
  EXPECT_EQ(LogLines(DEFAULT_LOG), run);
  ExpectFilesUpdated();

  // The second run comes after the first, the services it finds stopped and
  // the lists already extended, and SupVer.inf edited since; it names the
  // same file as a tool that does not expand variables passes it on.
  winsim::PutFile(SUPVER_PATH, "edited");
  EXPECT_EQ(RunUpdater(L"/S /LOG=%SystemRoot%\\Temp\\CarvellaMakerUpdater.log"), EXIT_FINISHED);
  const std::vector<std::string> lines = LogLines(DEFAULT_LOG);
  ASSERT_GT(lines.size(), run.size());
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + run.size()), run);
  EXPECT_EQ(lines[run.size()],
            "ODRIX Carvella Maker Updater 1.1.0.0, command line: /S /LOG=%SystemRoot%\\Temp\\CarvellaMakerUpdater.log");
  EXPECT_EQ(lines.back(), run.back());
  EXPECT_EQ(std::count(lines.begin(), lines.end(),
                       "service \"ODRIX Carvella Copy Service\": stopped, left so by an earlier run since Windows "
                       "started: to be started again"),
            1);
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& line) { return line.find("holds the id already") != std::string::npos; }),
            2);
  ExpectNothingLeftOpen();
}

// A failed run tells why, the text of every box (Japanese as UTF-8) and
// whether it was shown, and what the roll-back did.
TEST_F(WholeRunTest, TheLogOfAFailedRunTellsTheCauseTheBoxesAndTheRollBack) {
  Install(0x09000000);
  winsim::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 10, 0, "", 19045);
  winsim::SetUserLanguage(0x0411);
  winsim::SetAnsiCodePage(932);
  winsim::SetWindowStation(winsim::WindowStation::Hidden);
  ReadOnlySupVer();
  winsim::MakeFolder("D:\\Logs");
  ASSERT_EQ(RunUpdater(L"/LOG=\"D:\\Logs\\update.log\""), EXIT_STOPPED);
  const std::vector<std::string> lines = LogLines("D:\\Logs\\update.log");
  const std::vector<std::string> expected = {
      "interactive run; boxes: none, the window station is not visible; restart: at the end; texts: Japanese",
      "Windows 10.0 build 19045, platform 2; the updater is told 6.2 build 9200, platform 2",
      "question not shown (boxes suppressed), taken as OK: ODRIX Carvella Maker がサポートしているドライブを追加します。",
      "file SupVer.inf: not written (5: Access is denied.)",
      "box not shown (boxes suppressed): ファイルの書き換えに失敗しました。[SupVer.inf]\\nアップデートを終了します。",
      "file XVT-7Q2RN3.txt: had no file before the update, the new one kept",
      "file DrvClass64.ini: put back from its backup",
      "file DrvClass.ini: put back from its backup",
      "exit code 1",
  };
  std::vector<std::string> found;
  for (const std::string& line : lines) {
    if (std::find(expected.begin(), expected.end(), line) != expected.end()) found.push_back(line);
  }
  EXPECT_EQ(found, expected) << testing::PrintToString(lines);
  ExpectFiles(FilesAfter::RolledBack);
}

// A log asked for is written or the run changes nothing: a file that cannot
// be opened or written, or whose name leads to a file elsewhere, ends the run
// with 1622, told in a box to an interactive user. A log held open elsewhere
// may be a running copy's: the run goes on to tell that copy.
TEST_F(WholeRunTest, ALogThatCannotOrMayNotBeWrittenEndsTheRunBeforeAnythingChanges) {
  static const std::string OUTSIDE = "C:\\Windows\\System32\\drivers\\etc\\hosts";
  const std::wstring tooLong = L"/S /LOG=C:\\" + std::wstring(MAX_PATH, L'x');
  void (*heldElsewhere)() = [] {
    winsim::PutFile(DEFAULT_LOG, "kept");
    winsim::HoldOpenElsewhere(DEFAULT_LOG, GENERIC_WRITE, FILE_SHARE_READ);
  };
  const struct {
    const char* what;
    const wchar_t* commandLine;
    void (*arrange)();
    int exitCode;
    std::vector<int> boxes;
    const char* logAfter;  // the bytes under the log's name afterwards; nullptr: not looked at
  } rows[] = {
      {"folder missing", L"/S /LOG", [] { winsim::SetTemporaryFolder(L"C:\\WINDOWS\\NO TEMP\\"); }, EXIT_LOG_FAILURE, {}, ""},
      {"read-only log", L"/S /LOG", [] { winsim::PutFile(DEFAULT_LOG, "kept", FILE_ATTRIBUTE_READONLY); },
       EXIT_LOG_FAILURE, {}, "kept"},
      {"log held open elsewhere for writing", L"/S /LOG", heldElsewhere, EXIT_LOG_FAILURE, {}, "kept"},
      {"log name hard-linked", L"/S /LOG", [] { winsim::MakeHardLink(OUTSIDE, DEFAULT_LOG); }, EXIT_LOG_FAILURE, {},
       nullptr},
      {"log name a symbolic link", L"/S /LOG", [] { winsim::MakeSymbolicLink(DEFAULT_LOG, OUTSIDE); },
       EXIT_LOG_FAILURE, {}, ""},
      {"first line cannot be written", L"/S /LOG", [] { winsim::FailCall("WriteFile", 2, ERROR_HANDLE_DISK_FULL); },
       EXIT_LOG_FAILURE, {}, "\xEF\xBB\xBF"},
      {"no such folder", L"/LOG=C:\\NoSuchDir\\x.log", [] {}, EXIT_LOG_FAILURE, {MSG_LOG_ERROR}, nullptr},
      {"a variable not set", L"/S /LOG=%NoSuchVariable%\\x.log", [] {}, EXIT_LOG_FAILURE, {}, nullptr},
      {"too long once expanded", L"/S /LOG=%LONG%\\x.log",
       [] { winsim::SetEnvironmentValue(L"long", L"C:\\" + std::wstring(MAX_PATH, L'x')); }, EXIT_LOG_FAILURE, {},
       nullptr},
      {"too long as written", tooLong.c_str(), [] {}, EXIT_LOG_FAILURE, {}, nullptr},
      {"held by another copy", L"/S /NORESTART /LOG",
       [] {
         winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
         winsim::PutFile(DEFAULT_LOG, "kept");
         winsim::HoldOpenElsewhere(DEFAULT_LOG, GENERIC_WRITE, FILE_SHARE_READ);
       },
       EXIT_RETRY_LATER, {}, "kept"},
      {"held by another copy, interactive", L"/LOG",
       [] {
         winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
         winsim::HoldOpenElsewhere(DEFAULT_LOG, GENERIC_WRITE, FILE_SHARE_READ);
       },
       EXIT_STOPPED, {MSG_ALREADY_RUNNING}, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    Install(0x09000000);
    winsim::PutFile(OUTSIDE, "127.0.0.1 localhost\r\n");
    winsim::MakeFolder("C:\\WINDOWS\\TEMP");
    row.arrange();
    EXPECT_EQ(RunUpdater(row.commandLine), row.exitCode);
    EXPECT_EQ(Boxes(), row.boxes);
    ExpectFilesUntouched();
    ExpectProductListsUntouched();
    EXPECT_TRUE(winsim::ServiceManagerAccesses().empty());
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), 0u);
    EXPECT_EQ(winsim::FileBytes(OUTSIDE), "127.0.0.1 localhost\r\n");
    if (row.logAfter != nullptr) {
      EXPECT_EQ(winsim::FileBytes(DEFAULT_LOG), row.logAfter);
    }
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

// A help request, or a command line that is not this updater's, ends the run
// before it reads anything of the PC: the usage in a box where one can be
// seen, and the refusal in the log that the line asks for, when that part of
// it could be read. The command line is answered before the log.
TEST_F(WholeRunTest, AHelpRequestOrARefusedCommandLineChangesNothing) {
  using winsim::WindowStation;
  const struct {
    const wchar_t* commandLine;
    WindowStation station;
    int exitCode;
    std::vector<int> boxes;
    const char* logLine;  // in the default log; nullptr: none asked for
  } rows[] = {
      {L"/?", WindowStation::Visible, EXIT_FINISHED, {MSG_USAGE}, nullptr},
      {L"/HELP /LOG", WindowStation::Hidden, EXIT_FINISHED, {},
       "box not shown (boxes suppressed): Usage: CarvellaMakerUpdater.exe [/S] [/NORESTART] [/SUPPRESSMSGBOXES] "
       "[/LOG | /LOG=\"file\"]\\n/S comes first. Nothing has been changed."},
      {L"/s /?", WindowStation::Visible, EXIT_FINISHED, {}, nullptr},
      {L"/S/NORESTART /LOG", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {},
       "command line refused: \"/S/NORESTART\" runs switches together: a blank is missing"},
      {L"/VERYSILENT /NORESTART /LOG", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {MSG_USAGE},
       "command line refused: \"/VERYSILENT\" is not a switch of this updater"},
      {L"/quiet /norestart", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {MSG_USAGE}, nullptr},
      {L"/FOO", WindowStation::Hidden, EXIT_INVALID_COMMAND_LINE, {}, nullptr},
      {L"x /S /LOG", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {MSG_USAGE},
       "command line refused: \"x\" is not a switch of this updater"},
      {L"/NORESTART /S /LOG", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {MSG_USAGE},
       "command line refused: \"/S\" is /S, which must be the first argument"},
      {L"/S /LOG:C:\\x.log", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {}, nullptr},
      {L"/S /LOG C:\\x.log", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {},
       "command line refused: \"C:\\x.log\" is not a switch of this updater"},
      {L"/S /LOG= /LOG", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {},
       "command line refused: \"/LOG=\" is neither /LOG nor /LOG=<file>"},
      {L"-S /LOG=C:\\NoSuchDir\\x.log", WindowStation::Visible, EXIT_INVALID_COMMAND_LINE, {MSG_USAGE}, nullptr},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(winsim::Utf8Of(row.commandLine));
    Install(0x09000000);
    winsim::MakeFolder("C:\\WINDOWS\\TEMP");
    winsim::SetWindowStation(row.station);
    EXPECT_EQ(RunUpdater(row.commandLine), row.exitCode);
    EXPECT_EQ(Boxes(), row.boxes);
    if (row.logLine != nullptr) {
      const std::vector<std::string> lines = LogLines(DEFAULT_LOG);
      EXPECT_NE(std::find(lines.begin(), lines.end(), row.logLine), lines.end()) << testing::PrintToString(lines);
    }
    ExpectFilesUntouched();
    ExpectProductListsUntouched();
    EXPECT_EQ(winsim::CallCount("CreateMutexA"), 0u);
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), 0u);
    EXPECT_TRUE(winsim::ServiceManagerAccesses().empty());
    ExpectNothingLeftOpen();
  }
}

// A line keeps what it can read: whole characters up to a cut, marked as
// cut, and where a text will not convert at all, a note that says so.
TEST_F(WholeRunTest, ALogLineKeepsItsWholeCharactersAndSaysWhereItIsCut) {
  std::string narrow = "xy";  // and 600 characters of two bytes in code page 932: cut inside the 511th
  std::string kept = "xy";
  for (int i = 0; i < 600; ++i) narrow += "\x82\xA0";
  for (int i = 0; i < 510; ++i) kept += "\xE3\x81\x82";
  const struct {
    std::string narrow;  // empty: a wide text longer than a part of a line, 1024 characters
    bool failingConversion;
    std::string line;
  } rows[] = {
      {narrow, false, kept + " (cut)"},
      {"", false, "cmd " + std::string(1024, 'w') + " (cut)"},
      {"text", true, "(text not readable in its code page)"},
  };
  for (const auto& row : rows) {
    winsim::ResetMachine();
    winsim::SetAnsiCodePage(932);
    winsim::MakeFolder("D:\\Logs");
    RunLog log;
    log.Open(L"D:\\Logs\\cut.log");
    if (row.failingConversion) winsim::FailCallsFrom("MultiByteToWideChar", 1, ERROR_NO_UNICODE_TRANSLATION);
    row.narrow.empty() ? log.Wide("cmd ", std::wstring(5000, L'w').c_str()) : log.Format("%s", row.narrow.c_str());
    EXPECT_EQ(LogLines("D:\\Logs\\cut.log"), std::vector<std::string>{row.line});
  }
}

// A number means what its source says: an accessor's own code has words of
// its own there only; anything else is Windows' and has its text, in English
// where Windows has it and in its own language otherwise.
TEST_F(WholeRunTest, ResultCodesHaveTheirSourcesWordsAndWindowsCodesTheSystemText) {
  const struct {
    int code;
    ResultSource source;
    const char* words;
  } rows[] = {
      {0, FROM_FILE, "0: success"},
      {2, FROM_FILE, "2: The system cannot find the file specified."},
      {3, FROM_SERVICE, "3: neither running nor paused when asked to stop, or the start refused"},
      {23, FROM_FILE, "23: a link or a file with several names, not written through"},
      {22, FROM_RECORD, "22: the value is not there"},
      {22, FROM_SERVICE, "22: no text for this code"},
      {13, FROM_RECORD, "13: the record is there but cannot be read or understood"},
      {4095, FROM_SERVICE, "4095: no Windows call failed"},
      {5, FROM_REGISTRY, "5: Access is denied."},
  };
  for (const auto& row : rows) EXPECT_STREQ(DescribeResult(row.code, row.source).text, row.words) << row.code;
  winsim::SetSystemTextLanguage(0x0411);
  winsim::SetAnsiCodePage(932);
  EXPECT_STREQ(DescribeResult(5, FROM_WINDOWS).text,  // "Access is denied." in code page 932
               "5: \x83\x41\x83\x4E\x83\x5A\x83\x58\x82\xAA\x8B\x91\x94\xDB"
               "\x82\xB3\x82\xEA\x82\xDC\x82\xB5\x82\xBD\x81\x42");
  EXPECT_STREQ(DescribeResult(2, FROM_WINDOWS).text, "2: no text for this code");
}

// Japanese boxes are code page 932 text: handed over as bytes where the ANSI
// code page is 932, converted for MessageBoxW elsewhere, and English where
// Windows lacks code page 932 or a text will not convert.
TEST_F(WholeRunTest, JapaneseBoxesReadAsJapaneseWhateverTheAnsiCodePage) {
  const std::string confirm = "ODRIX Carvella Maker がサポートしているドライブを追加します。";
  const std::string copyError = "ファイルの書き換えに失敗しました。[SupVer.inf]\nアップデートを終了します。";
  const std::string englishCopyError = "File copy error. [SupVer.inf]\nUpdate has been canceled.";
  char copyErrorBytes[MAX_PATH];
  wsprintfA(copyErrorBytes, JAPANESE_TEXTS[MSG_FILE_COPY_ERROR], "SupVer.inf");
  const struct {
    UINT ansiCodePage;
    bool codePage932;
    unsigned failingConversion;  // 0: none
    bool unicode;
    std::string confirmation;
    std::string failure;
  } rows[] = {
      {932, true, 0, false, JAPANESE_TEXTS[MSG_CONFIRM_ADD_DRIVE], copyErrorBytes},
      {1252, true, 0, true, confirm, copyError},
      {1252, false, 0, false, ENGLISH_TEXTS[MSG_CONFIRM_ADD_DRIVE], englishCopyError},
      {1252, true, MESSAGE_COUNT, false, ENGLISH_TEXTS[MSG_CONFIRM_ADD_DRIVE], englishCopyError},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << "code page " << row.ansiCodePage << (row.codePage932 ? "" : " without 932")
                                    << ", conversion " << row.failingConversion << " failing");
    Install(0x09000000);
    winsim::SetUserLanguage(0x0411);
    winsim::SetAnsiCodePage(row.ansiCodePage);
    winsim::SetCodePageInstalled(932, row.codePage932);
    if (row.failingConversion != 0) winsim::FailCall("MultiByteToWideChar", row.failingConversion, ERROR_NO_UNICODE_TRANSLATION);
    ReadOnlySupVer();
    EXPECT_EQ(RunUpdater(L""), EXIT_STOPPED);
    const std::vector<winsim::MessageBoxRecord>& boxes = winsim::MessageBoxes();
    ASSERT_EQ(boxes.size(), 2u);
    ExpectUpdaterBox(boxes[0], row.confirmation, MB_OKCANCEL);
    ExpectUpdaterBox(boxes[1], row.failure);
    EXPECT_EQ(boxes[0].unicode, row.unicode);
    EXPECT_EQ(boxes[1].unicode, row.unicode);
  }
}

// The box may say "not installed" for several causes; the log tells which.
TEST_F(WholeRunTest, RefusedPreconditionsChangeNothing) {
  const auto refused = [](const std::string& version) {
    return "ODRIX Carvella Maker " + version +
           " in C:\\Program Files\\ODRIX\\Carvella Maker: installed, but this updater takes Ver.7.00 to Ver.10.00 only";
  };
  struct Case {
    const char* what;
    void (*arrange)();
    int slot;
    std::string logLine;
  } cases[] = {
      {"NT 4.0, which lacks RtlGetVersion",
       [] {
         winsim::SetWindowsVersion(VER_PLATFORM_WIN32_NT, 4, 0, "Service Pack 6", 1381);
         winsim::RemoveExport("ntdll.dll", "RtlGetVersion");
       },
       MSG_OS_TOO_OLD, "Windows 4.0 build 1381 Service Pack 6, platform 2"},
      {"no application key", [] { winsim::RemoveRegistryKey(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY); },
       MSG_NOT_INSTALLED,
       "ODRIX Carvella Maker is not installed: HKLM\\SOFTWARE\\ODRIX\\Carvella Maker cannot be opened (2: The "
       "system cannot find the file specified.)"},
      {"version 6.xx", [] { winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY, "Version", 0x06FFFFFF); },
       MSG_NOT_INSTALLED, refused("Ver.6.255.255.255 (0x06FFFFFF)")},
      {"version 10.00.1.0", [] { winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY, "Version", 0x0A000100); },
       MSG_NOT_INSTALLED, refused("Ver.10.00.1.0 (0x0A000100)")},
      {"expandable install path",
       [] {
         winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY, "InstallPath", REG_EXPAND_SZ,
                                  std::string("%ProgramFiles%\\ODRIX") + '\0');
       },
       MSG_INSTALL_BROKEN, "install folder refused: \"InstallPath\" cannot be read (20: the value is of another type)"},
      {"empty install path",
       [] { winsim::SetRegistryString(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY, "InstallPath", ""); },
       MSG_INSTALL_BROKEN, "install folder refused: \"\" is not an absolute local path"},
      {"install path on another host",
       [] {
         winsim::SetRegistryString(HKEY_LOCAL_MACHINE, installed::APPLICATION_KEY, "InstallPath", "\\\\host\\share");
       },
       MSG_INSTALL_BROKEN, "install folder refused: \"\\\\host\\share\" is not an absolute local path"},
      {"install folder that cannot be examined",
       [] { winsim::FailCall("GetFileAttributesA", 1, ERROR_ACCESS_DENIED); }, MSG_INSTALL_BROKEN,
       "install folder refused: \"C:\\Program Files\\ODRIX\\Carvella Maker\" cannot be examined (5: Access is "
       "denied.)"},
  };
  for (const Case& c : cases) {
    for (const wchar_t* commandLine : {L"/LOG=C:\\refused.log", L"/S /LOG=C:\\refused.log"}) {
      SCOPED_TRACE(testing::Message() << c.what << " " << winsim::Utf8Of(commandLine));
      Install(0x09000000);
      c.arrange();
      EXPECT_EQ(RunUpdater(commandLine), EXIT_STOPPED);
      EXPECT_EQ(Boxes(), commandLine[1] == L'S' ? std::vector<int>{} : std::vector<int>{c.slot});
      const std::vector<std::string> lines = LogLines("C:\\refused.log");
      EXPECT_NE(std::find(lines.begin(), lines.end(), c.logLine), lines.end()) << testing::PrintToString(lines);
      ExpectFilesUntouched();
      ExpectProductListsUntouched();
      EXPECT_EQ(ServiceStates(), ALL_RUNNING);
      EXPECT_TRUE(winsim::ServiceManagerAccesses().empty());
      ExpectNothingLeftOpen();
    }
  }
}

TEST_F(WholeRunTest, CancelAtTheConfirmationTouchesNothing) {
  Install(0x0A000000);
  winsim::ScriptAnswers({IDCANCEL});
  EXPECT_EQ(RunUpdater(L""), EXIT_FINISHED);
  EXPECT_EQ(Boxes(), std::vector<int>{MSG_CONFIRM_ADD_DRIVE});
  EXPECT_TRUE(winsim::ServiceManagerAccesses().empty());
  EXPECT_TRUE(winsim::RegistrySetCalls().empty());
  ExpectFilesUntouched();
  EXPECT_EQ(ServiceStates(), ALL_RUNNING);
  ExpectNothingLeftOpen();
}

TEST_F(WholeRunTest, ServiceThatDoesNotStopEndsTheRunEvenSilently) {
  for (const wchar_t* commandLine : {L"", L"/S"}) {
    Install(0x0A000000);
    winsim::SetStopBehaviour(installed::COPY_SERVICE, winsim::StopBehaviour::StuckPending);
    EXPECT_EQ(RunUpdater(commandLine), EXIT_STOPPED);
    const std::vector<int> interactive = {MSG_CONFIRM_ADD_DRIVE, MSG_SERVICE_ERROR};
    EXPECT_EQ(Boxes(), commandLine[0] ? std::vector<int>{MSG_SERVICE_ERROR} : interactive);
    EXPECT_EQ(winsim::MessageBoxes().back().text,
              "Service Stop error. [ODRIX Carvella Copy Service]\nUpdate has been canceled.");
    EXPECT_EQ(ServiceStates(), (std::vector<DWORD>{SERVICE_RUNNING, SERVICE_STOP_PENDING, SERVICE_RUNNING}))
        << "the one that stopped runs again";
    EXPECT_EQ(winsim::StatusQueries(installed::MONITOR_SERVICE), 0u) << "the chain ends at the first failure";
    EXPECT_GT(winsim::SleptMilliseconds(), 30000u);
    ExpectFilesUntouched();
    ExpectNothingLeftOpen();
  }
  // In Japanese the brackets name the service as well.
  Install(0x0A000000);
  winsim::SetUserLanguage(0x0411);
  winsim::SetAnsiCodePage(932);
  winsim::SetStopBehaviour(installed::MONITOR_SERVICE, winsim::StopBehaviour::StuckPending);
  EXPECT_EQ(RunUpdater(L"/S"), EXIT_STOPPED);
  char japanese[MAX_PATH];
  wsprintfA(japanese, JAPANESE_TEXTS[MSG_SERVICE_ERROR], installed::MONITOR_SERVICE);
  EXPECT_EQ(winsim::MessageBoxes().back().text, japanese);
}

// The application open stops the run before a service is touched; one
// started while the services stop (here: its process list unreadable at the
// first look) stops it after, and the services run again. 1618 lets a
// deployment tool try again later.
TEST_F(WholeRunTest, RunningApplicationStopsTheRunAndLeavesTheServicesRunning) {
  const struct {
    const wchar_t* commandLine;
    bool openedDuringTheStop;
    int exitCode;
  } rows[] = {
      {L"", false, EXIT_STOPPED},
      {L"/S", false, EXIT_STOPPED},
      {L"/S /NORESTART", false, EXIT_RETRY_LATER},
      {L"/S", true, EXIT_STOPPED},
      {L"/S /NORESTART", true, EXIT_RETRY_LATER},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << winsim::Utf8Of(row.commandLine) << (row.openedDuringTheStop ? ", opened later" : ""));
    Install(0x09000000);
    winsim::AddProcess("explorer.exe");
    winsim::AddProcess("cvmaker.EXE");
    if (row.openedDuringTheStop) winsim::FailCall("EnumProcesses", 1, ERROR_ACCESS_DENIED);
    EXPECT_EQ(RunUpdater(row.commandLine), row.exitCode);
    const std::vector<int> interactive = {MSG_CONFIRM_ADD_DRIVE, MSG_APP_RUNNING};
    EXPECT_EQ(Boxes(), row.commandLine[0] ? std::vector<int>{} : interactive);
    EXPECT_EQ(ServiceStates(), ALL_RUNNING);
    EXPECT_EQ(winsim::ServiceManagerAccesses().empty(), !row.openedDuringTheStop);
    ExpectFilesUntouched();
    ExpectProductListsUntouched();
    ExpectNothingLeftOpen();
  }
}

TEST_F(WholeRunTest, FailedDeploymentRestoresTheFilesAndTellsEvenSilently) {
  for (const wchar_t* commandLine : {L"", L"/S"}) {
    Install(0x09000000);
    winsim::PutFile(std::string(installed::INSTALL_DIR) + "\\SupVer.inf", installed::OldContent("SupVer.inf"),
                    FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(RunUpdater(commandLine), EXIT_STOPPED);
    const std::vector<int> interactive = {MSG_CONFIRM_ADD_DRIVE, MSG_FILE_COPY_ERROR};
    EXPECT_EQ(Boxes(), commandLine[0] ? std::vector<int>{MSG_FILE_COPY_ERROR} : interactive);
    EXPECT_EQ(winsim::MessageBoxes().back().text, "File copy error. [SupVer.inf]\nUpdate has been canceled.");
    // The marker file did not exist before and cannot be rolled back: it stays.
    std::map<std::string, std::string> expected = before;
    expected["XVT-7Q2RN3.txt"] = installed::PayloadFor(version, "XVT-7Q2RN3.txt");
    EXPECT_EQ(installed::InstallFolder(), expected);
    EXPECT_EQ(winsim::FileAttributes(std::string(installed::INSTALL_DIR) + "\\SupVer.inf"),
              static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ExpectProductListsUntouched();
    EXPECT_EQ(ServiceStates(), ALL_RUNNING) << "every file put back: the application runs again";
    ExpectNothingLeftOpen();
  }
}

TEST_F(WholeRunTest, FailedRegistrationRestoresTheFilesButKeepsEarlierListWrites) {
  Install(0x09000000);
  winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, installed::ODRIX_KEY, "Products", REG_MULTI_SZ,
                           std::string("DVR-XD10J  KR300") + '\0' + '\0');
  EXPECT_EQ(RunUpdater(L"/S"), EXIT_STOPPED);
  EXPECT_EQ(Boxes(), std::vector<int>{MSG_REGISTRY_ERROR});
  std::map<std::string, std::string> expected = before;
  expected["XVT-7Q2RN3.txt"] = installed::PayloadFor(version, "XVT-7Q2RN3.txt");
  EXPECT_EQ(installed::InstallFolder(), expected) << "old files back, no backups left";
  EXPECT_EQ(installed::ProductList(installed::ROVE_KEY), std::string(installed::ROVE_PRODUCTS) + installed::PRODUCT_ID);
  winsim::RegistryValue multi;
  ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, installed::ODRIX_KEY, "Products", &multi));
  EXPECT_EQ(multi.type, static_cast<DWORD>(REG_MULTI_SZ));
  EXPECT_EQ(ServiceStates(), ALL_RUNNING);
  EXPECT_TRUE(winsim::ExitWindowsCalls().empty());
  ExpectNothingLeftOpen();

  // A file that could not be put back keeps the application's services stopped.
  Install(0x09000000);
  SupVerNotPutBack();
  EXPECT_EQ(RunUpdater(L"/S"), EXIT_STOPPED);
  EXPECT_EQ(ServiceStates(), TWO_STOPPED);
  ExpectNothingLeftOpen();
}

TEST_F(WholeRunTest, RefusedRestartIsToldOnlyInteractivelyAndStillSucceeds) {
  for (const wchar_t* commandLine : {L"", L"/S"}) {
    Install(0x09000000);
    winsim::RefuseRestart(ERROR_PRIVILEGE_NOT_HELD);
    EXPECT_EQ(RunUpdater(commandLine), EXIT_FINISHED);
    const std::vector<int> interactive = {MSG_CONFIRM_ADD_DRIVE, MSG_DONE_REBOOT_PROMPT, MSG_REBOOT_FAILED};
    EXPECT_EQ(Boxes(), commandLine[0] ? std::vector<int>{} : interactive);
    ExpectFilesUpdated();
    EXPECT_EQ(ServiceStates(), TWO_STOPPED) << "a refused restart does not start the services";
    ExpectNothingLeftOpen();
  }
}

TEST_F(WholeRunTest, DeclinedRestartStartsTheServicesAgain) {
  Install(0x0A000000);
  for (const char* service : SERVICES) winsim::SetStartBehaviour(service, winsim::StartBehaviour::AfterQueries, 3);
  winsim::ScriptAnswers({IDOK, IDCANCEL});
  EXPECT_EQ(RunUpdater(L""), EXIT_FINISHED);
  EXPECT_EQ(Boxes(), (std::vector<int>{MSG_CONFIRM_ADD_DRIVE, MSG_DONE_REBOOT_PROMPT}));
  EXPECT_EQ(ServiceStates(), ALL_RUNNING);
  EXPECT_TRUE(winsim::ExitWindowsCalls().empty());
  EXPECT_TRUE(winsim::PrivilegeAdjustments().empty());
  ExpectFilesUpdated();
  ExpectProductListsExtended();
  ExpectNothingLeftOpen();
}

TEST_F(WholeRunTest, ServiceThatDoesNotStartAgainEndsTheChain) {
  Install(0x0A000000);
  winsim::SetStartBehaviour(installed::COPY_SERVICE, winsim::StartBehaviour::NeverStarts);
  winsim::ScriptAnswers({IDOK, IDCANCEL});
  EXPECT_EQ(RunUpdater(L""), EXIT_STOPPED);
  EXPECT_EQ(Boxes(), (std::vector<int>{MSG_CONFIRM_ADD_DRIVE, MSG_DONE_REBOOT_PROMPT, MSG_SERVICE_START_ERROR}));
  EXPECT_EQ(winsim::MessageBoxes().back().text, "Service Start error. [ODRIX Carvella Copy Service]\nPlease restart Windows.");
  EXPECT_EQ(winsim::ServiceState(installed::CONTROL_SERVICE), static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(winsim::ServiceState(installed::MONITOR_SERVICE), static_cast<DWORD>(SERVICE_STOPPED));
  ExpectFilesUpdated();
  ExpectNothingLeftOpen();

  // In Japanese: a start of its own, not a stop, that fails.
  Install(0x0A000000);
  winsim::SetUserLanguage(0x0411);
  winsim::SetAnsiCodePage(932);
  winsim::SetStartBehaviour(installed::CONTROL_SERVICE, winsim::StartBehaviour::NeverStarts);
  winsim::ScriptAnswers({IDOK, IDCANCEL});
  EXPECT_EQ(RunUpdater(L""), EXIT_STOPPED);
  char japanese[MAX_PATH];
  wsprintfA(japanese, JAPANESE_TEXTS[MSG_SERVICE_START_ERROR], installed::CONTROL_SERVICE);
  EXPECT_EQ(winsim::MessageBoxes().back().text, japanese);
}

TEST_F(WholeRunTest, SecondRunOverAnUpdatedMachineAddsNothingTwice) {
  Install(0x09000000);
  ASSERT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
  EXPECT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
  ExpectFilesUpdated();
  ExpectProductListsExtended();
  EXPECT_TRUE(winsim::MessageBoxes().empty());
}

std::string OneByteChanged(std::string bytes) { return bytes.replace(0, 1, 1, static_cast<char>(bytes[0] ^ 1)); }
constexpr std::int64_t DAY_MS = 24 * 3600 * 1000;

// A run on a PC that holds the update changes nothing: no service is stopped
// or started, no file or registry value is written. A restart still owed
// since the update is asked for, requested or left to the caller as after an
// update, until Windows starts again, whatever the clock does meanwhile.
// What differs, or a record left by a cut-off run, lets the update run.
TEST_F(WholeRunTest, AnUpdatedPcIsLeftAloneAndARestartStillOwedIsKept) {
  const std::string OWED = "the data files were written since Windows started: the restart is still owed";
  const std::string NOT_OWED = "no run wrote the data files since Windows started: no restart is owed";
  const Windows W7 = Windows::Windows7Wow64, XP = Windows::Xp32Bit;
  const wchar_t* const QUIET = L"/S /NORESTART";
  const struct {
    Windows windows;
    void (*arrange)();  // after an update that left the restart to the caller
    const wchar_t* commandLine;
    std::vector<int> answers;
    int exitCode;
    std::vector<int> boxes;
    bool leftAlone;
    bool restart;
    std::string logLine;
  } rows[] = {
      {W7, [] {}, QUIET, {}, EXIT_RESTART_REQUIRED, {}, true, false, OWED},
      {W7, [] {}, L"/S", {}, EXIT_FINISHED, {}, true, true, OWED},
      {W7, [] {}, L"", {IDOK}, EXIT_FINISHED, {MSG_DONE_REBOOT_PROMPT}, true, true, OWED},
      {W7, [] {}, L"", {IDCANCEL}, EXIT_FINISHED, {MSG_DONE_REBOOT_PROMPT}, true, false, "restart declined"},
      {W7, [] {}, L"/NORESTART", {}, EXIT_RESTART_REQUIRED, {MSG_ALREADY_ADDED}, true, false, OWED},
      {W7, RestartedSince, QUIET, {}, EXIT_FINISHED, {}, true, false, NOT_OWED},
      {W7, RestartedSince, L"/S", {}, EXIT_FINISHED, {}, true, false, NOT_OWED},
      {W7, RestartedSince, L"", {IDOK}, EXIT_FINISHED, {MSG_ALREADY_ADDED}, true, false, NOT_OWED},
      {XP, RestartedSince, QUIET, {}, EXIT_FINISHED, {}, true, false, NOT_OWED},
      {Windows::Windows2000, RestartedSince, QUIET, {}, EXIT_FINISHED, {}, true, false, NOT_OWED},
      {W7, [] { winsim::CutPower(); }, QUIET, {}, EXIT_FINISHED, {}, true, false, NOT_OWED},
      // A killed run ends no start of Windows.
      {W7, [] { winsim::EndProcess(); }, QUIET, {}, EXIT_RESTART_REQUIRED, {}, true, false, OWED},
      // The clock set back a day after the update, and the startup script's run at the next start.
      {W7, [] { winsim::StepSystemClock(-DAY_MS), RestartedSince(); }, L"/S", {}, EXIT_FINISHED, {}, true, false,
       NOT_OWED},
      // The clock set forward an hour, and no restart since.
      {XP, [] { winsim::StepSystemClock(DAY_MS / 24); }, QUIET, {}, EXIT_RESTART_REQUIRED, {}, true, false, OWED},
      // A durable key of the record's name would owe a restart at every start.
      {W7,
       [] {
         RestartedSince();
         winsim::SetRegistryString(HKEY_LOCAL_MACHINE, BOOT_RECORD_KEY, "Restart owed", installed::INSTALL_DIR);
       },
       L"/S", {}, EXIT_FINISHED, {}, true, false, NOT_OWED},
      {W7, [] { RestartedSince(), winsim::PutFile(SUPVER_PATH + ".bk0", "stale"); }, QUIET, {}, EXIT_FINISHED, {},
       true, false, NOT_OWED},
      {W7, [] { RestartedSince(), winsim::RemoveRegistryKey(HKEY_LOCAL_MACHINE, installed::FILTER_KEY); }, QUIET, {},
       EXIT_FINISHED, {}, true, false, NOT_OWED},
      {W7, [] { winsim::PutFile(SUPVER_PATH, OneByteChanged(winsim::FileBytes(SUPVER_PATH))); }, QUIET, {},
       EXIT_RESTART_REQUIRED, {}, false, false, "file SupVer.inf: does not hold its payload"},
      {W7, [] { winsim::SetRegistryString(HKEY_LOCAL_MACHINE, installed::ODRIX_KEY, "Products", "DVR-XD10J  KR300"); },
       QUIET, {}, EXIT_RESTART_REQUIRED, {}, false, false,
       "registry HKLM\\SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ODRIX \"Products\": does not hold the id"},
      {W7,
       [] {
         winsim::SetRegistryString(HKEY_LOCAL_MACHINE, "SOFTWARE\\ODRIX\\Carvella Maker Updater", "Update in progress",
                                   std::string(installed::INSTALL_DIR) + "|SupVer.inf:backup");
         winsim::PutFile(SUPVER_PATH + ".bk0", installed::OldContent("SupVer.inf"));
       },
       QUIET, {}, EXIT_RESTART_REQUIRED, {}, false, false,
       "file SupVer.inf: its old content is in its backup, as recorded by a run that did not end"},
      {W7, [] { winsim::MakeSymbolicLink(SUPVER_PATH, "C:\\payload.inf"); }, QUIET, {}, EXIT_STOPPED,
       {MSG_FILE_COPY_ERROR}, false, false, "file SupVer.inf: does not hold its payload (23: a link or a file with several names, not written through)"},
      {W7, MultiStringOdrixList, QUIET, {}, EXIT_STOPPED, {MSG_REGISTRY_ERROR}, false, false,
       "registry HKLM\\SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ODRIX \"Products\": not written (20: the "
       "value is of another type)"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << winsim::Utf8Of(row.commandLine) << ", expecting " << row.logLine);
    Install(0x09000000, row.windows);
    ASSERT_EQ(RunUpdater(QUIET), EXIT_RESTART_REQUIRED);
    winsim::PutFile("C:\\payload.inf", winsim::FileBytes(SUPVER_PATH));
    row.arrange();
    std::map<std::string, std::string> folder = installed::InstallFolder();
    folder.erase("SupVer.inf.bk0");
    const std::size_t managerAccesses = winsim::ServiceManagerAccesses().size();
    const std::size_t registryWrites = winsim::RegistrySetCalls().size();
    const auto fileWrites = [] {
      return winsim::CallCount("SetEndOfFile") +
             std::count_if(winsim::MoveLog().begin(), winsim::MoveLog().end(),
                           [](const std::pair<std::string, std::string>& move) {
                             return move.second.compare(move.second.size() - 4, 4, ".del") != 0;
                           });
    };
    const std::size_t writesBefore = fileWrites();
    winsim::ScriptAnswers(row.answers);
    EXPECT_EQ(RunUpdater((row.commandLine + std::wstring(L" /LOG=C:\\second.log")).c_str()), row.exitCode);
    EXPECT_EQ(Boxes(), row.boxes);
    const std::vector<std::string> lines = LogLines("C:\\second.log");
    EXPECT_NE(std::find(lines.begin(), lines.end(), row.logLine), lines.end()) << testing::PrintToString(lines);
    EXPECT_EQ(winsim::ExitWindowsCalls().size(), row.restart ? 1u : 0u);
    EXPECT_EQ(winsim::ServiceManagerAccesses().size() == managerAccesses, row.leftAlone);
    if (row.leftAlone) {
      EXPECT_EQ(installed::InstallFolder(), folder);
      EXPECT_EQ(winsim::RegistrySetCalls().size(), registryWrites);
      EXPECT_EQ(fileWrites(), writesBefore) << "a stale backup only leaves";
      EXPECT_EQ(ServiceStates(), ALL_RUNNING);
    }
    ExpectNothingLeftOpen();
  }
}

// What the README tells administrators to test on a PC: SupVer.inf holds the
// payload and both lists hold the id. Neither the marker file nor one list is
// a sign: a roll-back keeps a new marker file, and a failed registry step keeps
// the lists written before it. A backup left is no sign either way: a finished
// run that could not remove one would otherwise be run, and restart, again.
TEST_F(WholeRunTest, TheDetectionRuleTellsAnUpdatedPcFromOneThatIsNot) {
  const std::string supVer = std::string(installed::INSTALL_DIR) + "\\SupVer.inf";
  const auto multiStringList = [] {
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, installed::ODRIX_KEY, "Products", REG_MULTI_SZ,
                             std::string("DVR-XD10J  KR300") + '\0' + '\0');
  };
  const struct {
    const char* run;
    void (*arrange)(const std::string& supVer, void (*multiStringList)());
    int exitCode;
  } rows[] = {
      {"finished", [](const std::string&, void (*)()) {}, EXIT_FINISHED},
      {"rolled back after a failed write, the new marker file kept",
       [](const std::string& path, void (*)()) {
         winsim::PutFile(path, installed::OldContent("SupVer.inf"), FILE_ATTRIBUTE_READONLY);
       },
       EXIT_STOPPED},
      {"rolled back after the second list failed, the first list extended",
       [](const std::string&, void (*list)()) { list(); }, EXIT_STOPPED},
      {"as before, in a folder without SupVer.inf: the new one stays",
       [](const std::string& path, void (*list)()) {
         DeleteFileA(path.c_str());
         list();
       },
       EXIT_STOPPED},
      {"rolled back, but SupVer.inf could not be put back: its backup kept",
       [](const std::string&, void (*list)()) {
         list();
         winsim::FailCall("CopyFileExA", 4, ERROR_ACCESS_DENIED);  // three backups, then SupVer.inf restored first
       },
       EXIT_STOPPED},
  };
  for (const auto& row : rows) {
    Install(0x09000000);
    row.arrange(supVer, multiStringList);
    EXPECT_EQ(RunUpdater(L"/S"), row.exitCode) << row.run;
    bool listsHoldTheId = true;
    for (const char* vendor : {installed::ROVE_KEY, installed::ODRIX_KEY}) {
      winsim::RegistryValue list;
      listsHoldTheId = listsHoldTheId && winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, vendor, "Products", &list) &&
                       list.bytes.find(installed::PRODUCT_ID) != std::string::npos;
    }
    const bool looksUpdated =
        winsim::FileBytes(supVer) == installed::PayloadFor(version, "SupVer.inf") && listsHoldTheId;
    EXPECT_EQ(looksUpdated, row.exitCode == EXIT_FINISHED) << row.run;
    if (row.exitCode != EXIT_FINISHED) {
      EXPECT_TRUE(winsim::FileExists(std::string(installed::INSTALL_DIR) + "\\XVT-7Q2RN3.txt")) << row.run;
    }
  }
}

}  // namespace
