#include "deploy/deploy_file.h"

#include <new>

#include "platform/scoped_handle.h"
#include "platform/text.h"

namespace {

constexpr char PATH_FORMAT[] = "%s\\%s";
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

// Windows refuses to replace a hidden or system file unless the new one is
// asked to be hidden or system as well; the file keeps those bits.
DWORD ReplacementAttributes(const char* path) {
  const DWORD existing = GetFileAttributesA(path);
  if (existing == INVALID_FILE_ATTRIBUTES || (existing & KEPT_ATTRIBUTES) == 0) return FILE_ATTRIBUTE_NORMAL;
  return existing & KEPT_ATTRIBUTES;
}

}  // namespace

DeployFile::DeployFile() : name(nullptr), directory(nullptr), fullPath(nullptr), resourceId(NO_RESOURCE) {}

DeployFile::~DeployFile() {
  delete[] name;
  delete[] directory;
  delete[] fullPath;
}

// "D:\apps\" and "D:\apps" name the same folder; only one backslash goes, so
// the root "D:\" becomes "D:" and builds "D:\name".
int DeployFile::SetDirectory(const char* folder) {
  const int result = StoreOwnedText(&directory, MAX_PATH, folder);
  if (result != 0) return result;
  if (EndsWithBackslash(directory)) directory[TextLength(directory) - 1] = '\0';
  return 0;
}

int DeployFile::SetName(const char* fileName) { return StoreOwnedText(&name, MAX_PATH, fileName); }

void DeployFile::SetResourceId(int id) { resourceId = id; }

// A path that would not fit leaves no path at all, so nothing later acts on
// an older one.
int DeployFile::BuildPath() {
  if (directory == nullptr) return ERR_NO_DIRECTORY;
  if (name == nullptr) return ERR_NO_NAME;
  if (fullPath == nullptr) {
    fullPath = new (std::nothrow) char[MAX_PATH];
    if (fullPath == nullptr) return ERR_OUT_OF_MEMORY;
  }
  if (TextLength(directory) + 1 + TextLength(name) >= MAX_PATH) {
    fullPath[0] = '\0';
    return ERR_TEXT_TOO_LONG;
  }
  wsprintfA(fullPath, PATH_FORMAT, directory, name);
  return 0;
}

bool DeployFile::Exists(int* error) {
  const int result = BuildPath();
  if (result != 0) {
    SetOutParameter(error, result);
    return false;
  }
  const KernelHandle file(
      CreateFileA(fullPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsSet()) {
    SetOutParameter(error, static_cast<int>(GetLastError()));
    return false;
  }
  return true;
}

bool DeployFile::IsLink() {
  if (BuildPath() != 0) return false;
  const DWORD attributes = GetFileAttributesA(fullPath);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
  }
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return true;
  // Opened for no data and sharing everything, the name itself and not what
  // it may point to: only its link count is read.
  const KernelHandle file(CreateFileA(fullPath, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS,
                                      nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!file.IsSet() || !GetFileInformationByHandle(file.Get(), &information)) return true;
  return information.nNumberOfLinks > 1 || (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
}

// Works on the path as last built. Every attribute goes, not only read-only,
// so that nothing keeps the file from being replaced or deleted.
int DeployFile::ClearReadOnly() {
  if (IsReadOnly()) SetFileAttributesA(fullPath, 0);
  return 0;
}

bool DeployFile::IsReadOnly() const {
  if (fullPath == nullptr || fullPath[0] == '\0') return false;
  const DWORD attributes = GetFileAttributesA(fullPath);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
}

int DeployFile::Delete() {
  const int result = BuildPath();
  if (result != 0) return result;
  if (!DeleteFileA(fullPath)) return static_cast<int>(GetLastError());
  return 0;
}

// A source with a resource id still needs its path: both paths are checked first.
// A failed plain copy may have gone as far as the destination: it says so.
int DeployFile::CopyTo(DeployFile& destination, bool* destinationOpened) {
  SetOutParameter(destinationOpened, false);
  int result = BuildPath();
  if (result != 0) return result;
  result = destination.BuildPath();
  if (result != 0) return result;
  if (resourceId != NO_RESOURCE) return ExtractResourceToFile(resourceId, destination.fullPath, destinationOpened);
  BOOL cancel = FALSE;
  if (CopyFileExA(fullPath, destination.fullPath, nullptr, nullptr, &cancel, 0)) return 0;
  SetOutParameter(destinationOpened, true);
  return static_cast<int>(GetLastError());
}

// The lookup, the load and the open come before the destination is touched, so
// a missing resource leaves the file as it was. A write that stops short fails
// even when WriteFile reports success.
int ExtractResourceToFile(int resourceId, const char* destinationPath, bool* destinationOpened) {
  SetOutParameter(destinationOpened, false);
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
  if (resource == nullptr) return static_cast<int>(GetLastError());
  // Zero is both a failure and the size of an empty resource; only the error tells.
  SetLastError(ERROR_SUCCESS);
  const DWORD size = SizeofResource(nullptr, resource);
  if (size == 0 && GetLastError() != ERROR_SUCCESS) return static_cast<int>(GetLastError());
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (loaded == nullptr) return static_cast<int>(GetLastError());
  const void* bytes = LockResource(loaded);
  if (bytes == nullptr) return static_cast<int>(GetLastError());

  const KernelHandle file(CreateFileA(destinationPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                     ReplacementAttributes(destinationPath) | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!file.IsSet()) return static_cast<int>(GetLastError());
  SetOutParameter(destinationOpened, true);
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes, size, &written, nullptr)) return static_cast<int>(GetLastError());
  return written == size ? 0 : ERR_WRITE_INCOMPLETE;
}
