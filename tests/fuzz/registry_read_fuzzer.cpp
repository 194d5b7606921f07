// Any stored value of any type: the reads hand back exactly the stored data,
// typed reads refuse other types, and nothing is read past a buffer.
#include <cstdlib>
#include <cstring>
#include <string>

#include "registry/registry_key.h"
#include "tests/fuzz/fuzz_machine.h"
#include "winsim/machine.h"
#include "winsim/registry.h"

namespace {

const char KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  fuzzing::StoreValueFromInput(data, size, KEY, "Value");
  winsim::RegistryValue held;
  winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, KEY, "Value", &held);

  RegistryKey key;
  key.SetRoot(HKEY_LOCAL_MACHINE);
  key.SetPath(KEY);

  int error = -1;
  DWORD type = 0;
  char* raw = key.Query("Value", &error, &type);
  if (error != 0 || raw == nullptr || type != held.type) std::abort();
  if (std::memcmp(raw, held.bytes.data(), held.bytes.size()) != 0) std::abort();
  delete[] raw;

  char* text = key.GetString("Value", &error);
  if (held.type == REG_SZ) {
    if (error != 0 || text == nullptr) std::abort();
    if (std::string(text) != held.bytes.substr(0, held.bytes.find('\0'))) std::abort();
  } else if (error != ERR_TYPE_MISMATCH || text != nullptr) {
    std::abort();
  }
  delete[] text;

  const DWORD number = key.GetDword("Value", &error);
  if (held.type == REG_DWORD) {
    std::string padded = held.bytes + std::string(4, '\0');
    DWORD expected = 0;
    std::memcpy(&expected, padded.data(), 4);
    if (error != 0 || number != expected) std::abort();
  } else if (error != ERR_TYPE_MISMATCH || number != 0) {
    std::abort();
  }
  if (winsim::OpenHandleCount() != 0) std::abort();
  return 0;
}
