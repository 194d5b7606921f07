// The groups of the process token and the SIDs a program builds to compare
// with them.
#pragma once

#include <cstddef>

#include "winsim/api.h"

namespace winsim {

// How BUILTIN\Administrators appears among the token's groups. A fresh
// machine runs the updater elevated: the group is present and enabled.
enum class AdministratorsGroup {
  Enabled,
  DenyOnly,  // the filtered token of an administrator under user account control
  Absent
};
void SetAdministratorsGroup(AdministratorsGroup membership);

// SIDs from AllocateAndInitializeSid not yet given back with FreeSid.
std::size_t LiveSids();

}  // namespace winsim
