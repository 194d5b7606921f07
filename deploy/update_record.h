// The record of an update in progress, one for each install folder: for each
// row of the file table that the update has reached, whether the old content
// is in the row's backup or the row had no file. It is on the disk before the
// change it announces, and goes when nothing it names is needed any more, so
// the run after one that was cut off, even by a power cut, knows which
// backups hold the old content. It lives in the registry, where only
// administrators can write and no link can be planted; the record of another
// folder is never rewritten.
#pragma once

#include "app/product_tables.h"
#include "platform/win32.h"

enum RowRecord : BYTE { ROW_UNTOUCHED = 0, ROW_IN_BACKUP = 1, ROW_WAS_ABSENT = 2 };

// A record that is there but cannot be read or understood (the Win32 code
// ERROR_INVALID_DATA): no backup can then be trusted to be stale.
constexpr int ERR_RECORD_UNREADABLE = 13;
// Every place for a record holds another folder's (ERROR_NO_MORE_ITEMS).
constexpr int ERR_RECORD_FULL = 259;

class UpdateRecord {
 public:
  UpdateRecord();
  UpdateRecord(const UpdateRecord&) = delete;
  UpdateRecord& operator=(const UpdateRecord&) = delete;

  // Takes over what a run that did not end recorded for this folder; none
  // there is no error. Only the first call reads; later ones answer as it did.
  int Load(const char* installDir, const char (*rowNames)[FILE_NAME_SIZE], int rowCount);
  // The row's new state, on the disk when it answers 0. With nothing listed
  // any longer, the record goes.
  int Mark(int row, RowRecord state);
  // The state changes in memory only, for the next Save.
  void Forget(int row);
  int Save();

  RowRecord State(int row) const;
  // Whether the row's state came from the run before.
  bool TakenOver(int row) const;
  bool Loaded() const;
  bool Unreadable() const;
  // Of a record that cannot be read: the value that holds it, and why.
  const char* UnreadableValue() const;
  const char* UnreadableReason() const;
  // How many records of other folders there are, left as they are.
  int OtherFolders() const;
  // Whether this folder has a record, or a free place for one.
  bool HasPlace() const;

 private:
  int ReadPlace(int candidate);
  bool NamesThisFolder(const char* record, int folderLength) const;
  bool TakeOverFields(const char* fields);
  int Refuse(int candidate, const char* reason, int result);
  int Write(const char* text);
  int Remove();

  const char* folder;
  const char (*names)[FILE_NAME_SIZE];
  int count;
  BYTE states[FILE_ROWS_MAX];
  BYTE takenOver[FILE_ROWS_MAX];
  bool loaded;
  int loadResult;
  int unreadablePlace;  // -1: the record could be read
  const char* unreadableReason;
  int place;      // of this folder's record; -1: none yet
  int freePlace;  // the first place without a record; -1: none
  int otherFolders;
};
