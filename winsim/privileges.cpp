// Privileges of the process token. Like Windows, AdjustTokenPrivileges
// succeeds even when the account lacks a requested privilege and says so
// only through ERROR_NOT_ALL_ASSIGNED.
#include "winsim/privileges.h"

#include <stdexcept>

#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/token.h"

namespace winsim {
namespace {

struct Privilege {
  const char* name;
  DWORD id;
  bool held;
  bool enabled;
};

// The ids are those of Windows; an administrator's token as a fresh machine has it.
const Privilege FRESH_PRIVILEGES[] = {
    {"SeCreateTokenPrivilege", 2, false, false},  {"SeSecurityPrivilege", 8, true, false},
    {"SeTakeOwnershipPrivilege", 9, true, false}, {"SeBackupPrivilege", 17, true, false},
    {"SeRestorePrivilege", 18, true, false},      {"SeShutdownPrivilege", 19, true, false},
    {"SeDebugPrivilege", 20, true, false},        {"SeChangeNotifyPrivilege", 23, true, true},
    {"SeRemoteShutdownPrivilege", 24, true, false},
};

struct PrivilegeState {
  std::vector<Privilege> privileges{std::begin(FRESH_PRIVILEGES), std::end(FRESH_PRIVILEGES)};
  std::vector<PrivilegeLookup> lookups;
  std::vector<PrivilegeAdjustment> adjustments;
};

PrivilegeState& Privileges() {
  static PrivilegeState state;
  return state;
}

void ResetPrivileges() { Privileges() = PrivilegeState(); }
ResetHook resetPrivileges(&ResetPrivileges);

// Privilege names compare without regard to case.
Privilege* FindByName(const std::string& name) {
  const std::string wanted = LowerCase(name);
  for (Privilege& privilege : Privileges().privileges) {
    if (LowerCase(privilege.name) == wanted) return &privilege;
  }
  return nullptr;
}

Privilege* FindById(const LUID& id) {
  for (Privilege& privilege : Privileges().privileges) {
    if (id.HighPart == 0 && id.LowPart == privilege.id) return &privilege;
  }
  return nullptr;
}

std::string Narrow(LPCWSTR text) {
  std::string narrow;
  for (const WCHAR* c = text; c != nullptr && *c != 0; ++c) narrow += *c < 0x80 ? static_cast<char>(*c) : '?';
  return narrow;
}

}  // namespace

void HoldPrivilege(const char* name, bool held) {
  Privilege* privilege = FindByName(name);
  if (privilege == nullptr) throw std::invalid_argument(std::string("unknown privilege: ") + name);
  privilege->held = held;
  privilege->enabled = privilege->enabled && held;
}

bool PrivilegeEnabled(const char* name) {
  const Privilege* privilege = FindByName(name);
  return privilege != nullptr && privilege->enabled;
}

LUID PrivilegeId(const char* name) {
  const Privilege* privilege = FindByName(name);
  return LUID{privilege != nullptr ? privilege->id : 0, 0};
}

const std::vector<PrivilegeLookup>& PrivilegeLookups() { return Privileges().lookups; }
const std::vector<PrivilegeAdjustment>& PrivilegeAdjustments() { return Privileges().adjustments; }

}  // namespace winsim

BOOL WINAPI LookupPrivilegeValueW(LPCWSTR systemName, LPCWSTR name, PLUID luid) {
  if (winsim::Faulted("LookupPrivilegeValueW")) return FALSE;
  const std::string narrow = winsim::Narrow(name);
  winsim::Privileges().lookups.push_back(
      winsim::PrivilegeLookup{systemName == nullptr || *systemName == 0, narrow});
  const winsim::Privilege* privilege = winsim::FindByName(narrow);
  if (privilege == nullptr || name == nullptr || luid == nullptr) {
    SetLastError(ERROR_NO_SUCH_PRIVILEGE);
    return FALSE;
  }
  *luid = LUID{privilege->id, 0};
  return TRUE;
}

BOOL WINAPI AdjustTokenPrivileges(HANDLE token, BOOL disableAll, PTOKEN_PRIVILEGES newState, DWORD bufferLength,
                                  PTOKEN_PRIVILEGES previousState, PDWORD returnLength) {
  if (winsim::Faulted("AdjustTokenPrivileges")) return FALSE;
  winsim::PrivilegeAdjustment call{winsim::TokenAccess(token), disableAll, {}, 0, bufferLength,
                                   previousState != nullptr, returnLength != nullptr};
  if (newState != nullptr) {
    call.requestCount = newState->PrivilegeCount;
    call.request.assign(newState->Privileges, newState->Privileges + newState->PrivilegeCount);
  }
  winsim::Privileges().adjustments.push_back(call);

  if (!winsim::IsHandleOfKind(token, winsim::HandleKind::Token)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  const DWORD needed = (previousState != nullptr ? TOKEN_QUERY : 0) | TOKEN_ADJUST_PRIVILEGES;
  if ((call.tokenAccess & needed) != needed) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (disableAll) {
    for (winsim::Privilege& privilege : winsim::Privileges().privileges) privilege.enabled = false;
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  if (newState == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }

  // Only privileges the account holds change; the previous state lists those that do.
  bool allAssigned = true;
  std::vector<LUID_AND_ATTRIBUTES> changed;
  for (const LUID_AND_ATTRIBUTES& entry : call.request) {
    const winsim::Privilege* privilege = winsim::FindById(entry.Luid);
    if (privilege == nullptr || !privilege->held) {
      allAssigned = false;
      continue;
    }
    const bool enable = (entry.Attributes & SE_PRIVILEGE_ENABLED) != 0;
    if (enable != privilege->enabled) {
      changed.push_back(LUID_AND_ATTRIBUTES{entry.Luid, privilege->enabled ? static_cast<DWORD>(SE_PRIVILEGE_ENABLED) : 0});
    }
  }
  if (previousState != nullptr) {
    const DWORD length =
        static_cast<DWORD>(sizeof(DWORD) + (changed.empty() ? 1 : changed.size()) * sizeof(LUID_AND_ATTRIBUTES));
    if (returnLength != nullptr) *returnLength = length;
    if (bufferLength < length) {
      SetLastError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    previousState->PrivilegeCount = static_cast<DWORD>(changed.size());
    LUID_AND_ATTRIBUTES* previous = previousState->Privileges;
    for (std::size_t i = 0; i < changed.size(); ++i) previous[i] = changed[i];
  }
  // Each changed privilege flips from the state recorded as its previous one.
  for (const LUID_AND_ATTRIBUTES& entry : changed) {
    winsim::FindById(entry.Luid)->enabled = (entry.Attributes & SE_PRIVILEGE_ENABLED) == 0;
  }
  SetLastError(allAssigned ? ERROR_SUCCESS : ERROR_NOT_ALL_ASSIGNED);
  return TRUE;
}
