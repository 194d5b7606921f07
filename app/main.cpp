// Process entry: the command line goes to the run, its result is the exit code.
#include "app/run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) { return RunUpdater(commandLine); }
