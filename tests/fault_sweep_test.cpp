// No file lost: the whole silent update is run once clean to count its calls,
// then once per call of every file and registry function and per allocation,
// failing exactly that one; and once per call cut off there, the process
// killed or the power lost, followed by the run a deployment tool starts
// next, one that finishes and one that fails. Whatever fails, the runs keep
// their promises.
#include <sanitizer/lsan_interface.h>

#include <algorithm>
#include <csetjmp>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "app/run.h"
#include "messages/message_box.h"
#include "tests/installed_application.h"
#include "tests/machine_test.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/user.h"

namespace {

using installed::Windows;

const char* const SWEPT_FUNCTIONS[] = {
    "CreateFileA",   "WriteFile",    "ReadFile",      "DeleteFileA",     "SetFileAttributesA",
    "GetFileAttributesA", "GetFileInformationByHandle", "SetEndOfFile", "FlushFileBuffers", "SetFileTime",
    "MoveFileExA",   "RegFlushKey",  "RegDeleteValueA",
    "FindResourceW", "LoadResource", "LockResource",  "RegOpenKeyExA",   "RegCreateKeyExA",
    "RegQueryValueExA", "RegSetValueExA",
};

struct Configuration {
  DWORD version;
  Windows windows;
  // A backup of DrvClass.ini that some earlier failure left, with other bytes:
  // nothing may take it for this run's.
  bool staleBackup;
};

const Configuration CONFIGURATIONS[] = {
    {0x07000000, Windows::Xp32Bit, false},
    {0x09000000, Windows::Xp32Bit, false},
    {0x07000000, Windows::Windows7Wow64, false},
    {0x0A000000, Windows::Windows7Wow64, false},
};
// The crash sweep takes longest: its halves run side by side.
const Configuration CRASH_CONFIGURATIONS_XP[] = {
    {0x07000000, Windows::Xp32Bit, true},
    {0x09000000, Windows::Xp32Bit, false},
};
const Configuration CRASH_CONFIGURATIONS_WINDOWS_7[] = {
    {0x07000000, Windows::Windows7Wow64, false},
    {0x0A000000, Windows::Windows7Wow64, true},
};

void Install(const Configuration& configuration) {
  installed::Install(configuration.version, configuration.windows);
  if (configuration.staleBackup) {
    winsim::PutFile(std::string(installed::INSTALL_DIR) + "\\DrvClass.ini.bk0", "a stale backup of other bytes");
  }
}

std::jmp_buf endOfProcess;
[[noreturn]] void EndProcessHere() { std::longjmp(endOfProcess, 1); }

// A list is never cut short: it holds its old slots, with the id after them at most once.
void CheckListsWhole(bool mustBeExtended, std::vector<std::string>* broken) {
  for (const char* vendor : {installed::ROVE_KEY, installed::ODRIX_KEY}) {
    const std::string old = vendor == installed::ROVE_KEY ? installed::ROVE_PRODUCTS : installed::ODRIX_PRODUCTS;
    const std::string list = installed::ProductList(vendor);
    const bool extended = list == old + installed::PRODUCT_ID;
    if (list != old && !extended) broken->push_back(std::string(vendor) + " list became " + list);
    if (mustBeExtended && !extended) broken->push_back(std::string(vendor) + " list not extended");
  }
}

// Reports each broken promise of one sweep point; answers how many there were.
unsigned ReportBroken(const Configuration& configuration, const std::string& point,
                      const std::vector<std::string>& promises) {
  for (const std::string& promise : promises) {
    ADD_FAILURE() << std::hex << configuration.version << std::dec << " kind "
                  << static_cast<int>(configuration.windows) << ", " << point << ": " << promise;
  }
  return static_cast<unsigned>(promises.size());
}

// Every point of every configuration, each on a freshly installed application:
// `tryPoint` runs it, names it and answers the promises it broke.
template <typename Configurations, typename PointsOf, typename TryPoint>
void Sweep(const char* sweep, const char* points, const Configurations& configurations, PointsOf pointsOf,
           TryPoint tryPoint) {
  unsigned tried = 0;
  unsigned broken = 0;
  for (const Configuration& configuration : configurations) {
    for (const auto& point : pointsOf(configuration)) {
      Install(configuration);
      const std::map<std::string, std::string> before = installed::InstallFolder();
      std::string where;
      const std::vector<std::string> promises = tryPoint(configuration, point, before, &where);
      ++tried;
      broken += ReportBroken(configuration, where, promises);
    }
  }
  std::printf("%s: %u %s tried, %u promises broken\n", sweep, tried, points, broken);
  EXPECT_GT(tried, 200u);
}

void CheckNothingHeld(std::vector<std::string>* broken) {
  if (winsim::OpenHandleCount() != 0) broken->push_back(std::to_string(winsim::OpenHandleCount()) + " handles open");
  if (winsim::LiveLocalAllocations() != 0) broken->push_back("LocalAlloc block not freed");
}

class FaultSweepTest : public MachineTest {
 protected:
  // A fault point: which call fails, and how.
  struct Fault {
    std::string what;
    void (*inject)(const char* function, unsigned nth);
    const char* function;
    unsigned nth;
  };

  static void FailOnce(const char* function, unsigned nth) { winsim::FailCall(function, nth, ERROR_ACCESS_DENIED); }
  static void StopWriteHalfWay(const char*, unsigned nth) { winsim::StopWritePartWay(nth, 100, ERROR_HANDLE_DISK_FULL); }
  static void FailAllocation(const char*, unsigned nth) { winsim::FailAllocation(nth); }
  // The first product list cannot be written, and the nth rename of the run,
  // one of the roll-back's, is refused.
  static void RefuseRollBackRename(const char*, unsigned nth) {
    winsim::FailCall("RegSetValueExA", firstListWrite, ERROR_ACCESS_DENIED);
    winsim::FailCall("MoveFileExA", nth, ERROR_ACCESS_DENIED);
  }
  static unsigned firstListWrite;

  std::vector<Fault> FaultPoints(const Configuration& configuration) {
    Install(configuration);
    EXPECT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
    std::vector<Fault> faults;
    for (const char* function : SWEPT_FUNCTIONS) {
      for (unsigned nth = 1; nth <= winsim::CallCount(function); ++nth) {
        faults.push_back(Fault{function, &FailOnce, function, nth});
      }
    }
    for (unsigned nth = 1; nth <= winsim::CallCount("WriteFile"); ++nth) {
      faults.push_back(Fault{"WriteFile part-way", &StopWriteHalfWay, "WriteFile", nth});
    }
    for (unsigned nth = 1; nth <= winsim::AllocationCount(); ++nth) {
      faults.push_back(Fault{"allocation", &FailAllocation, "", nth});
    }
    const std::vector<winsim::RegistrySetCall>& sets = winsim::RegistrySetCalls();
    firstListWrite = 1;
    while (firstListWrite <= sets.size() && sets[firstListWrite - 1].valueName != "Products") ++firstListWrite;
    const unsigned backups = winsim::CallCount("MoveFileExA");
    for (unsigned nth = backups + 1; nth <= 2 * backups; ++nth) {
      faults.push_back(Fault{"registry error, then roll-back rename", &RefuseRollBackRename, "MoveFileExA", nth});
    }
    return faults;
  }

  // Where in the call log of the run the injected fault struck.
  static std::size_t FaultPosition(const Fault& fault) {
    if (fault.function[0] == '\0') return winsim::AllocationLogPosition(fault.nth);
    const std::vector<std::string>& log = winsim::CallLog();
    unsigned seen = 0;
    for (std::size_t i = 0; i < log.size(); ++i) {
      if (log[i] == fault.function && ++seen == fault.nth) return i;
    }
    return log.size();
  }

  static std::size_t LastChangePosition() {
    const std::vector<std::string>& log = winsim::CallLog();
    for (std::size_t i = log.size(); i-- > 0;) {
      if (log[i] == "CopyFileExA" || log[i] == "WriteFile" || log[i] == "RegSetValueExA") return i;
    }
    return 0;
  }

  // What the clean run never does, whichever single call fails: each broken promise, described.
  std::vector<std::string> BrokenPromises(const Configuration& configuration, const Fault& fault, int exitCode,
                                          const std::map<std::string, std::string>& before) {
    std::vector<std::string> broken;
    if (exitCode != EXIT_FINISHED && exitCode != EXIT_STOPPED) broken.push_back("exit code " + std::to_string(exitCode));

    const auto& boxes = winsim::MessageBoxes();
    if (boxes.size() > 1) broken.push_back(std::to_string(boxes.size()) + " boxes");
    for (const winsim::MessageBoxRecord& box : boxes) {
      const bool failureBox = box.text.compare(0, 18, "File copy error. [") == 0 ||
                              box.text == Text(MSG_REGISTRY_ERROR) ||
                              box.text.compare(0, 21, "Service Stop error. [") == 0;
      if (!failureBox) broken.push_back("silent run showed: " + box.text);
    }

    const std::map<std::string, std::string> after = installed::InstallFolder();
    const std::vector<std::string> dataFiles = installed::DataFiles(configuration.windows);
    for (const auto& file : before) {
      const bool dataFile = std::find(dataFiles.begin(), dataFiles.end(), file.first) != dataFiles.end();
      auto found = after.find(file.first);
      if (found == after.end()) {
        broken.push_back(file.first + " lost");
      } else if ((exitCode != EXIT_FINISHED || !dataFile) && found->second != file.second) {
        broken.push_back(file.first + " does not hold its old bytes");
      }
    }
    // A backup may stay only when removing that very backup was what failed:
    // the fault came after the last file or registry change of the run.
    const bool removalFailed = FaultPosition(fault) > LastChangePosition();
    for (const std::string& name : dataFiles) {
      auto found = after.find(name);
      if (exitCode == EXIT_FINISHED &&
          (found == after.end() || found->second != installed::PayloadFor(configuration.version, name))) {
        broken.push_back(name + " does not hold its payload after success");
      }
      if (!removalFailed && after.count(name + ".bk0") != 0) broken.push_back(name + ".bk0 left behind");
    }

    CheckListsWhole(exitCode == EXIT_FINISHED, &broken);
    CheckNothingHeld(&broken);
    return broken;
  }
};

unsigned FaultSweepTest::firstListWrite = 0;

class CrashSweepTest : public MachineTest {
 public:
  // A power cut keeps what was durable and, of the changes after it, none or some.
  enum class Ending { Killed, PowerCutKeepingNothing, PowerCutKeepingSome };
  enum class Retry { Finishing, RegistryError, ReadOnlyLastRow };

  // A cut point: the process ends right before that call of the clean run,
  // optionally with the write just before it stopped after a few bytes; the
  // next run may be cut off too, at the given call of its own (0: not); then
  // the last run, on a machine where it finishes or fails.
  struct CutPoint {
    std::string what;
    std::size_t beforeCall;
    unsigned shortWrite;
    Ending ending;
    std::size_t retryCutAt;
    Ending retryEnding;
    Retry retry;
    unsigned seed;  // chooses what a power cut that keeps some changes keeps
  };

  static std::vector<CutPoint> CutPoints(const Configuration& configuration) {
    Install(configuration);
    EXPECT_EQ(RunUpdater(L"/S"), EXIT_FINISHED);
    const std::vector<std::string> log = winsim::CallLog();
    unsigned writes = 0;
    std::vector<CutPoint> cuts;
    for (std::size_t call = 1; call <= log.size(); ++call) {
      const std::string before = "before call " + std::to_string(call) + " " + log[call - 1];
      cuts.push_back(CutPoint{before, call, 0, Ending::Killed, 0, Ending::Killed, Retry::Finishing, 0});
      if (log[call - 1] == "WriteFile" && call < log.size()) {
        ++writes;
        const std::string inside = "inside WriteFile #" + std::to_string(writes);
        cuts.push_back(CutPoint{inside, call + 1, writes, Ending::Killed, 0, Ending::Killed, Retry::Finishing, 0});
      }
    }
    std::vector<CutPoint> points;
    auto add = [&points](CutPoint point, Ending ending, Retry retry) {
      point.ending = ending;
      point.retry = retry;
      point.seed = static_cast<unsigned>(points.size());
      points.push_back(point);
    };
    for (std::size_t i = 0; i < cuts.size(); ++i) {
      // Each cut meets both ways to fail, every other one.
      const Retry failing = i % 2 == 0 ? Retry::RegistryError : Retry::ReadOnlyLastRow;
      for (Ending ending : {Ending::Killed, Ending::PowerCutKeepingNothing}) {
        add(cuts[i], ending, Retry::Finishing);
        add(cuts[i], ending, failing);
      }
      add(cuts[i], Ending::PowerCutKeepingSome, i % 3 == 0 ? Retry::Finishing : failing);
      // The next run is cut off too, somewhere in a run as long as the clean one.
      CutPoint twice = cuts[i];
      twice.retryCutAt = 1 + (i * 7919) % log.size();
      twice.retryEnding = i % 2 == 0 ? Ending::Killed : Ending::PowerCutKeepingNothing;
      add(twice, i % 4 == 0 ? Ending::PowerCutKeepingSome : Ending::PowerCutKeepingNothing,
          i % 3 == 1 ? failing : Retry::Finishing);
    }
    return points;
  }

  // The silent update, ended as by a power loss: no destructor and no further
  // call runs, and Windows takes back what the process held. Its heap goes
  // with it, so what it still held there is no leak of the product's.
  static void RunCutOff(std::size_t beforeCall, unsigned shortWrite, Ending ending, unsigned seed) {
    if (shortWrite != 0) winsim::StopWritePartWay(shortWrite, SHORT_WRITE_BYTES, ERROR_HANDLE_DISK_FULL);
    winsim::EndProcessBeforeCall(winsim::CallLog().size() + beforeCall, &EndProcessHere);
    __lsan_disable();
    if (setjmp(endOfProcess) == 0) RunUpdater(L"/S");
    __lsan_enable();
    const std::size_t pending = winsim::ChangesNotOnDisk();
    if (ending == Ending::Killed) {
      winsim::EndProcess();
    } else {
      winsim::CutPower(ending == Ending::PowerCutKeepingSome && pending != 0 ? 1 + seed % pending : 0);
    }
  }

  // Right after a cut: no old content is gone, in place or in its backup,
  // and nothing else of the folder changed. A file new to the folder may be
  // cut short: it had no old content to lose. Without a record naming the
  // files, they are the old ones or the new ones, not a mix, and with the new
  // ones the lists hold the id.
  static std::vector<std::string> BrokenAfterCut(const Configuration& configuration,
                                                 const std::map<std::string, std::string>& before) {
    std::vector<std::string> broken;
    const std::map<std::string, std::string> after = installed::InstallFolder();
    auto bytesOf = [](const std::map<std::string, std::string>& folder, const std::string& name, std::string* bytes) {
      auto found = folder.find(name);
      if (found != folder.end()) *bytes = found->second;
      return found != folder.end();
    };
    std::vector<std::string> expected;
    bool allOld = true;
    bool allNew = true;
    for (const std::string& name : installed::DataFiles(configuration.windows)) {
      expected.push_back(name);
      expected.push_back(name + ".bk0");
      expected.push_back(name + ".bk0.tmp");
      expected.push_back(name + ".bk0.del");
      const std::string payload = installed::PayloadFor(configuration.version, name);
      std::string old, now, backup;
      const bool existed = bytesOf(before, name, &old);
      const bool exists = bytesOf(after, name, &now);
      const bool backedUp = bytesOf(after, name + ".bk0", &backup) && existed && backup == old;
      const bool intact = existed ? exists && now == old : !exists;
      const bool newAndPartOfPayload = !existed && exists && payload.compare(0, now.size(), now) == 0;
      if (!intact && !(exists && now == payload) && !backedUp && !newAndPartOfPayload) {
        broken.push_back(name + " holds neither its old bytes nor its payload, and no backup of them");
      }
      allOld = allOld && (intact || (!existed && exists && now == payload));
      allNew = allNew && exists && now == payload;
    }
    for (const auto& file : before) {
      if (std::find(expected.begin(), expected.end(), file.first) == expected.end() &&
          (after.count(file.first) == 0 || after.at(file.first) != file.second)) {
        broken.push_back(file.first + " changed");
      }
    }
    for (const auto& file : after) {
      if (before.count(file.first) == 0 && std::find(expected.begin(), expected.end(), file.first) == expected.end()) {
        broken.push_back(file.first + " appeared");
      }
    }
    if (!FilesRecorded() && !allOld && !allNew) broken.push_back("no record, and the files are neither old nor new");
    CheckListsWhole(!FilesRecorded() && allNew && !allOld, &broken);
    return broken;
  }

  // The run after the cut finishes the update and leaves nothing behind.
  static std::vector<std::string> BrokenAfterRerun(const Configuration& configuration, int exitCode,
                                                   std::size_t boxesBefore) {
    std::vector<std::string> broken;
    if (exitCode != EXIT_FINISHED) broken.push_back("next run ended with " + std::to_string(exitCode));
    if (winsim::MessageBoxes().size() != boxesBefore) broken.push_back("next run showed a box");
    const std::map<std::string, std::string> after = installed::InstallFolder();
    for (const std::string& name : installed::DataFiles(configuration.windows)) {
      auto found = after.find(name);
      if (found == after.end() || found->second != installed::PayloadFor(configuration.version, name)) {
        broken.push_back(name + " does not hold its payload after the next run");
      }
      if (after.count(name + ".bk0") != 0) broken.push_back(name + ".bk0 left after the next run");
      for (const char* suffix : {".bk0.tmp", ".bk0.del"}) {
        if (after.count(name + suffix) != 0) broken.push_back(name + suffix + " left after the next run");
      }
    }
    if (winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, RECORD_KEY)) broken.push_back("the record's key stays");
    CheckListsWhole(true, &broken);
    CheckNothingHeld(&broken);
    return broken;
  }

  // No record at all, the files hold their payload and the lists the id.
  static bool UpdateInPlace(const Configuration& configuration) {
    winsim::RegistryValue record;
    if (winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, RECORD_KEY, "Update in progress", &record)) return false;
    const std::map<std::string, std::string> folder = installed::InstallFolder();
    for (const std::string& name : installed::DataFiles(configuration.windows)) {
      auto found = folder.find(name);
      if (found == folder.end() || found->second != installed::PayloadFor(configuration.version, name)) return false;
    }
    std::vector<std::string> notExtended;
    CheckListsWhole(true, &notExtended);
    return notExtended.empty();
  }

  // Whether the record names a data file; the services a failed run keeps
  // stopped it may name until a run starts them again.
  static bool FilesRecorded() {
    winsim::RegistryValue record;
    return winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, RECORD_KEY, "Update in progress", &record) &&
           (record.bytes.find(":backup") != std::string::npos || record.bytes.find(":absent") != std::string::npos);
  }

  // The next run fails: the filter driver's list cannot take the id, or the
  // last data file has been made read-only.
  static void ArrangeFailure(const Configuration& configuration, Retry retry) {
    if (retry == Retry::RegistryError) {
      winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, installed::ODRIX_KEY, "Products", REG_MULTI_SZ,
                               std::string(installed::ODRIX_PRODUCTS) + '\0' + '\0');
    } else {
      const std::string last =
          std::string(installed::INSTALL_DIR) + "\\" + installed::DataFiles(configuration.windows).back();
      if (winsim::FileExists(last)) winsim::PutFile(last, winsim::FileBytes(last), FILE_ATTRIBUTE_READONLY);
    }
  }

  // After the failing run every file holds the content it had before the
  // update (kept), or its backup does and the log names that backup; nothing
  // else is left, and the record only while it names such a backup.
  static std::vector<std::string> BrokenAfterFailingRerun(const Configuration& configuration, int exitCode,
                                                          const std::map<std::string, std::string>& before) {
    std::vector<std::string> broken;
    if (exitCode != EXIT_STOPPED) broken.push_back("failing run ended with " + std::to_string(exitCode));
    const std::map<std::string, std::string> after = installed::InstallFolder();
    const std::string log = winsim::FileBytes(RETRY_LOG);
    bool kept = false;
    for (const std::string& name : installed::DataFiles(configuration.windows)) {
      auto old = before.find(name);
      auto now = after.find(name);
      auto backup = after.find(name + ".bk0");
      const bool named = log.find("file " + name + ": not put back") != std::string::npos &&
                         log.find("its backup kept") != std::string::npos;
      const bool inBackup = old != before.end() && backup != after.end() && backup->second == old->second && named;
      const bool inPlace = old == before.end() || (now != after.end() && now->second == old->second);
      if (!inPlace && !inBackup) broken.push_back(name + " lost its old content");
      if (backup != after.end() && !inBackup) broken.push_back(name + ".bk0 left behind");
      for (const char* suffix : {".bk0.tmp", ".bk0.del"}) {
        if (after.count(name + suffix) != 0) broken.push_back(name + suffix + " left behind");
      }
      kept = kept || inBackup;
    }
    if (FilesRecorded() != kept) broken.push_back(kept ? "the record is gone" : "the record stays");
    CheckNothingHeld(&broken);
    return broken;
  }

  static constexpr char RECORD_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker Updater";
  static constexpr char RETRY_LOG[] = "C:\\retry.log";

  static constexpr DWORD SHORT_WRITE_BYTES = 5;
};

TEST_F(FaultSweepTest, EverySingleFileRegistryOrAllocationFaultKeepsTheFilesSafe) {
  Sweep("fault sweep", "fault points", CONFIGURATIONS,
        [this](const Configuration& configuration) { return FaultPoints(configuration); },
        [this](const Configuration& configuration, const Fault& fault, const std::map<std::string, std::string>& before,
               std::string* point) {
          fault.inject(fault.function, fault.nth);
          const int exitCode = RunUpdater(L"/S");
          *point = fault.what + " #" + std::to_string(fault.nth) + " failing, exit " + std::to_string(exitCode);
          return BrokenPromises(configuration, fault, exitCode, before);
        });
}

template <typename Configurations>
void CrashSweep(const char* name, const Configurations& configurations) {
  Sweep(name,
        "cuts (each cut point killed and as power cuts that keep none or some of the unsure changes, the next run "
        "cut off too or not, then a finishing or a failing run)",
        configurations, &CrashSweepTest::CutPoints,
        [](const Configuration& configuration, const CrashSweepTest::CutPoint& cut, const std::map<std::string, std::string>& before,
           std::string* point) {
          // Without a record of the files, the update was either undone or
          // finished: what the folder holds then is the old content of the
          // next run, which it must keep.
          std::map<std::string, std::string> old = before;
          CrashSweepTest::RunCutOff(cut.beforeCall, cut.shortWrite, cut.ending, cut.seed);
          std::vector<std::string> promises = CrashSweepTest::BrokenAfterCut(configuration, old);
          if (!CrashSweepTest::FilesRecorded()) old = installed::InstallFolder();
          if (cut.retryCutAt != 0) {
            CrashSweepTest::RunCutOff(cut.retryCutAt, 0, cut.retryEnding, cut.seed);
            const std::vector<std::string> again = CrashSweepTest::BrokenAfterCut(configuration, old);
            promises.insert(promises.end(), again.begin(), again.end());
            if (!CrashSweepTest::FilesRecorded()) old = installed::InstallFolder();
          }
          const std::size_t boxes = winsim::MessageBoxes().size();
          std::vector<std::string> later;
          if (cut.retry == CrashSweepTest::Retry::Finishing) {
            later = CrashSweepTest::BrokenAfterRerun(configuration, RunUpdater(L"/S"), boxes);
          } else {
            // A read-only file that holds the update already fails nothing: that run leaves the PC alone.
            const bool inPlace = cut.retry == CrashSweepTest::Retry::ReadOnlyLastRow &&
                                 CrashSweepTest::UpdateInPlace(configuration);
            CrashSweepTest::ArrangeFailure(configuration, cut.retry);
            const int exitCode = RunUpdater(L"/S /LOG=C:\\retry.log");
            later = inPlace ? CrashSweepTest::BrokenAfterRerun(configuration, exitCode, boxes)
                            : CrashSweepTest::BrokenAfterFailingRerun(configuration, exitCode, old);
          }
          promises.insert(promises.end(), later.begin(), later.end());
          const char* endings[] = {"killed", "power cut keeping nothing unsure", "power cut keeping some"};
          const char* retries[] = {"finishing", "failing at the registry", "failing at a read-only last row"};
          *point = "cut " + cut.what + ", " + endings[static_cast<int>(cut.ending)] +
                   (cut.retryCutAt == 0 ? std::string()
                                        : ", next run cut before its call " + std::to_string(cut.retryCutAt) + ", " +
                                              endings[static_cast<int>(cut.retryEnding)]) +
                   ", then " + retries[static_cast<int>(cut.retry)];
          return promises;
        });
}

TEST_F(CrashSweepTest, AnUpdateCutOffAtAnyCallLosesNothingWhetherTheNextRunFinishesOrFailsOnXp) {
  CrashSweep("crash sweep, Windows XP", CRASH_CONFIGURATIONS_XP);
}

TEST_F(CrashSweepTest, AnUpdateCutOffAtAnyCallLosesNothingWhetherTheNextRunFinishesOrFailsOnWindows7) {
  CrashSweep("crash sweep, Windows 7", CRASH_CONFIGURATIONS_WINDOWS_7);
}

}  // namespace
