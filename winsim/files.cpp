// Files and folders: case-insensitive paths where runs of backslashes count as
// one, open handles with share modes, hard links, symbolic links and
// junctions, a write cache, and the documented failures of the kernel32 file
// functions the updater calls.
//
// The write cache: NTFS journals names, sizes and attributes in call order,
// but writes its journal out when it sees fit. What the documentation makes
// durable is durable: a rename with MOVEFILE_WRITE_THROUGH once it returns
// (Microsoft, "MoveFileExA"), a file's data and its own changes once
// FlushFileBuffers returns ("FlushFileBuffers"), and what a handle opened with
// FILE_FLAG_WRITE_THROUGH writes ("CreateFileA", caching behaviour); as the
// journal is written in order, everything journaled before such a point is
// durable with it. A power cut keeps that much and, of the changes after it,
// a prefix that the test chooses, as harsh as it likes: none at all, by
// default. File data reaches the disk only through those same points; bytes
// that never got there read as zeros at the size the kept journal records.
// Pinned by WinsimFilesTest.APowerCutKeepsTheDurableChangesAndAPrefixOfTheRest
// and by the crash sweep.
//
// Microsoft, "DeleteFileA": a file that others hold open (all of them sharing
// delete) is only marked for deletion; its name stays until the last handle
// to it closes, and opening it meanwhile fails with ERROR_ACCESS_DENIED. Here
// so does every call that opens, replaces or renames that name. The delete is
// journaled at the last close, so a power cut before it brings the name back.
// Pinned by WinsimFilesTest.DeleteAndAttributes.
//
// One folder answers to many spellings: runs of backslashes, any case, its
// 8.3 short name where it has one ("Naming Files, Paths, and Namespaces"), a
// path through a junction or a mount point. What it is, is its volume serial
// number and file index ("GetFileInformationByHandle"), whichever reached it.
// A mount point is a junction to a drive root ("GetVolumePathNameA"). Pinned
// by WinsimFilesTest.AFolderIsItsVolumeAndIndexHoweverItIsSpelled.
#include "winsim/files.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <memory>
#include <stdexcept>

#include "winsim/code_pages.h"
#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/registry.h"
#include "winsim/time.h"

namespace winsim {
namespace {

const DWORD SETTABLE_ATTRIBUTES = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                  FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                  FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
// Windows gives up on a path that passes through more links than this (31 on XP).
const unsigned MOST_LINKS_IN_A_PATH = 63;
// A drive's serial number ends in its letter, so each drive has its own.
const DWORD VOLUME_SERIAL_BASE = 0x3A7C0000;
// As on NTFS: the root folder is record 5, and the high half of an index
// carries the record's sequence number.
const DWORD ROOT_FILE_INDEX = 5;
const DWORD FIRST_FILE_INDEX = 64;
const DWORD FILE_INDEX_SEQUENCE = 0x00010000;
const DWORD MOST_CHARACTERS_IN_A_NAME = 255;
// Every file's times until it changes: 2024-01-01 00:00 UTC.
const FILETIME FILE_TIME = {0x7689C000, 0x01DA3C45};

// A file or a folder. A file may have several names (hard links); a symbolic
// link is a file of its own and a junction a folder of its own, each with a
// target.
struct FileData {
  bool folder;
  std::string bytes;
  DWORD attributes;    // the settable ones
  std::string target;  // of a symbolic link or junction, as made; empty otherwise
  DWORD volume;
  DWORD index;
  std::string disk;    // the bytes as the disk holds them, at the recorded size
  FILETIME lastWrite;
};

struct Name {
  std::string name;  // as first created
  std::shared_ptr<FileData> file;
  bool deletePending = false;
};

// A name as the journal records it: the file it names, its size and attributes.
struct JournaledName {
  std::string name;
  std::shared_ptr<FileData> file;
  std::size_t size;
  DWORD attributes;
};
typedef std::map<std::string, JournaledName> Namespace;  // by key

// The names after one journaled change, and the file it changed.
struct JournalEntry {
  Namespace names;
  const FileData* changed;
};

// One open of a file or folder, by this process (through a handle) or by
// another one. A file deleted while open stays reachable through its openers.
struct Opener {
  std::shared_ptr<FileData> file;
  DWORD access;
  DWORD share;
  std::size_t position;
  bool open;
  bool writeThrough;
};

struct FileSystem {
  std::map<std::string, Name> files;                          // by key
  std::map<std::string, std::shared_ptr<FileData>> folders;  // by key; a drive root once it is opened
  std::vector<Opener> openers;                                // index = handle object
  std::vector<std::pair<std::string, std::string>> copies;
  std::vector<std::pair<std::string, std::string>> moves;
  unsigned stopWriteAt = 0;
  DWORD stopWriteAfter = 0;
  DWORD stopWriteError = 0;
  DWORD nextIndex = FIRST_FILE_INDEX;
  Namespace durable;                  // as the disk holds it for sure
  std::vector<JournalEntry> pending;  // each change since, in order
  std::map<std::string, std::string> shortNames;  // by the key an 8.3 name gives: the path it stands for
  std::map<char, std::string> fileSystems;        // by drive letter (lower case); NTFS where none is set
};

FileSystem& Files() {
  static FileSystem state;
  return state;
}

void DeletePendingNames(const std::shared_ptr<FileData>& file);

void OnFileClosed(std::size_t object) {
  Opener& opener = Files().openers[object];
  const std::shared_ptr<FileData> file = std::move(opener.file);
  opener.open = false;
  if (file != nullptr) DeletePendingNames(file);
}

BOOL WINAPI GetVolumePathNameSim(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength) {
  return GetVolumePathNameA(fileName, volumePathName, bufferLength);
}

// Windows 2000 has GetVolumePathNameA, as later Windows do; a test can take it away.
void ResetFiles() {
  Files() = FileSystem();
  SetCloseHook(HandleKind::File, &OnFileClosed);
  RegisterExport(KERNEL32_MODULE, "GetVolumePathNameA", &GetVolumePathNameSim);
}
ResetHook resetFiles(&ResetFiles);

// Every process has ended: what other processes held open is let go.
void RestartFiles() {
  for (std::size_t object = 0; object < Files().openers.size(); ++object) {
    if (Files().openers[object].open) OnFileClosed(object);
  }
}
RestartHook restartFiles(&RestartFiles);

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

std::string BaseName(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

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
  return it == Files().files.end() ? nullptr : it->second.file;
}

bool DeletePending(const std::string& key) {
  auto it = Files().files.find(key);
  return it != Files().files.end() && it->second.deletePending;
}

// A path without a drive lies on the current one, C:, the boot volume too.
char DriveOf(const std::string& key) { return key.size() >= 2 && key[1] == ':' ? key[0] : 'c'; }

DWORD VolumeOf(const std::string& key) { return VOLUME_SERIAL_BASE | static_cast<BYTE>(DriveOf(key)); }

std::shared_ptr<FileData> NewObject(bool folder, const std::string& key, DWORD attributes, DWORD index) {
  return std::make_shared<FileData>(FileData{folder, std::string(), attributes & SETTABLE_ATTRIBUTES, std::string(),
                                             VolumeOf(key), index, std::string(), FILE_TIME});
}

// The bytes changed now: the file takes the system time as its last write.
void Changed(FileData& file) { file.lastWrite = SystemTimeNow(); }

Namespace CurrentNames() {
  Namespace names;
  for (const auto& entry : Files().files) {
    const FileData& file = *entry.second.file;
    names[entry.first] = JournaledName{entry.second.name, entry.second.file, file.bytes.size(), file.attributes};
  }
  return names;
}

// A change of names, sizes or attributes enters the journal.
void Journal(const FileData& changed) { Files().pending.push_back(JournalEntry{CurrentNames(), &changed}); }

bool HeldOpen(const std::shared_ptr<FileData>& file) {
  return std::any_of(Files().openers.begin(), Files().openers.end(),
                     [&](const Opener& other) { return other.open && other.file == file; });
}

// Once the last handle to the file has closed, its names marked for deletion go.
void DeletePendingNames(const std::shared_ptr<FileData>& file) {
  if (HeldOpen(file)) return;
  std::map<std::string, Name>& names = Files().files;
  bool deleted = false;
  for (auto it = names.begin(); it != names.end();) {
    const bool goes = it->second.deletePending && it->second.file == file;
    deleted = deleted || goes;
    it = goes ? names.erase(it) : std::next(it);
  }
  if (deleted) Journal(*file);
}

// The first count journaled changes are on the disk, and with them all before.
void DurableUpTo(std::size_t count) {
  FileSystem& files = Files();
  if (count == 0) return;
  files.durable = files.pending[count - 1].names;
  files.pending.erase(files.pending.begin(), files.pending.begin() + static_cast<std::ptrdiff_t>(count));
}

// Every change of this file is on the disk, and so all journaled before its last.
void DurableThrough(const FileData& file) {
  const std::vector<JournalEntry>& pending = Files().pending;
  for (std::size_t count = pending.size(); count > 0; --count) {
    if (pending[count - 1].changed == &file) return DurableUpTo(count);
  }
}

// What a test arranges is on the disk at once, with everything before it.
void Settle() {
  Files().durable = CurrentNames();
  Files().pending.clear();
}

// Written through: these bytes are on the disk too.
void Persist(FileData& file, std::size_t from, std::size_t count) {
  if (file.disk.size() < from + count) file.disk.resize(from + count, '\0');
  file.disk.replace(from, count, file.bytes, from, count);
}

std::shared_ptr<FileData> NewFile(const std::string& key, DWORD attributes) {
  return NewObject(false, key, attributes, Files().nextIndex++);
}

std::shared_ptr<FileData> NewFolder(const std::string& key) { return NewObject(true, key, 0, Files().nextIndex++); }

std::shared_ptr<FileData> CreateEntry(const std::string& key, const std::string& name, DWORD attributes) {
  auto file = NewFile(key, attributes);
  Files().files[key] = Name{name, file};
  return file;
}

// The folder of a key that IsFolder accepts; a drive root joins the folders
// when it is first asked for.
std::shared_ptr<FileData> FolderAt(const std::string& key) {
  std::shared_ptr<FileData>& folder = Files().folders[key];
  if (folder == nullptr) folder = NewObject(true, key, 0, ROOT_FILE_INDEX);
  return folder;
}

unsigned NameCount(const std::shared_ptr<FileData>& file) {
  unsigned count = 0;
  for (const auto& entry : Files().files) count += entry.second.file == file ? 1 : 0;
  return count;
}

// A file without attributes reports FILE_ATTRIBUTE_NORMAL, as Windows does.
DWORD ReportedAttributes(const FileData& file) {
  DWORD attributes = file.attributes;
  if (file.folder) attributes |= FILE_ATTRIBUTE_DIRECTORY;
  if (!file.target.empty()) attributes |= FILE_ATTRIBUTE_REPARSE_POINT;
  return attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
}

// The target of the link a key names; nullptr when it names no link.
const std::string* LinkAt(const std::string& key) {
  auto folder = Files().folders.find(key);
  if (folder != Files().folders.end()) return folder->second->target.empty() ? nullptr : &folder->second->target;
  std::shared_ptr<FileData> file = Find(key);
  return file == nullptr || file->target.empty() ? nullptr : &file->target;
}

// Where a path leads (collapsed, case kept): every link on the way is replaced
// by its target, and so is the last name when followLast. False when that
// takes more links than Windows follows, as for a link that leads to itself.
bool Resolve(const std::string& path, bool followLast, std::string* resolved, unsigned* links) {
  const std::string collapsed = Collapse(path);
  std::string at;
  for (std::size_t start = 0;;) {
    const std::size_t slash = collapsed.find('\\', start);
    const bool last = slash == std::string::npos;
    at += (start == 0 ? "" : "\\") + collapsed.substr(start, last ? std::string::npos : slash - start);
    auto shortName = Files().shortNames.find(FoldCase(at));
    if (shortName != Files().shortNames.end()) at = shortName->second;
    const std::string* target = last && !followLast ? nullptr : LinkAt(FoldCase(at));
    if (target != nullptr) {
      const std::string next = *target;
      if (++*links > MOST_LINKS_IN_A_PATH || !Resolve(next, true, &at, links)) return false;
    }
    if (last) break;
    start = slash + 1;
  }
  *resolved = at;
  return true;
}

// The key a path leads to, and the name a file created there gets.
DWORD Reach(const std::string& path, bool followLast, std::string* key, std::string* name) {
  if (path.empty()) return ERROR_PATH_NOT_FOUND;
  std::string resolved;
  unsigned links = 0;
  if (!Resolve(path, followLast, &resolved, &links)) return ERROR_CANT_RESOLVE_FILENAME;
  *key = FoldCase(resolved);
  *name = BaseName(resolved);
  return 0;
}

// Why a path cannot name a file: an empty path, a folder, a missing folder.
DWORD FilePathError(const std::string& path, bool followLast, std::string* key, std::string* name) {
  const DWORD error = Reach(path, followLast, key, name);
  if (error != 0) return error;
  if (IsFolder(*key)) return ERROR_ACCESS_DENIED;
  if (!ParentExists(*key)) return ERROR_PATH_NOT_FOUND;
  return 0;
}

// What a path names for the calls that take a folder as well as a file; the
// error when it names neither.
DWORD Lookup(const std::string& path, bool followLast, std::shared_ptr<FileData>* found) {
  std::string key;
  std::string name;
  const DWORD error = Reach(path, followLast, &key, &name);
  if (error != 0) return error;
  if (IsFolder(key)) {
    *found = FolderAt(key);
    return 0;
  }
  if (!ParentExists(key)) return ERROR_PATH_NOT_FOUND;
  *found = Find(key);
  return *found == nullptr ? ERROR_FILE_NOT_FOUND : 0;
}

// The key and name a test's path leads to; a path that leads nowhere is the test's mistake.
std::string ArrangedPath(const std::string& path, bool followLast) {
  std::string resolved;
  unsigned links = 0;
  if (!Resolve(path, followLast, &resolved, &links)) throw std::invalid_argument("links lead in circles: " + path);
  return resolved;
}

std::string ArrangedKey(const std::string& path, bool followLast) {
  return FoldCase(ArrangedPath(path, followLast));
}

void MakeParentFolder(const std::string& key) {
  const std::size_t slash = key.rfind('\\');
  if (slash != std::string::npos && slash != 0) MakeFolder(key.substr(0, slash));
}

bool Reads(DWORD access) { return (access & (GENERIC_READ | GENERIC_ALL)) != 0; }
bool Writes(DWORD access) { return (access & (GENERIC_WRITE | GENERIC_ALL | FILE_APPEND_DATA)) != 0; }
// A handle that may only append writes at the end, wherever it last wrote.
bool AppendsOnly(DWORD access) { return (access & FILE_APPEND_DATA) != 0 && (access & (GENERIC_WRITE | GENERIC_ALL)) == 0; }
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

template <typename Result>
Result Fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

HANDLE OpenOn(const std::shared_ptr<FileData>& file, DWORD access, DWORD share, DWORD lastError,
              bool writeThrough = false) {
  Files().openers.push_back(Opener{file, access, share, 0, true, writeThrough});
  SetLastError(lastError);
  return OpenHandle(HandleKind::File, Files().openers.size() - 1);
}

// A folder opens only as an existing one; it cannot be created or replaced
// as a file.
HANDLE OpenFolder(const std::string& key, DWORD access, DWORD share, DWORD disposition) {
  if (disposition == CREATE_NEW) return Fail(ERROR_FILE_EXISTS, INVALID_HANDLE_VALUE);
  if (disposition != OPEN_EXISTING && disposition != OPEN_ALWAYS) {
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }
  std::shared_ptr<FileData> folder = FolderAt(key);
  if (ShareConflict(folder, access, share)) return Fail(ERROR_SHARING_VIOLATION, INVALID_HANDLE_VALUE);
  return OpenOn(folder, access, share, disposition == OPEN_ALWAYS ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
}

}  // namespace

void MakeFolder(const std::string& path) {
  std::string key = ArrangedKey(path, true);
  while (!key.empty() && !IsRoot(key)) {
    if (Files().folders.count(key) == 0) Files().folders[key] = NewFolder(key);
    const std::size_t slash = key.rfind('\\');
    if (slash == std::string::npos || slash == 0) break;
    key.resize(slash);
  }
}

bool FolderExists(const std::string& path) { return IsFolder(ArrangedKey(path, false)); }

void PutFile(const std::string& path, const std::string& bytes, DWORD attributes) {
  const std::string resolved = ArrangedPath(path, false);
  const std::string key = FoldCase(resolved);
  MakeParentFolder(key);
  std::shared_ptr<FileData> file = Find(key);
  if (file == nullptr || !file->target.empty()) file = CreateEntry(key, BaseName(resolved), 0);
  file->bytes = bytes;
  file->disk = bytes;
  file->attributes = attributes & SETTABLE_ATTRIBUTES;
  Settle();
}

bool FileExists(const std::string& path) { return Find(ArrangedKey(path, false)) != nullptr; }

std::string FileBytes(const std::string& path) {
  std::shared_ptr<FileData> file = Find(ArrangedKey(path, false));
  return file == nullptr ? std::string() : file->bytes;
}

DWORD FileAttributes(const std::string& path) {
  std::shared_ptr<FileData> file = Find(ArrangedKey(path, false));
  if (file == nullptr) return INVALID_FILE_ATTRIBUTES;
  return file->attributes | (file->target.empty() ? 0 : FILE_ATTRIBUTE_REPARSE_POINT);
}

std::vector<std::string> FilesIn(const std::string& folder) {
  const std::string prefix = ArrangedKey(folder, true) + "\\";
  std::vector<std::string> names;
  for (const auto& entry : Files().files) {
    const std::string& key = entry.first;
    if (key.compare(0, prefix.size(), prefix) != 0 || key.find('\\', prefix.size()) != std::string::npos) continue;
    names.push_back(entry.second.name);
  }
  return names;
}

void MakeHardLink(const std::string& existingPath, const std::string& newPath) {
  std::shared_ptr<FileData> file = Find(ArrangedKey(existingPath, false));
  if (file == nullptr) throw std::invalid_argument("no file to link to: " + existingPath);
  const std::string resolved = ArrangedPath(newPath, false);
  const std::string key = FoldCase(resolved);
  if (IsFolder(key)) throw std::invalid_argument("a folder cannot become a file: " + newPath);
  if (VolumeOf(key) != file->volume) throw std::invalid_argument("a hard link stays on its file's drive: " + newPath);
  MakeParentFolder(key);
  Files().files[key] = Name{BaseName(resolved), file};
  Settle();
}

void MakeSymbolicLink(const std::string& linkPath, const std::string& targetPath) {
  if (targetPath.empty()) throw std::invalid_argument("a symbolic link needs a target: " + linkPath);
  const std::string resolved = ArrangedPath(linkPath, false);
  const std::string key = FoldCase(resolved);
  if (IsFolder(key)) throw std::invalid_argument("a folder cannot become a file: " + linkPath);
  MakeParentFolder(key);
  CreateEntry(key, BaseName(resolved), 0)->target = Collapse(targetPath);
  Settle();
}

void MakeJunction(const std::string& folderPath, const std::string& targetFolder) {
  if (targetFolder.empty()) throw std::invalid_argument("a junction needs a target: " + folderPath);
  const std::string key = ArrangedKey(folderPath, false);
  if (IsRoot(key)) throw std::invalid_argument("a drive cannot become a junction: " + folderPath);
  FileSystem& files = Files();
  const std::string below = key + "\\";
  auto clear = [&](auto& entries) {
    for (auto it = entries.begin(); it != entries.end();) {
      const bool inside = it->first == key || it->first.compare(0, below.size(), below) == 0;
      it = inside ? entries.erase(it) : std::next(it);
    }
  };
  clear(files.files);
  clear(files.folders);
  MakeParentFolder(key);
  std::shared_ptr<FileData> junction = NewFolder(key);
  junction->target = Collapse(targetFolder);
  files.folders[key] = junction;
  Settle();
}

unsigned LinkCount(const std::string& path) {
  std::shared_ptr<FileData> file = Find(ArrangedKey(path, false));
  return file == nullptr ? 0 : NameCount(file);
}

std::string LinkTarget(const std::string& path) {
  const std::string* target = LinkAt(ArrangedKey(path, false));
  return target == nullptr ? std::string() : *target;
}

bool HoldOpenElsewhere(const std::string& path, DWORD access, DWORD shareMode) {
  std::shared_ptr<FileData> file = Find(ArrangedKey(path, true));
  if (file == nullptr) return false;
  Files().openers.push_back(Opener{file, access, shareMode, 0, true, false});
  return true;
}

void GiveShortName(const std::string& path, const std::string& shortName) {
  const std::string resolved = ArrangedPath(path, false);
  Files().shortNames[FoldCase(resolved.substr(0, resolved.rfind('\\') + 1) + shortName)] = resolved;
}

void SetFileSystem(char drive, const char* name) { Files().fileSystems[LowerCase(std::string(1, drive))[0]] = name; }

std::size_t OpenFileHandleCount() { return OpenHandleCount(HandleKind::File); }

void StopWritePartWay(unsigned nth, DWORD bytesWritten, DWORD error) {
  FileSystem& files = Files();
  files.stopWriteAt = nth;
  files.stopWriteAfter = bytesWritten;
  files.stopWriteError = error;
}

const std::vector<std::pair<std::string, std::string>>& CopyLog() { return Files().copies; }

const std::vector<std::pair<std::string, std::string>>& MoveLog() { return Files().moves; }

std::size_t ChangesNotOnDisk() { return Files().pending.size(); }

void CutPower(std::size_t keptChanges) {
  EndProcess();
  LoseUnflushedRegistry();
  FileSystem& files = Files();
  DurableUpTo(std::min(keptChanges, files.pending.size()));
  files.pending.clear();
  files.files.clear();
  for (const auto& entry : files.durable) {
    const JournaledName& kept = entry.second;
    files.files[entry.first] = Name{kept.name, kept.file};
    kept.file->attributes = kept.attributes;
    kept.file->bytes = kept.file->disk.substr(0, kept.size);
    kept.file->bytes.resize(kept.size, '\0');
  }
  StartWindowsAgain();
}

}  // namespace winsim

// Links are followed unless FILE_FLAG_OPEN_REPARSE_POINT asks for the link
// itself; a folder opens only with FILE_FLAG_BACKUP_SEMANTICS.
namespace winsim {
namespace {

HANDLE OpenFile(const std::string& fileName, DWORD access, DWORD shareMode, DWORD disposition, DWORD flagsAndAttributes) {
  const bool followLink = (flagsAndAttributes & FILE_FLAG_OPEN_REPARSE_POINT) == 0;
  std::string key;
  std::string name;
  const DWORD error = Reach(fileName, followLink, &key, &name);
  if (error != 0) return Fail(error, INVALID_HANDLE_VALUE);
  const bool folder = IsFolder(key);
  if (folder && (flagsAndAttributes & FILE_FLAG_BACKUP_SEMANTICS) == 0) {
    return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  }
  if (!folder && !ParentExists(key)) return Fail(ERROR_PATH_NOT_FOUND, INVALID_HANDLE_VALUE);
  if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING ||
      (disposition == TRUNCATE_EXISTING && !Writes(access))) {
    return Fail(ERROR_INVALID_PARAMETER, INVALID_HANDLE_VALUE);
  }
  if (folder) return OpenFolder(key, access, shareMode, disposition);
  if (DeletePending(key)) return Fail(ERROR_ACCESS_DENIED, INVALID_HANDLE_VALUE);
  std::shared_ptr<FileData> file = Find(key);
  const DWORD requested = flagsAndAttributes & SETTABLE_ATTRIBUTES;
  const bool writeThrough = (flagsAndAttributes & FILE_FLAG_WRITE_THROUGH) != 0;
  DWORD lastError = ERROR_SUCCESS;
  if (file == nullptr) {
    if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING) {
      return Fail(ERROR_FILE_NOT_FOUND, INVALID_HANDLE_VALUE);
    }
    file = CreateEntry(key, name, requested);
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
    if (replaces) {
      file->bytes.clear();
      Changed(*file);
    }
    if (disposition == CREATE_ALWAYS) file->attributes = requested;
    if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS) lastError = ERROR_ALREADY_EXISTS;
    if (!replaces && disposition != CREATE_ALWAYS) return OpenOn(file, access, shareMode, lastError, writeThrough);
  }
  Journal(*file);
  return OpenOn(file, access, shareMode, lastError, writeThrough);
}

}  // namespace
}  // namespace winsim

HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flagsAndAttributes, HANDLE) {
  if (winsim::Faulted("CreateFileA")) return INVALID_HANDLE_VALUE;
  return winsim::OpenFile(winsim::Utf8OfAnsi(fileName), access, shareMode, disposition, flagsAndAttributes);
}

// The wide name is taken as it is, whatever the ANSI code page.
HANDLE WINAPI CreateFileW(LPCWSTR fileName, DWORD access, DWORD shareMode, LPSECURITY_ATTRIBUTES, DWORD disposition,
                          DWORD flagsAndAttributes, HANDLE) {
  if (winsim::Faulted("CreateFileW")) return INVALID_HANDLE_VALUE;
  return winsim::OpenFile(winsim::Utf8Of(fileName), access, shareMode, disposition, flagsAndAttributes);
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
  if (opener.file->folder) return Fail(ERROR_INVALID_FUNCTION, FALSE);
  if (buffer == nullptr && bytesToWrite != 0) return Fail(ERROR_NOACCESS, FALSE);
  const FileSystem& files = Files();
  const bool stops = files.stopWriteAt != 0 && CallCount("WriteFile") == files.stopWriteAt;
  const DWORD count = stops ? std::min(bytesToWrite, files.stopWriteAfter) : bytesToWrite;
  std::string& bytes = opener.file->bytes;
  if (AppendsOnly(opener.access)) opener.position = bytes.size();
  const bool grows = bytes.size() < opener.position + count;
  if (grows) bytes.resize(opener.position + count);
  if (count != 0) bytes.replace(opener.position, count, static_cast<const char*>(buffer), count);
  opener.position += count;
  Changed(*opener.file);
  if (grows) Journal(*opener.file);
  if (opener.writeThrough) {
    Persist(*opener.file, opener.position - count, count);
    DurableThrough(*opener.file);
  }
  *bytesWritten = count;
  if (stops && files.stopWriteError != 0) return Fail(files.stopWriteError, FALSE);
  return TRUE;
}

// The source is read while others may read and write it; the destination is
// written exclusively, into the file already there (every name of it sees the
// copy). Links are followed at both ends. Attributes travel with the bytes.
BOOL WINAPI CopyFileExA(LPCSTR existingFileName, LPCSTR newFileName, LPPROGRESS_ROUTINE, LPVOID, LPBOOL cancel,
                        DWORD copyFlags) {
  using namespace winsim;
  Files().copies.emplace_back(existingFileName != nullptr ? existingFileName : "",
                              newFileName != nullptr ? newFileName : "");
  if (Faulted("CopyFileExA")) return FALSE;
  if (cancel != nullptr && *cancel) return Fail(ERROR_REQUEST_ABORTED, FALSE);
  std::string sourceKey;
  std::string sourceName;
  DWORD error = FilePathError(Utf8OfAnsi(existingFileName), true, &sourceKey, &sourceName);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> source = Find(sourceKey);
  if (source == nullptr) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (DeletePending(sourceKey)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (ShareConflict(source, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE)) {
    return Fail(ERROR_SHARING_VIOLATION, FALSE);
  }
  std::string destinationKey;
  std::string destinationName;
  error = FilePathError(Utf8OfAnsi(newFileName), true, &destinationKey, &destinationName);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> destination = Find(destinationKey);
  if (DeletePending(destinationKey)) return Fail(ERROR_ACCESS_DENIED, FALSE);
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
    destination = CreateEntry(destinationKey, destinationName, 0);
  }
  destination->bytes = source->bytes;
  destination->disk.clear();
  Changed(*destination);
  destination->lastWrite = source->lastWrite;
  destination->attributes = source->attributes;
  Journal(*destination);
  return TRUE;
}

// Removes the one name: a symbolic link goes, its target stays; the other
// names of a file keep it.
BOOL WINAPI DeleteFileA(LPCSTR fileName) {
  using namespace winsim;
  if (Faulted("DeleteFileA")) return FALSE;
  std::string key;
  std::string name;
  const DWORD error = FilePathError(Utf8OfAnsi(fileName), false, &key, &name);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> file = Find(key);
  if (file == nullptr) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if ((file->attributes & FILE_ATTRIBUTE_READONLY) != 0 || DeletePending(key)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (BlocksDelete(file)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  Files().files[key].deletePending = true;
  DeletePendingNames(file);
  return TRUE;
}

// A link reports its own attributes, FILE_ATTRIBUTE_REPARSE_POINT among them.
DWORD WINAPI GetFileAttributesA(LPCSTR fileName) {
  using namespace winsim;
  if (Faulted("GetFileAttributesA")) return INVALID_FILE_ATTRIBUTES;
  std::shared_ptr<FileData> found;
  const DWORD error = Lookup(Utf8OfAnsi(fileName), false, &found);
  if (error != 0) return Fail(error, INVALID_FILE_ATTRIBUTES);
  return ReportedAttributes(*found);
}

// Sets the attributes of a link's target; a folder keeps its own.
BOOL WINAPI SetFileAttributesA(LPCSTR fileName, DWORD attributes) {
  using namespace winsim;
  if (Faulted("SetFileAttributesA")) return FALSE;
  std::shared_ptr<FileData> found;
  const DWORD error = Lookup(Utf8OfAnsi(fileName), true, &found);
  if (error != 0) return Fail(error, FALSE);
  if (found->folder) return TRUE;
  found->attributes = attributes & SETTABLE_ATTRIBUTES;
  Journal(*found);
  return TRUE;
}

// Any file handle may be asked, whatever access it was opened with.
BOOL WINAPI GetFileInformationByHandle(HANDLE handle, LPBY_HANDLE_FILE_INFORMATION information) {
  using namespace winsim;
  if (Faulted("GetFileInformationByHandle")) return FALSE;
  std::size_t object = 0;
  if (!FindHandle(handle, HandleKind::File, &object)) return Fail(ERROR_INVALID_HANDLE, FALSE);
  if (information == nullptr) return Fail(ERROR_NOACCESS, FALSE);
  const std::shared_ptr<FileData>& file = Files().openers[object].file;
  const std::uint64_t size = file->bytes.size();
  *information = BY_HANDLE_FILE_INFORMATION();
  information->dwFileAttributes = ReportedAttributes(*file);
  information->ftCreationTime = FILE_TIME;
  information->ftLastAccessTime = FILE_TIME;
  information->ftLastWriteTime = file->lastWrite;
  information->dwVolumeSerialNumber = file->volume;
  information->nFileSizeHigh = static_cast<DWORD>(size >> 32);
  information->nFileSizeLow = static_cast<DWORD>(size);
  information->nNumberOfLinks = file->folder ? 1 : NameCount(file);
  information->nFileIndexHigh = FILE_INDEX_SEQUENCE;
  information->nFileIndexLow = file->index;
  return TRUE;
}

namespace winsim {
namespace {

// Copies text and its terminator into a buffer the caller may leave out;
// false when the buffer is too small.
bool CopyOut(const std::string& text, LPSTR buffer, DWORD size) {
  if (buffer == nullptr) return true;
  if (size <= text.size()) return false;
  text.copy(buffer, text.size());
  buffer[text.size()] = '\0';
  return true;
}

}  // namespace
}  // namespace winsim

// Microsoft, "GetVolumePathNameA": the mount point of the volume the path ends
// on, with its trailing backslash. A mounted folder on the way is spelled as
// given; past a junction to a folder, the path is on that folder's volume; a
// path without a drive is on the boot volume.
BOOL WINAPI GetVolumePathNameA(LPCSTR fileName, LPSTR volumePathName, DWORD bufferLength) {
  using namespace winsim;
  if (Faulted("GetVolumePathNameA")) return FALSE;
  const std::string path = Collapse(Utf8OfAnsi(fileName));
  if (path.empty()) return Fail(ERROR_SUCCESS, FALSE);
  std::string volume = path.size() >= 2 && path[1] == ':' ? path.substr(0, 2) : "C:";
  for (std::size_t end = 0; end != std::string::npos;) {
    end = path.find('\\', end + 1);
    const std::string prefix = path.substr(0, end);
    std::string resolved;
    unsigned links = 0;
    const std::string* target = Resolve(prefix, false, &resolved, &links) ? LinkAt(FoldCase(resolved)) : nullptr;
    if (target != nullptr) volume = IsRoot(*target) ? prefix : target->substr(0, 2);
  }
  if (volumePathName == nullptr || !CopyOut(AnsiOfUtf8(volume + "\\"), volumePathName, bufferLength)) {
    return Fail(ERROR_FILENAME_EXCED_RANGE, FALSE);
  }
  return TRUE;
}

// Microsoft, "GetVolumeInformationA": the root of a volume, a drive's or a
// mounted folder, with the trailing backslash it requires. The volume has no label.
BOOL WINAPI GetVolumeInformationA(LPCSTR rootPathName, LPSTR volumeName, DWORD volumeNameSize, LPDWORD serialNumber,
                                  LPDWORD maximumComponentLength, LPDWORD fileSystemFlags, LPSTR fileSystemName,
                                  DWORD fileSystemNameSize) {
  using namespace winsim;
  if (Faulted("GetVolumeInformationA")) return FALSE;
  const std::string root = Utf8OfAnsi(rootPathName);
  if (root.empty() || root.back() != '\\') return Fail(ERROR_INVALID_NAME, FALSE);
  std::string key;
  std::string name;
  const DWORD error = Reach(root, true, &key, &name);
  if (error != 0) return Fail(error, FALSE);
  if (!IsRoot(key)) return Fail(IsFolder(key) ? ERROR_DIR_NOT_ROOT : ERROR_PATH_NOT_FOUND, FALSE);
  auto named = Files().fileSystems.find(DriveOf(key));
  const std::string fileSystem = named != Files().fileSystems.end() ? named->second : "NTFS";
  if (!CopyOut("", volumeName, volumeNameSize) || !CopyOut(fileSystem, fileSystemName, fileSystemNameSize)) {
    return Fail(ERROR_INSUFFICIENT_BUFFER, FALSE);
  }
  if (serialNumber != nullptr) *serialNumber = VolumeOf(key);
  if (maximumComponentLength != nullptr) *maximumComponentLength = MOST_CHARACTERS_IN_A_NAME;
  const DWORD ntfsOnly = fileSystem == "NTFS" ? FILE_PERSISTENT_ACLS | FILE_SUPPORTS_REPARSE_POINTS : 0;
  if (fileSystemFlags != nullptr) *fileSystemFlags = FILE_CASE_PRESERVED_NAMES | FILE_UNICODE_ON_DISK | ntfsOnly;
  return TRUE;
}

namespace winsim {
namespace {

// The first lines of a call on a file handle of this process: the call is
// entered, and the handle must be open on a file with the access it needs.
Opener* EnterHandleCall(const char* function, HANDLE handle, bool (*allowed)(DWORD access)) {
  if (Faulted(function)) return nullptr;
  std::size_t object = 0;
  if (!FindHandle(handle, HandleKind::File, &object)) return Fail(ERROR_INVALID_HANDLE, nullptr);
  Opener& opener = Files().openers[object];
  if (!allowed(opener.access)) return Fail(ERROR_ACCESS_DENIED, nullptr);
  if (opener.file->folder) return Fail(ERROR_INVALID_FUNCTION, nullptr);
  return &opener;
}

}  // namespace
}  // namespace winsim

BOOL WINAPI ReadFile(HANDLE handle, LPVOID buffer, DWORD bytesToRead, LPDWORD bytesRead, LPOVERLAPPED) {
  using namespace winsim;
  Opener* opener = EnterHandleCall("ReadFile", handle, &Reads);
  if (opener == nullptr) return FALSE;
  if (bytesRead == nullptr || (buffer == nullptr && bytesToRead != 0)) return Fail(ERROR_NOACCESS, FALSE);
  const std::string& bytes = opener->file->bytes;
  const std::size_t left = opener->position < bytes.size() ? bytes.size() - opener->position : 0;
  const std::size_t count = std::min<std::size_t>(bytesToRead, left);
  bytes.copy(static_cast<char*>(buffer), count, opener->position);
  opener->position += count;
  *bytesRead = static_cast<DWORD>(count);
  return TRUE;
}

BOOL WINAPI SetEndOfFile(HANDLE handle) {
  winsim::Opener* opener = winsim::EnterHandleCall("SetEndOfFile", handle, &winsim::Writes);
  if (opener == nullptr) return FALSE;
  opener->file->bytes.resize(opener->position, '\0');
  winsim::Changed(*opener->file);
  winsim::Journal(*opener->file);
  return TRUE;
}

BOOL WINAPI FlushFileBuffers(HANDLE handle) {
  winsim::Opener* opener = winsim::EnterHandleCall("FlushFileBuffers", handle, &winsim::Writes);
  if (opener == nullptr) return FALSE;
  opener->file->disk = opener->file->bytes;
  winsim::DurableThrough(*opener->file);
  return TRUE;
}

BOOL WINAPI SetFileTime(HANDLE handle, const FILETIME*, const FILETIME*, const FILETIME* lastWriteTime) {
  winsim::Opener* opener = winsim::EnterHandleCall("SetFileTime", handle, &winsim::Writes);
  if (opener == nullptr) return FALSE;
  if (lastWriteTime != nullptr) opener->file->lastWrite = *lastWriteTime;
  return TRUE;
}

// A rename moves the one name, never what a link at either end leads to; the
// file keeps its bytes, attributes and other names. Windows refuses to
// replace a read-only file or one that is open.
BOOL WINAPI MoveFileExA(LPCSTR existingFileName, LPCSTR newFileName, DWORD flags) {
  using namespace winsim;
  Files().moves.emplace_back(existingFileName != nullptr ? existingFileName : "",
                             newFileName != nullptr ? newFileName : "");
  if (Faulted("MoveFileExA")) return FALSE;
  std::string sourceKey;
  std::string sourceName;
  DWORD error = FilePathError(Utf8OfAnsi(existingFileName), false, &sourceKey, &sourceName);
  if (error != 0) return Fail(error, FALSE);
  std::shared_ptr<FileData> source = Find(sourceKey);
  if (source == nullptr) return Fail(ERROR_FILE_NOT_FOUND, FALSE);
  if (DeletePending(sourceKey)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (BlocksDelete(source)) return Fail(ERROR_SHARING_VIOLATION, FALSE);
  std::string destinationKey;
  std::string destinationName;
  error = FilePathError(Utf8OfAnsi(newFileName), false, &destinationKey, &destinationName);
  if (error != 0) return Fail(error, FALSE);
  if (VolumeOf(destinationKey) != source->volume) return Fail(ERROR_NOT_SAME_DEVICE, FALSE);
  std::shared_ptr<FileData> destination = Find(destinationKey);
  if (DeletePending(destinationKey)) return Fail(ERROR_ACCESS_DENIED, FALSE);
  if (destination != nullptr && destination != source) {
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0) return Fail(ERROR_ALREADY_EXISTS, FALSE);
    if ((destination->attributes & FILE_ATTRIBUTE_READONLY) != 0 || HeldOpen(destination)) {
      return Fail(ERROR_ACCESS_DENIED, FALSE);
    }
  }
  Files().files.erase(sourceKey);
  Files().files[destinationKey] = Name{destinationName, source};
  Journal(*source);
  if ((flags & MOVEFILE_WRITE_THROUGH) != 0) DurableUpTo(Files().pending.size());
  return TRUE;
}
