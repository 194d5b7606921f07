// The install folder comes from the registry, and the elevated updater writes
// wherever it points: only an absolute local path to a plain folder is taken.
#include "app/updater.h"
#include "log/result_words.h"
#include "platform/text.h"

namespace {

// Why the path is refused, or nullptr. Nothing at the path is left to the
// first copy to report, as a folder that went missing; anything else there
// must be a folder that is no reparse point, since a junction or mount point
// would carry every write elsewhere. *error: the Windows code behind a refusal, or 0.
const char* Refusal(const char* path, DWORD* error) {
  if (!IsAbsoluteLocalPath(path)) return "is not an absolute local path";
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    *error = GetLastError();
    return *error == ERROR_FILE_NOT_FOUND || *error == ERROR_PATH_NOT_FOUND ? nullptr : "cannot be examined";
  }
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return "is not a folder";
  return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? "is a reparse point (a link elsewhere)" : nullptr;
}

}  // namespace

// A folder refused is logged with the reason.
bool Updater::IsUsableInstallFolder() const {
  if (installDir == nullptr) return false;
  DWORD error = 0;
  const char* refusal = Refusal(installDir, &error);
  if (refusal == nullptr) return true;
  if (error != 0) {
    Note("install folder refused: \"%s\" %s (%s)", installDir, refusal,
         DescribeResult(static_cast<int>(error), FROM_WINDOWS).text);
  } else {
    Note("install folder refused: \"%s\" %s", installDir, refusal);
  }
  return false;
}
