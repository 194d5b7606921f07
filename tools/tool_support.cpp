#include "tool_support.h"

#include <cstdio>
#include <cstdlib>

std::string Utf8(const std::wstring& text) {
  if (text.empty()) return std::string();
  int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0, NULL, NULL);
  std::string result(size, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size, NULL, NULL);
  return result;
}

std::wstring FromUtf8(const std::string& text) {
  if (text.empty()) return std::wstring();
  int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), NULL, 0);
  std::wstring result(size, L'\0');
  MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), &result[0], size);
  return result;
}

static bool WriteFileWith(const std::wstring& path, const std::string& bytes, DWORD disposition) {
  HANDLE file = CreateFileW(path.c_str(), disposition == OPEN_ALWAYS ? FILE_APPEND_DATA : GENERIC_WRITE,
                            FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, disposition, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  DWORD written = 0;
  BOOL ok = bytes.empty() || WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, NULL);
  CloseHandle(file);
  return ok && written == bytes.size();
}

bool WriteWholeFile(const std::wstring& path, const std::string& bytes) {
  return WriteFileWith(path, bytes, CREATE_ALWAYS);
}

bool AppendToFile(const std::wstring& path, const std::string& bytes) { return WriteFileWith(path, bytes, OPEN_ALWAYS); }

bool ReadWholeFile(const std::wstring& path, std::string* bytes) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  bytes->clear();
  char buffer[4096];
  DWORD got = 0;
  bool ok = true;
  while ((ok = ReadFile(file, buffer, sizeof buffer, &got, NULL) != FALSE) && got > 0) bytes->append(buffer, got);
  CloseHandle(file);
  return ok;
}

HANDLE CreateNamedEvent(const std::wstring& name) { return CreateEventW(NULL, TRUE, FALSE, name.c_str()); }

bool SignalNamedEvent(const std::wstring& name) {
  HANDLE event = OpenEventW(EVENT_MODIFY_STATE, FALSE, name.c_str());
  if (event == NULL) return false;
  BOOL ok = SetEvent(event);
  CloseHandle(event);
  return ok != FALSE;
}

std::string EscapeLine(const std::string& text) {
  std::string result;
  for (char c : text) {
    if (c == '\\') result += "\\\\";
    else if (c == '\n') result += "\\n";
    else if (c == '\r') result += "\\r";
    else if (c == '\t') result += "\\t";
    else result += c;
  }
  return result;
}

std::string Hex(const BYTE* bytes, size_t count) {
  static const char DIGITS[] = "0123456789abcdef";
  std::string result;
  for (size_t i = 0; i < count; ++i) {
    result += DIGITS[bytes[i] >> 4];
    result += DIGITS[bytes[i] & 15];
  }
  return result;
}

static int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool ParseHex(const std::string& text, std::vector<BYTE>* bytes) {
  bytes->clear();
  if (text.size() % 2 != 0) return false;
  for (size_t i = 0; i < text.size(); i += 2) {
    int high = HexDigit(text[i]), low = HexDigit(text[i + 1]);
    if (high < 0 || low < 0) return false;
    bytes->push_back(static_cast<BYTE>(high * 16 + low));
  }
  return true;
}

bool ParseNumber(const std::wstring& text, DWORD* value) {
  if (text.empty()) return false;
  wchar_t* end = NULL;
  unsigned long parsed = wcstoul(text.c_str(), &end, 0);
  if (end == NULL || *end != L'\0') return false;
  *value = static_cast<DWORD>(parsed);
  return true;
}

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> fields;
  size_t start = 0;
  for (;;) {
    size_t end = text.find(separator, start);
    if (end == std::string::npos) {
      fields.push_back(text.substr(start));
      return fields;
    }
    fields.push_back(text.substr(start, end - start));
    start = end + 1;
  }
}
