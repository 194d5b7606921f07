// Not built yet: the shutdown privilege.
#include "app/updater.h"

void Updater::EnablePrivilege(const wchar_t*) {}
