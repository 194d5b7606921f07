#include "winsim/shutdown.h"

#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/privileges.h"

namespace winsim {
namespace {

struct ShutdownState {
  DWORD refusal = 0;
  std::vector<ExitWindowsCall> calls;
};

ShutdownState& Shutdown() {
  static ShutdownState state;
  return state;
}

void ResetShutdown() { Shutdown() = ShutdownState(); }
ResetHook resetShutdown(&ResetShutdown);

}  // namespace

void RefuseRestart(DWORD error) { Shutdown().refusal = error; }
const std::vector<ExitWindowsCall>& ExitWindowsCalls() { return Shutdown().calls; }

}  // namespace winsim

BOOL WINAPI ExitWindowsEx(UINT flags, DWORD reason) {
  winsim::ShutdownState& shutdown = winsim::Shutdown();
  shutdown.calls.push_back(winsim::ExitWindowsCall{flags, reason});
  if (winsim::Faulted("ExitWindowsEx")) return FALSE;
  if (shutdown.refusal != 0) {
    SetLastError(shutdown.refusal);
    return FALSE;
  }
  // Windows restarts only for a process that has enabled the shutdown privilege.
  if (!winsim::PrivilegeEnabled("SeShutdownPrivilege")) {
    SetLastError(ERROR_PRIVILEGE_NOT_HELD);
    return FALSE;
  }
  return TRUE;
}
