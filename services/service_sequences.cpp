// Stopping the application's services before the update and starting them
// again afterwards. Each operation handles one service, when the installed
// version has it, and waits for it by polling.
#include <memory>
#include <new>

#include "app/updater.h"
#include "log/result_words.h"
#include "services/service_control.h"

namespace {

constexpr DWORD POLL_INTERVAL_MS = 500;
constexpr DWORD WAIT_TIMEOUT_MS = 30000;
constexpr int OUTCOME_SIZE = 40;

typedef bool (*StateTest)(DWORD state);

bool IsStoppedState(DWORD state) { return state == SERVICE_STOPPED; }
bool IsRunningState(DWORD state) { return state == SERVICE_RUNNING; }
bool IsSettledState(DWORD state) {
  return state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING && state != SERVICE_CONTINUE_PENDING &&
         state != SERVICE_PAUSE_PENDING;
}

const char* StateName(DWORD state) {
  switch (state) {
    case SERVICE_STOPPED: return "stopped";
    case SERVICE_START_PENDING: return "start pending";
    case SERVICE_STOP_PENDING: return "stop pending";
    case SERVICE_RUNNING: return "running";
    case SERVICE_CONTINUE_PENDING: return "continue pending";
    case SERVICE_PAUSE_PENDING: return "pause pending";
    case SERVICE_PAUSED: return "paused";
    default: return "in an unknown state";
  }
}

// A control for the service, or none when it cannot be made; none counts as a
// failed wait, so the run never goes on with a service in an unknown state.
std::unique_ptr<ServiceControl> ControlFor(const Updater& updater, const ApplicationService& service,
                                           const char* verb) {
  std::unique_ptr<ServiceControl> control(new (std::nothrow) ServiceControl);
  if (control && control->SetName(service.name) != 0) control.reset();
  if (!control) updater.Note("service \"%s\": could not be asked to %s", service.name, verb);
  return control;
}

// Asks until the service's state passes the test or more than the timeout has
// passed since startTick; *state is the last state read. The elapsed time is an
// unsigned difference of ticks, which stays right across the counter's wrap.
bool WaitForState(ServiceControl& control, StateTest reached, DWORD startTick, DWORD* state) {
  for (;;) {
    if (control.QueryState(state, nullptr) && reached(*state)) return true;
    if (GetTickCount() - startTick > WAIT_TIMEOUT_MS) return false;
    Sleep(POLL_INTERVAL_MS);
  }
}

// "done", or how long it was waited for in vain.
const char* Outcome(bool done, char (&text)[OUTCOME_SIZE]) {
  wsprintfA(text, done ? "done" : "not done within %u ms", static_cast<unsigned>(WAIT_TIMEOUT_MS));
  return text;
}

// "asked to stop" or "asked to start", with why where the request failed.
ResultWords Request(const char* verb, int requested, const ResultWords& why) {
  ResultWords request;
  wsprintfA(request.text, requested == 0 ? "asked to %s" : "asked to %s (%s)", verb, why.text);
  return request;
}

// A running service's stop as ever; what else was found comes first.
void NoteStop(const Updater& updater, const ApplicationService& service, DWORD found, DWORD settled, int requested,
              bool stopped) {
  char outcome[OUTCOME_SIZE];
  Outcome(stopped, outcome);
  const ResultWords request = Request("stop", requested, DescribeResult(requested, FROM_SERVICE));
  if (found == SERVICE_RUNNING) {
    updater.Note("service \"%s\": %s, %s", service.name, request.text, outcome);
  } else if (found == settled) {
    updater.Note("service \"%s\": found %s, %s, %s", service.name, StateName(found), request.text, outcome);
  } else {
    updater.Note("service \"%s\": found %s, then %s, %s, %s", service.name, StateName(found), StateName(settled),
                 request.text, outcome);
  }
}

bool IsHandled(const Updater& updater, ApplicationServiceIndex index) {
  return updater.installedVersion >= APPLICATION_SERVICES[index].lowestVersion;
}

// A service found not running, or settled so, is not asked to stop; it is
// this run's to start again only where an earlier run since Windows started
// asked it and left it so.
void NoteNotAsked(const Updater& updater, const ApplicationService& service, DWORD found, DWORD state,
                  bool askedEarlier) {
  const char* outcome = askedEarlier ? "left so by an earlier run since Windows started: to be started again"
                                     : "not asked to stop";
  if (found == state) {
    updater.Note("service \"%s\": %s, %s", service.name, found == SERVICE_STOPPED && !askedEarlier ? "not running"
                                                                                                 : StateName(state),
                 outcome);
  } else {
    updater.Note("service \"%s\": found %s, then %s, %s", service.name, StateName(found), StateName(state), outcome);
  }
}

// A service that is still starting or stopping uses the files as much as a
// running one: it is waited for until it settles, and stopped when it then
// runs or is paused. The settling and the stop share the one timeout. The
// record of this start of Windows says that the service was asked to stop
// before it is asked, and from then on it is the run's to start again,
// whether it stops in time or not; an earlier run since Windows started
// may have left it so too.
bool StopApplicationService(Updater& updater, ApplicationServiceIndex index) {
  const ApplicationService& service = APPLICATION_SERVICES[index];
  if (!IsHandled(updater, index)) return true;
  std::unique_ptr<ServiceControl> control = ControlFor(updater, service, "stop");
  if (!control) return false;
  const bool askedEarlier = updater.bootRecord.ServiceAskedToStop(index);
  DWORD found = 0;
  DWORD error = SERVICE_ERROR_PRESET;
  if (!control->QueryState(&found, &error)) {
    updater.Note("service \"%s\": not found or not readable (%s), not asked to stop", service.name,
                 DescribeResult(static_cast<int>(error), FROM_WINDOWS).text);
    return true;
  }
  DWORD state = found;
  DWORD startTick = GetTickCount();
  if (!IsSettledState(found) && !WaitForState(*control, IsSettledState, startTick, &state)) {
    updater.Note("service \"%s\": found %s, still so after %u ms, not asked to stop", service.name,
                 StateName(found), static_cast<unsigned>(WAIT_TIMEOUT_MS));
    return false;
  }
  if (state != SERVICE_RUNNING && state != SERVICE_PAUSED) {
    NoteNotAsked(updater, service, found, state, askedEarlier);
    return true;
  }
  const int recorded = updater.bootRecord.MarkService(index, true);
  if (recorded != 0) {
    updater.Note("service \"%s\": its stop could not be recorded (%s)", service.name,
                 DescribeResult(recorded, FROM_REGISTRY).text);
  }
  const DWORD settled = state;
  const int requested = control->Stop();
  // A request the service refused leaves it as it was: not the run's.
  if (requested != 0 && !askedEarlier) updater.bootRecord.MarkService(index, false);
  if (found == SERVICE_RUNNING) startTick = GetTickCount();
  const bool stopped = WaitForState(*control, IsStoppedState, startTick, &state);
  NoteStop(updater, service, found, settled, requested, stopped);
  return stopped;
}

// A service started again, or one that can never be, is no longer one to
// start: the record forgets it.
void ForgetStopRequest(Updater& updater, const ApplicationService& service, ApplicationServiceIndex index) {
  if (!updater.bootRecord.ServiceAskedToStop(index)) return;
  const int saved = updater.bootRecord.MarkService(index, false);
  if (saved != 0) {
    updater.Note("service \"%s\": the record of its stop could not be cleared (%s)", service.name,
                 DescribeResult(saved, FROM_REGISTRY).text);
  }
}

// Disabled, deleted or marked for deletion: no later run could start it either.
bool IsRefusedForGood(DWORD error) {
  return error == ERROR_SERVICE_DISABLED || error == ERROR_SERVICE_DOES_NOT_EXIST ||
         error == ERROR_SERVICE_MARKED_FOR_DELETE;
}

// One still stopping takes a start only once it has stopped: it is waited
// for first, within the one timeout.
bool StartApplicationService(Updater& updater, ApplicationServiceIndex index) {
  const ApplicationService& service = APPLICATION_SERVICES[index];
  if (!IsHandled(updater, index)) return true;
  std::unique_ptr<ServiceControl> control = ControlFor(updater, service, "start");
  if (!control) return false;
  if (control->IsRunning(nullptr)) {
    updater.Note("service \"%s\": running, not asked to start", service.name);
    ForgetStopRequest(updater, service, index);
    return true;
  }
  DWORD state = 0;
  const DWORD startTick = GetTickCount();
  WaitForState(*control, IsSettledState, startTick, &state);
  DWORD refusal = SERVICE_ERROR_PRESET;
  const int requested = control->Start(&refusal);
  const bool started = WaitForState(*control, IsRunningState, startTick, &state);
  char outcome[OUTCOME_SIZE];
  // A refused request says why in Windows' words.
  const ResultWords request = Request("start", requested,
                                      requested == ERR_SERVICE_COMMAND_FAILED
                                          ? DescribeResult(static_cast<int>(refusal), FROM_WINDOWS)
                                          : DescribeResult(requested, FROM_SERVICE));
  updater.Note("service \"%s\": %s, %s", service.name, request.text, Outcome(started, outcome));
  if (!started && IsRefusedForGood(refusal)) {
    updater.Note("service \"%s\": its start is refused for good: no later run starts it", service.name);
  }
  if (started || IsRefusedForGood(refusal)) ForgetStopRequest(updater, service, index);
  return started;
}

}  // namespace

bool Updater::StopControlService() { return StopApplicationService(*this, CONTROL_SERVICE); }
bool Updater::StopCopyService() { return StopApplicationService(*this, COPY_SERVICE); }
bool Updater::StopMonitorService() { return StopApplicationService(*this, MONITOR_SERVICE); }
bool Updater::StartControlService() { return StartApplicationService(*this, CONTROL_SERVICE); }
bool Updater::StartCopyService() { return StartApplicationService(*this, COPY_SERVICE); }
bool Updater::StartMonitorService() { return StartApplicationService(*this, MONITOR_SERVICE); }

// Each one is tried whatever became of the one before: a service that does
// not come back must not keep the others from the application.
bool Updater::RestartStoppedServices() {
  bool allRunning = true;
  for (int index = CONTROL_SERVICE; index <= MONITOR_SERVICE; ++index) {
    if (!bootRecord.ServiceAskedToStop(index)) continue;
    if (!StartApplicationService(*this, static_cast<ApplicationServiceIndex>(index))) allRunning = false;
  }
  return allRunning;
}
