// Switching a privilege on in the updater's own token, for the restart.
#include "app/updater.h"
#include "platform/scoped_handle.h"

namespace {

constexpr DWORD TOKEN_ACCESS = TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY;
static_assert(sizeof(TOKEN_PRIVILEGES) == 16, "one privilege: count, id, attributes");

}  // namespace

// Nothing is reported: a privilege that stays off shows up as a refused
// restart. Without the privilege's id no adjustment is asked for at all, so
// no other privilege can be switched on by mistake.
void Updater::EnablePrivilege(const wchar_t* privilegeName) {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ACCESS, token.Receive())) return;
  TOKEN_PRIVILEGES request = {};
  if (LookupPrivilegeValueW(nullptr, privilegeName, &request.Privileges[0].Luid)) {
    request.PrivilegeCount = 1;
    request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous = {};
    DWORD previousLength = 0;
    AdjustTokenPrivileges(token.Get(), FALSE, &request, sizeof(previous), &previous, &previousLength);
  }
}
