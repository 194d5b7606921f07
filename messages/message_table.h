// The 18 texts of the user's language, one 256-byte slot each, loaded once
// before anything can go wrong so that every failure can be told; and the
// code page a box must read them in.
#pragma once

#include "messages/catalogues.h"
#include "platform/win32.h"

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
  // The catalogue loaded: CATALOGUE_JAPANESE or CATALOGUE_ENGLISH.
  int Language() const { return language; }
  // CP_ACP when the texts are in the ANSI code page, else the code page to read them in.
  UINT CodePage() const { return codePage; }

 private:
  char text[MESSAGE_TABLE_SIZE];
  int language;
  UINT codePage;
};
