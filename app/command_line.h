// What the command line asks of a run. "/S" keeps its place as the first
// argument, so every command line of earlier versions means what it meant; the
// switches that deployment tools know from other installers are whole tokens
// anywhere, in either case. Anything else is ignored.
#pragma once

#include "platform/win32.h"

struct RunSwitches {
  bool silent;         // "/S" or "/s" as the first argument, whatever follows the letter
  bool suppressBoxes;  // "/SUPPRESSMSGBOXES": with "/S", not even a failure's box
  bool noRestart;      // "/NORESTART": the restart is left to the caller
  bool log;            // "/LOG" or "/LOG=<file>"
  wchar_t logPath[MAX_PATH];  // the file of "/LOG=", without its quotes; empty for the default one
};

bool IsSilentRun(const wchar_t* commandLine);

// The switches of a command line (the program's own name already taken off).
// A "/LOG=" file whose name is too long for a path gives no log at all.
void ReadSwitches(const wchar_t* commandLine, RunSwitches* switches);
