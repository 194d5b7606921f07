// Time as a program sees it: GetTickCount (and, from Windows Vista on,
// GetTickCount64) counting the milliseconds since Windows started, moved on
// by Sleep alone; the system time, that start plus the count, unless the
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

// Whether kernel32 has GetTickCount64, as Windows Vista and later have it.
void OfferTickCount64(bool offered);
// The boot time in ntdll's time of day is that far off the true start.
void ShiftReportedStartTime(std::int64_t milliseconds);
// The system clock is set that far forward (or back): the system and local
// time, the last-write time files take from now on and the current time in
// ntdll's time of day move; the time since Windows started, and the boot time
// ntdll reports, do not.
void StepSystemClock(std::int64_t milliseconds);
FILETIME SystemTimeNow();

}  // namespace winsim
