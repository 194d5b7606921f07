// System facts a program asks Windows for: the user language, whether it runs
// under WOW64, the system folder and the ANSI code page.
#pragma once

#include <string>

#include "winsim/api.h"

namespace winsim {

// What GetUserDefaultLangID reports; a fresh machine has an English (US) user.
void SetUserLanguage(LANGID language);

enum class Wow64Query { Absent, Reports32BitWindows, Reports64BitWindows, Fails };
void SetWow64Query(Wow64Query query);

void SetSystemDirectory(const char* path);
const std::string& SystemDirectory();

// The ANSI code page: 1252 (no double-byte characters) or 932 (Japanese).
void SetAnsiCodePage(UINT codePage);

}  // namespace winsim
