#include "app/command_arguments.h"

const wchar_t* ArgumentsOf(const wchar_t* commandLine) {
  if (commandLine == nullptr) return L"";
  const wchar_t* at = commandLine;
  bool quoted = false;
  for (; *at != L'\0' && (quoted || *at > L' '); ++at) {
    if (*at == L'"') quoted = !quoted;
  }
  while (*at != L'\0' && *at <= L' ') ++at;
  return at;
}

namespace {

bool IsArgumentBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// An argument's characters as far as they fit.
struct ArgumentText {
  wchar_t* text;
  int size;
  int length;
  bool whole;

  void Put(wchar_t c, int count) {
    for (; count > 0; --count) {
      if (length == size - 1) {
        whole = false;
        return;
      }
      text[length++] = c;
    }
  }
};

}  // namespace

bool NextArgument(const wchar_t** at, wchar_t* argument, int size, bool* whole) {
  const wchar_t* c = *at;
  while (IsArgumentBlank(*c)) ++c;
  if (*c == L'\0') return false;
  ArgumentText text = {argument, size, 0, true};
  for (bool quoted = false; *c != L'\0' && (quoted || !IsArgumentBlank(*c));) {
    int backslashes = 0;
    while (c[backslashes] == L'\\') ++backslashes;
    if (c[backslashes] != L'"') {
      // Backslashes before anything but a quote stay as they are, as does any other character.
      const int count = backslashes > 0 ? backslashes : 1;
      text.Put(*c, count);
      c += count;
      continue;
    }
    text.Put(L'\\', backslashes / 2);
    c += backslashes;
    // An escaped quote, or a doubled one inside quotes, is a character; any other opens or closes quotes.
    const bool escaped = backslashes % 2 == 1;
    if (escaped || (quoted && c[1] == L'"')) {
      text.Put(L'"', 1);
      c += escaped ? 1 : 2;
    } else {
      quoted = !quoted;
      ++c;
    }
  }
  argument[text.length] = L'\0';
  *whole = text.whole;
  *at = c;
  return true;
}
