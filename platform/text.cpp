#include "platform/text.h"

#include <new>

#include "platform/result_codes.h"
#include "platform/win32.h"

namespace {

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int TextLength(const char* text) {
  int length = 0;
  while (text[length] != '\0') ++length;
  return length;
}

bool TextFits(const char* text, int capacity) {
  for (int i = 0; i < capacity; ++i) {
    if (text[i] == '\0') return true;
  }
  return false;
}

void CopyText(char* destination, const char* source, int capacity) {
  int length = 0;
  while (length < capacity - 1 && source[length] != '\0') {
    destination[length] = source[length];
    ++length;
  }
  destination[length] = '\0';
}

bool EqualIgnoringAsciiCase(const char* left, const char* right, int count) {
  for (int i = 0; i < count; ++i) {
    if (AsciiLower(left[i]) != AsciiLower(right[i])) return false;
  }
  return true;
}

int StoreOwnedText(char** buffer, int capacity, const char* text) {
  if (text == nullptr || !TextFits(text, capacity)) {
    delete[] *buffer;
    *buffer = nullptr;
    return text == nullptr ? static_cast<int>(ERROR_INVALID_PARAMETER) : ERR_TEXT_TOO_LONG;
  }
  if (*buffer == nullptr) {
    *buffer = new (std::nothrow) char[capacity];
    if (*buffer == nullptr) return ERR_OUT_OF_MEMORY;
  }
  CopyText(*buffer, text, capacity);
  return 0;
}

namespace {

// The byte count of the character at c, of a text that ends at end.
int CharacterSize(const char* c, const char* end) {
  return IsDBCSLeadByte(static_cast<BYTE>(*c)) && c + 1 < end ? 2 : 1;
}

// The length without one trailing backslash that is a character of its own.
int FolderLength(const char* folder, int length) {
  const char* end = folder + length;
  const char* last = nullptr;
  for (const char* c = folder; c < end; c += CharacterSize(c, end)) last = c;
  return last != nullptr && *last == '\\' ? length - 1 : length;
}

}  // namespace

int FindCharacter(const char* text, char c) {
  const char* end = text + TextLength(text);
  const char* at = text;
  while (at < end && *at != c) at += CharacterSize(at, end);
  return static_cast<int>(at - text);
}

bool SameFolder(const char* left, int leftLength, const char* right) {
  const int length = FolderLength(left, leftLength);
  if (length != FolderLength(right, TextLength(right))) return false;
  const char* end = left + length;
  for (const char* l = left, *r = right; l < end;) {
    const int size = CharacterSize(l, end);
    if (size == 2 && (l[0] != r[0] || l[1] != r[1])) return false;
    if (size == 1 && AsciiLower(*l) != AsciiLower(*r)) return false;
    l += size;
    r += size;
  }
  return true;
}

bool EndsWithBackslash(const char* text) {
  const char* last = nullptr;
  for (const char* c = text; *c != '\0'; c += IsDBCSLeadByte(static_cast<BYTE>(*c)) && c[1] != '\0' ? 2 : 1) {
    last = c;
  }
  return last != nullptr && *last == '\\';
}

int WholeCharactersLength(const char* text) {
  const char* c = text;
  while (*c != '\0') {
    if (!IsDBCSLeadByte(static_cast<BYTE>(*c))) {
      ++c;
    } else if (c[1] == '\0') {
      break;
    } else {
      c += 2;
    }
  }
  return static_cast<int>(c - text);
}

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

}  // namespace

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
