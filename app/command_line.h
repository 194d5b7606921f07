// What the command line asks of a run, its arguments split as the C runtime
// splits them. "/S" keeps its place as the first argument, so every command
// line of earlier versions means what it meant; the switches that deployment
// tools know from other installers come anywhere, in either case. Anything
// else refuses the whole line: a mistyped switch must not run an update that
// nobody asked for.
#pragma once

#include "platform/win32.h"

enum LogRequest {
  LOG_NONE,
  LOG_IN_TEMPORARY_FOLDER,  // "/LOG"
  LOG_TO_FILE,              // "/LOG=<file>", the file in logPath
  LOG_NAME_TOO_LONG,        // "/LOG=<file>" with a name longer than a path: no file is that one
};

// Room for "/LOG=" and a path; a longer argument is no switch.
constexpr int ARGUMENT_SIZE = MAX_PATH + 5;

struct RunSwitches {
  bool silent;         // "/S" or "/s" as the first argument, whatever letters follow
  bool suppressBoxes;  // "/SUPPRESSMSGBOXES": with "/S", not even a failure's box
  bool noRestart;      // "/NORESTART": the restart is left to the caller
  bool help;           // "/?" or "/HELP": the usage, and nothing else
  LogRequest log;
  wchar_t logPath[MAX_PATH];  // the file of "/LOG=" as written, its environment variables not yet expanded
  const char* refusal;        // why the line is refused, or nullptr when every argument is a switch
  wchar_t refused[ARGUMENT_SIZE];  // the first argument refused, or its beginning
};

// Whether the first argument makes a silent run: a slash and an s of either case.
bool IsSilentRun(const wchar_t* argument);

// The switches of a command line (the program's own name already taken
// off). A refused line is still read to its end, so that its log, its "/S"
// and its other switches tell how to report the refusal.
void ReadSwitches(const wchar_t* commandLine, RunSwitches* switches);
