#include "tests/installed_application.h"

#include <cstdio>

#include "winsim/files.h"
#include "winsim/machine.h"
#include "winsim/registry.h"
#include "winsim/services.h"
#include "winsim/system_info.h"

namespace installed {

const char INSTALL_DIR[] = "C:\\Program Files\\ODRIX\\Carvella Maker";
const char UPDATER_PATH[] = "C:\\Users\\admin\\Downloads\\CarvellaMakerUpdater.exe";
const char APPLICATION_KEY[] = "SOFTWARE\\ODRIX\\Carvella Maker";
const char FILTER_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter";
const char ROVE_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ROVE";
const char ODRIX_KEY[] = "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter\\ODRIX";
const char CONTROL_SERVICE[] = "ODRIX Carvella Control Service";
const char COPY_SERVICE[] = "ODRIX Carvella Copy Service";
const char MONITOR_SERVICE[] = "ODRIX Carvella Monitor Service";
const char PRODUCT_ID[] = "XVT-7Q2RN  KR550";
const char ROVE_PRODUCTS[] = "DVR-XD10J  KR300DVR-XD11J  KR500";
const char ODRIX_PRODUCTS[] = "DVR-XD10J  KR300";

void Install(DWORD version, Windows windows) {
  winsim::ResetMachine();
  if (windows == Windows::Windows7Wow64) winsim::UseWow64Windows7();
  if (windows == Windows::Windows2000) winsim::UseWindows2000();
  winsim::SetModuleFileName(UPDATER_PATH);

  winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, APPLICATION_KEY);
  winsim::SetRegistryString(HKEY_LOCAL_MACHINE, APPLICATION_KEY, "InstallPath", INSTALL_DIR);
  winsim::SetRegistryDword(HKEY_LOCAL_MACHINE, APPLICATION_KEY, "Version", version);
  winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, ROVE_KEY);
  winsim::SetRegistryString(HKEY_LOCAL_MACHINE, ROVE_KEY, "Products", ROVE_PRODUCTS);
  winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, ODRIX_KEY);
  winsim::SetRegistryString(HKEY_LOCAL_MACHINE, ODRIX_KEY, "Products", ODRIX_PRODUCTS);

  winsim::MakeFolder(INSTALL_DIR);
  for (const std::string& name : DataFiles(windows)) {
    // A first update creates the marker file; the data files are older copies.
    if (name != "XVT-7Q2RN3.txt") winsim::PutFile(std::string(INSTALL_DIR) + "\\" + name, OldContent(name));
  }
  winsim::PutFile(std::string(INSTALL_DIR) + "\\CVMaker.exe", "MZ application");

  for (const char* service : {CONTROL_SERVICE, COPY_SERVICE, MONITOR_SERVICE}) {
    winsim::InstallService(service, SERVICE_RUNNING);
  }
}

std::vector<std::string> DataFiles(Windows windows) {
  if (windows == Windows::Windows7Wow64) return {"DrvClass.ini", "DrvClass64.ini", "XVT-7Q2RN3.txt", "SupVer.inf"};
  return {"DrvClass.ini", "XVT-7Q2RN3.txt", "SupVer.inf"};
}

std::string PayloadFile(const std::string& relativePath) {
  std::string bytes;
  std::FILE* file = std::fopen((std::string(PAYLOAD_DIR) + "/" + relativePath).c_str(), "rb");
  if (file == nullptr) return bytes;
  for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) bytes += static_cast<char>(c);
  std::fclose(file);
  return bytes;
}

std::string PayloadFor(DWORD version, const std::string& fileName) {
  return PayloadFile((version >= 0x09000000 ? "class1/" : "class0/") + fileName);
}

std::string OldContent(const std::string& fileName) { return "older " + fileName + " of version 9.20"; }

std::map<std::string, std::string> InstallFolder() {
  std::map<std::string, std::string> files;
  for (const std::string& name : winsim::FilesIn(INSTALL_DIR)) {
    files[name] = winsim::FileBytes(std::string(INSTALL_DIR) + "\\" + name);
  }
  return files;
}

std::string ProductList(const char* vendorKey) {
  winsim::RegistryValue value;
  if (!winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, vendorKey, "Products", &value)) return "<missing>";
  std::string text = value.bytes;
  if (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

}  // namespace installed
