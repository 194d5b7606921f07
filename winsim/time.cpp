// The tick counter, which only Sleep moves on, so that a test decides how
// much time passes.
#include "winsim/time.h"

#include <ctime>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

const DWORD FIRST_TICKS = 1000000;
// The local time at FIRST_TICKS: 2024-01-01 09:00:00, in seconds since 1970.
const std::time_t FIRST_LOCAL_TIME = 1704099600;

struct TimeState {
  DWORD ticks = FIRST_TICKS;
  unsigned sleeps = 0;
  DWORD slept = 0;
};

TimeState& Time() {
  static TimeState state;
  return state;
}

void ResetTime() { Time() = TimeState(); }
ResetHook resetTime(&ResetTime);

}  // namespace

void SetTickCount(DWORD ticks) { Time().ticks = ticks; }
unsigned SleepCount() { return Time().sleeps; }
DWORD SleptMilliseconds() { return Time().slept; }

}  // namespace winsim

DWORD WINAPI GetTickCount() { return winsim::Time().ticks; }

void WINAPI Sleep(DWORD milliseconds) {
  winsim::CountCall("Sleep");
  winsim::TimeState& time = winsim::Time();
  ++time.sleeps;
  time.slept += milliseconds;
  time.ticks += milliseconds;  // wraps like the real counter
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  winsim::CountCall("GetLocalTime");
  const DWORD elapsed = winsim::Time().ticks - winsim::FIRST_TICKS;
  const std::time_t seconds = winsim::FIRST_LOCAL_TIME + elapsed / 1000;
  std::tm parts = {};
  gmtime_r(&seconds, &parts);
  *time = SYSTEMTIME{static_cast<WORD>(parts.tm_year + 1900), static_cast<WORD>(parts.tm_mon + 1),
                     static_cast<WORD>(parts.tm_wday), static_cast<WORD>(parts.tm_mday),
                     static_cast<WORD>(parts.tm_hour), static_cast<WORD>(parts.tm_min),
                     static_cast<WORD>(parts.tm_sec), static_cast<WORD>(elapsed % 1000)};
}
