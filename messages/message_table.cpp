#include "messages/message_table.h"

#include <cstring>

#include "platform/text.h"
#include "platform/win32.h"

namespace {

// Whether every Japanese text can be shown as Unicode read in code page 932;
// a Windows without that code page converts none.
bool JapaneseReadsAsUnicode() {
  for (int slot = 0; slot < MESSAGE_COUNT; ++slot) {
    if (MultiByteToWideChar(JAPANESE_CODE_PAGE, MB_ERR_INVALID_CHARS, JAPANESE_TEXTS[slot], -1, nullptr, 0) == 0) {
      return false;
    }
  }
  return true;
}

}  // namespace

int MessageTable::LanguageIndex() {
  return PRIMARYLANGID(GetUserDefaultLangID()) == LANG_JAPANESE ? CATALOGUE_JAPANESE : CATALOGUE_ENGLISH;
}

// Shift_JIS bytes handed to MessageBoxA read as Japanese only where the ANSI
// code page is 932. Elsewhere the boxes convert them, and where that cannot
// be done the user gets English rather than a box of stray characters.
void MessageTable::Load() {
  language = LanguageIndex();
  codePage = CP_ACP;
  if (language == CATALOGUE_JAPANESE && GetACP() != JAPANESE_CODE_PAGE) {
    if (JapaneseReadsAsUnicode()) {
      codePage = JAPANESE_CODE_PAGE;
    } else {
      language = CATALOGUE_ENGLISH;
    }
  }
  const char* const* catalogue = language == CATALOGUE_JAPANESE ? JAPANESE_TEXTS : ENGLISH_TEXTS;
  std::memset(text, 0, sizeof text);
  for (int slot = 0; slot < MESSAGE_COUNT; ++slot) {
    CopyText(text + SlotOffset(slot), catalogue[slot], MESSAGE_SLOT_SIZE);
  }
}
