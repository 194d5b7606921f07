// Not built yet: stopping and starting the application's services.
#include "app/updater.h"

bool Updater::StopControlService() { return true; }
bool Updater::StopCopyService() { return true; }
bool Updater::StopMonitorService() { return true; }
bool Updater::StartControlService() { return true; }
bool Updater::StartCopyService() { return true; }
bool Updater::StartMonitorService() { return true; }
