// Registers the new drive with the filter driver: its product id is added to
// the "Products" list of each vendor key the registry operation table names.
#include <memory>
#include <new>

#include "app/updater.h"
#include "log/result_words.h"
#include "messages/catalogues.h"
#include "platform/text.h"
#include "registry/registry_key.h"
#include "registry/registry_op_table.h"

namespace {

typedef std::unique_ptr<char[]> ListText;

// The write's line of the log, then its answer: 0, or -1 after the box,
// which silent runs show too, since the run is about to undo the deployed files.
int Outcome(const Updater& updater, const char* keyPath, const char* valueName, int status, const char* done) {
  const char* key = keyPath != nullptr ? keyPath : "";
  const char* value = valueName != nullptr ? valueName : "";
  if (status == 0) {
    updater.Note("registry HKLM\\%s \"%s\": %s", key, value, done);
    return 0;
  }
  updater.Note("registry HKLM\\%s \"%s\": not written (%s)", key, value, DescribeResult(status, FROM_REGISTRY).text);
  updater.ReportFailure(updater.MessageText(MSG_REGISTRY_ERROR));
  return -1;
}

int FirstFailure(int first, int second, int third, int fourth = 0) {
  if (first != 0) return first;
  if (second != 0) return second;
  return third != 0 ? third : fourth;
}

// The filter driver's key is the vendor key's parent. Without it there is no
// driver to register with, and *present turns false. A key that is there but
// does not open with the rights asked for still belongs to an installed
// driver: the vendor key's own operations decide then.
int FindFilterDriver(const char* vendorKeyPath, bool* present) {
  char parentPath[MAX_PATH] = {};
  if (Updater::ParentPath(vendorKeyPath, parentPath, MAX_PATH) != 0 || parentPath[0] == '\0') return 0;
  std::unique_ptr<RegistryKey> parent(new (std::nothrow) RegistryKey);
  if (!parent) return ERR_OUT_OF_MEMORY;
  parent->SetRoot(HKEY_LOCAL_MACHINE);
  const int named = parent->SetPath(parentPath);
  if (named != 0) return named;
  int reason = 0;
  *present = parent->Exists(&reason) || reason != ERROR_FILE_NOT_FOUND;
  return 0;
}

// The list as stored; where there is none yet, the id alone, written as the list.
int ReadOrSeedList(RegistryKey& key, const char* valueName, const char* productId, ListText* list, bool* written) {
  if (!key.Exists(nullptr)) key.Create();  // a failure here shows as a failed read
  int status = 0;
  list->reset(key.GetString(valueName, &status));
  if (*list) return 0;
  if (status != ERR_VALUE_NOT_FOUND) return status;
  list->reset(new (std::nothrow) char[PRODUCT_ID_LEN + 1]);
  if (!*list) return ERR_OUT_OF_MEMORY;
  CopyText(list->get(), productId, PRODUCT_ID_LEN + 1);
  *written = true;
  return key.SetString(valueName, list->get());
}

// Only whole slots count; a cut trailing slot reaches the registry only with
// an append. The id goes after them in a buffer of its own sized to fit, so
// that a list of any length takes it whole.
int AppendToList(RegistryKey& key, const char* valueName, char* list, const char* productId, bool* written) {
  int length = TextLength(list);
  length -= length % PRODUCT_ID_LEN;
  list[length] = '\0';
  if (Updater::ProductListContains(list, productId)) return 0;
  const ListText joined(new (std::nothrow) char[length + PRODUCT_ID_LEN + 1]);
  if (!joined) return ERR_OUT_OF_MEMORY;
  for (int i = 0; i < length; ++i) joined[i] = list[i];
  CopyText(joined.get() + length, productId, PRODUCT_ID_LEN + 1);
  *written = true;
  return key.SetString(valueName, joined.get());
}

}  // namespace

int Updater::UpdateRegistry() const {
  for (int row = 0; row < REG_OP_ROWS; ++row) {
    const RegistryOp& op = REGISTRY_OP_TABLE[TableClass(versionClass)][row];
    int result = 0;
    switch (op.kind) {
      case REG_OP_SET_DWORD:
        result = WriteDwordValue(op.keyPath, op.valueName, &op.dwordData);
        break;
      case REG_OP_SET_STRING:
        if (op.keyPath[0] != '\0') result = WriteStringValue(op.keyPath, op.valueName, op.stringData);
        break;
      case REG_OP_APPEND_PRODUCT:
        if (op.keyPath[0] != '\0') result = AppendProductId(op.keyPath, op.valueName, op.stringData);
        break;
      default:
        break;
    }
    if (result != 0) return result;
  }
  return 0;
}

int Updater::WriteDwordValue(const char* keyPath, const char* valueName, const DWORD* value) const {
  std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
  if (!key) return Outcome(*this, keyPath, valueName, ERR_OUT_OF_MEMORY, "");
  const int rooted = key->SetRoot(HKEY_LOCAL_MACHINE);
  const int named = key->SetPath(keyPath);
  const int written = key->SetDword(valueName, value);
  return Outcome(*this, keyPath, valueName, FirstFailure(rooted, named, written), "written");
}

int Updater::WriteStringValue(const char* keyPath, const char* valueName, const char* text) const {
  std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
  if (!key) return Outcome(*this, keyPath, valueName, ERR_OUT_OF_MEMORY, "");
  const int rooted = key->SetRoot(HKEY_LOCAL_MACHINE);
  const int named = key->SetPath(keyPath);
  const int created = key->Exists(nullptr) ? 0 : key->Create();
  const int written = key->SetString(valueName, text);
  return Outcome(*this, keyPath, valueName, FirstFailure(rooted, named, created, written), "written");
}

int Updater::AppendProductId(const char* keyPath, const char* valueName, const char* productId) const {
  // An id of another length would shift every slot after it.
  if (productId == nullptr || TextLength(productId) != PRODUCT_ID_LEN) {
    return Outcome(*this, keyPath, valueName, ERROR_INVALID_PARAMETER, "");
  }
  bool driverPresent = true;
  const int found = FindFilterDriver(keyPath, &driverPresent);
  if (found != 0) return Outcome(*this, keyPath, valueName, found, "");
  if (!driverPresent) return Outcome(*this, keyPath, valueName, 0, "no filter driver key, nothing to register");

  std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
  if (!key) return Outcome(*this, keyPath, valueName, ERR_OUT_OF_MEMORY, "");
  key->SetRoot(HKEY_LOCAL_MACHINE);
  key->SetPath(keyPath);
  ListText list;
  bool written = false;
  int status = ReadOrSeedList(*key, valueName, productId, &list, &written);
  if (status == 0) status = AppendToList(*key, valueName, list.get(), productId, &written);
  // On the disk before the record of the update goes, also when the id was
  // there already: an earlier run cut off may have written it unflushed.
  if (status == 0) status = key->Flush();
  return Outcome(*this, keyPath, valueName, status, written ? "the id added" : "holds the id already");
}

// Reads only, with the filter driver test and the list rule of the update.
// Every row of the table appends the id to a list.
bool Updater::ProductListsHoldId() const {
  for (int row = 0; row < REG_OP_ROWS; ++row) {
    const RegistryOp& op = REGISTRY_OP_TABLE[TableClass(versionClass)][row];
    bool driverPresent = true;
    if (FindFilterDriver(op.keyPath, &driverPresent) != 0) return false;
    bool holds = !driverPresent;
    if (driverPresent) {
      std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
      if (!key) return false;
      key->SetRoot(HKEY_LOCAL_MACHINE);
      key->SetPath(op.keyPath);
      int readError = 0;  // a list that cannot be read holds no id
      const ListText list(key->GetString(op.valueName, &readError));
      holds = ProductListContains(list.get(), op.stringData);
      if (!list) {
        Note("registry HKLM\\%s \"%s\": does not hold the id (%s)", op.keyPath, op.valueName,
             DescribeResult(readError, FROM_REGISTRY).text);
        return false;
      }
    }
    Note("registry HKLM\\%s \"%s\": %s", op.keyPath, op.valueName,
         !driverPresent ? "no filter driver key, nothing to register"
         : holds        ? "holds the id already"
                        : "does not hold the id");
    if (!holds) return false;
  }
  return true;
}

// Compares whole slots only, up to the list's terminator, ignoring ASCII letter case.
bool Updater::ProductListContains(const char* list, const char* productId) {
  if (list == nullptr || productId == nullptr || TextLength(productId) != PRODUCT_ID_LEN) return false;
  const int length = TextLength(list);
  for (int start = 0; start + PRODUCT_ID_LEN <= length; start += PRODUCT_ID_LEN) {
    if (EqualIgnoringAsciiCase(list + start, productId, PRODUCT_ID_LEN)) return true;
  }
  return false;
}

int Updater::ParentPath(const char* path, char* buffer, int capacity) {
  if (path == nullptr || buffer == nullptr || capacity <= 0) return -1;
  int length = 0;
  while (length < capacity && path[length] != '\0') ++length;
  if (length == 0 || length == capacity) return -1;
  for (int i = length - 1; i >= 0; --i) {
    if (path[i] == '\\') {
      CopyText(buffer, path, i + 1);
      return 0;
    }
  }
  return -1;
}
