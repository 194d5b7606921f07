// The product's allocations: LocalAlloc and operator new (std::nothrow) share
// one counter so that any one of them can be made to fail.
#include <cstdlib>
#include <new>
#include <set>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

std::set<void*>& LocalBlocks() {
  static std::set<void*> blocks;
  return blocks;
}

}  // namespace

void FreeLocalAllocations() {
  for (void* block : LocalBlocks()) std::free(block);
  LocalBlocks().clear();
}
namespace {
ResetHook resetMemory(&FreeLocalAllocations);
}  // namespace

std::size_t LiveLocalAllocations() { return LocalBlocks().size(); }

}  // namespace winsim

HLOCAL WINAPI LocalAlloc(UINT flags, SIZE_T bytes) {
  if (winsim::Faulted("LocalAlloc")) return nullptr;
  if (!winsim::EnterAllocation()) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  void* block = (flags & LMEM_ZEROINIT) != 0 ? std::calloc(bytes == 0 ? 1 : bytes, 1) : std::malloc(bytes == 0 ? 1 : bytes);
  winsim::LocalBlocks().insert(block);
  return block;
}

HLOCAL WINAPI LocalFree(HLOCAL memory) {
  if (memory == nullptr) return nullptr;
  if (winsim::LocalBlocks().erase(memory) == 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return memory;
  }
  std::free(memory);
  return nullptr;
}

// Nothrow allocations take the sanitizer's own operator new underneath, so that
// mismatched or leaked blocks are still reported.
void* operator new(std::size_t bytes, const std::nothrow_t&) noexcept {
  if (!winsim::EnterAllocation()) return nullptr;
  try {
    return ::operator new(bytes);
  } catch (...) {
    return nullptr;
  }
}

void* operator new[](std::size_t bytes, const std::nothrow_t&) noexcept {
  if (!winsim::EnterAllocation()) return nullptr;
  try {
    return ::operator new[](bytes);
  } catch (...) {
    return nullptr;
  }
}
