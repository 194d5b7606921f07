#include "winsim/token.h"

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {

DWORD TokenAccess(HANDLE token) {
  std::size_t access = 0;
  return FindHandle(token, HandleKind::Token, &access) ? static_cast<DWORD>(access) : 0;
}

}  // namespace winsim

BOOL WINAPI OpenProcessToken(HANDLE process, DWORD access, PHANDLE token) {
  if (winsim::Faulted("OpenProcessToken")) return FALSE;
  if (process != GetCurrentProcess() || token == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  *token = winsim::OpenHandle(winsim::HandleKind::Token, access);
  return TRUE;
}
