// Run-time linking: the exports a program finds with GetProcAddress, the DLLs
// it may load from the system folder, and the DLL search path it asks for.
#include <map>

#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/system.h"

namespace winsim {
namespace {

struct ModuleState {
  std::map<std::string, std::map<std::string, FARPROC>> exports;
  std::vector<std::string> loadable;
  std::vector<std::string> loadLog;
  DWORD dllSearchFlags = 0;
};

ModuleState& Modules() {
  static ModuleState state;
  return state;
}

BOOL WINAPI SetDefaultDllDirectoriesSim(DWORD flags) {
  if (Faulted("SetDefaultDllDirectories")) return FALSE;
  Modules().dllSearchFlags = flags;
  return TRUE;
}

void ResetModules() {
  Modules() = ModuleState();
  RegisterExport(KERNEL32_MODULE, "SetDefaultDllDirectories", &SetDefaultDllDirectoriesSim);
  // Loaded with the program, which imports it, whatever it exports.
  Modules().exports["advapi32.dll"];
}
ResetHook resetModules(&ResetModules, ResetOrder::Core);

// Module handles are the address of the module's export table entry.
HMODULE ModuleHandleOf(const std::string& module) {
  auto it = Modules().exports.find(module);
  return it == Modules().exports.end() ? nullptr : reinterpret_cast<HMODULE>(&it->second);
}

}  // namespace

void RegisterExport(const char* module, const char* function, FARPROC address) {
  Modules().exports[LowerCase(module)][function] = address;
}

void RemoveExport(const char* module, const char* function) { Modules().exports[LowerCase(module)].erase(function); }

void RegisterLoadableModule(const char* module) { Modules().loadable.push_back(LowerCase(module)); }
std::vector<std::string> LoadLibraryLog() { return Modules().loadLog; }
DWORD DllSearchFlags() { return Modules().dllSearchFlags; }

}  // namespace winsim

HMODULE WINAPI GetModuleHandleW(LPCWSTR moduleName) {
  if (winsim::Faulted("GetModuleHandleW")) return nullptr;
  std::string name;
  for (const WCHAR* c = moduleName; c != nullptr && *c != 0; ++c) name += static_cast<char>(*c);
  HMODULE module = winsim::ModuleHandleOf(winsim::LowerCase(name));
  if (module == nullptr) SetLastError(ERROR_MOD_NOT_FOUND);
  return module;
}

HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
  winsim::ModuleState& modules = winsim::Modules();
  modules.loadLog.push_back(fileName);
  if (winsim::Faulted("LoadLibraryA")) return nullptr;
  const std::string path = winsim::LowerCase(fileName);
  for (const std::string& module : modules.loadable) {
    if (path == winsim::LowerCase(winsim::SystemDirectory()) + "\\" + module) {
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
  for (auto& entry : winsim::Modules().exports) {
    if (reinterpret_cast<HMODULE>(&entry.second) != module) continue;
    auto it = entry.second.find(procName);
    if (it != entry.second.end()) return it->second;
  }
  SetLastError(ERROR_PROC_NOT_FOUND);
  return nullptr;
}
