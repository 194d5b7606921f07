#include "deploy/update_record.h"

#include <memory>
#include <new>

#include "platform/folder_identity.h"
#include "platform/text.h"
#include "registry/registry_key.h"

namespace {

// Any key of the record's hive: flushing it writes the whole hive, also
// after the record's own key went.
constexpr char RECORD_HIVE_KEY[] = "SOFTWARE";
// One value for each folder with an unfinished update; the first is the name
// that earlier versions wrote their one record under.
constexpr int RECORD_PLACES = 4;
constexpr char RECORD_VALUES[RECORD_PLACES][24] = {"Update in progress", "Update in progress 2",
                                                    "Update in progress 3", "Update in progress 4"};
// "<install folder>|<file name>:backup|<file name>:absent": neither a path
// nor a file name holds the separators. An earlier build also recorded
// "|<service>:asked to stop"; a service belongs to the start of Windows it
// was stopped in, and such a field is read past and dropped.
constexpr char FIELD_SEPARATOR = '|';
constexpr char STATE_SEPARATOR = ':';
// The separators as text, and what ends a name or a state.
constexpr char FIELD_SEPARATOR_TEXT[] = {FIELD_SEPARATOR, '\0'};
constexpr char STATE_SEPARATOR_TEXT[] = {STATE_SEPARATOR, '\0'};
constexpr char FIELD_ENDS[] = {FIELD_SEPARATOR, STATE_SEPARATOR, '\0'};
constexpr char STATE_IN_BACKUP[] = "backup";
constexpr char STATE_WAS_ABSENT[] = "absent";
constexpr char STATE_ASKED_TO_STOP[] = "asked to stop";
constexpr int RECORD_SIZE = REGISTRY_PATH_SIZE;

bool OpenKey(const char* path, std::unique_ptr<RegistryKey>* key) {
  key->reset(new (std::nothrow) RegistryKey);
  return *key && (*key)->SetRoot(HKEY_LOCAL_MACHINE) == 0 && (*key)->SetPath(path) == 0;
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

// Appends "|<name>:<state>", or answers false when it does not fit whole.
bool AppendField(char* record, const char* name, const char* state) {
  const char* parts[] = {FIELD_SEPARATOR_TEXT, name, STATE_SEPARATOR_TEXT, state};
  for (const char* part : parts) {
    const int length = TextLength(record);
    if (!TextFits(part, RECORD_SIZE - length)) return false;
    CopyText(record + length, part, RECORD_SIZE - length);
  }
  return true;
}

int FlushRecordHive() {
  std::unique_ptr<RegistryKey> hive;
  return OpenKey(RECORD_HIVE_KEY, &hive) ? hive->Flush() : ERR_OUT_OF_MEMORY;
}

}  // namespace

UpdateRecord::UpdateRecord()
    : folder(nullptr),
      names(nullptr),
      count(0),
      states(),
      takenOver(),
      loaded(false),
      loadResult(0),
      unreadablePlace(-1),
      unreadableReason(nullptr),
      place(-1),
      freePlace(-1),
      otherFolders(0) {}

int UpdateRecord::Load(const char* installDir, const char (*rowNames)[FILE_NAME_SIZE], int rowCount) {
  if (loaded) return loadResult;
  loaded = true;
  folder = installDir;
  names = rowNames;
  count = rowCount < FILE_ROWS_MAX ? rowCount : FILE_ROWS_MAX;
  if (folder == nullptr) return 0;
  for (int candidate = 0; candidate < RECORD_PLACES && loadResult == 0; ++candidate) {
    loadResult = ReadPlace(candidate);
  }
  if (loadResult == 0) return 0;
  // Nothing of a record read in part is taken over.
  for (int row = 0; row < FILE_ROWS_MAX; ++row) states[row] = takenOver[row] = 0;
  return loadResult;
}

// The folder ends at the first separator that is a character of its own: in
// code page 932 the second byte of a character may be the separator's.
int UpdateRecord::ReadPlace(int candidate) {
  std::unique_ptr<RegistryKey> key;
  if (!OpenKey(UPDATE_RECORD_KEY, &key)) return Refuse(candidate, "it cannot be read", ERR_OUT_OF_MEMORY);
  int error = 0;
  std::unique_ptr<char[]> text(key->GetString(RECORD_VALUES[candidate], &error));
  if (!text) {
    if (error != ERR_VALUE_NOT_FOUND && error != ERROR_FILE_NOT_FOUND) {
      return Refuse(candidate, error == ERR_TYPE_MISMATCH ? "it is not a REG_SZ value" : "it cannot be read", error);
    }
    if (freePlace < 0) freePlace = candidate;
    return 0;
  }
  const int folderLength = FindCharacter(text.get(), FIELD_SEPARATOR);
  if (!NamesThisFolder(text.get(), folderLength)) {
    ++otherFolders;
    return 0;
  }
  // Two records of one folder: neither can be trusted over the other.
  if (place >= 0) return Refuse(candidate, "a second record of this folder", ERR_RECORD_UNREADABLE);
  place = candidate;
  if (TakeOverFields(text.get() + folderLength)) return 0;
  return Refuse(candidate, "a field this updater does not know", ERR_RECORD_UNREADABLE);
}

// By its text, or by what Windows says the folder is: a record is never
// taken for another folder's only because it spells this one otherwise
// (doubled separators, an 8.3 name, another case, a mount point). Only a
// recorded local path is looked up, so that no run reaches out to a share
// that a registry value names.
bool UpdateRecord::NamesThisFolder(const char* record, int folderLength) const {
  if (SameFolder(record, folderLength, folder)) return true;
  if (folderLength >= MAX_PATH) return false;
  char recorded[MAX_PATH];
  CopyText(recorded, record, folderLength + 1);
  return IsAbsoluteLocalPath(recorded) && SameFolderOnDisk(recorded, folder);
}

// "|<name>:<state>" for each row recorded, and nothing after them.
bool UpdateRecord::TakeOverFields(const char* fields) {
  while (*fields == FIELD_SEPARATOR) {
    const char* name = fields + 1;
    const int nameLength = LengthUpTo(name, FIELD_ENDS);
    if (name[nameLength] != STATE_SEPARATOR) return false;
    const char* state = name + nameLength + 1;
    const int stateLength = LengthUpTo(state, FIELD_ENDS);
    fields = state + stateLength;
    int row = 0;
    while (row < count && !SameText(name, nameLength, names[row])) ++row;
    if (row < count) {
      const bool inBackup = SameText(state, stateLength, STATE_IN_BACKUP);
      if (!inBackup && !SameText(state, stateLength, STATE_WAS_ABSENT)) return false;
      states[row] = inBackup ? ROW_IN_BACKUP : ROW_WAS_ABSENT;
      takenOver[row] = 1;
      continue;
    }
    int service = 0;
    while (service < APPLICATION_SERVICE_COUNT && !SameText(name, nameLength, APPLICATION_SERVICES[service].name)) {
      ++service;
    }
    if (service == APPLICATION_SERVICE_COUNT || !SameText(state, stateLength, STATE_ASKED_TO_STOP)) return false;
  }
  return *fields == '\0';
}

int UpdateRecord::Refuse(int candidate, const char* reason, int result) {
  unreadablePlace = candidate;
  unreadableReason = reason;
  return result;
}

int UpdateRecord::Mark(int row, RowRecord state) {
  states[row] = state;
  return Save();
}

void UpdateRecord::Forget(int row) { states[row] = ROW_UNTOUCHED; }

// Nothing is recorded for a run that has no folder to change, and a record
// that could not be read is never written over.
int UpdateRecord::Save() {
  if (folder == nullptr) return 0;
  if (Unreadable()) return ERR_RECORD_UNREADABLE;
  std::unique_ptr<char[]> record(new (std::nothrow) char[RECORD_SIZE]);
  if (!record) return ERR_OUT_OF_MEMORY;
  bool fits = TextFits(folder, RECORD_SIZE);
  CopyText(record.get(), folder, RECORD_SIZE);
  bool listed = false;
  for (int row = 0; row < count; ++row) {
    if (states[row] == ROW_UNTOUCHED) continue;
    listed = true;
    fits = fits && AppendField(record.get(), names[row], states[row] == ROW_IN_BACKUP ? STATE_IN_BACKUP : STATE_WAS_ABSENT);
  }
  if (!fits) return ERR_TEXT_TOO_LONG;
  return listed ? Write(record.get()) : Remove();
}

// The first record of the folder takes the first free place; the key is made
// then, below the publisher's key, which holds the application's.
int UpdateRecord::Write(const char* text) {
  std::unique_ptr<RegistryKey> key;
  if (!OpenKey(UPDATE_RECORD_KEY, &key)) return ERR_OUT_OF_MEMORY;
  if (place < 0) {
    if (freePlace < 0) return ERR_RECORD_FULL;
    place = freePlace;
    freePlace = -1;
  }
  int result = key->Create();
  if (result == 0) result = key->SetString(RECORD_VALUES[place], text);
  return result == 0 ? FlushRecordHive() : result;
}

// The record goes, then its key when no other folder's record is in it (also
// one that a run cut off between the two left empty).
int UpdateRecord::Remove() {
  std::unique_ptr<RegistryKey> key;
  if (!OpenKey(UPDATE_RECORD_KEY, &key)) return ERR_OUT_OF_MEMORY;
  const bool hadRecord = place >= 0;
  if (hadRecord) {
    const int result = key->DeleteValue(RECORD_VALUES[place]);
    // No key, no record.
    if (result != 0 && result != ERROR_FILE_NOT_FOUND) return result;
    if (freePlace < 0 || place < freePlace) freePlace = place;
    place = -1;
  }
  bool keyDeleted = false;
  key->DeleteIfEmpty(&keyDeleted);
  return hadRecord || keyDeleted ? FlushRecordHive() : 0;
}

RowRecord UpdateRecord::State(int row) const { return static_cast<RowRecord>(states[row]); }

bool UpdateRecord::TakenOver(int row) const { return takenOver[row] != 0; }

bool UpdateRecord::Loaded() const { return loaded; }

bool UpdateRecord::Unreadable() const { return unreadablePlace >= 0; }

const char* UpdateRecord::UnreadableValue() const { return Unreadable() ? RECORD_VALUES[unreadablePlace] : ""; }

const char* UpdateRecord::UnreadableReason() const { return Unreadable() ? unreadableReason : ""; }

int UpdateRecord::OtherFolders() const { return otherFolders; }

bool UpdateRecord::HasPlace() const { return place >= 0 || freePlace >= 0; }
