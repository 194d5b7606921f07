#include "log/result_words.h"

#include "deploy/deploy_file.h"
#include "deploy/update_record.h"
#include "platform/result_codes.h"
#include "platform/text.h"
#include "platform/wide_text.h"
#include "registry/registry_key.h"
#include "services/service_control.h"

namespace {

constexpr unsigned SourceBit(ResultSource source) { return 1u << source; }
// The record lives in the registry: the registry accessor's codes come with it.
constexpr unsigned REGISTRY_ACCESSOR = SourceBit(FROM_REGISTRY) | SourceBit(FROM_RECORD);
constexpr unsigned EVERY_ACCESSOR = SourceBit(FROM_FILE) | SourceBit(FROM_SERVICE) | REGISTRY_ACCESSOR;
constexpr unsigned EVERY_SOURCE = SourceBit(FROM_WINDOWS) | EVERY_ACCESSOR;

struct OwnCode {
  int code;
  unsigned sources;
  const char* words;
};

// The codes the accessors make themselves, for the sources that make them.
// Left to the system's text: the short write of a payload, which is by design
// ERROR_WRITE_FAULT, and the file accessor's missing name and folder, which
// no row file lacks, so that a 2 or 3 from a file is always the Windows one.
constexpr OwnCode OWN_CODES[] = {
    {0, EVERY_SOURCE, "success"},
    {ERR_LINKED_FILE, SourceBit(FROM_FILE), "a link or a file with several names, not written through"},
    {ERR_NO_PATH, REGISTRY_ACCESSOR, "no key path (none given, or one too long)"},
    {ERR_NO_ROOT, REGISTRY_ACCESSOR, "no root key"},
    {ERR_TYPE_MISMATCH, REGISTRY_ACCESSOR, "the value is of another type"},
    {ERR_CREATE_FAILED, REGISTRY_ACCESSOR, "the key could not be created"},
    {ERR_VALUE_NOT_FOUND, REGISTRY_ACCESSOR, "the value is not there"},
    {ERR_NOT_VOLATILE, REGISTRY_ACCESSOR, "a key that would outlive the restart of Windows"},
    {ERR_RECORD_UNREADABLE, SourceBit(FROM_RECORD), "the record is there but cannot be read or understood"},
    {ERR_RECORD_FULL, SourceBit(FROM_RECORD), "every place for a record holds another folder's"},
    {ERR_SERVICE_COMMAND_FAILED, SourceBit(FROM_SERVICE),
     "neither running nor paused when asked to stop, or the start refused"},
    {static_cast<int>(SERVICE_ERROR_PRESET), SourceBit(FROM_SERVICE), "no Windows call failed"},
    {ERR_OUT_OF_MEMORY, EVERY_ACCESSOR, "out of memory"},
    {ERR_TEXT_TOO_LONG, EVERY_ACCESSOR, "a name or path too long"},
};

constexpr char NO_TEXT[] = "no text for this code";
constexpr DWORD SYSTEM_TEXT_FLAGS =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
// "4294967295: " comes before the words.
constexpr int CODE_PREFIX_SIZE = 12;
constexpr int SYSTEM_TEXT_UNITS = (RESULT_WORDS_SIZE - CODE_PREFIX_SIZE - 1) / MOST_BYTES_PER_UNIT;

const char* OwnWords(int code, ResultSource source) {
  for (const OwnCode& own : OWN_CODES) {
    if (own.code == code && (own.sources & SourceBit(source)) != 0) return own.words;
  }
  return nullptr;
}

bool IsBlankOrLineEnd(wchar_t c) { return c == L' ' || c == L'\r' || c == L'\n'; }

// In US English where Windows has it, since that is the text an administrator
// searches for; else in the language Windows has its texts in. The width flag
// turns the text's line end into a blank, which goes.
bool SystemText(int code, wchar_t* text, DWORD size) {
  const DWORD english = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
  if (FormatMessageW(SYSTEM_TEXT_FLAGS, nullptr, static_cast<DWORD>(code), english, text, size, nullptr) == 0 &&
      FormatMessageW(SYSTEM_TEXT_FLAGS, nullptr, static_cast<DWORD>(code), LANG_NEUTRAL, text, size, nullptr) == 0) {
    return false;
  }
  int length = WideLength(text);
  while (length > 0 && IsBlankOrLineEnd(text[length - 1])) --length;
  text[length] = L'\0';
  return true;
}

}  // namespace

ResultWords DescribeResult(int code, ResultSource source) {
  ResultWords words;
  const int prefix = wsprintfA(words.text, "%u: ", static_cast<unsigned>(code));
  char* rest = words.text + prefix;
  const int room = RESULT_WORDS_SIZE - prefix;
  const char* own = OwnWords(code, source);
  wchar_t text[SYSTEM_TEXT_UNITS];
  if (own != nullptr) {
    CopyText(rest, own, room);
  } else if (!SystemText(code, text, SYSTEM_TEXT_UNITS) || !NarrowText(text, rest, room)) {
    CopyText(rest, NO_TEXT, room);
  }
  return words;
}

VersionWords DescribeVersion(DWORD version) {
  VersionWords words;
  const int length = wsprintfA(words.text, "Ver.%u.%02u", static_cast<unsigned>(version >> 24),
                               static_cast<unsigned>(version >> 16 & 0xFF));
  if ((version & 0xFFFF) != 0) {
    wsprintfA(words.text + length, ".%u.%u", static_cast<unsigned>(version >> 8 & 0xFF),
              static_cast<unsigned>(version & 0xFF));
  }
  return words;
}
