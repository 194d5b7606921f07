// The 14 texts of the user's language, one 256-byte slot each, loaded once
// before anything can go wrong so that every failure can be told.
#pragma once

#include "messages/catalogues.h"

constexpr int MESSAGE_TABLE_SIZE = MESSAGE_COUNT * MESSAGE_SLOT_SIZE;
constexpr int CATALOGUE_JAPANESE = 0;
constexpr int CATALOGUE_ENGLISH = 1;

class MessageTable {
 public:
  MessageTable() {}
  MessageTable(const MessageTable&) = delete;
  MessageTable& operator=(const MessageTable&) = delete;

  static int LanguageIndex();
  void Load();
  const char* Text() const { return text; }
  const char* Slot(int slot) const { return text + SlotOffset(slot); }

 private:
  char text[MESSAGE_TABLE_SIZE];
};
