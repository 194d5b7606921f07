// The three passes over the file table: back up and replace every target,
// put the backups back after a failure, and remove the backups.
#include <memory>
#include <new>

#include "app/updater.h"
#include "deploy/deploy_file.h"
#include "log/result_words.h"
#include "messages/catalogues.h"
#include "platform/text.h"

namespace {

// The payload comes from the row's resource; the source folder only names it.
// A folder too long to take the file name is dropped, as one too long for its
// sub-folder is, rather than failing a row that never reads from it.
int MakeSourceFile(const Updater& updater, int row, FilePointer* source) {
  const int resourceId = updater.resourceIds[row];
  const int result = MakeRowFile(updater.sourceDir, updater.fileNames[row], resourceId, source);
  if (result != 0 || resourceId == NO_RESOURCE || (*source)->BuildPath() != ERR_TEXT_TOO_LONG) return result;
  return (*source)->SetDirectory("");
}

// The name a backup is written under until it is whole on the disk, and the
// name a backup or a fresh one leaves its own by before it is deleted.
constexpr char FRESH_BACKUP_SUFFIX[] = ".tmp";
constexpr char DOOMED_BACKUP_SUFFIX[] = ".del";
constexpr int SUFFIXED_BACKUP_NAME_SIZE = BACKUP_NAME_SIZE + sizeof FRESH_BACKUP_SUFFIX;
static_assert(sizeof FRESH_BACKUP_SUFFIX == sizeof DOOMED_BACKUP_SUFFIX, "one size for both names");

// The names of one row in the install folder: the target, its backup, the
// name its backup is written under before it takes the backup's name, and
// the one a name to be deleted is renamed to first.
struct RowFiles {
  FilePointer target;
  FilePointer backup;
  FilePointer fresh;
  FilePointer doomed;
};

int MakeSuffixedBackupFile(const Updater& updater, int row, const char* suffix, FilePointer* file) {
  char name[SUFFIXED_BACKUP_NAME_SIZE];
  CopyText(name, updater.backupNames[row], SUFFIXED_BACKUP_NAME_SIZE);
  CopyText(name + TextLength(name), suffix, SUFFIXED_BACKUP_NAME_SIZE - TextLength(name));
  return MakeRowFile(updater.installDir, name, NO_RESOURCE, file);
}

int MakeRowFiles(const Updater& updater, int row, RowFiles* files) {
  int error = MakeRowFile(updater.installDir, updater.fileNames[row], NO_RESOURCE, &files->target);
  if (error == 0) error = MakeRowFile(updater.installDir, updater.backupNames[row], NO_RESOURCE, &files->backup);
  if (error == 0) error = MakeSuffixedBackupFile(updater, row, FRESH_BACKUP_SUFFIX, &files->fresh);
  if (error == 0) error = MakeSuffixedBackupFile(updater, row, DOOMED_BACKUP_SUFFIX, &files->doomed);
  return error;
}

// A name is removed without acting through it: a link loses only its name, a
// plain file its read-only bit first; a name that stays read-only cannot go
// and stays where it is seen. It leaves by a rename on the disk first:
// Windows keeps a deleted name while another process (a virus scanner, say)
// holds the file, and refuses to make anything under it meanwhile; the name
// a run deletes is then one that no run writes. Where the rename is
// refused, the name is deleted where it is.
void RemoveName(DeployFile& file, DeployFile& doomed) {
  if (!file.IsPresent()) return;
  if (!file.IsLink()) file.ClearReadOnly();
  if (&file != &doomed && !file.IsReadOnly() && file.MoveOver(doomed) == 0) {
    doomed.Delete();
    return;
  }
  file.Delete();
}

bool IsGone(DeployFile& file) {
  int error = 0;
  return !file.Exists(&error) && error == ERROR_FILE_NOT_FOUND;
}

// A backup is whole or not there: written under a name of its own, on the
// disk, and only then renamed to the backup's name, replacing a backup an
// earlier run left. A read-only one is not replaced, as Windows refuses to
// rename over it; the failing row removes it, so the next run gets past it.
int BackUpTarget(RowFiles& files) {
  RemoveName(*files.fresh, *files.doomed);
  if (!files.backup->IsLink() && files.backup->IsReadOnly()) return ERROR_ACCESS_DENIED;
  int error = files.target->CopyTo(*files.fresh);
  if (error == 0) error = files.fresh->MoveOver(*files.backup);
  if (error != 0) RemoveName(*files.fresh, *files.doomed);
  return error;
}

// Before the target changes, the record says where its old content is: in
// the backup just made, or nowhere, as there was no file. A row the run
// before recorded keeps what it said; a backup of it that is gone was put
// back by that run's roll-back, so the target holds the old content again.
// *source tells a failure of the record from one of the files.
int RecordOldContent(Updater& updater, int row, RowFiles& files, ResultSource* source) {
  UpdateRecord& record = updater.record;
  *source = FROM_RECORD;
  if (record.State(row) == ROW_IN_BACKUP && IsGone(*files.backup)) {
    const int forgotten = record.Mark(row, ROW_UNTOUCHED);
    if (forgotten != 0) return forgotten;
  }
  if (record.State(row) != ROW_UNTOUCHED) return 0;
  int existsError = 0;
  if (!files.target->Exists(&existsError)) {
    if (existsError == ERROR_FILE_NOT_FOUND) return record.Mark(row, ROW_WAS_ABSENT);
    // There may be a file, and it cannot be read to back it up.
    *source = FROM_FILE;
    return existsError;
  }
  int error = BackUpTarget(files);
  if (error == 0) {
    error = record.Mark(row, ROW_IN_BACKUP);
  } else {
    *source = FROM_FILE;
  }
  // Unrecorded, the backup is a stale copy of a target that did not change.
  if (error != 0) RemoveName(*files.backup, *files.doomed);
  return error;
}

// A failed write may have left the target cut short: a recorded backup then
// stays for the roll-back to put back. A target that was not there before
// is removed again; one that the write never opened is as it was, and its
// own fresh backup goes, the record first.
void SettleFailedRow(Updater& updater, int row, RowFiles& files, bool targetOpened) {
  UpdateRecord& record = updater.record;
  if (record.State(row) == ROW_WAS_ABSENT) {
    if (files.target->Delete() == 0 || IsGone(*files.target)) record.Mark(row, ROW_UNTOUCHED);
  } else if (record.State(row) == ROW_IN_BACKUP && !targetOpened && !record.TakenOver(row)) {
    if (record.Mark(row, ROW_UNTOUCHED) == 0) RemoveName(*files.backup, *files.doomed);
  }
}

// The payload is written only over a target whose old content is recorded
// as backed up or absent: a target replaced without that could not be
// restored. *source: where a failure comes from.
int DeployRow(Updater& updater, int row, ResultSource* source) {
  RowFiles files;
  *source = FROM_FILE;
  int error = MakeRowFiles(updater, row, &files);
  if (error != 0) return error;
  error = RecordOldContent(updater, row, files, source);
  if (error != 0) return error;
  *source = FROM_FILE;
  FilePointer payload;
  error = MakeSourceFile(updater, row, &payload);
  bool targetOpened = false;
  if (error == 0 && (updater.overwrite[row] || !files.target->Exists(nullptr))) {
    error = payload->CopyTo(*files.target, &targetOpened);
  }
  if (error == 0) {
    files.target->ClearReadOnly();
    return 0;
  }
  SettleFailedRow(updater, row, files, targetOpened);
  return error;
}

// The backup goes back by rename, which needs no room and brings the old
// attributes and time along; only where the rename is refused is it copied.
// A target that is a link keeps it: the rename replaces the name, and the
// copy refuses to write through it. A backup already gone was put back by a
// run before. Answers 0 once the old content is in place; *recordError tells
// whether the record learnt it. Only a row not put back keeps its backup.
int RestoreRow(Updater& updater, int row, int* recordError) {
  *recordError = 0;
  RowFiles files;
  int error = MakeRowFiles(updater, row, &files);
  if (error == 0 && !IsGone(*files.backup)) {
    if (!files.target->IsLink()) files.target->ClearReadOnly();
    if (files.backup->MoveOver(*files.target) != 0) error = files.backup->CopyTo(*files.target);
  }
  if (error == 0) {
    *recordError = updater.record.Mark(row, ROW_UNTOUCHED);
  } else {
    updater.keepBackup[row] = 1;
  }
  return error;
}

// Shown in silent runs too: the user must learn that the update stopped.
// A text that could not take the name is shown without it rather than overrun.
void ShowCopyError(const Updater& updater, int row) {
  const char* format = updater.MessageText(MSG_FILE_COPY_ERROR);
  char text[MAX_PATH];
  if (TextLength(format) + TextLength(updater.fileNames[row]) < MAX_PATH) {
    wsprintfA(text, format, updater.fileNames[row]);
  } else {
    CopyText(text, format, MAX_PATH);
  }
  updater.ReportFailure(text);
}

}  // namespace

// A record left by a run that did not end is taken over, read once for the
// services and the files alike.
int Updater::ReadRecord() {
  const bool first = !record.Loaded();
  const int loaded = record.Load(installDir, fileNames, fileCount);
  if (!first) return loaded;
  if (loaded != 0) {
    Note("the record of an unfinished update, HKLM\\%s \"%s\", cannot be read: %s (%s)", UPDATE_RECORD_KEY,
         record.UnreadableValue(), record.UnreadableReason(), DescribeResult(loaded, FROM_RECORD).text);
    return loaded;
  }
  if (record.OtherFolders() != 0) {
    Note("%d record(s) of an unfinished update of another folder, left as they are", record.OtherFolders());
  }
  for (int row = 0; row < fileCount; ++row) {
    if (record.TakenOver(row)) {
      Note("file %s: %s, as recorded by a run that did not end", fileNames[row],
           record.State(row) == ROW_IN_BACKUP ? "its old content is in its backup" : "it had no file");
    }
  }
  return 0;
}

int Updater::ReadBootRecord() {
  const bool first = !bootRecord.Loaded();
  const int loaded = bootRecord.Load();
  if (first && loaded != 0) {
    Note("HKLM\\%s cannot be trusted (%s): nothing in it counts", BOOT_RECORD_KEY,
         DescribeResult(loaded, FROM_REGISTRY).text);
  }
  return loaded;
}

// No backup can be trusted to be stale while a record cannot be read, no
// file may change that a record cannot name, and no service may stop that
// the record of this start of Windows cannot name: the run stops before it
// stops a service or touches a file, in a silent run with the box too,
// since a retry fails the same way until the record is cleared.
bool Updater::CheckRecord() {
  const int loaded = ReadRecord();
  const bool usable = loaded == 0 && record.HasPlace() && ReadBootRecord() == 0;
  if (usable) return true;
  if (loaded == 0 && !record.HasPlace()) {
    Note("every place for a record under HKLM\\%s holds another folder's", UPDATE_RECORD_KEY);
  }
  Note("nothing is changed, every backup stays");
  ShowCopyError(*this, 0);
  return false;
}

// Only over a record that could be read. The filter driver reads the data
// files when Windows starts: from the first one written on, this start of
// Windows owes a restart, and a run that cannot record that writes none.
int Updater::DeployFiles() {
  if (!CheckRecord()) return -1;
  const int owed = bootRecord.MarkRestartOwed(installDir);
  if (owed != 0) {
    Note("HKLM\\%s \"%s\" could not be written (%s): no file is touched", BOOT_RECORD_KEY, RESTART_OWED_VALUE,
         DescribeResult(owed, FROM_REGISTRY).text);
    ShowCopyError(*this, 0);
    return -1;
  }
  for (int row = 0; row < fileCount; ++row) {
    if (fileNames[row][0] == '\0') continue;
    ResultSource source = FROM_FILE;
    const int error = DeployRow(*this, row, &source);
    if (error == 0) {
      Note("file %s: written", fileNames[row]);
      continue;
    }
    Note("file %s: not written (%s)", fileNames[row], DescribeResult(error, source).text);
    ShowCopyError(*this, row);
    return -1;
  }
  return 0;
}

// Last row first, every row whose old content is recorded in its backup,
// whichever run recorded it; a row that had no file keeps its new one. A
// backup that could not be put back is kept, and so is the record.
int Updater::RollBack() {
  for (int row = fileCount - 1; row >= 0; --row) {
    if (record.State(row) == ROW_WAS_ABSENT) {
      Note("file %s: had no file before the update, the new one kept", fileNames[row]);
    }
    if (record.State(row) != ROW_IN_BACKUP) continue;
    int recordError = 0;
    const int restored = RestoreRow(*this, row, &recordError);
    if (restored != 0) {
      Note("file %s: not put back (%s), its backup kept as the only whole copy of the old content", fileNames[row],
           DescribeResult(restored, FROM_FILE).text);
    } else if (recordError != 0) {
      Note("file %s: put back from its backup, the record not updated (%s)", fileNames[row],
           DescribeResult(recordError, FROM_RECORD).text);
    } else {
      Note("file %s: put back from its backup", fileNames[row]);
    }
  }
  return 0;
}

// The record goes before the backups it names, so that a cut in between
// leaves only stale backups; it stays, naming them, while any backup is the
// only copy of old content. Every other row's backup goes, whatever the
// deployment reached: one left by an earlier run too. Each leaves its name
// by a rename on the disk first, so that no power cut brings back a backup
// that a record it could not clear still names.
int Updater::DeleteBackups() {
  if (record.Unreadable()) return 0;
  for (int row = 0; row < fileCount; ++row) {
    if (!keepBackup[row]) record.Forget(row);
  }
  const int saved = record.Save();
  if (saved != 0) {
    Note("the record of this update could not be cleared (%s): its backups go all the same",
         DescribeResult(saved, FROM_RECORD).text);
  }
  for (int row = 0; row < fileCount; ++row) {
    RowFiles files;
    if (keepBackup[row] || MakeRowFiles(*this, row, &files) != 0) continue;
    RemoveName(*files.backup, *files.doomed);
    RemoveName(*files.fresh, *files.doomed);
    RemoveName(*files.doomed, *files.doomed);
  }
  return 0;
}
