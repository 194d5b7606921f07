// The clocks of the machine. Only Sleep moves them on, so that a test decides
// how much time passes: the milliseconds since Windows started, the system
// time (that start plus them), the local time nine hours ahead of it, and the
// boot time that ntdll reports.
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
const char NTDLL_MODULE[] = "ntdll.dll";

struct TimeState {
  std::uint64_t uptime = FIRST_UPTIME_MS;
  std::uint64_t started = FIRST_SYSTEM_TIME - FIRST_UPTIME_MS * UNITS_PER_MS;
  std::int64_t reportedStartShift = 0;  // in 100 ns
  std::int64_t clockSteps = 0;          // in 100 ns, since Windows started
  unsigned sleeps = 0;
  DWORD slept = 0;
};

TimeState& Time() {
  static TimeState state;
  return state;
}

std::uint64_t Now() { return Time().started + Time().uptime * UNITS_PER_MS + Time().clockSteps; }

// GetTickCount64 (Microsoft): Windows Vista and later; the milliseconds since
// the system was started, which GetTickCount gives modulo 2^32.
ULONGLONG WINAPI GetTickCount64Sim() {
  CountCall("GetTickCount64");
  return Time().uptime;
}

// NtQuerySystemInformation (Microsoft) documents SystemTimeOfDayInformation as
// an opaque structure. Windows 2000 and later lay it out as 48 bytes that
// begin with the boot time and the current time, and fill as many of them as
// asked for (Wine's conformance tests, written against Windows); a larger
// buffer is refused. What the program reads in it is its own risk.
const LONG STATUS_UNSUCCESSFUL = static_cast<LONG>(0xC0000001);
const LONG STATUS_INVALID_INFO_CLASS = static_cast<LONG>(0xC0000003);
const LONG STATUS_INFO_LENGTH_MISMATCH = static_cast<LONG>(0xC0000004);
const ULONG SYSTEM_TIME_OF_DAY_INFORMATION = 3;
const ULONG TIME_OF_DAY_SIZE = 48;

LONG WINAPI NtQuerySystemInformationSim(ULONG infoClass, void* info, ULONG size, ULONG* returned) {
  if (Faulted("NtQuerySystemInformation")) return STATUS_UNSUCCESSFUL;
  if (infoClass != SYSTEM_TIME_OF_DAY_INFORMATION) return STATUS_INVALID_INFO_CLASS;
  if (size > TIME_OF_DAY_SIZE) return STATUS_INFO_LENGTH_MISMATCH;
  std::uint64_t timeOfDay[TIME_OF_DAY_SIZE / sizeof(std::uint64_t)] = {};
  timeOfDay[0] = Time().started + Time().reportedStartShift;
  timeOfDay[1] = Now();
  std::memcpy(info, timeOfDay, size);
  if (returned != nullptr) *returned = size;
  return 0;
}

void ResetTime() {
  Time() = TimeState();
  RegisterExport(NTDLL_MODULE, "NtQuerySystemInformation", &NtQuerySystemInformationSim);
}
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

void OfferTickCount64(bool offered) {
  if (offered) {
    RegisterExport(KERNEL32_MODULE, "GetTickCount64", &GetTickCount64Sim);
  } else {
    RemoveExport(KERNEL32_MODULE, "GetTickCount64");
  }
}

void ShiftReportedStartTime(std::int64_t milliseconds) {
  Time().reportedStartShift = milliseconds * static_cast<std::int64_t>(UNITS_PER_MS);
}

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
