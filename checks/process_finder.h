// Whether a process with a given executable base name is running.
#pragma once

#include "platform/result_codes.h"
#include "platform/win32.h"

class ProcessFinder {
 public:
  ProcessFinder();
  ~ProcessFinder();
  ProcessFinder(const ProcessFinder&) = delete;
  ProcessFinder& operator=(const ProcessFinder&) = delete;

  // 0; ERR_OUT_OF_MEMORY; ERR_TEXT_TOO_LONG for a name longer than MAX_PATH - 1.
  int SetName(const char* executableName);
  // True when some process's executable has the name, ignoring ASCII case.
  // A process list that cannot be read answers false.
  bool IsRunning();

 private:
  char* name;
};
