#include "log/run_log.h"

#include "platform/text.h"
#include "platform/wide_text.h"

const wchar_t LOG_FILE_NAME[] = L"CarvellaMakerUpdater.log";

namespace {

// CR LF ends every line.
constexpr int LINE_END_LENGTH = 2;
// Written once at the head of a new log, so that Windows' own tools read it as UTF-8.
constexpr char UTF8_BYTE_ORDER_MARK[] = "\xEF\xBB\xBF";
constexpr int UTF8_BYTE_ORDER_MARK_LENGTH = 3;
// One part of a line: a formatted text (wsprintfA writes at most 1024 bytes)
// or a box text, each read into at most this many wide characters.
constexpr int PART_SIZE = 1024;
// UTF-8 needs at most three bytes for one UTF-16 unit.
constexpr int UTF8_BYTES_PER_UNIT = 3;
constexpr char UNREADABLE_TEXT[] = "(text not readable in its code page)";
// Ends a text of which only the beginning fitted.
constexpr char CUT_MARK[] = " (cut)";
constexpr int CUT_MARK_LENGTH = sizeof(CUT_MARK) - 1;

bool IsHighSurrogate(wchar_t c) { return c >= 0xD800 && c <= 0xDBFF; }

// Only a file of one name, and no reparse point, is written: a link would
// carry the elevated write to a file elsewhere.
bool IsPlainFile(const BY_HANDLE_FILE_INFORMATION& information) {
  return (information.dwFileAttributes & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) == 0 &&
         information.nNumberOfLinks <= 1;
}

}  // namespace

RunLog::RunLog() : line(), length(0) {}

// Appending only, opened as the name itself and not where it leads, and
// shared for reading, so the log can be watched while the run goes on.
DWORD RunLog::Open(const wchar_t* path) {
  HANDLE opened = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  const DWORD error = GetLastError();
  file.Reset(opened);
  if (!file.IsSet()) return error;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(file.Get(), &information) || !IsPlainFile(information)) {
    file.Reset();
    return ERROR_ACCESS_DENIED;
  }
  if (information.nFileSizeHigh == 0 && information.nFileSizeLow == 0) {
    Write(UTF8_BYTE_ORDER_MARK, UTF8_BYTE_ORDER_MARK_LENGTH);
  }
  return 0;
}

// A variable that is not set stays as text, so that its name, not another
// file, is what the open fails on; so does a name that no longer fits a path.
DWORD RunLog::OpenExpanded(const wchar_t* name) {
  wchar_t path[MAX_PATH];
  const DWORD length = ExpandEnvironmentStringsW(name, path, MAX_PATH);
  if (length == 0) return GetLastError();
  return length > MAX_PATH ? ERROR_FILENAME_EXCED_RANGE : Open(path);
}

// For SYSTEM the temporary folder is the Windows one.
DWORD RunLog::OpenInTemporaryFolder() {
  wchar_t path[MAX_PATH];
  const DWORD folderLength = GetTempPathW(MAX_PATH, path);
  if (folderLength == 0) return GetLastError();
  if (folderLength + WideLength(LOG_FILE_NAME) >= MAX_PATH) return ERROR_FILENAME_EXCED_RANGE;
  CopyWide(path + folderLength, LOG_FILE_NAME, MAX_PATH - static_cast<int>(folderLength));
  return Open(path);
}

bool RunLog::IsOpen() const { return file.IsSet(); }

void RunLog::Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatList(format, arguments);
  va_end(arguments);
}

// wvsprintfA stops at 1024 bytes, maybe inside a double-byte character: a
// text that fills the buffer is taken as cut and keeps its whole characters.
void RunLog::FormatList(const char* format, va_list arguments) {
  if (!IsOpen()) return;
  char text[PART_SIZE];
  wvsprintfA(text, format, arguments);
  text[PART_SIZE - 1] = '\0';
  const bool cut = TextLength(text) == PART_SIZE - 1;
  if (cut) text[WholeCharactersLength(text)] = '\0';
  Begin();
  AppendNarrow(text, CP_ACP);
  if (cut) AppendAscii(CUT_MARK);
  End();
}

void RunLog::Text(const char* label, const char* text, UINT codePage) {
  if (!IsOpen()) return;
  Begin();
  AppendAscii(label);
  AppendNarrow(text, codePage);
  End();
}

void RunLog::Wide(const char* label, const wchar_t* text, const char* tail) {
  if (!IsOpen()) return;
  Begin();
  AppendAscii(label);
  AppendWide(text);
  AppendAscii(tail);
  End();
}

void RunLog::Begin() {
  SYSTEMTIME now = {};
  GetLocalTime(&now);
  length = wsprintfA(line, "%04u-%02u-%02u %02u:%02u:%02u.%03u  ", static_cast<unsigned>(now.wYear),
                     static_cast<unsigned>(now.wMonth), static_cast<unsigned>(now.wDay),
                     static_cast<unsigned>(now.wHour), static_cast<unsigned>(now.wMinute),
                     static_cast<unsigned>(now.wSecond), static_cast<unsigned>(now.wMilliseconds));
}

// ASCII is UTF-8 as it is: written without a conversion, so it cannot fail.
void RunLog::AppendAscii(const char* text) {
  const int room = LOG_LINE_SIZE - LINE_END_LENGTH - length;
  for (int i = 0; i < room && text[i] != '\0'; ++i) line[length++] = text[i];
}

void RunLog::AppendNarrow(const char* text, UINT codePage) {
  wchar_t wide[PART_SIZE];
  if (WidenText(text, codePage, wide, PART_SIZE)) {
    AppendWide(wide);
  } else {
    AppendAscii(UNREADABLE_TEXT);
  }
}

// A line break inside a text is written as \n, so that one event stays one
// line; what would not fit the line is left out after a whole character, and
// the cut is marked.
void RunLog::AppendWide(const wchar_t* text) {
  const int room = LOG_LINE_SIZE - LINE_END_LENGTH - CUT_MARK_LENGTH - length;
  const int most = room / UTF8_BYTES_PER_UNIT < PART_SIZE ? room / UTF8_BYTES_PER_UNIT : PART_SIZE;
  wchar_t escaped[PART_SIZE];
  int count = 0;
  const wchar_t* c = text;
  for (; *c != L'\0'; ++c) {
    const bool lineBreak = *c == L'\n' || *c == L'\r';
    if (count + (lineBreak || IsHighSurrogate(*c) ? 2 : 1) > most) break;
    if (lineBreak) {
      escaped[count++] = L'\\';
      escaped[count++] = *c == L'\n' ? L'n' : L'r';
    } else {
      escaped[count++] = *c;
    }
  }
  if (count > 0) {
    length += WideCharToMultiByte(CP_UTF8, 0, escaped, count, line + length, room, nullptr, nullptr);
  }
  if (*c != L'\0') AppendAscii(CUT_MARK);
}

void RunLog::End() {
  line[length++] = '\r';
  line[length++] = '\n';
  Write(line, length);
}

// A log that cannot be written goes without a file for the rest of the run.
void RunLog::Write(const char* bytes, int count) {
  DWORD written = 0;
  if (!WriteFile(file.Get(), bytes, static_cast<DWORD>(count), &written, nullptr) ||
      written != static_cast<DWORD>(count)) {
    file.Reset();
  }
}
