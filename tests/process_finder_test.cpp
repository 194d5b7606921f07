#include "checks/process_finder.h"

#include <string>
#include <vector>

#include "app/updater.h"
#include "tests/machine_test.h"
#include "winsim/processes.h"
#include "winsim/system.h"
#include "winsim/user.h"

namespace {

using winsim::ProcessAccess;

const char APPLICATION[] = "CVMaker.exe";

class ProcessFinderTest : public MachineTest {
 protected:
  // Asks for the application; every process handle is closed afterwards.
  bool ApplicationRunning() {
    ProcessFinder finder;
    EXPECT_EQ(finder.SetName(APPLICATION), 0);
    const bool running = finder.IsRunning();
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
    EXPECT_LE(winsim::MostOpenProcessHandles(), 1u);
    return running;
  }

  static void AddOthers(int count) {
    for (int i = 0; i < count; ++i) winsim::AddProcess(i % 2 == 0 ? "svchost.exe" : "explorer.exe");
  }
};

TEST_F(ProcessFinderTest, WholeBaseNameMatchesIgnoringAsciiCaseOnly) {
  struct Case {
    const char* executable;
    bool matches;
  } cases[] = {
      {"CVMaker.exe", true},       {"cvmaker.EXE", true},       {"CVMAKER.EXE", true},
      {"CVMaker2.exe", false},     {"CVMaker.exe.bak", false},  {"CVMaker.ex", false},
      {"xCVMaker.exe", false},     {"CVMaker.exe ", false},     {"CVMaker", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.executable);
    winsim::ResetMachine();
    AddOthers(3);
    winsim::AddProcess(c.executable);
    EXPECT_EQ(ApplicationRunning(), c.matches);
  }
}

TEST_F(ProcessFinderTest, CaseFoldingStaysWithinAsciiLetters) {
  ProcessFinder finder;
  ASSERT_EQ(finder.SetName("Caf\xC9.exe"), 0);
  winsim::AddProcess("caf\xE9.exe");  // the Latin-1 pair of the letter above
  EXPECT_FALSE(finder.IsRunning());
  winsim::AddProcess("CAF\xC9.EXE");
  EXPECT_TRUE(finder.IsRunning());
}

TEST_F(ProcessFinderTest, FullListIsReadAgainWithRoomForAThousandMore) {
  struct Case {
    int processes;
    std::vector<DWORD> listSizes;
  } cases[] = {
      {0, {4000}},
      {999, {4000}},
      {1000, {4000, 8000}},
      {2500, {4000, 8000, 12000}},
      {3000, {4000, 8000, 12000, 16000}},
  };
  for (const Case& c : cases) {
    for (bool withApplication : {false, true}) {
      if (withApplication && c.processes == 0) continue;
      SCOPED_TRACE(testing::Message() << c.processes << " processes" << (withApplication ? ", the last one" : ""));
      winsim::ResetMachine();
      AddOthers(withApplication ? c.processes - 1 : c.processes);
      if (withApplication) winsim::AddProcess(APPLICATION);
      EXPECT_EQ(ApplicationRunning(), withApplication);
      EXPECT_EQ(winsim::ProcessListSizes(), c.listSizes);
      EXPECT_EQ(winsim::ProcessOpens().size(), static_cast<std::size_t>(c.processes)) << "every id is examined";
    }
  }
}

TEST_F(ProcessFinderTest, ProcessesThatCannotBeExaminedAreSkipped) {
  for (ProcessAccess access :
       {ProcessAccess::CannotOpen, ProcessAccess::ModulesUnreadable, ProcessAccess::NameUnreadable}) {
    SCOPED_TRACE(static_cast<int>(access));
    winsim::ResetMachine();
    winsim::AddProcess(APPLICATION, access);
    EXPECT_FALSE(ApplicationRunning());
    const DWORD readable = winsim::AddProcess(APPLICATION);
    EXPECT_TRUE(ApplicationRunning()) << "the walk goes on past it";
    EXPECT_EQ(winsim::ProcessOpens().back().processId, readable);
  }
}

TEST_F(ProcessFinderTest, EachProcessIsOpenedForReadingOnlyAndAskedForItsExecutable) {
  AddOthers(4);
  winsim::AddProcess(APPLICATION, ProcessAccess::CannotOpen);
  EXPECT_FALSE(ApplicationRunning());
  ASSERT_EQ(winsim::ProcessOpens().size(), 5u);
  for (const winsim::ProcessOpen& open : winsim::ProcessOpens()) {
    EXPECT_EQ(open.access, 0x410u);
    EXPECT_EQ(open.inheritHandle, FALSE);
  }
  EXPECT_EQ(winsim::ModuleListSizes(), std::vector<DWORD>(4, sizeof(HMODULE))) << "room for one module";
  EXPECT_EQ(winsim::MostOpenProcessHandles(), 1u);
}

TEST_F(ProcessFinderTest, WalkStopsAtTheFirstMatch) {
  AddOthers(2);
  winsim::AddProcess(APPLICATION);
  AddOthers(5);
  winsim::AddProcess(APPLICATION);
  EXPECT_TRUE(ApplicationRunning());
  EXPECT_EQ(winsim::ProcessOpens().size(), 3u);
}

TEST_F(ProcessFinderTest, UnreadableProcessListCountsAsNotRunning) {
  struct Case {
    const char* what;
    void (*arrange)();
    unsigned librariesFreed;
  } cases[] = {
      {"first listing fails", [] { winsim::FailCall("EnumProcesses", 1, ERROR_ACCESS_DENIED); }, 1},
      {"second listing fails", [] { winsim::FailCall("EnumProcesses", 2, ERROR_NOT_ENOUGH_MEMORY); }, 1},
      {"psapi.dll cannot be loaded", [] { winsim::MakePsapiUnloadable(); }, 0},
      {"EnumProcesses missing", [] { winsim::RemoveExport("psapi.dll", "EnumProcesses"); }, 1},
      {"EnumProcessModules missing", [] { winsim::RemoveExport("psapi.dll", "EnumProcessModules"); }, 1},
      {"GetModuleBaseNameA missing", [] { winsim::RemoveExport("psapi.dll", "GetModuleBaseNameA"); }, 1},
      {"system folder unknown", [] { winsim::FailCall("GetSystemDirectoryA", 1, ERROR_ACCESS_DENIED); }, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    AddOthers(1500);
    winsim::AddProcess(APPLICATION);
    c.arrange();
    EXPECT_FALSE(ApplicationRunning());
    EXPECT_EQ(winsim::CallCount("FreeLibrary"), c.librariesFreed);
  }
}

TEST_F(ProcessFinderTest, PsapiIsLoadedOnlyByItsFullPathInTheSystemFolder) {
  struct Case {
    std::string systemFolder;
    bool loaded;
  } cases[] = {
      {"C:\\WINDOWS\\system32", true},
      {"D:\\WinNT\\System32", true},
      {"C:\\" + std::string(MAX_PATH - 14, 's'), true},  // path of 259 characters
      {"C:\\" + std::string(MAX_PATH - 13, 's'), false},  // 260: no room for the terminator
      {"C:\\" + std::string(MAX_PATH, 's'), false},       // longer than any buffer
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.systemFolder.size());
    winsim::ResetMachine();
    winsim::SetSystemDirectory(c.systemFolder.c_str());
    winsim::AddProcess(APPLICATION);
    EXPECT_EQ(ApplicationRunning(), c.loaded);
    if (c.loaded) {
      EXPECT_EQ(winsim::LoadLibraryLog(), std::vector<std::string>{c.systemFolder + "\\psapi.dll"});
      EXPECT_EQ(winsim::CallCount("FreeLibrary"), 1u);
    } else {
      EXPECT_TRUE(winsim::LoadLibraryLog().empty()) << "a cut-off path is never tried";
    }
  }
}

TEST_F(ProcessFinderTest, MisreportedListSizesAreReadSafely) {
  // A byte count with a partial id: only the whole ids are examined.
  winsim::SetProcessListQuirk(winsim::ProcessListQuirk::OddByteCount);
  AddOthers(2);
  winsim::AddProcess(APPLICATION);
  EXPECT_TRUE(ApplicationRunning());
  EXPECT_EQ(winsim::ProcessOpens().size(), 3u);

  winsim::ResetMachine();
  winsim::SetProcessListQuirk(winsim::ProcessListQuirk::OddByteCount);
  AddOthers(1000);
  EXPECT_FALSE(ApplicationRunning());
  EXPECT_EQ(winsim::ProcessListSizes(), (std::vector<DWORD>{4000, 8000})) << "more than the buffer counts as full";
  EXPECT_EQ(winsim::ProcessOpens().size(), 1000u);
}

TEST_F(ProcessFinderTest, ListThatIsAlwaysFullStopsGrowingAndIsStillSearched) {
  for (bool withApplication : {false, true}) {
    SCOPED_TRACE(withApplication ? "application among the ids" : "no application");
    winsim::ResetMachine();
    winsim::SetProcessListQuirk(winsim::ProcessListQuirk::AlwaysFull);
    winsim::AddProcess("System", ProcessAccess::CannotOpen);
    if (withApplication) winsim::AddProcess(APPLICATION);
    EXPECT_EQ(ApplicationRunning(), withApplication);
    const std::vector<DWORD>& sizes = winsim::ProcessListSizes();
    ASSERT_GT(sizes.size(), 3u);
    EXPECT_LE(sizes.back(), 1024u * 1024u);
    for (std::size_t i = 0; i < sizes.size(); ++i) EXPECT_EQ(sizes[i], 4000u * (i + 1));
    if (!withApplication) {
      EXPECT_EQ(winsim::ProcessOpens().size(), sizes.back() / 4) << "what was read is searched";
    }
  }
}

TEST_F(ProcessFinderTest, ListWithoutMemoryCountsAsNotRunningAndLeaksNothing) {
  for (unsigned nth : {1u, 2u}) {  // the first list, then the grown one
    SCOPED_TRACE(nth);
    winsim::ResetMachine();
    AddOthers(1500);
    winsim::AddProcess(APPLICATION);
    ProcessFinder finder;
    ASSERT_EQ(finder.SetName(APPLICATION), 0);
    winsim::FailAllocation(winsim::AllocationCount() + nth);
    EXPECT_FALSE(finder.IsRunning());
    EXPECT_EQ(winsim::ProcessListSizes().size(), nth - 1);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

TEST_F(ProcessFinderTest, NameBufferFailuresAndOverlongNamesFindNothing) {
  winsim::AddProcess(APPLICATION);
  ProcessFinder unnamed;
  EXPECT_FALSE(unnamed.IsRunning());

  ProcessFinder finder;
  winsim::FailAllocation(winsim::AllocationCount() + 1);
  EXPECT_EQ(finder.SetName(APPLICATION), ERR_OUT_OF_MEMORY);
  EXPECT_FALSE(finder.IsRunning());

  const std::string tooLong = std::string(APPLICATION) + std::string(MAX_PATH, 'x');
  ASSERT_EQ(finder.SetName(APPLICATION), 0);
  EXPECT_EQ(finder.SetName(tooLong.c_str()), ERR_TEXT_TOO_LONG);
  EXPECT_FALSE(finder.IsRunning()) << "a refused name does not leave the old one or a cut-off one";
  EXPECT_EQ(winsim::CallCount("EnumProcesses"), 0u);
}

TEST_F(ProcessFinderTest, BaseNameFillingTheWholeBufferNeverMatches) {
  const std::string longName(MAX_PATH + 20, 'a');
  winsim::AddProcess(longName.c_str());
  ProcessFinder finder;
  ASSERT_EQ(finder.SetName(std::string(MAX_PATH - 1, 'a').c_str()), 0);
  EXPECT_FALSE(finder.IsRunning()) << "a name cut to fit is not the whole name";
}

class CheckAppNotRunningTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    updater.SetMessages(messageTable.Text());
  }
  Updater updater;
};

TEST_F(CheckAppNotRunningTest, RunningApplicationStopsTheRunAndIsToldOnlyInteractively) {
  winsim::AddProcess("explorer.exe");
  winsim::AddProcess("cvmaker.exe");
  for (BYTE showUi : {1, 0}) {
    SCOPED_TRACE(showUi ? "interactive" : "silent");
    const std::size_t boxesBefore = winsim::MessageBoxes().size();
    updater.SetShowUi(showUi);
    EXPECT_EQ(updater.CheckAppNotRunning(), -1);
    ASSERT_EQ(winsim::MessageBoxes().size(), boxesBefore + (showUi ? 1 : 0));
    if (showUi) {
      ExpectUpdaterBox(winsim::MessageBoxes().back(), Text(MSG_APP_RUNNING));
    }
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

TEST_F(CheckAppNotRunningTest, RunGoesOnWhenTheApplicationIsAbsentOrCannotBeSeen) {
  struct Case {
    const char* what;
    void (*arrange)();
  } cases[] = {
      {"not running", [] { winsim::AddProcess("CVMaker2.exe"); }},
      {"process list unreadable",
       [] {
         winsim::AddProcess(APPLICATION);
         winsim::FailCall("EnumProcesses", 1, ERROR_ACCESS_DENIED);
       }},
      {"psapi.dll unloadable",
       [] {
         winsim::AddProcess(APPLICATION);
         winsim::MakePsapiUnloadable();
       }},
      {"no memory for the finder",
       [] {
         winsim::AddProcess(APPLICATION);
         winsim::FailAllocation(winsim::AllocationCount() + 1);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    c.arrange();
    EXPECT_EQ(updater.CheckAppNotRunning(), 0);
    EXPECT_TRUE(winsim::MessageBoxes().empty());
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

}  // namespace
