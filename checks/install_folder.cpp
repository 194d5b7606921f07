// The install folder comes from the registry, and the elevated updater writes
// wherever it points: only an absolute local path to a plain folder is taken.
#include "app/updater.h"

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

// Drive letter, colon, backslash, then names. A name of dots (".", "..", and
// longer runs, which Windows reads alike once trailing dots and spaces go)
// would climb out of the folder; a colon would name a stream or another drive.
// A trail byte of a double-byte character is never taken for a separator.
bool IsAbsoluteLocalPath(const char* path) {
  if (!IsAsciiLetter(path[0]) || path[1] != ':' || path[2] != '\\') return false;
  int nameLength = 0;
  bool onlyDots = true;
  for (const char* c = path + 3;; ++c) {
    if (*c == '\0' || IsSeparator(*c)) {
      if (nameLength > 0 && onlyDots) return false;
      if (*c == '\0') return true;
      nameLength = 0;
      onlyDots = true;
      continue;
    }
    if (*c == ':') return false;
    onlyDots = onlyDots && (*c == '.' || *c == ' ');
    ++nameLength;
    if (IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0') ++c;
  }
}

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
