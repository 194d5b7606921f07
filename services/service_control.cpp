#include "services/service_control.h"

#include <new>

#include "platform/text.h"

namespace {

// GENERIC_EXECUTE on the manager is enough to open a service in it.
constexpr DWORD MANAGER_ACCESS = GENERIC_EXECUTE;
constexpr DWORD QUERY_ACCESS = SERVICE_QUERY_STATUS;
constexpr DWORD STOP_ACCESS = SERVICE_STOP | SERVICE_QUERY_STATUS;
constexpr DWORD START_ACCESS = SERVICE_START | SERVICE_QUERY_STATUS;
constexpr SIZE_T SERVICE_STATUS_SIZE = 28;
static_assert(sizeof(SERVICE_STATUS) == SERVICE_STATUS_SIZE, "SERVICE_STATUS is seven 32-bit fields");

// The service manager and one service in it; both closed when this goes.
class OpenedService {
 public:
  OpenedService() : manager(NULL), service(NULL) {}
  ~OpenedService() {
    if (service != NULL) CloseServiceHandle(service);
    if (manager != NULL) CloseServiceHandle(manager);
  }
  OpenedService(const OpenedService&) = delete;
  OpenedService& operator=(const OpenedService&) = delete;

  // On failure *error is the error of the call that failed.
  bool Open(const char* name, DWORD access, DWORD* error) {
    manager = OpenSCManagerW(NULL, NULL, MANAGER_ACCESS);
    if (manager == NULL) {
      *error = GetLastError();
      return false;
    }
    service = OpenServiceA(manager, name, access);
    if (service == NULL) {
      *error = GetLastError();
      return false;
    }
    return true;
  }
  SC_HANDLE Service() const { return service; }

 private:
  SC_HANDLE manager;
  SC_HANDLE service;
};

// A zeroed SERVICE_STATUS from LocalAlloc, freed when this goes.
class StatusRecord {
 public:
  StatusRecord() : record(NULL) {}
  ~StatusRecord() {
    if (record != NULL) LocalFree(record);
  }
  StatusRecord(const StatusRecord&) = delete;
  StatusRecord& operator=(const StatusRecord&) = delete;

  bool Allocate() {
    record = static_cast<LPSERVICE_STATUS>(LocalAlloc(LPTR, SERVICE_STATUS_SIZE));
    return record != NULL;
  }
  LPSERVICE_STATUS Get() const { return record; }

 private:
  LPSERVICE_STATUS record;
};

}  // namespace

ServiceControl::ServiceControl() : name(nullptr) {}

ServiceControl::~ServiceControl() { delete[] name; }

// A name cut short would address another service, so a name too long is refused.
int ServiceControl::SetName(const char* serviceName) { return StoreOwnedText(&name, MAX_PATH, serviceName); }

bool ServiceControl::IsRunning(DWORD* error) { return IsInState(SERVICE_RUNNING, error); }

bool ServiceControl::IsStopped(DWORD* error) { return IsInState(SERVICE_STOPPED, error); }

bool ServiceControl::IsInState(DWORD wanted, DWORD* error) {
  *error = SERVICE_ERROR_PRESET;
  OpenedService opened;
  if (!opened.Open(Name(), QUERY_ACCESS, error)) return false;
  StatusRecord status;
  if (!status.Allocate() || !QueryServiceStatus(opened.Service(), status.Get())) {
    *error = GetLastError();
    return false;
  }
  return status.Get()->dwCurrentState == wanted;
}

int ServiceControl::Stop() {
  DWORD error = SERVICE_ERROR_PRESET;
  if (!IsRunning(&error)) return ERR_SERVICE_COMMAND_FAILED;
  OpenedService opened;
  if (!opened.Open(Name(), STOP_ACCESS, &error)) return static_cast<int>(error);
  StatusRecord status;
  if (!status.Allocate()) return static_cast<int>(GetLastError());
  if (ControlService(opened.Service(), SERVICE_CONTROL_STOP, status.Get())) return 0;
  error = GetLastError();
  // The service stopped by itself between the question and the request.
  return error == ERROR_SERVICE_NOT_ACTIVE ? 0 : static_cast<int>(error);
}

int ServiceControl::Start() {
  DWORD error = SERVICE_ERROR_PRESET;
  if (IsRunning(&error)) return 0;
  OpenedService opened;
  if (!opened.Open(Name(), START_ACCESS, &error)) return static_cast<int>(error);
  if (StartServiceW(opened.Service(), 0, NULL)) return 0;
  // Someone else started it meanwhile, which is all that was asked for.
  return GetLastError() == ERROR_SERVICE_ALREADY_RUNNING ? 0 : ERR_SERVICE_COMMAND_FAILED;
}

const char* ServiceControl::Name() const { return name != nullptr ? name : ""; }
