// The user: message boxes answered from a script, the window station, and the
// user32 string helpers.
#include "winsim/user.h"

#include <cstdarg>
#include <cstdio>

#include "winsim/code_pages.h"
#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct UserState {
  std::vector<int> answers;
  std::size_t nextAnswer = 0;
  std::vector<MessageBoxRecord> boxes;
  WindowStation station = WindowStation::Visible;
};

UserState& User() {
  static UserState state;
  return state;
}

void ResetUser() { User() = UserState(); }

HWINSTA ProcessWindowStation() { return reinterpret_cast<HWINSTA>(static_cast<std::uintptr_t>(0x5A)); }
ResetHook resetUser(&ResetUser);

int AnswerBox(HWND owner, const std::string& text, const std::string& caption, UINT type, bool unicode) {
  UserState& user = User();
  const int answer = user.nextAnswer < user.answers.size() ? user.answers[user.nextAnswer++] : IDOK;
  user.boxes.push_back(MessageBoxRecord{owner, text, caption, type, answer, unicode});
  return answer;
}

}  // namespace

void ScriptAnswers(const std::vector<int>& answers) {
  User().answers = answers;
  User().nextAnswer = 0;
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return User().boxes; }

void SetWindowStation(WindowStation station) { User().station = station; }

}  // namespace winsim

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (winsim::Faulted("MessageBoxA")) return 0;
  return winsim::AnswerBox(owner, text != nullptr ? text : "", caption != nullptr ? caption : "", type, false);
}

int WINAPI MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
  if (winsim::Faulted("MessageBoxW")) return 0;
  return winsim::AnswerBox(owner, winsim::Utf8Of(text), winsim::Utf8Of(caption), type, true);
}

// wsprintfA and wvsprintfA write at most 1024 bytes, terminator included.
int WINAPI wvsprintfA(LPSTR buffer, LPCSTR format, va_list arguments) {
  const int most = 1024;
  const int length = std::vsnprintf(buffer, most, format, arguments);
  return length < most ? length : most - 1;
}

int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int length = wvsprintfA(buffer, format, arguments);
  va_end(arguments);
  return length;
}

// The station's handle belongs to the process; a program never closes it.
HWINSTA WINAPI GetProcessWindowStation() {
  if (winsim::Faulted("GetProcessWindowStation")) return nullptr;
  return winsim::ProcessWindowStation();
}

BOOL WINAPI GetUserObjectInformationW(HANDLE object, int index, LPVOID information, DWORD length, LPDWORD needed) {
  using winsim::WindowStation;
  if (winsim::Faulted("GetUserObjectInformationW")) return FALSE;
  if (object != reinterpret_cast<HANDLE>(winsim::ProcessWindowStation()) || index != UOI_FLAGS) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (needed != nullptr) *needed = sizeof(USEROBJECTFLAGS);
  if (winsim::User().station == WindowStation::Unaskable) {
    SetLastError(ERROR_ACCESS_DENIED);
    return FALSE;
  }
  if (information == nullptr || length < sizeof(USEROBJECTFLAGS)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  const DWORD flags = winsim::User().station == WindowStation::Visible ? WSF_VISIBLE : 0;
  *static_cast<USEROBJECTFLAGS*>(information) = USEROBJECTFLAGS{FALSE, FALSE, flags};
  return TRUE;
}

// A pointer value whose high bits are zero carries one character to upper-case.
LPWSTR WINAPI CharUpperW(LPWSTR text) {
  auto upper = [](WCHAR c) { return static_cast<WCHAR>(c >= L'a' && c <= L'z' ? c - 32 : c); };
  const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(text);
  if ((value >> 16) == 0) return reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(upper(static_cast<WCHAR>(value))));
  for (WCHAR* c = text; *c != 0; ++c) *c = upper(*c);
  return text;
}
