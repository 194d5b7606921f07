// The arguments of a command line: what follows the program's own name.
#pragma once

// The command line less the program's name, quoted or not, and the blanks
// (characters up to 0x20) after it, as the C runtime hands it to wWinMain.
const wchar_t* ArgumentsOf(const wchar_t* commandLine);
