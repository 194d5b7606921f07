// What Windows tells a program about itself and the system: the version record
// and the executable's own path. Also whole-machine presets for common systems.
#pragma once

#include <string>

#include "winsim/api.h"

namespace winsim {

// The Windows that runs, as RtlGetVersion reports it, and GetVersionExW up to
// Windows 8; a fresh machine is Windows XP SP3 (NT 5.1 build 2600).
void SetWindowsVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion = 0,
                       const std::string& servicePack = "", DWORD buildNumber = 0);
DWORD WindowsMajorVersion();

// The one language Windows has its own texts in: English (US) on a fresh
// machine, Japanese only on a Japanese Windows.
void SetSystemTextLanguage(LANGID language);

// The executable's own full path as GetModuleFileNameA reports it.
void SetModuleFileName(const std::string& path);

// Windows 2000 without a service pack: NT 5.0, no IsWow64Process, a
// registry that refuses the view flags, and no Terminal Services.
void UseWindows2000();
// A 64-bit Windows 7 running the 32-bit updater under WOW64, with split registry views.
void UseWow64Windows7();

}  // namespace winsim
