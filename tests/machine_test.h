// Every test starts on a fresh simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "messages/message_table.h"
#include "winsim/machine.h"
#include "winsim/user.h"

class MachineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    winsim::ResetMachine();
    messageTable.Load();
  }

  // The loaded text of a slot in the machine's user language at SetUp.
  std::string Text(int slot) const { return messageTable.Slot(slot); }

  MessageTable messageTable;
};

// Every box of the updater: its one caption, no owner window, and OK or OK/Cancel.
inline void ExpectUpdaterBoxStyle(const winsim::MessageBoxRecord& box, UINT style = MB_OK) {
  EXPECT_EQ(box.caption, "ODRIX Carvella Maker Updater") << box.text;
  EXPECT_EQ(box.style, style) << box.text;
  EXPECT_EQ(box.owner, nullptr) << box.text;
}

inline void ExpectUpdaterBox(const winsim::MessageBoxRecord& box, const std::string& text, UINT style = MB_OK) {
  EXPECT_EQ(box.text, text);
  ExpectUpdaterBoxStyle(box, style);
}

// The texts of the boxes shown so far, each an OK box of the updater.
inline std::vector<std::string> UpdaterBoxTexts() {
  std::vector<std::string> texts;
  for (const winsim::MessageBoxRecord& box : winsim::MessageBoxes()) {
    ExpectUpdaterBoxStyle(box);
    texts.push_back(box.text);
  }
  return texts;
}
