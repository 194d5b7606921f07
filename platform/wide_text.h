// Wide (UTF-16) text for the few Windows functions that take or give it:
// boxes in a code page other than the ANSI one, the log's file name and
// lines, the system's texts.
#pragma once

#include "platform/win32.h"

// The most bytes one UTF-16 unit takes in any code page: three, in UTF-8.
constexpr int MOST_BYTES_PER_UNIT = 3;

// Length of a terminated wide text.
int WideLength(const wchar_t* text);

// Copies at most capacity - 1 characters and always terminates.
void CopyWide(wchar_t* destination, const wchar_t* source, int capacity);

// The terminated narrow text, read in its code page (CP_ACP: the ANSI one),
// into wide with its terminator. False, and nothing usable in wide, when a
// byte is not valid in that code page or the result would not fit.
bool WidenText(const char* text, UINT codePage, wchar_t* wide, int capacity);

// The wide text in the ANSI code page into narrow, with its terminator;
// characters that code page lacks become its default character. False, and
// narrow empty, when it does not fit.
bool NarrowText(const wchar_t* wide, char* narrow, int capacity);
