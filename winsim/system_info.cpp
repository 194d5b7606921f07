// GetVersionExW, RtlGetVersion, the system's texts and GetModuleFileNameA over settable facts.
#include "winsim/system_info.h"

#include <cstring>
#include <string>

#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/registry.h"
#include "winsim/system.h"
#include "winsim/time.h"

namespace winsim {
namespace {

const LANGID ENGLISH_US = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
const LANGID JAPANESE = MAKELANGID(LANG_JAPANESE, 0x01);

struct SystemInfoState {
  DWORD platformId = VER_PLATFORM_WIN32_NT;
  DWORD majorVersion = 5;
  DWORD minorVersion = 1;
  DWORD buildNumber = 2600;
  std::string servicePack = "Service Pack 3";
  std::string moduleFileName = "C:\\Downloads\\CarvellaMakerUpdater.exe";
  LANGID textLanguage = ENGLISH_US;
};

SystemInfoState& Info() {
  static SystemInfoState state;
  return state;
}

// OSVERSIONINFOEXW, which Windows accepts too.
const DWORD VERSION_INFO_EX_SIZE = 284;
const LONG STATUS_INVALID_PARAMETER = static_cast<LONG>(0xC000000D);

bool FillVersion(LPOSVERSIONINFOW info, const SystemInfoState& state) {
  const DWORD size = info != nullptr ? info->dwOSVersionInfoSize : 0;
  if (size != sizeof(OSVERSIONINFOW) && size != VERSION_INFO_EX_SIZE) return false;
  *info = OSVERSIONINFOW{size, state.majorVersion, state.minorVersion, state.buildNumber, state.platformId, {}};
  for (std::size_t i = 0; i < state.servicePack.size() && i + 1 < 128; ++i) {
    info->szCSDVersion[i] = static_cast<unsigned char>(state.servicePack[i]);
  }
  return true;
}

// RtlGetVersion (Microsoft): the version of the Windows that runs, whatever
// the program's manifest declares.
LONG WINAPI RtlGetVersionSim(LPOSVERSIONINFOW info) {
  if (Faulted("RtlGetVersion") || !FillVersion(info, Info())) return STATUS_INVALID_PARAMETER;
  return 0;
}

void ResetSystemInfo() {
  Info() = SystemInfoState();
  RegisterExport("ntdll.dll", "RtlGetVersion", &RtlGetVersionSim);
}
ResetHook resetSystemInfo(&ResetSystemInfo);

// Windows' texts for its codes, each with the line end its message table holds.
const struct {
  LANGID language;
  DWORD code;
  const wchar_t* text;
} SYSTEM_TEXTS[] = {
    {ENGLISH_US, 2, L"The system cannot find the file specified.\r\n"},
    {ENGLISH_US, 3, L"The system cannot find the path specified.\r\n"},
    {ENGLISH_US, 5, L"Access is denied.\r\n"},
    {ENGLISH_US, 32, L"The process cannot access the file because it is being used by another process.\r\n"},
    {ENGLISH_US, 112, L"There is not enough space on the disk.\r\n"},
    {ENGLISH_US, 1056, L"An instance of the service is already running.\r\n"},
    {ENGLISH_US, 1058,
     L"The service cannot be started, either because it is disabled or because it has no enabled devices "
     L"associated with it.\r\n"},
    {ENGLISH_US, 1060, L"The specified service does not exist as an installed service.\r\n"},
    {ENGLISH_US, 1062, L"The service has not been started.\r\n"},
    {ENGLISH_US, 1072, L"The specified service has been marked for deletion.\r\n"},
    {JAPANESE, 5, L"アクセスが拒否されました。\r\n"},
};

DWORD Fail(DWORD error) {
  SetLastError(error);
  return 0;
}

}  // namespace

void SetSystemTextLanguage(LANGID language) { Info().textLanguage = language; }

void SetWindowsVersion(DWORD platformId, DWORD majorVersion, DWORD minorVersion, const std::string& servicePack,
                       DWORD buildNumber) {
  SystemInfoState& info = Info();
  info.platformId = platformId;
  info.majorVersion = majorVersion;
  info.minorVersion = minorVersion;
  info.buildNumber = buildNumber;
  info.servicePack = servicePack;
}

DWORD WindowsMajorVersion() { return Info().majorVersion; }

void SetModuleFileName(const std::string& path) { Info().moduleFileName = path; }

void UseWindows2000() {
  SetWindowsVersion(VER_PLATFORM_WIN32_NT, 5, 0, "", 2195);
  SetWow64Query(Wow64Query::Absent);
  SetRegistryViews(RegistryViews::RejectFlags);
  SetTerminalServices(false);
}

void UseWow64Windows7() {
  SetWindowsVersion(VER_PLATFORM_WIN32_NT, 6, 1, "Service Pack 1", 7601);
  SetWow64Query(Wow64Query::Reports64BitWindows);
  SetRegistryViews(RegistryViews::Split);
  OfferRegDeleteKeyEx();
}

}  // namespace winsim

// GetVersionExW (Microsoft): a program whose manifest does not declare
// Windows 8.1 or later, as the updater's does not, is told 6.2 build 9200 there.
BOOL WINAPI GetVersionExW(LPOSVERSIONINFOW info) {
  if (winsim::Faulted("GetVersionExW")) return FALSE;
  winsim::SystemInfoState told = winsim::Info();
  if (told.platformId == VER_PLATFORM_WIN32_NT && (told.majorVersion << 8 | told.minorVersion) >= 0x602) {
    told.majorVersion = 6, told.minorVersion = 2, told.buildNumber = 9200, told.servicePack.clear();
  }
  if (winsim::FillVersion(info, told)) return TRUE;
  SetLastError(ERROR_INSUFFICIENT_BUFFER);
  return FALSE;
}

// FormatMessageW (Microsoft), system texts only: a language asked for by id
// gives that one or fails (ERROR_RESOURCE_LANG_NOT_FOUND), 0 whichever Windows
// has; a code without a text fails (ERROR_MR_MID_NOT_FOUND); the size counts the
// terminator. FORMAT_MESSAGE_MAX_WIDTH_MASK makes each line end a blank, the last too.
DWORD WINAPI FormatMessageW(DWORD flags, LPCVOID, DWORD messageId, DWORD languageId, LPWSTR buffer, DWORD size,
                            va_list*) {
  using namespace winsim;
  if (Faulted("FormatMessageW")) return 0;
  if ((flags & FORMAT_MESSAGE_FROM_SYSTEM) == 0) return Fail(ERROR_INVALID_PARAMETER);
  const LANGID language = Info().textLanguage;
  if (languageId != LANG_NEUTRAL && languageId != language) return Fail(ERROR_RESOURCE_LANG_NOT_FOUND);
  std::wstring text;
  for (const auto& known : SYSTEM_TEXTS) {
    if (known.language == language && known.code == messageId) text = known.text;
  }
  if (text.empty()) return Fail(ERROR_MR_MID_NOT_FOUND);
  for (std::size_t at; (flags & FORMAT_MESSAGE_MAX_WIDTH_MASK) != 0 && (at = text.find(L"\r\n")) != text.npos;) {
    text.replace(at, 2, L" ");
  }
  if (text.size() >= size) return Fail(ERROR_INSUFFICIENT_BUFFER);
  std::wcscpy(buffer, text.c_str());
  return static_cast<DWORD>(text.size());
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
