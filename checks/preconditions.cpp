// Whether this machine can take the update: NT from version 5 on, an
// administrator's token, and a supported installation of the application.
#include <memory>
#include <new>

#include "app/updater.h"
#include "log/result_words.h"
#include "messages/catalogues.h"
#include "platform/scoped_handle.h"
#include "platform/system_functions.h"
#include "platform/wide_text.h"
#include "registry/registry_key.h"

namespace {

constexpr char APPLICATION_NAME[] = "ODRIX Carvella Maker";
constexpr char APPLICATION_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker";
constexpr char INSTALL_PATH_VALUE[] = "InstallPath";
constexpr char VERSION_VALUE[] = "Version";
constexpr DWORD FIRST_NT_MAJOR_VERSION = 5;
// The releases the update takes, named without the builds below them.
constexpr DWORD BUILD_BITS = 0xFFFF;
constexpr DWORD LAST_SUPPORTED_RELEASE = (SUPPORTED_VERSION_ABOVE_HIGHEST - 1) & ~BUILD_BITS;
constexpr int SERVICE_PACK_UNITS = 128;
constexpr int SERVICE_PACK_NAME_SIZE = SERVICE_PACK_UNITS * MOST_BYTES_PER_UNIT;
// "; the updater is told " and four numbers of up to ten digits.
constexpr int TOLD_VERSION_SIZE = 96;

// The token's group list into a LocalAlloc block; false when it cannot be
// sized, allocated or read.
bool ReadTokenGroups(HANDLE token, LocalBlock<TOKEN_GROUPS>* groups) {
  DWORD size = 0;
  if (GetTokenInformation(token, TokenGroups, nullptr, 0, &size) || GetLastError() != ERROR_INSUFFICIENT_BUFFER ||
      size < sizeof(TOKEN_GROUPS)) {
    return false;
  }
  groups->Reset(static_cast<TOKEN_GROUPS*>(LocalAlloc(LPTR, size)));
  return groups->IsSet() && GetTokenInformation(token, TokenGroups, groups->Get(), size, &size);
}

// Membership counts whatever the attributes say: an administrator's filtered
// token carries the group for deny only and still passes.
bool HasGroup(const TOKEN_GROUPS& groups, PSID group) {
  for (DWORD i = 0; i < groups.GroupCount; ++i) {
    if (EqualSid(groups.Groups[i].Sid, group)) return true;
  }
  return false;
}

bool IsSupportedVersion(DWORD version) {
  return SUPPORTED_VERSION_LOWEST <= version && version < SUPPORTED_VERSION_ABOVE_HIGHEST;
}

// 0 when the key opens with the rights the update needs; else why not.
int OpenApplicationKey(RegistryKey* key) {
  if (key == nullptr) return ERR_OUT_OF_MEMORY;
  key->SetRoot(HKEY_LOCAL_MACHINE);
  int error = key->SetPath(APPLICATION_KEY);
  if (error == 0) key->Exists(&error);  // an open key leaves it 0
  return error;
}

// The "Version" value, read with the error given, is one the update takes.
// The box says "not installed" either way; the log tells which it is.
bool IsSupportedInstallation(const Updater& updater, int versionError) {
  const DWORD version = updater.installedVersion;
  if (versionError != 0) {
    updater.Note("%s in %s: \"%s\" cannot be read (%s)", APPLICATION_NAME, updater.installDir, VERSION_VALUE,
                 DescribeResult(versionError, FROM_REGISTRY).text);
  } else if (!IsSupportedVersion(version)) {
    updater.Note("%s %s (0x%08X) in %s: installed, but this updater takes %s to %s only", APPLICATION_NAME,
                 DescribeVersion(version).text, static_cast<unsigned>(version), updater.installDir,
                 DescribeVersion(SUPPORTED_VERSION_LOWEST).text, DescribeVersion(LAST_SUPPORTED_RELEASE).text);
  } else {
    updater.Note("%s %s (0x%08X) in %s", APPLICATION_NAME, DescribeVersion(version).text,
                 static_cast<unsigned>(version), updater.installDir);
    return true;
  }
  updater.ReportMessage(MSG_NOT_INSTALLED);
  return false;
}

// "Service Pack 3", or empty where there is none. A full field has no terminator.
void ServicePackName(const OSVERSIONINFOW& version, char* name) {
  wchar_t wide[SERVICE_PACK_UNITS];
  for (int i = 0; i < SERVICE_PACK_UNITS; ++i) wide[i] = version.szCSDVersion[i];
  wide[SERVICE_PACK_UNITS - 1] = L'\0';
  NarrowText(wide, name, SERVICE_PACK_NAME_SIZE);
}

bool SameVersion(const OSVERSIONINFOW& left, const OSVERSIONINFOW& right) {
  return left.dwMajorVersion == right.dwMajorVersion && left.dwMinorVersion == right.dwMinorVersion &&
         left.dwBuildNumber == right.dwBuildNumber && left.dwPlatformId == right.dwPlatformId;
}

// The version of the Windows that runs, and where it differs, the one the
// updater is told and checks.
void NoteWindowsVersion(const Updater& updater, const OSVERSIONINFOW& told) {
  OSVERSIONINFOW running = {};
  if (!ReadRunningWindowsVersion(&running)) running = told;
  char servicePack[SERVICE_PACK_NAME_SIZE];
  ServicePackName(running, servicePack);
  char toldWords[TOLD_VERSION_SIZE] = "";
  if (!SameVersion(running, told)) {
    wsprintfA(toldWords, "; the updater is told %u.%u build %u, platform %u",
              static_cast<unsigned>(told.dwMajorVersion), static_cast<unsigned>(told.dwMinorVersion),
              static_cast<unsigned>(told.dwBuildNumber), static_cast<unsigned>(told.dwPlatformId));
  }
  updater.Note("Windows %u.%u build %u%s%s, platform %u%s", static_cast<unsigned>(running.dwMajorVersion),
               static_cast<unsigned>(running.dwMinorVersion), static_cast<unsigned>(running.dwBuildNumber),
               servicePack[0] != '\0' ? " " : "", servicePack, static_cast<unsigned>(running.dwPlatformId),
               toldWords);
}

}  // namespace

bool Updater::CheckPreconditions() {
  if (!IsSupportedOs()) {
    ReportMessage(MSG_OS_TOO_OLD);
    return false;
  }
  if (!IsAdministrator()) {
    ReportMessage(MSG_NEED_ADMIN);
    return false;
  }
  if (sourceDir == nullptr) sourceDir = new (std::nothrow) char[MAX_PATH];
  if (sourceDir != nullptr) ModuleDirectory(sourceDir, MAX_PATH);
  delete[] installDir;
  installDir = nullptr;

  std::unique_ptr<RegistryKey> application(new (std::nothrow) RegistryKey);
  int error = OpenApplicationKey(application.get());
  if (error != 0) {
    Note("%s is not installed: HKLM\\%s cannot be opened (%s)", APPLICATION_NAME, APPLICATION_KEY,
         DescribeResult(error, FROM_REGISTRY).text);
    ReportMessage(MSG_NOT_INSTALLED);
    return false;
  }
  installDir = application->GetString(INSTALL_PATH_VALUE, &error);
  if (installDir == nullptr) {
    Note("install folder refused: \"%s\" cannot be read (%s)", INSTALL_PATH_VALUE,
         DescribeResult(error, FROM_REGISTRY).text);
  }
  if (!IsUsableInstallFolder()) {
    delete[] installDir;
    installDir = nullptr;
    ReportMessage(MSG_INSTALL_BROKEN);
    return false;
  }
  error = 0;
  installedVersion = application->GetDword(VERSION_VALUE, &error);
  application.reset();
  return IsSupportedInstallation(*this, error);
}

// The check takes what Windows tells the updater, the log what really runs.
bool Updater::IsSupportedOs() const {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExW(&version);  // a failed call leaves the record zero: unsupported
  NoteWindowsVersion(*this, version);
  return version.dwPlatformId == VER_PLATFORM_WIN32_NT && version.dwMajorVersion >= FIRST_NT_MAJOR_VERSION;
}

// Any step that fails answers false: membership is never assumed from a group
// list that was not read. The token, the list and the SID are released on every path.
bool Updater::IsAdministrator() {
  KernelHandle token;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, token.Receive())) return false;
  LocalBlock<TOKEN_GROUPS> groups;
  if (!ReadTokenGroups(token.Get(), &groups)) return false;
  token.Reset();  // the list is all that is needed of it

  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  SidHandle administrators;
  if (!AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0,
                                0, administrators.Receive())) {
    return false;
  }
  return HasGroup(*groups.Get(), administrators.Get());
}

// The folder of the executable with its trailing backslash. A path that
// could not be read whole leaves the buffer empty: a cut path is no folder.
DWORD Updater::ModuleDirectory(char* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return ERROR_INSUFFICIENT_BUFFER;
  const DWORD length = GetModuleFileNameA(nullptr, buffer, size);
  if (length == 0) {
    const DWORD error = GetLastError();
    buffer[0] = '\0';
    return error;
  }
  if (length >= size) {
    buffer[0] = '\0';
    return ERROR_INSUFFICIENT_BUFFER;
  }
  for (DWORD position = length; position > 0; --position) {
    if (buffer[position - 1] == '\\') {
      buffer[position] = '\0';
      return 0;
    }
  }
  buffer[0] = '\0';
  return 0;
}
