// Words for the numbers the run log carries, so that an administrator reading
// the log of a PC far away needs no table: result codes and the application's
// version.
#pragma once

#include "platform/win32.h"

// Where a result code comes from. Each accessor has codes of its own that
// share their numbers with Windows error codes (2, 3, 18 to 23, 257, ...):
// only the source tells them apart.
enum ResultSource { FROM_WINDOWS, FROM_FILE, FROM_REGISTRY, FROM_SERVICE, FROM_RECORD };

// The code, a colon and a system text of up to 336 characters in any ANSI
// code page, which takes at most three bytes for one.
constexpr int RESULT_WORDS_SIZE = 1024;
struct ResultWords {
  char text[RESULT_WORDS_SIZE];
};

// "5: Access is denied." for a Windows code, in the ANSI code page of the
// log line; the source's own codes with words of their own ("23: a link or a
// file with several names, not written through"). A line that tells a
// success says what was done and carries no code; 0 still reads "0: success".
ResultWords DescribeResult(int code, ResultSource source);

// "Ver.255.255.255.255" and its terminator.
constexpr int VERSION_WORDS_SIZE = 20;
struct VersionWords {
  char text[VERSION_WORDS_SIZE];
};

// The "Version" value as the application's messages number it: the major
// version from the high byte, the minor in two digits from the next
// ("Ver.10.00"); builds in the low 16 bits follow (0x0A000100 is
// "Ver.10.00.1.0"), so that no build looks like the release it is not.
VersionWords DescribeVersion(DWORD version);
