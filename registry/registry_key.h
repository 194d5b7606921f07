// One registry key, named by a root and a sub-key path. No handle is kept:
// every operation opens the key, does one thing and closes it again.
#pragma once

#include "platform/result_codes.h"
#include "platform/scoped_handle.h"
#include "platform/win32.h"

// The accessor's own result codes. They share one number space with the Win32
// codes passed on from the registry calls; callers test them against zero.
constexpr int ERR_NO_PATH = 18;
constexpr int ERR_NO_ROOT = 19;
constexpr int ERR_TYPE_MISMATCH = 20;
constexpr int ERR_CREATE_FAILED = 21;
constexpr int ERR_VALUE_NOT_FOUND = 22;
// A key that should go with the start of Windows is a durable one.
constexpr int ERR_NOT_VOLATILE = 24;

// Sub-key paths of up to 1023 characters plus the terminator.
constexpr int REGISTRY_PATH_SIZE = 1024;

class RegistryKey {
 public:
  RegistryKey();
  ~RegistryKey();
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;

  int SetRoot(HKEY rootKey);
  int SetPath(const char* subKeyPath);

  // Every error out-parameter may be null.

  // True when the key opens with the rights to read, set values and create
  // sub-keys. On false *error holds the reason; on true it is left as it was.
  bool Exists(int* error) const;
  // Creates the key and any missing key above it; an existing key is left as it is.
  int Create();
  // The same for a key that Windows keeps in memory only, until it starts
  // again, below an existing parent; an existing key is opened as it is,
  // volatile or not. 0 or the Windows error.
  int CreateVolatile();
  // Whether the existing key goes when Windows starts again: Windows
  // refuses a durable key below a volatile one. A key that is not
  // volatile, or cannot be told, answers false with *error set.
  bool IsVolatile(int* error) const;
  // Writes a REG_SZ whose byte count is the text's length, without the NUL.
  int SetString(const char* valueName, const char* text);
  int SetDword(const char* valueName, const DWORD* value);
  // A value that is not there is no error: it is gone either way.
  int DeleteValue(const char* valueName);
  // Returns once what was written to the key's hive is on the disk.
  int Flush();
  // Removes the key when it holds neither values nor sub-keys; *deleted
  // tells whether it went. A key that is not there is no error.
  int DeleteIfEmpty(bool* deleted);

  // The value's data in a buffer the caller releases with delete[]; the buffer
  // is zero-filled beyond the data and has 17 bytes more than the data's size.
  char* Query(const char* valueName, int* error, DWORD* valueType) const;
  // A REG_SZ as NUL-terminated text that the caller releases with delete[].
  char* GetString(const char* valueName, int* error) const;
  DWORD GetDword(const char* valueName, int* error) const;

 private:
  int CheckNamed() const;
  int CreateKey(DWORD options) const;
  int Open(REGSAM access, RegistryHandle* key) const;
  int Write(const char* valueName, DWORD type, const BYTE* data, DWORD byteCount) const;

  HKEY root;
  char* path;
};
