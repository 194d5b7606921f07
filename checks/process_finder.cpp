#include "checks/process_finder.h"

#include <memory>
#include <new>

#include "platform/psapi_library.h"
#include "platform/scoped_handle.h"
#include "platform/text.h"

namespace {

constexpr DWORD PROCESS_READ_ACCESS = PROCESS_QUERY_INFORMATION | PROCESS_VM_READ;
constexpr DWORD LIST_GROWTH_IDS = 1000;
// An EnumProcesses that reports a full list for ever must not grow it for
// ever; beyond this many ids the walk makes do with what was read.
constexpr DWORD LIST_MOST_IDS = 64 * LIST_GROWTH_IDS;

// The process ids, read again with room for more while the list comes back
// full (it may have been cut short). False when the list cannot be read.
bool ReadProcessIds(EnumProcessesFunction enumProcesses, std::unique_ptr<DWORD[]>& ids, DWORD* count) {
  DWORD room = 0;
  for (;;) {
    room += LIST_GROWTH_IDS;
    ids.reset();
    ids.reset(new (std::nothrow) DWORD[room]);
    if (!ids) return false;
    const DWORD bytes = room * sizeof(DWORD);
    DWORD bytesReturned = 0;
    if (!enumProcesses(ids.get(), bytes, &bytesReturned)) return false;
    // Only whole ids count, and never more than the buffer holds.
    if (bytesReturned < bytes) {
      *count = bytesReturned / sizeof(DWORD);
      return true;
    }
    if (room >= LIST_MOST_IDS) {
      *count = room;
      return true;
    }
  }
}

// The base name of the process's executable (its first module) equals name.
// The handle is closed when this returns, so one is open at a time.
bool IsProcessNamed(const PsapiLibrary& psapi, DWORD processId, const char* name, int nameLength) {
  KernelHandle process(OpenProcess(PROCESS_READ_ACCESS, FALSE, processId));
  if (!process.IsSet()) return false;
  HMODULE executable = nullptr;
  DWORD modulesBytes = 0;
  char baseName[MAX_PATH];
  DWORD length = 0;
  if (psapi.enumProcessModules(process.Get(), &executable, sizeof(HMODULE), &modulesBytes)) {
    // The length returned is the only limit: a cut-off name may lack its terminator.
    length = psapi.getModuleBaseName(process.Get(), executable, baseName, MAX_PATH);
  }
  return length != 0 && length == static_cast<DWORD>(nameLength) &&
         EqualIgnoringAsciiCase(baseName, name, nameLength);
}

}  // namespace

ProcessFinder::ProcessFinder() : name(nullptr) {}

ProcessFinder::~ProcessFinder() { delete[] name; }

// A name cut short would match other programs, so a name too long is refused.
int ProcessFinder::SetName(const char* executableName) { return StoreOwnedText(&name, MAX_PATH, executableName); }

bool ProcessFinder::IsRunning() {
  const int nameLength = name != nullptr ? TextLength(name) : 0;
  if (nameLength == 0) return false;
  PsapiLibrary psapi;
  if (!psapi.Load()) return false;
  std::unique_ptr<DWORD[]> ids;
  DWORD count = 0;
  if (!ReadProcessIds(psapi.enumProcesses, ids, &count)) return false;
  for (DWORD i = 0; i < count; ++i) {
    if (IsProcessNamed(psapi, ids[i], name, nameLength)) return true;
  }
  return false;
}
