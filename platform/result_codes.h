// Result code shared by every accessor: a fixed-size buffer could not be allocated.
#pragma once

constexpr int ERR_OUT_OF_MEMORY = 257;
// A name or path longer than its buffer: refused whole, never cut short
// (the Win32 code ERROR_FILENAME_EXCED_RANGE).
constexpr int ERR_TEXT_TOO_LONG = 206;

// An error out-parameter may be null where the caller needs no reason.
template <typename Code>
void SetError(Code* error, Code code) {
  if (error != nullptr) *error = code;
}
