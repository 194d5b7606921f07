// Not built yet: the machine, rights and installation checks.
#include "app/updater.h"

bool Updater::CheckPreconditions() { return true; }
bool Updater::IsSupportedOs() { return true; }
bool Updater::IsAdministrator() { return true; }
DWORD Updater::ModuleDirectory(char* buffer, DWORD) {
  buffer[0] = '\0';
  return 0;
}
