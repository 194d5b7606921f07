#include <string>
#include <vector>

#include "app/updater.h"
#include "tests/machine_test.h"
#include "winsim/services.h"
#include "winsim/time.h"

namespace {

using winsim::ServiceRequest;

const char CONTROL[] = "ODRIX Carvella Control Service";
const char COPY[] = "ODRIX Carvella Copy Service";
const char MONITOR[] = "ODRIX Carvella Monitor Service";
const char* const ALL_SERVICES[] = {CONTROL, COPY, MONITOR};

// A stop or start operation of the Updater, by service.
typedef bool (Updater::*StopSequence)();
typedef bool (Updater::*StartSequence)();
const StopSequence STOPS[] = {&Updater::StopControlService, &Updater::StopCopyService, &Updater::StopMonitorService};
const StartSequence STARTS[] = {&Updater::StartControlService, &Updater::StartCopyService,
                                &Updater::StartMonitorService};

// A stuck service is asked right after the request and then every 500 ms until
// more than 30000 ms have passed: at 0, 500, ..., 30500 ms.
const unsigned POLLS_UNTIL_TIMEOUT = 62;
const unsigned SLEEPS_UNTIL_TIMEOUT = 61;
const DWORD MS_UNTIL_TIMEOUT = 30500;
const unsigned NEVER = ~0u;  // queries until a pending service settles

class ServiceSequencesTest : public MachineTest {
 protected:
  template <typename Sequence>
  bool Run(Sequence sequence) {
    const bool result = (updater.*sequence)();
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
    return result;
  }

  static bool Opened(const char* service) {
    for (const winsim::ServiceOpen& open : winsim::ServiceOpens()) {
      if (open.name == service) return true;
    }
    return false;
  }

  // One stop or start of the Control service, from a state (0: not installed) and with a behaviour.
  template <typename Behaviour>
  struct WaitCase {
    const char* what;
    DWORD state;
    Behaviour behaviour;
    unsigned pendingQueries;  // of the request, and of the state a service is installed in
    bool result;
    std::vector<ServiceRequest> requests;
    unsigned sleeps;  // of 500 ms each
  };

  static void SetBehaviour(winsim::StopBehaviour behaviour, unsigned pendingQueries) {
    winsim::SetStopBehaviour(CONTROL, behaviour, pendingQueries);
  }
  static void SetBehaviour(winsim::StartBehaviour behaviour, unsigned pendingQueries) {
    winsim::SetStartBehaviour(CONTROL, behaviour, pendingQueries);
  }

  // Each case on a fresh machine: what the sequence answers, asks of the service and waits.
  template <typename Behaviour, typename Sequence>
  void ExpectRequestsAndWaits(Sequence sequence, DWORD version, const std::vector<WaitCase<Behaviour>>& cases) {
    for (const WaitCase<Behaviour>& c : cases) {
      SCOPED_TRACE(c.what);
      winsim::ResetMachine();
      if (c.state != 0) {
        winsim::InstallService(CONTROL, c.state);
        SetBehaviour(c.behaviour, c.pendingQueries);
        winsim::SettleAfterQueries(CONTROL, c.pendingQueries);
      }
      updater.installedVersion = version;
      EXPECT_EQ(Run(sequence), c.result);
      EXPECT_EQ(winsim::ServiceRequests(CONTROL), c.requests);
      EXPECT_EQ(winsim::SleepCount(), c.sleeps);
      EXPECT_EQ(winsim::SleptMilliseconds(), c.sleeps * 500);
    }
  }

  Updater updater;
};

TEST_F(ServiceSequencesTest, InstalledVersionDecidesWhichServicesAreHandled) {
  struct Case {
    DWORD version;
    bool handled[3];  // Control, Copy, Monitor
  } cases[] = {
      {0x05FFFFFF, {true, false, false}}, {0x06000000, {true, true, false}}, {0x09000000, {true, true, false}},
      {0x09FFFFFF, {true, true, false}},  {0x0A000000, {true, true, true}},  {0x0A0000FF, {true, true, true}},
      {0xFF000000, {true, true, true}},  // compared unsigned
  };
  for (const Case& c : cases) {
    for (bool stopping : {true, false}) {
      SCOPED_TRACE(testing::Message() << std::hex << c.version << (stopping ? " stop" : " start"));
      winsim::ResetMachine();
      const DWORD before = stopping ? SERVICE_RUNNING : SERVICE_STOPPED;
      const DWORD after = stopping ? SERVICE_STOPPED : SERVICE_RUNNING;
      for (const char* service : ALL_SERVICES) winsim::InstallService(service, before);
      updater.installedVersion = c.version;
      for (int i = 0; i < 3; ++i) EXPECT_TRUE((stopping ? Run(STOPS[i]) : Run(STARTS[i]))) << ALL_SERVICES[i];
      for (int i = 0; i < 3; ++i) {
        SCOPED_TRACE(ALL_SERVICES[i]);
        EXPECT_EQ(winsim::ServiceState(ALL_SERVICES[i]), c.handled[i] ? after : before);
        EXPECT_EQ(Opened(ALL_SERVICES[i]), c.handled[i]) << "a service outside the version is never queried";
        EXPECT_EQ(winsim::StatusQueries(ALL_SERVICES[i]) > 0, c.handled[i]);
      }
    }
  }
}

TEST_F(ServiceSequencesTest, StopRequestsAndWaitsOnlyAsMuchAsNeeded) {
  using winsim::StopBehaviour;
  ExpectRequestsAndWaits<StopBehaviour>(
      &Updater::StopControlService, 0x09000000,
      {
          {"not installed", 0, StopBehaviour::AtOnce, 0, true, {}, 0},
          {"already stopped", SERVICE_STOPPED, StopBehaviour::AtOnce, 0, true, {}, 0},
          {"paused: stopped too", SERVICE_PAUSED, StopBehaviour::AtOnce, 0, true, {ServiceRequest::Stop}, 0},
          {"stop pending, then stopped by itself", SERVICE_STOP_PENDING, StopBehaviour::AtOnce, 3, true, {}, 2},
          {"stop pending for ever: did not stop", SERVICE_STOP_PENDING, StopBehaviour::AtOnce, NEVER, false, {}, 61},
          {"start pending, runs", SERVICE_START_PENDING, StopBehaviour::AtOnce, 3, true, {ServiceRequest::Stop}, 5},
          {"start pending for ever: did not stop", SERVICE_START_PENDING, StopBehaviour::AtOnce, NEVER, false, {}, 61},
          {"pause pending, paused", SERVICE_PAUSE_PENDING, StopBehaviour::AtOnce, 1, true, {ServiceRequest::Stop}, 1},
          {"settling and stopping share the 30 s", SERVICE_START_PENDING, StopBehaviour::StuckPending, 40, false,
           {ServiceRequest::Stop}, 61},
          {"stops at once", SERVICE_RUNNING, StopBehaviour::AtOnce, 0, true, {ServiceRequest::Stop}, 0},
          {"stops by itself", SERVICE_RUNNING, StopBehaviour::StopsByItself, 0, true, {ServiceRequest::Stop}, 0},
          {"stops after 4 polls", SERVICE_RUNNING, StopBehaviour::AfterQueries, 4, true, {ServiceRequest::Stop}, 4},
          {"stops at the 30500 ms poll", SERVICE_RUNNING, StopBehaviour::AfterQueries, 61, true,
           {ServiceRequest::Stop}, 61},
          {"still pending at 30500 ms", SERVICE_RUNNING, StopBehaviour::AfterQueries, 62, false,
           {ServiceRequest::Stop}, 61},
          {"stuck in stop pending", SERVICE_RUNNING, StopBehaviour::StuckPending, 0, false, {ServiceRequest::Stop}, 61},
      });
}

TEST_F(ServiceSequencesTest, StuckStopFailsAfterJustOverThirtySeconds) {
  winsim::InstallService(COPY, SERVICE_RUNNING);
  winsim::SetStopBehaviour(COPY, winsim::StopBehaviour::StuckPending);
  updater.installedVersion = 0x09000000;
  EXPECT_FALSE(Run(&Updater::StopCopyService));
  EXPECT_EQ(winsim::SleptMilliseconds(), MS_UNTIL_TIMEOUT);
  EXPECT_EQ(winsim::SleepCount(), SLEEPS_UNTIL_TIMEOUT);
  // The running check of the sequence, the one inside Stop, then the polls.
  EXPECT_EQ(winsim::StatusQueries(COPY), 2 + POLLS_UNTIL_TIMEOUT);
  EXPECT_EQ(winsim::ServiceState(COPY), static_cast<DWORD>(SERVICE_STOP_PENDING));
}

// The service does get there after 100 s: a wait that would never end returns
// true then instead of hanging the test.
TEST_F(ServiceSequencesTest, TickCounterWrapNeitherShortensNorStretchesTheWait) {
  const unsigned pollsIn100Seconds = 200;
  const DWORD starts[] = {0, 0xFFFFFFFF - 30000, 0xFFFFFFFF - 10000, 0xFFFFFFFF - 499, 0xFFFFFFFF};
  for (DWORD start : starts) {
    for (bool stopping : {true, false}) {
      SCOPED_TRACE(testing::Message() << std::hex << start << (stopping ? " stop" : " start"));
      winsim::ResetMachine();
      winsim::SetTickCount(start);
      winsim::InstallService(MONITOR, stopping ? SERVICE_RUNNING : SERVICE_STOPPED);
      winsim::SetStopBehaviour(MONITOR, winsim::StopBehaviour::AfterQueries, pollsIn100Seconds);
      winsim::SetStartBehaviour(MONITOR, winsim::StartBehaviour::AfterQueries, pollsIn100Seconds);
      updater.installedVersion = 0x0A000000;
      EXPECT_FALSE((stopping ? Run(&Updater::StopMonitorService) : Run(&Updater::StartMonitorService)));
      EXPECT_EQ(winsim::SleepCount(), SLEEPS_UNTIL_TIMEOUT);
      EXPECT_EQ(GetTickCount(), static_cast<DWORD>(start + MS_UNTIL_TIMEOUT));
    }
  }
}

TEST_F(ServiceSequencesTest, StartRequestsAndWaitsOnlyAsMuchAsNeeded) {
  using winsim::StartBehaviour;
  ExpectRequestsAndWaits<StartBehaviour>(
      &Updater::StartControlService, 0x07000000,
      {
          {"already running", SERVICE_RUNNING, StartBehaviour::AtOnce, 0, true, {}, 0},
          {"starts at once", SERVICE_STOPPED, StartBehaviour::AtOnce, 0, true, {ServiceRequest::Start}, 0},
          {"started by someone else", SERVICE_STOPPED, StartBehaviour::StartedByOther, 0, true,
           {ServiceRequest::Start}, 0},
          {"starts after 3 polls", SERVICE_STOPPED, StartBehaviour::AfterQueries, 3, true, {ServiceRequest::Start}, 3},
          {"never starts", SERVICE_STOPPED, StartBehaviour::NeverStarts, 0, false, {ServiceRequest::Start},
           SLEEPS_UNTIL_TIMEOUT},
          {"paused: start refused, never running", SERVICE_PAUSED, StartBehaviour::AtOnce, 0, false,
           {ServiceRequest::Start}, SLEEPS_UNTIL_TIMEOUT},
          {"not installed: waits the full time", 0, StartBehaviour::AtOnce, 0, false, {}, SLEEPS_UNTIL_TIMEOUT},
      });
}

TEST_F(ServiceSequencesTest, MissingServiceStartTimesOutAfterTheFullWait) {
  updater.installedVersion = 0x09000000;
  EXPECT_FALSE(Run(&Updater::StartCopyService));
  EXPECT_EQ(winsim::SleptMilliseconds(), MS_UNTIL_TIMEOUT);
  EXPECT_EQ(winsim::CallCount("StartServiceW"), 0u);
}

// Without its accessor a sequence cannot know the service's state: it fails
// rather than let the update go on beside a running service.
TEST_F(ServiceSequencesTest, AccessorThatCannotBeMadeFailsTheSequence) {
  for (unsigned nth : {1u, 2u}) {  // the accessor, then its name buffer
    for (bool stopping : {true, false}) {
      SCOPED_TRACE(testing::Message() << "allocation " << nth << (stopping ? " stop" : " start"));
      winsim::ResetMachine();
      winsim::InstallService(CONTROL, stopping ? SERVICE_RUNNING : SERVICE_STOPPED);
      winsim::FailAllocation(winsim::AllocationCount() + nth);
      EXPECT_FALSE((stopping ? Run(&Updater::StopControlService) : Run(&Updater::StartControlService)));
      EXPECT_TRUE(winsim::ServiceOpens().empty());
      EXPECT_EQ(winsim::SleepCount(), 0u);
    }
  }
}

}  // namespace
