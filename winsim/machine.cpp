// Reset, call counting and fault injection, shared by every part of the machine.
#include "winsim/machine.h"

#include <map>

#include "winsim/internal.h"

namespace winsim {
namespace {

struct CallFault {
  unsigned nth;
  bool onwards;
  DWORD error;
};

struct CallState {
  std::map<std::string, unsigned> counts;
  std::multimap<std::string, CallFault> faults;
  std::vector<std::string> log;
  unsigned allocations = 0;
  unsigned failingAllocation = 0;
  std::vector<std::size_t> allocationPositions;  // call log length at each allocation
  std::size_t endBeforeCall = 0;
  void (*endProcess)() = nullptr;
};

CallState& Calls() {
  static CallState state;
  return state;
}

struct RegisteredReset {
  void (*reset)();
  ResetOrder order;
};

std::vector<RegisteredReset>& ResetHooks() {
  static std::vector<RegisteredReset> hooks;
  return hooks;
}

std::vector<void (*)()>& RestartHooks() {
  static std::vector<void (*)()> hooks;
  return hooks;
}

void ResetCalls() { Calls() = CallState(); }
ResetHook resetCalls(&ResetCalls, ResetOrder::Core);

}  // namespace

ResetHook::ResetHook(void (*reset)(), ResetOrder order) { ResetHooks().push_back(RegisteredReset{reset, order}); }

RestartHook::RestartHook(void (*restart)()) { RestartHooks().push_back(restart); }

void StartWindowsAgain() {
  EndProcess();
  for (void (*restart)() : RestartHooks()) restart();
}

void ResetMachine() {
  for (ResetOrder order : {ResetOrder::Core, ResetOrder::Part}) {
    for (const RegisteredReset& hook : ResetHooks()) {
      if (hook.order == order) hook.reset();
    }
  }
}

bool EnterCall(const char* function, DWORD* error) {
  CallState& calls = Calls();
  if (calls.endProcess != nullptr && calls.log.size() + 1 == calls.endBeforeCall) {
    void (*end)() = calls.endProcess;
    calls.endProcess = nullptr;
    end();
  }
  calls.log.push_back(function);
  const unsigned count = ++calls.counts[function];
  auto range = calls.faults.equal_range(function);
  for (auto it = range.first; it != range.second; ++it) {
    const CallFault& fault = it->second;
    if (count == fault.nth || (fault.onwards && count > fault.nth)) {
      *error = fault.error;
      return true;
    }
  }
  return false;
}

bool Faulted(const char* function) {
  DWORD error = 0;
  if (!EnterCall(function, &error)) return false;
  SetLastError(error);
  return true;
}

bool Faulted(const char* function, LSTATUS* error) {
  DWORD fault = 0;
  if (!EnterCall(function, &fault)) return false;
  *error = static_cast<LSTATUS>(fault);
  return true;
}

void CountCall(const char* function) {
  DWORD ignored = 0;
  EnterCall(function, &ignored);
}

void FailCall(const char* function, unsigned nth, DWORD error) {
  Calls().faults.insert({function, CallFault{nth, false, error}});
}

void FailCallsFrom(const char* function, unsigned nth, DWORD error) {
  Calls().faults.insert({function, CallFault{nth, true, error}});
}

unsigned CallCount(const char* function) {
  auto it = Calls().counts.find(function);
  return it == Calls().counts.end() ? 0 : it->second;
}

const std::vector<std::string>& CallLog() { return Calls().log; }

void FailAllocation(unsigned nth) { Calls().failingAllocation = nth; }

bool EnterAllocation() {
  CallState& calls = Calls();
  calls.allocationPositions.push_back(calls.log.size());
  return ++calls.allocations != calls.failingAllocation;
}

std::size_t AllocationLogPosition(unsigned nth) {
  const CallState& calls = Calls();
  return nth >= 1 && nth <= calls.allocationPositions.size() ? calls.allocationPositions[nth - 1] : 0;
}

unsigned AllocationCount() { return Calls().allocations; }

void EndProcessBeforeCall(std::size_t nth, void (*end)()) {
  Calls().endBeforeCall = nth;
  Calls().endProcess = end;
}

void EndProcess() {
  Calls().endProcess = nullptr;
  CloseEveryHandle();
  FreeLocalAllocations();
}

}  // namespace winsim
