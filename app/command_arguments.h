// The arguments of a command line: what follows the program's own name, and
// how the C runtime splits it into arguments.
#pragma once

// The command line less the program's name, quoted or not, and the blanks
// (characters up to 0x20) after it, as the C runtime hands it to wWinMain.
const wchar_t* ArgumentsOf(const wchar_t* commandLine);

// The next argument from *at on, split as the C runtime splits argv: blanks
// (space, tab) between arguments, double quotes around a part with blanks, a
// doubled quote inside quotes for a quote, and backslashes that escape only a
// quote (2n before it give n and the quote groups; 2n+1 give n and a quote).
// *at is left after the argument. The argument gets at most size - 1
// characters and its terminator; *whole tells whether all of them fitted.
// False at the end of the line.
bool NextArgument(const wchar_t** at, wchar_t* argument, int size, bool* whole);
