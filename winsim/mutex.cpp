// Named mutexes. Microsoft, "Kernel object namespaces": each session has a
// namespace of its own and there is one global namespace; a name without a
// prefix, or with "Local\", lies in the session's, one with "Global\" in the
// global one (both prefixes case-sensitive). Services, which run in session
// 0, use the global namespace by default: session 0's own namespace is the
// global one, so there "X" and "Global\X" are one object. Windows XP's console
// user is in session 0 too. On Windows 2000 without Terminal Services the
// prefixes are ignored: every name, prefixed or not, is one namespace's.
// Pinned by WholeRunTest.OneCopyRunsPerPcInEverySessionAndALoneOneUpdates.
// Windows NT 4.0 has no namespaces at all, and "CreateMutexA" says a name may
// hold any character but the backslash: there a name with one fails (the
// harsher reading, ERROR_PATH_NOT_FOUND). Pinned by
// SimulatedSystemTest.NamesWithABackslashNeedWindows2000.
#include "winsim/mutex.h"

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "winsim/internal.h"
#include "winsim/machine.h"
#include "winsim/system.h"
#include "winsim/system_info.h"

namespace winsim {
namespace {

const char GLOBAL_PREFIX[] = "Global\\";
const char LOCAL_PREFIX[] = "Local\\";
const DWORD GLOBAL_NAMESPACE = 0;
const DWORD FIRST_MAJOR_VERSION_WITH_NAMESPACES = 5;

struct MutexState {
  std::vector<std::string> objects;           // index = handle object: the key the name reached
  std::map<std::string, unsigned> openCount;  // handles of all processes, by key
};

MutexState& Mutexes() {
  static MutexState state;
  return state;
}

void OnMutexClosed(std::size_t object) { --Mutexes().openCount[Mutexes().objects[object]]; }

void ResetMutexes() {
  Mutexes() = MutexState();
  SetCloseHook(HandleKind::Mutex, &OnMutexClosed);
}
ResetHook resetMutexes(&ResetMutexes);

bool StartsWith(const std::string& text, const char* prefix) { return text.compare(0, std::strlen(prefix), prefix) == 0; }

// The namespace and the bare name a name reaches from a session, as one key.
std::string MutexKey(const std::string& name, DWORD session) {
  std::string bare = name;
  DWORD space = session;
  if (StartsWith(name, GLOBAL_PREFIX)) {
    bare = name.substr(std::strlen(GLOBAL_PREFIX));
    space = GLOBAL_NAMESPACE;
  } else if (StartsWith(name, LOCAL_PREFIX)) {
    bare = name.substr(std::strlen(LOCAL_PREFIX));
  }
  if (!TerminalServicesRunning()) space = GLOBAL_NAMESPACE;
  return std::to_string(space) + "|" + bare;
}

}  // namespace

void HoldMutexElsewhere(const char* name) { HoldMutexElsewhere(name, ProcessSession()); }

void HoldMutexElsewhere(const char* name, DWORD session) { ++Mutexes().openCount[MutexKey(name, session)]; }

bool MutexExists(const char* name) {
  auto it = Mutexes().openCount.find(MutexKey(name, ProcessSession()));
  return it != Mutexes().openCount.end() && it->second > 0;
}

}  // namespace winsim

HANDLE WINAPI CreateMutexA(LPSECURITY_ATTRIBUTES, BOOL, LPCSTR name) {
  if (winsim::Faulted("CreateMutexA")) return nullptr;
  if (name != nullptr && std::strchr(name, '\\') != nullptr &&
      winsim::WindowsMajorVersion() < winsim::FIRST_MAJOR_VERSION_WITH_NAMESPACES) {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return nullptr;
  }
  winsim::MutexState& mutexes = winsim::Mutexes();
  // An unnamed mutex is an object of its own.
  const std::string key = name != nullptr ? winsim::MutexKey(name, winsim::ProcessSession())
                                          : "unnamed " + std::to_string(mutexes.objects.size());
  const bool existed = mutexes.openCount[key] > 0;
  mutexes.objects.push_back(key);
  ++mutexes.openCount[key];
  SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
  return winsim::OpenHandle(winsim::HandleKind::Mutex, mutexes.objects.size() - 1);
}
