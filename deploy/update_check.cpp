// Whether the run has anything to do. The update is in place when no record
// of an unfinished update names this folder, every data file holds its
// payload byte for byte and every product list holds the id. The check only
// reads: whatever cannot be read counts as not in place, and the update goes
// ahead as on any other PC.
#include "app/updater.h"
#include "deploy/deploy_file.h"
#include "log/result_words.h"

namespace {

// A cut-off run's backups must be taken over, whatever the files hold now;
// the update says which.
bool NamedByRecord(Updater& updater) {
  if (updater.ReadRecord() != 0) return true;
  for (int row = 0; row < updater.fileCount; ++row) {
    if (updater.record.State(row) != ROW_UNTOUCHED) return true;
  }
  return false;
}

// In table order up to the first that differs.
bool DataFilesHoldTheirPayload(const Updater& updater) {
  for (int row = 0; row < updater.fileCount; ++row) {
    FilePointer file;
    bool holds = false;
    int error = MakeRowFile(updater.installDir, updater.fileNames[row], updater.resourceIds[row], &file);
    if (error == 0) error = file->HoldsResource(&holds);
    if (error == 0) {
      updater.Note("file %s: %s", updater.fileNames[row], holds ? "holds its payload" : "does not hold its payload");
    } else {
      updater.Note("file %s: does not hold its payload (%s)", updater.fileNames[row],
                   DescribeResult(error, FROM_FILE).text);
    }
    if (!holds) return false;
  }
  return true;
}

// The filter driver reads the new files when Windows starts: a run of this
// start of Windows that wrote them leaves a restart owed until the next one.
bool RestartOwed(Updater& updater) {
  updater.ReadBootRecord();
  const bool owed = updater.bootRecord.RestartOwed();
  updater.Note("%s", owed ? "the data files were written since Windows started: the restart is still owed"
                          : "no run wrote the data files since Windows started: no restart is owed");
  return owed;
}

}  // namespace

bool Updater::IsUpdateInPlace(bool* restartOwed) {
  const bool inPlace = !NamedByRecord(*this) && DataFilesHoldTheirPayload(*this) && ProductListsHoldId();
  Note("the update is %s", inPlace ? "in place: nothing is changed" : "not in place");
  if (inPlace) *restartOwed = RestartOwed(*this);
  return inPlace;
}
