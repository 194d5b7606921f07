// Format rules for the drive payload shipped as resources in the updater.
//
// Every check returns one human-readable line per breach, each starting with
// the file name it concerns ("class1/SupVer.inf: ..."). An empty list means the
// input is well-formed. The checks work on raw bytes so that tests (and the
// build) can validate damaged copies without touching the disk.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <vector>

namespace payload {

enum class PayloadKind {
  MARKER = 0,          // XVT-7Q2RN3.txt
  DRIVE_CLASS = 1,     // DrvClass.ini
  DRIVE_CLASS64 = 2,   // DrvClass64.ini
  SUPPORT_VERSION = 3  // SupVer.inf
};

struct PayloadFile {
  int resourceId;            // 200 + 10 * payloadClass + kind
  const char* resourceName;  // the id's name in payload_ids.h
  int payloadClass;          // 0: versions 7.xx-8.00, 1: versions 9.xx-10.00
  PayloadKind kind;
  const char* relativePath;  // relative to the payload folder, '/' separated
  std::size_t suppliedSize;  // bytes of the publisher's file; the test tables differ
};

// The eight files, in resource id order.
const std::vector<PayloadFile>& PayloadFiles();

// The marker resource is exactly these 10 bytes, nothing else.
extern const char MARKER_TEXT[];
// Product id of the new drive as written in the INI files and in SupVer.inf.
extern const char NEW_DRIVE_INI_PID[];
extern const char NEW_DRIVE_INF_PID[];
// Wildcard product id that matches rebadged variants of the new drive.
extern const char NEW_DRIVE_COMPATIBLE_PID[];

std::vector<std::string> CheckMarkerFile(const std::string& bytes, const std::string& name);

// UTF-16LE container rules shared by the INI and INF files: BOM FF FE, whole
// code units, ASCII only, every line (the last one too) ended by CR LF.
std::vector<std::string> CheckUtf16AsciiText(const std::string& bytes, const std::string& name);

// DrvClass.ini (is64 == false) or DrvClass64.ini (is64 == true) of a class.
std::vector<std::string> CheckDriveClassFile(const std::string& bytes, int payloadClass, bool is64,
                                             const std::string& name);

// DrvClass64.ini must mirror DrvClass.ini line for line; only the DLL names
// differ by "64" before ".dll".
std::vector<std::string> CheckDriveClassPair(const std::string& bytes32, const std::string& bytes64,
                                             const std::string& name64);

std::vector<std::string> CheckSupportVersionFile(const std::string& bytes, int payloadClass, const std::string& name);

// All eight files held in memory, keyed by PayloadFile::relativePath.
std::vector<std::string> CheckPayloadFiles(const std::map<std::string, std::string>& files);

// The eight files below `folder` that can be read, keyed by relative path.
std::map<std::string, std::string> ReadPayloadFolder(const std::string& folder);

// Reads the eight files below `folder` and checks them.
std::vector<std::string> CheckPayloadFolder(const std::string& folder);

// One line per file whose size is not that of the publisher's supplied file.
// A payload that passes is the supplied one; any other is a test payload.
std::vector<std::string> CheckSuppliedSizes(const std::map<std::string, std::string>& files);

}  // namespace payload
