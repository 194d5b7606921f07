#include "payload_rules.h"

#include <cstddef>
#include <fstream>
#include <set>
#include <sstream>

namespace payload {

const char kMarkerText[] = "XVT-7Q2RN3";
const char kNewDriveIniPid[] = "XVT-7Q2RN__KR550";
const char kNewDriveInfPid[] = "XVT-7Q2RN  KR550";
const char kCompatiblePid[] = "???????????KR550";

namespace {

constexpr std::size_t kMarkerSize = sizeof(kMarkerText) - 1;
// SCSI INQUIRY carries an 8 byte vendor and a 16 byte product field; the
// drive driver matches against those, so longer ids could never match.
constexpr std::size_t kMaxVendorId = 8;
constexpr std::size_t kMaxProductId = 16;
constexpr int kDriveSections = 13;
constexpr int kSupportSections = 9;

const char* const kNewDriveVendors[] = {"PIONEER", "ROVE", "ODRIX"};
constexpr int kFirstNewDriveSection = kDriveSections - 2;

// Reference counts of the SupVer.inf lists, per payload class.
constexpr int kNewDriveSupportSections[] = {4, 5};
constexpr int kCompatibleSections[] = {0, 4};
constexpr int kNotSupportSections[] = {0, 3};

class Breaches {
public:
    explicit Breaches(std::string name) : name_(std::move(name)) {}

    void Add(const std::string& what) { list_.push_back(name_ + ": " + what); }
    void AddAt(std::size_t line, const std::string& what) {
        Add("line " + std::to_string(line) + ": " + what);
    }
    void Append(const std::vector<std::string>& more) {
        list_.insert(list_.end(), more.begin(), more.end());
    }
    std::vector<std::string> Take() { return std::move(list_); }

private:
    std::string name_;
    std::vector<std::string> list_;
};

std::string Quote(const std::string& s) { return "'" + s + "'"; }

std::string Hex4(unsigned value) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out = "U+";
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(value >> shift) & 0xF];
    return out;
}

bool StartsWith(const std::string& s, const std::string& prefix) {
    return s.size() >= prefix.size() && s.compare(0, prefix.size(), prefix) == 0;
}

bool EndsWith(const std::string& s, const std::string& suffix) {
    return s.size() >= suffix.size() &&
           s.compare(s.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool AllDigits(const std::string& s) {
    if (s.empty()) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// Positive decimal without leading zeros ("0" allowed when allow_zero).
bool ParseIndex(const std::string& s, bool allow_zero, int* value) {
    if (!AllDigits(s) || s.size() > 6) return false;
    if (s.size() > 1 && s[0] == '0') return false;
    *value = std::stoi(s);
    return allow_zero || *value > 0;
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

// First occurrence and total count of one kind of encoding fault, so a file in
// the wrong encoding yields a handful of lines rather than thousands.
struct FaultTally {
    std::size_t count = 0;
    std::size_t first_line = 0;
    unsigned first_unit = 0;
    void Note(std::size_t line, unsigned unit) {
        if (count++ == 0) {
            first_line = line;
            first_unit = unit;
        }
    }
    void Report(Breaches* out, const std::string& what, bool show_unit) const {
        if (count == 0) return;
        std::string msg = what;
        if (show_unit) msg += " " + Hex4(first_unit);
        if (count > 1) msg += " (" + std::to_string(count) + " in total)";
        out->AddAt(first_line, msg);
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
    static const char* const kOrder[] = {"VID", "PID", "DLL", "TRAY1", "TRAY2"};
    for (int i = 0; i < 5; ++i)
        if (key == kOrder[i]) return i;
    return -1;
}

// Returns the drive number of "DRIVEn", 0 for anything else.
int DriveNumber(const std::string& section) {
    int n = 0;
    if (StartsWith(section, "DRIVE") && ParseIndex(section.substr(5), false, &n)) return n;
    return 0;
}

std::vector<IniSection> ParseDriveClassLines(const std::vector<std::string>& lines,
                                             Breaches* out) {
    std::vector<IniSection> sections;
    const std::size_t n = lines.size();
    for (std::size_t i = 0; i < n; ++i) {
        const std::string& line = lines[i];
        const std::size_t lineno = i + 1;
        if (line.empty()) {
            if (sections.empty()) {
                out->AddAt(lineno, "empty line before the first section");
            } else if (i + 1 == n) {
                out->AddAt(lineno, "empty line after the last section");
            } else if (lines[i + 1].empty()) {
                if (lines[i - 1].empty()) continue;  // reported at the run's start
                out->AddAt(lineno, "more than one empty line between sections");
            } else if (lines[i + 1][0] != '[') {
                out->AddAt(lineno, "empty line inside section [" + sections.back().name + "]");
            }
            continue;
        }
        if (line[0] == '[') {
            if (line.size() < 3 || line.back() != ']') {
                out->AddAt(lineno, "malformed section header " + Quote(line));
                continue;
            }
            IniSection section;
            section.line = lineno;
            section.name = line.substr(1, line.size() - 2);
            if (i > 0 && !lines[i - 1].empty())
                out->AddAt(lineno, "[" + section.name + "] is not preceded by one empty line");
            sections.push_back(section);
            continue;
        }
        if (sections.empty()) {
            out->AddAt(lineno, "key line before the first section");
            continue;
        }
        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            out->AddAt(lineno, "expected key=value, found " + Quote(line));
            continue;
        }
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        if ((!key.empty() && key.back() == ' ') || (!value.empty() && value[0] == ' ')) {
            out->AddAt(lineno, "blank around '=' in " + Quote(line));
        } else if (line.find(' ') != std::string::npos) {
            out->AddAt(lineno, "blank in " + Quote(line) + " (product ids use '_' for blanks)");
        }
        // Continue with trimmed text so one stray blank does not also show up
        // as an unknown key or a wrong value.
        auto trim = [](std::string s) {
            s.erase(0, s.find_first_not_of(' '));
            s.erase(s.find_last_not_of(' ') + 1);
            return s;
        };
        sections.back().keys.push_back({lineno, trim(key), trim(value)});
    }
    return sections;
}

void CheckDriveSectionKeys(const IniSection& s, bool is64, Breaches* out) {
    const std::string where = "[" + s.name + "]";
    int last_rank = -1;
    for (const IniKey& k : s.keys) {
        const int rank = DriveKeyRank(k.key);
        if (rank < 0) {
            out->AddAt(k.line, "unknown key " + Quote(k.key) + " in " + where);
            continue;
        }
        if (rank <= last_rank) {
            out->AddAt(k.line, "key " + k.key + " out of order in " + where +
                                   " (order is VID, PID, DLL, TRAY1, TRAY2)");
        }
        last_rank = rank > last_rank ? rank : last_rank;

        if (k.value.empty()) {
            out->AddAt(k.line, k.key + " has no value in " + where);
            continue;
        }
        if (k.key == "VID") {
            if (k.value.size() > kMaxVendorId)
                out->AddAt(k.line, "VID " + Quote(k.value) + " longer than 8 characters");
        } else if (k.key == "PID") {
            if (k.value.size() > kMaxProductId)
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
void CheckNewDriveRows(const IniSection& s, const std::string& vid, const std::string& pid,
                       const std::string* dll, Breaches* out) {
    const std::string where = "[" + s.name + "]";
    const std::string* v = s.Find("VID");
    if (v && *v != vid) out->AddAt(s.line, where + " has VID=" + *v + ", expected VID=" + vid);
    const std::string* p = s.Find("PID");
    if (p && *p != pid) out->AddAt(s.line, where + " has PID=" + *p + ", expected PID=" + pid);
    const std::string* d = s.Find("DLL");
    if (d && dll && *d != *dll)
        out->AddAt(s.line, where + " uses DLL=" + *d + ", the new drive uses DLL=" + *dll);
    if (!s.Find("TRAY1")) out->AddAt(s.line, where + " lacks TRAY1=212");
    if (!s.Find("TRAY2")) out->AddAt(s.line, where + " lacks TRAY2=677");
}

// ---------------------------------------------------------------- SupVer

enum InfPhase { kAldMin, kAldMax, kSupport, kCompatible, kNotSupport, kPrnMin, kPrnMax };

const char* const kInfPhaseKey[] = {
    "ALDSupportVersionMin", "ALDSupportVersionMax", "DRVSupportDrive_",
    "DRVCompatibleDrive_",  "DRVNotSupportDrive_",  "PRNSupportVersionMin",
    "PRNSupportVersionMax"};

bool IsListPhase(int phase) {
    return phase == kSupport || phase == kCompatible || phase == kNotSupport;
}

bool ClassifyInfKey(const std::string& key, int* phase, int* index) {
    for (int p = kAldMin; p <= kPrnMax; ++p) {
        const std::string name = kInfPhaseKey[p];
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

std::string ListKey(int phase, int index) {
    return kInfPhaseKey[phase] + std::to_string(index);
}

void CheckInfDriveId(std::size_t line, const std::string& key, const std::string& id,
                     Breaches* out) {
    if (id.size() > kMaxProductId)
        out->AddAt(line, key + " " + Quote(id) + " longer than 16 characters");
    if (id.find('_') != std::string::npos)
        out->AddAt(line, key + " " + Quote(id) + " contains '_'; blanks are written as blanks here");
    if (id.find('?') != std::string::npos)
        out->AddAt(line, key + " " + Quote(id) + " contains a wildcard");
}

struct InfSectionState {
    std::string name;
    std::size_t line = 0;
    std::size_t rows = 0;
    int last_phase = -1;
    bool seen_single[kPrnMax + 1] = {};
    int list_count[kPrnMax + 1] = {};
    std::string version[kPrnMax + 1];
    std::vector<std::string> supported;
    std::vector<std::string> not_supported;
};

}  // namespace

// ---------------------------------------------------------------- public

const std::vector<PayloadFile>& PayloadFiles() {
    static const std::vector<PayloadFile> files = {
        {200, 0, PayloadKind::kMarker, "class0/XVT-7Q2RN3.txt", kMarkerSize},
        {201, 0, PayloadKind::kDriveClass, "class0/DrvClass.ini", 2088},
        {202, 0, PayloadKind::kDriveClass64, "class0/DrvClass64.ini", 2140},
        {203, 0, PayloadKind::kSupportVersion, "class0/SupVer.inf", 4182},
        {210, 1, PayloadKind::kMarker, "class1/XVT-7Q2RN3.txt", kMarkerSize},
        {211, 1, PayloadKind::kDriveClass, "class1/DrvClass.ini", 2264},
        {212, 1, PayloadKind::kDriveClass64, "class1/DrvClass64.ini", 2320},
        {213, 1, PayloadKind::kSupportVersion, "class1/SupVer.inf", 5078},
    };
    return files;
}

std::vector<std::string> CheckMarkerFile(const std::string& bytes, const std::string& name) {
    Breaches out(name);
    if (bytes.size() != kMarkerSize) {
        std::string hint;
        if (bytes.size() > kMarkerSize && StartsWith(bytes, kMarkerText))
            hint = " (trailing bytes after the marker, e.g. a line end)";
        else if (bytes.size() >= 2 && (HasBom(bytes) || StartsWith(bytes, "\xEF\xBB\xBF")))
            hint = " (starts with a byte-order mark)";
        out.Add(std::to_string(bytes.size()) + " bytes, expected exactly " +
                std::to_string(kMarkerSize) + hint);
    }
    if (!StartsWith(bytes, kMarkerText)) out.Add("content is not " + Quote(kMarkerText));
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
        out.Add("odd length " + std::to_string(bytes.size()) +
                ", not a whole number of UTF-16 code units");
        return out.Take();
    }
    if (bytes.size() == 2) {
        out.Add("no text after the byte-order mark");
        return out.Take();
    }

    FaultTally non_ascii, control, lone_cr, lone_lf;
    std::size_t line = 1;
    const std::size_t units = bytes.size() / 2;
    for (std::size_t u = 1; u < units; ++u) {
        const unsigned unit = CodeUnit(bytes, u * 2);
        const bool next_is_lf = u + 1 < units && CodeUnit(bytes, (u + 1) * 2) == '\n';
        const bool prev_is_cr = u > 1 && CodeUnit(bytes, (u - 1) * 2) == '\r';
        if (unit == '\r') {
            if (!next_is_lf) {
                lone_cr.Note(line, unit);
                ++line;
            }
        } else if (unit == '\n') {
            if (!prev_is_cr) lone_lf.Note(line, unit);
            ++line;
        } else if (unit >= 0x80) {
            non_ascii.Note(line, unit);
        } else if (unit < 0x20 || unit == 0x7F) {
            control.Note(line, unit);
        }
    }
    non_ascii.Report(&out, "non-ASCII character", true);
    control.Report(&out, "control character", true);
    lone_cr.Report(&out, "CR without LF", false);
    lone_lf.Report(&out, "LF without CR", false);
    const bool ends_crlf = units >= 3 && CodeUnit(bytes, bytes.size() - 4) == '\r' &&
                           CodeUnit(bytes, bytes.size() - 2) == '\n';
    if (!ends_crlf) out.Add("last line is not ended by CR LF");
    return out.Take();
}

std::vector<std::string> CheckDriveClassFile(const std::string& bytes, int payload_class,
                                             bool is64, const std::string& name) {
    Breaches out(name);
    out.Append(CheckUtf16AsciiText(bytes, name));
    if (payload_class != 0 && payload_class != 1) {
        out.Add("unknown payload class " + std::to_string(payload_class));
        return out.Take();
    }
    std::vector<std::string> lines;
    if (!DecodeLines(bytes, &lines)) return out.Take();

    const std::vector<IniSection> sections = ParseDriveClassLines(lines, &out);
    if (sections.empty()) {
        out.Add("no sections");
        return out.Take();
    }

    const IniSection* drive[kDriveSections + 1] = {};
    const IniSection* compat = nullptr;
    int expected = 1;
    int drive_count = 0;
    const IniSection* previous = nullptr;
    for (const IniSection& s : sections) {
        const std::string where = "[" + s.name + "]";
        CheckDriveSectionKeys(s, is64, &out);
        const int number = DriveNumber(s.name);
        if (number > 0) {
            ++drive_count;
            if (compat) out.AddAt(s.line, where + " follows [COMPAT1]; COMPAT1 comes last");
            if (number != expected)
                out.AddAt(s.line, where + " where [DRIVE" + std::to_string(expected) + "] expected");
            expected = number + 1;
            if (number <= kDriveSections && !drive[number]) drive[number] = &s;
        } else if (s.name == "COMPAT1") {
            if (payload_class == 0) {
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
    if (drive_count != kDriveSections)
        out.Add(std::to_string(drive_count) + " DRIVE sections, expected " +
                std::to_string(kDriveSections));
    if (payload_class == 1 && !compat) out.Add("[COMPAT1] missing after [DRIVE13]");

    // The new drive takes the last three DRIVE sections, one per vendor id it
    // reports, all served by the same library.
    const std::string* new_dll = nullptr;
    for (int i = 0; i < 3; ++i) {
        const IniSection* s = drive[kFirstNewDriveSection + i];
        if (!s) continue;
        if (!new_dll) new_dll = s->Find("DLL");
        CheckNewDriveRows(*s, kNewDriveVendors[i], kNewDriveIniPid, new_dll, &out);
    }
    for (int n = 1; n < kFirstNewDriveSection; ++n) {
        const IniSection* s = drive[n];
        const std::string* pid = s ? s->Find("PID") : nullptr;
        if (pid && *pid == kNewDriveIniPid)
            out.AddAt(s->line, "[" + s->name + "] lists the new drive; it belongs in [DRIVE11]..[DRIVE13]");
    }
    if (compat && payload_class == 1)
        CheckNewDriveRows(*compat, "PIONEER", kCompatiblePid, new_dll, &out);
    return out.Take();
}

std::vector<std::string> CheckDriveClassPair(const std::string& bytes32,
                                             const std::string& bytes64,
                                             const std::string& name64) {
    Breaches out(name64);
    std::vector<std::string> lines32, lines64;
    // Undecodable input is reported by the per-file checks.
    if (!DecodeLines(bytes32, &lines32) || !DecodeLines(bytes64, &lines64)) return out.Take();
    if (lines32.size() != lines64.size())
        out.Add(std::to_string(lines64.size()) + " lines, the 32-bit list has " +
                std::to_string(lines32.size()));
    const std::size_t n = lines32.size() < lines64.size() ? lines32.size() : lines64.size();
    for (std::size_t i = 0; i < n; ++i) {
        std::string expected = lines32[i];
        if (StartsWith(expected, "DLL=") && EndsWith(expected, ".dll"))
            expected.insert(expected.size() - 4, "64");
        if (lines64[i] != expected)
            out.AddAt(i + 1, Quote(lines64[i]) + " does not mirror the 32-bit list, expected " +
                                 Quote(expected));
    }
    return out.Take();
}

std::vector<std::string> CheckSupportVersionFile(const std::string& bytes, int payload_class,
                                                 const std::string& name) {
    Breaches out(name);
    out.Append(CheckUtf16AsciiText(bytes, name));
    if (payload_class != 0 && payload_class != 1) {
        out.Add("unknown payload class " + std::to_string(payload_class));
        return out.Take();
    }
    std::vector<std::string> lines;
    if (!DecodeLines(bytes, &lines)) return out.Take();

    std::vector<InfSectionState> sections;
    std::set<std::string> names;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const std::string& line = lines[i];
        const std::size_t lineno = i + 1;
        if (line.empty()) {
            out.AddAt(lineno, "empty line");
            continue;
        }
        if (line[0] == '[') {
            InfSectionState s;
            s.line = lineno;
            s.name = line.size() >= 2 && line.back() == ']' ? line.substr(1, line.size() - 2) : line;
            const std::string designation = StartsWith(s.name, "SUPPORT_") ? s.name.substr(8) : "";
            bool plain = !designation.empty();
            for (char c : designation)
                plain = plain && ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'));
            if (!plain || line.back() != ']')
                out.AddAt(lineno, "section header " + Quote(line) + " is not [SUPPORT_<model>]");
            if (!names.insert(s.name).second) out.AddAt(lineno, "duplicate section [" + s.name + "]");
            sections.push_back(s);
            continue;
        }
        if (sections.empty()) {
            out.AddAt(lineno, "key line before the first section");
            continue;
        }
        InfSectionState& s = sections.back();
        const std::string where = "[" + s.name + "]";
        ++s.rows;

        const std::size_t eq = line.find('=');
        if (eq == std::string::npos) {
            out.AddAt(lineno, "expected 'key = value', found " + Quote(line));
            continue;
        }
        const bool spaced = eq >= 2 && line[eq - 1] == ' ' && line[eq - 2] != ' ' &&
                            eq + 2 < line.size() && line[eq + 1] == ' ' && line[eq + 2] != ' ';
        if (!spaced)
            out.AddAt(lineno, "expected one blank either side of '=' in " + Quote(line));
        if (line.back() == ' ') out.AddAt(lineno, "trailing blank in " + Quote(line));
        std::string key = line.substr(0, eq);
        std::string value = line.substr(eq + 1);
        key.erase(key.find_last_not_of(' ') + 1);
        value.erase(0, value.find_first_not_of(' '));
        value.erase(value.find_last_not_of(' ') + 1);

        int phase = 0, index = 0;
        if (!ClassifyInfKey(key, &phase, &index)) {
            out.AddAt(lineno, "unknown key " + Quote(key) + " in " + where);
            continue;
        }
        if (phase < s.last_phase) {
            out.AddAt(lineno, "key " + key + " out of order in " + where);
        } else if (!IsListPhase(phase) && s.seen_single[phase]) {
            out.AddAt(lineno, "duplicate key " + key + " in " + where);
        }
        if (phase > s.last_phase) s.last_phase = phase;

        if (!IsListPhase(phase)) {
            s.seen_single[phase] = true;
            if (value.size() != 5 || !AllDigits(value))
                out.AddAt(lineno, key + " " + Quote(value) + " is not five decimal digits");
            else
                s.version[phase] = value;
            continue;
        }

        if (index != s.list_count[phase])
            out.AddAt(lineno, key + " where " + ListKey(phase, s.list_count[phase]) + " expected");
        s.list_count[phase] = index + 1;
        if (phase == kCompatible) {
            if (payload_class == 0) out.AddAt(lineno, key + " belongs to class 1 only");
            if (index > 0) out.AddAt(lineno, "only DRVCompatibleDrive_0 is allowed in " + where);
            if (value != kCompatiblePid)
                out.AddAt(lineno, key + " is " + Quote(value) + ", expected " + Quote(kCompatiblePid));
            continue;
        }
        if (value.empty()) {
            out.AddAt(lineno, key + " has no value");
            continue;
        }
        CheckInfDriveId(lineno, key, value, &out);
        if (phase == kNotSupport) {
            if (payload_class == 0) out.AddAt(lineno, key + " belongs to class 1 only");
            s.not_supported.push_back(value);
        } else {
            s.supported.push_back(value);
        }
    }

    int new_drive_sections = 0, compatible_sections = 0, not_support_sections = 0;
    int version_only_sections = 0;
    for (const InfSectionState& s : sections) {
        const std::string where = "[" + s.name + "]";
        for (int p : {kAldMin, kAldMax, kPrnMin, kPrnMax})
            if (!s.seen_single[p]) out.AddAt(s.line, where + " lacks " + kInfPhaseKey[p]);
        for (int lo : {kAldMin, kPrnMin}) {
            const std::string& min = s.version[lo];
            const std::string& max = s.version[lo + 1];
            if (!min.empty() && !max.empty() && min > max)
                out.AddAt(s.line, where + " " + kInfPhaseKey[lo] + " " + min + " exceeds " +
                                      kInfPhaseKey[lo + 1] + " " + max);
        }
        std::set<std::string> seen;
        for (const std::string& id : s.supported)
            if (!seen.insert(id).second)
                out.AddAt(s.line, where + " lists " + Quote(id) + " more than once");
        for (const std::string& id : s.not_supported)
            if (seen.count(id))
                out.AddAt(s.line, where + " lists " + Quote(id) + " as supported and not supported");

        if (seen.count(kNewDriveInfPid)) ++new_drive_sections;
        if (s.list_count[kCompatible] > 0) ++compatible_sections;
        if (s.list_count[kNotSupport] > 0) ++not_support_sections;
        if (s.rows == 4 && s.list_count[kSupport] == 0 && s.list_count[kCompatible] == 0 &&
            s.list_count[kNotSupport] == 0)
            ++version_only_sections;
    }
    if (sections.size() != kSupportSections)
        out.Add(std::to_string(sections.size()) + " sections, expected " +
                std::to_string(kSupportSections));
    if (version_only_sections != 1)
        out.Add(std::to_string(version_only_sections) +
                " sections hold only the four version keys, expected 1");
    if (new_drive_sections != kNewDriveSupportSections[payload_class])
        out.Add("new drive " + Quote(kNewDriveInfPid) + " is a DRVSupportDrive in " +
                std::to_string(new_drive_sections) + " sections, expected " +
                std::to_string(kNewDriveSupportSections[payload_class]));
    if (compatible_sections != kCompatibleSections[payload_class])
        out.Add("DRVCompatibleDrive_0 in " + std::to_string(compatible_sections) +
                " sections, expected " + std::to_string(kCompatibleSections[payload_class]));
    if (not_support_sections != kNotSupportSections[payload_class])
        out.Add("DRVNotSupportDrive rows in " + std::to_string(not_support_sections) +
                " sections, expected " + std::to_string(kNotSupportSections[payload_class]));
    return out.Take();
}

std::vector<std::string> CheckPayloadFiles(const std::map<std::string, std::string>& files) {
    std::vector<std::string> out;
    auto append = [&out](const std::vector<std::string>& more) {
        out.insert(out.end(), more.begin(), more.end());
    };
    const std::string* drv32[2] = {};
    const std::string* drv64[2] = {};
    for (const PayloadFile& f : PayloadFiles()) {
        const auto it = files.find(f.relative_path);
        if (it == files.end()) {
            out.push_back(std::string(f.relative_path) + ": missing or unreadable");
            continue;
        }
        const std::string& bytes = it->second;
        switch (f.kind) {
            case PayloadKind::kMarker:
                append(CheckMarkerFile(bytes, f.relative_path));
                break;
            case PayloadKind::kDriveClass:
                append(CheckDriveClassFile(bytes, f.payload_class, false, f.relative_path));
                drv32[f.payload_class] = &bytes;
                break;
            case PayloadKind::kDriveClass64:
                append(CheckDriveClassFile(bytes, f.payload_class, true, f.relative_path));
                drv64[f.payload_class] = &bytes;
                break;
            case PayloadKind::kSupportVersion:
                append(CheckSupportVersionFile(bytes, f.payload_class, f.relative_path));
                break;
        }
    }
    for (int c = 0; c < 2; ++c) {
        if (drv32[c] && drv64[c])
            append(CheckDriveClassPair(*drv32[c], *drv64[c],
                                       "class" + std::to_string(c) + "/DrvClass64.ini"));
    }
    return out;
}

std::map<std::string, std::string> ReadPayloadFolder(const std::string& folder) {
    std::map<std::string, std::string> files;
    for (const PayloadFile& f : PayloadFiles()) {
        std::ifstream in(folder + "/" + f.relative_path, std::ios::binary);
        if (!in) continue;
        std::ostringstream content;
        content << in.rdbuf();
        files[f.relative_path] = content.str();
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
        const auto it = files.find(f.relative_path);
        const std::size_t size = it == files.end() ? 0 : it->second.size();
        if (it == files.end() || size != f.supplied_size)
            out.push_back(std::string(f.relative_path) + ": " +
                          (it == files.end() ? std::string("missing") : std::to_string(size) + " bytes") +
                          ", the supplied file has " + std::to_string(f.supplied_size));
    }
    return out;
}

}  // namespace payload
