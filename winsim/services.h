// The service control manager: installed services with their state and how
// each one reacts to stop and start requests, and a record of what was asked.
#pragma once

#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

// How a service answers a stop request (accepted while running or paused).
enum class StopBehaviour {
  AtOnce,          // stopped before the request returns
  AfterQueries,    // stop-pending for the given number of status queries, then stopped
  StuckPending,    // stop-pending for ever
  StopsByItself,   // stops on its own just before the request: ERROR_SERVICE_NOT_ACTIVE
};

// How a stopped service answers a start request.
enum class StartBehaviour {
  AtOnce,          // running before the request returns
  AfterQueries,    // start-pending for the given number of status queries, then running
  NeverStarts,     // accepted, start-pending for ever
  StartedByOther,  // started by someone else just before: ERROR_SERVICE_ALREADY_RUNNING
};

// Installs a service in a state; it stops and starts at once until told otherwise.
void InstallService(const char* name, DWORD state);
// Takes an installed service away again, before any handle to a service is open.
void RemoveService(const char* name);
// SERVICE_AUTO_START, SERVICE_DEMAND_START or SERVICE_DISABLED; a service is
// installed automatic. The state it is in now stays.
void SetServiceStartType(const char* name, DWORD startType);
// As DeleteService while something holds the service: it can still be opened,
// stopped and queried, not started, and it is gone after the next start of Windows.
void MarkServiceForDeletion(const char* name);
void SetStopBehaviour(const char* name, StopBehaviour behaviour, unsigned pendingQueries = 0);
void SetStartBehaviour(const char* name, StartBehaviour behaviour, unsigned pendingQueries = 0);
// A service installed in a pending state stays so for ever unless told to
// reach, after that many more status queries, the state it is heading for
// (start and continue pending: running; stop pending: stopped; pause pending: paused).
void SettleAfterQueries(const char* name, unsigned queries);

// The state the service is in now; 0 for a service that is not installed.
DWORD ServiceState(const char* name);

enum class ServiceRequest { Stop, Start };
// Every stop and start request that reached the service, in order.
std::vector<ServiceRequest> ServiceRequests(const char* name);
unsigned StatusQueries(const char* name);

struct ServiceOpen {
  std::string name;
  DWORD access;
};
// The access asked for by every OpenSCManagerW and every OpenServiceA, in order.
const std::vector<DWORD>& ServiceManagerAccesses();
const std::vector<ServiceOpen>& ServiceOpens();

}  // namespace winsim
