// The registry: keys below the predefined roots (names compared without
// regard to case), values with their type and exact bytes, the rights each key
// grants, the registry views, and a record of what the program asked for.
#pragma once

#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// Rights a key grants. An open or create that asks for any right beyond them
// fails with ERROR_ACCESS_DENIED; the view flags are not rights.
const REGSAM KEY_RIGHTS_ALL = KEY_ALL_ACCESS;
const REGSAM KEY_RIGHTS_READ_ONLY = KEY_READ;
const REGSAM KEY_RIGHTS_NONE = 0;

// How the machine treats the view flags KEY_WOW64_64KEY and KEY_WOW64_32KEY.
enum class RegistryViews {
  Single,      // 32-bit Windows XP and later: one view, the flags are accepted and change nothing
  Split,       // 64-bit Windows: without KEY_WOW64_64KEY, HKLM\SOFTWARE\... means HKLM\SOFTWARE\Wow6432Node\...
  RejectFlags  // Windows 2000: an open or create that passes a view flag fails with ERROR_ACCESS_DENIED
};
void SetRegistryViews(RegistryViews views);
// advapi32 exports RegDeleteKeyExA, as on 64-bit Windows only (UseWow64Windows7).
void OfferRegDeleteKeyEx();

// --- Arranging and reading the registry (paths are below root, as "A\\B") --------
// Key paths are UTF-8, here and in every record a test reads; the narrow
// registry functions read theirs in the ANSI code page.

// Creates the key and any missing key above it (those with every right) and
// gives the key these rights.
void SetRegistryKey(HKEY root, const std::string& path, REGSAM rights = KEY_RIGHTS_ALL);
// Creates the key volatile, as RegCreateKeyExA with REG_OPTION_VOLATILE does,
// and any missing key above it durable: it goes when Windows starts again.
void SetVolatileRegistryKey(HKEY root, const std::string& path);
// The key goes with every key below it.
void RemoveRegistryKey(HKEY root, const std::string& path);
bool RegistryKeyExists(HKEY root, const std::string& path);
bool RegistryKeyIsVolatile(HKEY root, const std::string& path);

struct RegistryValue {
  DWORD type;
  std::string bytes;  // exactly as stored
};

// Stores exactly these bytes, no terminator added; creates the key if needed.
void SetRegistryValue(HKEY root, const std::string& path, const std::string& name, DWORD type,
                      const std::string& bytes);
// A REG_SZ as Windows stores one: the text and its terminating NUL.
void SetRegistryString(HKEY root, const std::string& path, const std::string& name, const std::string& text);
void SetRegistryDword(HKEY root, const std::string& path, const std::string& name, DWORD value);
// False when the key or the value does not exist.
bool GetRegistryValue(HKEY root, const std::string& path, const std::string& name, RegistryValue* value);
std::size_t RegistryValueCount(HKEY root, const std::string& path);

// --- What the program did -----------------------------------------------------------

// Every RegOpenKeyExA and RegCreateKeyExA: the key as reached (below its root,
// after any view redirection), the access asked for and the answer.
struct RegistryOpenCall {
  std::string function;
  HKEY root;
  std::string keyPath;
  REGSAM access;
  LSTATUS result;
};
const std::vector<RegistryOpenCall>& RegistryOpens();

// Every RegSetValueExA with the byte count the program passed (Windows may
// store one byte more: a REG_SZ always gets its NUL in the registry).
struct RegistrySetCall {
  HKEY root;
  std::string keyPath;
  std::string valueName;
  DWORD type;
  DWORD byteCount;
  std::string data;  // the byteCount bytes passed
  LSTATUS result;
};
const std::vector<RegistrySetCall>& RegistrySetCalls();
// The power goes: the changes a program made since its last RegFlushKey are lost.
void LoseUnflushedRegistry();
// Byte count of the last RegSetValueExA; 0 before the first.
DWORD LastSetValueByteCount();

// Every RegQueryValueExA: whether a data buffer was given and the capacity stated.
struct RegistryQueryCall {
  std::string keyPath;
  std::string valueName;
  bool withBuffer;
  DWORD statedSize;
  LSTATUS result;
};
const std::vector<RegistryQueryCall>& RegistryQueries();

}  // namespace winsim
