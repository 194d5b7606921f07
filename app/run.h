// The whole run of the updater, from its command line to its exit code.
#pragma once

#include "platform/win32.h"

constexpr int EXIT_FINISHED = 0;  // the update is in place, or the user declined at the start
constexpr int EXIT_STOPPED = 1;   // an error, or another copy is running

extern const char INSTANCE_MUTEX_NAME[];

// "/S" or "/s" as the first argument, whatever follows the letter.
bool IsSilentRun(const wchar_t* commandLine);

int RunUpdater(const wchar_t* commandLine);
