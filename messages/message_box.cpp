#include "messages/message_box.h"

#include "log/run_log.h"
#include "platform/system_functions.h"
#include "platform/wide_text.h"

const char MESSAGE_CAPTION[] = "ODRIX Carvella Maker Updater";

namespace {

// The longest text handed over is a formatted one of MAX_PATH bytes.
constexpr int WIDE_TEXT_SIZE = MAX_PATH;
constexpr int LOG_LABEL_SIZE = 96;

bool MayShow(const BoxRules& rules, BoxKind kind) {
  if (rules.suppressBoxes) return false;
  return rules.showUi || kind == BOX_FAILURE;
}

// Texts of a code page other than the ANSI one are shown as Unicode; one
// that cannot be read in its code page is shown as it is.
int Show(const char* text, UINT buttons, UINT codePage) {
  wchar_t wideText[WIDE_TEXT_SIZE];
  wchar_t wideCaption[WIDE_TEXT_SIZE];
  if (codePage != CP_ACP && WidenText(text, codePage, wideText, WIDE_TEXT_SIZE) &&
      WidenText(MESSAGE_CAPTION, codePage, wideCaption, WIDE_TEXT_SIZE)) {
    return MessageBoxW(nullptr, wideText, wideCaption, buttons);
  }
  return MessageBoxA(nullptr, text, MESSAGE_CAPTION, buttons);
}

const char* AnswerName(int answer) {
  switch (answer) {
    case IDOK: return "OK";
    case IDCANCEL: return "Cancel";
    case 0: return "none, the box could not be shown";
    default: return "another button";
  }
}

void LogBox(const BoxRules& rules, BoxKind kind, bool shown, int answer, const char* text) {
  if (rules.log == nullptr || !rules.log->IsOpen()) return;
  char label[LOG_LABEL_SIZE];
  const char* box = kind == BOX_QUESTION ? "question" : "box";
  if (shown) {
    wsprintfA(label, "%s shown, answer %s: ", box, AnswerName(answer));
  } else {
    wsprintfA(label, "%s not shown (%s)%s: ", box, rules.suppressBoxes ? "boxes suppressed" : "silent run",
              kind == BOX_QUESTION ? ", taken as OK" : "");
  }
  rules.log->Text(label, text, rules.textCodePage);
}

}  // namespace

int ShowBox(const BoxRules& rules, BoxKind kind, const char* text) {
  const bool shown = MayShow(rules, kind);
  const int answer = shown ? Show(text, kind == BOX_QUESTION ? MB_OKCANCEL : MB_OK, rules.textCodePage) : IDOK;
  LogBox(rules, kind, shown, answer, text);
  return answer;
}

// The handle belongs to the process and is never closed.
bool IsWindowStationVisible() {
  if (RunsInServicesSession()) return false;
  HWINSTA station = GetProcessWindowStation();
  USEROBJECTFLAGS flags = {};
  DWORD needed = 0;
  if (station == nullptr || !GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
  return (flags.dwFlags & WSF_VISIBLE) != 0;
}
