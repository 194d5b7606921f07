// Code pages: the ANSI code page a program's narrow text is read in, which
// code pages the machine has installed, and the conversions between them and
// UTF-16 (on the host: wchar_t) that the program asks for.
#pragma once

#include <string>

#include "winsim/api.h"

namespace winsim {

// The ANSI code page: 1252 (no double-byte characters) or 932 (Japanese).
void SetAnsiCodePage(UINT codePage);

// A fresh machine has 1252, 932 and UTF-8; a Windows without the East Asian
// language files lacks 932.
void SetCodePageInstalled(UINT codePage, bool installed);

// Wide text as UTF-8, for records a test reads.
std::string Utf8Of(const wchar_t* text);

}  // namespace winsim
