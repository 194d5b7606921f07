// A simulated machine with ODRIX Carvella Maker installed: the registration,
// the install folder with older data files, the filter driver's product lists
// and the three running services. Whole-run tests start from here.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "winsim/api.h"

namespace installed {

extern const char INSTALL_DIR[];
extern const char UPDATER_PATH[];
extern const char APPLICATION_KEY[];
extern const char FILTER_KEY[];
extern const char ROVE_KEY[];
extern const char ODRIX_KEY[];
extern const char CONTROL_SERVICE[];
extern const char COPY_SERVICE[];
extern const char MONITOR_SERVICE[];
extern const char PRODUCT_ID[];
// The lists found under the vendor keys before the update.
extern const char ROVE_PRODUCTS[];
extern const char ODRIX_PRODUCTS[];

enum class Windows { Xp32Bit, Windows7Wow64, Windows2000 };

// Lays the application out on a fresh machine.
void Install(DWORD version, Windows windows);

// The data files of the given Windows kind, in deployment order.
std::vector<std::string> DataFiles(Windows windows);

// Bytes of a payload file as shipped ("class1/DrvClass.ini").
std::string PayloadFile(const std::string& relativePath);
std::string PayloadFor(DWORD version, const std::string& fileName);
// Bytes of an older data file as the installed application holds it.
std::string OldContent(const std::string& fileName);

// Every file of the install folder: name -> bytes.
std::map<std::string, std::string> InstallFolder();

// The stored "Products" text under a vendor key, without a trailing NUL.
std::string ProductList(const char* vendorKey);

}  // namespace installed
