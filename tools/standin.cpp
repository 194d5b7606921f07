// A process that only exists: the end-to-end tests copy it under the
// application's executable name and run it while the updater looks for it.
//
//   standin.exe <event> <readyfile> [<timeout ms>]   waits until <event> is set or the timeout passes
//   standin.exe signal <event>                       sets <event> and returns
//
// <readyfile> is written once the event exists, so the test knows the process is up.
#include <windows.h>

#include <string>

#include "tool_support.h"

int wmain(int argc, wchar_t** argv) {
  if (argc == 3 && std::wstring(argv[1]) == L"signal") return SignalNamedEvent(argv[2]) ? 0 : 1;
  if (argc < 3) return 2;
  DWORD timeoutMs = 600000;
  if (argc > 3 && !ParseNumber(argv[3], &timeoutMs)) return 2;
  HANDLE event = CreateNamedEvent(argv[1]);
  if (event == NULL) return 1;
  if (!WriteWholeFile(argv[2], std::to_string(GetCurrentProcessId()) + "\n")) return 1;
  WaitForSingleObject(event, timeoutMs);
  CloseHandle(event);
  return 0;
}
