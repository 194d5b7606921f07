// Time as a program sees it: GetTickCount, moved on by Sleep alone, and the
// local time, which moves with it from 2024-01-01 09:00:00.000.
#pragma once

#include "winsim/api.h"

namespace winsim {

// A test can start the counter just below its wrap.
void SetTickCount(DWORD ticks);
unsigned SleepCount();
DWORD SleptMilliseconds();

}  // namespace winsim
