#include <string>
#include <vector>

#include "app/command_arguments.h"
#include "app/run.h"
#include "tests/machine_test.h"
#include "winsim/code_pages.h"
#include "winsim/mutex.h"
#include "winsim/services.h"
#include "winsim/user.h"

namespace {

// The first argument as the C runtime splits the line: quotes and leading
// blanks are the runtime's, so a quoted "/S" is "/S".
TEST(SilentRunTest, OnlySlashSAsFirstArgument) {
  struct Case {
    const wchar_t* commandLine;
    bool silent;
  } cases[] = {{nullptr, false},   {L"", false},     {L"/S", true},       {L"/s", true},    {L"/Sxyz", true},
               {L"/silent", true}, {L"-S", false},   {L"x /S", false},    {L"\"/S\"", true}, {L"/", false},
               {L"/T", false},     {L" /S", true},   {L"/S extra", true}, {L"\\\"/S", false}};
  for (const Case& c : cases) {
    winsim::ResetMachine();
    RunSwitches switches;
    ReadSwitches(c.commandLine, &switches);
    EXPECT_EQ(switches.silent, c.silent) << (c.commandLine ? winsim::Utf8Of(c.commandLine) : "no argument");
  }
}

// The program's name goes, quoted or not, with the blanks after it; a quote
// opened in the name runs on to its closing one, blanks and all.
TEST(CommandArgumentsTest, TheProgramsNameAndTheBlanksAfterItGo) {
  const struct {
    const wchar_t* commandLine;
    const wchar_t* arguments;
  } rows[] = {
      {L"u.exe /S /LOG", L"/S /LOG"},
      {L"\"C:\\Program Files\\u.exe\"  \t/S", L"/S"},
      {L"\"C:\\Program Files\\u.exe\"/S", L""},
      {L"C:\\x\"a b\"\\u.exe /S", L"/S"},
      {L"u.exe", L""},
      {L"", L""},
      {nullptr, L""},
  };
  for (const auto& row : rows) EXPECT_EQ(std::wstring(ArgumentsOf(row.commandLine)), row.arguments);
}

// Blanks, quotes and backslashes as the C runtime reads them, and an argument longer than its buffer.
TEST(CommandArgumentsTest, ArgumentsAreSplitAsTheCRuntimeSplitsThem) {
  const struct {
    const wchar_t* commandLine;
    std::vector<std::wstring> arguments;
  } rows[] = {
      {L"\"abc\" d e", {L"abc", L"d", L"e"}},
      {L"a\\\\b d\"e f\"g h", {L"a\\\\b", L"de fg", L"h"}},
      {L"a\\\\\\\"b c d", {L"a\\\"b", L"c", L"d"}},
      {L"a\\\\\\\\\"b c\" d e", {L"a\\\\b c", L"d", L"e"}},
      {L"a\"b\"\" c d", {L"ab\" c d"}},
      {L" \t\"\"  x\ty ", {L"", L"x", L"y"}},
      {L"abcdefghij", {L"abcdefg (cut)"}},
  };
  for (const auto& row : rows) {
    std::vector<std::wstring> arguments;
    constexpr int ROOM = 8;
    wchar_t argument[ROOM];
    bool whole = true;
    for (const wchar_t* at = row.commandLine; NextArgument(&at, argument, ROOM, &whole);) {
      arguments.push_back(argument + std::wstring(whole ? L"" : L" (cut)"));
    }
    EXPECT_EQ(arguments, row.arguments) << winsim::Utf8Of(row.commandLine);
  }
}

// "/S" keeps its place as the first argument; the other switches come
// anywhere, in either case, and anything else refuses the line, which is
// still read to its end for its log.
TEST(RunSwitchesTest, SwitchesAreWholeArgumentsAndAnythingElseIsRefused) {
  const std::wstring tooLong = L"/S /LOG=C:\\" + std::wstring(MAX_PATH, L'x');
  struct Case {
    const wchar_t* commandLine;
    bool silent, suppressBoxes, noRestart, help;
    LogRequest log;
    const wchar_t* logPath;
    const wchar_t* refused;  // empty: the line is read whole
  } cases[] = {
      {nullptr, false, false, false, false, LOG_NONE, L"", L""},
      {L"/S /NORESTART /LOG", true, false, true, false, LOG_IN_TEMPORARY_FOLDER, L"", L""},
      {L"/s /norestart /SuppressMsgBoxes /NORESTART", true, true, true, false, LOG_NONE, L"", L""},
      {L"/NORESTART /S", false, false, true, false, LOG_NONE, L"", L"/S"},
      {L"/SUPPRESSMSGBOXES", true, true, false, false, LOG_NONE, L"", L""},
      {L"/S\t/NORESTART  /LOG=\"C:\\Update Logs\\run 1.log\"", true, false, true, false, LOG_TO_FILE,
       L"C:\\Update Logs\\run 1.log", L""},
      {L"\"/LOG=C:\\Log Folder\\whole quoted.log\"", false, false, false, false, LOG_TO_FILE,
       L"C:\\Log Folder\\whole quoted.log", L""},
      {L"/S /LOG=C:/logs/x.log", true, false, false, false, LOG_TO_FILE, L"C:/logs/x.log", L""},
      {L"/S /log=C:\\x.log /LOG", true, false, false, false, LOG_IN_TEMPORARY_FOLDER, L"", L""},
      {L"/S /LOG=", true, false, false, false, LOG_NONE, L"", L"/LOG="},
      {L"/S /NORESTARTNOW /LOGFILE \"/NORESTART\"", true, false, true, false, LOG_NONE, L"", L"/NORESTARTNOW"},
      {tooLong.c_str(), true, false, false, false, LOG_NAME_TOO_LONG, L"", L""},
      {L"/? /LOG", false, false, false, true, LOG_IN_TEMPORARY_FOLDER, L"", L""},
      {L"/S /Help", true, false, false, true, LOG_NONE, L"", L""},
      {L"/S/NORESTART", true, false, false, false, LOG_NONE, L"", L"/S/NORESTART"},
      {L"/NORESTART/LOG", false, false, false, false, LOG_NONE, L"", L"/NORESTART/LOG"},
      {L"/VERYSILENT /NORESTART", false, false, true, false, LOG_NONE, L"", L"/VERYSILENT"},
      {L"/quiet /norestart /LOG=C:\\x.log", false, false, true, false, LOG_TO_FILE, L"C:\\x.log", L"/quiet"},
      {L"-S x /FOO", false, false, false, false, LOG_NONE, L"", L"-S"},
      {L"/S /LOG:C:\\x.log", true, false, false, false, LOG_NONE, L"", L"/LOG:C:\\x.log"},
      {L"/S /LOG C:\\x.log", true, false, false, false, LOG_IN_TEMPORARY_FOLDER, L"", L"C:\\x.log"},
  };
  for (const Case& c : cases) {
    winsim::ResetMachine();
    SCOPED_TRACE(c.commandLine != nullptr ? winsim::Utf8Of(c.commandLine) : "no argument");
    RunSwitches switches;
    ReadSwitches(c.commandLine, &switches);
    EXPECT_EQ(switches.silent, c.silent);
    EXPECT_EQ(switches.suppressBoxes, c.suppressBoxes);
    EXPECT_EQ(switches.noRestart, c.noRestart);
    EXPECT_EQ(switches.help, c.help);
    EXPECT_EQ(switches.log, c.log);
    EXPECT_EQ(std::wstring(switches.logPath), c.logPath);
    EXPECT_EQ(switches.refusal != nullptr, c.refused[0] != L'\0');
    EXPECT_EQ(std::wstring(switches.refused), c.refused);
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

// A copy in another session holds only the global mutex; with /NORESTART the
// caller learns that a later try can succeed. A run that cannot create a
// mutex cannot know that it is alone. Either way nothing is touched.
TEST_F(SecondInstanceTest, EitherMutexHeldOrNotCreatedStopsTheRunBeforeAnythingIsTouched) {
  const struct {
    const char* held;
    unsigned failingCreate;  // with ERROR_INVALID_HANDLE, or ERROR_ACCESS_DENIED where it is held by another account
    DWORD createError;
    const wchar_t* commandLine;
    int exitCode;
    std::size_t boxes;
  } rows[] = {
      {GLOBAL_INSTANCE_MUTEX_NAME, 0, 0, L"", EXIT_STOPPED, 1},
      {GLOBAL_INSTANCE_MUTEX_NAME, 0, 0, L"/S /NORESTART", EXIT_RETRY_LATER, 0},
      {INSTANCE_MUTEX_NAME, 0, 0, L"/S /NORESTART", EXIT_RETRY_LATER, 0},
      {"", 1, ERROR_INVALID_HANDLE, L"/S /NORESTART", EXIT_STOPPED, 0},
      {"", 2, ERROR_INVALID_HANDLE, L"", EXIT_STOPPED, 0},
      {"", 2, ERROR_ACCESS_DENIED, L"/S /NORESTART", EXIT_RETRY_LATER, 0},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(testing::Message() << row.held << row.failingCreate << " " << winsim::Utf8Of(row.commandLine));
    winsim::ResetMachine();
    winsim::HoldMutexElsewhere(row.held);
    if (row.failingCreate != 0) winsim::FailCall("CreateMutexA", row.failingCreate, row.createError);
    EXPECT_EQ(RunUpdater(row.commandLine), row.exitCode);
    ASSERT_EQ(winsim::MessageBoxes().size(), row.boxes);
    if (row.boxes != 0) ExpectUpdaterBox(winsim::MessageBoxes()[0], Text(MSG_ALREADY_RUNNING));
    EXPECT_TRUE(winsim::ServiceManagerAccesses().empty());
    EXPECT_EQ(winsim::CallCount("RegOpenKeyExA"), 0u);
    EXPECT_EQ(winsim::OpenHandleCount(), 0u);
  }
}

TEST_F(SecondInstanceTest, RunRestrictsTheDllSearchToTheSystemFolder) {
  winsim::HoldMutexElsewhere(INSTANCE_MUTEX_NAME);
  RunUpdater(L"/S");
  EXPECT_EQ(winsim::DllSearchFlags(), 0x800u);
}

}  // namespace
