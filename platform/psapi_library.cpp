#include "platform/psapi_library.h"

#include "platform/system_functions.h"
#include "platform/text.h"

namespace {

constexpr char PSAPI_FILE[] = "\\psapi.dll";

// The system folder and the DLL's name; false when that would not fit MAX_PATH.
bool PsapiPath(char* path) {
  const UINT folderLength = GetSystemDirectoryA(path, MAX_PATH);
  // 0 is a failure; MAX_PATH or more is the size the folder would have needed.
  if (folderLength == 0 || folderLength >= MAX_PATH) return false;
  if (static_cast<int>(folderLength) + TextLength(PSAPI_FILE) >= MAX_PATH) return false;
  CopyText(path + folderLength, PSAPI_FILE, MAX_PATH - static_cast<int>(folderLength));
  return true;
}

}  // namespace

PsapiLibrary::PsapiLibrary() : enumProcesses(nullptr), enumProcessModules(nullptr), getModuleBaseName(nullptr) {}

bool PsapiLibrary::Load() {
  char path[MAX_PATH];
  if (!PsapiPath(path)) return false;
  module.Reset(LoadLibraryA(path));
  if (!module.IsSet()) return false;
  enumProcesses = AsFunction<EnumProcessesFunction>(GetProcAddress(module.Get(), "EnumProcesses"));
  enumProcessModules = AsFunction<EnumProcessModulesFunction>(GetProcAddress(module.Get(), "EnumProcessModules"));
  getModuleBaseName = AsFunction<GetModuleBaseNameAFunction>(GetProcAddress(module.Get(), "GetModuleBaseNameA"));
  return enumProcesses != nullptr && enumProcessModules != nullptr && getModuleBaseName != nullptr;
}
