// The file system as a test arranges and inspects it: case-insensitive paths,
// bytes, attributes, folders, and files that other processes hold open.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// Creates the folder and every folder above it. Drive roots ("D:") always exist.
void MakeFolder(const std::string& path);
bool FolderExists(const std::string& path);

// Puts a file with these bytes and attributes (0: none), creating its folders.
void PutFile(const std::string& path, const std::string& bytes, DWORD attributes = 0);
bool FileExists(const std::string& path);
// Empty for a missing file.
std::string FileBytes(const std::string& path);
// The stored attributes (0: none); INVALID_FILE_ATTRIBUTES for a missing file.
DWORD FileAttributes(const std::string& path);
// Names (as first created) of the files directly in a folder, in case-insensitive order.
std::vector<std::string> FilesIn(const std::string& folder);

// Another process opens the file with this access and share mode and keeps it
// open for the rest of the test. False when there is no such file.
bool HoldOpenElsewhere(const std::string& path, DWORD access, DWORD shareMode);

// File handles of this process that are still open.
std::size_t OpenFileHandleCount();

// The nth WriteFile call (1-based) stops after bytesWritten bytes: it returns
// FALSE with error, or TRUE with the short count when error is 0.
void StopWritePartWay(unsigned nth, DWORD bytesWritten, DWORD error);

// Every CopyFileExA call, successful or not: the source and destination as given.
const std::vector<std::pair<std::string, std::string>>& CopyLog();

}  // namespace winsim
