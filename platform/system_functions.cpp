#include "platform/system_functions.h"


namespace {

constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG = 0x00000800;
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD flags);
typedef BOOL(WINAPI* ProcessIdToSessionIdFunction)(DWORD processId, DWORD* session);
constexpr DWORD SERVICES_SESSION = 0;
constexpr DWORD FIRST_ISOLATED_SESSION_MAJOR_VERSION = 6;  // Windows Vista

typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOW* version);
typedef ULONGLONG(WINAPI* GetTickCount64Function)();
typedef LONG(WINAPI* NtQuerySystemInformationFunction)(ULONG infoClass, void* info, ULONG size, ULONG* returned);
constexpr ULONG SYSTEM_TIME_OF_DAY_INFORMATION = 3;
// Its first fields, as every Windows since 2000 has them: the boot time, the
// current time, the time zone bias, its id and a reserved word.
constexpr ULONG TIME_OF_DAY_SIZE = 32;
// Times in FILETIME's units of 100 ns.
constexpr ULONGLONG UNITS_PER_MS = 10000;
constexpr ULONGLONG TICK_COUNTER_WRAP = 0x100000000ull * UNITS_PER_MS;
// How far the boot time of the time of day may stray from the tick counter's.
constexpr ULONGLONG BOOT_TIME_TOLERANCE = 60000 * UNITS_PER_MS;

constexpr wchar_t NTDLL_MODULE[] = L"ntdll.dll";

// kernel32 and advapi32 are imported and ntdll is in every process: all are
// loaded already, and none can be planted.
FARPROC FindExport(const wchar_t* module, const char* name) {
  HMODULE loaded = GetModuleHandleW(module);
  return loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
}

FARPROC FindKernelExport(const char* name) { return FindExport(L"kernel32.dll", name); }

// Windows before Vista counts milliseconds only in the 32 bits of GetTickCount,
// which wrap every 49.7 days. The boot time that ntdll reports tells how often
// it wrapped; its layout is not documented, so it counts only where it agrees
// with the counter.
bool TimeSinceStart(ULONGLONG now, ULONGLONG* elapsed) {
  GetTickCount64Function ticks64 = AsFunction<GetTickCount64Function>(FindKernelExport("GetTickCount64"));
  if (ticks64 != nullptr) {
    *elapsed = ticks64() * UNITS_PER_MS;
    return true;
  }
  NtQuerySystemInformationFunction query =
      AsFunction<NtQuerySystemInformationFunction>(FindExport(NTDLL_MODULE, "NtQuerySystemInformation"));
  ULONGLONG timeOfDay[TIME_OF_DAY_SIZE / sizeof(ULONGLONG)] = {};
  if (query == nullptr || query(SYSTEM_TIME_OF_DAY_INFORMATION, timeOfDay, TIME_OF_DAY_SIZE, nullptr) != 0 ||
      timeOfDay[0] > now) {
    return false;
  }
  const ULONGLONG reported = now - timeOfDay[0];
  // The first count of the counter's turns that reaches the reported time; at
  // most one turn for every 49.7 days since 1601.
  ULONGLONG counted = GetTickCount() * UNITS_PER_MS + BOOT_TIME_TOLERANCE;
  while (counted < reported) counted += TICK_COUNTER_WRAP;
  *elapsed = counted - BOOT_TIME_TOLERANCE;
  return counted - reported <= 2 * BOOT_TIME_TOLERANCE;
}

}  // namespace

IsWow64ProcessFunction FindIsWow64Process() {
  return AsFunction<IsWow64ProcessFunction>(FindKernelExport("IsWow64Process"));
}

RegDeleteKeyExFunction FindRegDeleteKeyEx() {
  return AsFunction<RegDeleteKeyExFunction>(FindExport(L"advapi32.dll", "RegDeleteKeyExA"));
}

// Windows is asked for its version only in session 0, the one case where it matters.
bool RunsInServicesSession() {
  ProcessIdToSessionIdFunction sessionOf =
      AsFunction<ProcessIdToSessionIdFunction>(FindKernelExport("ProcessIdToSessionId"));
  DWORD session = SERVICES_SESSION + 1;
  if (sessionOf == nullptr || !sessionOf(GetCurrentProcessId(), &session) || session != SERVICES_SESSION) return false;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  return GetVersionExW(&version) && version.dwMajorVersion >= FIRST_ISOLATED_SESSION_MAJOR_VERSION;
}

void RestrictDllSearchToSystemFolder() {
  SetDefaultDllDirectoriesFunction restrict =
      AsFunction<SetDefaultDllDirectoriesFunction>(FindKernelExport("SetDefaultDllDirectories"));
  if (restrict != nullptr) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG);
}

bool ReadRunningWindowsVersion(OSVERSIONINFOW* version) {
  RtlGetVersionFunction query = AsFunction<RtlGetVersionFunction>(FindExport(NTDLL_MODULE, "RtlGetVersion"));
  version->dwOSVersionInfoSize = sizeof(*version);
  return query != nullptr && query(version) == 0;
}

bool FindWindowsStartTime(ULONGLONG* started) {
  FILETIME time = {};
  GetSystemTimeAsFileTime(&time);
  const ULONGLONG now = static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
  ULONGLONG elapsed = 0;
  if (!TimeSinceStart(now, &elapsed) || elapsed > now) return false;
  *started = now - elapsed;
  return true;
}
