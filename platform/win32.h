// The one way into the Windows API. Product code calls Windows by its real
// names; on the host the same names come from the simulated machine.
#pragma once

#if defined(_WIN32)
#include <windows.h>
#include <psapi.h>
#else
#include "winsim/api.h"
#endif
