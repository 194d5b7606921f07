// Whether this machine can take the update: NT from version 5 on, an
// administrator's token, and a supported installation of the application.
#include <memory>
#include <new>

#include "app/updater.h"
#include "messages/catalogues.h"
#include "platform/scoped_handle.h"
#include "registry/registry_key.h"

namespace {

constexpr char APPLICATION_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker";
constexpr char INSTALL_PATH_VALUE[] = "InstallPath";
constexpr char VERSION_VALUE[] = "Version";
constexpr DWORD FIRST_NT_MAJOR_VERSION = 5;

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
  int error = 0;
  if (!application || application->SetRoot(HKEY_LOCAL_MACHINE) != 0 || application->SetPath(APPLICATION_KEY) != 0 ||
      !application->Exists(&error)) {
    ReportMessage(MSG_NOT_INSTALLED);
    return false;
  }
  installDir = application->GetString(INSTALL_PATH_VALUE, &error);
  if (!IsUsableInstallFolder()) {
    Note("install folder refused: %s", installDir != nullptr ? installDir : "(no text recorded)");
    delete[] installDir;
    installDir = nullptr;
    ReportMessage(MSG_INSTALL_BROKEN);
    return false;
  }
  installedVersion = application->GetDword(VERSION_VALUE, &error);
  application.reset();
  Note("ODRIX Carvella Maker 0x%08X in %s", static_cast<unsigned>(installedVersion), installDir);

  if (!IsSupportedVersion(installedVersion)) {
    ReportMessage(MSG_NOT_INSTALLED);
    return false;
  }
  return true;
}

bool Updater::IsSupportedOs() const {
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  GetVersionExW(&version);  // a failed call leaves the record zero: unsupported
  Note("Windows %u.%u build %u, platform %u", static_cast<unsigned>(version.dwMajorVersion),
       static_cast<unsigned>(version.dwMinorVersion), static_cast<unsigned>(version.dwBuildNumber),
       static_cast<unsigned>(version.dwPlatformId));
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
