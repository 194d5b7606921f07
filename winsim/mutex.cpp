// Named mutexes: the updater's own, and one that another copy may hold.
#include "winsim/mutex.h"

#include <map>
#include <string>
#include <vector>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct MutexState {
  std::vector<std::string> names;            // index = object
  std::map<std::string, unsigned> openCount;  // handles of all processes
};

MutexState& Mutexes() {
  static MutexState state;
  return state;
}

void OnMutexClosed(std::size_t object) { --Mutexes().openCount[Mutexes().names[object]]; }

void ResetMutexes() {
  Mutexes() = MutexState();
  SetCloseHook(HandleKind::Mutex, &OnMutexClosed);
}
ResetHook resetMutexes(&ResetMutexes);

}  // namespace

void HoldMutexElsewhere(const char* name) { ++Mutexes().openCount[name]; }

bool MutexExists(const char* name) {
  auto it = Mutexes().openCount.find(name);
  return it != Mutexes().openCount.end() && it->second > 0;
}

}  // namespace winsim

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name) {
  if (winsim::Faulted("CreateMutexA")) return nullptr;
  winsim::MutexState& mutexes = winsim::Mutexes();
  const std::string key = name != nullptr ? name : "";
  const bool existed = name != nullptr && winsim::MutexExists(name);
  mutexes.names.push_back(key);
  ++mutexes.openCount[key];
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return winsim::OpenHandle(winsim::HandleKind::Mutex, mutexes.names.size() - 1);
}
