// What the parts of the simulated machine share and a test never calls: the
// way into every simulated function, the reading of narrow names, and the
// case folding of the names Windows compares without regard to case.
#pragma once

#include <string>

#include "winsim/api.h"

namespace winsim {

// The module that holds the kernel32 functions a program finds at run time.
inline constexpr char KERNEL32_MODULE[] = "kernel32.dll";

// The call is counted and logged (and the process may end right here, see
// EndProcessBeforeCall); the answer says whether a scripted fault hits it,
// with the fault's error in *error.
bool EnterCall(const char* function, DWORD* error);
// An allocation by the product is counted; false when it is the one to fail.
bool EnterAllocation();

// The first line of every simulated function that can fail:
//   if (Faulted("CreateFileA")) return INVALID_HANDLE_VALUE;
// The call is entered as above; when a scripted fault hits it, the last error
// is the fault's and the function returns its failure value at once.
bool Faulted(const char* function);
// The same for the registry functions, which answer their error instead of
// setting the last one:
//   if (Faulted("RegQueryValueExA", &error)) return error;
bool Faulted(const char* function, LSTATUS* error);
// The first line of a simulated function that has no failure to script
// (Sleep, FreeSid, ...): the call is entered, a scripted fault changes nothing.
void CountCall(const char* function);

// Only 'A' to 'Z' change: services, privileges, modules and registry value
// names compare names this way.
inline std::string LowerCase(std::string text) {
  for (char& c : text) c = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
  return text;
}

// A narrow name as an ANSI function reads it: from the ANSI code page into
// Unicode, here UTF-8, the form the file system and the registry keep; and back.
std::string Utf8OfAnsi(const char* text);
std::string AnsiOfUtf8(const std::string& text);
// File paths and registry key paths (UTF-8) compare as this key does: without
// regard to case in any script.
std::string FoldCase(const std::string& utf8);

}  // namespace winsim
