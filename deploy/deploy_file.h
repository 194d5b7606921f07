// One file in one folder, and the payload resource that may be its content.
// Result codes share one space with Win32 error codes; 0 is success.
#pragma once

#include <memory>

#include "platform/result_codes.h"
#include "platform/win32.h"

constexpr int ERR_NO_NAME = 2;
constexpr int ERR_NO_DIRECTORY = 3;
// A short write of a payload resource.
constexpr int ERR_WRITE_INCOMPLETE = ERROR_WRITE_FAULT;
// A target that is a link: writing it would write a file elsewhere.
constexpr int ERR_LINKED_FILE = 23;
constexpr int NO_RESOURCE = -1;

class DeployFile {
 public:
  DeployFile();
  ~DeployFile();
  DeployFile(const DeployFile&) = delete;
  DeployFile& operator=(const DeployFile&) = delete;

  // A refused folder or name leaves the object without one: nothing cut short is used.
  int SetDirectory(const char* folder);
  int SetName(const char* fileName);
  void SetResourceId(int id);
  int BuildPath();

  // Whether the file can be opened for reading while others may only read it;
  // the error out-parameter may be null.
  bool Exists(int* error);
  // Whether the name leads to a file elsewhere: a reparse point (a symbolic
  // link, a junction, a mount point) or one of several names of one file. A
  // name that is there but cannot be examined counts as one; none there does not.
  bool IsLink();
  // Whether anything at all has the name: a file, a link, a folder, or a
  // name that cannot be examined.
  bool IsPresent();
  int ClearReadOnly();
  // Whether the file at the path as last built carries the read-only attribute.
  bool IsReadOnly() const;
  int Delete();
  // The own file's bytes, attributes and last-write time, or the own payload
  // resource, into the destination: each file through one handle, neither
  // followed through a link, and on the disk when it answers 0.
  // *destinationOpened (may be null) tells a failure that may have changed the
  // destination from one that was refused before it was opened.
  int CopyTo(DeployFile& destination, bool* destinationOpened = nullptr);
  // Whether the file holds exactly its payload resource, read without
  // changing it. A link or a file with several names holds nothing
  // (ERR_LINKED_FILE).
  int HoldsResource(bool* holds);
  // This file renamed over the destination, which it replaces: it needs no
  // room, and the file keeps its bytes, attributes and time.
  int MoveOver(DeployFile& destination);

  // Read by tests; set only through the operations above.
  char* name;
  char* directory;
  char* fullPath;
  int resourceId;

 private:
  // This file's path and then the destination's, the first failure's result.
  int BuildPaths(DeployFile& destination);
};

typedef std::unique_ptr<DeployFile> FilePointer;

// A file of one row of the file table, on the heap for that row only.
int MakeRowFile(const char* folder, const char* fileName, int resourceId, FilePointer* file);

// Writes the RT_RCDATA resource of that id (low 16 bits) whole into the file,
// replacing what it held, through one handle and on the disk when it answers
// 0; *destinationOpened (may be null) as for CopyTo.
int ExtractResourceToFile(int resourceId, const char* destinationPath, bool* destinationOpened = nullptr);
