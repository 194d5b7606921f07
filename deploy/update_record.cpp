#include "deploy/update_record.h"

#include <memory>
#include <new>

#include "platform/text.h"
#include "registry/registry_key.h"

namespace {

constexpr char RECORD_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker Updater";
constexpr char RECORD_VALUE[] = "Update in progress";
// "<install folder>|<file name>:backup|<file name>:absent|...": neither a
// path nor a file name can hold the separators.
constexpr char FIELD_SEPARATOR = '|';
constexpr char STATE_SEPARATOR = ':';
// The separator as text, and what ends a name or a state.
constexpr char FIELD_SEPARATOR_TEXT[] = {FIELD_SEPARATOR, '\0'};
constexpr char FIELD_ENDS[] = {FIELD_SEPARATOR, STATE_SEPARATOR, '\0'};
constexpr char STATE_IN_BACKUP[] = "backup";
constexpr char STATE_WAS_ABSENT[] = "absent";
constexpr int RECORD_SIZE = REGISTRY_PATH_SIZE;

bool OpenRecordKey(std::unique_ptr<RegistryKey>* key) {
  key->reset(new (std::nothrow) RegistryKey);
  return *key && (*key)->SetRoot(HKEY_LOCAL_MACHINE) == 0 && (*key)->SetPath(RECORD_KEY) == 0;
}

bool SameText(const char* left, int leftLength, const char* right) {
  return leftLength == TextLength(right) && EqualIgnoringAsciiCase(left, right, leftLength);
}

// How many characters come before the first of the stops or the end.
int LengthUpTo(const char* text, const char* stops) {
  int length = 0;
  for (; text[length] != '\0'; ++length) {
    for (const char* stop = stops; *stop != '\0'; ++stop) {
      if (text[length] == *stop) return length;
    }
  }
  return length;
}

// Appends a field, or answers false when it does not fit whole.
bool AppendField(char* record, const char* text) {
  const int length = TextLength(record);
  if (!TextFits(text, RECORD_SIZE - length)) return false;
  CopyText(record + length, text, RECORD_SIZE - length);
  return true;
}

}  // namespace

UpdateRecord::UpdateRecord()
    : folder(nullptr), names(nullptr), count(0), states(), takenOver(), unreadable(false) {}

int UpdateRecord::Load(const char* installDir, const char (*rowNames)[FILE_NAME_SIZE], int rowCount,
                       bool* otherFolder) {
  folder = installDir;
  names = rowNames;
  count = rowCount < FILE_ROWS_MAX ? rowCount : FILE_ROWS_MAX;
  *otherFolder = false;
  if (folder == nullptr) return 0;
  std::unique_ptr<RegistryKey> key;
  if (!OpenRecordKey(&key)) return ERR_OUT_OF_MEMORY;
  int error = 0;
  std::unique_ptr<char[]> text(key->GetString(RECORD_VALUE, &error));
  if (!text) {
    if (error == ERR_VALUE_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) return 0;
    unreadable = true;
    return error;
  }
  // Compared whole, not scanned for the separator: in code page 932 the second
  // byte of a character may be the separator's.
  // The comparison stops at the stored text's end, before reading past it.
  const int folderLength = TextLength(folder);
  if (!EqualIgnoringAsciiCase(text.get(), folder, folderLength) ||
      (text[folderLength] != FIELD_SEPARATOR && text[folderLength] != '\0')) {
    *otherFolder = true;
    return 0;
  }
  if (TakeOverRows(text.get() + folderLength)) return 0;
  // Nothing of a record read in part is taken over.
  for (int row = 0; row < FILE_ROWS_MAX; ++row) states[row] = takenOver[row] = 0;
  unreadable = true;
  return ERR_RECORD_UNREADABLE;
}

// "|<file name>:<state>" for each row recorded, and nothing after them.
bool UpdateRecord::TakeOverRows(const char* fields) {
  while (*fields == FIELD_SEPARATOR) {
    const char* name = fields + 1;
    const int nameLength = LengthUpTo(name, FIELD_ENDS);
    if (name[nameLength] != STATE_SEPARATOR) return false;
    const char* state = name + nameLength + 1;
    const int stateLength = LengthUpTo(state, FIELD_ENDS);
    int row = 0;
    while (row < count && !SameText(name, nameLength, names[row])) ++row;
    const bool inBackup = SameText(state, stateLength, STATE_IN_BACKUP);
    if (row == count || (!inBackup && !SameText(state, stateLength, STATE_WAS_ABSENT))) return false;
    states[row] = inBackup ? ROW_IN_BACKUP : ROW_WAS_ABSENT;
    takenOver[row] = 1;
    fields = state + stateLength;
  }
  return *fields == '\0';
}

int UpdateRecord::Mark(int row, RowRecord state) {
  states[row] = state;
  return Save();
}

void UpdateRecord::Forget(int row) { states[row] = ROW_UNTOUCHED; }

// Nothing is recorded for a run that has no folder to change.
int UpdateRecord::Save() const {
  if (folder == nullptr) return 0;
  std::unique_ptr<RegistryKey> key;
  if (!OpenRecordKey(&key)) return ERR_OUT_OF_MEMORY;
  std::unique_ptr<char[]> record(new (std::nothrow) char[RECORD_SIZE]);
  if (!record) return ERR_OUT_OF_MEMORY;
  CopyText(record.get(), "", RECORD_SIZE);
  bool fits = AppendField(record.get(), folder);
  bool listed = false;
  const char stateSeparator[] = {STATE_SEPARATOR, '\0'};
  for (int row = 0; row < count; ++row) {
    if (states[row] == ROW_UNTOUCHED) continue;
    listed = true;
    fits = fits && AppendField(record.get(), FIELD_SEPARATOR_TEXT) && AppendField(record.get(), names[row]) &&
           AppendField(record.get(), stateSeparator) &&
           AppendField(record.get(), states[row] == ROW_IN_BACKUP ? STATE_IN_BACKUP : STATE_WAS_ABSENT);
  }
  if (!fits) return ERR_TEXT_TOO_LONG;
  int result = 0;
  if (listed) {
    result = key->Create();
    if (result == 0) result = key->SetString(RECORD_VALUE, record.get());
  } else {
    result = key->DeleteValue(RECORD_VALUE);
    // No key, no record.
    if (result == ERROR_FILE_NOT_FOUND) return 0;
  }
  return result == 0 ? key->Flush() : result;
}

RowRecord UpdateRecord::State(int row) const { return static_cast<RowRecord>(states[row]); }

bool UpdateRecord::TakenOver(int row) const { return takenOver[row] != 0; }

bool UpdateRecord::Unreadable() const { return unreadable; }
