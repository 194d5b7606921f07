// Files and folders: case-insensitive paths where runs of backslashes count as
// one, open handles with share modes, and the documented failures of the
// kernel32 file functions the updater calls.
#include "winsim/files.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

const DWORD SETTABLE_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

struct FileData {
  std::string name;  // the path as first created, backslash runs collapsed
  std::string bytes;
  DWORD attributes;
};

// One open of a file, by this process (through a handle) or by another one.
// A file deleted while open stays reachable through its openers.
struct Opener {
  std::shared_ptr<FileData> file;
  DWORD access;
  DWORD share;
  std::size_t position;
  bool open;
};

struct FileSystem {
  std::map<std::string, std::shared_ptr<FileData>> files;  // by key
  std::set<std::string> folders;                           // by key
  std::vector<Opener> openers;                             // index = handle object
  std::vector<std::pair<std::string, std::string>> copies;
  unsigned stopWriteAt = 0;
  DWORD stopWriteAfter = 0;
  DWORD stopWriteError = 0;
};

FileSystem& Files() {
  static FileSystem state;
  return state;
}

void OnFileClosed(std::size_t object) {
  Opener& opener = Files().openers[object];
  opener.open = false;
  opener.file.reset();
}

void ResetFiles() {
  Files() = FileSystem();
  SetCloseHook(HandleKind::File, &OnFileClosed);
}
ResetHook resetFiles(&ResetFiles);

// The path with '/' read as '\' and every run of backslashes as one; a trailing
// backslash is dropped except for a lone root.
std::string Collapse(const std::string& path) {
  std::string collapsed;
  for (char c : path) {
    if (c == '/') c = '\\';
    if (c == '\\' && !collapsed.empty() && collapsed.back() == '\\') continue;
    collapsed += c;
  }
  if (collapsed.size() > 1 && collapsed.back() == '\\') collapsed.pop_back();
  return collapsed;
}

std::string Key(const std::string& path) { return LowerCase(Collapse(path)); }

bool IsRoot(const std::string& key) { return key == "\\" || (key.size() == 2 && key[1] == ':'); }

bool IsFolder(const std::string& key) { return IsRoot(key) || Files().folders.count(key) != 0; }

// A name without any backslash lies in the current folder, which exists.
bool ParentExists(const std::string& key) {
  const std::size_t slash = key.rfind('\\');
  if (slash == std::string::npos) return true;
  if (slash == 0) return true;
  return IsFolder(key.substr(0, slash));
}

std::shared_ptr<FileData> Find(const std::string& key) {
  auto it = Files().files.find(key);
  return it == Files().files.end() ? nullptr : it->second;
}

bool Reads(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL)) != 0; }
bool Writes(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL)) != 0; }
bool UsesData(DWORD access) { return Reads(access) || Writes(access); }

// Opens without read or write access neither restrict others nor are restricted.
bool ShareConflict(const std::shared_ptr<FileData>& file, DWORD access, DWORD share) {
  if (!UsesData(access)) return false;
  for (const Opener& other : Files().openers) {
    if (!other.open || other.file != file || !UsesData(other.access)) continue;
    if (Reads(other.access) && (share & FILE_SHARE_READ) == 0) return true;
    if (Writes(other.access) && (share & FILE_SHARE_WRITE) == 0) return true;
    if (Reads(access) && (other.share & FILE_SHARE_READ) == 0) return true;
    if (Writes(access) && (other.share & FILE_SHARE_WRITE) == 0) return true;
  }
  return false;
}

bool BlocksDelete(const std::shared_ptr<FileData>& file) {
  for (const Opener& other : Files().openers) {
    if (other.open && other.file == file && UsesData(other.access) && (other.share & FILE_SHARE_DELETE) == 0) {
      return true;
    }
  }
  return false;
}

// Why a path cannot name a file: an empty path, a folder, a missing folder.
DWORD FilePathError(const char* path, std::string* key) {
  if (path == nullptr || path[0] == '\0') return ERROR_PATH_NOT_FOUND;
  *key = Key(path);
  if (IsFolder(*key)) return ERROR_ACCESS_DENIED;
  if (!ParentExists(*key)) return ERROR_PATH_NOT_FOUND;
  return 0;
}

// What a path names for the calls that take a folder as well as a file: the
// file, or nullptr for a folder; the error when it names neither.
DWORD Lookup(const char* path, std::shared_ptr<FileData>* file) {
  if (path == nullptr || path[0] == '\0') return ERROR_PATH_NOT_FOUND;
  const std::string key = Key(path);
  if (IsFolder(key)) return 0;
  if (!ParentExists(key)) return ERROR_PATH_NOT_FOUND;
  *file = Find(key);
  return *file == nullptr ? ERROR_FILE_NOT_FOUND : 0;
}

std::shared_ptr<FileData> CreateEntry(const std::string& key, const std::string& path, DWORD attributes) {
  auto file = std::make_shared<FileData>(FileData{Collapse(path), std::string(), attributes & SETTABLE_ATTRIBUTES});
  Files().files[key] = file;
  return file;
}

template <typename Result>
Result Fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

}  // namespace

void MakeFolder(const std::string& path) {
  std::string key = Key(path);
  while (!key.empty() && !IsRoot(key)) {
    Files().folders.insert(key);
    const std::size_t slash = key.rfind('\\');
    if (slash == std::string::npos || slash == 0) break;
    key.resize(slash);
  }
}

bool FolderExists(const std::string& path) { return IsFolder(Key(path)); }

void PutFile(const std::string& path, const std::string& bytes, DWORD attributes) {
  const std::string key = Key(path);
  const std::size_t slash = key.rfind('\\');
  if (slash != std::string::npos && slash != 0) MakeFolder(key.substr(0, slash));
  std::shared_ptr<FileData> file = Find(key);
  if (file == nullptr) file = CreateEntry(key, path, 0);
  file->bytes = bytes;
  file->attributes = attributes & SETTABLE_ATTRIBUTES;
}

bool FileExists(const std::string& path) { return Find(Key(path)) != nullptr; }

std::string FileBytes(const std::string& path) {
  std::shared_ptr<FileData> file = Find(Key(path));
  return file == nullptr ? std::string() : file->bytes;
}

DWORD FileAttributes(const std::string& path) {
  std::shared_ptr<FileData> file = Find(Key(path));
  return file == nullptr ? INVALID_FILE_ATTRIBUTES : file->attributes;
}

std::vector<std::string> FilesIn(const std::string& folder) {
  const std::string prefix = Key(folder) + "\\";
  std::vector<std::string> names;
  for (const auto& entry : Files().files) {
    const std::string& key = entry.first;
    if (key.compare(0, prefix.size(), prefix) != 0 || key.find('\\', prefix.size()) != std::string::npos) continue;
    const std::string& name = entry.second->name;
    names.push_back(name.substr(name.rfind('\\') + 1));
  }
  return names;
}

bool HoldOpenElsewhere(const std::string& path, DWORD access, DWORD shareMode) {
  std::shared_ptr<FileData> file = Find(Key(path));
  if (file == nullptr) return false;
  Files().openers.push_back(Opener{file, access, shareMode, 0, true});
  return true;
}

std::size_t OpenFileHandleCount() { return OpenHandleCount(HandleKind::File); }

void StopWritePartWay(unsigned nth, DWORD bytesWritten, DWORD error) {
  FileSystem& files = Files();
  files.stopWriteAt = nth;
  files.stopWriteAfter = bytesWritten;
  files.stopWriteError = error;
}

const std::vector<std::pair<std::string, std::string>>& CopyLog() { return Files().copies; }

}  // namespace winsim

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flagsAndAttributes, HANDLE) {
  using namespace winsim;
  if (Faulted("CreateFileA")) return INVALID_HANDLE_VALUE;
  std::string key;
  DWORD error = FilePathError(fileName, &key);
  if (error != 0) return Fail(error, INVALID_HANDLE_VALUE);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !Writes(access))) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  std::shared_ptr<FileData> file = Find(key);
  const DWORD requested = flagsAndAttributes & SETTABLE_ATTRIBUTES;
  DWORD lastError = ERROR_SUCCESS;
  if (file == nullptr) {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    file = CreateEntry(key, fileName, requested);
  } else {
    if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
    const bool replaces = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
    if ((file->attributes & FILE_ATTRIBUTE_READONLY) != 0 && (Writes(access) || replaces)) {
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    // Replacing a hidden or system file must repeat those attributes.
    const DWORD kept = file->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
    if (disposition == CREATE_ALWAYS && (kept & ~requested) != 0) {
      return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
    }
    if (ShareConflict(file, access, shareMode)) return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
    if (replaces) file->bytes.clear();
    if (disposition == CREATE_ALWAYS) file->attributes = requested;
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) lastError = ERROR_ALREADY_EXISTS;
  }
  Files().openers.push_back(Opener{file, access, shareMode, 0, true});
  SetLastError(lastError);
  return OpenHandle(HandleKind::File, Files().openers.size() - 1);
}

BOOL WINAPI WriteFile(HANDLE handle, LPCVOID buffer, DWORD bytesToWrite, LPDWORD bytesWritten, LPOVERLAPPED) {
  using namespace winsim;
  if (Faulted("WriteFile")) return FALSE;
  std::size_t object = 0;
  if (!FindHandle(handle, HandleKind::File, &object)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (bytesWritten == nullptr) return Fail(ERROR_INVALID_PARAMETER, FALSE);
  *bytesWritten = 0;
  Opener& opener = Files().openers[object];
  if (!Writes(opener.access)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (buffer == nullptr && bytesToWrite != 0) return Fail(ERROR_NOACCESS, FALSE);
  const FileSystem& files = Files();
  const bool stops = files.stopWriteAt != 0 && CallCount("WriteFile") == files.stopWriteAt;
  const DWORD count = stops ? std::min(bytesToWrite, files.stopWriteAfter) : bytesToWrite;
  std::string& bytes = opener.file->bytes;
  if (bytes.size() < opener.position + count) bytes.resize(opener.position + count);
  if (count != 0) bytes.replace(opener.position, count, static_cast<const char*>(buffer), count);
  opener.position += count;
  *bytesWritten = count;
  if (stops && files.stopWriteError != 0) return Fail(files.stopWriteError, FALSE);
  return TRUE;
}

// The source is read while others may read and write it; the destination is
// written exclusively. Attributes travel with the bytes.
BOOL WINAPI CopyFileExA(LPCSTR existingFileName, LPCSTR newFileName, LPPROGRESS_ROUTINE, LPVOID, LPBOOL cancel,
                        DWORD copyFlags) {
  using namespace winsim;
  Files().copies.emplace_back(existingFileName != nullptr ? existingFileName : "",
                              newFileName != nullptr ? newFileName : "");
  if (Faulted("CopyFileExA")) return FALSE;
  if (cancel != nullptr && *cancel) return Fail(ERROR_REQUEST_ABORTED, FALSE);
  std::string sourceKey;
  DWORD error = FilePathError(existingFileName, &sourceKey);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> source = Find(sourceKey);
  if (source == nullptr) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (ShareConflict(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  std::string destinationKey;
  error = FilePathError(newFileName, &destinationKey);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> destination = Find(destinationKey);
  if (destination != nullptr) {
    if ((copyFlags & COPY_FILE_FAIL_IF_EXISTS) != 0) return Fail(ERROR_FILE_EXISTS, FALSE);
    if ((destination->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) != 0) {
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
    // The source is open for reading while the destination is opened exclusively.
    if (destination == source || ShareConflict(destination, GENERIC_WRITE, 0)) {
      return Fail(ERROR_SHARING_VIOLATION, FALSE);
    }
  } else {
    destination = CreateEntry(destinationKey, newFileName, 0);
  }
  destination->bytes = source->bytes;
  destination->attributes = source->attributes;
  return TRUE;
}

BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  using namespace winsim;
  if (Faulted("DeleteFileA")) return FALSE;
  std::string key;
  DWORD error = FilePathError(fileName, &key);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> file = Find(key);
  if (file == nullptr) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if ((file->attributes & FILE_ATTRIBUTE_READONLY) != 0) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (BlocksDelete(file)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  Files().files.erase(key);
  return TRUE;
}

// A file without attributes reports FILE_ATTRIBUTE_NORMAL, as Windows does.
DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  using namespace winsim;
  if (Faulted("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
  std::shared_ptr<FileData> file;
  const DWORD error = Lookup(fileName, &file);
  if (error != 0) return Fail(error, INVALID_FILE_ATTRIBUTES);
  if (file == nullptr) return FILE_ATTRIBUTE_DIRECTORY;
  return file->attributes == 0 ? FILE_ATTRIBUTE_NORMAL : file->attributes;
}

BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  using namespace winsim;
  if (Faulted("SetFileAttributesA")) return FALSE;
  std::shared_ptr<FileData> file;
  const DWORD error = Lookup(fileName, &file);
  if (error != 0) return Fail(error, FALSE);
  if (file != nullptr) file->attributes = attributes & SETTABLE_ATTRIBUTES;
  return TRUE;
}
