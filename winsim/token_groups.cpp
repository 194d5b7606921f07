// GetTokenInformation(TokenGroups) with the layout Windows uses: the count,
// the SID_AND_ATTRIBUTES array, then the SIDs themselves inside the same
// buffer; and the SID functions, counting what the program still holds.
#include "winsim/token_groups.h"

#include <cstring>
#include <set>
#include <vector>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct GroupEntry {
  std::vector<BYTE> sid;
  DWORD attributes;
};

struct TokenGroupsState {
  AdministratorsGroup administrators = AdministratorsGroup::Enabled;
  std::set<PSID> liveSids;
};

TokenGroupsState& Groups() {
  static TokenGroupsState state;
  return state;
}

void ResetTokenGroups() {
  for (PSID sid : Groups().liveSids) delete[] static_cast<BYTE*>(sid);
  Groups() = TokenGroupsState();
}
ResetHook resetTokenGroups(&ResetTokenGroups);

// AllocateAndInitializeSid takes eight sub-authorities at most.
const BYTE MOST_SUB_AUTHORITIES = 8;
// Revision, sub-authority count and the six bytes of the authority.
const DWORD SID_HEADER_SIZE = 8;
const DWORD GROUP_ENABLED = SE_GROUP_MANDATORY | SE_GROUP_ENABLED_BY_DEFAULT | SE_GROUP_ENABLED;
const SID_IDENTIFIER_AUTHORITY WORLD_AUTHORITY = SECURITY_WORLD_SID_AUTHORITY;
const SID_IDENTIFIER_AUTHORITY NT_AUTHORITY = SECURITY_NT_AUTHORITY;

std::vector<BYTE> MakeSid(const SID_IDENTIFIER_AUTHORITY& authority, const std::vector<DWORD>& subAuthorities) {
  std::vector<BYTE> sid{SID_REVISION, static_cast<BYTE>(subAuthorities.size())};
  sid.insert(sid.end(), authority.Value, authority.Value + 6);
  for (DWORD sub : subAuthorities) {
    for (int i = 0; i < 4; ++i) sid.push_back(static_cast<BYTE>((sub >> (8 * i)) & 0xFF));
  }
  return sid;
}

// A group of the machine's own domain.
std::vector<BYTE> DomainSid(DWORD rid) {
  return MakeSid(NT_AUTHORITY, {SECURITY_NT_NON_UNIQUE, 1004336348, 1177238915, 682003330, rid});
}

// A typical administrator's token; near misses of BUILTIN\Administrators
// (same domain, other alias; same alias number, other domain) come first.
std::vector<GroupEntry> TokenGroupList() {
  std::vector<GroupEntry> groups = {
      {MakeSid(WORLD_AUTHORITY, {SECURITY_WORLD_RID}), GROUP_ENABLED},  // Everyone
      {DomainSid(DOMAIN_GROUP_RID_USERS), GROUP_ENABLED},   // Domain Users
      {DomainSid(DOMAIN_ALIAS_RID_ADMINS), GROUP_ENABLED},  // a domain group numbered as the Administrators alias
      {MakeSid(NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_USERS}), GROUP_ENABLED},  // BUILTIN\Users
      {MakeSid(NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID}), GROUP_ENABLED},  // the BUILTIN domain itself
      {MakeSid(NT_AUTHORITY, {SECURITY_INTERACTIVE_RID}), GROUP_ENABLED},
      {MakeSid(NT_AUTHORITY, {SECURITY_AUTHENTICATED_USER_RID}), GROUP_ENABLED},
  };
  const std::vector<BYTE> administrators =
      MakeSid(NT_AUTHORITY, {SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS});
  switch (Groups().administrators) {
    case AdministratorsGroup::Enabled:
      groups.push_back({administrators, GROUP_ENABLED});
      break;
    case AdministratorsGroup::DenyOnly:
      groups.push_back({administrators, SE_GROUP_USE_FOR_DENY_ONLY});
      break;
    case AdministratorsGroup::Absent:
      break;
  }
  return groups;
}

DWORD SidLength(const BYTE* sid) { return SID_HEADER_SIZE + 4u * sid[1]; }

bool IsValidSid(PSID sid) {
  const BYTE* bytes = static_cast<const BYTE*>(sid);
  return bytes != nullptr && bytes[0] == SID_REVISION && bytes[1] <= MOST_SUB_AUTHORITIES;
}

}  // namespace

void SetAdministratorsGroup(AdministratorsGroup membership) { Groups().administrators = membership; }

std::size_t LiveSids() { return Groups().liveSids.size(); }

}  // namespace winsim

BOOL WINAPI GetTokenInformation(HANDLE token, TOKEN_INFORMATION_CLASS infoClass, LPVOID info, DWORD length,
                                PDWORD returnLength) {
  if (winsim::Faulted("GetTokenInformation")) return FALSE;
  std::size_t access = 0;
  if (!winsim::FindHandle(token, winsim::HandleKind::Token, &access)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if ((access & TOKEN_QUERY) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (infoClass != TokenGroups || returnLength == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::vector<winsim::GroupEntry> groups = winsim::TokenGroupList();
  const std::size_t arrayEnd = offsetof(TOKEN_GROUPS, Groups) + groups.size() * sizeof(SID_AND_ATTRIBUTES);
  std::size_t needed = arrayEnd;
  for (const winsim::GroupEntry& group : groups) needed += group.sid.size();
  *returnLength = static_cast<DWORD>(needed);
  if (info == nullptr || length < needed) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  BYTE* buffer = static_cast<BYTE*>(info);
  TOKEN_GROUPS* list = static_cast<TOKEN_GROUPS*>(info);
  list->GroupCount = static_cast<DWORD>(groups.size());
  std::size_t sidOffset = arrayEnd;
  for (std::size_t i = 0; i < groups.size(); ++i) {
    std::memcpy(buffer + sidOffset, groups[i].sid.data(), groups[i].sid.size());
    list->Groups[i].Sid = buffer + sidOffset;
    list->Groups[i].Attributes = groups[i].attributes;
    sidOffset += groups[i].sid.size();
  }
  return TRUE;
}

BOOL WINAPI AllocateAndInitializeSid(PSID_IDENTIFIER_AUTHORITY authority, BYTE subAuthorityCount, DWORD sub0,
                                     DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4, DWORD sub5, DWORD sub6,
                                     DWORD sub7, PSID* sid) {
  if (winsim::Faulted("AllocateAndInitializeSid")) return FALSE;
  if (authority == nullptr || sid == nullptr || subAuthorityCount > winsim::MOST_SUB_AUTHORITIES) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const DWORD subs[] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
  BYTE* bytes = new BYTE[winsim::SID_HEADER_SIZE + 4u * subAuthorityCount];
  bytes[0] = SID_REVISION;
  bytes[1] = subAuthorityCount;
  std::memcpy(bytes + 2, authority->Value, 6);
  for (BYTE i = 0; i < subAuthorityCount; ++i) std::memcpy(bytes + winsim::SID_HEADER_SIZE + 4u * i, &subs[i], 4);
  winsim::Groups().liveSids.insert(bytes);
  *sid = bytes;
  return TRUE;
}

BOOL WINAPI EqualSid(PSID sid1, PSID sid2) {
  winsim::CountCall("EqualSid");
  if (!winsim::IsValidSid(sid1) || !winsim::IsValidSid(sid2)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const BYTE* left = static_cast<const BYTE*>(sid1);
  const BYTE* right = static_cast<const BYTE*>(sid2);
  const DWORD length = winsim::SidLength(left);
  return length == winsim::SidLength(right) && std::memcmp(left, right, length) == 0 ? TRUE : FALSE;
}

// Answers NULL once the SID is freed; a SID it never handed out comes back.
LPVOID WINAPI FreeSid(PSID sid) {
  winsim::CountCall("FreeSid");
  if (winsim::Groups().liveSids.erase(sid) == 0) return sid;
  delete[] static_cast<BYTE*>(sid);
  return nullptr;
}
