// Not built yet: the deploy, roll-back and clean-up passes.
#include "app/updater.h"

int Updater::DeployFiles() { return 0; }
int Updater::RollBack() { return 0; }
int Updater::DeleteBackups() { return 0; }
