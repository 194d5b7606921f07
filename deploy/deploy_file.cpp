#include "deploy/deploy_file.h"

#include <new>

#include "platform/scoped_handle.h"
#include "platform/text.h"

namespace {

constexpr char PATH_FORMAT[] = "%s\\%s";
// A copy moves through a buffer of this size, whatever the file's.
constexpr DWORD COPY_CHUNK_SIZE = 64 * 1024;
constexpr DWORD COPIED_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                    FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// A payload replaces the file as a new one would, but a hidden or system
// file stays so.
constexpr DWORD KEPT_ATTRIBUTES = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;

int LastError() { return static_cast<int>(GetLastError()); }

// Only a plain file with this one name may be written or copied: a reparse
// point or a second name would carry the bytes to a file elsewhere.
int CheckPlainFile(HANDLE file, BY_HANDLE_FILE_INFORMATION* information) {
  if (!GetFileInformationByHandle(file, information)) return LastError();
  const bool linked = (information->dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ||
                      information->nNumberOfLinks > 1;
  return linked ? ERR_LINKED_FILE : 0;
}

// The name itself is opened, never what it links to, and keeps its bytes
// until the handle has shown a plain file; only then is it cut to nothing.
// *existing receives the attributes it had (none for a new file).
int OpenForRewrite(const char* path, DWORD flags, KernelHandle* file, DWORD* existing, bool* opened) {
  file->Reset(CreateFileA(path, GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr));
  if (!file->IsSet()) return LastError();
  BY_HANDLE_FILE_INFORMATION information = {};
  const int plain = CheckPlainFile(file->Get(), &information);
  if (plain != 0) return plain;
  *existing = information.dwFileAttributes;
  SetOutParameter(opened, true);
  return SetEndOfFile(file->Get()) ? 0 : LastError();
}

// Set while the file is held open without sharing its deletion: the name
// cannot be swapped for a link until the handle closes.
int SetAttributesWhileOpen(const char* path, DWORD attributes) {
  return SetFileAttributesA(path, attributes != 0 ? attributes : FILE_ATTRIBUTE_NORMAL) ? 0 : LastError();
}

int WriteWhole(HANDLE file, const void* bytes, DWORD size) {
  DWORD written = 0;
  if (!WriteFile(file, bytes, size, &written, nullptr)) return LastError();
  return written == size ? 0 : ERR_WRITE_INCOMPLETE;
}

// What was written must be on the disk before anything that counts on it.
int Flush(HANDLE file) { return FlushFileBuffers(file) ? 0 : LastError(); }

// The payload resource of that id (low 16 bits) in the executable.
int FindPayload(int resourceId, const void** bytes, DWORD* size) {
  HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
  if (resource == nullptr) return LastError();
  // Zero is both a failure and the size of an empty resource; only the error tells.
  SetLastError(ERROR_SUCCESS);
  *size = SizeofResource(nullptr, resource);
  if (*size == 0 && GetLastError() != ERROR_SUCCESS) return LastError();
  HGLOBAL loaded = LoadResource(nullptr, resource);
  if (loaded == nullptr) return LastError();
  *bytes = LockResource(loaded);
  return *bytes != nullptr ? 0 : LastError();
}

bool SameBytes(const char* left, const char* right, DWORD size) {
  for (DWORD i = 0; i < size; ++i) {
    if (left[i] != right[i]) return false;
  }
  return true;
}

// One read of a byte more than expected: a file read stops at its end.
int HoldsBytes(HANDLE file, const void* bytes, DWORD size, bool* holds) {
  char* buffer = new (std::nothrow) char[size + 1];
  if (buffer == nullptr) return ERR_OUT_OF_MEMORY;
  DWORD got = 0;
  const int result = ReadFile(file, buffer, size + 1, &got, nullptr) ? 0 : LastError();
  *holds = result == 0 && got == size && SameBytes(buffer, static_cast<const char*>(bytes), size);
  delete[] buffer;
  return result;
}

int CopyBytes(HANDLE source, HANDLE destination) {
  char* buffer = new (std::nothrow) char[COPY_CHUNK_SIZE];
  if (buffer == nullptr) return ERR_OUT_OF_MEMORY;
  int result = 0;
  for (DWORD got = COPY_CHUNK_SIZE; result == 0 && got != 0;) {
    result = ReadFile(source, buffer, COPY_CHUNK_SIZE, &got, nullptr) ? 0 : LastError();
    if (result == 0 && got != 0) result = WriteWhole(destination, buffer, got);
  }
  delete[] buffer;
  return result;
}

// Bytes, attributes and last-write time, as a file copy carries them, from a
// plain source into a plain destination, on the disk when it answers 0.
int CopyFileThroughHandles(const char* sourcePath, const char* destinationPath, bool* destinationOpened) {
  const KernelHandle source(CreateFileA(sourcePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!source.IsSet()) return LastError();
  BY_HANDLE_FILE_INFORMATION information = {};
  int result = CheckPlainFile(source.Get(), &information);
  if (result != 0) return result;
  KernelHandle destination;
  DWORD existing = 0;
  result = OpenForRewrite(destinationPath, 0, &destination, &existing, destinationOpened);
  if (result == 0) result = CopyBytes(source.Get(), destination.Get());
  if (result == 0 && !SetFileTime(destination.Get(), nullptr, nullptr, &information.ftLastWriteTime)) {
    result = LastError();
  }
  if (result == 0) result = Flush(destination.Get());
  if (result == 0) result = SetAttributesWhileOpen(destinationPath, information.dwFileAttributes & COPIED_ATTRIBUTES);
  return result;
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

bool DeployFile::IsPresent() {
  if (BuildPath() != 0) return false;
  if (GetFileAttributesA(fullPath) != INVALID_FILE_ATTRIBUTES) return true;
  const DWORD error = GetLastError();
  return error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND;
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
int DeployFile::CopyTo(DeployFile& destination, bool* destinationOpened) {
  SetOutParameter(destinationOpened, false);
  const int result = BuildPaths(destination);
  if (result != 0) return result;
  if (resourceId != NO_RESOURCE) return ExtractResourceToFile(resourceId, destination.fullPath, destinationOpened);
  return CopyFileThroughHandles(fullPath, destination.fullPath, destinationOpened);
}

int DeployFile::MoveOver(DeployFile& destination) {
  const int result = BuildPaths(destination);
  if (result != 0) return result;
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;
  return MoveFileExA(fullPath, destination.fullPath, flags) ? 0 : LastError();
}

// The name itself is opened, never what it links to, and read only where its
// size is the payload's.
int DeployFile::HoldsResource(bool* holds) {
  *holds = false;
  const void* bytes = nullptr;
  DWORD size = 0;
  int result = BuildPath();
  if (result == 0) result = FindPayload(resourceId, &bytes, &size);
  if (result != 0) return result;
  const KernelHandle file(CreateFileA(fullPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsSet()) return LastError();
  BY_HANDLE_FILE_INFORMATION information = {};
  result = CheckPlainFile(file.Get(), &information);
  if (result != 0 || information.nFileSizeHigh != 0 || information.nFileSizeLow != size) return result;
  return HoldsBytes(file.Get(), bytes, size, holds);
}

int DeployFile::BuildPaths(DeployFile& destination) {
  const int result = BuildPath();
  return result != 0 ? result : destination.BuildPath();
}

// A folder that was never set stays unset, so every operation on the file
// answers ERR_NO_DIRECTORY.
int MakeRowFile(const char* folder, const char* fileName, int resourceId, FilePointer* file) {
  file->reset(new (std::nothrow) DeployFile);
  if (!*file) return ERR_OUT_OF_MEMORY;
  int result = folder != nullptr ? (*file)->SetDirectory(folder) : 0;
  if (result == 0) result = (*file)->SetName(fileName);
  (*file)->SetResourceId(resourceId);
  return result;
}

// The lookup, the load and the open come before the destination is touched, so
// a missing resource leaves the file as it was. A write that stops short fails
// even when WriteFile reports success.
int ExtractResourceToFile(int resourceId, const char* destinationPath, bool* destinationOpened) {
  SetOutParameter(destinationOpened, false);
  const void* bytes = nullptr;
  DWORD size = 0;
  int result = FindPayload(resourceId, &bytes, &size);
  if (result != 0) return result;

  KernelHandle file;
  DWORD existing = 0;
  result = OpenForRewrite(destinationPath, FILE_FLAG_WRITE_THROUGH, &file, &existing, destinationOpened);
  if (result == 0) result = WriteWhole(file.Get(), bytes, size);
  if (result == 0) result = Flush(file.Get());
  if (result == 0) result = SetAttributesWhileOpen(destinationPath, existing & KEPT_ATTRIBUTES);
  return result;
}
