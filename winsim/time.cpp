// The clocks of the machine. Only Sleep moves them on, so that a test decides
// how much time passes: the milliseconds since Windows started, the system
// time (that start plus them), and the local time nine hours ahead of it.
//
// Microsoft, "SetSystemTime" and "File Times": the system clock can be set
// while Windows runs (time synchronisation, a user, a daylight-saving change
// on FAT, whose file times are local), and the time since Windows started
// ("GetTickCount") runs on untouched. Pinned by
// SimulatedSystemTest.TheClockIsSetWhileTheUptimeRunsOn.
#include "winsim/time.h"

#include <cstring>
#include <ctime>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

const std::uint64_t FIRST_UPTIME_MS = 1000000;
// The system time at the first uptime: 2024-01-01 00:00:00 UTC, 09:00 local time.
const std::uint64_t FIRST_SYSTEM_TIME = 0x01DA3C457689C000;
const std::time_t LOCAL_TIME_BIAS_SECONDS = 9 * 3600;
const std::uint64_t UNITS_PER_MS = 10000;
const std::uint64_t UNIX_EPOCH_AS_FILE_TIME = 116444736000000000;
// What a restart takes before the new start of Windows.
const std::uint64_t RESTART_MS = 60000;

struct TimeState {
  std::uint64_t uptime = FIRST_UPTIME_MS;
  std::uint64_t started = FIRST_SYSTEM_TIME - FIRST_UPTIME_MS * UNITS_PER_MS;
  std::int64_t clockSteps = 0;          // in 100 ns, since Windows started
  unsigned sleeps = 0;
  DWORD slept = 0;
};

TimeState& Time() {
  static TimeState state;
  return state;
}

std::uint64_t Now() { return Time().started + Time().uptime * UNITS_PER_MS + Time().clockSteps; }

void ResetTime() { Time() = TimeState(); }
ResetHook resetTime(&ResetTime);

// Windows starts again a minute later, after everything written so far.
void RestartClock() {
  TimeState& time = Time();
  time.started = Now() + RESTART_MS * UNITS_PER_MS;
  time.uptime = FIRST_UPTIME_MS;
  time.clockSteps = 0;
}
RestartHook restartClock(&RestartClock);

}  // namespace

void SetTickCount(DWORD ticks) { Time().uptime = ticks; }
unsigned SleepCount() { return Time().sleeps; }
DWORD SleptMilliseconds() { return Time().slept; }

void StepSystemClock(std::int64_t milliseconds) {
  Time().clockSteps += milliseconds * static_cast<std::int64_t>(UNITS_PER_MS);
}

FILETIME SystemTimeNow() {
  const std::uint64_t now = Now();
  return FILETIME{static_cast<DWORD>(now), static_cast<DWORD>(now >> 32)};
}

}  // namespace winsim

DWORD WINAPI GetTickCount() { return static_cast<DWORD>(winsim::Time().uptime); }

void WINAPI Sleep(DWORD milliseconds) {
  winsim::CountCall("Sleep");
  winsim::TimeState& time = winsim::Time();
  ++time.sleeps;
  time.slept += milliseconds;
  time.uptime += milliseconds;
}

void WINAPI GetSystemTimeAsFileTime(LPFILETIME systemTime) {
  winsim::CountCall("GetSystemTimeAsFileTime");
  *systemTime = winsim::SystemTimeNow();
}

void WINAPI GetLocalTime(LPSYSTEMTIME time) {
  winsim::CountCall("GetLocalTime");
  const std::uint64_t sinceUnixEpoch = winsim::Now() - winsim::UNIX_EPOCH_AS_FILE_TIME;
  const std::time_t seconds =
      static_cast<std::time_t>(sinceUnixEpoch / 10000000) + winsim::LOCAL_TIME_BIAS_SECONDS;
  std::tm parts = {};
  gmtime_r(&seconds, &parts);
  *time = SYSTEMTIME{static_cast<WORD>(parts.tm_year + 1900), static_cast<WORD>(parts.tm_mon + 1),
                     static_cast<WORD>(parts.tm_wday), static_cast<WORD>(parts.tm_mday),
                     static_cast<WORD>(parts.tm_hour), static_cast<WORD>(parts.tm_min),
                     static_cast<WORD>(parts.tm_sec),
                     static_cast<WORD>(sinceUnixEpoch / winsim::UNITS_PER_MS % 1000)};
}
