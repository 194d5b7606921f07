// Any command line: the run is silent exactly for a slash and an s of either
// case at its start, and reading it never goes past its end.
#include <cstdint>
#include <cstdlib>
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
  return 0;
}
