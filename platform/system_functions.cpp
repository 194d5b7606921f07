#include "platform/system_functions.h"

namespace {

constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG = 0x00000800;
typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD flags);

FARPROC FindKernelExport(const char* name) {
  HMODULE kernel = GetModuleHandleW(L"kernel32.dll");
  return kernel != nullptr ? GetProcAddress(kernel, name) : nullptr;
}

}  // namespace

IsWow64ProcessFunction FindIsWow64Process() {
  return AsFunction<IsWow64ProcessFunction>(FindKernelExport("IsWow64Process"));
}

void RestrictDllSearchToSystemFolder() {
  SetDefaultDllDirectoriesFunction restrict =
      AsFunction<SetDefaultDllDirectoriesFunction>(FindKernelExport("SetDefaultDllDirectories"));
  if (restrict != nullptr) restrict(LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG);
}
