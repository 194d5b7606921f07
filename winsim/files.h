// The file system as a test arranges and inspects it: case-insensitive paths,
// bytes, attributes, folders, files that other processes hold open, and the
// links a user can plant: hard links, symbolic links and junctions.
//
// A path through a junction reaches the junction's target folder, here as in
// every simulated call. The last name of a path is taken as it is unless said
// otherwise: a symbolic link is then a file of its own, with its own bytes
// (none) and attributes, and a junction is a folder.
//
// A test names paths in UTF-8, here and in every record it reads; the narrow
// file functions read theirs in the ANSI code page.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// Creates the folder and every folder above it (for a junction: its target).
// Drive roots ("D:") always exist.
void MakeFolder(const std::string& path);
bool FolderExists(const std::string& path);

// Puts a file with these bytes and attributes (0: none), creating its folders.
// An existing file keeps its other names (hard links), which see the new
// bytes; a symbolic link of that name gives way to the file.
void PutFile(const std::string& path, const std::string& bytes, DWORD attributes = 0);
bool FileExists(const std::string& path);
// Empty for a missing file.
std::string FileBytes(const std::string& path);
// The stored attributes (0: none), FILE_ATTRIBUTE_REPARSE_POINT included for a
// symbolic link; INVALID_FILE_ATTRIBUTES for a missing file.
DWORD FileAttributes(const std::string& path);
// Names (as first created) of the files directly in a folder (for a junction:
// its target), in case-insensitive order.
std::vector<std::string> FilesIn(const std::string& folder);

// The links below replace a file of the new name and create its folders;
// targets are full paths. A hard link to a missing file or across drives, a
// file link over a folder and a path whose links lead in circles are a test's
// mistake: std::invalid_argument.

// newPath becomes a second name of the existing file, on the same drive: the
// same bytes, attributes and openers, whichever name a program uses.
void MakeHardLink(const std::string& existingPath, const std::string& newPath);
// linkPath becomes a symbolic link to targetPath, which need not exist.
void MakeSymbolicLink(const std::string& linkPath, const std::string& targetPath);
// folderPath becomes a junction to targetFolder, which need not exist; what
// the folder held is gone.
void MakeJunction(const std::string& folderPath, const std::string& targetFolder);
// The folder or file at path also answers to shortName, an 8.3 name in its
// folder ("PROGRA~1"), in every call that takes a path.
void GiveShortName(const std::string& path, const std::string& shortName);
// The file system GetVolumeInformationA names for a drive: "NTFS" unless told
// otherwise ("FAT32").
void SetFileSystem(char drive, const char* name);
// How many names the file has; 0 for a missing file.
unsigned LinkCount(const std::string& path);
// The target of a symbolic link or junction as made; empty for anything else.
std::string LinkTarget(const std::string& path);

// Another process opens the file (a link's target) with this access and share
// mode and keeps it open for the rest of the test. False when there is no such file.
bool HoldOpenElsewhere(const std::string& path, DWORD access, DWORD shareMode);

// File handles of this process that are still open.
std::size_t OpenFileHandleCount();

// The nth WriteFile call (1-based) stops after bytesWritten bytes: it returns
// FALSE with error, or TRUE with the short count when error is 0.
void StopWritePartWay(unsigned nth, DWORD bytesWritten, DWORD error);

// Every CopyFileExA call, successful or not: the source and destination as given.
const std::vector<std::pair<std::string, std::string>>& CopyLog();
// Every MoveFileExA call, successful or not, likewise.
const std::vector<std::pair<std::string, std::string>>& MoveLog();

// How many changes of names, sizes and attributes are journaled but not
// yet sure to be on the disk.
std::size_t ChangesNotOnDisk();
// The power goes: the process ends (EndProcess), the file system keeps what
// was durable and the first keptChanges of the changes after it, every file
// keeps only the data that reached the disk (bytes that never did read as
// zeros), the registry loses what was not flushed, and Windows starts again.
void CutPower(std::size_t keptChanges = 0);

}  // namespace winsim
