// Helpers shared by the small programs that the end-to-end tests run under Wine.
// Results always go to files: Wine's background processes inherit pipes, so
// reading a pipe from the test side can hang.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

std::string Utf8(const std::wstring& text);
std::wstring FromUtf8(const std::string& text);

// Replaces the file's contents; false when it cannot be written.
bool WriteWholeFile(const std::wstring& path, const std::string& bytes);
// Appends and closes at once, so a process killed later leaves complete records.
bool AppendToFile(const std::wstring& path, const std::string& bytes);
bool ReadWholeFile(const std::wstring& path, std::string* bytes);

// A manual-reset event, so a signal sent before the waiter looks still counts.
HANDLE CreateNamedEvent(const std::wstring& name);
bool SignalNamedEvent(const std::wstring& name);

// Line feeds, tabs and backslashes escaped, so one record stays on one line.
std::string EscapeLine(const std::string& text);

std::string Hex(const BYTE* bytes, size_t count);
bool ParseHex(const std::string& text, std::vector<BYTE>* bytes);
bool ParseNumber(const std::wstring& text, DWORD* value);

// Splits at every separator; empty fields are kept.
std::vector<std::string> Split(const std::string& text, char separator);
