// Narrow text in fixed buffers, the way every accessor keeps its names.
#pragma once

// Length of a terminated text.
int TextLength(const char* text);

// Whether the text and its terminator fit in capacity characters.
bool TextFits(const char* text, int capacity);

// Copies at most capacity - 1 characters and always terminates.
void CopyText(char* destination, const char* source, int capacity);

// The length of the text's whole characters in the ANSI code page: a last
// lead byte whose trail byte was cut off is left out.
int WholeCharactersLength(const char* text);

// Whether the last character, not merely the last byte, is a backslash: in a
// double-byte code page such as 932 the second byte of a character may be 0x5C.
bool EndsWithBackslash(const char* text);

// Copies a text into an owned buffer of capacity characters, allocated on
// first use and reused afterwards. A text that does not fit (ERR_TEXT_TOO_LONG)
// or is missing (ERROR_INVALID_PARAMETER) releases the buffer, so neither a
// cut-short text nor the one set before is used later. 0 or ERR_OUT_OF_MEMORY.
int StoreOwnedText(char** buffer, int capacity, const char* text);

// Compares count bytes, treating A-Z and a-z as equal and nothing else;
// independent of any locale.
bool EqualIgnoringAsciiCase(const char* left, const char* right, int count);

// Where the first character that is the single byte c stands, or the text's
// length: in the ANSI code page, not merely the first such byte.
int FindCharacter(const char* text, char c);

// Whether the first leftLength bytes of left name the folder that right
// names: one trailing backslash does not count, single-byte characters
// compare without regard to ASCII case, and the two bytes of a double-byte
// character as they are (in code page 932 a trail byte may be an ASCII letter's).
bool SameFolder(const char* left, int leftLength, const char* right);

// Drive letter, colon, backslash and names that stay below it: the only
// folders the elevated updater takes from the registry.
bool IsAbsoluteLocalPath(const char* path);
