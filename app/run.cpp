#include "app/run.h"

#include <memory>
#include <new>

#include "app/updater.h"
#include "app/version.h"
#include "log/run_log.h"
#include "messages/message_box.h"
#include "messages/message_table.h"
#include "platform/scoped_handle.h"
#include "platform/system_functions.h"

constexpr char INSTANCE_MUTEX_NAME[] = "ODRIX Carvella Maker Update";

namespace {

constexpr wchar_t SHUTDOWN_PRIVILEGE[] = L"SeShutdownPrivilege";

#ifdef PAYLOAD_TEST_MARK
#define UPDATER_TITLE "ODRIX Carvella Maker Updater " UPDATER_VERSION_TEXT " (" PAYLOAD_TEST_MARK ")"
#else
#define UPDATER_TITLE "ODRIX Carvella Maker Updater " UPDATER_VERSION_TEXT
#endif

bool StopServices(const Updater& updater) {
  if (updater.StopControlService() && updater.StopCopyService() && updater.StopMonitorService()) return true;
  updater.ReportFailure(updater.MessageText(MSG_SERVICE_ERROR));
  return false;
}

bool StartServices(const Updater& updater) {
  if (updater.StartControlService() && updater.StartCopyService() && updater.StartMonitorService()) return true;
  updater.ReportFailure(updater.MessageText(MSG_SERVICE_ERROR));
  return false;
}

void RestartWindows(Updater& updater) {
  updater.EnablePrivilege(SHUTDOWN_PRIVILEGE);
  if (ExitWindowsEx(EWX_REBOOT, 0)) {
    updater.Note("restart requested: Windows is restarting");
    return;
  }
  // The restart only starts here; a refusal leaves the update in place, to be restarted by hand.
  updater.Note("restart requested: Windows refused it (error %u)", static_cast<unsigned>(GetLastError()));
  updater.ReportMessage(MSG_REBOOT_FAILED);
}

// Files are restored after a failed deployment or registration; the services stay stopped.
int UndoFiles(Updater& updater) {
  updater.RollBack();
  updater.DeleteBackups();
  return EXIT_STOPPED;
}

int RunStages(Updater& updater, const RunSwitches& switches) {
  if (!updater.CheckPreconditions()) return EXIT_STOPPED;
  updater.Configure();
  if (!updater.Ask(MSG_CONFIRM_ADD_DRIVE)) return EXIT_FINISHED;
  if (!StopServices(updater)) return EXIT_STOPPED;
  if (updater.CheckAppNotRunning() != 0) return EXIT_STOPPED;
  if (updater.DeployFiles() != 0) return UndoFiles(updater);
  if (updater.UpdateRegistry() != 0) return UndoFiles(updater);
  updater.DeleteBackups();
  // The caller restarts Windows when it sees fit; the application works again meanwhile.
  if (switches.noRestart) {
    updater.Note("restart left to the caller (/NORESTART)");
    return StartServices(updater) ? EXIT_RESTART_REQUIRED : EXIT_STOPPED;
  }
  if (updater.Ask(MSG_DONE_REBOOT_PROMPT)) {
    RestartWindows(updater);
    return EXIT_FINISHED;
  }
  updater.Note("restart declined");
  return StartServices(updater) ? EXIT_FINISHED : EXIT_STOPPED;
}

// A window station nobody sees takes no box at all, whatever the command
// line says; "/SUPPRESSMSGBOXES" takes away the silent run's failure boxes.
BoxRules BoxRulesFor(const RunSwitches& switches, bool stationVisible, const MessageTable& messageTable, RunLog* log) {
  const BYTE showUi = switches.silent ? 0 : 1;
  const BYTE suppressBoxes = !stationVisible || (switches.silent && switches.suppressBoxes) ? 1 : 0;
  return BoxRules{showUi, suppressBoxes, messageTable.CodePage(), log};
}

void LogRunKind(RunLog* log, const RunSwitches& switches, bool stationVisible, const MessageTable& messageTable) {
  const char* boxes = !stationVisible                               ? "none, the window station is not visible"
                      : switches.silent && switches.suppressBoxes ? "none (/SUPPRESSMSGBOXES)"
                      : switches.silent                             ? "failures only"
                                                                    : "every one";
  const char* language = messageTable.Language() == CATALOGUE_ENGLISH ? "English"
                         : messageTable.CodePage() == CP_ACP         ? "Japanese"
                                                                     : "Japanese, shown as Unicode";
  log->Format("%s run; boxes: %s; restart: %s; texts: %s", switches.silent ? "silent" : "interactive", boxes,
              switches.noRestart ? "left to the caller" : "at the end", language);
}

int Run(const RunSwitches& switches, RunLog* log) {
  const bool stationVisible = IsWindowStationVisible();
  // Loaded before the instance test, which may need a text; kept for the whole run.
  std::unique_ptr<MessageTable> messageTable(new (std::nothrow) MessageTable);
  if (!messageTable) return EXIT_STOPPED;
  messageTable->Load();
  const BoxRules boxes = BoxRulesFor(switches, stationVisible, *messageTable, log);
  LogRunKind(log, switches, stationVisible, *messageTable);

  // Held until the run ends, on every path.
  KernelHandle instance(CreateMutexA(nullptr, FALSE, INSTANCE_MUTEX_NAME));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    ShowBox(boxes, BOX_NOTICE, messageTable->Slot(MSG_ALREADY_RUNNING));
    return EXIT_STOPPED;
  }

  std::unique_ptr<Updater> updater(new (std::nothrow) Updater);
  if (!updater) return EXIT_STOPPED;
  updater->SetShowUi(boxes.showUi);
  updater->SetSuppressBoxes(boxes.suppressBoxes);
  updater->SetMessages(messageTable->Text());
  updater->SetMessageCodePage(boxes.textCodePage);
  updater->SetLog(log);
  return RunStages(*updater, switches);
}

}  // namespace

int RunUpdater(const wchar_t* commandLine) {
  RestrictDllSearchToSystemFolder();
  RunSwitches switches;
  ReadSwitches(commandLine, &switches);
  RunLog log;
  if (switches.log && switches.logPath[0] != L'\0') log.Open(switches.logPath);
  if (switches.log && switches.logPath[0] == L'\0') log.OpenInTemporaryFolder();
  log.Wide(UPDATER_TITLE ", command line: ", commandLine != nullptr ? commandLine : L"");
  const int exitCode = Run(switches, &log);
  log.Format("exit code %d", exitCode);
  return exitCode;
}
