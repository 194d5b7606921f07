// The install folder comes from the registry, and the elevated updater writes
// wherever it points: only an absolute local path to a plain folder is taken.
#include "app/updater.h"
#include "platform/text.h"

namespace {

// Nothing at the path is left to the first copy to report, as a folder that
// went missing; anything else there must be a folder that is no reparse point,
// since a junction or mount point would carry every write elsewhere.
bool IsPlainFolderOrNothing(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
  }
  return (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

}  // namespace

bool Updater::IsUsableInstallFolder() const {
  return installDir != nullptr && IsAbsoluteLocalPath(installDir) && IsPlainFolderOrNothing(installDir);
}
