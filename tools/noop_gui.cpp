// A GUI program that returns at once but loads user32 as every program that
// shows a message box does: the start-up cost of a windowing program under Wine.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  // Never true when started without arguments; it keeps user32 among the imports.
  if (commandLine != NULL && lstrcmpW(commandLine, L"/box") == 0) MessageBoxW(NULL, L"", L"", MB_OK);
  return 0;
}
