// GetVersionExW and GetModuleFileNameA over settable facts.
#include "winsim/system_info.h"

#include <cstring>

#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/registry.h"
#include "winsim/system.h"
#include "winsim/time.h"

namespace winsim {
namespace {

struct SystemInfoState {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD majorVersion = 5;
  DWORD minorVersion = 1;
  DWORD buildNumber = 2600;
  std::string servicePack = "Service Pack 3";
  std::string moduleFileName = "C:\\Downloads\\CarvellaMakerUpdater.exe";
};

SystemInfoState& Info() {
  static SystemInfoState state;
  return state;
}

void ResetSystemInfo() { Info() = SystemInfoState(); }
ResetHook resetSystemInfo(&ResetSystemInfo);

// OSVERSIONINFOEXW, which Windows accepts too.
const DWORD VERSION_INFO_EX_SIZE = 284;

}  // namespace

void SetWindowsVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion, const std::string& servicePack) {
  SystemInfoState& info = Info();
  info.platformId = platformId;
  info.majorVersion = majorVersion;
  info.minorVersion = minorVersion;
  info.servicePack = servicePack;
  OfferTickCount64(platformId == VER_PLATFORM_WIN32_NT && majorVersion >= 6);
}

DWORD WindowsMajorVersion() { return Info().majorVersion; }

void SetModuleFileName(const std::string& path) { Info().moduleFileName = path; }

void UseWindows2000() {
  SetWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 0);
  SetWow64Query(Wow64Query::Absent);
  SetRegistryViews(RegistryViews::RejectFlags);
  SetTerminalServices(false);
}

void UseWow64Windows7() {
  SetWindowsVersion(VER_PLATFORM_WIN32_NT, 6, 1, "Service Pack 1");
  SetWow64Query(Wow64Query::Reports64BitWindows);
  SetRegistryViews(RegistryViews::Split);
  OfferRegDeleteKeyEx();
}

}  // namespace winsim

BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  if (winsim::Faulted("GetVersionExW")) return FALSE;
  if (info == nullptr || (info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW) &&
                          info->dwOSVersionInfoSize != winsim::VERSION_INFO_EX_SIZE)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const winsim::SystemInfoState& state = winsim::Info();
  info->dwMajorVersion = state.majorVersion;
  info->dwMinorVersion = state.minorVersion;
  info->dwBuildNumber = state.buildNumber;
  info->dwPlatformId = state.platformId;
  std::memset(info->szCSDVersion, 0, sizeof(info->szCSDVersion));
  for (std::size_t i = 0; i < state.servicePack.size() && i + 1 < 128; ++i) {
    info->szCSDVersion[i] = static_cast<unsigned char>(state.servicePack[i]);
  }
  return TRUE;
}

// As on Windows XP: a buffer too small takes size characters of the path,
// without a terminator, and the answer is size with ERROR_INSUFFICIENT_BUFFER.
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
  if (winsim::Faulted("GetModuleFileNameA")) return 0;
  if (module != nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return 0;
  }
  const std::string& path = winsim::Info().moduleFileName;
  if (size == 0) return 0;
  const DWORD length = static_cast<DWORD>(path.size());
  if (length >= size) {
    std::memcpy(fileName, path.data(), size);
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(fileName, path.c_str(), length + 1);
  return length;
}
