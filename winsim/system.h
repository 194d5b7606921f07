// System facts a program asks Windows for: the user language, whether it runs
// under WOW64, its session, the system folder and the temporary folder.
#pragma once

#include <string>

#include "winsim/api.h"

namespace winsim {

// What GetUserDefaultLangID reports; a fresh machine has an English (US) user.
void SetUserLanguage(LANGID language);

enum class Wow64Query { Absent, Reports32BitWindows, Reports64BitWindows, Fails };
void SetWow64Query(Wow64Query query);

// The Terminal Services session of the program, as ProcessIdToSessionId
// reports it; 1 on a fresh machine. Session 0 is the services' from Windows
// Vista on, and the console user's on Windows XP and 2000.
void SetProcessSession(DWORD session);
DWORD ProcessSession();
// Whether Terminal Services run, which gives each session its namespace of
// kernel objects; Windows 2000 Professional has none (UseWindows2000).
void SetTerminalServices(bool running);
bool TerminalServicesRunning();

void SetSystemDirectory(const char* path);
const std::string& SystemDirectory();

// What GetTempPathW reports, with its trailing backslash; a fresh machine has
// "C:\\WINDOWS\\TEMP\\" (a test makes the folder where it needs it).
void SetTemporaryFolder(const std::wstring& path);

// An environment variable of the process, its name in any case; a fresh
// machine has SystemRoot "C:\\WINDOWS". An empty value removes it.
void SetEnvironmentValue(const std::wstring& name, const std::wstring& value);

}  // namespace winsim
