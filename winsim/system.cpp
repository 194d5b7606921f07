// System facts: the last error, the user language, WOW64, the session, the
// system folder and the temporary folder.
#include "winsim/system.h"

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <map>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct SystemState {
  DWORD lastError = 0;
  LANGID userLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  Wow64Query wow64 = Wow64Query::Reports32BitWindows;
  DWORD session = 1;
  bool terminalServices = true;
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::wstring temporaryFolder = L"C:\\WINDOWS\\TEMP\\";
  std::map<std::wstring, std::wstring> environment = {{L"SYSTEMROOT", L"C:\\WINDOWS"}};  // by upper-case name
};

std::wstring AsciiUpperCase(std::wstring text) {
  for (wchar_t& c : text) c = c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c;
  return text;
}

SystemState& System() {
  static SystemState state;
  return state;
}

const DWORD OWN_PROCESS_ID = 0x0F00;

// Reached only through GetProcAddress, as Windows 2000 without Terminal Services may lack it.
BOOL WINAPI ProcessIdToSessionIdSim(DWORD processId, DWORD* session) {
  if (Faulted("ProcessIdToSessionId")) return FALSE;
  if (processId != OWN_PROCESS_ID || session == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *session = System().session;
  return TRUE;
}

void ResetSystem() {
  System() = SystemState();
  RegisterExport(KERNEL32_MODULE, "IsWow64Process", &IsWow64Process);
  RegisterExport(KERNEL32_MODULE, "ProcessIdToSessionId", &ProcessIdToSessionIdSim);
}
ResetHook resetSystem(&ResetSystem);

}  // namespace

void SetUserLanguage(LANGID language) { System().userLanguage = language; }
void SetWow64Query(Wow64Query query) {
  System().wow64 = query;
  if (query == Wow64Query::Absent) {
    RemoveExport(KERNEL32_MODULE, "IsWow64Process");
  } else {
    RegisterExport(KERNEL32_MODULE, "IsWow64Process", &IsWow64Process);
  }
}
void SetProcessSession(DWORD session) { System().session = session; }
DWORD ProcessSession() { return System().session; }
void SetTerminalServices(bool running) { System().terminalServices = running; }
bool TerminalServicesRunning() { return System().terminalServices; }
void SetSystemDirectory(const char* path) { System().systemDirectory = path; }
const std::string& SystemDirectory() { return System().systemDirectory; }
void SetTemporaryFolder(const std::wstring& path) { System().temporaryFolder = path; }
void SetEnvironmentValue(const std::wstring& name, const std::wstring& value) {
  if (value.empty()) {
    System().environment.erase(AsciiUpperCase(name));
  } else {
    System().environment[AsciiUpperCase(name)] = value;
  }
}

}  // namespace winsim

DWORD WINAPI GetLastError() { return winsim::System().lastError; }
void WINAPI SetLastError(DWORD error) { winsim::System().lastError = error; }

LANGID WINAPI GetUserDefaultLangID() {
  winsim::CountCall("GetUserDefaultLangID");
  return winsim::System().userLanguage;
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }
DWORD WINAPI GetCurrentProcessId() { return winsim::OWN_PROCESS_ID; }

BOOL WINAPI IsWow64Process(HANDLE process, PBOOL wow64) {
  if (winsim::Faulted("IsWow64Process")) return FALSE;
  if (winsim::System().wow64 == winsim::Wow64Query::Fails) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (process != GetCurrentProcess() || wow64 == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *wow64 = winsim::System().wow64 == winsim::Wow64Query::Reports64BitWindows ? TRUE : FALSE;
  return TRUE;
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (winsim::Faulted("GetSystemDirectoryA")) return 0;
  const std::string& folder = winsim::System().systemDirectory;
  if (buffer == nullptr || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<UINT>(folder.size());
}

// The folder with its trailing backslash; a buffer too small gets nothing and
// the size it would need, terminator included.
DWORD WINAPI GetTempPathW(DWORD size, LPWSTR buffer) {
  if (winsim::Faulted("GetTempPathW")) return 0;
  const std::wstring& folder = winsim::System().temporaryFolder;
  if (buffer == nullptr || size <= folder.size()) return static_cast<DWORD>(folder.size() + 1);
  std::wmemcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<DWORD>(folder.size());
}

// "ExpandEnvironmentStringsW function": each %name% of a variable that is set
// gives its value, one that is not set is left as it is; the answer counts
// the terminator. A buffer too small gets the size it needs and, since the
// page promises nothing of its content, as much of the text as fits.
DWORD WINAPI ExpandEnvironmentStringsW(LPCWSTR source, LPWSTR destination, DWORD size) {
  if (winsim::Faulted("ExpandEnvironmentStringsW")) return 0;
  const std::map<std::wstring, std::wstring>& environment = winsim::System().environment;
  std::wstring expanded;
  for (const wchar_t* at = source; *at != L'\0';) {
    const wchar_t* close = *at == L'%' ? std::wcschr(at + 1, L'%') : nullptr;
    const auto found = close != nullptr ? environment.find(winsim::AsciiUpperCase(std::wstring(at + 1, close)))
                                        : environment.end();
    const wchar_t* next = close != nullptr ? close + 1 : at + 1;
    expanded += found != environment.end() ? found->second : std::wstring(at, next);
    at = next;
  }
  if (destination != nullptr && size > 0) {
    const std::size_t kept = std::min<std::size_t>(expanded.size(), size - 1);
    std::wmemcpy(destination, expanded.c_str(), kept);
    destination[kept] = L'\0';
  }
  return static_cast<DWORD>(expanded.size() + 1);
}
