// The simulated service manager, mutex names and clock agree with Windows
// where the product relies on them.
#include <cstdint>
#include <string>

#include "tests/machine_test.h"
#include "winsim/mutex.h"
#include "winsim/services.h"
#include "winsim/system_info.h"
#include "winsim/time.h"

namespace {

const char kService[] = "Svc";

class SimulatedSystemTest : public MachineTest {
 protected:
  static std::uint64_t Units(const FILETIME& time) {
    return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
  }

};

// Each row: the service runs, is configured, stopped and asked to start; then
// Windows starts again.
TEST_F(SimulatedSystemTest, StartIsRefusedByTheConfigurationAndWindowsStartsWhatIsAutomatic) {
  const struct {
    const char* what;
    void (*configure)();
    DWORD startError;
    DWORD stateAfterRestart;  // 0: gone
  } rows[] = {
      {"automatic", [] {}, 0, SERVICE_RUNNING},
      {"on demand", [] { winsim::SetServiceStartType(kService, SERVICE_DEMAND_START); }, 0, SERVICE_STOPPED},
      {"disabled", [] { winsim::SetServiceStartType(kService, SERVICE_DISABLED); }, ERROR_SERVICE_DISABLED,
       SERVICE_STOPPED},
      {"marked for deletion", [] { winsim::MarkServiceForDeletion(kService); }, ERROR_SERVICE_MARKED_FOR_DELETE, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.what);
    winsim::ResetMachine();
    winsim::InstallService(kService, SERVICE_RUNNING);
    row.configure();
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = OpenServiceA(manager, kService, SERVICE_STOP | SERVICE_START);
    ASSERT_NE(service, nullptr);
    SERVICE_STATUS status;
    EXPECT_TRUE(ControlService(service, SERVICE_CONTROL_STOP, &status));
    SetLastError(0xdeadbeef);
    EXPECT_EQ(StartServiceW(service, 0, nullptr) != FALSE, row.startError == 0);
    if (row.startError != 0) {
      EXPECT_EQ(GetLastError(), row.startError);
      EXPECT_EQ(winsim::ServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
    }
    winsim::StartWindowsAgain();
    EXPECT_EQ(winsim::ServiceState(kService), row.stateAfterRestart);
    manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    EXPECT_EQ(OpenServiceA(manager, kService, SERVICE_START) != nullptr, row.stateAfterRestart != 0);
    if (row.stateAfterRestart == 0) {
      EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    }
  }
}

TEST_F(SimulatedSystemTest, NamesWithABackslashNeedWindows2000) {
  const struct {
    DWORD majorVersion;
    const char* name;
    DWORD error;
  } rows[] = {{4, "Updater", ERROR_SUCCESS},
              {4, "Global\\Updater", ERROR_PATH_NOT_FOUND},
              {4, "Local\\Updater", ERROR_PATH_NOT_FOUND},
              {5, "Global\\Updater", ERROR_SUCCESS}};
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.majorVersion << " " << row.name);
    winsim::ResetMachine();
    winsim::SetWindowsVersion(VER_PLATFORM_WIN32_NT, row.majorVersion);
    SetLastError(0xdeadbeef);
    HANDLE mutex = CreateMutexA(nullptr, FALSE, row.name);
    EXPECT_EQ(GetLastError(), row.error);
    EXPECT_EQ(mutex != nullptr, row.error == ERROR_SUCCESS);
    EXPECT_EQ(winsim::MutexExists(row.name), row.error == ERROR_SUCCESS);
    if (mutex != nullptr) CloseHandle(mutex);
  }
}

// Set back a day or forward an hour: the system time, the local time and a
// file written afterwards move; the uptime stays.
TEST_F(SimulatedSystemTest, TheClockIsSetWhileTheUptimeRunsOn) {
  const struct {
    std::int64_t step;
    WORD day;
    WORD hour;
  } rows[] = {{-86400000, 31, 9}, {3600000, 1, 10}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.step);
    winsim::ResetMachine();
    const DWORD ticks = GetTickCount();
    FILETIME before, after;
    GetSystemTimeAsFileTime(&before);
    winsim::StepSystemClock(row.step);
    GetSystemTimeAsFileTime(&after);
    EXPECT_EQ(static_cast<std::int64_t>(Units(after) - Units(before)), row.step * 10000);
    EXPECT_EQ(GetTickCount(), ticks);
    SYSTEMTIME local;
    GetLocalTime(&local);
    EXPECT_EQ(local.wDay, row.day);
    EXPECT_EQ(local.wHour, row.hour);
    HANDLE file = CreateFileA("C:\\Written.ini", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(file, "x", 1, &written, nullptr));
    BY_HANDLE_FILE_INFORMATION information;
    ASSERT_TRUE(GetFileInformationByHandle(file, &information));
    EXPECT_EQ(Units(information.ftLastWriteTime), Units(after));
    CloseHandle(file);
  }
}

}  // namespace
