#include "platform/folder_identity.h"

#include "platform/scoped_handle.h"
#include "platform/system_functions.h"
#include "platform/win32.h"

namespace {

constexpr char STABLE_FILE_SYSTEM[] = "NTFS";
constexpr DWORD FILE_SYSTEM_NAME_SIZE = 16;

struct FolderIdentity {
  DWORD volume;
  DWORD indexHigh;
  DWORD indexLow;
};

bool IsStableFileSystem(const char* name) {
  for (int i = 0;; ++i) {
    if (name[i] != STABLE_FILE_SYSTEM[i]) return false;
    if (name[i] == '\0') return true;
  }
}

// Opened for no data and sharing everything: only the folder's attributes
// are read, and nobody is kept from it meanwhile.
bool ReadFolderIdentity(const char* folder, FolderIdentity* identity) {
  const KernelHandle handle(CreateFileA(folder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                        OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!handle.IsSet() || !GetFileInformationByHandle(handle.Get(), &information) ||
      (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  GetVolumePathNameFunction volumePathOf = FindGetVolumePathName();
  char volumePath[MAX_PATH];
  char fileSystem[FILE_SYSTEM_NAME_SIZE];
  DWORD serial = 0;
  if (volumePathOf == nullptr || !volumePathOf(folder, volumePath, MAX_PATH) ||
      !GetVolumeInformationA(volumePath, nullptr, 0, &serial, nullptr, nullptr, fileSystem, FILE_SYSTEM_NAME_SIZE) ||
      serial != information.dwVolumeSerialNumber || !IsStableFileSystem(fileSystem)) {
    return false;
  }
  *identity = FolderIdentity{information.dwVolumeSerialNumber, information.nFileIndexHigh, information.nFileIndexLow};
  return true;
}

}  // namespace

bool SameFolderOnDisk(const char* left, const char* right) {
  FolderIdentity leftIdentity = {};
  FolderIdentity rightIdentity = {};
  return ReadFolderIdentity(left, &leftIdentity) && ReadFolderIdentity(right, &rightIdentity) &&
         leftIdentity.volume == rightIdentity.volume && leftIdentity.indexHigh == rightIdentity.indexHigh &&
         leftIdentity.indexLow == rightIdentity.indexLow;
}
