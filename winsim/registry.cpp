// The simulated registry. Keys are found by their path below a root, compared
// without regard to ASCII case; an open key handle remembers the key it reached
// and the access it was granted, which RegQueryValueExA and RegSetValueExA check.
#include "winsim/registry.h"

#include <map>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

const REGSAM VIEW_FLAGS = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
const char REDIRECTED_FOLDER[] = "Wow6432Node";

struct Value {
  std::string name;
  DWORD type;
  std::string bytes;
};

struct Key {
  std::string path;  // as first created
  REGSAM rights;
  std::map<std::string, Value> values;  // by lower-case name
};

struct OpenKey {
  HKEY root;
  std::string path;
  REGSAM access;
};

struct RegistryState {
  std::map<std::string, Key> keys;  // by KeyId
  std::vector<OpenKey> handles;     // index = handle object
  RegistryViews views = RegistryViews::Single;
  std::vector<RegistryOpenCall> opens;
  std::vector<RegistrySetCall> sets;
  std::vector<RegistryQueryCall> queries;
  // The hives as on the disk while a program's changes wait for RegFlushKey;
  // what a test arranges is on the disk at once.
  std::map<std::string, Key> onDisk;
  bool unflushed = false;
};

RegistryState& Registry() {
  static RegistryState state;
  return state;
}

const HKEY ROOTS[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};

bool IsRoot(HKEY key) {
  for (HKEY root : ROOTS) {
    if (key == root) return true;
  }
  return false;
}

std::string KeyId(HKEY root, const std::string& path) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(root)) + ":" + LowerCase(path);
}

// Splits "A\\B\\C"; a trailing backslash is accepted, an empty name elsewhere is not.
bool SplitPath(const std::string& path, std::vector<std::string>* names) {
  names->clear();
  std::string name;
  for (std::size_t i = 0; i <= path.size(); ++i) {
    if (i < path.size() && path[i] != '\\') {
      name += path[i];
      continue;
    }
    if (name.empty()) {
      if (i == path.size() && !names->empty()) return true;  // trailing backslash
      if (i == path.size() && path.empty()) return true;     // the key itself
      return false;
    }
    names->push_back(name);
    name.clear();
  }
  return true;
}

std::string JoinPath(const std::vector<std::string>& names, std::size_t count) {
  std::string path;
  for (std::size_t i = 0; i < count; ++i) path += (i == 0 ? "" : "\\") + names[i];
  return path;
}

Key* FindKey(HKEY root, const std::string& path) {
  auto it = Registry().keys.find(KeyId(root, path));
  return it == Registry().keys.end() ? nullptr : &it->second;
}

// Creates the missing keys of the path, with every right.
// A program changes the registry: what was there so far is what the disk holds.
void ChangeWithoutFlush() {
  RegistryState& registry = Registry();
  if (!registry.unflushed) registry.onDisk = registry.keys;
  registry.unflushed = true;
}

Key* CreatePath(HKEY root, const std::vector<std::string>& names) {
  Key* key = FindKey(root, "");
  for (std::size_t depth = 1; depth <= names.size(); ++depth) {
    const std::string path = JoinPath(names, depth);
    key = FindKey(root, path);
    if (key == nullptr) key = &(Registry().keys[KeyId(root, path)] = Key{path, KEY_RIGHTS_ALL, {}});
  }
  return key;
}

// A 32-bit program on 64-bit Windows that does not ask for the 64-bit view
// sees HKLM\SOFTWARE through its Wow6432Node sub-key.
void ApplyView(HKEY root, REGSAM access, std::vector<std::string>* names) {
  if (Registry().views != RegistryViews::Split || root != HKEY_LOCAL_MACHINE) return;
  const bool wants64 = (access & KEY_WOW64_64KEY) != 0 && (access & KEY_WOW64_32KEY) == 0;
  if (wants64 || names->size() < 2 || LowerCase((*names)[0]) != "software") return;
  if (LowerCase((*names)[1]) == LowerCase(REDIRECTED_FOLDER)) return;
  names->insert(names->begin() + 1, REDIRECTED_FOLDER);
}

bool ResolveHandle(HKEY key, OpenKey* open) {
  if (IsRoot(key)) {
    *open = OpenKey{key, "", KEY_RIGHTS_ALL};
    return true;
  }
  std::size_t object = 0;
  if (!FindHandle(key, HandleKind::RegistryKey, &object)) return false;
  *open = Registry().handles[object];
  return true;
}

// The names of the key reached from an open key by a sub-key path, in the view asked for.
LSTATUS Reach(HKEY key, LPCSTR subKey, REGSAM access, HKEY* root, std::vector<std::string>* names) {
  OpenKey parent;
  if (!ResolveHandle(key, &parent)) return ERROR_INVALID_HANDLE;
  std::vector<std::string> below;
  if (!SplitPath(subKey != nullptr ? subKey : "", &below)) return ERROR_BAD_PATHNAME;
  SplitPath(parent.path, names);
  names->insert(names->end(), below.begin(), below.end());
  *root = parent.root;
  ApplyView(*root, access, names);
  return ERROR_SUCCESS;
}

bool Grants(const Key& key, REGSAM access) { return ((access & ~VIEW_FLAGS) & ~key.rights) == 0; }

HKEY OpenKeyHandle(HKEY root, const std::string& path, REGSAM access) {
  Registry().handles.push_back(OpenKey{root, path, access & ~VIEW_FLAGS});
  return static_cast<HKEY>(OpenHandle(HandleKind::RegistryKey, Registry().handles.size() - 1));
}

LSTATUS LogOpen(const char* function, HKEY root, const std::string& path, REGSAM access, LSTATUS result) {
  Registry().opens.push_back(RegistryOpenCall{function, root, path, access, result});
  return result;
}

// What opening and creating share: the call is counted, the view flags are
// judged, and the path is resolved. On success *path names the key asked for.
LSTATUS BeginOpen(const char* function, HKEY key, LPCSTR subKey, REGSAM access, PHKEY result, HKEY* root,
                  std::vector<std::string>* names, std::string* path) {
  const std::string asked = subKey != nullptr ? subKey : "";
  LSTATUS error = ERROR_SUCCESS;
  if (Faulted(function, &error)) return LogOpen(function, key, asked, access, error);
  if (result == nullptr) return LogOpen(function, key, asked, access, ERROR_INVALID_PARAMETER);
  *result = nullptr;
  if (Registry().views == RegistryViews::RejectFlags && (access & VIEW_FLAGS) != 0) {
    return LogOpen(function, key, asked, access, ERROR_ACCESS_DENIED);
  }
  const LSTATUS reached = Reach(key, subKey, access, root, names);
  if (reached != ERROR_SUCCESS) return LogOpen(function, key, asked, access, reached);
  *path = JoinPath(*names, names->size());
  return ERROR_SUCCESS;
}

// Opens the key if it exists; otherwise, when asked to, creates the missing
// keys, which the nearest existing key above them must allow (KEY_CREATE_SUB_KEY).
LSTATUS OpenOrCreateKey(const char* function, bool create, HKEY key, LPCSTR subKey, REGSAM access, PHKEY result,
                        LPDWORD disposition) {
  HKEY root = nullptr;
  std::vector<std::string> names;
  std::string path;
  const LSTATUS begun = BeginOpen(function, key, subKey, access, result, &root, &names, &path);
  if (begun != ERROR_SUCCESS) return begun;
  Key* found = FindKey(root, path);
  if (found == nullptr && !create) return LogOpen(function, root, path, access, ERROR_FILE_NOT_FOUND);
  if (found == nullptr) {
    std::size_t depth = names.size();
    while (FindKey(root, JoinPath(names, depth)) == nullptr) --depth;
    if (!Grants(*FindKey(root, JoinPath(names, depth)), KEY_CREATE_SUB_KEY)) {
      return LogOpen(function, root, path, access, ERROR_ACCESS_DENIED);
    }
    ChangeWithoutFlush();
    found = CreatePath(root, names);
    if (disposition != nullptr) *disposition = REG_CREATED_NEW_KEY;
  } else {
    if (!Grants(*found, access)) return LogOpen(function, root, path, access, ERROR_ACCESS_DENIED);
    if (disposition != nullptr) *disposition = REG_OPENED_EXISTING_KEY;
  }
  *result = OpenKeyHandle(root, found->path, access);
  return LogOpen(function, root, path, access, ERROR_SUCCESS);
}

// What reading and writing a value share: the call is counted, and the
// handle must be open on a key that still exists, with the access needed.
// *open tells the logs where the handle led, once it is known.
LSTATUS BeginValueCall(const char* function, HKEY handle, REGSAM needed, OpenKey* open, Key** key) {
  LSTATUS error = ERROR_SUCCESS;
  if (Faulted(function, &error)) return error;
  if (!ResolveHandle(handle, open)) return ERROR_INVALID_HANDLE;
  if ((open->access & needed) != needed) return ERROR_ACCESS_DENIED;
  *key = FindKey(open->root, open->path);
  return *key == nullptr ? ERROR_KEY_DELETED : ERROR_SUCCESS;
}

LSTATUS ReadValue(const Key& key, const std::string& name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                  LPDWORD dataSize) {
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return ERROR_INVALID_PARAMETER;
  auto it = key.values.find(LowerCase(name));
  if (it == key.values.end()) return ERROR_FILE_NOT_FOUND;
  const Value& value = it->second;
  if (type != nullptr) *type = value.type;
  if (dataSize == nullptr) return ERROR_SUCCESS;
  const DWORD stored = static_cast<DWORD>(value.bytes.size());
  if (data != nullptr && *dataSize < stored) {
    *dataSize = stored;
    return ERROR_MORE_DATA;
  }
  if (data != nullptr) value.bytes.copy(reinterpret_cast<char*>(data), stored);
  *dataSize = stored;
  return ERROR_SUCCESS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// Windows keeps a REG_SZ or REG_EXPAND_SZ written through the ANSI call with a
// terminating NUL even when the count passed leaves it out.
LSTATUS WriteValue(Key* key, const std::string& name, DWORD type, const BYTE* data, DWORD dataSize,
                   const std::string& passed) {
  if (data == nullptr && dataSize > 0) return ERROR_NOACCESS;
  std::string stored = passed;
  if (IsStringType(type) && !stored.empty() && stored.back() != '\0') stored += '\0';
  key->values[LowerCase(name)] = Value{name, type, stored};
  return ERROR_SUCCESS;
}

// A fresh Windows has its software and services keys.
void ResetRegistry() {
  Registry() = RegistryState();
  for (HKEY root : ROOTS) Registry().keys[KeyId(root, "")] = Key{"", KEY_RIGHTS_ALL, {}};
  for (const char* path : {"SOFTWARE", "SYSTEM\\CurrentControlSet\\Services"}) {
    std::vector<std::string> names;
    SplitPath(path, &names);
    CreatePath(HKEY_LOCAL_MACHINE, names);
  }
}
ResetHook resetRegistry(&ResetRegistry);

}  // namespace

void SetRegistryViews(RegistryViews views) { Registry().views = views; }

void SetRegistryKey(HKEY root, const std::string& path, REGSAM rights) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return;
  CreatePath(root, names)->rights = rights;
}

void RemoveRegistryKey(HKEY root, const std::string& path) {
  const std::string id = KeyId(root, path);
  std::map<std::string, Key>& keys = Registry().keys;
  for (auto it = keys.begin(); it != keys.end();) {
    const bool below = it->first == id || it->first.compare(0, id.size() + 1, id + "\\") == 0;
    it = below ? keys.erase(it) : ++it;
  }
}

bool RegistryKeyExists(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  return SplitPath(path, &names) && FindKey(root, JoinPath(names, names.size())) != nullptr;
}

void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const std::string& bytes) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return;
  CreatePath(root, names)->values[LowerCase(name)] = Value{name, type, bytes};
}

void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& text) {
  SetRegistryValue(root, path, name, REG_SZ, text + std::string(1, '\0'));
}

void SetRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value) {
  std::string bytes;
  for (int i = 0; i < 4; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
  SetRegistryValue(root, path, name, REG_DWORD, bytes);
}

bool GetRegistryValue(HKEY root, const std::string& path, const std::string& name, RegistryValue* value) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return false;
  Key* key = FindKey(root, JoinPath(names, names.size()));
  if (key == nullptr) return false;
  auto it = key->values.find(LowerCase(name));
  if (it == key->values.end()) return false;
  *value = RegistryValue{it->second.type, it->second.bytes};
  return true;
}

std::size_t RegistryValueCount(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return 0;
  Key* key = FindKey(root, JoinPath(names, names.size()));
  return key == nullptr ? 0 : key->values.size();
}

void LoseUnflushedRegistry() {
  RegistryState& registry = Registry();
  if (registry.unflushed) registry.keys = registry.onDisk;
  registry.unflushed = false;
}

const std::vector<RegistryOpenCall>& RegistryOpens() { return Registry().opens; }
const std::vector<RegistrySetCall>& RegistrySetCalls() { return Registry().sets; }
DWORD LastSetValueByteCount() { return Registry().sets.empty() ? 0 : Registry().sets.back().byteCount; }
const std::vector<RegistryQueryCall>& RegistryQueries() { return Registry().queries; }

}  // namespace winsim

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return winsim::OpenOrCreateKey("RegOpenKeyExA", false, key, subKey, access, result, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition) {
  return winsim::OpenOrCreateKey("RegCreateKeyExA", true, key, subKey, access, result, disposition);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  const std::string name = valueName != nullptr ? valueName : "";
  winsim::RegistryQueryCall call{"", name, data != nullptr, dataSize != nullptr ? *dataSize : 0, ERROR_SUCCESS};
  winsim::OpenKey open{key, "", 0};
  winsim::Key* found = nullptr;
  call.result = winsim::BeginValueCall("RegQueryValueExA", key, KEY_QUERY_VALUE, &open, &found);
  call.keyPath = open.path;
  if (call.result == ERROR_SUCCESS) call.result = winsim::ReadValue(*found, name, reserved, type, data, dataSize);
  winsim::Registry().queries.push_back(call);
  return call.result;
}

// The log keeps the count passed, whatever Windows stores.
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  const std::string name = valueName != nullptr ? valueName : "";
  const std::string passed = data != nullptr ? std::string(reinterpret_cast<const char*>(data), dataSize) : "";
  winsim::RegistrySetCall call{key, "", name, type, dataSize, passed, ERROR_SUCCESS};
  winsim::OpenKey open{key, "", 0};
  winsim::Key* found = nullptr;
  call.result = winsim::BeginValueCall("RegSetValueExA", key, KEY_SET_VALUE, &open, &found);
  call.root = open.root;
  call.keyPath = open.path;
  if (call.result == ERROR_SUCCESS) winsim::ChangeWithoutFlush();
  if (call.result == ERROR_SUCCESS) call.result = winsim::WriteValue(found, name, type, data, dataSize, passed);
  winsim::Registry().sets.push_back(call);
  return call.result;
}

// A scripted failure still releases the handle: the program cannot do more
// than call RegCloseKey once, and the handle count stays meaningful.
LSTATUS WINAPI RegCloseKey(HKEY key) {
  LSTATUS error = ERROR_SUCCESS;
  const bool failing = winsim::Faulted("RegCloseKey", &error);
  if (winsim::IsRoot(key)) return failing ? error : ERROR_SUCCESS;
  if (!winsim::CloseHandleOf(key, winsim::HandleKind::RegistryKey)) return ERROR_INVALID_HANDLE;
  return failing ? error : ERROR_SUCCESS;
}

LSTATUS WINAPI RegDeleteValueA(HKEY key, LPCSTR valueName) {
  winsim::OpenKey open{key, "", 0};
  winsim::Key* found = nullptr;
  const LSTATUS result = winsim::BeginValueCall("RegDeleteValueA", key, KEY_SET_VALUE, &open, &found);
  if (result != ERROR_SUCCESS) return result;
  winsim::ChangeWithoutFlush();
  return found->values.erase(winsim::LowerCase(valueName != nullptr ? valueName : "")) != 0 ? ERROR_SUCCESS
                                                                                           : ERROR_FILE_NOT_FOUND;
}

// Every hive reaches the disk, not only the key's: more than Windows
// promises, and nothing the updater counts on.
LSTATUS WINAPI RegFlushKey(HKEY key) {
  winsim::OpenKey open{key, "", 0};
  winsim::Key* found = nullptr;
  const LSTATUS result = winsim::BeginValueCall("RegFlushKey", key, 0, &open, &found);
  if (result == ERROR_SUCCESS) winsim::Registry().unflushed = false;
  return result;
}
