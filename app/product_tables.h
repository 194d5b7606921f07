// Every product fact that selects what the update writes: version classes,
// source sub-folders, the file rows per kind of Windows, and the services.
#pragma once

#include "platform/win32.h"

constexpr int FILE_ROWS_MAX = 4;
constexpr int FILE_NAME_SIZE = 20;
constexpr int BACKUP_NAME_SIZE = 32;
constexpr int SUBFOLDER_SIZE = 20;
constexpr int VERSION_CLASS_COUNT = 2;
// Control, Copy and Monitor.
constexpr int APPLICATION_SERVICE_COUNT = 3;
constexpr int SERVICE_NAME_SIZE = 32;

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

inline constexpr VersionClassRange VERSION_CLASSES[VERSION_CLASS_COUNT] = {
    {0x07000000, 0x08010000, "\\Version\\V7xx-V8xx"},
    {0x09000000, 0x0A000100, "\\Version\\V9xx-V1000"},
};

// The class whose tables serve a class number; one out of range takes the first.
constexpr int TableClass(int versionClass) {
  return versionClass < 0 || versionClass >= VERSION_CLASS_COUNT ? 0 : versionClass;
}

extern const FileTableData FILE_TABLE_32BIT;
// A 32-bit process on 64-bit Windows also deploys the 64-bit drive classes.
extern const FileTableData FILE_TABLE_WOW64;

// The installed versions that the update accepts at all: from the first
// class's lowest to the last class's highest, the gap between them included.
constexpr DWORD SUPPORTED_VERSION_LOWEST = VERSION_CLASSES[0].lowest;
constexpr DWORD SUPPORTED_VERSION_ABOVE_HIGHEST = VERSION_CLASSES[VERSION_CLASS_COUNT - 1].aboveHighest;

struct ApplicationService {
  char name[SERVICE_NAME_SIZE];
  DWORD lowestVersion;  // the first installed version that has the service
};

// In the order of the stop and start sequences.
enum ApplicationServiceIndex { CONTROL_SERVICE, COPY_SERVICE, MONITOR_SERVICE };
static_assert(MONITOR_SERVICE + 1 == APPLICATION_SERVICE_COUNT, "one row per service");

inline constexpr ApplicationService APPLICATION_SERVICES[APPLICATION_SERVICE_COUNT] = {
    {"ODRIX Carvella Control Service", 0},
    {"ODRIX Carvella Copy Service", 0x06000000},
    {"ODRIX Carvella Monitor Service", 0x0A000000},
};

// The publisher's key below HKLM\SOFTWARE, and the updater's keys below it: the record of
// an update in progress, which outlives a power cut, and the record of this
// start of Windows, which goes with it.
#define PUBLISHER_KEY_PATH "SOFTWARE\\ODRIX"
inline constexpr char PUBLISHER_KEY[] = PUBLISHER_KEY_PATH;
inline constexpr char UPDATE_RECORD_KEY[] = PUBLISHER_KEY_PATH "\\Carvella Maker Updater";
inline constexpr char BOOT_RECORD_KEY[] = PUBLISHER_KEY_PATH "\\Carvella Maker Updater (this start of Windows)";
