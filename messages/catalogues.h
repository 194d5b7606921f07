// The fixed texts of every box, in both languages.
#pragma once

#include <cstddef>

enum MessageSlot {
  MSG_ALREADY_RUNNING = 0,
  MSG_CONFIRM_ADD_DRIVE = 1,
  MSG_NOT_INSTALLED = 2,
  MSG_INSTALL_BROKEN = 3,
  MSG_OS_TOO_OLD = 4,
  MSG_NEED_ADMIN = 5,
  MSG_FILE_COPY_ERROR = 6,
  MSG_FILE_ACCESS_ERROR = 7,
  MSG_APP_RUNNING = 8,
  MSG_REGISTRY_ERROR = 9,
  MSG_DONE_REBOOT_PROMPT = 10,
  MSG_DONE = 11,
  MSG_REBOOT_FAILED = 12,
  MSG_SERVICE_ERROR = 13,
  MSG_ALREADY_ADDED = 14,
  MSG_USAGE = 15,
  MSG_LOG_ERROR = 16,
  MSG_SERVICE_START_ERROR = 17,
};

constexpr int MESSAGE_COUNT = 18;
constexpr int MESSAGE_SLOT_SIZE = 256;

// Where a slot's text starts in a table of all slots.
constexpr std::ptrdiff_t SlotOffset(int slot) { return static_cast<std::ptrdiff_t>(slot) * MESSAGE_SLOT_SIZE; }

// The Japanese texts are Shift_JIS bytes, as code page 932 reads them.
constexpr unsigned JAPANESE_CODE_PAGE = 932;
extern const char* const JAPANESE_TEXTS[MESSAGE_COUNT];
extern const char* const ENGLISH_TEXTS[MESSAGE_COUNT];
