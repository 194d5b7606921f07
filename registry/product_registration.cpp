// Not built yet: the product-list registration.
#include "app/updater.h"

int Updater::UpdateRegistry() { return 0; }
int Updater::WriteDwordValue(const char*, const char*, const DWORD*) { return 0; }
int Updater::WriteStringValue(const char*, const char*, const char*) { return 0; }
int Updater::AppendProductId(const char*, const char*, const char*) { return 0; }
bool Updater::ProductListContains(const char*, const char*) { return false; }
int Updater::ParentPath(const char*, char*, int) { return -1; }
