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

// The first input byte picks the type (mostly the ones the program meets), the rest are the bytes.
StoredValue ValueFromInput(const std::uint8_t* data, std::size_t size);

}  // namespace fuzzing
