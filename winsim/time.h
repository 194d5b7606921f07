// Time as a program sees it: GetTickCount counting the milliseconds since
// Windows started, moved on by Sleep alone; the system time, that start plus the count, unless the
// clock is set; and the local time, which moves with it from
// 2024-01-01 09:00:00.000.
#pragma once

#include <cstdint>

#include "winsim/api.h"

namespace winsim {

// A test can start the counter just below its wrap: Windows has run that long.
void SetTickCount(DWORD ticks);
unsigned SleepCount();
DWORD SleptMilliseconds();

// The system clock is set that far forward (or back): the system and local
// time and the last-write time files take from now on move; the time since
// Windows started does not.
void StepSystemClock(std::int64_t milliseconds);
FILETIME SystemTimeNow();

}  // namespace winsim
