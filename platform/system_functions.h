// Functions that some of the supported Windows versions lack. They are looked
// up when needed instead of imported, so the executable still loads there.
#pragma once

#include "platform/win32.h"

typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE process, PBOOL wow64);

// NULL on Windows without WOW64 (2000, XP before SP2): a 32-bit-only system.
IsWow64ProcessFunction FindIsWow64Process();

typedef BOOL(WINAPI* GetVolumePathNameFunction)(LPCSTR fileName, LPSTR volumePath, DWORD size);
// NULL where kernel32 lacks it: Microsoft names Windows XP as the first to
// have it, and a missing import would keep the updater from starting at all.
GetVolumePathNameFunction FindGetVolumePathName();

typedef LSTATUS(WINAPI* RegDeleteKeyExFunction)(HKEY key, LPCSTR subKey, REGSAM view, DWORD reserved);
// NULL where Windows has only one registry view: 64-bit Windows alone has it.
RegDeleteKeyExFunction FindRegDeleteKeyEx();

// Whether the process runs in session 0 of Windows Vista or later: the
// services' session, which no user sees, whatever its window station's flags
// say. On Windows 2000 and XP session 0 is the console user's.
bool RunsInServicesSession();

// Keeps DLLs loaded later by name out of the executable's own folder, where the
// elevated updater (often started from a downloads folder) could find a planted copy.
void RestrictDllSearchToSystemFolder();

// The version of the Windows that runs, as ntdll tells it: GetVersionExW
// tells a program whose manifest does not name Windows 8.1 or later that it
// runs on 6.2. False where ntdll lacks RtlGetVersion.
bool ReadRunningWindowsVersion(OSVERSIONINFOW* version);

// Casts an export to its function type.
template <typename Function>
Function AsFunction(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}
