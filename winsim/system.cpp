// System facts: last error, user language, WOW64, the tick counter, the system
// folder and the exports that a program finds by GetProcAddress.
#include <cstring>
#include <map>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct SystemState {
  DWORD lastError = 0;
  LANGID userLanguage = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  Wow64Query wow64 = Wow64Query::Reports32BitWindows;
  DWORD ticks = 1000000;
  unsigned sleeps = 0;
  DWORD slept = 0;
  std::string systemDirectory = "C:\\WINDOWS\\system32";
  std::map<std::string, std::map<std::string, FARPROC>> exports;
  std::vector<std::string> loadable;
  std::vector<std::string> loadLog;
  DWORD dllSearchFlags = 0;
  UINT ansiCodePage = 1252;
};

SystemState& System() {
  static SystemState state;
  return state;
}

const char KERNEL32_MODULE[] = "kernel32.dll";

BOOL WINAPI SetDefaultDllDirectoriesSim(DWORD flags) {
  if (Faulted("SetDefaultDllDirectories")) return FALSE;
  System().dllSearchFlags = flags;
  return TRUE;
}

void ResetSystem() {
  System() = SystemState();
  RegisterExport(KERNEL32_MODULE, "IsWow64Process", &IsWow64Process);
  RegisterExport(KERNEL32_MODULE, "SetDefaultDllDirectories", &SetDefaultDllDirectoriesSim);
}
ResetHook resetSystem(&ResetSystem, ResetOrder::Core);

// Module handles are the address of the module's export table entry.
HMODULE ModuleHandleOf(const std::string& module) {
  auto it = System().exports.find(module);
  return it == System().exports.end() ? nullptr : reinterpret_cast<HMODULE>(&it->second);
}

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
void SetSystemDirectory(const char* path) { System().systemDirectory = path; }
void SetAnsiCodePage(UINT codePage) { System().ansiCodePage = codePage; }
void SetTickCount(DWORD ticks) { System().ticks = ticks; }
unsigned SleepCount() { return System().sleeps; }
DWORD SleptMilliseconds() { return System().slept; }

void RegisterExport(const char* module, const char* function, FARPROC address) {
  System().exports[LowerCase(module)][function] = address;
}

void RemoveExport(const char* module, const char* function) { System().exports[LowerCase(module)].erase(function); }

void RegisterLoadableModule(const char* module) { System().loadable.push_back(LowerCase(module)); }
std::vector<std::string> LoadLibraryLog() { return System().loadLog; }
DWORD DllSearchFlags() { return System().dllSearchFlags; }

}  // namespace winsim

DWORD WINAPI GetLastError() { return winsim::System().lastError; }
void WINAPI SetLastError(DWORD error) { winsim::System().lastError = error; }

LANGID WINAPI GetUserDefaultLangID() {
  winsim::CountCall("GetUserDefaultLangID");
  return winsim::System().userLanguage;
}

HANDLE WINAPI GetCurrentProcess() { return reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1)); }

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

DWORD WINAPI GetTickCount() { return winsim::System().ticks; }

void WINAPI Sleep(DWORD milliseconds) {
  winsim::CountCall("Sleep");
  winsim::SystemState& system = winsim::System();
  ++system.sleeps;
  system.slept += milliseconds;
  system.ticks += milliseconds;  // wraps like the real counter
}

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size) {
  if (winsim::Faulted("GetSystemDirectoryA")) return 0;
  const std::string& folder = winsim::System().systemDirectory;
  if (buffer == nullptr || size <= folder.size()) return static_cast<UINT>(folder.size() + 1);
  std::memcpy(buffer, folder.c_str(), folder.size() + 1);
  return static_cast<UINT>(folder.size());
}

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
  if (winsim::Faulted("GetModuleHandleW")) return nullptr;
  std::string name;
  for (const WCHAR* c = moduleName; c != nullptr && *c != 0; ++c) name += static_cast<char>(*c);
  HMODULE module = winsim::ModuleHandleOf(winsim::LowerCase(name));
  if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  winsim::SystemState& system = winsim::System();
  system.loadLog.push_back(fileName);
  if (winsim::Faulted("LoadLibraryA")) return nullptr;
  const std::string path = winsim::LowerCase(fileName);
  for (const std::string& module : system.loadable) {
    if (path == winsim::LowerCase(system.systemDirectory) + "\\" + module) {
      return winsim::ModuleHandleOf(module);
    }
  }
  SetLastError(ERROR_MOD_NOT_FOUND);
  return nullptr;
}

BOOL WINAPI FreeLibrary(HMODULE module) {
  winsim::CountCall("FreeLibrary");
  return module != nullptr ? TRUE : FALSE;
}

FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
  if (winsim::Faulted("GetProcAddress")) return nullptr;
  for (auto& entry : winsim::System().exports) {
    if (reinterpret_cast<HMODULE>(&entry.second) != module) continue;
    auto it = entry.second.find(procName);
    if (it != entry.second.end()) return it->second;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}

// Code page 932 opens a double-byte character with 0x81-0x9F or 0xE0-0xFC.
BOOL WINAPI IsDBCSLeadByte(BYTE testChar) {
  if (winsim::System().ansiCodePage != 932) return FALSE;
  return (testChar >= 0x81 && testChar <= 0x9F) || (testChar >= 0xE0 && testChar <= 0xFC) ? TRUE : FALSE;
}
