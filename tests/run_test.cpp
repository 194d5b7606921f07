#include "app/run.h"
#include "tests/machine_test.h"
#include "winsim/mutex.h"
#include "winsim/user.h"

namespace {

TEST(SilentRunTest, OnlySlashSAsFirstArgument) {
  struct Case {
    const wchar_t* commandLine;
    bool silent;
  } cases[] = {{nullptr, false},   {L"", false},     {L"/S", true},       {L"/s", true},    {L"/Sxyz", true},
               {L"/silent", true}, {L"-S", false},   {L"x /S", false},    {L"\"/S\"", false}, {L"/", false},
               {L"/T", false},     {L" /S", false},  {L"/S extra", true}};
  for (const Case& c : cases) {
    winsim::ResetMachine();
    EXPECT_EQ(IsSilentRun(c.commandLine), c.silent) << (c.commandLine ? "with argument" : "no argument");
  }
}

class SecondInstanceTest : public MachineTest {};

TEST_F(SecondInstanceTest, InteractiveCopyTellsTheUserAndStops) {
  winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
  EXPECT_EQ(RunUpdater(L""), EXIT_STOPPED);
  ASSERT_EQ(winsim::MessageBoxes().size(), 1u);
  ExpectUpdaterBox(winsim::MessageBoxes()[0], Text(MSG_ALREADY_RUNNING));
  EXPECT_TRUE(winsim::MutexExists(INSTANCE_MUTEX_NAME)) << "the first copy keeps its mutex";
  EXPECT_EQ(winsim::OpenHandleCount(), 0u);
}

TEST_F(SecondInstanceTest, SilentCopyStopsWithoutABox) {
  winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
  EXPECT_EQ(RunUpdater(L"/S"), EXIT_STOPPED);
  EXPECT_TRUE(winsim::MessageBoxes().empty());
  EXPECT_EQ(winsim::CallCount("CreateMutexA"), 1u);
}

TEST_F(SecondInstanceTest, MutexThatCannotBeCreatedDoesNotStopTheRun) {
  winsim::FailCall("CreateMutexA", 1, ERROR_ACCESS_DENIED);
  winsim::ScriptAnswers({IDCANCEL});
  RunUpdater(L"");
  ASSERT_FALSE(winsim::MessageBoxes().empty());
  EXPECT_NE(winsim::MessageBoxes()[0].text, Text(MSG_ALREADY_RUNNING));
}

TEST_F(SecondInstanceTest, RunRestrictsTheDllSearchToTheSystemFolder) {
  winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
  RunUpdater(L"/S");
  EXPECT_EQ(winsim::DllSearchFlags(), 0x800u);
}

}  // namespace
