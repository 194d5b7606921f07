// The whole run of the updater, from its command line to its exit code.
#pragma once

#include "app/command_line.h"
#include "platform/win32.h"

constexpr int EXIT_FINISHED = 0;  // the update is in place, or the user declined at the start
constexpr int EXIT_STOPPED = 1;   // an error, or another copy is running
// The update is in place and Windows must restart for it, which the caller
// asked to do itself ("/NORESTART"); the code Windows Installer gives for it.
constexpr int EXIT_RESTART_REQUIRED = 3010;
// With "/NORESTART": nothing was changed and a later try can succeed (another
// copy running, the application open, a service slow to stop); the code of
// Windows Installer's "another installation is in progress", which deployment
// tools retry.
constexpr int EXIT_RETRY_LATER = 1618;
// A command line that is not this updater's: nothing was read or changed.
// Windows Installer's ERROR_INVALID_COMMAND_LINE, msiexec's answer to one.
constexpr int EXIT_INVALID_COMMAND_LINE = 1639;
// The log asked for cannot be written: nothing was changed. Windows
// Installer's ERROR_INSTALL_LOG_FAILURE.
constexpr int EXIT_LOG_FAILURE = 1622;

// The mutex of this session, as earlier versions know it, and the one of all
// sessions. In session 0 a name without a prefix is already global, so the
// second has a name of its own: "Global\\" plus the first would be the first.
extern const char INSTANCE_MUTEX_NAME[];
extern const char GLOBAL_INSTANCE_MUTEX_NAME[];

int RunUpdater(const wchar_t* commandLine);
