// The privileges of the process token: which ones the account holds, which
// are enabled, and every lookup and adjustment the program asked for.
#pragma once

#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// Whether the account holds the privilege at all (an administrator holds the
// shutdown privilege, disabled, on a fresh machine).
void HoldPrivilege(const char* name, bool held);
bool PrivilegeEnabled(const char* name);
// The id LookupPrivilegeValueW gives for a known name; {0, 0} for an unknown one.
LUID PrivilegeId(const char* name);

struct PrivilegeLookup {
  bool localSystem;  // no system name given
  std::string name;  // the wide name as ASCII
};
const std::vector<PrivilegeLookup>& PrivilegeLookups();

struct PrivilegeAdjustment {
  DWORD tokenAccess;
  BOOL disableAll;
  std::vector<LUID_AND_ATTRIBUTES> request;  // empty when no request record was given
  DWORD requestCount;
  DWORD previousStateLength;
  bool previousStateGiven;
  bool returnLengthGiven;
};
const std::vector<PrivilegeAdjustment>& PrivilegeAdjustments();

}  // namespace winsim
