// Process entry: the command line's arguments go to the run, its result is
// the exit code. The executable starts here, without the C runtime's start-up
// code, which it does not need: no static object to construct, no exception
// to catch, no thread-local data, and msvcrt's heap is ready once msvcrt.dll
// is loaded. The loader keeps the stack aligned to 4 bytes only.
#include "app/command_arguments.h"
#include "app/run.h"

extern "C" __attribute__((force_align_arg_pointer)) void WINAPI UpdaterEntry() {
  ExitProcess(static_cast<UINT>(RunUpdater(ArgumentsOf(GetCommandLineW()))));
}
