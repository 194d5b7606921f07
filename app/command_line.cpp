#include "app/command_line.h"

#include "app/command_arguments.h"
#include "platform/text.h"
#include "platform/wide_text.h"

namespace {

constexpr char SUPPRESS_BOXES_SWITCH[] = "/SUPPRESSMSGBOXES";
constexpr char LOG_SWITCH[] = "/LOG";
constexpr char LOG_FILE_SWITCH[] = "/LOG=";

// The switches that only set a flag.
constexpr struct {
  const char* name;
  bool RunSwitches::*flag;
} FLAG_SWITCHES[] = {
    {"/NORESTART", &RunSwitches::noRestart},
    {SUPPRESS_BOXES_SWITCH, &RunSwitches::suppressBoxes},
    {"/?", &RunSwitches::help},
    {"/HELP", &RunSwitches::help},
};

// Why an argument is refused, as the log tells it after the argument.
constexpr char NOT_A_SWITCH[] = "is not a switch of this updater";
constexpr char SWITCHES_RUN_TOGETHER[] = "runs switches together: a blank is missing";
constexpr char SILENT_NOT_FIRST[] = "is /S, which must be the first argument";
constexpr char LOG_WITHOUT_FILE[] = "is neither /LOG nor /LOG=<file>";

wchar_t AsciiUpper(wchar_t c) { return c >= L'a' && c <= L'z' ? static_cast<wchar_t>(c - L'a' + L'A') : c; }

// Whether the argument begins with the switch's name, in either case.
bool BeginsWith(const wchar_t* argument, const char* name) {
  for (; *name != '\0'; ++argument, ++name) {
    if (AsciiUpper(*argument) != static_cast<wchar_t>(*name)) return false;
  }
  return true;
}

bool IsSwitch(const wchar_t* argument, const char* name) {
  return BeginsWith(argument, name) && argument[TextLength(name)] == L'\0';
}

// A second slash in a switch begins another one, which a missing blank joined to it.
bool RunsSwitchesTogether(const wchar_t* argument) {
  if (argument[0] != L'/') return false;
  for (const wchar_t* c = argument + 1; *c != L'\0'; ++c) {
    if (*c == L'/') return true;
  }
  return false;
}

const char* WhyRefused(const wchar_t* argument) {
  if (BeginsWith(argument, LOG_SWITCH)) return LOG_WITHOUT_FILE;
  if (RunsSwitchesTogether(argument)) return SWITCHES_RUN_TOGETHER;
  return IsSilentRun(argument) ? SILENT_NOT_FIRST : NOT_A_SWITCH;
}

// "/LOG=" and a file; the last "/LOG" of a line counts.
void TakeLogFile(const wchar_t* file, bool whole, RunSwitches* switches) {
  switches->log = whole ? LOG_TO_FILE : LOG_NAME_TOO_LONG;
  CopyWide(switches->logPath, whole ? file : L"", MAX_PATH);
}

// Takes one argument into the switches; why it is refused, or nullptr.
const char* TakeArgument(const wchar_t* argument, bool whole, bool first, RunSwitches* switches) {
  const int fileAt = TextLength(LOG_FILE_SWITCH);
  if (BeginsWith(argument, LOG_FILE_SWITCH) && argument[fileAt] != L'\0') {
    TakeLogFile(argument + fileAt, whole, switches);
    return nullptr;
  }
  if (!whole) return NOT_A_SWITCH;
  if (first && IsSilentRun(argument)) {
    switches->silent = true;
    if (IsSwitch(argument, SUPPRESS_BOXES_SWITCH)) switches->suppressBoxes = true;
    return RunsSwitchesTogether(argument) ? SWITCHES_RUN_TOGETHER : nullptr;
  }
  for (const auto& flagSwitch : FLAG_SWITCHES) {
    if (IsSwitch(argument, flagSwitch.name)) {
      switches->*flagSwitch.flag = true;
      return nullptr;
    }
  }
  if (!IsSwitch(argument, LOG_SWITCH)) return WhyRefused(argument);
  switches->log = LOG_IN_TEMPORARY_FOLDER;
  switches->logPath[0] = L'\0';
  return nullptr;
}

}  // namespace

bool IsSilentRun(const wchar_t* argument) {
  if (argument == nullptr || argument[0] != L'/') return false;
  const ULONG_PTR letter = static_cast<ULONG_PTR>(static_cast<WORD>(argument[1]));
  // The high word of zero makes CharUpperW treat its argument as one character.
  return reinterpret_cast<ULONG_PTR>(CharUpperW(reinterpret_cast<LPWSTR>(letter))) == L'S';
}

void ReadSwitches(const wchar_t* commandLine, RunSwitches* switches) {
  *switches = RunSwitches();
  const wchar_t* at = commandLine != nullptr ? commandLine : L"";
  wchar_t argument[ARGUMENT_SIZE];
  bool whole = true;
  for (bool first = true; NextArgument(&at, argument, ARGUMENT_SIZE, &whole); first = false) {
    const char* refusal = TakeArgument(argument, whole, first, switches);
    if (refusal == nullptr || switches->refusal != nullptr) continue;
    switches->refusal = refusal;
    CopyWide(switches->refused, argument, ARGUMENT_SIZE);
  }
}
