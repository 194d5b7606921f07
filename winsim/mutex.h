// Named mutexes, including one that another copy of the program holds.
#pragma once

namespace winsim {

// Another process holds a mutex of that name for the rest of the test.
void HoldMutexElsewhere(const char* name);
bool MutexExists(const char* name);

}  // namespace winsim
