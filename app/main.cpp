// Process entry: wWinMain hands its command line to the run, whose result is
// the exit code. The executable starts at UpdaterEntry, without the C
// runtime's start-up code, which it does not need: no static object to
// construct, no exception to catch, no thread-local data, and msvcrt's heap is
// ready once msvcrt.dll is loaded. UpdaterEntry hands wWinMain the arguments
// as that start-up code would. The loader keeps the stack aligned to 4 bytes only.
#include "app/command_arguments.h"
#include "app/run.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) { return RunUpdater(commandLine); }

extern "C" __attribute__((force_align_arg_pointer)) void WINAPI UpdaterEntry() {
  const int exitCode = wWinMain(GetModuleHandleW(nullptr), nullptr, const_cast<LPWSTR>(ArgumentsOf(GetCommandLineW())),
                                SW_SHOWDEFAULT);
  ExitProcess(static_cast<UINT>(exitCode));
}
