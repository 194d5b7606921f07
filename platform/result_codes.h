// Result code shared by every accessor: a fixed-size buffer could not be allocated.
#pragma once

constexpr int ERR_OUT_OF_MEMORY = 257;
// A name or path longer than its buffer: refused whole, never cut short
// (the Win32 code ERROR_FILENAME_EXCED_RANGE).
constexpr int ERR_TEXT_TOO_LONG = 206;

// An out-parameter (an error, a flag) may be null where the caller does not ask.
template <typename Value>
void SetOutParameter(Value* out, Value value) {
  if (out != nullptr) *out = value;
}
