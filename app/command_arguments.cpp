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
