// The service control manager. Service names are case-insensitive, as in
// Windows; a pending state moves on only when the service is queried, so a
// test decides exactly how many polls a stop or start takes.
//
// Microsoft, "StartService": a disabled service is not started
// (ERROR_SERVICE_DISABLED), nor one marked for deletion
// (ERROR_SERVICE_MARKED_FOR_DELETE); "ChangeServiceConfig": the start type
// counts from the next start, so a disabled service may still be running and
// be stopped; "DeleteService": a service is marked for deletion and goes once
// nothing holds it, here at the next start of Windows, which starts the
// automatic services and no other. Pinned by
// SimulatedServicesTest.StartIsRefusedByTheConfigurationAndWindowsStartsWhatIsAutomatic.
#include "winsim/services.h"

#include <iterator>
#include <stdexcept>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

const DWORD MANAGER_CONNECT_RIGHTS = SC_MANAGER_CONNECT | GENERIC_EXECUTE | GENERIC_READ | GENERIC_ALL;

struct Service {
  std::string name;
  DWORD state;
  StopBehaviour stop;
  unsigned stopPendingQueries;
  StartBehaviour start;
  unsigned startPendingQueries;
  DWORD finalState;    // where a pending state leads
  unsigned pendingLeft;  // queries that still see the pending state
  bool stuck;
  unsigned queries;
  std::vector<ServiceRequest> requests;
  DWORD startType = SERVICE_AUTO_START;
  bool markedForDeletion = false;
};

struct ServiceHandle {
  std::size_t service;
  DWORD access;
};

struct ServiceManagerState {
  std::vector<Service> services;
  std::vector<DWORD> managerAccesses;  // index = manager handle object
  std::vector<ServiceOpen> opens;
  std::vector<ServiceHandle> serviceHandles;  // index = service handle object
};

ServiceManagerState& Manager() {
  static ServiceManagerState state;
  return state;
}

void ResetServices() { Manager() = ServiceManagerState(); }
ResetHook resetServices(&ResetServices);

// What was marked for deletion is gone; every other service is running if it
// starts automatically, stopped otherwise, with nothing pending.
void RestartServices() {
  std::vector<Service>& services = Manager().services;
  for (auto it = services.begin(); it != services.end();) {
    it = it->markedForDeletion ? services.erase(it) : std::next(it);
  }
  for (Service& service : services) {
    service.state = service.startType == SERVICE_AUTO_START ? SERVICE_RUNNING : SERVICE_STOPPED;
  }
}
RestartHook restartServices(&RestartServices);

Service* FindService(const char* name) {
  if (name == nullptr) return nullptr;
  const std::string wanted = LowerCase(name);
  for (Service& service : Manager().services) {
    if (LowerCase(service.name) == wanted) return &service;
  }
  return nullptr;
}

// The service behind a service handle, when the handle carries the right.
Service* ServiceFor(SC_HANDLE handle, DWORD right, DWORD* error) {
  std::size_t object = 0;
  if (!FindHandle(handle, HandleKind::Service, &object)) {
    *error = ERROR_INVALID_HANDLE;
    return nullptr;
  }
  const ServiceHandle& opened = Manager().serviceHandles[object];
  if ((opened.access & right) == 0) {
    *error = ERROR_ACCESS_DENIED;
    return nullptr;
  }
  return &Manager().services[opened.service];
}

// A request either completes at once or leaves the service pending for some queries.
void MoveTowards(Service& service, DWORD pendingState, DWORD finalState, unsigned pendingQueries, bool stuck) {
  if (!stuck && pendingQueries == 0) {
    service.state = finalState;
    return;
  }
  service.state = pendingState;
  service.finalState = finalState;
  service.pendingLeft = pendingQueries;
  service.stuck = stuck;
}

bool IsPending(DWORD state) {
  return state == SERVICE_STOP_PENDING || state == SERVICE_START_PENDING || state == SERVICE_CONTINUE_PENDING ||
         state == SERVICE_PAUSE_PENDING;
}

DWORD HeadingFor(DWORD pending) {
  if (pending == SERVICE_STOP_PENDING) return SERVICE_STOPPED;
  return pending == SERVICE_PAUSE_PENDING ? SERVICE_PAUSED : SERVICE_RUNNING;
}

void FillStatus(const Service& service, LPSERVICE_STATUS status) {
  *status = SERVICE_STATUS();
  status->dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  status->dwCurrentState = service.state;
  status->dwControlsAccepted = service.state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
}

// A test that configures a service it never installed has a typo.
Service& InstalledService(const char* name) {
  Service* service = FindService(name);
  if (service == nullptr) throw std::invalid_argument(std::string("service not installed: ") + name);
  return *service;
}

}  // namespace

void InstallService(const char* name, DWORD state) {
  Manager().services.push_back(
      Service{name, state, StopBehaviour::AtOnce, 0, StartBehaviour::AtOnce, 0, state, 0, false, 0, {}});
}

void RemoveService(const char* name) {
  std::vector<Service>& services = Manager().services;
  services.erase(services.begin() + (&InstalledService(name) - services.data()));
}

void SetServiceStartType(const char* name, DWORD startType) { InstalledService(name).startType = startType; }

void MarkServiceForDeletion(const char* name) { InstalledService(name).markedForDeletion = true; }

void SetStopBehaviour(const char* name, StopBehaviour behaviour, unsigned pendingQueries) {
  Service& service = InstalledService(name);
  service.stop = behaviour;
  service.stopPendingQueries = pendingQueries;
}

void SetStartBehaviour(const char* name, StartBehaviour behaviour, unsigned pendingQueries) {
  Service& service = InstalledService(name);
  service.start = behaviour;
  service.startPendingQueries = pendingQueries;
}

void SettleAfterQueries(const char* name, unsigned queries) {
  Service& service = InstalledService(name);
  if (IsPending(service.state)) MoveTowards(service, service.state, HeadingFor(service.state), queries, false);
}

DWORD ServiceState(const char* name) {
  const Service* service = FindService(name);
  return service != nullptr ? service->state : 0;
}

std::vector<ServiceRequest> ServiceRequests(const char* name) {
  const Service* service = FindService(name);
  return service != nullptr ? service->requests : std::vector<ServiceRequest>();
}

unsigned StatusQueries(const char* name) {
  const Service* service = FindService(name);
  return service != nullptr ? service->queries : 0;
}

const std::vector<DWORD>& ServiceManagerAccesses() { return Manager().managerAccesses; }
const std::vector<ServiceOpen>& ServiceOpens() { return Manager().opens; }

}  // namespace winsim

SC_HANDLE WINAPI OpenSCManagerW(LPCWSTR machineName, LPCWSTR databaseName, DWORD access) {
  if (winsim::Faulted("OpenSCManagerW")) return nullptr;
  winsim::ServiceManagerState& manager = winsim::Manager();
  manager.managerAccesses.push_back(access);
  if (machineName != nullptr || databaseName != nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);  // only the local, active database exists here
    return nullptr;
  }
  return reinterpret_cast<SC_HANDLE>(
      winsim::OpenHandle(winsim::HandleKind::ServiceManager, manager.managerAccesses.size() - 1));
}

SC_HANDLE WINAPI OpenServiceA(SC_HANDLE managerHandle, LPCSTR serviceName, DWORD access) {
  if (winsim::Faulted("OpenServiceA")) return nullptr;
  winsim::ServiceManagerState& manager = winsim::Manager();
  manager.opens.push_back(winsim::ServiceOpen{serviceName != nullptr ? serviceName : "", access});
  std::size_t managerObject = 0;
  if (!winsim::FindHandle(managerHandle, winsim::HandleKind::ServiceManager, &managerObject)) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  if ((manager.managerAccesses[managerObject] & winsim::MANAGER_CONNECT_RIGHTS) == 0) {
    SetLastError(ERROR_ACCESS_DENIED);
    return nullptr;
  }
  winsim::Service* service = winsim::FindService(serviceName);
  if (service == nullptr) {
    SetLastError(ERROR_SERVICE_DOES_NOT_EXIST);
    return nullptr;
  }
  manager.serviceHandles.push_back(
      winsim::ServiceHandle{static_cast<std::size_t>(service - manager.services.data()), access});
  return reinterpret_cast<SC_HANDLE>(
      winsim::OpenHandle(winsim::HandleKind::Service, manager.serviceHandles.size() - 1));
}

BOOL WINAPI QueryServiceStatus(SC_HANDLE handle, LPSERVICE_STATUS status) {
  if (winsim::Faulted("QueryServiceStatus")) return FALSE;
  DWORD error = 0;
  winsim::Service* service = winsim::ServiceFor(handle, SERVICE_QUERY_STATUS, &error);
  if (service == nullptr || status == nullptr) {
    SetLastError(service == nullptr ? error : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ++service->queries;
  if (winsim::IsPending(service->state) && !service->stuck) {
    if (service->pendingLeft == 0) {
      service->state = service->finalState;
    } else {
      --service->pendingLeft;
    }
  }
  winsim::FillStatus(*service, status);
  return TRUE;
}

BOOL WINAPI ControlService(SC_HANDLE handle, DWORD control, LPSERVICE_STATUS status) {
  if (winsim::Faulted("ControlService")) return FALSE;
  DWORD error = 0;
  winsim::Service* service = winsim::ServiceFor(handle, SERVICE_STOP, &error);
  if (service == nullptr || control != SERVICE_CONTROL_STOP || status == nullptr) {
    SetLastError(service == nullptr ? error : ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  service->requests.push_back(winsim::ServiceRequest::Stop);
  if (service->stop == winsim::StopBehaviour::StopsByItself) service->state = SERVICE_STOPPED;
  if (service->state == SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_NOT_ACTIVE);
    return FALSE;
  }
  if (service->state != SERVICE_RUNNING && service->state != SERVICE_PAUSED) {
    SetLastError(ERROR_SERVICE_CANNOT_ACCEPT_CTRL);
    return FALSE;
  }
  winsim::MoveTowards(*service, SERVICE_STOP_PENDING, SERVICE_STOPPED, service->stopPendingQueries,
                      service->stop == winsim::StopBehaviour::StuckPending);
  winsim::FillStatus(*service, status);
  return TRUE;
}

BOOL WINAPI StartServiceW(SC_HANDLE handle, DWORD, LPCWSTR*) {
  if (winsim::Faulted("StartServiceW")) return FALSE;
  DWORD error = 0;
  winsim::Service* service = winsim::ServiceFor(handle, SERVICE_START, &error);
  if (service == nullptr) {
    SetLastError(error);
    return FALSE;
  }
  if (service->markedForDeletion || service->startType == SERVICE_DISABLED) {
    SetLastError(service->markedForDeletion ? ERROR_SERVICE_MARKED_FOR_DELETE : ERROR_SERVICE_DISABLED);
    return FALSE;
  }
  service->requests.push_back(winsim::ServiceRequest::Start);
  if (service->start == winsim::StartBehaviour::StartedByOther) service->state = SERVICE_RUNNING;
  if (service->state != SERVICE_STOPPED) {
    SetLastError(ERROR_SERVICE_ALREADY_RUNNING);
    return FALSE;
  }
  winsim::MoveTowards(*service, SERVICE_START_PENDING, SERVICE_RUNNING, service->startPendingQueries,
                      service->start == winsim::StartBehaviour::NeverStarts);
  return TRUE;
}

BOOL WINAPI CloseServiceHandle(SC_HANDLE handle) {
  if (winsim::Faulted("CloseServiceHandle")) return FALSE;
  if (winsim::CloseHandleOf(handle, winsim::HandleKind::Service) ||
      winsim::CloseHandleOf(handle, winsim::HandleKind::ServiceManager)) {
    return TRUE;
  }
  SetLastError(ERROR_INVALID_HANDLE);
  return FALSE;
}
