// Any command line: reading it never goes past its end, a log file's name is
// whole and terminated or there is none, and the run is silent exactly for a
// slash and an s of either case at the start of the first argument, which on
// a line without quotes or backslashes is its first word.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "app/run.h"
#include "winsim/machine.h"

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Whether the first word asks for a silent run, on a line that blanks alone split.
bool FirstWordIsSilent(const wchar_t* line) {
  while (IsBlank(*line)) ++line;
  int length = 0;
  while (line[length] != L'\0' && !IsBlank(line[length])) ++length;
  return line[0] == L'/' && (line[1] == L's' || line[1] == L'S') && length < ARGUMENT_SIZE;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<wchar_t> commandLine;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    commandLine.push_back(unit);
  }
  commandLine.push_back(0);
  winsim::ResetMachine();
  RunSwitches switches;
  ReadSwitches(commandLine.data(), &switches);
  const wchar_t* end = std::wmemchr(switches.logPath, L'\0', MAX_PATH);
  if (end == nullptr || (switches.log != LOG_TO_FILE && end != switches.logPath)) std::abort();
  if (std::wmemchr(switches.refused, L'\0', ARGUMENT_SIZE) == nullptr) std::abort();
  const bool splitByBlanksAlone = std::wcspbrk(commandLine.data(), L"\"\\") == nullptr;
  if (splitByBlanksAlone && switches.silent != FirstWordIsSilent(commandLine.data())) std::abort();
  return 0;
}
