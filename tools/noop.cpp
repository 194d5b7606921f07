// A GUI program that returns at once: the start-up cost of any program under
// Wine, against which the updater's own run time is measured.
#include <windows.h>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) { return 0; }
