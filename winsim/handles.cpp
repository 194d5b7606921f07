// One handle table for every kind of handle; the value of a handle is never
// reused within a test, so a stale handle is always recognised.
#include <map>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct HandleEntry {
  HandleKind kind;
  std::size_t object;
};

struct HandleTable {
  std::map<std::uintptr_t, HandleEntry> open;
  std::uintptr_t next = 0x1000;
  void (*onClose[static_cast<int>(HandleKind::Count)])(std::size_t) = {};
};

HandleTable& Table() {
  static HandleTable table;
  return table;
}

void ResetHandles() {
  HandleTable& table = Table();
  table.open.clear();
  table.next = 0x1000;
}
ResetHook resetHandles(&ResetHandles, ResetOrder::Core);

const HandleEntry* Find(const void* handle) {
  auto it = Table().open.find(reinterpret_cast<std::uintptr_t>(handle));
  return it == Table().open.end() ? nullptr : &it->second;
}

}  // namespace

HANDLE OpenHandle(HandleKind kind, std::size_t object) {
  HandleTable& table = Table();
  table.next += 4;
  table.open[table.next] = HandleEntry{kind, object};
  return reinterpret_cast<HANDLE>(table.next);
}

bool FindHandle(const void* handle, HandleKind kind, std::size_t* object) {
  const HandleEntry* entry = Find(handle);
  if (entry == nullptr || entry->kind != kind) return false;
  *object = entry->object;
  return true;
}

bool IsHandleOfKind(const void* handle, HandleKind kind) {
  const HandleEntry* entry = Find(handle);
  return entry != nullptr && entry->kind == kind;
}

bool CloseHandleOf(const void* handle, HandleKind kind) {
  HandleTable& table = Table();
  auto it = table.open.find(reinterpret_cast<std::uintptr_t>(handle));
  if (it == table.open.end() || it->second.kind != kind) return false;
  const std::size_t object = it->second.object;
  table.open.erase(it);
  if (auto onClose = table.onClose[static_cast<int>(kind)]) onClose(object);
  return true;
}

void SetCloseHook(HandleKind kind, void (*onClose)(std::size_t object)) {
  Table().onClose[static_cast<int>(kind)] = onClose;
}

std::size_t OpenHandleCount(HandleKind kind) {
  std::size_t count = 0;
  for (const auto& entry : Table().open) count += entry.second.kind == kind ? 1 : 0;
  return count;
}

std::size_t OpenHandleCount() { return Table().open.size(); }

void CloseEveryHandle() {
  while (!Table().open.empty()) {
    const auto first = Table().open.begin();
    CloseHandleOf(reinterpret_cast<const void*>(first->first), first->second.kind);
  }
}

}  // namespace winsim

// Kernel objects (mutex, file, process, token) share CloseHandle; each part
// hears of the close through its hook.
BOOL WINAPI CloseHandle(HANDLE handle) {
  if (winsim::Faulted("CloseHandle")) return FALSE;
  using winsim::HandleKind;
  for (HandleKind kind : {HandleKind::Mutex, HandleKind::File, HandleKind::Process, HandleKind::Token}) {
    if (winsim::CloseHandleOf(handle, kind)) return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
