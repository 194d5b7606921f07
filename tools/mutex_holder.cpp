// Holds the updater's instance mutex, as a first copy of the updater would.
//
//   mutex_holder.exe <event> <readyfile> [<timeout ms>]
//
// Creates the mutex, writes <readyfile>, and keeps the mutex until <event> is set
// (standin.exe signal <event>) or the timeout passes.
#include <windows.h>

#include <string>

#include "tool_support.h"

namespace {
const wchar_t INSTANCE_MUTEX_NAME[] = L"ODRIX Carvella Maker Update";
}

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  DWORD timeoutMs = 600000;
  if (argc > 3 && !ParseNumber(argv[3], &timeoutMs)) return 2;
  HANDLE event = CreateNamedEvent(argv[1]);
  HANDLE mutex = CreateMutexW(NULL, FALSE, INSTANCE_MUTEX_NAME);
  if (event == NULL || mutex == NULL) return 1;
  if (!WriteWholeFile(argv[2], std::to_string(GetCurrentProcessId()) + "\n")) return 1;
  WaitForSingleObject(event, timeoutMs);
  CloseHandle(mutex);
  CloseHandle(event);
  return 0;
}
