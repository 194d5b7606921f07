// Registers the new drive with the filter driver: its product id is added to
// the "Products" list of each vendor key the registry operation table names.
#include <memory>
#include <new>

#include "app/updater.h"
#include "messages/catalogues.h"
#include "messages/message_box.h"
#include "platform/text.h"
#include "registry/registry_key.h"
#include "registry/registry_op_table.h"

namespace {

// Shown in silent runs too: the run is about to undo the deployed files.
int RegistryFailure(const Updater& updater) {
  ShowMessageBox(updater.MessageText(MSG_REGISTRY_ERROR), MB_OK);
  return -1;
}

// The list of whole slots with the id after them, in a buffer of its own
// sized to fit, so that a list of any length takes the id whole.
char* JoinedList(const char* list, int length, const char* productId) {
  char* joined = new (std::nothrow) char[length + PRODUCT_ID_LEN + 1];
  if (joined == NULL) return NULL;
  for (int i = 0; i < length; ++i) joined[i] = list[i];
  CopyText(joined + length, productId, PRODUCT_ID_LEN + 1);
  return joined;
}

}  // namespace

int Updater::UpdateRegistry() {
  const int tableClass = versionClass < 0 || versionClass >= VERSION_CLASS_COUNT ? 0 : versionClass;
  for (int row = 0; row < REG_OP_ROWS; ++row) {
    const RegistryOp& op = REGISTRY_OP_TABLE[tableClass][row];
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

int Updater::WriteDwordValue(const char* keyPath, const char* valueName, const DWORD* value) {
  std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
  if (!key) return RegistryFailure(*this);
  const int rooted = key->SetRoot(HKEY_LOCAL_MACHINE);
  const int named = key->SetPath(keyPath);
  const int written = key->SetDword(valueName, value);
  return rooted != 0 || named != 0 || written != 0 ? RegistryFailure(*this) : 0;
}

int Updater::WriteStringValue(const char* keyPath, const char* valueName, const char* text) {
  std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
  if (!key) return RegistryFailure(*this);
  const int rooted = key->SetRoot(HKEY_LOCAL_MACHINE);
  const int named = key->SetPath(keyPath);
  int reason = 0;
  const int created = key->Exists(&reason) ? 0 : key->Create();
  const int written = key->SetString(valueName, text);
  return rooted != 0 || named != 0 || created != 0 || written != 0 ? RegistryFailure(*this) : 0;
}

int Updater::AppendProductId(const char* keyPath, const char* valueName, const char* productId) {
  // An id of another length would shift every slot after it.
  if (productId == NULL || TextLength(productId) != PRODUCT_ID_LEN) return RegistryFailure(*this);

  char parentPath[MAX_PATH] = {};
  if (ParentPath(keyPath, parentPath, MAX_PATH) == 0 && parentPath[0] != '\0') {
    std::unique_ptr<RegistryKey> parent(new (std::nothrow) RegistryKey);
    if (!parent) return RegistryFailure(*this);
    parent->SetRoot(HKEY_LOCAL_MACHINE);
    if (parent->SetPath(parentPath) != 0) return RegistryFailure(*this);
    // Without the filter driver's key there is no driver to register with. A key
    // that is there but cannot be opened is a failure: skipping it would report
    // an update whose drive the driver never learns of.
    int reason = 0;
    if (!parent->Exists(&reason)) return reason == ERROR_FILE_NOT_FOUND ? 0 : RegistryFailure(*this);
  }

  std::unique_ptr<RegistryKey> key(new (std::nothrow) RegistryKey);
  if (!key) return RegistryFailure(*this);
  key->SetRoot(HKEY_LOCAL_MACHINE);
  key->SetPath(keyPath);
  int reason = 0;
  if (!key->Exists(&reason)) key->Create();  // a failure here shows as a failed read

  int status = 0;
  char* list = key->GetString(valueName, &status);
  if (list == NULL) {
    if (status != ERR_VALUE_NOT_FOUND) return RegistryFailure(*this);
    list = new (std::nothrow) char[PRODUCT_ID_LEN + 1];
    if (list == NULL) return RegistryFailure(*this);
    CopyText(list, productId, PRODUCT_ID_LEN + 1);
    status = key->SetString(valueName, list);
  }

  // Only whole slots count; a cut trailing slot reaches the registry only with an append.
  int length = TextLength(list);
  length -= length % PRODUCT_ID_LEN;
  list[length] = '\0';
  if (!ProductListContains(list, productId)) {
    char* joined = JoinedList(list, length, productId);
    const int written = joined != NULL ? key->SetString(valueName, joined) : ERR_OUT_OF_MEMORY;
    delete[] joined;
    if (written != 0) status = written;
  }
  delete[] list;
  return status != 0 ? RegistryFailure(*this) : 0;
}

// Compares whole slots only, up to the list's terminator, ignoring ASCII letter case.
bool Updater::ProductListContains(const char* list, const char* productId) {
  if (list == NULL || productId == NULL || TextLength(productId) != PRODUCT_ID_LEN) return false;
  const int length = TextLength(list);
  for (int start = 0; start + PRODUCT_ID_LEN <= length; start += PRODUCT_ID_LEN) {
    if (EqualIgnoringAsciiCase(list + start, productId, PRODUCT_ID_LEN)) return true;
  }
  return false;
}

int Updater::ParentPath(const char* path, char* buffer, int capacity) {
  if (path == NULL || buffer == NULL || capacity <= 0) return -1;
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
