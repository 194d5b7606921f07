#include "log/run_log.h"

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
void RunLog::Open(const wchar_t* path) {
  file.Reset(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                         FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!file.IsSet()) return;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(file.Get(), &information) || !IsPlainFile(information)) {
    file.Reset();
    return;
  }
  if (information.nFileSizeHigh == 0 && information.nFileSizeLow == 0) {
    Write(UTF8_BYTE_ORDER_MARK, UTF8_BYTE_ORDER_MARK_LENGTH);
  }
}

// For SYSTEM the temporary folder is the Windows one.
void RunLog::OpenInTemporaryFolder() {
  wchar_t path[MAX_PATH];
  const DWORD folderLength = GetTempPathW(MAX_PATH, path);
  if (folderLength == 0 || folderLength + WideLength(LOG_FILE_NAME) >= MAX_PATH) return;
  CopyWide(path + folderLength, LOG_FILE_NAME, MAX_PATH - static_cast<int>(folderLength));
  Open(path);
}

bool RunLog::IsOpen() const { return file.IsSet(); }

void RunLog::Format(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  FormatList(format, arguments);
  va_end(arguments);
}

void RunLog::FormatList(const char* format, va_list arguments) {
  if (!IsOpen()) return;
  char text[PART_SIZE];
  wvsprintfA(text, format, arguments);
  Begin();
  AppendNarrow(text, CP_ACP);
  End();
}

void RunLog::Text(const char* label, const char* text, UINT codePage) {
  if (!IsOpen()) return;
  Begin();
  AppendNarrow(label, CP_ACP);
  AppendNarrow(text, codePage);
  End();
}

void RunLog::Wide(const char* label, const wchar_t* text) {
  if (!IsOpen()) return;
  Begin();
  AppendNarrow(label, CP_ACP);
  AppendWide(text);
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

void RunLog::AppendNarrow(const char* text, UINT codePage) {
  wchar_t wide[PART_SIZE];
  if (!WidenText(text, codePage, wide, PART_SIZE)) {
    AppendNarrow(UNREADABLE_TEXT, CP_ACP);
    return;
  }
  AppendWide(wide);
}

// A line break inside a text is written as \n, so that one event stays one
// line; what would not fit the line is left out.
void RunLog::AppendWide(const wchar_t* text) {
  wchar_t escaped[PART_SIZE];
  int count = 0;
  for (const wchar_t* c = text; *c != L'\0' && count < PART_SIZE - 2; ++c) {
    if (*c == L'\n' || *c == L'\r') {
      escaped[count++] = L'\\';
      escaped[count++] = *c == L'\n' ? L'n' : L'r';
    } else {
      escaped[count++] = *c;
    }
  }
  const int room = LOG_LINE_SIZE - LINE_END_LENGTH - length;
  if (count > room / UTF8_BYTES_PER_UNIT) count = room / UTF8_BYTES_PER_UNIT;
  if (count == 0) return;
  length += WideCharToMultiByte(CP_UTF8, 0, escaped, count, line + length, room, nullptr, nullptr);
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
