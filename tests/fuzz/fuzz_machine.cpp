#include "tests/fuzz/fuzz_machine.h"

#include "winsim/machine.h"
#include "winsim/registry.h"

namespace fuzzing {
namespace {

StoredValue ValueFromInput(const std::uint8_t* data, std::size_t size) {
  static const DWORD TYPES[] = {REG_SZ, REG_SZ, REG_SZ, REG_SZ, REG_MULTI_SZ, REG_EXPAND_SZ,
                                REG_DWORD, REG_BINARY, REG_QWORD, REG_DWORD_BIG_ENDIAN, REG_NONE};
  if (size == 0) return StoredValue{REG_SZ, std::string()};
  const DWORD type = data[0] < sizeof TYPES / sizeof TYPES[0] * 16 ? TYPES[data[0] % (sizeof TYPES / sizeof TYPES[0])]
                                                                    : data[0];
  return StoredValue{type, std::string(reinterpret_cast<const char*>(data + 1), size - 1)};
}

}  // namespace

StoredValue StoreValueFromInput(const std::uint8_t* data, std::size_t size, const char* key, const char* name) {
  const StoredValue stored = ValueFromInput(data, size);
  winsim::ResetMachine();
  winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, key);
  winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, key, name, stored.type, stored.bytes);
  return stored;
}

}  // namespace fuzzing
