// Narrow text in fixed buffers, the way every accessor keeps its names.
#pragma once

// Length of a terminated text.
int TextLength(const char* text);

// Whether the text and its terminator fit in capacity characters.
bool TextFits(const char* text, int capacity);

// Copies at most capacity - 1 characters and always terminates.
void CopyText(char* destination, const char* source, int capacity);

// Compares count bytes, treating A-Z and a-z as equal and nothing else;
// independent of any locale.
bool EqualIgnoringAsciiCase(const char* left, const char* right, int count);
