// One Windows service by name: is it running or stopped, stop it, start it.
// Every operation opens the service manager and the service, does one thing
// and closes both; no handle is kept between calls.
#pragma once

#include "platform/result_codes.h"
#include "platform/win32.h"

// The error out-parameter of a question until a Windows call fails.
constexpr DWORD SERVICE_ERROR_PRESET = 4095;
// Stop: the service was neither running nor paused; Start: the start request was refused.
constexpr int ERR_SERVICE_COMMAND_FAILED = 3;

class ServiceControl {
 public:
  ServiceControl();
  ~ServiceControl();
  ServiceControl(const ServiceControl&) = delete;
  ServiceControl& operator=(const ServiceControl&) = delete;

  // 0; ERR_OUT_OF_MEMORY; ERR_TEXT_TOO_LONG for a name longer than MAX_PATH - 1.
  int SetName(const char* serviceName);
  // The service's dwCurrentState; false, *state untouched, for a missing or
  // unreadable service. The error out-parameter may be null.
  bool QueryState(DWORD* state, DWORD* error);
  // Pending, paused, missing and unreadable services are neither running nor
  // stopped.
  bool IsRunning(DWORD* error);
  bool IsStopped(DWORD* error);
  // Sends the stop request only to a running or paused service (a paused one
  // still holds the files); does not wait for it.
  int Stop();
  // Sends the start request unless the service is running; does not wait for
  // it. *error (may be null) is the Windows error of a refused request or of
  // the failed open.
  int Start(DWORD* error);

 private:
  bool IsInState(DWORD wanted, DWORD* error);
  const char* Name() const;

  char* name;
};
