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
