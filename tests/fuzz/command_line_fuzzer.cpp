// Any command line: the run is silent exactly for a slash and an s of either
// case at its start, reading it never goes past its end, and a log file's
// name is whole and terminated, or there is no log.
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <vector>

#include "app/run.h"
#include "winsim/machine.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::vector<wchar_t> commandLine;
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const wchar_t unit = static_cast<wchar_t>(data[i] | (data[i + 1] << 8));
    if (unit == 0) break;
    commandLine.push_back(unit);
  }
  commandLine.push_back(0);
  winsim::ResetMachine();
  const bool expected = commandLine[0] == L'/' && (commandLine[1] == L's' || commandLine[1] == L'S');
  if (IsSilentRun(commandLine.data()) != expected) std::abort();
  RunSwitches switches;
  ReadSwitches(commandLine.data(), &switches);
  if (switches.silent != expected) std::abort();
  const wchar_t* end = std::wmemchr(switches.logPath, L'\0', MAX_PATH);
  if (end == nullptr || (!switches.log && end != switches.logPath)) std::abort();
  return 0;
}
