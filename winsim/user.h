// The user: a script of answers for message boxes, every box shown, and the
// window station the program runs in.
#pragma once

#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

struct MessageBoxRecord {
  const void* owner;
  std::string text;  // the exact bytes handed to MessageBoxA; for MessageBoxW the text as UTF-8
  std::string caption;
  UINT style;
  int answer;
  bool unicode;  // shown by MessageBoxW
};

// Answers for the next boxes, in order; a box beyond the script is answered IDOK.
void ScriptAnswers(const std::vector<int>& answers);
const std::vector<MessageBoxRecord>& MessageBoxes();

// The interactive station of a console session is visible; a service's, as a
// deployment tool's SYSTEM account gets it, is not. Unaskable: its flags cannot be read.
enum class WindowStation { Visible, Hidden, Unaskable };
void SetWindowStation(WindowStation station);

}  // namespace winsim
