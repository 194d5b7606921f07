#include <string>
#include <vector>

#include "app/updater.h"
#include "tests/machine_test.h"
#include "winsim/privileges.h"
#include "winsim/user.h"

namespace {

const char SHUTDOWN[] = "SeShutdownPrivilege";
const char* const KNOWN_PRIVILEGES[] = {"SeShutdownPrivilege", "SeDebugPrivilege",   "SeBackupPrivilege",
                                        "SeRestorePrivilege",  "SeSecurityPrivilege", "SeChangeNotifyPrivilege"};

class ShutdownPrivilegeTest : public MachineTest {
 protected:
  static std::vector<bool> EnabledPrivileges() {
    std::vector<bool> enabled;
    for (const char* name : KNOWN_PRIVILEGES) enabled.push_back(winsim::PrivilegeEnabled(name));
    return enabled;
  }

  static void ExpectNothingLeftBehind() {
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_EQ(winsim::LiveLocalAllocations(), 0u);
  }

  Updater updater;
};

TEST_F(ShutdownPrivilegeTest, RequestEnablesExactlyTheNamedPrivilege) {
  std::vector<bool> expected = EnabledPrivileges();
  ASSERT_FALSE(expected[0]) << "held but off on a fresh machine";
  expected[0] = true;

  updater.EnablePrivilege(L"SeShutdownPrivilege");

  ASSERT_EQ(winsim::PrivilegeLookups().size(), 1u);
  EXPECT_TRUE(winsim::PrivilegeLookups()[0].localSystem);
  EXPECT_EQ(winsim::PrivilegeLookups()[0].name, SHUTDOWN);

  ASSERT_EQ(winsim::PrivilegeAdjustments().size(), 1u);
  const winsim::PrivilegeAdjustment& call = winsim::PrivilegeAdjustments()[0];
  EXPECT_EQ(call.tokenAccess, 0x28u) << "TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY";
  EXPECT_EQ(call.disableAll, FALSE);
  EXPECT_EQ(call.requestCount, 1u);
  ASSERT_EQ(call.request.size(), 1u);
  const LUID id = winsim::PrivilegeId(SHUTDOWN);
  EXPECT_EQ(call.request[0].Luid.LowPart, id.LowPart);
  EXPECT_EQ(call.request[0].Luid.HighPart, id.HighPart);
  EXPECT_EQ(call.request[0].Attributes, static_cast<DWORD>(SE_PRIVILEGE_ENABLED));
  EXPECT_EQ(call.previousStateLength, 16u);
  EXPECT_TRUE(call.previousStateGiven);
  EXPECT_TRUE(call.returnLengthGiven);

  EXPECT_EQ(EnabledPrivileges(), expected);
  ExpectNothingLeftBehind();
}

TEST_F(ShutdownPrivilegeTest, FailuresEnableNothingAndReportNothing) {
  struct Case {
    const char* what;
    const wchar_t* privilege;
    const char* failing;
    bool adjusted;
  } cases[] = {
      {"no such privilege", L"SeNoSuchPrivilege", nullptr, false},
      {"empty name", L"", nullptr, false},
      {"token cannot be opened", L"SeShutdownPrivilege", "OpenProcessToken", false},
      {"lookup fails", L"SeShutdownPrivilege", "LookupPrivilegeValueW", false},
      {"adjustment fails", L"SeShutdownPrivilege", "AdjustTokenPrivileges", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    if (c.failing != nullptr) winsim::FailCall(c.failing, 1, ERROR_ACCESS_DENIED);
    const std::vector<bool> before = EnabledPrivileges();
    updater.EnablePrivilege(c.privilege);
    EXPECT_EQ(EnabledPrivileges(), before);
    EXPECT_EQ(winsim::CallCount("AdjustTokenPrivileges"), c.adjusted ? 1u : 0u)
        << "without the privilege's id nothing is asked for";
    EXPECT_TRUE(winsim::MessageBoxes().empty());
    ExpectNothingLeftBehind();
  }
}

TEST_F(ShutdownPrivilegeTest, AccountWithoutThePrivilegeGetsItsRestartRefused) {
  struct Case {
    bool held;
    BOOL restarted;
    DWORD error;
  } cases[] = {
      {true, TRUE, 0},
      {false, FALSE, ERROR_PRIVILEGE_NOT_HELD},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.held ? "held" : "not held");
    winsim::ResetMachine();
    winsim::HoldPrivilege(SHUTDOWN, c.held);
    updater.EnablePrivilege(L"SeShutdownPrivilege");
    EXPECT_EQ(winsim::PrivilegeAdjustments().size(), 1u) << "asked for either way";
    EXPECT_EQ(winsim::PrivilegeEnabled(SHUTDOWN), c.held);
    SetLastError(0);
    EXPECT_EQ(ExitWindowsEx(EWX_REBOOT, 0), c.restarted);
    if (!c.restarted) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    ExpectNothingLeftBehind();
  }
}

}  // namespace
