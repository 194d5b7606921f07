// The simulated registry. Keys are found by their path below a root, compared
// without regard to ASCII case; an open key handle remembers the key it reached
// and the access it was granted, which RegQueryValueExA and RegSetValueExA check.
#include "winsim/registry.h"

#include <map>

#include "winsim/machine.h"

namespace winsim {
namespace {

const LSTATUS kBadPathname = 161;   // ERROR_BAD_PATHNAME
const LSTATUS kKeyDeleted = 1018;   // ERROR_KEY_DELETED
const REGSAM kViewFlags = KEY_WOW64_64KEY | KEY_WOW64_32KEY;
const char kRedirectedFolder[] = "Wow6432Node";

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
};

RegistryState& Registry() {
  static RegistryState state;
  return state;
}

const HKEY kRoots[] = {HKEY_CLASSES_ROOT, HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, HKEY_USERS};

bool IsRoot(HKEY key) {
  for (HKEY root : kRoots) {
    if (key == root) return true;
  }
  return false;
}

std::string Lower(const std::string& text) {
  std::string lower(text);
  for (char& c : lower) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
  return lower;
}

std::string KeyId(HKEY root, const std::string& path) {
  return std::to_string(reinterpret_cast<std::uintptr_t>(root)) + ":" + Lower(path);
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
  if (wants64 || names->size() < 2 || Lower((*names)[0]) != "software") return;
  if (Lower((*names)[1]) == Lower(kRedirectedFolder)) return;
  names->insert(names->begin() + 1, kRedirectedFolder);
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
  if (!SplitPath(subKey != nullptr ? subKey : "", &below)) return kBadPathname;
  SplitPath(parent.path, names);
  names->insert(names->end(), below.begin(), below.end());
  *root = parent.root;
  ApplyView(*root, access, names);
  return ERROR_SUCCESS;
}

bool Grants(const Key& key, REGSAM access) { return ((access & ~kViewFlags) & ~key.rights) == 0; }

HKEY OpenKeyHandle(HKEY root, const std::string& path, REGSAM access) {
  Registry().handles.push_back(OpenKey{root, path, access & ~kViewFlags});
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
  DWORD error = 0;
  if (EnterCall(function, &error)) return LogOpen(function, key, asked, access, error);
  if (result == nullptr) return LogOpen(function, key, asked, access, ERROR_INVALID_PARAMETER);
  *result = nullptr;
  if (Registry().views == RegistryViews::RejectFlags && (access & kViewFlags) != 0) {
    return LogOpen(function, key, asked, access, ERROR_ACCESS_DENIED);
  }
  const LSTATUS reached = Reach(key, subKey, access, root, names);
  if (reached != ERROR_SUCCESS) return LogOpen(function, key, asked, access, reached);
  *path = JoinPath(*names, names->size());
  return ERROR_SUCCESS;
}

// The key of an open handle that grants the access; its path for the logs.
LSTATUS KeyForValues(HKEY handle, REGSAM needed, Key** key, std::string* path) {
  OpenKey open;
  if (!ResolveHandle(handle, &open)) return ERROR_INVALID_HANDLE;
  *path = open.path;
  if ((open.access & needed) != needed) return ERROR_ACCESS_DENIED;
  *key = FindKey(open.root, open.path);
  return *key == nullptr ? kKeyDeleted : ERROR_SUCCESS;
}

bool IsStringType(DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ; }

// A fresh Windows has its software and services keys.
void ResetRegistry() {
  Registry() = RegistryState();
  for (HKEY root : kRoots) Registry().keys[KeyId(root, "")] = Key{"", KEY_RIGHTS_ALL, {}};
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

bool RegistryKeyExists(HKEY root, const std::string& path) {
  std::vector<std::string> names;
  return SplitPath(path, &names) && FindKey(root, JoinPath(names, names.size())) != nullptr;
}

void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const std::string& bytes) {
  std::vector<std::string> names;
  if (!SplitPath(path, &names)) return;
  CreatePath(root, names)->values[Lower(name)] = Value{name, type, bytes};
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
  auto it = key->values.find(Lower(name));
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

const std::vector<RegistryOpenCall>& RegistryOpens() { return Registry().opens; }
const std::vector<RegistrySetCall>& RegistrySetCalls() { return Registry().sets; }
DWORD LastSetValueByteCount() { return Registry().sets.empty() ? 0 : Registry().sets.back().byteCount; }
const std::vector<RegistryQueryCall>& RegistryQueries() { return Registry().queries; }

}  // namespace winsim

LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM access, PHKEY result) {
  const char function[] = "RegOpenKeyExA";
  HKEY root = nullptr;
  std::vector<std::string> names;
  std::string path;
  const LSTATUS begun = winsim::BeginOpen(function, key, subKey, access, result, &root, &names, &path);
  if (begun != ERROR_SUCCESS) return begun;
  winsim::Key* found = winsim::FindKey(root, path);
  if (found == nullptr) return winsim::LogOpen(function, root, path, access, ERROR_FILE_NOT_FOUND);
  if (!winsim::Grants(*found, access)) return winsim::LogOpen(function, root, path, access, ERROR_ACCESS_DENIED);
  *result = winsim::OpenKeyHandle(root, found->path, access);
  return winsim::LogOpen(function, root, path, access, ERROR_SUCCESS);
}

// Opens the key if it exists; otherwise creates the missing keys, which the
// nearest existing key above them must allow (KEY_CREATE_SUB_KEY).
LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM access, LPSECURITY_ATTRIBUTES,
                               PHKEY result, LPDWORD disposition) {
  const char function[] = "RegCreateKeyExA";
  const DWORD kCreatedNewKey = 1;
  const DWORD kOpenedExistingKey = 2;
  HKEY root = nullptr;
  std::vector<std::string> names;
  std::string path;
  const LSTATUS begun = winsim::BeginOpen(function, key, subKey, access, result, &root, &names, &path);
  if (begun != ERROR_SUCCESS) return begun;
  winsim::Key* found = winsim::FindKey(root, path);
  if (found == nullptr) {
    std::size_t depth = names.size();
    while (winsim::FindKey(root, winsim::JoinPath(names, depth)) == nullptr) --depth;
    if (!winsim::Grants(*winsim::FindKey(root, winsim::JoinPath(names, depth)), KEY_CREATE_SUB_KEY)) {
      return winsim::LogOpen(function, root, path, access, ERROR_ACCESS_DENIED);
    }
    found = winsim::CreatePath(root, names);
    if (disposition != nullptr) *disposition = kCreatedNewKey;
  } else {
    if (!winsim::Grants(*found, access)) return winsim::LogOpen(function, root, path, access, ERROR_ACCESS_DENIED);
    if (disposition != nullptr) *disposition = kOpenedExistingKey;
  }
  *result = winsim::OpenKeyHandle(root, found->path, access);
  return winsim::LogOpen(function, root, path, access, ERROR_SUCCESS);
}

LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                LPDWORD dataSize) {
  const std::string name = valueName != nullptr ? valueName : "";
  winsim::RegistryQueryCall call{"", name, data != nullptr, dataSize != nullptr ? *dataSize : 0, ERROR_SUCCESS};
  auto answer = [&call](LSTATUS result) {
    call.result = result;
    winsim::Registry().queries.push_back(call);
    return result;
  };
  DWORD error = 0;
  if (winsim::EnterCall("RegQueryValueExA", &error)) return answer(error);
  winsim::Key* found = nullptr;
  const LSTATUS opened = winsim::KeyForValues(key, KEY_QUERY_VALUE, &found, &call.keyPath);
  if (opened != ERROR_SUCCESS) return answer(opened);
  if (reserved != nullptr || (data != nullptr && dataSize == nullptr)) return answer(ERROR_INVALID_PARAMETER);
  auto it = found->values.find(winsim::Lower(name));
  if (it == found->values.end()) return answer(ERROR_FILE_NOT_FOUND);
  const winsim::Value& value = it->second;
  if (type != nullptr) *type = value.type;
  if (dataSize == nullptr) return answer(ERROR_SUCCESS);
  const DWORD stored = static_cast<DWORD>(value.bytes.size());
  if (data != nullptr && *dataSize < stored) {
    *dataSize = stored;
    return answer(ERROR_MORE_DATA);
  }
  if (data != nullptr) value.bytes.copy(reinterpret_cast<char*>(data), stored);
  *dataSize = stored;
  return answer(ERROR_SUCCESS);
}

// Windows keeps a REG_SZ or REG_EXPAND_SZ written through the ANSI call with a
// terminating NUL even when the count passed leaves it out; the log keeps the count passed.
LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type, const BYTE* data, DWORD dataSize) {
  const std::string name = valueName != nullptr ? valueName : "";
  const std::string passed = data != nullptr ? std::string(reinterpret_cast<const char*>(data), dataSize) : "";
  winsim::RegistrySetCall call{key, "", name, type, dataSize, passed, ERROR_SUCCESS};
  auto answer = [&call](LSTATUS result) {
    call.result = result;
    winsim::Registry().sets.push_back(call);
    return result;
  };
  DWORD error = 0;
  if (winsim::EnterCall("RegSetValueExA", &error)) return answer(error);
  winsim::OpenKey open;
  if (winsim::ResolveHandle(key, &open)) call.root = open.root;
  winsim::Key* found = nullptr;
  const LSTATUS opened = winsim::KeyForValues(key, KEY_SET_VALUE, &found, &call.keyPath);
  if (opened != ERROR_SUCCESS) return answer(opened);
  if (data == nullptr && dataSize > 0) return answer(ERROR_NOACCESS);
  std::string stored = passed;
  if (winsim::IsStringType(type) && !stored.empty() && stored.back() != '\0') stored += '\0';
  found->values[winsim::Lower(name)] = winsim::Value{name, type, stored};
  return answer(ERROR_SUCCESS);
}

// A scripted failure still releases the handle: the program cannot do more
// than call RegCloseKey once, and the handle count stays meaningful.
LSTATUS WINAPI RegCloseKey(HKEY key) {
  DWORD error = 0;
  const bool failing = winsim::EnterCall("RegCloseKey", &error);
  if (winsim::IsRoot(key)) return failing ? error : ERROR_SUCCESS;
  if (!winsim::CloseHandleOf(key, winsim::HandleKind::RegistryKey)) return ERROR_INVALID_HANDLE;
  return failing ? error : ERROR_SUCCESS;
}
