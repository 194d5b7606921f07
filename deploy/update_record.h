// The record of an update in progress: for each row of the file table that
// the update has reached, whether the old content is in the row's backup or
// the row had no file. It is on the disk before the change it announces, and
// goes when the run has finished, so the run after one that was cut off
// knows which backups hold the old content. It lives in the registry, where
// only administrators can write and no link can be planted.
#pragma once

#include "app/product_tables.h"
#include "platform/win32.h"

enum RowRecord : BYTE { ROW_UNTOUCHED = 0, ROW_IN_BACKUP = 1, ROW_WAS_ABSENT = 2 };

// A record that is there but cannot be read or understood (the Win32 code
// ERROR_INVALID_DATA): no backup can then be trusted to be stale.
constexpr int ERR_RECORD_UNREADABLE = 13;

class UpdateRecord {
 public:
  UpdateRecord();
  UpdateRecord(const UpdateRecord&) = delete;
  UpdateRecord& operator=(const UpdateRecord&) = delete;

  // Takes over the rows of a record left for this folder; none there is no
  // error. A record of another folder is set aside: *otherFolder says so,
  // and this run's own record takes its place at the next Save.
  int Load(const char* installDir, const char (*rowNames)[FILE_NAME_SIZE], int rowCount, bool* otherFolder);
  // The row's new state, on the disk when it answers 0. With no row listed
  // any longer, the record goes.
  int Mark(int row, RowRecord state);
  // The state changes in memory only, for the next Save.
  void Forget(int row);
  int Save() const;

  RowRecord State(int row) const;
  // Whether the row's state came from the run before.
  bool TakenOver(int row) const;
  bool Unreadable() const;

 private:
  bool TakeOverRows(const char* fields);

  const char* folder;
  const char (*names)[FILE_NAME_SIZE];
  int count;
  BYTE states[FILE_ROWS_MAX];
  BYTE takenOver[FILE_ROWS_MAX];
  bool unreadable;
};
