// A Windows service whose reactions the end-to-end tests choose, and the
// commands that install it and put it into a known state.
//
//   fixture_service.exe run <name> <behaviour>       the service process (its binPath)
//   fixture_service.exe <outfile> prepare {<name> <behaviour> running|stopped}...
//   fixture_service.exe <outfile> state <name>...
//   fixture_service.exe <outfile> remove <name>...
//
// Behaviours:
//   normal     starts and stops at once
//   stuck      stays in STOP_PENDING when asked to stop, until "prepare" releases it
//   nostart    refuses to start: reports STOPPED with an error as soon as it is started
//   slowstart  stays in START_PENDING for 3 s
//   slowstop   stays in STOP_PENDING for 3 s
// Each service process appends what happens to it ("start", "running", "refused",
// "stop", "stopped") to service-logs\<name>.log beside the executable; "prepare"
// empties that log once the service is in its state, so it then holds only what
// the program under test caused.
// The output file gets one line per service: <name> TAB <state>.
#include <windows.h>

#include <string>
#include <vector>

#include "tool_support.h"

namespace {

const DWORD SLOW_MS = 3000;
const DWORD SETTLE_TIMEOUT_MS = 15000;
const wchar_t RELEASE_EVENT_PREFIX[] = L"e2e fixture service release ";
const wchar_t LOG_FOLDER[] = L"service-logs";

std::wstring OwnFolder() {
  wchar_t path[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, path, MAX_PATH);
  std::wstring folder(path, length);
  return folder.substr(0, folder.rfind(L'\\') + 1);
}

std::wstring LogPath(const std::wstring& name) { return OwnFolder() + LOG_FOLDER + L"\\" + name + L".log"; }

std::wstring BinaryPath(const std::wstring& name, const std::wstring& behaviour) {
  wchar_t self[MAX_PATH];
  DWORD length = GetModuleFileNameW(NULL, self, MAX_PATH);
  return L"\"" + std::wstring(self, length) + L"\" run \"" + name + L"\" " + behaviour;
}

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
  }
  return "UNKNOWN";
}

// ---- the service process ---------------------------------------------------

struct ServiceProcess {
  std::wstring name;
  std::wstring behaviour;
  SERVICE_STATUS_HANDLE statusHandle = NULL;
  SERVICE_STATUS status = {};
  HANDLE stopRequested = NULL;
  HANDLE release = NULL;
};

ServiceProcess service;

void Log(const char* event) { AppendToFile(LogPath(service.name), std::string(event) + "\n"); }

void Report(DWORD state, DWORD exitCode = NO_ERROR, DWORD waitHint = 0) {
  service.status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  service.status.dwCurrentState = state;
  service.status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
  service.status.dwWin32ExitCode = exitCode;
  service.status.dwServiceSpecificExitCode = exitCode == ERROR_SERVICE_SPECIFIC_ERROR ? 1 : 0;
  service.status.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : service.status.dwCheckPoint + 1;
  service.status.dwWaitHint = waitHint;
  SetServiceStatus(service.statusHandle, &service.status);
}

DWORD WINAPI Handler(DWORD control, DWORD, void*, void*) {
  if (control == SERVICE_CONTROL_INTERROGATE) return NO_ERROR;
  if (control != SERVICE_CONTROL_STOP) return ERROR_CALL_NOT_IMPLEMENTED;
  Log("stop");
  if (service.behaviour == L"normal" || service.behaviour == L"slowstart" || service.behaviour == L"nostart") {
    // Stopped before the control returns, so the caller's first query sees it.
    Log("stopped");
    Report(SERVICE_STOPPED);
  } else {
    Report(SERVICE_STOP_PENDING, NO_ERROR, service.behaviour == L"slowstop" ? SLOW_MS + 1000 : 60000);
  }
  SetEvent(service.stopRequested);
  return NO_ERROR;
}

void WINAPI ServiceMain(DWORD, wchar_t**) {
  service.statusHandle = RegisterServiceCtrlHandlerExW(service.name.c_str(), Handler, NULL);
  if (service.statusHandle == NULL) return;
  Log("start");
  if (service.behaviour == L"nostart") {
    Log("refused");
    Report(SERVICE_STOPPED, ERROR_SERVICE_SPECIFIC_ERROR);
    return;
  }
  if (service.behaviour == L"slowstart") {
    Report(SERVICE_START_PENDING, NO_ERROR, SLOW_MS + 1000);
    Sleep(SLOW_MS);
  }
  Log("running");
  Report(SERVICE_RUNNING);
  WaitForSingleObject(service.stopRequested, INFINITE);
  if (service.behaviour == L"slowstop") {
    Sleep(SLOW_MS);
  } else if (service.behaviour == L"stuck") {
    WaitForSingleObject(service.release, INFINITE);
  } else {
    return;  // reported STOPPED in the handler already
  }
  Log("stopped");
  Report(SERVICE_STOPPED);
}

int RunService(const std::wstring& name, const std::wstring& behaviour) {
  service.name = name;
  service.behaviour = behaviour;
  service.stopRequested = CreateEventW(NULL, TRUE, FALSE, NULL);
  service.release = CreateNamedEvent(RELEASE_EVENT_PREFIX + name);
  CreateDirectoryW((OwnFolder() + LOG_FOLDER).c_str(), NULL);
  std::vector<wchar_t> serviceName(name.begin(), name.end());
  serviceName.push_back(L'\0');
  SERVICE_TABLE_ENTRYW table[] = {{serviceName.data(), ServiceMain}, {NULL, NULL}};
  return StartServiceCtrlDispatcherW(table) ? 0 : 1;
}

// ---- administration ----------------------------------------------------------

class ServiceHandle {
 public:
  explicit ServiceHandle(SC_HANDLE handle) : handle(handle) {}
  ~ServiceHandle() {
    if (handle != NULL) CloseServiceHandle(handle);
  }
  ServiceHandle(const ServiceHandle&) = delete;
  ServiceHandle& operator=(const ServiceHandle&) = delete;
  SC_HANDLE get() const { return handle; }

 private:
  SC_HANDLE handle;
};

bool QueryState(SC_HANDLE handle, DWORD* state) {
  SERVICE_STATUS status = {};
  if (!QueryServiceStatus(handle, &status)) return false;
  *state = status.dwCurrentState;
  return true;
}

bool WaitForState(SC_HANDLE handle, DWORD wanted, DWORD timeoutMs) {
  DWORD start = GetTickCount();
  for (;;) {
    DWORD state = 0;
    if (QueryState(handle, &state) && state == wanted) return true;
    if (GetTickCount() - start > timeoutMs) return false;
    Sleep(50);
  }
}

bool Configure(SC_HANDLE handle, const std::wstring& name, const std::wstring& behaviour) {
  return ChangeServiceConfigW(handle, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                              BinaryPath(name, behaviour).c_str(), NULL, NULL, NULL, NULL, NULL, NULL) != FALSE;
}

// Stops whatever runs now; a process that does not let go is ended.
bool StopCompletely(SC_HANDLE handle, const std::wstring& name) {
  SignalNamedEvent(RELEASE_EVENT_PREFIX + name);
  DWORD state = 0;
  if (!QueryState(handle, &state)) return false;
  if (state == SERVICE_STOPPED) return true;
  SERVICE_STATUS status = {};
  ControlService(handle, SERVICE_CONTROL_STOP, &status);
  if (WaitForState(handle, SERVICE_STOPPED, SETTLE_TIMEOUT_MS)) return true;
  SERVICE_STATUS_PROCESS process = {};
  DWORD needed = 0;
  if (QueryServiceStatusEx(handle, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&process), sizeof process, &needed) &&
      process.dwProcessId != 0) {
    HANDLE running = OpenProcess(PROCESS_TERMINATE, FALSE, process.dwProcessId);
    if (running != NULL) {
      TerminateProcess(running, 1);
      CloseHandle(running);
    }
  }
  return WaitForState(handle, SERVICE_STOPPED, SETTLE_TIMEOUT_MS);
}

std::string Prepare(SC_HANDLE manager, const std::wstring& name, const std::wstring& behaviour, bool running, bool* ok) {
  // A service that refuses to start can only be running if it learnt to refuse after it started.
  const std::wstring startingBehaviour = behaviour == L"nostart" ? L"normal" : behaviour;
  const std::wstring firstBehaviour = running ? startingBehaviour : behaviour;
  ServiceHandle handle(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
  if (handle.get() == NULL) {
    ServiceHandle created(CreateServiceW(manager, name.c_str(), name.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
                                         BinaryPath(name, firstBehaviour).c_str(), NULL, NULL, NULL, NULL, NULL));
    if (created.get() == NULL) {
      *ok = false;
      return "ERROR create " + std::to_string(GetLastError());
    }
    return Prepare(manager, name, behaviour, running, ok);
  }
  if (!StopCompletely(handle.get(), name)) {
    *ok = false;
    return "ERROR does not stop";
  }
  if (!Configure(handle.get(), name, firstBehaviour)) {
    *ok = false;
    return "ERROR configure " + std::to_string(GetLastError());
  }
  if (running) {
    if (!StartServiceW(handle.get(), 0, NULL) && GetLastError() != ERROR_SERVICE_ALREADY_RUNNING) {
      *ok = false;
      return "ERROR start " + std::to_string(GetLastError());
    }
    if (!WaitForState(handle.get(), SERVICE_RUNNING, SETTLE_TIMEOUT_MS)) {
      *ok = false;
      return "ERROR does not run";
    }
    if (firstBehaviour != behaviour && !Configure(handle.get(), name, behaviour)) {
      *ok = false;
      return "ERROR configure " + std::to_string(GetLastError());
    }
  }
  DeleteFileW(LogPath(name).c_str());
  return running ? "RUNNING" : "STOPPED";
}

std::string State(SC_HANDLE manager, const std::wstring& name) {
  ServiceHandle handle(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS));
  if (handle.get() == NULL) return GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST ? "NOSERVICE" : "ERROR open";
  DWORD state = 0;
  if (!QueryState(handle.get(), &state)) return "ERROR query";
  return StateName(state);
}

std::string Remove(SC_HANDLE manager, const std::wstring& name) {
  ServiceHandle handle(OpenServiceW(manager, name.c_str(), SERVICE_ALL_ACCESS));
  if (handle.get() == NULL) return "NOSERVICE";
  StopCompletely(handle.get(), name);
  return DeleteService(handle.get()) ? "REMOVED" : "ERROR delete " + std::to_string(GetLastError());
}

int Administer(int argc, wchar_t** argv) {
  const std::wstring command = argv[2];
  ServiceHandle manager(OpenSCManagerW(NULL, NULL, SC_MANAGER_ALL_ACCESS));
  if (manager.get() == NULL) {
    WriteWholeFile(argv[1], "ERROR manager " + std::to_string(GetLastError()) + "\n");
    return 1;
  }
  std::string output;
  bool ok = true;
  if (command == L"prepare" && (argc - 3) % 3 == 0) {
    CreateDirectoryW((OwnFolder() + LOG_FOLDER).c_str(), NULL);
    for (int i = 3; i + 2 < argc; i += 3) {
      const std::wstring state = argv[i + 2];
      if (state != L"running" && state != L"stopped") return 2;
      output += Utf8(argv[i]) + "\t" + Prepare(manager.get(), argv[i], argv[i + 1], state == L"running", &ok) + "\n";
    }
  } else if (command == L"state") {
    for (int i = 3; i < argc; ++i) output += Utf8(argv[i]) + "\t" + State(manager.get(), argv[i]) + "\n";
  } else if (command == L"remove") {
    for (int i = 3; i < argc; ++i) output += Utf8(argv[i]) + "\t" + Remove(manager.get(), argv[i]) + "\n";
  } else {
    return 2;
  }
  if (!WriteWholeFile(argv[1], output)) return 2;
  return ok ? 0 : 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc == 4 && std::wstring(argv[1]) == L"run") return RunService(argv[2], argv[3]);
  if (argc >= 3) return Administer(argc, argv);
  return 2;
}
