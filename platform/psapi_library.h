// psapi.dll, loaded by its full path in the system folder for as long as this
// object lives. Never imported and never loaded by bare name: it is no KnownDLL
// on older Windows, and the elevated updater, started from a downloads folder,
// would otherwise pick up a planted copy beside itself.
#pragma once

#include "platform/scoped_handle.h"
#include "platform/win32.h"

typedef BOOL(WINAPI* EnumProcessesFunction)(DWORD* processIds, DWORD bytes, DWORD* bytesReturned);
typedef BOOL(WINAPI* EnumProcessModulesFunction)(HANDLE process, HMODULE* modules, DWORD bytes, LPDWORD bytesNeeded);
typedef DWORD(WINAPI* GetModuleBaseNameAFunction)(HANDLE process, HMODULE module, LPSTR baseName, DWORD size);

class PsapiLibrary {
 public:
  PsapiLibrary();
  PsapiLibrary(const PsapiLibrary&) = delete;
  PsapiLibrary& operator=(const PsapiLibrary&) = delete;

  // True when the DLL is loaded and offers all three functions.
  bool Load();

  EnumProcessesFunction enumProcesses;
  EnumProcessModulesFunction enumProcessModules;
  GetModuleBaseNameAFunction getModuleBaseName;

 private:
  LibraryHandle module;
};
