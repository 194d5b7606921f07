#include "platform/wide_text.h"

int WideLength(const wchar_t* text) {
  int length = 0;
  while (text[length] != L'\0') ++length;
  return length;
}

void CopyWide(wchar_t* destination, const wchar_t* source, int capacity) {
  int length = 0;
  while (length < capacity - 1 && source[length] != L'\0') {
    destination[length] = source[length];
    ++length;
  }
  destination[length] = L'\0';
}

// Strict: a text that does not belong to the code page is refused rather
// than shown with substitutes.
bool WidenText(const char* text, UINT codePage, wchar_t* wide, int capacity) {
  return MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, text, -1, wide, capacity) != 0;
}

bool NarrowText(const wchar_t* wide, char* narrow, int capacity) {
  if (WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, capacity, nullptr, nullptr) != 0) return true;
  if (capacity > 0) narrow[0] = '\0';
  return false;
}
