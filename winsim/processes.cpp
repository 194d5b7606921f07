// The running processes and the psapi functions that list them. psapi.dll is
// no import of the program: its three functions are found only by loading the
// DLL from the system folder and asking GetProcAddress.
#include "winsim/processes.h"

#include <cstring>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

const DWORD FIRST_PROCESS_ID = 100;
const DWORD PROCESS_ID_STEP = 4;
const DWORD ODD_BYTES = 2;
const DWORD READ_RIGHTS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;

// Every process maps its executable first, then the system DLLs.
struct ModuleImage {
  std::uintptr_t base;
  const char* name;  // nullptr: the process's own executable
};
const ModuleImage MODULES[] = {{0x00400000, nullptr}, {0x7C900000, "ntdll.dll"}, {0x7C800000, KERNEL32_MODULE}};
const DWORD MODULE_COUNT = sizeof(MODULES) / sizeof(MODULES[0]);

struct Process {
  DWORD id;
  std::string baseName;
  ProcessAccess access;
};

struct ProcessHandle {
  std::size_t process;
  DWORD access;
};

struct ProcessState {
  std::vector<Process> processes;
  std::vector<ProcessHandle> handles;  // index = process handle object
  ProcessListQuirk quirk = ProcessListQuirk::None;
  std::vector<DWORD> listSizes;
  std::vector<DWORD> moduleListSizes;
  std::vector<ProcessOpen> opens;
  std::size_t mostOpen = 0;
};

ProcessState& Processes() {
  static ProcessState state;
  return state;
}

const char PSAPI_MODULE[] = "psapi.dll";

// psapi.dll lies in the system folder with the three functions the program looks up.
void ResetProcesses() {
  Processes() = ProcessState();
  RegisterLoadableModule(PSAPI_MODULE);
  RegisterExport(PSAPI_MODULE, "EnumProcesses", &EnumProcesses);
  RegisterExport(PSAPI_MODULE, "EnumProcessModules", &EnumProcessModules);
  RegisterExport(PSAPI_MODULE, "GetModuleBaseNameA", &GetModuleBaseNameA);
}
ResetHook resetProcesses(&ResetProcesses);

// The process behind a handle opened with the rights to read its memory.
const Process* ReadableProcess(HANDLE handle, DWORD* error) {
  std::size_t object = 0;
  if (!FindHandle(handle, HandleKind::Process, &object)) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  const ProcessHandle& opened = Processes().handles[object];
  if ((opened.access & READ_RIGHTS) != READ_RIGHTS) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return &Processes().processes[opened.process];
}

}  // namespace

DWORD AddProcess(const char* baseName, ProcessAccess access) {
  ProcessState& state = Processes();
  const DWORD id = FIRST_PROCESS_ID + PROCESS_ID_STEP * static_cast<DWORD>(state.processes.size());
  state.processes.push_back(Process{id, baseName, access});
  return id;
}

void SetProcessListQuirk(ProcessListQuirk quirk) { Processes().quirk = quirk; }

// The program loads no other DLL, so failing every load from now on is psapi's absence.
void MakePsapiUnloadable() { FailCallsFrom("LoadLibraryA", CallCount("LoadLibraryA") + 1, ERROR_MOD_NOT_FOUND); }

const std::vector<DWORD>& ProcessListSizes() { return Processes().listSizes; }
const std::vector<ProcessOpen>& ProcessOpens() { return Processes().opens; }
std::size_t MostOpenProcessHandles() { return Processes().mostOpen; }
const std::vector<DWORD>& ModuleListSizes() { return Processes().moduleListSizes; }

}  // namespace winsim

BOOL WINAPI EnumProcesses(DWORD* processIds, DWORD bytes, DWORD* bytesReturned) {
  if (winsim::Faulted("EnumProcesses")) return FALSE;
  winsim::ProcessState& state = winsim::Processes();
  state.listSizes.push_back(bytes);
  if (processIds == nullptr || bytesReturned == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  const std::size_t room = bytes / sizeof(DWORD);
  const std::size_t count = state.quirk == winsim::ProcessListQuirk::AlwaysFull
                                ? room
                                : (state.processes.size() < room ? state.processes.size() : room);
  for (std::size_t i = 0; i < count; ++i) {
    processIds[i] = state.processes.empty() ? 0 : state.processes[i % state.processes.size()].id;
  }
  *bytesReturned = static_cast<DWORD>(count * sizeof(DWORD));
  if (state.quirk == winsim::ProcessListQuirk::OddByteCount) *bytesReturned += winsim::ODD_BYTES;
  return TRUE;
}

HANDLE WINAPI OpenProcess(DWORD access, BOOL inheritHandle, DWORD processId) {
  if (winsim::Faulted("OpenProcess")) return nullptr;
  winsim::ProcessState& state = winsim::Processes();
  state.opens.push_back(winsim::ProcessOpen{access, inheritHandle, processId});
  for (std::size_t index = 0; index < state.processes.size(); ++index) {
    if (state.processes[index].id != processId) continue;
    if (state.processes[index].access == winsim::ProcessAccess::CannotOpen) {
      SetLastError(ERROR_ACCESS_DENIED);
      return nullptr;
    }
    state.handles.push_back(winsim::ProcessHandle{index, access});
    HANDLE handle = winsim::OpenHandle(winsim::HandleKind::Process, state.handles.size() - 1);
    const std::size_t open = winsim::OpenHandleCount(winsim::HandleKind::Process);
    if (open > state.mostOpen) state.mostOpen = open;
    return handle;
  }
  SetLastError(ERROR_INVALID_PARAMETER);  // no such process (any more)
  return nullptr;
}

BOOL WINAPI EnumProcessModules(HANDLE process, HMODULE* modules, DWORD bytes, LPDWORD bytesNeeded) {
  if (winsim::Faulted("EnumProcessModules")) return FALSE;
  winsim::Processes().moduleListSizes.push_back(bytes);
  DWORD error = 0;
  const winsim::Process* target = winsim::ReadableProcess(process, &error);
  if (target == nullptr) {
    SetLastError(error);
    return FALSE;
  }
  if (target->access == winsim::ProcessAccess::ModulesUnreadable) {
    SetLastError(ERROR_PARTIAL_COPY);
    return FALSE;
  }
  if ((modules == nullptr && bytes != 0) || bytesNeeded == nullptr) {
    SetLastError(ERROR_NOACCESS);
    return FALSE;
  }
  const DWORD room = bytes / sizeof(HMODULE);
  for (DWORD i = 0; i < room && i < winsim::MODULE_COUNT; ++i) {
    modules[i] = reinterpret_cast<HMODULE>(winsim::MODULES[i].base);
  }
  *bytesNeeded = static_cast<DWORD>(winsim::MODULE_COUNT * sizeof(HMODULE));
  return TRUE;
}

// Like the oldest psapi, a name that does not fit is cut off without a terminator.
DWORD WINAPI GetModuleBaseNameA(HANDLE process, HMODULE module, LPSTR baseName, DWORD size) {
  if (winsim::Faulted("GetModuleBaseNameA")) return 0;
  DWORD error = 0;
  const winsim::Process* target = winsim::ReadableProcess(process, &error);
  if (target == nullptr) {
    SetLastError(error);
    return 0;
  }
  if (target->access == winsim::ProcessAccess::NameUnreadable) {
    SetLastError(ERROR_PARTIAL_COPY);
    return 0;
  }
  const char* name = nullptr;
  for (const winsim::ModuleImage& image : winsim::MODULES) {
    if (module == nullptr || reinterpret_cast<HMODULE>(image.base) == module) {
      name = image.name != nullptr ? image.name : target->baseName.c_str();
      break;
    }
  }
  if (name == nullptr || baseName == nullptr || size == 0) {
    SetLastError(name == nullptr ? ERROR_INVALID_HANDLE : ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  const DWORD length = static_cast<DWORD>(std::strlen(name));
  if (length >= size) {
    std::memcpy(baseName, name, size);
    return size;
  }
  std::memcpy(baseName, name, length + 1);
  return length;
}
