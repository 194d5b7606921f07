// The three passes over the file table: back up and replace every target,
// put the backups back after a failure, and remove the backups.
#include <memory>
#include <new>

#include "app/updater.h"
#include "deploy/deploy_file.h"
#include "messages/catalogues.h"
#include "platform/text.h"

namespace {

typedef std::unique_ptr<DeployFile> FilePointer;

// A file of one row, on the heap for that row only. A folder that was never
// set stays unset, so every operation on the file answers ERR_NO_DIRECTORY.
int MakeRowFile(const char* folder, const char* fileName, int resourceId, FilePointer* file) {
  file->reset(new (std::nothrow) DeployFile);
  if (!*file) return ERR_OUT_OF_MEMORY;
  int result = folder != nullptr ? (*file)->SetDirectory(folder) : 0;
  if (result == 0) result = (*file)->SetName(fileName);
  (*file)->SetResourceId(resourceId);
  return result;
}

// The payload comes from the row's resource; the source folder only names it.
// A folder too long to take the file name is dropped, as one too long for its
// sub-folder is, rather than failing a row that never reads from it.
int MakeSourceFile(const Updater& updater, int row, FilePointer* source) {
  const int resourceId = updater.resourceIds[row];
  const int result = MakeRowFile(updater.sourceDir, updater.fileNames[row], resourceId, source);
  if (result != 0 || resourceId == NO_RESOURCE || (*source)->BuildPath() != ERR_TEXT_TOO_LONG) return result;
  return (*source)->SetDirectory("");
}

// A write that failed may have left the target cut short: the old content
// comes back from the backup just made, attributes included, before that
// backup is removed; a target that was not there before is removed again.
// When the old content cannot be put back, *restored says so and the backup
// must stay: it is then the only copy.
int WritePayload(DeployFile& source, DeployFile& target, DeployFile& backup, BYTE overwrite, bool existed,
                 bool* restored) {
  if (target.Exists(nullptr) && !overwrite) return 0;
  bool targetOpened = false;
  const int result = source.CopyTo(target, &targetOpened);
  if (result == 0) return 0;
  if (existed) {
    // A write refused before the target was opened (read-only, held open
    // elsewhere) left it intact, whether or not the copy back succeeds.
    *restored = backup.CopyTo(target) == 0 || !targetOpened;
  } else {
    target.Delete();
  }
  return result;
}

// A backup name is removed without acting through it: a link loses only its
// name, a plain file its read-only bit first.
void RemoveBackup(DeployFile& backup) {
  if (!backup.IsLink()) backup.ClearReadOnly();
  backup.Delete();
}

// Before the backup is made, a backup name that is a link goes, so that the
// copy makes a plain new file instead of writing through it; a target that is
// a link is not written at all.
int RefuseLinks(DeployFile& target, DeployFile& backup) {
  if (backup.IsLink()) {
    const int removed = backup.Delete();
    if (removed != 0) return removed;
  }
  return target.IsLink() ? ERR_LINKED_FILE : 0;
}

// The target's old content into its backup; *existed tells whether it had any.
int BackUpTarget(DeployFile& target, DeployFile& backup, bool* existed) {
  int existsError = 0;
  *existed = target.Exists(&existsError);
  if (*existed) return target.CopyTo(backup);
  // Other than a missing file, there may be one, and it cannot be read to back it up.
  return existsError == ERROR_FILE_NOT_FOUND ? 0 : existsError;
}

// The payload is written only over a target that was backed up or is known
// to be absent: a target replaced without a backup could not be restored.
// A row that fails leaves its target as it was and no backup behind, unless
// the backup holds the only copy of the old content.
int DeployRow(Updater& updater, int row) {
  FilePointer target;
  FilePointer backup;
  FilePointer source;
  int error = MakeRowFile(updater.installDir, updater.fileNames[row], NO_RESOURCE, &target);
  if (error == 0) error = MakeRowFile(updater.installDir, updater.backupNames[row], NO_RESOURCE, &backup);
  if (error != 0) return error;

  error = RefuseLinks(*target, *backup);
  bool existed = false;
  if (error == 0) error = BackUpTarget(*target, *backup, &existed);
  if (error == 0) error = MakeSourceFile(updater, row, &source);
  bool restored = true;
  if (error == 0) error = WritePayload(*source, *target, *backup, updater.overwrite[row], existed, &restored);
  if (error == 0) {
    target->ClearReadOnly();
    return 0;
  }
  if (!restored) {
    updater.keepBackup[row] = 1;
    return error;
  }
  RemoveBackup(*backup);
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

// deployedCount always counts the rows before the current one, all deployed,
// so that RollBack restores exactly those.
int Updater::DeployFiles() {
  int row = 0;
  for (; row < fileCount; ++row) {
    if (fileNames[row][0] == '\0') continue;
    deployedCount = row;
    const int error = DeployRow(*this, row);
    Note("file %s: %s (%d)%s", fileNames[row], error == 0 ? "written" : "not written", error,
         keepBackup[row] ? ", its backup kept as the only whole copy of the old content" : "");
    if (error != 0) {
      ShowCopyError(*this, row);
      return -1;
    }
  }
  deployedCount = row;
  return 0;
}

// Last row first; a row without a backup keeps its new file. A backup that
// could not be copied back is kept, so the old content is not lost with it.
int Updater::RollBack() {
  for (int row = deployedCount - 1; row >= 0; --row) {
    FilePointer target;
    FilePointer backup;
    if (MakeRowFile(installDir, fileNames[row], NO_RESOURCE, &target) != 0) continue;
    if (MakeRowFile(installDir, backupNames[row], NO_RESOURCE, &backup) != 0) continue;
    const int restored = backup->CopyTo(*target);
    if (restored != 0 && restored != ERROR_FILE_NOT_FOUND) keepBackup[row] = 1;
    Note("file %s: %s (%d)%s", fileNames[row],
         restored == 0 ? "put back from its backup" : restored == ERROR_FILE_NOT_FOUND ? "had no backup, kept" : "not put back",
         restored, keepBackup[row] ? ", its backup kept as the only whole copy of the old content" : "");
  }
  return 0;
}

// Every row, whatever the deployment reached: a backup left by an earlier run
// goes too. Only a backup that holds the sole copy of old content stays.
int Updater::DeleteBackups() {
  for (int row = 0; row < fileCount; ++row) {
    if (keepBackup[row]) continue;
    FilePointer backup;
    if (MakeRowFile(installDir, backupNames[row], NO_RESOURCE, &backup) != 0) continue;
    if (backup->Exists(nullptr)) RemoveBackup(*backup);
  }
  return 0;
}
