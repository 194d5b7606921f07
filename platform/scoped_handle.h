// One owner for everything the updater opens or allocates from Windows: the
// handle is released when its owner goes, on every path, by the call that
// belongs to its kind. Both NULL and INVALID_HANDLE_VALUE mean "none", since
// CreateFileA answers the one and every other opener the other.
#pragma once

#include "platform/win32.h"

template <typename Handle, typename Release>
class ScopedHandle {
 public:
  ScopedHandle() : handle(nullptr) {}
  explicit ScopedHandle(Handle opened) : handle(opened) {}
  ~ScopedHandle() { Reset(); }
  ScopedHandle(const ScopedHandle&) = delete;
  ScopedHandle& operator=(const ScopedHandle&) = delete;
  ScopedHandle(ScopedHandle&&) = delete;
  ScopedHandle& operator=(ScopedHandle&&) = delete;

  Handle Get() const { return handle; }
  bool IsSet() const {
    return handle != nullptr &&
           reinterpret_cast<const void*>(handle) != reinterpret_cast<const void*>(INVALID_HANDLE_VALUE);
  }
  // Releases what was held, now rather than at the end of the scope, and
  // holds what was opened in its place.
  void Reset(Handle opened = nullptr) {
    if (IsSet()) Release::Free(handle);
    handle = opened;
  }
  // For the opening call's out-parameter; what was held is released first.
  Handle* Receive() {
    Reset();
    return &handle;
  }

 private:
  Handle handle;
};

struct KernelHandleRelease {
  static void Free(HANDLE handle) { CloseHandle(handle); }
};
struct RegistryKeyRelease {
  static void Free(HKEY key) { RegCloseKey(key); }
};
struct ServiceHandleRelease {
  static void Free(SC_HANDLE service) { CloseServiceHandle(service); }
};
struct LocalBlockRelease {
  static void Free(void* block) { LocalFree(block); }
};
struct LibraryRelease {
  static void Free(HMODULE module) { FreeLibrary(module); }
};
struct SidRelease {
  static void Free(PSID sid) { FreeSid(sid); }
};

typedef ScopedHandle<HANDLE, KernelHandleRelease> KernelHandle;
typedef ScopedHandle<HKEY, RegistryKeyRelease> RegistryHandle;
typedef ScopedHandle<SC_HANDLE, ServiceHandleRelease> ServiceHandle;
typedef ScopedHandle<HMODULE, LibraryRelease> LibraryHandle;
typedef ScopedHandle<PSID, SidRelease> SidHandle;
template <typename Block>
using LocalBlock = ScopedHandle<Block*, LocalBlockRelease>;
