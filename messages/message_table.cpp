#include "messages/message_table.h"

#include <cstring>

#include "platform/text.h"
#include "platform/win32.h"

int MessageTable::LanguageIndex() {
  return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_JAPANESE ? CATALOGUE_JAPANESE : CATALOGUE_ENGLISH;
}

void MessageTable::Load() {
  const char* const* catalogue = LanguageIndex() == CATALOGUE_JAPANESE ? JAPANESE_TEXTS : ENGLISH_TEXTS;
  std::memset(text, 0, sizeof text);
  for (int slot = 0; slot < MESSAGE_COUNT; ++slot) {
    CopyText(text + SlotOffset(slot), catalogue[slot], MESSAGE_SLOT_SIZE);
  }
}
