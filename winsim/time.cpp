// The tick counter, which only Sleep moves on, so that a test decides how
// much time passes.
#include "winsim/time.h"

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct TimeState {
  DWORD ticks = 1000000;
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
