// Named mutexes in the kernel object namespaces of Windows, including one that
// another copy of the program holds in this session or another.
#pragma once

#include "winsim/api.h"

namespace winsim {

// Another process in that session holds a mutex of that name for the rest of
// the test; the name is read there as the program's would be read there.
// Without a session: in the program's own.
void HoldMutexElsewhere(const char* name);
void HoldMutexElsewhere(const char* name, DWORD session);
// Whether a mutex that this name reaches from the program's session exists.
bool MutexExists(const char* name);

}  // namespace winsim
