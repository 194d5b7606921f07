// Runs a program and answers its message boxes the way a user would, recording
// each box exactly: its text, its buttons, and the answer given.
//
//   pilot.exe <logfile> <answers> <timeout ms> [--end-when <file>] [--hidden-station] <program> [<argument>...]
//
// With --end-when the program is ended abruptly (TerminateProcess, as a power
// cut ends it) as soon as <file> exists. With --hidden-station the program
// runs on a desktop of a window station of its own, which nobody sees (only
// WinSta0 is visible); its boxes, if any, cannot be answered there.
// An argument that holds a double quote is passed as it is, already quoted by
// the caller; one with a blank and no quote is put in quotes.
//
// <answers> is a comma-separated list of button names (OK, Cancel, Yes, No) used
// in order, one per box, or "-" for none. A box beyond the list is answered with
// Cancel when it has that button, else OK, and recorded as unscripted.
// Only boxes with the updater's caption count. The log gets UTF-8 lines:
//   box TAB <buttons> TAB <answer> TAB <flags> TAB <text, with \n \t \\ escaped>
//   exit TAB <exit code>   or   timeout (ended after the timeout)   or   ended (ended by --end-when)
//   elapsed TAB <milliseconds from the program's start to its end>
// After the program's exit the pilot also waits until Wine's restart work
// (wineboot.exe, started by a restart request) has finished, so that what the
// tests look at next is not changing under them.
// <flags> lists "icon" when the box shows an icon and "owner" when it has an owner window, else "-".
#include <windows.h>
#include <tlhelp32.h>

#include <set>
#include <string>
#include <vector>

#include "tool_support.h"

namespace {

const wchar_t BOX_CAPTION[] = L"ODRIX Carvella Maker Updater";
const wchar_t BOX_CLASS[] = L"#32770";
const DWORD POLL_MS = 20;
const DWORD CLOSE_TIMEOUT_MS = 5000;
const DWORD RESTART_WORK_TIMEOUT_MS = 20000;
const wchar_t RESTART_PROGRAM[] = L"wineboot.exe";

struct ButtonName {
  int id;
  const char* name;
};

const ButtonName BUTTONS[] = {{IDOK, "OK"}, {IDCANCEL, "Cancel"}, {IDABORT, "Abort"}, {IDRETRY, "Retry"},
                              {IDIGNORE, "Ignore"}, {IDYES, "Yes"}, {IDNO, "No"}};

const char* NameOfButton(int id) {
  for (const ButtonName& button : BUTTONS)
    if (button.id == id) return button.name;
  return NULL;
}

int IdOfButton(const std::string& name) {
  for (const ButtonName& button : BUTTONS)
    if (name == button.name) return button.id;
  return 0;
}

std::wstring WindowText(HWND window) {
  int length = GetWindowTextLengthW(window);
  std::wstring text(length + 1, L'\0');
  length = GetWindowTextW(window, &text[0], length + 1);
  text.resize(length > 0 ? length : 0);
  return text;
}

std::wstring ClassOf(HWND window) {
  wchar_t name[64] = L"";
  GetClassNameW(window, name, 64);
  return name;
}

struct Box {
  HWND window = NULL;
  std::wstring text;
  std::vector<int> buttons;  // visible ones, in creation order
  bool icon = false;
};

BOOL CALLBACK CollectControl(HWND control, LPARAM parameter) {
  Box* box = reinterpret_cast<Box*>(parameter);
  if (!IsWindowVisible(control)) return TRUE;
  const std::wstring className = ClassOf(control);
  if (lstrcmpiW(className.c_str(), L"Button") == 0) {
    if (NameOfButton(GetDlgCtrlID(control)) != NULL) box->buttons.push_back(GetDlgCtrlID(control));
  } else if (lstrcmpiW(className.c_str(), L"Static") == 0) {
    if ((GetWindowLongW(control, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      if (SendMessageW(control, STM_GETICON, 0, 0) != 0) box->icon = true;
    } else {
      std::wstring text = WindowText(control);
      if (!text.empty()) box->text += box->text.empty() ? text : L"\n" + text;
    }
  }
  return TRUE;
}

BOOL CALLBACK CollectBox(HWND window, LPARAM parameter) {
  std::vector<HWND>* boxes = reinterpret_cast<std::vector<HWND>*>(parameter);
  if (IsWindowVisible(window) && ClassOf(window) == BOX_CLASS && WindowText(window) == BOX_CAPTION)
    boxes->push_back(window);
  return TRUE;
}

std::wstring CommandLine(int argc, wchar_t** argv, int first) {
  std::wstring line;
  for (int i = first; i < argc; ++i) {
    std::wstring argument = argv[i];
    if (!line.empty()) line += L' ';
    const bool quoted = argument.find(L'"') != std::wstring::npos;
    if (!quoted && (argument.empty() || argument.find_first_of(L" \t") != std::wstring::npos)) {
      line += L"\"" + argument + L"\"";
    } else {
      line += argument;
    }
  }
  return line;
}

bool RestartWorkRunning() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  PROCESSENTRY32W entry = {};
  entry.dwSize = sizeof entry;
  bool found = false;
  for (BOOL more = Process32FirstW(snapshot, &entry); more && !found; more = Process32NextW(snapshot, &entry))
    found = lstrcmpiW(entry.szExeFile, RESTART_PROGRAM) == 0;
  CloseHandle(snapshot);
  return found;
}

void WaitForRestartWork() {
  DWORD start = GetTickCount();
  while (RestartWorkRunning() && GetTickCount() - start < RESTART_WORK_TIMEOUT_MS) Sleep(POLL_MS);
}

class Pilot {
 public:
  Pilot(const std::wstring& logPath, const std::string& answers) : logPath(logPath) {
    if (answers != "-")
      for (const std::string& name : Split(answers, ',')) script.push_back(IdOfButton(name));
  }

  void Record(const std::string& line) { AppendToFile(logPath, line + "\n"); }

  // Answers every box of the caption that has not been answered yet.
  void AnswerBoxes() {
    std::vector<HWND> windows;
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
      if (answered.count(window) != 0) continue;
      Box box;
      box.window = window;
      EnumChildWindows(window, CollectControl, reinterpret_cast<LPARAM>(&box));
      if (box.buttons.empty()) continue;  // not laid out yet
      Answer(box);
    }
    std::set<HWND> stillOpen;
    for (HWND window : answered)
      if (IsWindow(window)) stillOpen.insert(window);
    answered.swap(stillOpen);
  }

 private:
  bool HasButton(const Box& box, int id) const {
    for (int button : box.buttons)
      if (button == id) return true;
    return false;
  }

  void Answer(const Box& box) {
    std::string answerName;
    int id = 0;
    if (next < script.size()) {
      id = script[next++];
      answerName = NameOfButton(id) != NULL ? NameOfButton(id) : "?";
    } else {
      id = HasButton(box, IDCANCEL) ? IDCANCEL : IDOK;
      answerName = std::string(NameOfButton(id)) + "(unscripted)";
    }
    std::string buttons;
    for (int button : box.buttons) buttons += (buttons.empty() ? "" : ",") + std::string(NameOfButton(button));
    std::string flags;
    if (box.icon) flags += "icon";
    if (GetWindow(box.window, GW_OWNER) != NULL) flags += flags.empty() ? "owner" : ",owner";
    Record("box\t" + buttons + "\t" + answerName + "\t" + (flags.empty() ? "-" : flags) + "\t" +
           EscapeLine(Utf8(box.text)));
    answered.insert(box.window);
    PostMessageW(box.window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(box.window, id)));
    DWORD start = GetTickCount();
    while (IsWindow(box.window) && IsWindowVisible(box.window) && GetTickCount() - start < CLOSE_TIMEOUT_MS)
      Sleep(POLL_MS);
  }

  std::wstring logPath;
  std::vector<int> script;
  size_t next = 0;
  std::set<HWND> answered;
};

// A window station other than WinSta0 is not visible. The desktop is made
// while the pilot is attached to the new station, since CreateDesktop makes
// it in the calling process's one; the handles stay open until the pilot
// ends, so that both outlive the program's start.
class HiddenStation {
 public:
  ~HiddenStation() {
    if (desktop != NULL) CloseDesktop(desktop);
    if (station != NULL) CloseWindowStation(station);
  }

  bool Create() {
    // Named after the pilot, so that no earlier pilot's station is opened instead.
    const std::string name = "e2e-hidden-" + std::to_string(GetCurrentProcessId());
    station = CreateWindowStationA(name.c_str(), 0, WINSTA_ALL_ACCESS, NULL);
    if (station == NULL) return false;
    HWINSTA own = GetProcessWindowStation();
    if (own == NULL || !SetProcessWindowStation(station)) return false;
    desktop = CreateDesktopA(DESKTOP_NAME, NULL, NULL, 0, GENERIC_ALL, NULL);
    const DWORD error = GetLastError();
    if (!SetProcessWindowStation(own)) return false;
    SetLastError(error);
    if (desktop == NULL) return false;
    path = FromUtf8(name + "\\" + DESKTOP_NAME);
    return !IsVisible();
  }

  // A station that turned out visible would test nothing.
  bool IsVisible() const {
    USEROBJECTFLAGS flags = {};
    DWORD needed = 0;
    return !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed) ||
           (flags.dwFlags & WSF_VISIBLE) != 0;
  }

  // "station\desktop", as STARTUPINFO.lpDesktop takes it.
  wchar_t* DesktopPath() { return &path[0]; }

 private:
  static constexpr char DESKTOP_NAME[] = "hidden";
  HWINSTA station = NULL;
  HDESK desktop = NULL;
  std::wstring path;
};

class Stopwatch {
 public:
  Stopwatch() {
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
  }
  long long Milliseconds() const {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return (now.QuadPart - start.QuadPart) * 1000 / frequency.QuadPart;
  }

 private:
  LARGE_INTEGER frequency;
  LARGE_INTEGER start;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  DWORD timeoutMs = 0;
  if (argc < 5 || !ParseNumber(argv[3], &timeoutMs)) return 2;
  const std::wstring logPath = argv[1];
  WriteWholeFile(logPath, "");
  Pilot pilot(logPath, Utf8(argv[2]));
  int programArgument = 4;
  std::wstring endWhen;
  bool hiddenStation = false;
  for (;;) {
    const std::wstring option = programArgument < argc ? argv[programArgument] : L"";
    if (option == L"--end-when" && programArgument + 1 < argc) {
      endWhen = argv[programArgument + 1];
      programArgument += 2;
    } else if (option == L"--hidden-station") {
      hiddenStation = true;
      ++programArgument;
    } else {
      break;
    }
  }
  if (programArgument >= argc) return 2;

  std::wstring commandLine = CommandLine(argc, argv, programArgument);
  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  HiddenStation station;
  if (hiddenStation) {
    if (!station.Create()) {
      pilot.Record("error\thidden station " + std::to_string(GetLastError()));
      return 1;
    }
    startup.lpDesktop = station.DesktopPath();
  }
  PROCESS_INFORMATION process = {};
  const Stopwatch stopwatch;
  if (!CreateProcessW(NULL, &commandLine[0], NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
    pilot.Record("error\tstart " + std::to_string(GetLastError()));
    return 1;
  }
  CloseHandle(process.hThread);
  DWORD start = GetTickCount();
  std::string outcome;
  int result = 0;
  while (outcome.empty() && WaitForSingleObject(process.hProcess, POLL_MS) == WAIT_TIMEOUT) {
    pilot.AnswerBoxes();
    if (!endWhen.empty() && GetFileAttributesW(endWhen.c_str()) != INVALID_FILE_ATTRIBUTES) {
      outcome = "ended";
    } else if (GetTickCount() - start > timeoutMs) {
      outcome = "timeout";
      result = 3;
    }
  }
  if (outcome.empty()) {
    DWORD exitCode = 0;
    GetExitCodeProcess(process.hProcess, &exitCode);
    outcome = "exit\t" + std::to_string(exitCode);
  } else {
    TerminateProcess(process.hProcess, 0xDEAD);
    WaitForSingleObject(process.hProcess, CLOSE_TIMEOUT_MS);
  }
  const long long elapsedMs = stopwatch.Milliseconds();
  CloseHandle(process.hProcess);
  pilot.Record(outcome);
  pilot.Record("elapsed\t" + std::to_string(elapsedMs));
  if (outcome.compare(0, 4, "exit") == 0) WaitForRestartWork();
  return result;
}
