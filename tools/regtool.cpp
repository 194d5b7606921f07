// Raw registry reader and writer for the end-to-end tests: values with an exact
// type and exact bytes, read back with their type and byte count.
//
//   regtool.exe <outfile> @<script>          commands from a UTF-8 file, one per line
//   regtool.exe <outfile> <command> <args>   one command
//
// Fields of a script line are separated by tabs. Commands and their result line:
//   set <key> <value> <type> <data>   OK | ERROR <code>
//   get <key> <value>                 <type> <count> <hex> | NOVALUE | NOKEY | ERROR <code>  (as RegQueryValueExA reads it)
//   getw <key> <value>                the same, as RegQueryValueExW reads it (the stored form)
//   exists <key>                      KEY | NOKEY
//   mkkey <key>                       OK | ERROR <code>
//   delkey <key>                      OK (also when absent) | ERROR <code>; deletes the whole tree
//   delvalue <key> <value>            OK (also when absent) | ERROR <code>
// <key> is HKLM\..., HKCU\..., HKU\... or HKCR\...; HKLM32\... uses the 32-bit view,
// every other key the 64-bit view. <value> "@" is the default value.
// <type> is REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ, REG_DWORD, REG_BINARY, REG_NONE or a number.
// <data> is hex:<bytes>, text:<text> (ANSI code page, no NUL), textz:<text> (with one NUL),
// or dword:<number> (four bytes, little-endian).
// The exit code is 0 when every command could be carried out as asked
// (NOKEY and NOVALUE are answers, not failures).
#include <windows.h>

#include <string>
#include <vector>

#include "tool_support.h"

namespace {

struct TypeName {
  DWORD type;
  const char* name;
};

const TypeName TYPE_NAMES[] = {
    {REG_NONE, "REG_NONE"},   {REG_SZ, "REG_SZ"},         {REG_EXPAND_SZ, "REG_EXPAND_SZ"},
    {REG_BINARY, "REG_BINARY"}, {REG_DWORD, "REG_DWORD"}, {REG_MULTI_SZ, "REG_MULTI_SZ"},
};

std::string TypeToText(DWORD type) {
  for (const TypeName& entry : TYPE_NAMES)
    if (entry.type == type) return entry.name;
  return std::to_string(type);
}

bool TextToType(const std::string& text, DWORD* type) {
  for (const TypeName& entry : TYPE_NAMES)
    if (text == entry.name) {
      *type = entry.type;
      return true;
    }
  return ParseNumber(FromUtf8(text), type);
}

struct KeyName {
  HKEY root;
  REGSAM view;
  std::wstring path;
};

bool ParseKey(const std::string& text, KeyName* key) {
  struct Root {
    const char* name;
    HKEY root;
    REGSAM view;
  };
  static const Root ROOTS[] = {
      {"HKLM", HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY}, {"HKLM32", HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY},
      {"HKCU", HKEY_CURRENT_USER, KEY_WOW64_64KEY},  {"HKU", HKEY_USERS, KEY_WOW64_64KEY},
      {"HKCR", HKEY_CLASSES_ROOT, KEY_WOW64_64KEY},
  };
  size_t slash = text.find('\\');
  std::string root = text.substr(0, slash);
  for (const Root& entry : ROOTS) {
    if (root != entry.name) continue;
    key->root = entry.root;
    key->view = entry.view;
    key->path = slash == std::string::npos ? std::wstring() : FromUtf8(text.substr(slash + 1));
    return true;
  }
  return false;
}

std::wstring ValueName(const std::string& text) { return text == "@" ? std::wstring() : FromUtf8(text); }

std::string AnsiBytes(const std::string& utf8) {
  std::wstring wide = FromUtf8(utf8);
  if (wide.empty()) return std::string();
  int size = WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), NULL, 0, NULL, NULL);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), static_cast<int>(wide.size()), &result[0], size, NULL, NULL);
  return result;
}

bool ParseData(const std::string& text, std::vector<BYTE>* bytes) {
  size_t colon = text.find(':');
  if (colon == std::string::npos) return false;
  std::string kind = text.substr(0, colon), rest = text.substr(colon + 1);
  if (kind == "hex") return ParseHex(rest, bytes);
  if (kind == "text" || kind == "textz") {
    std::string ansi = AnsiBytes(rest);
    bytes->assign(ansi.begin(), ansi.end());
    if (kind == "textz") bytes->push_back(0);
    return true;
  }
  if (kind == "dword") {
    DWORD value = 0;
    if (!ParseNumber(FromUtf8(rest), &value)) return false;
    bytes->assign(reinterpret_cast<BYTE*>(&value), reinterpret_cast<BYTE*>(&value) + sizeof value);
    return true;
  }
  return false;
}

std::string Error(LONG code) { return "ERROR " + std::to_string(code); }

// Each command answers with one line; false when it could not be done as asked.
bool SetValue(const KeyName& key, const std::string& name, const std::string& typeText, const std::string& data,
              std::string* answer) {
  DWORD type = 0;
  std::vector<BYTE> bytes;
  if (!TextToType(typeText, &type) || !ParseData(data, &bytes)) {
    *answer = "ERROR usage";
    return false;
  }
  HKEY handle = NULL;
  LONG result = RegCreateKeyExW(key.root, key.path.c_str(), 0, NULL, 0, KEY_SET_VALUE | key.view, NULL, &handle, NULL);
  if (result == ERROR_SUCCESS) {
    // The ANSI call, as the updater itself writes: the byte count is exactly the data's.
    std::string ansiName = AnsiBytes(name == "@" ? std::string() : name);
    result = RegSetValueExA(handle, ansiName.c_str(), 0, type, bytes.empty() ? NULL : bytes.data(),
                            static_cast<DWORD>(bytes.size()));
    RegCloseKey(handle);
  }
  *answer = result == ERROR_SUCCESS ? "OK" : Error(result);
  return result == ERROR_SUCCESS;
}

bool GetValue(const KeyName& key, const std::string& name, bool wide, std::string* answer) {
  HKEY handle = NULL;
  LONG result = RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_QUERY_VALUE | key.view, &handle);
  if (result == ERROR_FILE_NOT_FOUND) {
    *answer = "NOKEY";
    return true;
  }
  if (result != ERROR_SUCCESS) {
    *answer = Error(result);
    return false;
  }
  DWORD type = 0, size = 0;
  std::wstring wideName = ValueName(name);
  std::string ansiName = AnsiBytes(name == "@" ? std::string() : name);
  std::vector<BYTE> data;
  for (int attempt = 0; attempt < 4; ++attempt) {
    data.resize(size + 16);
    size = static_cast<DWORD>(data.size());
    result = wide ? RegQueryValueExW(handle, wideName.c_str(), NULL, &type, data.data(), &size)
                  : RegQueryValueExA(handle, ansiName.c_str(), NULL, &type, data.data(), &size);
    if (result != ERROR_MORE_DATA) break;
  }
  RegCloseKey(handle);
  if (result == ERROR_FILE_NOT_FOUND) {
    *answer = "NOVALUE";
    return true;
  }
  if (result != ERROR_SUCCESS) {
    *answer = Error(result);
    return false;
  }
  *answer = TypeToText(type) + " " + std::to_string(size) + " " + Hex(data.data(), size);
  return true;
}

bool KeyExists(const KeyName& key, std::string* answer) {
  HKEY handle = NULL;
  LONG result = RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_QUERY_VALUE | key.view, &handle);
  if (result == ERROR_SUCCESS) RegCloseKey(handle);
  *answer = result == ERROR_SUCCESS ? "KEY" : "NOKEY";
  return true;
}

bool MakeKey(const KeyName& key, std::string* answer) {
  HKEY handle = NULL;
  LONG result = RegCreateKeyExW(key.root, key.path.c_str(), 0, NULL, 0, KEY_READ | key.view, NULL, &handle, NULL);
  if (result == ERROR_SUCCESS) RegCloseKey(handle);
  *answer = result == ERROR_SUCCESS ? "OK" : Error(result);
  return result == ERROR_SUCCESS;
}

bool DeleteKeyTree(const KeyName& key, std::string* answer) {
  size_t slash = key.path.rfind(L'\\');
  std::wstring parentPath = slash == std::wstring::npos ? std::wstring() : key.path.substr(0, slash);
  std::wstring leaf = slash == std::wstring::npos ? key.path : key.path.substr(slash + 1);
  HKEY handle = NULL;
  LONG result = RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_ALL_ACCESS | key.view, &handle);
  if (result == ERROR_FILE_NOT_FOUND) {
    *answer = "OK";
    return true;
  }
  if (result == ERROR_SUCCESS) {
    result = RegDeleteTreeW(handle, NULL);
    RegCloseKey(handle);
  }
  HKEY parent = NULL;
  if (result == ERROR_SUCCESS) result = RegOpenKeyExW(key.root, parentPath.c_str(), 0, KEY_ALL_ACCESS | key.view, &parent);
  if (result == ERROR_SUCCESS) {
    result = RegDeleteKeyExW(parent, leaf.c_str(), key.view, 0);
    RegCloseKey(parent);
  }
  *answer = result == ERROR_SUCCESS ? "OK" : Error(result);
  return result == ERROR_SUCCESS;
}

bool DeleteValue(const KeyName& key, const std::string& name, std::string* answer) {
  HKEY handle = NULL;
  LONG result = RegOpenKeyExW(key.root, key.path.c_str(), 0, KEY_SET_VALUE | key.view, &handle);
  if (result == ERROR_SUCCESS) {
    result = RegDeleteValueW(handle, ValueName(name).c_str());
    RegCloseKey(handle);
  }
  if (result == ERROR_FILE_NOT_FOUND) result = ERROR_SUCCESS;
  *answer = result == ERROR_SUCCESS ? "OK" : Error(result);
  return result == ERROR_SUCCESS;
}

bool RunCommand(const std::vector<std::string>& fields, std::string* answer) {
  KeyName key;
  if (fields.size() < 2 || !ParseKey(fields[1], &key)) {
    *answer = "ERROR usage";
    return false;
  }
  const std::string& command = fields[0];
  if (command == "set" && fields.size() == 5) return SetValue(key, fields[2], fields[3], fields[4], answer);
  if (command == "get" && fields.size() == 3) return GetValue(key, fields[2], false, answer);
  if (command == "getw" && fields.size() == 3) return GetValue(key, fields[2], true, answer);
  if (command == "exists" && fields.size() == 2) return KeyExists(key, answer);
  if (command == "mkkey" && fields.size() == 2) return MakeKey(key, answer);
  if (command == "delkey" && fields.size() == 2) return DeleteKeyTree(key, answer);
  if (command == "delvalue" && fields.size() == 3) return DeleteValue(key, fields[2], answer);
  *answer = "ERROR usage";
  return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  std::vector<std::vector<std::string>> commands;
  std::wstring first = argv[2];
  if (first[0] == L'@') {
    std::string script;
    if (!ReadWholeFile(first.substr(1), &script)) return 2;
    for (std::string line : Split(script, '\n')) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!line.empty()) commands.push_back(Split(line, '\t'));
    }
  } else {
    std::vector<std::string> fields;
    for (int i = 2; i < argc; ++i) fields.push_back(Utf8(argv[i]));
    commands.push_back(fields);
  }
  std::string output;
  bool allDone = true;
  for (const std::vector<std::string>& fields : commands) {
    std::string answer;
    allDone = RunCommand(fields, &answer) && allDone;
    output += answer + "\n";
  }
  if (!WriteWholeFile(argv[1], output)) return 2;
  return allDone ? 0 : 1;
}
