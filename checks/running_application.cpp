// Not built yet: the search for the application's running executable.
#include "app/updater.h"

int Updater::CheckAppNotRunning() { return 0; }
