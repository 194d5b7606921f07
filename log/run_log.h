// The run's own account, for the administrator who deployed it: a plain-text
// UTF-8 file, appended to and never truncated, one line per event, each with
// the local time and ending CR LF. A log without a file takes every line and
// writes none: the run never depends on its log.
#pragma once

#include <cstdarg>

#include "platform/scoped_handle.h"
#include "platform/win32.h"

// The log's name in the process's temporary folder when the command line names no file.
extern const wchar_t LOG_FILE_NAME[];
constexpr int LOG_LINE_SIZE = 4096;

// A member function whose first argument is a wsprintfA format: the compiler
// checks the arguments against it as against a printf format.
#define RUN_LOG_FORMAT __attribute__((format(printf, 2, 3)))

class RunLog {
 public:
  RunLog();
  RunLog(const RunLog&) = delete;
  RunLog& operator=(const RunLog&) = delete;

  // Lines go to the end of this file from now on; it is created when missing.
  // The elevated updater writes where standard users may create files: a name
  // that is a reparse point or one of several names of a file gets no line,
  // nor does one that cannot be opened. 0, or why there is no file:
  // CreateFileW's error, ERROR_ACCESS_DENIED for a name that leads elsewhere.
  DWORD Open(const wchar_t* path);
  // The file a command line names, its environment variables (%SystemRoot%)
  // expanded as a tool that runs the updater without a shell leaves them.
  DWORD OpenExpanded(const wchar_t* name);
  DWORD OpenInTemporaryFolder();
  bool IsOpen() const;

  // One line of narrow text in the ANSI code page, formatted as by wsprintfA.
  void Format(const char* format, ...) RUN_LOG_FORMAT;
  void FormatList(const char* format, va_list arguments);
  // One line: an ASCII label, then a text in its code page (CP_ACP: the ANSI one).
  void Text(const char* label, const char* text, UINT codePage);
  // One line: an ASCII label, a wide text, and an ASCII tail.
  void Wide(const char* label, const wchar_t* text, const char* tail = "");

 private:
  void Begin();
  void AppendAscii(const char* text);
  void AppendNarrow(const char* text, UINT codePage);
  void AppendWide(const wchar_t* text);
  void End();
  void Write(const char* bytes, int count);

  KernelHandle file;
  char line[LOG_LINE_SIZE];
  int length;
};
