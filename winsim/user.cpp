// The user: message boxes answered from a script, and the user32 string helpers.
#include "winsim/user.h"

#include <cstdarg>
#include <cstdio>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct UserState {
  std::vector<int> answers;
  std::size_t nextAnswer = 0;
  std::vector<MessageBoxRecord> boxes;
};

UserState& User() {
  static UserState state;
  return state;
}

void ResetUser() { User() = UserState(); }
ResetHook resetUser(&ResetUser);

}  // namespace

void ScriptAnswers(const std::vector<int>& answers) {
  User().answers = answers;
  User().nextAnswer = 0;
}

const std::vector<MessageBoxRecord>& MessageBoxes() { return User().boxes; }

}  // namespace winsim

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
  if (winsim::Faulted("MessageBoxA")) return 0;
  winsim::UserState& user = winsim::User();
  const int answer = user.nextAnswer < user.answers.size() ? user.answers[user.nextAnswer++] : IDOK;
  user.boxes.push_back(winsim::MessageBoxRecord{owner, text != nullptr ? text : "", caption != nullptr ? caption : "",
                                                type, answer});
  return answer;
}

// wsprintfA writes at most 1024 bytes, terminator included.
int wsprintfA(LPSTR buffer, LPCSTR format, ...) {
  const int most = 1024;
  va_list arguments;
  va_start(arguments, format);
  const int length = std::vsnprintf(buffer, most, format, arguments);
  va_end(arguments);
  return length < most ? length : most - 1;
}

// A pointer value whose high bits are zero carries one character to upper-case.
LPWSTR WINAPI CharUpperW(LPWSTR text) {
  auto upper = [](WCHAR c) { return static_cast<WCHAR>(c >= L'a' && c <= L'z' ? c - 32 : c); };
  const std::uintptr_t value = reinterpret_cast<std::uintptr_t>(text);
  if ((value >> 16) == 0) return reinterpret_cast<LPWSTR>(static_cast<std::uintptr_t>(upper(static_cast<WCHAR>(value))));
  for (WCHAR* c = text; *c != 0; ++c) *c = upper(*c);
  return text;
}
