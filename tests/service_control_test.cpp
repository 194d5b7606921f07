#include "services/service_control.h"

#include <string>
#include <vector>

#include "tests/machine_test.h"
#include "winsim/services.h"

namespace {

using winsim::ServiceRequest;

const char SERVICE[] = "ODRIX Carvella Copy Service";
const std::vector<ServiceRequest> NO_REQUEST;
const std::vector<ServiceRequest> ONE_STOP{ServiceRequest::Stop};
const std::vector<ServiceRequest> ONE_START{ServiceRequest::Start};

class ServiceControlTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    ASSERT_EQ(control.SetName(SERVICE), 0);
  }

  // Whatever an operation did, it leaves no handle and no status record behind.
  static void ExpectNothingLeftOpen() {
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
  }

  static std::vector<DWORD> ServiceAccesses() {
    std::vector<DWORD> accesses;
    for (const winsim::ServiceOpen& open : winsim::ServiceOpens()) {
      EXPECT_EQ(open.name, SERVICE);
      accesses.push_back(open.access);
    }
    return accesses;
  }

  ServiceControl control;
};

TEST_F(ServiceControlTest, OnlyRunningAndStoppedAnswerTheirQuestion) {
  struct Case {
    DWORD state;
    bool running;
    bool stopped;
  } cases[] = {
      {SERVICE_RUNNING, true, false},        {SERVICE_STOPPED, false, true},
      {SERVICE_PAUSED, false, false},        {SERVICE_STOP_PENDING, false, false},
      {SERVICE_START_PENDING, false, false}, {SERVICE_CONTINUE_PENDING, false, false},
      {SERVICE_PAUSE_PENDING, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "state " << c.state);
    winsim::ResetMachine();
    winsim::InstallService(SERVICE, c.state);
    DWORD runningError = 0;
    DWORD stoppedError = 0;
    EXPECT_EQ(control.IsRunning(&runningError), c.running);
    EXPECT_EQ(control.IsStopped(&stoppedError), c.stopped);
    EXPECT_EQ(runningError, SERVICE_ERROR_PRESET) << "a successful query leaves the preset";
    EXPECT_EQ(stoppedError, SERVICE_ERROR_PRESET);
    EXPECT_EQ(winsim::ServiceManagerAccesses(), (std::vector<DWORD>{0x20000000, 0x20000000}));
    EXPECT_EQ(ServiceAccesses(), (std::vector<DWORD>{0x0004, 0x0004}));
    EXPECT_EQ(winsim::CallCount("LocalAlloc"), 2u);
    ExpectNothingLeftOpen();
  }
}

TEST_F(ServiceControlTest, FailedQueryAnswersFalseWithTheWindowsError) {
  struct Case {
    const char* failing;
    DWORD error;
  } cases[] = {
      {"OpenSCManagerW", ERROR_ACCESS_DENIED},
      {"OpenServiceA", ERROR_ACCESS_DENIED},
      {"QueryServiceStatus", ERROR_INVALID_HANDLE},
      {"LocalAlloc", ERROR_NOT_ENOUGH_MEMORY},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    winsim::ResetMachine();
    winsim::InstallService(SERVICE, SERVICE_RUNNING);
    winsim::FailCall(c.failing, 1, c.error);
    DWORD error = 0;
    EXPECT_FALSE(control.IsRunning(&error));
    EXPECT_EQ(error, c.error);
    ExpectNothingLeftOpen();
  }
}

TEST_F(ServiceControlTest, MissingServiceIsNeitherRunningNorStopped) {
  DWORD error = 0;
  EXPECT_FALSE(control.IsRunning(&error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_FALSE(control.IsStopped(&error));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(control.Stop(), 3) << "not running: nothing to stop";
  EXPECT_EQ(control.Start(&error), static_cast<int>(ERROR_SERVICE_DOES_NOT_EXIST));
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
  ExpectNothingLeftOpen();
}

TEST_F(ServiceControlTest, StopSendsOneRequestOnlyToARunningOrPausedService) {
  struct Case {
    const char* what;
    DWORD state;
    winsim::StopBehaviour behaviour;
    int result;
    std::vector<ServiceRequest> requests;
    DWORD stateAfter;
    std::vector<DWORD> serviceAccesses;
  } cases[] = {
      {"running", SERVICE_RUNNING, winsim::StopBehaviour::AtOnce, 0, ONE_STOP, SERVICE_STOPPED, {0x0004, 0x0024}},
      {"slow to stop: no waiting here", SERVICE_RUNNING, winsim::StopBehaviour::StuckPending, 0, ONE_STOP,
       SERVICE_STOP_PENDING, {0x0004, 0x0024}},
      {"stopping by itself meanwhile", SERVICE_RUNNING, winsim::StopBehaviour::StopsByItself, 0, ONE_STOP,
       SERVICE_STOPPED, {0x0004, 0x0024}},
      {"paused", SERVICE_PAUSED, winsim::StopBehaviour::AtOnce, 0, ONE_STOP, SERVICE_STOPPED, {0x0004, 0x0024}},
      {"stopped", SERVICE_STOPPED, winsim::StopBehaviour::AtOnce, 3, NO_REQUEST, SERVICE_STOPPED, {0x0004}},
      {"stop pending", SERVICE_STOP_PENDING, winsim::StopBehaviour::AtOnce, 3, NO_REQUEST, SERVICE_STOP_PENDING,
       {0x0004}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::InstallService(SERVICE, c.state);
    winsim::SetStopBehaviour(SERVICE, c.behaviour);
    EXPECT_EQ(control.Stop(), c.result);
    EXPECT_EQ(winsim::ServiceRequests(SERVICE), c.requests);
    EXPECT_EQ(winsim::ServiceState(SERVICE), c.stateAfter);
    EXPECT_EQ(ServiceAccesses(), c.serviceAccesses);
    EXPECT_EQ(winsim::ServiceManagerAccesses(), std::vector<DWORD>(c.serviceAccesses.size(), 0x20000000));
    ExpectNothingLeftOpen();
  }
}

TEST_F(ServiceControlTest, StopPassesOnTheErrorOfAFailedRequest) {
  struct Case {
    const char* failing;
    unsigned nth;
    DWORD error;
    std::vector<ServiceRequest> requests;
  } cases[] = {
      {"OpenSCManagerW", 2, ERROR_ACCESS_DENIED, NO_REQUEST},
      {"OpenServiceA", 2, ERROR_ACCESS_DENIED, NO_REQUEST},
      {"LocalAlloc", 2, ERROR_NOT_ENOUGH_MEMORY, NO_REQUEST},
      {"ControlService", 1, ERROR_SERVICE_REQUEST_TIMEOUT, NO_REQUEST},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.failing);
    winsim::ResetMachine();
    winsim::InstallService(SERVICE, SERVICE_RUNNING);
    winsim::FailCall(c.failing, c.nth, c.error);
    EXPECT_EQ(control.Stop(), static_cast<int>(c.error));
    EXPECT_EQ(winsim::ServiceRequests(SERVICE), c.requests);
    EXPECT_EQ(winsim::ServiceState(SERVICE), static_cast<DWORD>(SERVICE_RUNNING));
    ExpectNothingLeftOpen();
  }
}

TEST_F(ServiceControlTest, StartSendsOneRequestUnlessTheServiceRuns) {
  struct Case {
    const char* what;
    DWORD state;
    winsim::StartBehaviour behaviour;
    std::vector<ServiceRequest> requests;
    DWORD stateAfter;
    std::vector<DWORD> serviceAccesses;
  } cases[] = {
      {"running", SERVICE_RUNNING, winsim::StartBehaviour::AtOnce, NO_REQUEST, SERVICE_RUNNING, {0x0004}},
      {"stopped", SERVICE_STOPPED, winsim::StartBehaviour::AtOnce, ONE_START, SERVICE_RUNNING, {0x0004, 0x0014}},
      {"slow to start: no waiting here", SERVICE_STOPPED, winsim::StartBehaviour::NeverStarts, ONE_START,
       SERVICE_START_PENDING, {0x0004, 0x0014}},
      {"started by someone else meanwhile", SERVICE_STOPPED, winsim::StartBehaviour::StartedByOther, ONE_START,
       SERVICE_RUNNING, {0x0004, 0x0014}},
      {"paused: already running for Windows", SERVICE_PAUSED, winsim::StartBehaviour::AtOnce, ONE_START,
       SERVICE_PAUSED, {0x0004, 0x0014}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::InstallService(SERVICE, c.state);
    winsim::SetStartBehaviour(SERVICE, c.behaviour);
    EXPECT_EQ(control.Start(nullptr), 0);
    EXPECT_EQ(winsim::ServiceRequests(SERVICE), c.requests);
    EXPECT_EQ(winsim::ServiceState(SERVICE), c.stateAfter);
    EXPECT_EQ(ServiceAccesses(), c.serviceAccesses);
    ExpectNothingLeftOpen();
  }
}

TEST_F(ServiceControlTest, RefusedStartGivesThreeAndFailedOpenItsError) {
  struct Case {
    const char* failing;
    unsigned nth;
    DWORD error;
    int result;
  } cases[] = {
      {"StartServiceW", 1, ERROR_SERVICE_DISABLED, 3},
      {"StartServiceW", 1, ERROR_ACCESS_DENIED, 3},
      {"OpenServiceA", 2, ERROR_ACCESS_DENIED, static_cast<int>(ERROR_ACCESS_DENIED)},
      {"OpenSCManagerW", 2, ERROR_INVALID_PARAMETER, static_cast<int>(ERROR_INVALID_PARAMETER)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.failing << " " << c.error);
    winsim::ResetMachine();
    winsim::InstallService(SERVICE, SERVICE_STOPPED);
    winsim::FailCall(c.failing, c.nth, c.error);
    DWORD error = 0;
    EXPECT_EQ(control.Start(&error), c.result);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(winsim::ServiceState(SERVICE), static_cast<DWORD>(SERVICE_STOPPED));
    ExpectNothingLeftOpen();
  }
}

TEST_F(ServiceControlTest, SetNameReusesItsBufferAndRefusesANameThatDoesNotFit) {
  const unsigned allocations = winsim::AllocationCount();
  EXPECT_EQ(control.SetName("ODRIX Carvella Monitor Service"), 0);
  EXPECT_EQ(winsim::AllocationCount(), allocations) << "the second name goes into the first buffer";

  const std::string longest(MAX_PATH - 1, 'S');
  winsim::InstallService(longest.c_str(), SERVICE_RUNNING);
  EXPECT_EQ(control.SetName(longest.c_str()), 0);
  DWORD error = 0;
  EXPECT_TRUE(control.IsRunning(&error));

  const std::string tooLong(MAX_PATH, 'S');
  EXPECT_EQ(control.SetName(tooLong.c_str()), ERR_TEXT_TOO_LONG);
  EXPECT_FALSE(control.IsRunning(&error)) << "no cut-off name reaches the service manager";
  EXPECT_EQ(winsim::ServiceOpens().back().name, "");
}

TEST_F(ServiceControlTest, SetNameWithoutMemoryGivesOutOfMemory) {
  ServiceControl fresh;
  winsim::FailAllocation(winsim::AllocationCount() + 1);
  EXPECT_EQ(fresh.SetName(SERVICE), ERR_OUT_OF_MEMORY);
  EXPECT_EQ(fresh.SetName(SERVICE), 0) << "a later call may allocate again";
}

}  // namespace
