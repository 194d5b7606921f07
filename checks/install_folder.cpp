// The install folder comes from the registry, and the elevated updater writes
// wherever it points: only an absolute local path to a plain folder is taken.
#include "app/updater.h"
#include "log/result_words.h"

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
