// Stopping the application's services before the update and starting them
// again when the user declines the restart. Each operation handles one
// service, when the installed version has it, and waits for it by polling.
#include <memory>
#include <new>

#include "app/updater.h"
#include "services/service_control.h"

namespace {

struct ApplicationService {
  const char* name;
  DWORD lowestVersion;  // the first installed version that has the service
};

enum ApplicationServiceIndex { CONTROL_SERVICE, COPY_SERVICE, MONITOR_SERVICE, APPLICATION_SERVICE_COUNT };

constexpr ApplicationService APPLICATION_SERVICES[APPLICATION_SERVICE_COUNT] = {
    {"ODRIX Carvella Control Service", 0},
    {"ODRIX Carvella Copy Service", 0x06000000},
    {"ODRIX Carvella Monitor Service", 0x0A000000},
};

constexpr DWORD POLL_INTERVAL_MS = 500;
constexpr DWORD WAIT_TIMEOUT_MS = 30000;

typedef bool (ServiceControl::*StateQuestion)(DWORD* error);

// A control for the service, or none when it cannot be made; none counts as a
// failed wait, so the run never goes on with a service in an unknown state.
std::unique_ptr<ServiceControl> ControlFor(const ApplicationService& service) {
  std::unique_ptr<ServiceControl> control(new (std::nothrow) ServiceControl);
  if (control && control->SetName(service.name) != 0) control.reset();
  return control;
}

// Asks until the service is in the wanted state. The elapsed time is an
// unsigned difference of ticks, which stays right across the counter's wrap.
bool WaitForState(ServiceControl& control, StateQuestion reached) {
  const DWORD commandTick = GetTickCount();
  for (;;) {
    if ((control.*reached)(nullptr)) return true;
    if (GetTickCount() - commandTick > WAIT_TIMEOUT_MS) return false;
    Sleep(POLL_INTERVAL_MS);
  }
}

// One way of changing a service: the command, the state it must reach, and
// whether it is for a service that runs (a stop) or for one that does not (a start).
struct ServiceChange {
  const char* verb;
  bool forRunningService;
  int (ServiceControl::*command)();
  StateQuestion reached;
};

constexpr ServiceChange STOP = {"stop", true, &ServiceControl::Stop, &ServiceControl::IsStopped};
constexpr ServiceChange START = {"start", false, &ServiceControl::Start, &ServiceControl::IsRunning};

// A service of a later version than the installed one is left alone; one
// already as wanted is not asked.
bool ChangeService(const Updater& updater, ApplicationServiceIndex index, const ServiceChange& change) {
  const ApplicationService& service = APPLICATION_SERVICES[index];
  if (updater.installedVersion < service.lowestVersion) return true;
  std::unique_ptr<ServiceControl> control = ControlFor(service);
  if (!control) {
    updater.Note("service \"%s\": could not be asked to %s", service.name, change.verb);
    return false;
  }
  if (control->IsRunning(nullptr) != change.forRunningService) {
    updater.Note("service \"%s\": %s, not asked to %s", service.name,
                 change.forRunningService ? "not running" : "running", change.verb);
    return true;
  }
  const int requested = ((*control).*change.command)();
  const bool reached = WaitForState(*control, change.reached);
  if (reached) {
    updater.Note("service \"%s\": asked to %s (%d), done", service.name, change.verb, requested);
  } else {
    updater.Note("service \"%s\": asked to %s (%d), not done within %u ms", service.name, change.verb, requested,
                 static_cast<unsigned>(WAIT_TIMEOUT_MS));
  }
  return reached;
}

}  // namespace

bool Updater::StopControlService() const { return ChangeService(*this, CONTROL_SERVICE, STOP); }
bool Updater::StopCopyService() const { return ChangeService(*this, COPY_SERVICE, STOP); }
bool Updater::StopMonitorService() const { return ChangeService(*this, MONITOR_SERVICE, STOP); }
bool Updater::StartControlService() const { return ChangeService(*this, CONTROL_SERVICE, START); }
bool Updater::StartCopyService() const { return ChangeService(*this, COPY_SERVICE, START); }
bool Updater::StartMonitorService() const { return ChangeService(*this, MONITOR_SERVICE, START); }
