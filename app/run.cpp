#include "app/run.h"

#include <memory>
#include <new>

#include "app/updater.h"
#include "messages/message_box.h"
#include "messages/message_table.h"
#include "platform/scoped_handle.h"
#include "platform/system_functions.h"

constexpr char INSTANCE_MUTEX_NAME[] = "ODRIX Carvella Maker Update";

namespace {

constexpr wchar_t SHUTDOWN_PRIVILEGE[] = L"SeShutdownPrivilege";

// The entry point's own boxes: OK/Cancel counts as consent only for IDOK,
// and a silent run answers OK.
bool UserAgrees(const Updater& updater, int slot) {
  if (!updater.showUi) return true;
  return ShowMessageBox(updater.MessageText(slot), MB_OKCANCEL) == IDOK;
}

bool StopServices(Updater& updater) {
  return updater.StopControlService() && updater.StopCopyService() && updater.StopMonitorService();
}

bool StartServices(Updater& updater) {
  return updater.StartControlService() && updater.StartCopyService() && updater.StartMonitorService();
}

void RestartWindows(Updater& updater) {
  updater.EnablePrivilege(SHUTDOWN_PRIVILEGE);
  // The restart only starts here; a refusal leaves the update in place, to be restarted by hand.
  if (!ExitWindowsEx(EWX_REBOOT, 0)) updater.ReportMessage(MSG_REBOOT_FAILED);
}

// Files are restored after a failed deployment or registration; the services stay stopped.
int UndoFiles(Updater& updater) {
  updater.RollBack();
  updater.DeleteBackups();
  return EXIT_STOPPED;
}

int RunStages(Updater& updater) {
  if (!updater.CheckPreconditions()) return EXIT_STOPPED;
  updater.Configure();
  if (!UserAgrees(updater, MSG_CONFIRM_ADD_DRIVE)) return EXIT_FINISHED;
  if (!StopServices(updater)) {
    ShowMessageBox(updater.MessageText(MSG_SERVICE_ERROR), MB_OK);
    return EXIT_STOPPED;
  }
  if (updater.CheckAppNotRunning() != 0) return EXIT_STOPPED;
  if (updater.DeployFiles() != 0) return UndoFiles(updater);
  if (updater.UpdateRegistry() != 0) return UndoFiles(updater);
  updater.DeleteBackups();
  if (UserAgrees(updater, MSG_DONE_REBOOT_PROMPT)) {
    RestartWindows(updater);
    return EXIT_FINISHED;
  }
  if (!StartServices(updater)) {
    ShowMessageBox(updater.MessageText(MSG_SERVICE_ERROR), MB_OK);
    return EXIT_STOPPED;
  }
  return EXIT_FINISHED;
}

}  // namespace

bool IsSilentRun(const wchar_t* commandLine) {
  if (commandLine == nullptr || commandLine[0] != L'/') return false;
  const ULONG_PTR letter = static_cast<ULONG_PTR>(static_cast<WORD>(commandLine[1]));
  // The high word of zero makes CharUpperW treat its argument as one character.
  return reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(letter))) == L'S';
}

int RunUpdater(const wchar_t* commandLine) {
  RestrictDllSearchToSystemFolder();
  const BYTE showUi = IsSilentRun(commandLine) ? 0 : 1;

  // Loaded before the instance test, which may need a text; kept for the whole run.
  std::unique_ptr<MessageTable> messageTable(new (std::nothrow) MessageTable);
  if (!messageTable) return EXIT_STOPPED;
  messageTable->Load();

  // Held until the run ends, on every path.
  KernelHandle instance(CreateMutexA(nullptr, FALSE, INSTANCE_MUTEX_NAME));
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    if (showUi) ShowMessageBox(messageTable->Slot(MSG_ALREADY_RUNNING), MB_OK);
    return EXIT_STOPPED;
  }

  std::unique_ptr<Updater> updater(new (std::nothrow) Updater);
  if (!updater) return EXIT_STOPPED;
  updater->SetShowUi(showUi);
  updater->SetMessages(messageTable->Text());
  return RunStages(*updater);
}
