#include <gtest/gtest.h>

#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "payload/payload_rules.h"

#ifndef PAYLOAD_DIR
#error "PAYLOAD_DIR must name the payload folder"
#endif

namespace {

using Files = std::map<std::string, std::string>;
using Mutation = std::function<bool(std::string&)>;

std::string Join(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& l : lines) out += l + "\n";
  return out;
}

Files LoadShipped() {
  Files files;
  for (const payload::PayloadFile& f : payload::PayloadFiles()) {
    std::ifstream in(std::string(PAYLOAD_DIR) + "/" + f.relativePath, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    if (in) files[f.relativePath] = content.str();
  }
  return files;
}

// The INI/INF files are UTF-16LE with a BOM; edits are made on the ASCII text
// and encoded back, one byte per code unit.
std::string Decode(const std::string& bytes) {
  std::string text;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2) text += bytes[i];
  return text;
}

std::string Encode(const std::string& text) {
  std::string bytes = "\xFF\xFE";
  for (char c : text) {
    bytes += c;
    bytes += '\0';
  }
  return bytes;
}

// Every mutation reports whether it found its target, so a data change can
// never turn a damage case into a silent no-op.
Mutation Replace(const std::string& from, const std::string& to) {
  return [from, to](std::string& bytes) {
    std::string text = Decode(bytes);
    const size_t at = text.find(from);
    if (at == std::string::npos) return false;
    bytes = Encode(text.replace(at, from.size(), to));
    return true;
  };
}

Mutation SwapTwoLinesAfter(const std::string& header) {
  return [header](std::string& bytes) {
    std::string text = Decode(bytes);
    const size_t a = text.find(header + "\r\n");
    if (a == std::string::npos) return false;
    const size_t first = a + header.size() + 2;
    const size_t second = text.find("\r\n", first) + 2;
    const size_t end = text.find("\r\n", second) + 2;
    const std::string swapped = text.substr(second, end - second) + text.substr(first, second - first);
    bytes = Encode(text.replace(first, end - first, swapped));
    return true;
  };
}

Mutation Bytes(std::function<void(std::string&)> edit) {
  return [edit](std::string& bytes) {
    edit(bytes);
    return true;
  };
}

TEST(PayloadCheck, ShippedFolderPasses) {
  const std::vector<std::string> breaches = payload::CheckPayloadFolder(PAYLOAD_DIR);
  EXPECT_TRUE(breaches.empty()) << Join(breaches);
}

TEST(PayloadCheck, ResourceIdsFollowClassAndKind) {
  const auto& files = payload::PayloadFiles();
  ASSERT_EQ(files.size(), 8u);
  for (const payload::PayloadFile& f : files)
    EXPECT_EQ(f.resourceId, 200 + 10 * f.payloadClass + static_cast<int>(f.kind)) << f.relativePath;
}

TEST(PayloadCheck, MissingFolderIsReported) {
  EXPECT_EQ(payload::CheckPayloadFolder(std::string(PAYLOAD_DIR) + "/no-such-dir").size(), 8u);
}

TEST(PayloadCheck, DamagedCopiesAreRejected) {
  struct Damage {
    const char* what;
    const char* file;
    Mutation mutate;
    const char* expect;  // part of the breach line reported for `file`
  };
  // Damage to the text: the first `from` in the file becomes `to`.
  const struct {
    const char* what;
    const char* file;
    const char* from;
    const char* to;
    const char* expect;
  } textEdits[] = {
      {"LF without CR", "class1/SupVer.inf", "\r\n", "\n", "LF without CR"},
      {"non-ASCII character", "class0/SupVer.inf", "KR550]", "KR55\xE9]", "non-ASCII character U+00E9"},
      {"gap in DRIVE numbering", "class1/DrvClass.ini", "[DRIVE13]", "[DRIVE14]", "[DRIVE14] where [DRIVE13] expected"},
      {"two empty lines between sections", "class0/DrvClass.ini", "\r\n\r\n[DRIVE4]", "\r\n\r\n\r\n[DRIVE4]",
       "more than one empty line"},
      {"blank around '='", "class1/DrvClass64.ini", "PID=", "PID =", "blank around '='"},
      {"TRAY2 value", "class1/DrvClass.ini", "TRAY2=677", "TRAY2=676", "expected 677"},
      {"PID over 16 characters", "class0/DrvClass.ini", "PID=XVT-7Q2RN__KR550", "PID=XVT-7Q2RN___KR550",
       "longer than 16"},
      {"new drive vendor order", "class0/DrvClass.ini", "VID=ROVE", "VID=ODRIX", "expected VID=ROVE"},
      {"64-variant DLL without 64", "class0/DrvClass64.ini", "64.dll", ".dll", "does not end in '64.dll'"},
      {"64 list differs from 32 list", "class1/DrvClass64.ini", "VID=TEAC", "VID=TEAK", "does not mirror"},
      {"SupVer '=' lacking blanks", "class0/SupVer.inf", " = ", "=", "one blank either side of '='"},
      {"SupVer empty line", "class1/SupVer.inf", "\r\n[SUPPORT_", "\r\n\r\n[SUPPORT_", "empty line"},
      {"SupVer four-digit version", "class0/SupVer.inf", "VersionMax = 0", "VersionMax = ", "not five decimal digits"},
      {"SupVer row numbering gap", "class1/SupVer.inf", "DRVSupportDrive_1 ", "DRVSupportDrive_2 ",
       "where DRVSupportDrive_1 expected"},
      {"new drive missing from a SupVer section", "class1/SupVer.inf", "DRVSupportDrive_0 = XVT-7Q2RN  KR550",
       "DRVSupportDrive_0 = XVT-7Q2RN  KR551", "in 4 sections, expected 5"},
      {"compatible row in class 0", "class0/SupVer.inf", "PRNSupportVersionMin",
       "DRVCompatibleDrive_0 = ???????????KR550\r\nPRNSupportVersionMin", "class 1 only"},
  };
  std::vector<Damage> cases = {
      {"missing BOM", "class0/DrvClass.ini", Bytes([](std::string& b) { b.erase(0, 2); }), "missing byte-order mark"},
      {"no CR LF after the last line", "class0/DrvClass64.ini", Bytes([](std::string& b) { b.resize(b.size() - 4); }),
       "last line is not ended by CR LF"},
      {"empty line after the last section", "class1/DrvClass64.ini",
       Bytes([](std::string& b) { b += Encode("\r\n").substr(2); }), "after the last section"},
      {"wrong key order", "class0/DrvClass.ini", SwapTwoLinesAfter("[DRIVE2]"), "out of order in [DRIVE2]"},
      {"COMPAT1 in class 0", "class0/DrvClass.ini", Bytes([](std::string& b) {
         b += Encode(
                  "\r\n[COMPAT1]\r\nVID=PIONEER\r\nPID=???????????KR550\r\n"
                  "DLL=CvDrvXvt.dll\r\nTRAY1=212\r\nTRAY2=677\r\n")
                  .substr(2);
       }),
       "class 1 only"},
      {"marker with trailing newline", "class1/XVT-7Q2RN3.txt", Bytes([](std::string& b) { b += "\r\n"; }),
       "12 bytes, expected exactly 10"},
  };
  for (const auto& e : textEdits) cases.push_back({e.what, e.file, Replace(e.from, e.to), e.expect});

  const Files shipped = LoadShipped();
  ASSERT_EQ(shipped.size(), 8u) << "payload files not readable below " << PAYLOAD_DIR;
  ASSERT_TRUE(payload::CheckPayloadFiles(shipped).empty());

  for (const Damage& d : cases) {
    SCOPED_TRACE(d.what);
    Files damaged = shipped;
    std::string& bytes = damaged.at(d.file);
    ASSERT_TRUE(d.mutate(bytes)) << "mutation target not found";
    ASSERT_NE(bytes, shipped.at(d.file));

    const std::vector<std::string> breaches = payload::CheckPayloadFiles(damaged);
    const std::string prefix = std::string(d.file) + ": ";
    bool found = false;
    for (const std::string& b : breaches)
      found = found || (b.compare(0, prefix.size(), prefix) == 0 && b.find(d.expect) != std::string::npos);
    EXPECT_TRUE(found) << "expected a breach of " << d.file << " containing '" << d.expect << "', got:\n"
                       << Join(breaches);
  }
}

}  // namespace
