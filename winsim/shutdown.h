// The restart request: what the program asked for, and whether Windows agrees.
#pragma once

#include <vector>

#include "winsim/api.h"

namespace winsim {

struct ExitWindowsCall {
  UINT flags;
  DWORD reason;
};

// Windows refuses every restart request with this error.
void RefuseRestart(DWORD error);
const std::vector<ExitWindowsCall>& ExitWindowsCalls();

}  // namespace winsim
