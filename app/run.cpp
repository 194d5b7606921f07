#include "app/run.h"

#include <memory>
#include <new>

#include "app/updater.h"
#include "app/version.h"
#include "log/result_words.h"
#include "log/run_log.h"
#include "messages/message_box.h"
#include "messages/message_table.h"
#include "platform/scoped_handle.h"
#include "platform/system_functions.h"

constexpr char INSTANCE_MUTEX_NAME[] = "ODRIX Carvella Maker Update";
constexpr char GLOBAL_INSTANCE_MUTEX_NAME[] = "Global\\ODRIX Carvella Maker Update (all sessions)";

namespace {

constexpr wchar_t SHUTDOWN_PRIVILEGE[] = L"SeShutdownPrivilege";
constexpr DWORD FIRST_MAJOR_VERSION_WITH_NAMESPACES = 5;  // Windows 2000

#ifdef PAYLOAD_TEST_MARK
#define UPDATER_TITLE "ODRIX Carvella Maker Updater " UPDATER_VERSION_TEXT " (" PAYLOAD_TEST_MARK ")"
#else
#define UPDATER_TITLE "ODRIX Carvella Maker Updater " UPDATER_VERSION_TEXT
#endif

// The box names the service that failed, in a silent run too.
void ReportServiceFailure(const Updater& updater, int slot, int service) {
  char text[MESSAGE_SLOT_SIZE + SERVICE_NAME_SIZE];
  wsprintfA(text, updater.MessageText(slot), APPLICATION_SERVICES[service].name);
  updater.ReportFailure(text);
}

// The service that did not stop, or NO_SERVICE when all of them did.
constexpr int NO_SERVICE = -1;
int StopServices(Updater& updater) {
  if (!updater.StopControlService()) return CONTROL_SERVICE;
  if (!updater.StopCopyService()) return COPY_SERVICE;
  return updater.StopMonitorService() ? NO_SERVICE : MONITOR_SERVICE;
}

bool StartServices(Updater& updater) {
  const int failed = !updater.StartControlService() ? CONTROL_SERVICE
                     : !updater.StartCopyService()  ? COPY_SERVICE
                     : !updater.StartMonitorService() ? MONITOR_SERVICE
                                                      : NO_SERVICE;
  if (failed != NO_SERVICE) ReportServiceFailure(updater, MSG_SERVICE_START_ERROR, failed);
  return failed == NO_SERVICE;
}

// A service that does not start now comes back with the next restart of
// Windows; the log names it.
void RestartStoppedServices(Updater& updater) {
  if (!updater.RestartStoppedServices()) updater.Note("a service stopped by this run is not running again");
}

void RestartWindows(Updater& updater) {
  updater.EnablePrivilege(SHUTDOWN_PRIVILEGE);
  if (ExitWindowsEx(EWX_REBOOT, 0)) {
    updater.Note("restart requested: Windows is restarting");
    return;
  }
  // The restart only starts here; a refusal leaves the update in place, to be restarted by hand.
  updater.Note("restart requested: Windows refused it (%s)",
               DescribeResult(static_cast<int>(GetLastError()), FROM_WINDOWS).text);
  updater.ReportMessage(MSG_REBOOT_FAILED);
}

// The restart question, which a silent run takes as answered OK; true when
// the restart was requested.
bool RestartIfAccepted(Updater& updater) {
  if (updater.Ask(MSG_DONE_REBOOT_PROMPT)) {
    RestartWindows(updater);
    return true;
  }
  updater.Note("restart declined");
  return false;
}

// An updated PC is left alone. Only the restart that it still waits for, if
// any, is asked for or left to the caller, as at the end of an update; the
// services that a run of this start of Windows left stopped run again
// where Windows does not restart.
int EndInPlace(Updater& updater, const RunSwitches& switches, bool restartOwed) {
  // Backups that a finished run could not remove are stale: no record names them.
  updater.DeleteBackups();
  if (restartOwed && !switches.noRestart) {
    if (!RestartIfAccepted(updater)) RestartStoppedServices(updater);
    return EXIT_FINISHED;
  }
  RestartStoppedServices(updater);
  if (restartOwed) updater.Note("restart left to the caller (/NORESTART)");
  updater.ReportMessage(MSG_ALREADY_ADDED);
  return restartOwed ? EXIT_RESTART_REQUIRED : EXIT_FINISHED;
}

// Files are restored after a failed deployment or registration.
int UndoFiles(Updater& updater) {
  updater.RollBack();
  updater.DeleteBackups();
  return EXIT_STOPPED;
}

// An ending after the stop sequence without the update: the application runs
// again as the run found it, in every kind of run, unless a file could not
// be put back: it must not run on a file that is neither the old one nor
// the new one.
int EndWithoutUpdate(Updater& updater, int exitCode) {
  if (updater.KeepsAnyBackup()) {
    updater.Note("services left stopped: a file could not be put back, its backup is kept beside it");
  } else {
    RestartStoppedServices(updater);
  }
  return exitCode;
}

int RunStages(Updater& updater, const RunSwitches& switches) {
  if (!updater.CheckPreconditions()) return EXIT_STOPPED;
  updater.Configure();
  bool restartOwed = false;
  if (updater.IsUpdateInPlace(&restartOwed)) return EndInPlace(updater, switches, restartOwed);
  if (!updater.Ask(MSG_CONFIRM_ADD_DRIVE)) return EXIT_FINISHED;
  // Nothing that can be told before the services are touched waits until after.
  const int retryLater = switches.noRestart ? EXIT_RETRY_LATER : EXIT_STOPPED;
  if (!updater.CheckRecord()) return EXIT_STOPPED;
  if (updater.CheckAppNotRunning() != 0) return retryLater;
  const int notStopped = StopServices(updater);
  if (notStopped != NO_SERVICE) {
    // The services that did stop run again before the box, which may wait for an answer.
    const int exitCode = EndWithoutUpdate(updater, retryLater);
    ReportServiceFailure(updater, MSG_SERVICE_ERROR, notStopped);
    return exitCode;
  }
  // The application may have been started while the services stopped.
  if (updater.CheckAppNotRunning() != 0) return EndWithoutUpdate(updater, retryLater);
  if (updater.DeployFiles() != 0) return EndWithoutUpdate(updater, UndoFiles(updater));
  if (updater.UpdateRegistry() != 0) return EndWithoutUpdate(updater, UndoFiles(updater));
  updater.DeleteBackups();
  // The caller restarts Windows when it sees fit; the application works again
  // meanwhile. The update is in place whatever a service does now, so no box
  // says that it was canceled.
  if (switches.noRestart) {
    updater.Note("restart left to the caller (/NORESTART)");
    RestartStoppedServices(updater);
    return EXIT_RESTART_REQUIRED;
  }
  if (RestartIfAccepted(updater)) return EXIT_FINISHED;
  return StartServices(updater) ? EXIT_FINISHED : EXIT_STOPPED;
}

// 0: the run holds the named mutex alone; ERROR_ALREADY_EXISTS: another
// process holds it too; any other code: it could not be created.
// A mutex that another account made, as a SYSTEM run's global one, may be
// there but refuse this run's access: it is held all the same.
DWORD HoldInstanceMutex(const char* name, KernelHandle* handle) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
  const DWORD error = GetLastError();
  handle->Reset(mutex);
  if (mutex == nullptr && error == ERROR_ACCESS_DENIED) return ERROR_ALREADY_EXISTS;
  if (mutex == nullptr) return error != ERROR_SUCCESS && error != ERROR_ALREADY_EXISTS ? error : ERROR_INVALID_HANDLE;
  return error == ERROR_ALREADY_EXISTS ? error : ERROR_SUCCESS;
}

// Windows NT 4.0 has no object namespaces, so no mutex name with a backslash,
// and no sessions to cross. A version that cannot be read has namespaces.
bool LacksObjectNamespaces() {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExW(&version) && version.dwMajorVersion < FIRST_MAJOR_VERSION_WITH_NAMESPACES;
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

// The stages on the one Updater, once the run knows it is alone.
int RunStagesAlone(const RunSwitches& switches, const BoxRules& boxes, const MessageTable& messageTable, RunLog* log) {
  std::unique_ptr<Updater> updater(new (std::nothrow) Updater);
  if (!updater) return EXIT_STOPPED;
  updater->SetShowUi(boxes.showUi);
  updater->SetSuppressBoxes(boxes.suppressBoxes);
  updater->SetMessages(messageTable.Text());
  updater->SetMessageCodePage(boxes.textCodePage);
  updater->SetLog(log);
  return RunStages(*updater, switches);
}

// A run without the log it was asked for could not account for what it changed.
int EndWithoutLog(const BoxRules& boxes, const MessageTable& messageTable) {
  ShowBox(boxes, BOX_NOTICE, messageTable.Slot(MSG_LOG_ERROR));
  return EXIT_LOG_FAILURE;
}

// The argument refused in quotes, so that its blanks show, and why.
void LogRefusal(const RunSwitches& switches, RunLog* log) {
  char tail[LOG_LINE_SIZE];
  wsprintfA(tail, "\" %s", switches.refusal);
  log->Wide("command line refused: \"", switches.refused, tail);
}

constexpr int RUN_GOES_ON = -1;

// What ends a run before it reads anything of the PC: a command line that is
// refused, a request for the usage, a log that cannot be opened. A log held
// open elsewhere may be held by a running copy, which the mutex tells.
int AnswerBeforeTheRun(const RunSwitches& switches, DWORD logError, const BoxRules& boxes,
                       const MessageTable& messageTable, RunLog* log) {
  if (switches.refusal != nullptr) LogRefusal(switches, log);
  if (switches.refusal != nullptr || switches.help) {
    ShowBox(boxes, BOX_NOTICE, messageTable.Slot(MSG_USAGE));
    return switches.refusal != nullptr ? EXIT_INVALID_COMMAND_LINE : EXIT_FINISHED;
  }
  if (logError != 0 && logError != ERROR_SHARING_VIOLATION) return EndWithoutLog(boxes, messageTable);
  return RUN_GOES_ON;
}

int Run(const RunSwitches& switches, DWORD logError, RunLog* log) {
  const bool stationVisible = IsWindowStationVisible();
  // Loaded before the instance test, which may need a text; kept for the whole run.
  std::unique_ptr<MessageTable> messageTable(new (std::nothrow) MessageTable);
  if (!messageTable) return EXIT_STOPPED;
  messageTable->Load();
  const BoxRules boxes = BoxRulesFor(switches, stationVisible, *messageTable, log);
  LogRunKind(log, switches, stationVisible, *messageTable);
  const int answered = AnswerBeforeTheRun(switches, logError, boxes, *messageTable, log);
  if (answered != RUN_GOES_ON) return answered;

  // Held until the run ends, on every path. The session's name keeps out a copy
  // of an earlier version; the global one, in every session another name, a
  // copy in another session; where there are no sessions, the first alone
  // does. A run unsure that it is alone touches nothing.
  KernelHandle instance;
  KernelHandle globalInstance;
  const char* mutexName = INSTANCE_MUTEX_NAME;
  DWORD held = HoldInstanceMutex(mutexName, &instance);
  if (held == ERROR_SUCCESS && !LacksObjectNamespaces()) {
    mutexName = GLOBAL_INSTANCE_MUTEX_NAME;
    held = HoldInstanceMutex(mutexName, &globalInstance);
  }
  if (held == ERROR_ALREADY_EXISTS) {
    log->Format("another copy of the updater holds \"%s\"", mutexName);
    ShowBox(boxes, BOX_NOTICE, messageTable->Slot(MSG_ALREADY_RUNNING));
    return switches.noRestart ? EXIT_RETRY_LATER : EXIT_STOPPED;
  }
  if (held != ERROR_SUCCESS) {
    log->Format("instance mutex \"%s\" could not be created (%s)", mutexName,
                DescribeResult(static_cast<int>(held), FROM_WINDOWS).text);
    return EXIT_STOPPED;
  }
  if (logError != 0) return EndWithoutLog(boxes, *messageTable);
  return RunStagesAlone(switches, boxes, *messageTable, log);
}

// Opens the log that the command line asks for and writes its first line;
// why the log is not written, or 0 when it is or none was asked for.
DWORD StartLog(const RunSwitches& switches, const wchar_t* commandLine, RunLog* log) {
  DWORD error = 0;
  if (switches.log == LOG_TO_FILE) error = log->OpenExpanded(switches.logPath);
  if (switches.log == LOG_IN_TEMPORARY_FOLDER) error = log->OpenInTemporaryFolder();
  if (switches.log == LOG_NAME_TOO_LONG) error = ERROR_FILENAME_EXCED_RANGE;
  log->Wide(UPDATER_TITLE ", command line: ", commandLine != nullptr ? commandLine : L"");
  // A file that takes no line, as on a full disk, is no log either.
  if (switches.log != LOG_NONE && error == 0 && !log->IsOpen()) error = ERROR_WRITE_FAULT;
  return error;
}

}  // namespace

int RunUpdater(const wchar_t* commandLine) {
  RestrictDllSearchToSystemFolder();
  RunSwitches switches;
  ReadSwitches(commandLine, &switches);
  RunLog log;
  const DWORD logError = StartLog(switches, commandLine, &log);
  const int exitCode = Run(switches, logError, &log);
  log.Format("exit code %d", exitCode);
  return exitCode;
}
