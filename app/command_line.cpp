#include "app/command_line.h"

#include "platform/text.h"

namespace {

constexpr char SUPPRESS_BOXES_SWITCH[] = "/SUPPRESSMSGBOXES";
constexpr char NO_RESTART_SWITCH[] = "/NORESTART";
constexpr char LOG_SWITCH[] = "/LOG";
constexpr char LOG_FILE_SWITCH[] = "/LOG=";

// Blanks are the characters up to 0x20, as the runtime skips them after the program's name.
bool IsBlank(wchar_t c) { return c != L'\0' && c <= L' '; }

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Whether the token begins with the switch's name, in either case.
bool BeginsWith(const wchar_t* token, int tokenLength, const char* name) {
  const int nameLength = TextLength(name);
  if (tokenLength < nameLength) return false;
  for (int i = 0; i < nameLength; ++i) {
    if (AsciiUpper(token[i]) != static_cast<wchar_t>(name[i])) return false;
  }
  return true;
}

bool IsSwitch(const wchar_t* token, int tokenLength, const char* name) {
  return tokenLength == TextLength(name) && BeginsWith(token, tokenLength, name);
}

// The next token from `at` on: its start, and in *length its characters up
// to a blank outside double quotes (0 at the end of the line).
const wchar_t* NextToken(const wchar_t* at, int* length) {
  while (IsBlank(*at)) ++at;
  bool quoted = false;
  int count = 0;
  for (; at[count] != L'\0' && (quoted || !IsBlank(at[count])); ++count) {
    if (at[count] == L'"') quoted = !quoted;
  }
  *length = count;
  return at;
}

// The file name of "/LOG=...", its double quotes left out; false when it
// does not fit a path, since a shortened name would be another file.
bool TakeLogPath(const wchar_t* value, int valueLength, wchar_t* path) {
  int count = 0;
  for (int i = 0; i < valueLength; ++i) {
    if (value[i] == L'"') continue;
    if (count == MAX_PATH - 1) {
      path[0] = L'\0';
      return false;
    }
    path[count++] = value[i];
  }
  path[count] = L'\0';
  return true;
}

}  // namespace

bool IsSilentRun(const wchar_t* commandLine) {
  if (commandLine == nullptr || commandLine[0] != L'/') return false;
  const ULONG_PTR letter = static_cast<ULONG_PTR>(static_cast<WORD>(commandLine[1]));
  // The high word of zero makes CharUpperW treat its argument as one character.
  return reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(letter))) == L'S';
}

void ReadSwitches(const wchar_t* commandLine, RunSwitches* switches) {
  *switches = RunSwitches();
  switches->silent = IsSilentRun(commandLine);
  if (commandLine == nullptr) return;
  int length = 0;
  for (const wchar_t* token = NextToken(commandLine, &length); length > 0; token = NextToken(token + length, &length)) {
    if (IsSwitch(token, length, SUPPRESS_BOXES_SWITCH)) {
      switches->suppressBoxes = true;
    } else if (IsSwitch(token, length, NO_RESTART_SWITCH)) {
      switches->noRestart = true;
    } else if (IsSwitch(token, length, LOG_SWITCH)) {
      switches->log = true;
      switches->logPath[0] = L'\0';
    } else if (BeginsWith(token, length, LOG_FILE_SWITCH)) {
      const int nameLength = TextLength(LOG_FILE_SWITCH);
      switches->log = TakeLogPath(token + nameLength, length - nameLength, switches->logPath);
    }
  }
}
