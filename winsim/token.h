// The process token: which groups it carries and which privileges it holds.
#pragma once

#include "winsim/api.h"

namespace winsim {

// A token handle remembers the access it was opened with.
DWORD TokenAccess(HANDLE token);

}  // namespace winsim
