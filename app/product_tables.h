// Every product fact that selects what the update writes: version classes,
// source sub-folders and the file rows per kind of Windows.
#pragma once

#include "platform/win32.h"

constexpr int FILE_ROWS_MAX = 4;
constexpr int FILE_NAME_SIZE = 20;
constexpr int BACKUP_NAME_SIZE = 32;
constexpr int SUBFOLDER_SIZE = 20;
constexpr int VERSION_CLASS_COUNT = 2;

struct VersionClassRange {
  DWORD lowest;       // belongs to the class
  DWORD aboveHighest; // first version past the class
  char subFolder[SUBFOLDER_SIZE];
};

// The rows for one kind of Windows. Names and flags are the same for both
// version classes; only the payload resources differ.
struct FileTableData {
  int rowCount;
  char fileNames[FILE_ROWS_MAX][FILE_NAME_SIZE];
  char backupNames[FILE_ROWS_MAX][BACKUP_NAME_SIZE];
  BYTE overwrite[FILE_ROWS_MAX];
  int resourceIds[VERSION_CLASS_COUNT][FILE_ROWS_MAX];
};

extern const VersionClassRange VERSION_CLASSES[VERSION_CLASS_COUNT];
extern const FileTableData FILE_TABLE_32BIT;
// A 32-bit process on 64-bit Windows also deploys the 64-bit drive classes.
extern const FileTableData FILE_TABLE_WOW64;

// The installed versions that the update accepts at all.
constexpr DWORD SUPPORTED_VERSION_LOWEST = 0x07000000;
constexpr DWORD SUPPORTED_VERSION_ABOVE_HIGHEST = 0x0A000100;
