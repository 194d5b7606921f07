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

bool StopSequence(DWORD installedVersion, ApplicationServiceIndex index) {
  const ApplicationService& service = APPLICATION_SERVICES[index];
  if (installedVersion < service.lowestVersion) return true;
  std::unique_ptr<ServiceControl> control = ControlFor(service);
  if (!control) return false;
  if (!control->IsRunning(nullptr)) return true;
  control->Stop();
  return WaitForState(*control, &ServiceControl::IsStopped);
}

bool StartSequence(DWORD installedVersion, ApplicationServiceIndex index) {
  const ApplicationService& service = APPLICATION_SERVICES[index];
  if (installedVersion < service.lowestVersion) return true;
  std::unique_ptr<ServiceControl> control = ControlFor(service);
  if (!control) return false;
  if (control->IsRunning(nullptr)) return true;
  control->Start();
  return WaitForState(*control, &ServiceControl::IsRunning);
}

}  // namespace

bool Updater::StopControlService() const { return StopSequence(installedVersion, CONTROL_SERVICE); }
bool Updater::StopCopyService() const { return StopSequence(installedVersion, COPY_SERVICE); }
bool Updater::StopMonitorService() const { return StopSequence(installedVersion, MONITOR_SERVICE); }
bool Updater::StartControlService() const { return StartSequence(installedVersion, CONTROL_SERVICE); }
bool Updater::StartCopyService() const { return StartSequence(installedVersion, COPY_SERVICE); }
bool Updater::StartMonitorService() const { return StartSequence(installedVersion, MONITOR_SERVICE); }
