#include "services/service_control.h"

#include <new>

#include "platform/scoped_handle.h"
#include "platform/text.h"

namespace {

// GENERIC_EXECUTE on the manager is enough to open a service in it.
constexpr DWORD MANAGER_ACCESS = GENERIC_EXECUTE;
constexpr DWORD QUERY_ACCESS = SERVICE_QUERY_STATUS;
constexpr DWORD STOP_ACCESS = SERVICE_STOP | SERVICE_QUERY_STATUS;
constexpr DWORD START_ACCESS = SERVICE_START | SERVICE_QUERY_STATUS;
constexpr SIZE_T SERVICE_STATUS_SIZE = 28;
static_assert(sizeof(SERVICE_STATUS) == SERVICE_STATUS_SIZE, "SERVICE_STATUS is seven 32-bit fields");

// The service manager and one service in it, each closed by its owner.
// On failure *error is the error of the call that failed.
bool OpenNamedService(const char* name, DWORD access, ServiceHandle* manager, ServiceHandle* service, DWORD* error) {
  manager->Reset(OpenSCManagerW(nullptr, nullptr, MANAGER_ACCESS));
  if (manager->IsSet()) service->Reset(OpenServiceA(manager->Get(), name, access));
  if (service->IsSet()) return true;
  SetOutParameter(error, GetLastError());
  return false;
}

// A zeroed SERVICE_STATUS from LocalAlloc.
bool AllocateStatus(LocalBlock<SERVICE_STATUS>* status) {
  status->Reset(static_cast<LPSERVICE_STATUS>(LocalAlloc(LPTR, SERVICE_STATUS_SIZE)));
  return status->IsSet();
}

}  // namespace

ServiceControl::ServiceControl() : name(nullptr) {}

ServiceControl::~ServiceControl() { delete[] name; }

// A name cut short would address another service, so a name too long is refused.
int ServiceControl::SetName(const char* serviceName) { return StoreOwnedText(&name, MAX_PATH, serviceName); }

bool ServiceControl::IsRunning(DWORD* error) { return IsInState(SERVICE_RUNNING, error); }

bool ServiceControl::IsStopped(DWORD* error) { return IsInState(SERVICE_STOPPED, error); }

bool ServiceControl::IsInState(DWORD wanted, DWORD* error) {
  DWORD state = 0;
  return QueryState(&state, error) && state == wanted;
}

bool ServiceControl::QueryState(DWORD* state, DWORD* error) {
  SetOutParameter(error, SERVICE_ERROR_PRESET);
  ServiceHandle manager;
  ServiceHandle service;
  if (!OpenNamedService(Name(), QUERY_ACCESS, &manager, &service, error)) return false;
  LocalBlock<SERVICE_STATUS> status;
  if (!AllocateStatus(&status) || !QueryServiceStatus(service.Get(), status.Get())) {
    SetOutParameter(error, GetLastError());
    return false;
  }
  *state = status.Get()->dwCurrentState;
  return true;
}

int ServiceControl::Stop() {
  DWORD state = 0;
  if (!QueryState(&state, nullptr) || (state != SERVICE_RUNNING && state != SERVICE_PAUSED)) {
    return ERR_SERVICE_COMMAND_FAILED;
  }
  DWORD error = SERVICE_ERROR_PRESET;
  ServiceHandle manager;
  ServiceHandle service;
  if (!OpenNamedService(Name(), STOP_ACCESS, &manager, &service, &error)) return static_cast<int>(error);
  LocalBlock<SERVICE_STATUS> status;
  if (!AllocateStatus(&status)) return static_cast<int>(GetLastError());
  if (ControlService(service.Get(), SERVICE_CONTROL_STOP, status.Get())) return 0;
  error = GetLastError();
  // The service stopped by itself between the question and the request.
  return error == ERROR_SERVICE_NOT_ACTIVE ? 0 : static_cast<int>(error);
}

int ServiceControl::Start(DWORD* error) {
  SetOutParameter(error, SERVICE_ERROR_PRESET);
  if (IsRunning(nullptr)) return 0;
  DWORD openError = SERVICE_ERROR_PRESET;
  ServiceHandle manager;
  ServiceHandle service;
  if (!OpenNamedService(Name(), START_ACCESS, &manager, &service, &openError)) {
    SetOutParameter(error, openError);
    return static_cast<int>(openError);
  }
  if (StartServiceW(service.Get(), 0, nullptr)) return 0;
  const DWORD refused = GetLastError();
  // Someone else started it meanwhile, which is all that was asked for.
  if (refused == ERROR_SERVICE_ALREADY_RUNNING) return 0;
  SetOutParameter(error, refused);
  return ERR_SERVICE_COMMAND_FAILED;
}

const char* ServiceControl::Name() const { return name != nullptr ? name : ""; }
