// What the fuzz targets share: a stored value built from the input, on a fresh machine.
#pragma once

#include <cstdint>
#include <string>

#include "winsim/api.h"

namespace fuzzing {

struct StoredValue {
  DWORD type;
  std::string bytes;
};

// A fresh machine whose one registry value, `name` in the key HKLM\`key`, is built from
// the input: the first byte picks the type (mostly the ones the program meets), the rest
// are the bytes.
StoredValue StoreValueFromInput(const std::uint8_t* data, std::size_t size, const char* key, const char* name);

}  // namespace fuzzing
