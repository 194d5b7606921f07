// Wide (UTF-16) text for the few Windows functions that take it: boxes in a
// code page other than the ANSI one, the log's file name and lines.
#pragma once

#include "platform/win32.h"

// Length of a terminated wide text.
int WideLength(const wchar_t* text);

// Copies at most capacity - 1 characters and always terminates.
void CopyWide(wchar_t* destination, const wchar_t* source, int capacity);

// The terminated narrow text, read in its code page (CP_ACP: the ANSI one),
// into wide with its terminator. False, and nothing usable in wide, when a
// byte is not valid in that code page or the result would not fit.
bool WidenText(const char* text, UINT codePage, wchar_t* wide, int capacity);
