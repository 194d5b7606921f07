// The user: a script of answers for message boxes, and every box shown.
#pragma once

#include <string>
#include <vector>

#include "winsim/api.h"

namespace winsim {

struct MessageBoxRecord {
  const void* owner;
  std::string text;  // the exact bytes handed over
  std::string caption;
  UINT style;
  int answer;
};

// Answers for the next boxes, in order; a box beyond the script is answered IDOK.
void ScriptAnswers(const std::vector<int>& answers);
const std::vector<MessageBoxRecord>& MessageBoxes();

}  // namespace winsim
