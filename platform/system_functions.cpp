#include "platform/system_functions.h"


namespace {

constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG = 0x00000800;
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD flags);
typedef BOOL(WINAPI* ProcessIdToSessionIdFunction)(DWORD processId, DWORD* session);
constexpr DWORD SERVICES_SESSION = 0;
constexpr DWORD FIRST_ISOLATED_SESSION_MAJOR_VERSION = 6;  // Windows Vista

typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOW* version);

constexpr wchar_t NTDLL_MODULE[] = L"ntdll.dll";

// kernel32 and advapi32 are imported and ntdll is in every process: all are
// loaded already, and none can be planted.
FARPROC FindExport(const wchar_t* module, const char* name) {
  HMODULE loaded = GetModuleHandleW(module);
  return loaded != nullptr ? GetProcAddress(loaded, name) : nullptr;
}

FARPROC FindKernelExport(const char* name) { return FindExport(L"kernel32.dll", name); }

}  // namespace

IsWow64ProcessFunction FindIsWow64Process() {
  return AsFunction<IsWow64ProcessFunction>(FindKernelExport("IsWow64Process"));
}

GetVolumePathNameFunction FindGetVolumePathName() {
  return AsFunction<GetVolumePathNameFunction>(FindKernelExport("GetVolumePathNameA"));
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
