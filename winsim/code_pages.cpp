// Code pages as kernel32 converts them, by the host's iconv: the ANSI code
// page, the installed ones, and the documented answers of the two conversion
// functions (sizes asked with a count of 0, a terminator converted with a
// length of -1, strict conversion of invalid bytes, a buffer too small).
//
// Microsoft, "Unicode in the Windows API" and "Code Pages": an ANSI function
// converts its strings from the ANSI code page to Unicode before it does
// anything, so in code page 932 the trail byte 0x5C of a character such as
// 0x95 0x5C is no path separator. Names that Windows compares without regard
// to case are compared by their Unicode upper case. Pinned by
// WinsimFilesTest.PathsIgnoreCaseAndBackslashRuns.
#include "winsim/code_pages.h"

#include <iconv.h>
#include <locale.h>
#include <wctype.h>

#include <algorithm>

#include <cerrno>
#include <cstring>
#include <cwchar>
#include <set>

#include "winsim/internal.h"
#include "winsim/machine.h"

namespace winsim {
namespace {

struct CodePageState {
  UINT ansiCodePage = 1252;
  std::set<UINT> installed = {1252, 932, CP_UTF8};
};

CodePageState& CodePages() {
  static CodePageState state;
  return state;
}

void ResetCodePages() { CodePages() = CodePageState(); }
ResetHook resetCodePages(&ResetCodePages);

const wchar_t REPLACEMENT_CHARACTER = 0xFFFD;

UINT Effective(UINT codePage) { return codePage == CP_ACP ? CodePages().ansiCodePage : codePage; }

const char* IconvName(UINT codePage) {
  switch (codePage) {
    case 932: return "CP932";
    case 1252: return "CP1252";
    case CP_UTF8: return "UTF-8";
    default: return nullptr;
  }
}

// Converts through iconv; an invalid sequence fails the whole text when strict,
// else becomes U+FFFD (when converting to wide) or '?'.
bool Convert(const char* from, const char* to, const std::string& input, bool strict, std::string* output) {
  iconv_t converter = iconv_open(to, from);
  if (converter == reinterpret_cast<iconv_t>(-1)) return false;
  std::string in = input;
  char* inAt = &in[0];
  std::size_t inLeft = in.size();
  output->clear();
  bool ok = true;
  while (inLeft > 0) {
    char chunk[256];
    char* outAt = chunk;
    std::size_t outLeft = sizeof chunk;
    const std::size_t result = iconv(converter, &inAt, &inLeft, &outAt, &outLeft);
    output->append(chunk, sizeof chunk - outLeft);
    if (result != static_cast<std::size_t>(-1) || errno == E2BIG) continue;
    if (strict) {
      ok = false;
      break;
    }
    const bool toWide = std::string(to) == "WCHAR_T";
    const std::size_t skipped = std::string(from) == "WCHAR_T" ? sizeof(wchar_t) : 1;
    const wchar_t replacement = REPLACEMENT_CHARACTER;
    output->append(toWide ? std::string(reinterpret_cast<const char*>(&replacement), sizeof replacement) : "?");
    inAt += skipped;
    inLeft -= skipped;
  }
  iconv_close(converter);
  return ok;
}

bool IsAscii(const std::string& text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return (c & 0x80) == 0; });
}

template <typename Result>
Result Fail(DWORD error, Result result) {
  SetLastError(error);
  return result;
}

}  // namespace

void SetAnsiCodePage(UINT codePage) { CodePages().ansiCodePage = codePage; }

void SetCodePageInstalled(UINT codePage, bool installed) {
  if (installed) {
    CodePages().installed.insert(codePage);
  } else {
    CodePages().installed.erase(codePage);
  }
}

std::string Utf8Of(const wchar_t* text) {
  std::string utf8;
  if (text == nullptr) return utf8;
  const std::string wide(reinterpret_cast<const char*>(text), std::wcslen(text) * sizeof(wchar_t));
  Convert("WCHAR_T", "UTF-8", wide, false, &utf8);
  return utf8;
}

std::string Utf8OfAnsi(const char* text) {
  std::string utf8 = text != nullptr ? text : "";
  if (!IsAscii(utf8)) Convert(IconvName(CodePages().ansiCodePage), "UTF-8", text, false, &utf8);
  return utf8;
}

std::string AnsiOfUtf8(const std::string& text) {
  std::string ansi = text;
  if (!IsAscii(text)) Convert("UTF-8", IconvName(CodePages().ansiCodePage), text, false, &ansi);
  return ansi;
}

// Upper case decides, as in Windows; the key keeps ASCII in lower case.
std::string FoldCase(const std::string& utf8) {
  if (IsAscii(utf8)) return LowerCase(utf8);
  static const locale_t unicode = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
  std::string wide;
  Convert("UTF-8", "WCHAR_T", utf8, false, &wide);
  for (std::size_t at = 0; at + sizeof(wchar_t) <= wide.size(); at += sizeof(wchar_t)) {
    wchar_t c;
    wide.copy(reinterpret_cast<char*>(&c), sizeof c, at);
    c = static_cast<wchar_t>(towlower_l(towupper_l(static_cast<wint_t>(c), unicode), unicode));
    wide.replace(at, sizeof c, reinterpret_cast<const char*>(&c), sizeof c);
  }
  std::string folded;
  Convert("WCHAR_T", "UTF-8", wide, false, &folded);
  return folded;
}

}  // namespace winsim

UINT WINAPI GetACP() {
  winsim::CountCall("GetACP");
  return winsim::CodePages().ansiCodePage;
}

BOOL WINAPI IsValidCodePage(UINT codePage) {
  winsim::CountCall("IsValidCodePage");
  return winsim::CodePages().installed.count(codePage) != 0 ? TRUE : FALSE;
}

// Code page 932 opens a double-byte character with 0x81-0x9F or 0xE0-0xFC.
BOOL WINAPI IsDBCSLeadByte(BYTE testChar) {
  if (winsim::CodePages().ansiCodePage != 932) return FALSE;
  return (testChar >= 0x81 && testChar <= 0x9F) || (testChar >= 0xE0 && testChar <= 0xFC) ? TRUE : FALSE;
}

int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR multiByte, int multiByteCount, LPWSTR wide,
                               int wideCount) {
  using namespace winsim;
  if (Faulted("MultiByteToWideChar")) return 0;
  const UINT effective = Effective(codePage);
  if (CodePages().installed.count(effective) == 0 || IconvName(effective) == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  if (multiByte == nullptr || multiByteCount == 0 || wideCount < 0 || (wide == nullptr && wideCount != 0)) {
    return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  const std::size_t length = multiByteCount < 0 ? std::strlen(multiByte) + 1 : static_cast<std::size_t>(multiByteCount);
  std::string converted;
  if (!Convert(IconvName(effective), "WCHAR_T", std::string(multiByte, length), (flags & MB_ERR_INVALID_CHARS) != 0,
               &converted)) {
    return Fail(ERROR_NO_UNICODE_TRANSLATION, 0);
  }
  const int count = static_cast<int>(converted.size() / sizeof(wchar_t));
  if (wideCount == 0) return count;
  if (count > wideCount) return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  std::memcpy(wide, converted.data(), converted.size());
  return count;
}

// UTF-8 takes neither a default character nor its flag, as on Windows.
int WINAPI WideCharToMultiByte(UINT codePage, DWORD, LPCWSTR wide, int wideCount, LPSTR multiByte, int multiByteCount,
                               LPCSTR defaultChar, LPBOOL usedDefaultChar) {
  using namespace winsim;
  if (Faulted("WideCharToMultiByte")) return 0;
  const UINT effective = Effective(codePage);
  if (CodePages().installed.count(effective) == 0 || IconvName(effective) == nullptr) {
    return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  if (effective == CP_UTF8 && (defaultChar != nullptr || usedDefaultChar != nullptr)) {
    return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  if (wide == nullptr || wideCount == 0 || multiByteCount < 0 || (multiByte == nullptr && multiByteCount != 0)) {
    return Fail(ERROR_INVALID_PARAMETER, 0);
  }
  const std::size_t length = wideCount < 0 ? std::wcslen(wide) + 1 : static_cast<std::size_t>(wideCount);
  std::string converted;
  Convert("WCHAR_T", IconvName(effective), std::string(reinterpret_cast<const char*>(wide), length * sizeof(wchar_t)),
          false, &converted);
  const int count = static_cast<int>(converted.size());
  if (multiByteCount == 0) return count;
  if (count > multiByteCount) return Fail(ERROR_INSUFFICIENT_BUFFER, 0);
  std::memcpy(multiByte, converted.data(), converted.size());
  return count;
}
