// Time as a program sees it: GetTickCount, moved on by Sleep alone.
#pragma once

#include "winsim/api.h"

namespace winsim {

// A test can start the counter just below its wrap.
void SetTickCount(DWORD ticks);
unsigned SleepCount();
DWORD SleptMilliseconds();

}  // namespace winsim
