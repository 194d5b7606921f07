// The simulated registry. Keys are found by their path below a root, compared
// without regard to case (value names: ASCII case only); an open key handle
// remembers the key it reached and the access it was granted, which
// RegQueryValueExA and RegSetValueExA check.
//
// Microsoft, "RegFlushKey": the function returns once all the data of the hive
// that holds the key is on the disk, and the key must have been opened with
// KEY_QUERY_VALUE. Each hive (HKLM\SOFTWARE, HKLM\SYSTEM, ...) therefore has
// its own state on the disk, and a power cut gives each hive back what its
// last flush wrote. Windows' lazy flush may have written more; the updater
// never counts on a change being lost, so the harsher reading for what it
// counts on is that nothing unflushed survives. Pinned by
// SimulatedRegistryTest.EachHiveKeepsWhatItsOwnFlushWrote and by the sweeps.
//
// Microsoft, "RegCreateKeyExA": a key created with REG_OPTION_VOLATILE is kept
// in memory only and goes when Windows starts again, whatever a flush did; a
// key that exists is opened as it is, whatever the option says; and a key
// below a volatile one must be volatile too (ERROR_CHILD_MUST_BE_VOLATILE,
// "System Error Codes"). Pinned by
// SimulatedRegistryTest.VolatileKeysLastUntilWindowsStartsAgain.
#include "winsim/registry.h"

#include <iterator>
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
  bool isVolatile = false;
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
  // Each hive with changes that wait for RegFlushKey, as its disk holds it;
  // what a test arranges is on the disk at once.
  std::map<std::string, std::map<std::string, Key>> onDisk;  // by hive, then KeyId
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
  return std::to_string(reinterpret_cast<std::uintptr_t>(root)) + ":" + FoldCase(path);
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

// The hive of a key: a root's own keys, or for HKLM and HKU the first key
// below the root with everything under it.
std::string HiveOf(const std::string& keyId) {
  const std::size_t colon = keyId.find(':');
  const std::string root = keyId.substr(0, colon);
  const bool split = root == std::to_string(reinterpret_cast<std::uintptr_t>(HKEY_LOCAL_MACHINE)) ||
                     root == std::to_string(reinterpret_cast<std::uintptr_t>(HKEY_USERS));
  return split ? keyId.substr(0, keyId.find('\\', colon)) : root + ":";
}

bool InHive(const std::string& keyId, const std::string& hive) { return HiveOf(keyId) == hive; }

// A program changes a key of a hive: what the hive held so far is what its disk holds.
void ChangeWithoutFlush(HKEY root, const std::string& path) {
  RegistryState& registry = Registry();
  const std::string hive = HiveOf(KeyId(root, path));
  if (registry.onDisk.count(hive) != 0) return;
  std::map<std::string, Key>& disk = registry.onDisk[hive];
  for (const auto& entry : registry.keys) {
    if (InHive(entry.first, hive)) disk.insert(entry);
  }
}

// Creates the missing keys of the path, with every right.
Key* CreatePath(HKEY root, const std::vector<std::string>& names, bool isVolatile = false) {
  Key* key = FindKey(root, "");
  for (std::size_t depth = 1; depth <= names.size(); ++depth) {
    const std::string path = JoinPath(names, depth);
    key = FindKey(root, path);
    if (key == nullptr) key = &(Registry().keys[KeyId(root, path)] = Key{path, KEY_RIGHTS_ALL, {}, isVolatile});
  }
  return key;
}

// The key goes with every key below it.
void EraseKeyAndBelow(const std::string& id) {
  std::map<std::string, Key>& keys = Registry().keys;
  for (auto it = keys.begin(); it != keys.end();) {
    const bool below = it->first == id || it->first.compare(0, id.size() + 1, id + "\\") == 0;
    it = below ? keys.erase(it) : std::next(it);
  }
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
  if (!SplitPath(Utf8OfAnsi(subKey), &below)) return ERROR_BAD_PATHNAME;
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
  const std::string asked = Utf8OfAnsi(subKey);
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
LSTATUS OpenOrCreateKey(const char* function, bool create, HKEY key, LPCSTR subKey, DWORD options, REGSAM access,
                        PHKEY result, LPDWORD disposition) {
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
    const Key& parent = *FindKey(root, JoinPath(names, depth));
    if (!Grants(parent, KEY_CREATE_SUB_KEY)) return LogOpen(function, root, path, access, ERROR_ACCESS_DENIED);
    const bool isVolatile = (options & REG_OPTION_VOLATILE) != 0;
    if (parent.isVolatile && !isVolatile) return LogOpen(function, root, path, access, ERROR_CHILD_MUST_BE_VOLATILE);
    ChangeWithoutFlush(root, path);
    found = CreatePath(root, names, isVolatile);
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

// A shutdown writes every hive; what was volatile is gone.
void RestartRegistry() {
  RegistryState& registry = Registry();
  registry.onDisk.clear();
  std::vector<std::string> volatileKeys;
  for (const auto& entry : registry.keys) {
    if (entry.second.isVolatile) volatileKeys.push_back(entry.first);
  }
  for (const std::string& id : volatileKeys) EraseKeyAndBelow(id);
}
RestartHook restartRegistry(&RestartRegistry);

}  // namespace

void SetRegistryViews(RegistryViews views) { Registry().views = views; }

void SetRegistryKey(HKEY root, const std::string& path, REGSAM rights) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return;
  CreatePath(root, names)->rights = rights;
}

void SetVolatileRegistryKey(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names) || names.empty()) return;
  CreatePath(root, names)->isVolatile = true;
}

void RemoveRegistryKey(HKEY root, const std::string& path) { EraseKeyAndBelow(KeyId(root, path)); }

bool RegistryKeyExists(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  return SplitPath(path, &names) && FindKey(root, JoinPath(names, names.size())) != nullptr;
}

bool RegistryKeyIsVolatile(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  const Key* key = SplitPath(path, &names) ? FindKey(root, JoinPath(names, names.size())) : nullptr;
  return key != nullptr && key->isVolatile;
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
  for (const auto& hive : registry.onDisk) {
    for (auto it = registry.keys.begin(); it != registry.keys.end();) {
      it = InHive(it->first, hive.first) ? registry.keys.erase(it) : std::next(it);
    }
    registry.keys.insert(hive.second.begin(), hive.second.end());
  }
  registry.onDisk.clear();
}

const std::vector<RegistryOpenCall>& RegistryOpens() { return Registry().opens; }
const std::vector<RegistrySetCall>& RegistrySetCalls() { return Registry().sets; }
DWORD LastSetValueByteCount() { return Registry().sets.empty() ? 0 : Registry().sets.back().byteCount; }
const std::vector<RegistryQueryCall>& RegistryQueries() { return Registry().queries; }

}  // namespace winsim

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  return winsim::OpenOrCreateKey("RegOpenKeyExA", false, key, subKey, 0, access, result, nullptr);
}

LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD options, REGSAM access,
                               LPSECURITY_ATTRIBUTES, PHKEY result, LPDWORD disposition) {
  return winsim::OpenOrCreateKey("RegCreateKeyExA", true, key, subKey, options, access, result, disposition);
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
  if (call.result == ERROR_SUCCESS) winsim::ChangeWithoutFlush(open.root, open.path);
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
  winsim::ChangeWithoutFlush(open.root, open.path);
  return found->values.erase(winsim::LowerCase(valueName != nullptr ? valueName : "")) != 0 ? ERROR_SUCCESS
                                                                                           : ERROR_FILE_NOT_FOUND;
}

// The key's hive reaches the disk, and no other.
LSTATUS WINAPI RegFlushKey(HKEY key) {
  winsim::OpenKey open{key, "", 0};
  winsim::Key* found = nullptr;
  const LSTATUS result = winsim::BeginValueCall("RegFlushKey", key, KEY_QUERY_VALUE, &open, &found);
  if (result == ERROR_SUCCESS) winsim::Registry().onDisk.erase(winsim::HiveOf(winsim::KeyId(open.root, open.path)));
  return result;
}

namespace winsim {
namespace {

// RegDeleteKeyA and RegDeleteKeyExA: Microsoft, "RegDeleteKeyA": the key goes
// with its values, it must have no sub-keys, and it is opened with DELETE;
// on WOW64 only RegDeleteKeyEx reaches the other view ("RegDeleteKeyExA"),
// so the plain call reads the path as a 32-bit program's.
LSTATUS DeleteKey(const char* function, HKEY key, LPCSTR subKey, REGSAM view) {
  LSTATUS error = ERROR_SUCCESS;
  if (Faulted(function, &error)) return error;
  if (subKey == nullptr || subKey[0] == '\0') return ERROR_INVALID_PARAMETER;
  if (Registry().views == RegistryViews::RejectFlags && (view & VIEW_FLAGS) != 0) return ERROR_ACCESS_DENIED;
  HKEY root = nullptr;
  std::vector<std::string> names;
  const LSTATUS reached = Reach(key, subKey, view, &root, &names);
  if (reached != ERROR_SUCCESS) return reached;
  const std::string path = JoinPath(names, names.size());
  Key* found = FindKey(root, path);
  if (found == nullptr) return ERROR_FILE_NOT_FOUND;
  if (!Grants(*found, DELETE)) return ERROR_ACCESS_DENIED;
  const std::string prefix = KeyId(root, path) + "\\";
  for (const auto& entry : Registry().keys) {
    if (entry.first.compare(0, prefix.size(), prefix) == 0) return ERROR_ACCESS_DENIED;
  }
  ChangeWithoutFlush(root, path);
  Registry().keys.erase(KeyId(root, path));
  return ERROR_SUCCESS;
}

// Reached only through GetProcAddress: 64-bit Windows alone has it.
LSTATUS WINAPI RegDeleteKeyExSim(HKEY key, LPCSTR subKey, REGSAM view, DWORD) {
  return DeleteKey("RegDeleteKeyExA", key, subKey, view);
}

}  // namespace

void OfferRegDeleteKeyEx() { RegisterExport("advapi32.dll", "RegDeleteKeyExA", &RegDeleteKeyExSim); }

}  // namespace winsim

LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) { return winsim::DeleteKey("RegDeleteKeyA", key, subKey, 0); }

// Only the counts of sub-keys and values are told; every other out-parameter must be null.
LSTATUS WINAPI RegQueryInfoKeyA(HKEY key, LPSTR keyClass, LPDWORD classSize, LPDWORD reserved, LPDWORD subKeys,
                                LPDWORD longestSubKey, LPDWORD longestClass, LPDWORD values,
                                LPDWORD longestValueName, LPDWORD longestValue, LPDWORD securityDescriptorSize,
                                PFILETIME lastWriteTime) {
  winsim::OpenKey open{key, "", 0};
  winsim::Key* found = nullptr;
  const LSTATUS result = winsim::BeginValueCall("RegQueryInfoKeyA", key, KEY_QUERY_VALUE, &open, &found);
  if (result != ERROR_SUCCESS) return result;
  if (keyClass != nullptr || classSize != nullptr || reserved != nullptr || longestSubKey != nullptr ||
      longestClass != nullptr || longestValueName != nullptr || longestValue != nullptr ||
      securityDescriptorSize != nullptr || lastWriteTime != nullptr) {
    return ERROR_INVALID_PARAMETER;
  }
  const std::string prefix = winsim::KeyId(open.root, open.path) + (open.path.empty() ? "" : "\\");
  DWORD children = 0;
  for (const auto& entry : winsim::Registry().keys) {
    const std::string& id = entry.first;
    if (id.size() > prefix.size() && id.compare(0, prefix.size(), prefix) == 0 &&
        id.find('\\', prefix.size()) == std::string::npos) {
      ++children;
    }
  }
  if (subKeys != nullptr) *subKeys = children;
  if (values != nullptr) *values = static_cast<DWORD>(found->values.size());
  return ERROR_SUCCESS;
}
