// Every test starts on a fresh simulated machine.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "messages/message_table.h"
#include "winsim/machine.h"

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
