#include "payload_rules.h"

#include <cstddef>
#include <fstream>
#include <set>
#include <sstream>
#include <utility>

#include "payload_ids.h"

namespace payload {

const char MARKER_TEXT[] = "XVT-7Q2RN3";
const char NEW_DRIVE_INI_PID[] = "XVT-7Q2RN__KR550";
const char NEW_DRIVE_INF_PID[] = "XVT-7Q2RN  KR550";
const char NEW_DRIVE_COMPATIBLE_PID[] = "???????????KR550";

namespace {

constexpr std::size_t MARKER_SIZE = sizeof(MARKER_TEXT) - 1;
// SCSI INQUIRY carries an 8 byte vendor and a 16 byte product field; the
// drive driver matches against those, so longer ids could never match.
constexpr std::size_t DRIVE_ID_VENDOR_MAX = 8;
constexpr std::size_t DRIVE_ID_PRODUCT_MAX = 16;

constexpr int DRVCLASS_SECTIONS = 13;
const char* const DRVCLASS_NEW_DRIVE_VENDORS[] = {"PIONEER", "ROVE", "ODRIX"};
constexpr int DRVCLASS_FIRST_NEW_DRIVE_SECTION = DRVCLASS_SECTIONS - 2;
const char* const DRVCLASS_KEY_ORDER[] = {"VID", "PID", "DLL", "TRAY1", "TRAY2"};

constexpr int SUPVER_SECTIONS = 9;
// Reference counts of the SupVer.inf lists, per payload class.
constexpr int SUPVER_NEW_DRIVE_SECTIONS[] = {4, 5};
constexpr int SUPVER_COMPATIBLE_SECTIONS[] = {0, 4};
constexpr int SUPVER_NOT_SUPPORT_SECTIONS[] = {0, 3};

class Breaches {
 public:
  explicit Breaches(std::string fileName) : name(std::move(fileName)) {}

  void Add(const std::string& what) { list.push_back(name + ": " + what); }
  void AddAt(std::size_t line, const std::string& what) { Add("line " + std::to_string(line) + ": " + what); }
  void Append(const std::vector<std::string>& more) { list.insert(list.end(), more.begin(), more.end()); }
  std::vector<std::string> Take() { return std::move(list); }

 private:
  std::string name;
  std::vector<std::string> list;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Hex4(unsigned value) {
  static const char HEX_DIGITS[] = "0123456789ABCDEF";
  std::string out = "U+";
  for (int shift = 12; shift >= 0; shift -= 4) out += HEX_DIGITS[(value >> shift) & 0xF];
  return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
  return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
  return s.size() >= suffix.size() && s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool AllDigits(const std::string& s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// Positive decimal without leading zeros ("0" allowed when allowZero).
bool ParseIndex(const std::string& s, bool allowZero, int* value) {
  if (!AllDigits(s) || s.size() > 6) return false;
  if (s.size() > 1 && s[0] == '0') return false;
  *value = std::stoi(s);
  return allowZero || *value > 0;
}

bool HasBom(const std::string& bytes) {
  return bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF &&
         static_cast<unsigned char>(bytes[1]) == 0xFE;
}

unsigned CodeUnit(const std::string& bytes, std::size_t offset) {
  return static_cast<unsigned char>(bytes[offset]) |
         (static_cast<unsigned>(static_cast<unsigned char>(bytes[offset + 1])) << 8);
}

// Decodes the text after the BOM into one string per line. Any line end (CR LF,
// lone CR, lone LF) splits, so that a damaged line end is reported once by the
// encoding check instead of derailing the structure checks. Non-ASCII units
// become SUB so they can never look like valid content.
bool DecodeLines(const std::string& bytes, std::vector<std::string>* lines) {
  lines->clear();
  if (!HasBom(bytes) || bytes.size() % 2 != 0) return false;
  std::string text;
  for (std::size_t i = 2; i < bytes.size(); i += 2) {
    unsigned unit = CodeUnit(bytes, i);
    text += unit < 0x80 ? static_cast<char>(unit) : '\x1A';
  }
  std::string current;
  bool open = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lines->push_back(current);
      current.clear();
      open = false;
    } else {
      current += c;
      open = true;
    }
  }
  if (open) lines->push_back(current);
  return true;
}

// The encoding checks of an INI or INF file of a known payload class, then its
// lines; false when its structure cannot be checked.
bool DecodeClassFile(const std::string& bytes, int payloadClass, const std::string& name, Breaches* out,
                     std::vector<std::string>* lines) {
  out->Append(CheckUtf16AsciiText(bytes, name));
  if (payloadClass != 0 && payloadClass != 1) {
    out->Add("unknown payload class " + std::to_string(payloadClass));
    return false;
  }
  return DecodeLines(bytes, lines);
}

// First occurrence and total count of one kind of encoding fault, so a file in
// the wrong encoding yields a handful of lines rather than thousands.
struct FaultTally {
  std::size_t count = 0;
  std::size_t firstLine = 0;
  unsigned firstUnit = 0;
  void Note(std::size_t line, unsigned unit) {
    if (count++ == 0) {
      firstLine = line;
      firstUnit = unit;
    }
  }
  void Report(Breaches* out, const std::string& what, bool showUnit) const {
    if (count == 0) return;
    std::string message = what;
    if (showUnit) message += " " + Hex4(firstUnit);
    if (count > 1) message += " (" + std::to_string(count) + " in total)";
    out->AddAt(firstLine, message);
  }
};

// ---------------------------------------------------------------- DrvClass

struct IniKey {
  std::size_t line;
  std::string key;
  std::string value;
};

struct IniSection {
  std::size_t line;
  std::string name;
  std::vector<IniKey> keys;

  const std::string* Find(const std::string& key) const {
    for (const IniKey& k : keys)
      if (k.key == key) return &k.value;
    return nullptr;
  }
};

int DriveKeyRank(const std::string& key) {
  for (int i = 0; i < 5; ++i)
    if (key == DRVCLASS_KEY_ORDER[i]) return i;
  return -1;
}

// Returns the drive number of "DRIVEn", 0 for anything else.
int DriveNumber(const std::string& section) {
  int n = 0;
  if (StartsWith(section, "DRIVE") && ParseIndex(section.substr(5), false, &n)) return n;
  return 0;
}

std::vector<IniSection> ParseDriveClassLines(const std::vector<std::string>& lines, Breaches* out) {
  std::vector<IniSection> sections;
  const std::size_t n = lines.size();
  for (std::size_t i = 0; i < n; ++i) {
    const std::string& line = lines[i];
    const std::size_t lineNumber = i + 1;
    if (line.empty()) {
      if (sections.empty()) {
        out->AddAt(lineNumber, "empty line before the first section");
      } else if (i + 1 == n) {
        out->AddAt(lineNumber, "empty line after the last section");
      } else if (lines[i + 1].empty()) {
        if (lines[i - 1].empty()) continue;  // reported at the run's start
        out->AddAt(lineNumber, "more than one empty line between sections");
      } else if (lines[i + 1][0] != '[') {
        out->AddAt(lineNumber, "empty line inside section [" + sections.back().name + "]");
      }
      continue;
    }
    if (line[0] == '[') {
      if (line.size() < 3 || line.back() != ']') {
        out->AddAt(lineNumber, "malformed section header " + Quote(line));
        continue;
      }
      IniSection section;
      section.line = lineNumber;
      section.name = line.substr(1, line.size() - 2);
      if (i > 0 && !lines[i - 1].empty())
        out->AddAt(lineNumber, "[" + section.name + "] is not preceded by one empty line");
      sections.push_back(section);
      continue;
    }
    if (sections.empty()) {
      out->AddAt(lineNumber, "key line before the first section");
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos) {
      out->AddAt(lineNumber, "expected key=value, found " + Quote(line));
      continue;
    }
    std::string key = line.substr(0, eq);
    std::string value = line.substr(eq + 1);
    if ((!key.empty() && key.back() == ' ') || (!value.empty() && value[0] == ' ')) {
      out->AddAt(lineNumber, "blank around '=' in " + Quote(line));
    } else if (line.find(' ') != std::string::npos) {
      out->AddAt(lineNumber, "blank in " + Quote(line) + " (product ids use '_' for blanks)");
    }
    // Continue with trimmed text so one stray blank does not also show up
    // as an unknown key or a wrong value.
    auto trim = [](std::string s) {
      s.erase(0, s.find_first_not_of(' '));
      s.erase(s.find_last_not_of(' ') + 1);
      return s;
    };
    sections.back().keys.push_back({lineNumber, trim(key), trim(value)});
  }
  return sections;
}

void CheckDriveSectionKeys(const IniSection& s, bool is64, Breaches* out) {
  const std::string where = "[" + s.name + "]";
  int lastRank = -1;
  for (const IniKey& k : s.keys) {
    const int rank = DriveKeyRank(k.key);
    if (rank < 0) {
      out->AddAt(k.line, "unknown key " + Quote(k.key) + " in " + where);
      continue;
    }
    if (rank <= lastRank) {
      out->AddAt(k.line, "key " + k.key + " out of order in " + where + " (order is VID, PID, DLL, TRAY1, TRAY2)");
    }
    lastRank = rank > lastRank ? rank : lastRank;

    if (k.value.empty()) {
      out->AddAt(k.line, k.key + " has no value in " + where);
      continue;
    }
    if (k.key == "VID") {
      if (k.value.size() > DRIVE_ID_VENDOR_MAX)
        out->AddAt(k.line, "VID " + Quote(k.value) + " longer than 8 characters");
    } else if (k.key == "PID") {
      if (k.value.size() > DRIVE_ID_PRODUCT_MAX)
        out->AddAt(k.line, "PID " + Quote(k.value) + " longer than 16 characters");
    } else if (k.key == "DLL") {
      const std::string suffix = is64 ? "64.dll" : ".dll";
      if (!EndsWith(k.value, suffix) || k.value.size() == suffix.size())
        out->AddAt(k.line, "DLL " + Quote(k.value) + " does not end in " + Quote(suffix));
      if (k.value.find_first_of("\\/:") != std::string::npos)
        out->AddAt(k.line, "DLL " + Quote(k.value) + " must be a bare file name");
    } else if (k.key == "TRAY1") {
      if (k.value != "212") out->AddAt(k.line, "TRAY1 is " + Quote(k.value) + ", expected 212");
    } else if (k.key == "TRAY2") {
      if (k.value != "677") out->AddAt(k.line, "TRAY2 is " + Quote(k.value) + ", expected 677");
    }
  }
  for (const char* required : {"VID", "PID", "DLL"})
    if (!s.Find(required)) out->AddAt(s.line, where + " lacks " + required);
}

// Rows every entry of the new drive (and its wildcard) must carry.
void CheckNewDriveRows(const IniSection& s, const std::string& vid, const std::string& pid, const std::string* dll,
                       Breaches* out) {
  const std::string where = "[" + s.name + "]";
  const std::string* v = s.Find("VID");
  if (v && *v != vid) out->AddAt(s.line, where + " has VID=" + *v + ", expected VID=" + vid);
  const std::string* p = s.Find("PID");
  if (p && *p != pid) out->AddAt(s.line, where + " has PID=" + *p + ", expected PID=" + pid);
  const std::string* d = s.Find("DLL");
  if (d && dll && *d != *dll) out->AddAt(s.line, where + " uses DLL=" + *d + ", the new drive uses DLL=" + *dll);
  if (!s.Find("TRAY1")) out->AddAt(s.line, where + " lacks TRAY1=212");
  if (!s.Find("TRAY2")) out->AddAt(s.line, where + " lacks TRAY2=677");
}

// ---------------------------------------------------------------- SupVer

// The keys of a SupVer.inf section, in the order they must come.
enum SupportPhase {
  SUPVER_ALD_MIN,
  SUPVER_ALD_MAX,
  SUPVER_SUPPORT,
  SUPVER_COMPATIBLE,
  SUPVER_NOT_SUPPORT,
  SUPVER_PRN_MIN,
  SUPVER_PRN_MAX
};

const char* const SUPVER_PHASE_KEYS[] = {"ALDSupportVersionMin", "ALDSupportVersionMax", "DRVSupportDrive_",
                                         "DRVCompatibleDrive_",  "DRVNotSupportDrive_",  "PRNSupportVersionMin",
                                         "PRNSupportVersionMax"};

bool IsListPhase(int phase) {
  return phase == SUPVER_SUPPORT || phase == SUPVER_COMPATIBLE || phase == SUPVER_NOT_SUPPORT;
}

bool ClassifyInfKey(const std::string& key, int* phase, int* index) {
  for (int p = SUPVER_ALD_MIN; p <= SUPVER_PRN_MAX; ++p) {
    const std::string name = SUPVER_PHASE_KEYS[p];
    if (IsListPhase(p)) {
      if (StartsWith(key, name) && ParseIndex(key.substr(name.size()), true, index)) {
        *phase = p;
        return true;
      }
    } else if (key == name) {
      *phase = p;
      *index = 0;
      return true;
    }
  }
  return false;
}

std::string ListKey(int phase, int index) { return SUPVER_PHASE_KEYS[phase] + std::to_string(index); }

void CheckInfDriveId(std::size_t line, const std::string& key, const std::string& id, Breaches* out) {
  if (id.size() > DRIVE_ID_PRODUCT_MAX) out->AddAt(line, key + " " + Quote(id) + " longer than 16 characters");
  if (id.find('_') != std::string::npos)
    out->AddAt(line, key + " " + Quote(id) + " contains '_'; blanks are written as blanks here");
  if (id.find('?') != std::string::npos) out->AddAt(line, key + " " + Quote(id) + " contains a wildcard");
}

// What one section of SupVer.inf holds, gathered row by row.
struct SupportSection {
  std::string name;
  std::size_t line = 0;
  std::size_t rows = 0;
  int lastPhase = -1;
  bool seenSingle[SUPVER_PRN_MAX + 1] = {};
  int listCount[SUPVER_PRN_MAX + 1] = {};
  std::string version[SUPVER_PRN_MAX + 1];
  std::vector<std::string> supported;
  std::vector<std::string> notSupported;
};

// A header "[SUPPORT_<model>]", the model in capitals and digits, not used before.
SupportSection ReadSupportHeader(const std::string& line, std::size_t lineNumber, std::set<std::string>* names,
                                 Breaches* out) {
  SupportSection s;
  s.line = lineNumber;
  s.name = line.size() >= 2 && line.back() == ']' ? line.substr(1, line.size() - 2) : line;
  const std::string designation = StartsWith(s.name, "SUPPORT_") ? s.name.substr(8) : "";
  bool plain = !designation.empty();
  for (char c : designation) plain = plain && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
  if (!plain || line.back() != ']')
    out->AddAt(lineNumber, "section header " + Quote(line) + " is not [SUPPORT_<model>]");
  if (!names->insert(s.name).second) out->AddAt(lineNumber, "duplicate section [" + s.name + "]");
  return s;
}

// "key = value" with one blank either side of '=' and none at the end; answers
// the key and the value without blanks, false when there is no '='.
bool SplitSupportRow(const std::string& line, std::size_t lineNumber, std::string* key, std::string* value,
                     Breaches* out) {
  const std::size_t eq = line.find('=');
  if (eq == std::string::npos) {
    out->AddAt(lineNumber, "expected 'key = value', found " + Quote(line));
    return false;
  }
  const bool spaced = eq >= 2 && line[eq - 1] == ' ' && line[eq - 2] != ' ' && eq + 2 < line.size() &&
                      line[eq + 1] == ' ' && line[eq + 2] != ' ';
  if (!spaced) out->AddAt(lineNumber, "expected one blank either side of '=' in " + Quote(line));
  if (line.back() == ' ') out->AddAt(lineNumber, "trailing blank in " + Quote(line));
  *key = line.substr(0, eq);
  *value = line.substr(eq + 1);
  key->erase(key->find_last_not_of(' ') + 1);
  value->erase(0, value->find_first_not_of(' '));
  value->erase(value->find_last_not_of(' ') + 1);
  return true;
}

// A key comes in the order of the phases; a version key only once.
void CheckSupportKeyOrder(SupportSection& s, const std::string& key, int phase, std::size_t lineNumber, Breaches* out) {
  if (phase < s.lastPhase) {
    out->AddAt(lineNumber, "key " + key + " out of order in [" + s.name + "]");
  } else if (!IsListPhase(phase) && s.seenSingle[phase]) {
    out->AddAt(lineNumber, "duplicate key " + key + " in [" + s.name + "]");
  }
  if (phase > s.lastPhase) s.lastPhase = phase;
}

// A version key holds five decimal digits.
void ReadSupportVersion(SupportSection& s, const std::string& key, const std::string& value, int phase,
                        std::size_t lineNumber, Breaches* out) {
  s.seenSingle[phase] = true;
  if (value.size() != 5 || !AllDigits(value))
    out->AddAt(lineNumber, key + " " + Quote(value) + " is not five decimal digits");
  else
    s.version[phase] = value;
}

// List rows are numbered on from 0. The compatible row is class 1's one
// wildcard; the other rows name a drive, the not-supported ones only in class 1.
void ReadSupportListRow(SupportSection& s, const std::string& key, const std::string& value, int phase, int index,
                        int payloadClass, std::size_t lineNumber, Breaches* out) {
  if (index != s.listCount[phase])
    out->AddAt(lineNumber, key + " where " + ListKey(phase, s.listCount[phase]) + " expected");
  s.listCount[phase] = index + 1;
  if (phase == SUPVER_COMPATIBLE) {
    if (payloadClass == 0) out->AddAt(lineNumber, key + " belongs to class 1 only");
    if (index > 0) out->AddAt(lineNumber, "only DRVCompatibleDrive_0 is allowed in [" + s.name + "]");
    if (value != NEW_DRIVE_COMPATIBLE_PID)
      out->AddAt(lineNumber, key + " is " + Quote(value) + ", expected " + Quote(NEW_DRIVE_COMPATIBLE_PID));
    return;
  }
  if (value.empty()) {
    out->AddAt(lineNumber, key + " has no value");
    return;
  }
  CheckInfDriveId(lineNumber, key, value, out);
  if (phase == SUPVER_NOT_SUPPORT) {
    if (payloadClass == 0) out->AddAt(lineNumber, key + " belongs to class 1 only");
    s.notSupported.push_back(value);
  } else {
    s.supported.push_back(value);
  }
}

void ReadSupportRow(SupportSection& s, const std::string& line, std::size_t lineNumber, int payloadClass,
                    Breaches* out) {
  ++s.rows;
  std::string key, value;
  if (!SplitSupportRow(line, lineNumber, &key, &value, out)) return;
  int phase = 0, index = 0;
  if (!ClassifyInfKey(key, &phase, &index)) {
    out->AddAt(lineNumber, "unknown key " + Quote(key) + " in [" + s.name + "]");
    return;
  }
  CheckSupportKeyOrder(s, key, phase, lineNumber, out);
  if (IsListPhase(phase))
    ReadSupportListRow(s, key, value, phase, index, payloadClass, lineNumber, out);
  else
    ReadSupportVersion(s, key, value, phase, lineNumber, out);
}

std::vector<SupportSection> ReadSupportSections(const std::vector<std::string>& lines, int payloadClass,
                                                Breaches* out) {
  std::vector<SupportSection> sections;
  std::set<std::string> names;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    const std::string& line = lines[i];
    const std::size_t lineNumber = i + 1;
    if (line.empty()) {
      out->AddAt(lineNumber, "empty line");
    } else if (line[0] == '[') {
      sections.push_back(ReadSupportHeader(line, lineNumber, &names, out));
    } else if (sections.empty()) {
      out->AddAt(lineNumber, "key line before the first section");
    } else {
      ReadSupportRow(sections.back(), line, lineNumber, payloadClass, out);
    }
  }
  return sections;
}

// Within a section: the four version keys, each range in order, no drive
// listed twice or as both supported and not supported.
void CheckSupportSection(const SupportSection& s, Breaches* out) {
  const std::string where = "[" + s.name + "]";
  for (int p : {SUPVER_ALD_MIN, SUPVER_ALD_MAX, SUPVER_PRN_MIN, SUPVER_PRN_MAX})
    if (!s.seenSingle[p]) out->AddAt(s.line, where + " lacks " + SUPVER_PHASE_KEYS[p]);
  for (int low : {SUPVER_ALD_MIN, SUPVER_PRN_MIN}) {
    const std::string& min = s.version[low];
    const std::string& max = s.version[low + 1];
    if (!min.empty() && !max.empty() && min > max)
      out->AddAt(s.line, where + " " + SUPVER_PHASE_KEYS[low] + " " + min + " exceeds " + SUPVER_PHASE_KEYS[low + 1] +
                             " " + max);
  }
  std::set<std::string> seen;
  for (const std::string& id : s.supported)
    if (!seen.insert(id).second) out->AddAt(s.line, where + " lists " + Quote(id) + " more than once");
  for (const std::string& id : s.notSupported)
    if (seen.count(id)) out->AddAt(s.line, where + " lists " + Quote(id) + " as supported and not supported");
}

// Over the file: how many sections there are, and how many of them list the
// new drive, its wildcard and drives not supported, as the payload class has them.
void CheckSupportSectionCounts(const std::vector<SupportSection>& sections, int payloadClass, Breaches* out) {
  int newDriveSections = 0, compatibleSections = 0, notSupportSections = 0;
  int versionOnlySections = 0;
  for (const SupportSection& s : sections) {
    for (const std::string& id : s.supported) {
      if (id == NEW_DRIVE_INF_PID) {
        ++newDriveSections;
        break;
      }
    }
    if (s.listCount[SUPVER_COMPATIBLE] > 0) ++compatibleSections;
    if (s.listCount[SUPVER_NOT_SUPPORT] > 0) ++notSupportSections;
    if (s.rows == 4 && s.listCount[SUPVER_SUPPORT] == 0 && s.listCount[SUPVER_COMPATIBLE] == 0 &&
        s.listCount[SUPVER_NOT_SUPPORT] == 0)
      ++versionOnlySections;
  }
  if (sections.size() != SUPVER_SECTIONS)
    out->Add(std::to_string(sections.size()) + " sections, expected " + std::to_string(SUPVER_SECTIONS));
  if (versionOnlySections != 1)
    out->Add(std::to_string(versionOnlySections) + " sections hold only the four version keys, expected 1");
  if (newDriveSections != SUPVER_NEW_DRIVE_SECTIONS[payloadClass])
    out->Add("new drive " + Quote(NEW_DRIVE_INF_PID) + " is a DRVSupportDrive in " + std::to_string(newDriveSections) +
             " sections, expected " + std::to_string(SUPVER_NEW_DRIVE_SECTIONS[payloadClass]));
  if (compatibleSections != SUPVER_COMPATIBLE_SECTIONS[payloadClass])
    out->Add("DRVCompatibleDrive_0 in " + std::to_string(compatibleSections) + " sections, expected " +
             std::to_string(SUPVER_COMPATIBLE_SECTIONS[payloadClass]));
  if (notSupportSections != SUPVER_NOT_SUPPORT_SECTIONS[payloadClass])
    out->Add("DRVNotSupportDrive rows in " + std::to_string(notSupportSections) + " sections, expected " +
             std::to_string(SUPVER_NOT_SUPPORT_SECTIONS[payloadClass]));
}

}  // namespace

// ---------------------------------------------------------------- public

// A row by the name of its resource in payload_ids.h, which the resource lines use too.
#define PAYLOAD_ROW(resource, payloadClass, kind, suppliedSize) \
  { PAYLOAD_ID_##resource, "PAYLOAD_ID_" #resource, payloadClass, kind, PAYLOAD_FILE_##resource, suppliedSize }

const std::vector<PayloadFile>& PayloadFiles() {
  static const std::vector<PayloadFile> files = {
      PAYLOAD_ROW(CLASS0_MARKER, 0, PayloadKind::MARKER, MARKER_SIZE),
      PAYLOAD_ROW(CLASS0_DRVCLASS, 0, PayloadKind::DRIVE_CLASS, 2088),
      PAYLOAD_ROW(CLASS0_DRVCLASS64, 0, PayloadKind::DRIVE_CLASS64, 2140),
      PAYLOAD_ROW(CLASS0_SUPVER, 0, PayloadKind::SUPPORT_VERSION, 4182),
      PAYLOAD_ROW(CLASS1_MARKER, 1, PayloadKind::MARKER, MARKER_SIZE),
      PAYLOAD_ROW(CLASS1_DRVCLASS, 1, PayloadKind::DRIVE_CLASS, 2264),
      PAYLOAD_ROW(CLASS1_DRVCLASS64, 1, PayloadKind::DRIVE_CLASS64, 2320),
      PAYLOAD_ROW(CLASS1_SUPVER, 1, PayloadKind::SUPPORT_VERSION, 5078),
  };
  return files;
}

#undef PAYLOAD_ROW

std::vector<std::string> CheckMarkerFile(const std::string& bytes, const std::string& name) {
  Breaches out(name);
  if (bytes.size() != MARKER_SIZE) {
    std::string hint;
    if (bytes.size() > MARKER_SIZE && StartsWith(bytes, MARKER_TEXT))
      hint = " (trailing bytes after the marker, e.g. a line end)";
    else if (bytes.size() >= 2 && (HasBom(bytes) || StartsWith(bytes, "\xEF\xBB\xBF")))
      hint = " (starts with a byte-order mark)";
    out.Add(std::to_string(bytes.size()) + " bytes, expected exactly " + std::to_string(MARKER_SIZE) + hint);
  }
  if (!StartsWith(bytes, MARKER_TEXT)) out.Add("content is not " + Quote(MARKER_TEXT));
  return out.Take();
}

std::vector<std::string> CheckUtf16AsciiText(const std::string& bytes, const std::string& name) {
  Breaches out(name);
  if (!HasBom(bytes)) {
    if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
        static_cast<unsigned char>(bytes[1]) == 0xFF)
      out.Add("big-endian byte-order mark FE FF, expected UTF-16LE with FF FE");
    else if (StartsWith(bytes, "\xEF\xBB\xBF"))
      out.Add("UTF-8 byte-order mark, expected UTF-16LE with FF FE");
    else
      out.Add("missing byte-order mark FF FE");
    return out.Take();
  }
  if (bytes.size() % 2 != 0) {
    out.Add("odd length " + std::to_string(bytes.size()) + ", not a whole number of UTF-16 code units");
    return out.Take();
  }
  if (bytes.size() == 2) {
    out.Add("no text after the byte-order mark");
    return out.Take();
  }

  FaultTally nonAscii, control, loneCr, loneLf;
  std::size_t line = 1;
  const std::size_t units = bytes.size() / 2;
  for (std::size_t u = 1; u < units; ++u) {
    const unsigned unit = CodeUnit(bytes, u * 2);
    const bool nextIsLf = u + 1 < units && CodeUnit(bytes, (u + 1) * 2) == '\n';
    const bool previousIsCr = u > 1 && CodeUnit(bytes, (u - 1) * 2) == '\r';
    if (unit == '\r') {
      if (!nextIsLf) {
        loneCr.Note(line, unit);
        ++line;
      }
    } else if (unit == '\n') {
      if (!previousIsCr) loneLf.Note(line, unit);
      ++line;
    } else if (unit >= 0x80) {
      nonAscii.Note(line, unit);
    } else if (unit < 0x20 || unit == 0x7F) {
      control.Note(line, unit);
    }
  }
  nonAscii.Report(&out, "non-ASCII character", true);
  control.Report(&out, "control character", true);
  loneCr.Report(&out, "CR without LF", false);
  loneLf.Report(&out, "LF without CR", false);
  const bool endsCrLf =
      units >= 3 && CodeUnit(bytes, bytes.size() - 4) == '\r' && CodeUnit(bytes, bytes.size() - 2) == '\n';
  if (!endsCrLf) out.Add("last line is not ended by CR LF");
  return out.Take();
}

std::vector<std::string> CheckDriveClassFile(const std::string& bytes, int payloadClass, bool is64,
                                             const std::string& name) {
  Breaches out(name);
  std::vector<std::string> lines;
  if (!DecodeClassFile(bytes, payloadClass, name, &out, &lines)) return out.Take();

  const std::vector<IniSection> sections = ParseDriveClassLines(lines, &out);
  if (sections.empty()) {
    out.Add("no sections");
    return out.Take();
  }

  const IniSection* drive[DRVCLASS_SECTIONS + 1] = {};
  const IniSection* compat = nullptr;
  int expected = 1;
  int driveCount = 0;
  const IniSection* previous = nullptr;
  for (const IniSection& s : sections) {
    const std::string where = "[" + s.name + "]";
    CheckDriveSectionKeys(s, is64, &out);
    const int number = DriveNumber(s.name);
    if (number > 0) {
      ++driveCount;
      if (compat) out.AddAt(s.line, where + " follows [COMPAT1]; COMPAT1 comes last");
      if (number != expected) out.AddAt(s.line, where + " where [DRIVE" + std::to_string(expected) + "] expected");
      expected = number + 1;
      if (number <= DRVCLASS_SECTIONS && !drive[number]) drive[number] = &s;
    } else if (s.name == "COMPAT1") {
      if (payloadClass == 0) {
        out.AddAt(s.line, "[COMPAT1] belongs to class 1 only");
      } else if (compat) {
        out.AddAt(s.line, "second [COMPAT1]");
      } else if (!previous || previous->name != "DRIVE13") {
        out.AddAt(s.line, "[COMPAT1] must directly follow [DRIVE13]");
      }
      if (!compat) compat = &s;
    } else {
      out.AddAt(s.line, "unknown section " + where);
    }
    previous = &s;
  }
  if (driveCount != DRVCLASS_SECTIONS)
    out.Add(std::to_string(driveCount) + " DRIVE sections, expected " + std::to_string(DRVCLASS_SECTIONS));
  if (payloadClass == 1 && !compat) out.Add("[COMPAT1] missing after [DRIVE13]");

  // The new drive takes the last three DRIVE sections, one per vendor id it
  // reports, all served by the same library.
  const std::string* newDll = nullptr;
  for (int i = 0; i < 3; ++i) {
    const IniSection* s = drive[DRVCLASS_FIRST_NEW_DRIVE_SECTION + i];
    if (!s) continue;
    if (!newDll) newDll = s->Find("DLL");
    CheckNewDriveRows(*s, DRVCLASS_NEW_DRIVE_VENDORS[i], NEW_DRIVE_INI_PID, newDll, &out);
  }
  for (int n = 1; n < DRVCLASS_FIRST_NEW_DRIVE_SECTION; ++n) {
    const IniSection* s = drive[n];
    const std::string* pid = s ? s->Find("PID") : nullptr;
    if (pid && *pid == NEW_DRIVE_INI_PID)
      out.AddAt(s->line, "[" + s->name + "] lists the new drive; it belongs in [DRIVE11]..[DRIVE13]");
  }
  if (compat && payloadClass == 1) CheckNewDriveRows(*compat, "PIONEER", NEW_DRIVE_COMPATIBLE_PID, newDll, &out);
  return out.Take();
}

std::vector<std::string> CheckDriveClassPair(const std::string& bytes32, const std::string& bytes64,
                                             const std::string& name64) {
  Breaches out(name64);
  std::vector<std::string> lines32, lines64;
  // Undecodable input is reported by the per-file checks.
  if (!DecodeLines(bytes32, &lines32) || !DecodeLines(bytes64, &lines64)) return out.Take();
  if (lines32.size() != lines64.size())
    out.Add(std::to_string(lines64.size()) + " lines, the 32-bit list has " + std::to_string(lines32.size()));
  const std::size_t n = lines32.size() < lines64.size() ? lines32.size() : lines64.size();
  for (std::size_t i = 0; i < n; ++i) {
    std::string expected = lines32[i];
    if (StartsWith(expected, "DLL=") && EndsWith(expected, ".dll")) expected.insert(expected.size() - 4, "64");
    if (lines64[i] != expected)
      out.AddAt(i + 1, Quote(lines64[i]) + " does not mirror the 32-bit list, expected " + Quote(expected));
  }
  return out.Take();
}

std::vector<std::string> CheckSupportVersionFile(const std::string& bytes, int payloadClass, const std::string& name) {
  Breaches out(name);
  std::vector<std::string> lines;
  if (!DecodeClassFile(bytes, payloadClass, name, &out, &lines)) return out.Take();
  const std::vector<SupportSection> sections = ReadSupportSections(lines, payloadClass, &out);
  for (const SupportSection& s : sections) CheckSupportSection(s, &out);
  CheckSupportSectionCounts(sections, payloadClass, &out);
  return out.Take();
}

std::vector<std::string> CheckPayloadFiles(const std::map<std::string, std::string>& files) {
  std::vector<std::string> out;
  auto append = [&out](const std::vector<std::string>& more) { out.insert(out.end(), more.begin(), more.end()); };
  const std::string* drv32[2] = {};
  const std::string* drv64[2] = {};
  for (const PayloadFile& f : PayloadFiles()) {
    const auto it = files.find(f.relativePath);
    if (it == files.end()) {
      out.push_back(std::string(f.relativePath) + ": missing or unreadable");
      continue;
    }
    const std::string& bytes = it->second;
    switch (f.kind) {
      case PayloadKind::MARKER:
        append(CheckMarkerFile(bytes, f.relativePath));
        break;
      case PayloadKind::DRIVE_CLASS:
        append(CheckDriveClassFile(bytes, f.payloadClass, false, f.relativePath));
        drv32[f.payloadClass] = &bytes;
        break;
      case PayloadKind::DRIVE_CLASS64:
        append(CheckDriveClassFile(bytes, f.payloadClass, true, f.relativePath));
        drv64[f.payloadClass] = &bytes;
        break;
      case PayloadKind::SUPPORT_VERSION:
        append(CheckSupportVersionFile(bytes, f.payloadClass, f.relativePath));
        break;
    }
  }
  for (int c = 0; c < 2; ++c) {
    if (drv32[c] && drv64[c])
      append(CheckDriveClassPair(*drv32[c], *drv64[c], "class" + std::to_string(c) + "/DrvClass64.ini"));
  }
  return out;
}

std::map<std::string, std::string> ReadPayloadFolder(const std::string& folder) {
  std::map<std::string, std::string> files;
  for (const PayloadFile& f : PayloadFiles()) {
    std::ifstream in(folder + "/" + f.relativePath, std::ios::binary);
    if (!in) continue;
    std::ostringstream content;
    content << in.rdbuf();
    files[f.relativePath] = content.str();
  }
  return files;
}

// Files that cannot be read are left out and reported as missing.
std::vector<std::string> CheckPayloadFolder(const std::string& folder) {
  return CheckPayloadFiles(ReadPayloadFolder(folder));
}

std::vector<std::string> CheckSuppliedSizes(const std::map<std::string, std::string>& files) {
  std::vector<std::string> out;
  for (const PayloadFile& f : PayloadFiles()) {
    const auto it = files.find(f.relativePath);
    const std::size_t size = it == files.end() ? 0 : it->second.size();
    if (it == files.end() || size != f.suppliedSize)
      out.push_back(std::string(f.relativePath) + ": " +
                    (it == files.end() ? std::string("missing") : std::to_string(size) + " bytes") +
                    ", the supplied file has " + std::to_string(f.suppliedSize));
  }
  return out;
}

}  // namespace payload
