// Whether the run has anything to do. The update is in place when no record
// of an unfinished update names this folder, every data file holds its
// payload byte for byte and every product list holds the id. The check only
// reads: whatever cannot be read counts as not in place, and the update goes
// ahead as on any other PC.
#include "app/updater.h"
#include "deploy/deploy_file.h"
#include "platform/system_functions.h"

namespace {

ULONGLONG AsCount(const FILETIME& time) {
  return static_cast<ULONGLONG>(time.dwHighDateTime) << 32 | time.dwLowDateTime;
}

// A cut-off run's backups must be taken over and the services it asked to
// stop started again, whatever the files hold now; the update says which.
bool NamedByRecord(Updater& updater) {
  if (updater.ReadRecord() != 0) return true;
  for (int row = 0; row < updater.fileCount; ++row) {
    if (updater.record.State(row) != ROW_UNTOUCHED) return true;
  }
  for (int service = 0; service < APPLICATION_SERVICE_COUNT; ++service) {
    if (updater.record.ServiceAskedToStop(service)) return true;
  }
  return false;
}

// In table order up to the first that differs; *lastWritten: the latest
// last-write time among them.
bool DataFilesHoldTheirPayload(const Updater& updater, ULONGLONG* lastWritten) {
  for (int row = 0; row < updater.fileCount; ++row) {
    FilePointer file;
    bool holds = false;
    FILETIME written = {};
    int error = MakeRowFile(updater.installDir, updater.fileNames[row], updater.resourceIds[row], &file);
    if (error == 0) error = file->HoldsResource(&holds, &written);
    updater.Note("file %s: %s (%d)", updater.fileNames[row], holds ? "holds its payload" : "does not hold its payload",
                 error);
    if (!holds) return false;
    if (AsCount(written) > *lastWritten) *lastWritten = AsCount(written);
  }
  return true;
}

// The filter driver reads the new files when Windows starts: a file written
// since the current start still waits for a restart.
bool RestartOwed(const Updater& updater, ULONGLONG lastWritten) {
  ULONGLONG started = 0;
  const bool told = FindWindowsStartTime(&started);
  const bool owed = !told || lastWritten >= started;
  updater.Note("%s: %s",
               !told  ? "the start of Windows cannot be told"
               : owed ? "the data files were last written after Windows started"
                      : "the data files were last written before Windows started",
               owed ? "the restart is still owed" : "no restart is owed");
  return owed;
}

}  // namespace

bool Updater::IsUpdateInPlace(bool* restartOwed) {
  ULONGLONG lastWritten = 0;
  const bool inPlace =
      !NamedByRecord(*this) && DataFilesHoldTheirPayload(*this, &lastWritten) && ProductListsHoldId();
  Note("the update is %s", inPlace ? "in place: nothing is changed" : "not in place");
  if (inPlace) *restartOwed = RestartOwed(*this, lastWritten);
  return inPlace;
}
