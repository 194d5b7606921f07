#include "registry/registry_key.h"

#include <memory>
#include <new>

#include "platform/scoped_handle.h"
#include "platform/system_functions.h"
#include "platform/text.h"

namespace {

// Exists also demands the rights that the product-list update needs later.
constexpr REGSAM REGISTRY_ACCESS_EXISTS = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr REGSAM REGISTRY_ACCESS_READ = KEY_READ;
constexpr REGSAM REGISTRY_ACCESS_WRITE = KEY_WRITE;
// RegFlushKey and RegQueryInfoKeyA ask for the right to query values.
constexpr REGSAM REGISTRY_ACCESS_QUERY = KEY_QUERY_VALUE;
constexpr DWORD DWORD_VALUE_SIZE = 4;
// Room beyond the stated capacity, zero-filled, so that text stored without
// its NUL and a DWORD stored short still read whole.
constexpr DWORD QUERY_SPARE_BYTES = 16;
// The sizing read states one byte more than it learnt, so that a value grown
// by one byte in between still fits; the rest of the spare room stays free.
constexpr DWORD QUERY_STATED_EXTRA = 1;
constexpr DWORD LARGEST_QUERY_SIZE = 0xFFFFFFFFu - QUERY_SPARE_BYTES - QUERY_STATED_EXTRA;
// The key IsVolatile tries to make below the one it asks about.
constexpr char VOLATILE_PROBE_KEY[] = "Volatile probe";

// The 32-bit updater works in the 64-bit view, where 64-bit software keeps its
// keys. Windows without WOW64 (2000, XP before SP2) has only one view, and
// Windows 2000 refuses the view flag outright, so it is left out there.
REGSAM RegistryView() { return FindIsWow64Process() != nullptr ? KEY_WOW64_64KEY : 0; }

// The plain RegDeleteKeyA reaches only the 32-bit view of a 32-bit program
// on 64-bit Windows, where RegDeleteKeyExA names the view.
LONG DeleteKeyInView(HKEY parent, const char* subKey) {
  RegDeleteKeyExFunction deleteInView = FindRegDeleteKeyEx();
  return deleteInView != nullptr ? deleteInView(parent, subKey, RegistryView(), 0) : RegDeleteKeyA(parent, subKey);
}

// The two-call read: size and type first, then the data into a zero-filled
// buffer with spare room, so text comes back terminated even when stored without NUL.
char* ReadValue(HKEY key, const char* valueName, int* error, DWORD* valueType) {
  DWORD size = 0;
  const LONG sized = RegQueryValueExA(key, valueName, nullptr, valueType, nullptr, &size);
  if (sized != ERROR_SUCCESS) {
    SetOutParameter(error, sized == ERROR_FILE_NOT_FOUND ? ERR_VALUE_NOT_FOUND : static_cast<int>(sized));
    return nullptr;
  }
  char* data = size <= LARGEST_QUERY_SIZE ? new (std::nothrow) char[size + QUERY_STATED_EXTRA + QUERY_SPARE_BYTES]()
                                          : nullptr;
  if (data == nullptr) {
    SetOutParameter(error, ERR_OUT_OF_MEMORY);
    return nullptr;
  }
  DWORD capacity = size + QUERY_STATED_EXTRA;
  const LONG read = RegQueryValueExA(key, valueName, nullptr, valueType, reinterpret_cast<LPBYTE>(data), &capacity);
  if (read != ERROR_SUCCESS) {
    delete[] data;
    SetOutParameter(error, static_cast<int>(read));
    return nullptr;
  }
  SetOutParameter(error, 0);
  return data;
}

}  // namespace

RegistryKey::RegistryKey() : root(nullptr), path(nullptr) {}

RegistryKey::~RegistryKey() {
  root = nullptr;
  delete[] path;
}

int RegistryKey::SetRoot(HKEY rootKey) {
  root = rootKey;
  return 0;
}

// A path that does not fit is refused and leaves the object without a path:
// working on a cut path, or on the one set before, would reach the wrong key.
int RegistryKey::SetPath(const char* subKeyPath) {
  const int result = StoreOwnedText(&path, REGISTRY_PATH_SIZE, subKeyPath);
  return subKeyPath == nullptr ? ERR_NO_PATH : result;
}

int RegistryKey::CheckNamed() const {
  if (root == nullptr) return ERR_NO_ROOT;
  if (path == nullptr) return ERR_NO_PATH;
  return 0;
}

// Every operation but Create starts here: a key without root or path is never opened.
int RegistryKey::Open(REGSAM access, RegistryHandle* key) const {
  const int named = CheckNamed();
  if (named != 0) return named;
  return static_cast<int>(RegOpenKeyExA(root, path, 0, access | RegistryView(), key->Receive()));
}

bool RegistryKey::Exists(int* error) const {
  RegistryHandle key;
  const int opened = Open(REGISTRY_ACCESS_EXISTS, &key);
  if (opened != 0) SetOutParameter(error, opened);
  return opened == 0;
}

int RegistryKey::Create() {
  const int named = CheckNamed();
  if (named != 0) return named;
  return CreateKey(REG_OPTION_NON_VOLATILE) == ERROR_SUCCESS ? 0 : ERR_CREATE_FAILED;
}

// Only the last key of the path is made, below a parent that must exist: a
// parent made volatile on the way would refuse every durable key later
// made below it.
int RegistryKey::CreateVolatile() {
  const int named = CheckNamed();
  if (named != 0) return named;
  int nameAt = TextLength(path);
  while (nameAt > 0 && path[nameAt - 1] != '\\') --nameAt;
  if (nameAt == 0) return ERROR_INVALID_PARAMETER;
  const std::unique_ptr<char[]> parentPath(new (std::nothrow) char[REGISTRY_PATH_SIZE]);
  if (!parentPath) return ERR_OUT_OF_MEMORY;
  CopyText(parentPath.get(), path, nameAt);
  RegistryHandle parent;
  RegistryHandle key;
  LONG result = RegOpenKeyExA(root, parentPath.get(), 0, KEY_CREATE_SUB_KEY | RegistryView(), parent.Receive());
  if (result == ERROR_SUCCESS) {
    result = RegCreateKeyExA(parent.Get(), path + nameAt, 0, nullptr, REG_OPTION_VOLATILE,
                             REGISTRY_ACCESS_READ | RegistryView(), nullptr, key.Receive(), nullptr);
  }
  return static_cast<int>(result);
}

int RegistryKey::CreateKey(DWORD options) const {
  RegistryHandle key;
  return static_cast<int>(RegCreateKeyExA(root, path, 0, nullptr, options, REGISTRY_ACCESS_READ | RegistryView(),
                                          nullptr, key.Receive(), nullptr));
}

// A durable probe below the key: refused for a volatile key, and made, then
// removed again, below a durable one. Only a key that opens is probed, so
// that no durable key is made in its place; the probe is named relative to
// it, in its view.
bool RegistryKey::IsVolatile(int* error) const {
  RegistryHandle key;
  int result = Open(KEY_CREATE_SUB_KEY, &key);
  if (result == 0) {
    RegistryHandle probe;
    result = static_cast<int>(RegCreateKeyExA(key.Get(), VOLATILE_PROBE_KEY, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                              REGISTRY_ACCESS_READ | RegistryView(), nullptr, probe.Receive(),
                                              nullptr));
    if (result == ERROR_CHILD_MUST_BE_VOLATILE) return true;
    if (result == 0) {
      probe.Reset();
      DeleteKeyInView(key.Get(), VOLATILE_PROBE_KEY);
      result = ERR_NOT_VOLATILE;
    }
  }
  SetOutParameter(error, result);
  return false;
}

int RegistryKey::Write(const char* valueName, DWORD type, const BYTE* data, DWORD byteCount) const {
  RegistryHandle key;
  const int opened = Open(REGISTRY_ACCESS_WRITE, &key);
  if (opened != 0) return opened;
  return static_cast<int>(RegSetValueExA(key.Get(), valueName, 0, type, data, byteCount));
}

int RegistryKey::SetString(const char* valueName, const char* text) {
  return Write(valueName, REG_SZ, reinterpret_cast<const BYTE*>(text), static_cast<DWORD>(TextLength(text)));
}

int RegistryKey::SetDword(const char* valueName, const DWORD* value) {
  return Write(valueName, REG_DWORD, reinterpret_cast<const BYTE*>(value), DWORD_VALUE_SIZE);
}

int RegistryKey::DeleteValue(const char* valueName) {
  RegistryHandle key;
  const int opened = Open(REGISTRY_ACCESS_WRITE, &key);
  if (opened != 0) return opened;
  const LONG deleted = RegDeleteValueA(key.Get(), valueName);
  return deleted == ERROR_FILE_NOT_FOUND ? 0 : static_cast<int>(deleted);
}

int RegistryKey::Flush() {
  RegistryHandle key;
  const int opened = Open(REGISTRY_ACCESS_QUERY, &key);
  if (opened != 0) return opened;
  return static_cast<int>(RegFlushKey(key.Get()));
}

int RegistryKey::DeleteIfEmpty(bool* deleted) {
  *deleted = false;
  DWORD subKeys = 0;
  DWORD values = 0;
  {
    RegistryHandle key;
    const int opened = Open(REGISTRY_ACCESS_QUERY, &key);
    if (opened != 0) return opened == ERROR_FILE_NOT_FOUND ? 0 : opened;
    const LONG counted = RegQueryInfoKeyA(key.Get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr,
                                          &values, nullptr, nullptr, nullptr, nullptr);
    if (counted != ERROR_SUCCESS) return static_cast<int>(counted);
  }
  if (subKeys != 0 || values != 0) return 0;
  const LONG removed = DeleteKeyInView(root, path);
  *deleted = removed == ERROR_SUCCESS;
  return static_cast<int>(removed);
}

char* RegistryKey::Query(const char* valueName, int* error, DWORD* valueType) const {
  RegistryHandle key;
  const int opened = Open(REGISTRY_ACCESS_READ, &key);
  if (opened != 0) {
    SetOutParameter(error, opened);
    return nullptr;
  }
  return ReadValue(key.Get(), valueName, error, valueType);
}

char* RegistryKey::GetString(const char* valueName, int* error) const {
  DWORD type = REG_NONE;
  char* data = Query(valueName, error, &type);
  if (data == nullptr) return nullptr;
  if (type != REG_SZ) {
    delete[] data;
    SetOutParameter(error, ERR_TYPE_MISMATCH);
    return nullptr;
  }
  return data;
}

DWORD RegistryKey::GetDword(const char* valueName, int* error) const {
  DWORD type = REG_NONE;
  char* data = Query(valueName, error, &type);
  if (data == nullptr) return 0;
  if (type != REG_DWORD) {
    delete[] data;
    SetOutParameter(error, ERR_TYPE_MISMATCH);
    return 0;
  }
  // Little-endian, and a shorter stored value reads its missing bytes as zero from the spare room.
  const BYTE* bytes = reinterpret_cast<const BYTE*>(data);
  const DWORD number = static_cast<DWORD>(bytes[0]) | static_cast<DWORD>(bytes[1]) << 8 |
                       static_cast<DWORD>(bytes[2]) << 16 | static_cast<DWORD>(bytes[3]) << 24;
  delete[] data;
  return number;
}
