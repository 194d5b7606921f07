// The running processes, as psapi and OpenProcess see them.
#pragma once

#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// How far a program gets with a process.
enum class ProcessAccess {
  Readable,           // opens, lists its modules, names its executable
  CannotOpen,         // OpenProcess: ERROR_ACCESS_DENIED (system, protected, other users)
  ModulesUnreadable,  // EnumProcessModules: ERROR_PARTIAL_COPY (a 64-bit process seen from WOW64)
  NameUnreadable,     // GetModuleBaseNameA: ERROR_PARTIAL_COPY
};

// Adds a process whose executable has that base name; ids are handed out in order.
DWORD AddProcess(const char* baseName, ProcessAccess access = ProcessAccess::Readable);

// How EnumProcesses misreports its list, for the faults a program must survive.
enum class ProcessListQuirk {
  None,
  AlwaysFull,    // fills every buffer with ids and reports it full, however large
  OddByteCount,  // reports 2 bytes more than the whole ids it wrote
};
void SetProcessListQuirk(ProcessListQuirk quirk);

// psapi.dll cannot be loaded at all (missing or damaged in the system folder).
void MakePsapiUnloadable();

// The buffer size in bytes given to each EnumProcesses call, in order.
const std::vector<DWORD>& ProcessListSizes();

struct ProcessOpen {
  DWORD access;
  BOOL inheritHandle;
  DWORD processId;
};
const std::vector<ProcessOpen>& ProcessOpens();
// The most process handles that were open at the same time.
std::size_t MostOpenProcessHandles();
// The buffer size in bytes given to each EnumProcessModules call, in order.
const std::vector<DWORD>& ModuleListSizes();

}  // namespace winsim
