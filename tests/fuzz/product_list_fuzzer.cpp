// Any stored "Products" value: a REG_SZ list keeps its whole slots and gains
// the id once; any other type fails the row and stays as it was. Nothing leaks.
#include <cstdlib>
#include <string>

#include "app/updater.h"
#include "messages/message_table.h"
#include "tests/fuzz/fuzz_machine.h"
#include "winsim/machine.h"
#include "winsim/registry.h"

namespace {

const char VENDOR_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ROVE";
const char PRODUCT_ID[] = "XVT-7Q2RN  KR550";

bool ContainsWholeSlot(const std::string& list, const std::string& id) {
  for (std::size_t start = 0; start + 16 <= list.size(); start += 16) {
    bool same = true;
    for (std::size_t i = 0; i < 16; ++i) {
      const char a = list[start + i] >= 'A' && list[start + i] <= 'Z' ? list[start + i] + 32 : list[start + i];
      const char b = id[i] >= 'A' && id[i] <= 'Z' ? id[i] + 32 : id[i];
      same = same && a == b;
    }
    if (same) return true;
  }
  return false;
}

std::string StoredText(const winsim::RegistryValue& value) {
  const std::size_t end = value.bytes.find('\0');
  return end == std::string::npos ? value.bytes : value.bytes.substr(0, end);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const fuzzing::StoredValue stored = fuzzing::StoreValueFromInput(data, size, VENDOR_KEY, "Products");
  MessageTable messages;
  messages.Load();
  Updater updater;
  updater.SetMessages(messages.Text());

  const int result = updater.AppendProductId(VENDOR_KEY, "Products", PRODUCT_ID);

  winsim::RegistryValue after;
  if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, VENDOR_KEY, "Products", &after)) std::abort();
  if (stored.type != REG_SZ) {
    if (result != -1 || after.type != stored.type || after.bytes != stored.bytes) std::abort();
  } else {
    std::string text = stored.bytes.substr(0, stored.bytes.find('\0'));
    const std::string whole = text.substr(0, text.size() - text.size() % 16);
    const std::string expected = ContainsWholeSlot(whole, PRODUCT_ID) ? text : whole + PRODUCT_ID;
    if (result != 0 || after.type != REG_SZ || StoredText(after) != expected) std::abort();
  }
  if (winsim::OpenHandleCount() != 0) std::abort();
  return 0;
}
