#include <cstring>
#include <string>

#include "app/updater.h"
#include "payload/payload_ids.h"
#include "tests/machine_test.h"
#include "winsim/system.h"

namespace {

// What Configure leaves in the record.
struct Configured {
  int versionClass;
  BYTE isWow64;
  int fileCount;
  std::vector<std::string> fileNames;
  std::vector<std::string> backupNames;
  std::vector<int> resourceIds;
  std::string sourceDir;
};

class ConfigureTest : public MachineTest {
 protected:
  static Configured ConfigureFor(DWORD version, winsim::Wow64Query wow64, const std::string& folder = "D:\\Tools\\") {
    winsim::SetWow64Query(wow64);
    Updater updater;
    updater.installedVersion = version;
    updater.sourceDir = new char[MAX_PATH];
    std::strcpy(updater.sourceDir, folder.c_str());
    updater.Configure();
    const int rows = updater.fileCount;
    return Configured{updater.versionClass,
                      updater.isWow64,
                      rows,
                      std::vector<std::string>(updater.fileNames, updater.fileNames + rows),
                      std::vector<std::string>(updater.backupNames, updater.backupNames + rows),
                      std::vector<int>(updater.resourceIds, updater.resourceIds + rows),
                      updater.sourceDir};
  }
};

TEST_F(ConfigureTest, VersionSelectsClassResourcesAndSourceFolder) {
  const char* const class0Folder = "D:\\Tools\\\\Version\\V7xx-V8xx";
  const char* const class1Folder = "D:\\Tools\\\\Version\\V9xx-V1000";
  struct Case {
    DWORD version;
    int versionClass;
    std::vector<int> ids32;
    std::vector<int> ids64;
    const char* sourceDir;
  } cases[] = {
      {0x07000000, 0, {201, 200, 203}, {201, 202, 200, 203}, class0Folder},
      {0x0800FFFF, 0, {201, 200, 203}, {201, 202, 200, 203}, class0Folder},
      {0x08010000, 0, {201, 200, 203}, {201, 202, 200, 203}, class0Folder},
      {0x08FFFFFF, 0, {201, 200, 203}, {201, 202, 200, 203}, class0Folder},
      {0x09000000, 1, {211, 210, 213}, {211, 212, 210, 213}, class1Folder},
      {0x0A0000FF, 1, {211, 210, 213}, {211, 212, 210, 213}, class1Folder},
  };
  for (const Case& c : cases) {
    for (bool wow64 : {false, true}) {
      SCOPED_TRACE(testing::Message() << std::hex << c.version << (wow64 ? " WOW64" : " 32-bit"));
      const Configured result = ConfigureFor(
          c.version, wow64 ? winsim::Wow64Query::Reports64BitWindows : winsim::Wow64Query::Reports32BitWindows);
      EXPECT_EQ(result.versionClass, c.versionClass);
      EXPECT_EQ(result.isWow64, wow64 ? 1 : 0);
      EXPECT_EQ(result.resourceIds, wow64 ? c.ids64 : c.ids32);
      EXPECT_EQ(result.sourceDir, c.sourceDir);
    }
  }
}

TEST_F(ConfigureTest, ThirtyTwoBitWindowsHasThreeRowsWithoutTheSixtyFourBitFile) {
  const Configured result = ConfigureFor(0x09000000, winsim::Wow64Query::Reports32BitWindows);
  EXPECT_EQ(result.fileCount, 3);
  EXPECT_EQ(result.fileNames, (std::vector<std::string>{"DrvClass.ini", "XVT-7Q2RN3.txt", "SupVer.inf"}));
  EXPECT_EQ(result.backupNames,
            (std::vector<std::string>{"DrvClass.ini.bk0", "XVT-7Q2RN3.txt.bk0", "SupVer.inf.bk0"}));
}

TEST_F(ConfigureTest, Wow64HasFourRowsInDeploymentOrder) {
  const Configured result = ConfigureFor(0x09000000, winsim::Wow64Query::Reports64BitWindows);
  EXPECT_EQ(result.fileCount, 4);
  EXPECT_EQ(result.fileNames,
            (std::vector<std::string>{"DrvClass.ini", "DrvClass64.ini", "XVT-7Q2RN3.txt", "SupVer.inf"}));
  EXPECT_EQ(result.backupNames, (std::vector<std::string>{"DrvClass.ini.bk0", "DrvClass64.ini.bk0",
                                                         "XVT-7Q2RN3.txt.bk0", "SupVer.inf.bk0"}));
}

TEST_F(ConfigureTest, FailedWow64QueryCountsAsWow64AndMissingQueryAsThirtyTwoBit) {
  const Configured failed = ConfigureFor(0x07000000, winsim::Wow64Query::Fails);
  EXPECT_EQ(failed.isWow64, 1);
  EXPECT_EQ(failed.fileCount, 4);

  const Configured onWindows2000 = ConfigureFor(0x07000000, winsim::Wow64Query::Absent);
  EXPECT_EQ(onWindows2000.isWow64, 0);
  EXPECT_EQ(onWindows2000.fileCount, 3);
}

TEST_F(ConfigureTest, SourceFolderThatCannotTakeTheSubFolderIsEmptiedNotCut) {
  const std::string longFolder = "C:\\" + std::string(240, 'd') + "\\";
  EXPECT_EQ(ConfigureFor(0x09000000, winsim::Wow64Query::Reports32BitWindows, longFolder).sourceDir, "");
}

TEST_F(ConfigureTest, ClassOutsideTheTablesTakesClassZeroRows) {
  for (int outside : {-1, 2, 7}) {
    Updater other;
    other.versionClass = outside;
    other.ConfigureFileTable(outside, 1);
    EXPECT_EQ(other.resourceIds[0], PAYLOAD_ID_CLASS0_DRVCLASS);
    EXPECT_EQ(other.resourceIds[1], PAYLOAD_ID_CLASS0_DRVCLASS64);
    EXPECT_EQ(other.versionClass, outside) << "only the argument falls back";
  }
}

TEST_F(ConfigureTest, FreshRecordOwnsNothing) {
  Updater* record = new Updater;
  EXPECT_EQ(record->showUi, 1);
  EXPECT_EQ(record->sourceDir, nullptr);
  EXPECT_EQ(record->installDir, nullptr);
  delete record;  // nothing to release; the sanitizer sees any fault
}

}  // namespace
