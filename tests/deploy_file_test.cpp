#include <cstdio>
#include <string>

#include "deploy/deploy_file.h"
#include "payload/payload_ids.h"
#include "tests/installed_application.h"
#include "tests/machine_test.h"
#include "winsim/files.h"
#include "winsim/resources.h"
#include "winsim/code_pages.h"

namespace {

const char kFolder[] = "D:\\Apps\\Carvella";
const char kIni[] = "D:\\Apps\\Carvella\\DrvClass.ini";

class DeployFileTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    winsim::MakeFolder(kFolder);
  }

  static void Name(DeployFile& file, const char* folder, const char* name, int resourceId = NO_RESOURCE) {
    ASSERT_EQ(file.SetDirectory(folder), 0);
    ASSERT_EQ(file.SetName(name), 0);
    file.SetResourceId(resourceId);
  }
};

TEST_F(DeployFileTest, FolderFormsBuildOneBackslashBeforeTheName) {
  struct Case {
    const char* folder;
    const char* stored;
    const char* path;
  } cases[] = {
      {"D:\\apps\\", "D:\\apps", "D:\\apps\\x.ini"},
      {"D:\\apps", "D:\\apps", "D:\\apps\\x.ini"},
      {"D:\\", "D:", "D:\\x.ini"},
      {"D:\\apps\\\\", "D:\\apps\\", "D:\\apps\\\\x.ini"},
      {"", "", "\\x.ini"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    DeployFile file;
    ASSERT_EQ(file.SetDirectory(c.folder), 0);
    ASSERT_EQ(file.SetName("x.ini"), 0);
    ASSERT_EQ(file.BuildPath(), 0);
    EXPECT_STREQ(file.directory, c.stored);
    EXPECT_STREQ(file.fullPath, c.path);
  }
}

// In code page 932 the second byte of a character such as "\x95\x5C" is 0x5C,
// the byte of a backslash; only a backslash character is taken off.
TEST_F(DeployFileTest, JapaneseFolderKeepsACharacterWhoseSecondByteLooksLikeABackslash) {
  struct Case {
    UINT codePage;
    const char* folder;
    const char* stored;
  } cases[] = {
      {932, "D:\\\x83\x5C\x83t\x83g\\\x95\x5C", "D:\\\x83\x5C\x83t\x83g\\\x95\x5C"},
      {932, "D:\\\x95\x5C\\", "D:\\\x95\x5C"},
      {932, "D:\\\x95\x5C\\\\", "D:\\\x95\x5C\\"},
      {1252, "D:\\\x95\x5C", "D:\\\x95"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    winsim::SetAnsiCodePage(c.codePage);
    DeployFile file;
    ASSERT_EQ(file.SetDirectory(c.folder), 0);
    EXPECT_STREQ(file.directory, c.stored);
  }
}

TEST_F(DeployFileTest, BuildPathTestsTheFolderBeforeTheName) {
  DeployFile neither;
  EXPECT_EQ(neither.BuildPath(), ERR_NO_DIRECTORY);
  DeployFile nameOnly;
  nameOnly.SetName("x.ini");
  EXPECT_EQ(nameOnly.BuildPath(), ERR_NO_DIRECTORY);
  DeployFile folderOnly;
  folderOnly.SetDirectory(kFolder);
  EXPECT_EQ(folderOnly.BuildPath(), ERR_NO_NAME);
  EXPECT_EQ(folderOnly.fullPath, nullptr);
}

TEST_F(DeployFileTest, BuffersAreReusedAndThePathFollowsTheLatestSetters) {
  DeployFile file;
  Name(file, "C:\\one", "a.ini");
  ASSERT_EQ(file.BuildPath(), 0);
  char* const directory = file.directory;
  char* const name = file.name;
  char* const path = file.fullPath;
  Name(file, "C:\\two\\", "b.ini");
  ASSERT_EQ(file.BuildPath(), 0);
  EXPECT_STREQ(file.fullPath, "C:\\two\\b.ini");
  EXPECT_EQ(file.directory, directory);
  EXPECT_EQ(file.name, name);
  EXPECT_EQ(file.fullPath, path);
}

TEST_F(DeployFileTest, TooLongTextsAreRefusedNeverCutShort) {
  const std::string longest(MAX_PATH - 1, 'a');
  const std::string tooLong(MAX_PATH, 'a');
  DeployFile fresh;
  EXPECT_EQ(fresh.SetDirectory(tooLong.c_str()), ERR_TEXT_TOO_LONG);
  EXPECT_EQ(fresh.SetName(tooLong.c_str()), ERR_TEXT_TOO_LONG);
  EXPECT_EQ(fresh.directory, nullptr);
  EXPECT_EQ(fresh.BuildPath(), ERR_NO_DIRECTORY);

  DeployFile named;
  Name(named, kFolder, "x.ini");
  EXPECT_EQ(named.SetName(tooLong.c_str()), ERR_TEXT_TOO_LONG);
  EXPECT_EQ(named.name, nullptr) << "a refused name leaves neither a cut one nor the one before";
  EXPECT_EQ(named.BuildPath(), ERR_NO_NAME);

  // Folder and name fit alone but not together: no path, and nothing written.
  winsim::PutFile(kIni, "old", FILE_ATTRIBUTE_READONLY);
  ASSERT_EQ(named.SetName(longest.c_str()), 0);
  EXPECT_EQ(named.BuildPath(), ERR_TEXT_TOO_LONG);
  EXPECT_STREQ(named.fullPath, "");
  EXPECT_EQ(named.ClearReadOnly(), 0);
  DeployFile payload;
  Name(payload, kFolder, "x.ini", PAYLOAD_ID_CLASS1_DRVCLASS);
  EXPECT_EQ(payload.CopyTo(named), ERR_TEXT_TOO_LONG);
  EXPECT_EQ(winsim::CallCount("CreateFileA"), 0u);
  EXPECT_EQ(winsim::CallCount("SetFileAttributesA"), 0u);
  EXPECT_EQ(winsim::FileAttributes(kIni), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
}

TEST_F(DeployFileTest, FailedAllocationLeavesTheFieldUnset) {
  DeployFile file;
  winsim::FailAllocation(winsim::AllocationCount() + 1);
  EXPECT_EQ(file.SetDirectory(kFolder), ERR_OUT_OF_MEMORY);
  EXPECT_EQ(file.directory, nullptr);
  ASSERT_EQ(file.SetName("x.ini"), 0);
  EXPECT_EQ(file.BuildPath(), ERR_NO_DIRECTORY);
}

TEST_F(DeployFileTest, ExistsMeansReadableWhileOthersOnlyRead) {
  struct Case {
    const char* what;
    DWORD heldAccess;  // 0: nobody else has it open
    DWORD heldShare;
    bool exists;
    int error;
  } cases[] = {
      {"plain file", 0, 0, true, -7},
      {"read by another process", GENERIC_READ, FILE_SHARE_READ, true, -7},
      {"written by another process", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, false, ERROR_SHARING_VIOLATION},
      {"read exclusively elsewhere", GENERIC_READ, 0, false, ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::PutFile(kIni, "bytes", FILE_ATTRIBUTE_READONLY);
    if (c.heldAccess != 0) {
      ASSERT_TRUE(winsim::HoldOpenElsewhere(kIni, c.heldAccess, c.heldShare));
    }
    DeployFile file;
    Name(file, kFolder, "DrvClass.ini");
    int error = -7;  // left alone when the file exists
    EXPECT_EQ(file.Exists(&error), c.exists);
    EXPECT_EQ(error, c.error);
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(DeployFileTest, ExistsIsFalseWithTheReason) {
  winsim::MakeFolder("D:\\Apps\\Carvella\\Sub");
  struct Case {
    const char* folder;
    const char* name;
    int error;
  } cases[] = {
      {kFolder, "Missing.ini", ERROR_FILE_NOT_FOUND},
      {"D:\\Nowhere", "DrvClass.ini", ERROR_PATH_NOT_FOUND},
      {kFolder, "Sub", ERROR_ACCESS_DENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DeployFile file;
    Name(file, c.folder, c.name);
    int error = 0;
    EXPECT_FALSE(file.Exists(&error));
    EXPECT_EQ(error, c.error);
  }
  DeployFile unnamed;
  int error = 0;
  EXPECT_FALSE(unnamed.Exists(&error));
  EXPECT_EQ(error, ERR_NO_DIRECTORY);
}

TEST_F(DeployFileTest, ClearReadOnlyDropsEveryAttributeOfTheLastBuiltPath) {
  const char other[] = "D:\\Apps\\Carvella\\Other.ini";
  winsim::PutFile(kIni, "a", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_ARCHIVE);
  winsim::PutFile(other, "b", FILE_ATTRIBUTE_READONLY);

  DeployFile file;
  Name(file, kFolder, "DrvClass.ini");
  EXPECT_EQ(file.ClearReadOnly(), 0);
  EXPECT_EQ(winsim::CallCount("GetFileAttributesA"), 0u) << "nothing happens before a path is built";

  ASSERT_EQ(file.BuildPath(), 0);
  ASSERT_EQ(file.SetName("Other.ini"), 0);
  EXPECT_EQ(file.ClearReadOnly(), 0);
  EXPECT_EQ(winsim::FileAttributes(kIni), 0u);
  EXPECT_EQ(winsim::FileAttributes(other), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

  // Without read-only, other attributes stay.
  winsim::PutFile(kIni, "a", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_EQ(file.ClearReadOnly(), 0);
  EXPECT_EQ(winsim::FileAttributes(kIni), static_cast<DWORD>(FILE_ATTRIBUTE_HIDDEN));
}

TEST_F(DeployFileTest, DeleteNeedsAWritableFile) {
  DeployFile file;
  Name(file, kFolder, "DrvClass.ini");
  EXPECT_EQ(file.Delete(), ERROR_FILE_NOT_FOUND);
  winsim::PutFile(kIni, "a", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(file.Delete(), ERROR_ACCESS_DENIED);
  EXPECT_TRUE(winsim::FileExists(kIni));
  file.ClearReadOnly();
  EXPECT_EQ(file.Delete(), 0);
  EXPECT_FALSE(winsim::FileExists(kIni));
}

TEST_F(DeployFileTest, FileCopyCarriesBytesAndAttributesOverAnExistingFile) {
  const char backupPath[] = "D:\\Apps\\Carvella\\DrvClass.ini.bk0";
  winsim::PutFile(kIni, "old drive classes", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
  winsim::PutFile(backupPath, "stale backup that is longer");
  DeployFile target;
  DeployFile backup;
  Name(target, kFolder, "DrvClass.ini");
  Name(backup, kFolder, "DrvClass.ini.bk0");
  EXPECT_EQ(target.CopyTo(backup), 0);
  EXPECT_EQ(winsim::FileBytes(backupPath), "old drive classes");
  EXPECT_EQ(winsim::FileAttributes(backupPath), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE));

  // A destination that is a second name of a file elsewhere is not written through.
  winsim::PutFile("D:\\Elsewhere\\kept.txt", "kept");
  winsim::MakeHardLink("D:\\Elsewhere\\kept.txt", backupPath);
  EXPECT_EQ(target.CopyTo(backup), ERR_LINKED_FILE);
  EXPECT_EQ(winsim::FileBytes("D:\\Elsewhere\\kept.txt"), "kept");
}

TEST_F(DeployFileTest, ReadOnlyDestinationIsRefusedByCopyAndByResource) {
  for (int resourceId : {NO_RESOURCE, PAYLOAD_ID_CLASS1_DRVCLASS}) {
    SCOPED_TRACE(resourceId);
    winsim::ResetMachine();
    winsim::PutFile("E:\\Setup\\DrvClass.ini", "source bytes");
    winsim::PutFile(kIni, "kept", FILE_ATTRIBUTE_READONLY);
    DeployFile source;
    DeployFile target;
    Name(source, "E:\\Setup", "DrvClass.ini", resourceId);
    Name(target, kFolder, "DrvClass.ini");
    EXPECT_EQ(source.CopyTo(target), ERROR_ACCESS_DENIED);
    EXPECT_EQ(winsim::FileBytes(kIni), "kept");
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(DeployFileTest, ResourceReplacesALongerFileWithExactlyItsBytes) {
  const std::string payload = installed::PayloadFile("class1/DrvClass.ini");
  ASSERT_GT(payload.size(), 2u);
  winsim::PutFile(kIni, payload + std::string(5000, 'x'), FILE_ATTRIBUTE_ARCHIVE);
  DeployFile source;
  DeployFile target;
  Name(source, "E:\\Not\\There", "DrvClass.ini", PAYLOAD_ID_CLASS1_DRVCLASS);
  Name(target, kFolder, "DrvClass.ini");
  EXPECT_EQ(source.CopyTo(target), 0);
  EXPECT_EQ(winsim::FileBytes(kIni), payload);
  EXPECT_EQ(payload.substr(0, 2), "\xFF\xFE");
  EXPECT_EQ(winsim::FileAttributes(kIni), 0u);
  EXPECT_EQ(winsim::CallCount("CopyFileExA"), 0u) << "the source folder is never read";
  EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
}

TEST_F(DeployFileTest, SourceWithAResourceStillNeedsItsFolder) {
  DeployFile source;
  source.SetName("DrvClass.ini");
  source.SetResourceId(PAYLOAD_ID_CLASS1_DRVCLASS);
  DeployFile target;
  Name(target, kFolder, "DrvClass.ini");
  EXPECT_EQ(source.CopyTo(target), ERR_NO_DIRECTORY);
  DeployFile unnamedTarget;
  Name(source, "E:\\Setup", "DrvClass.ini", PAYLOAD_ID_CLASS1_DRVCLASS);
  EXPECT_EQ(source.CopyTo(unnamedTarget), ERR_NO_DIRECTORY);
  EXPECT_FALSE(winsim::FileExists(kIni));
}

TEST_F(DeployFileTest, ExtractionFailuresAreReportedAndTouchNoFile) {
  const char inMissingFolder[] = "D:\\Nowhere\\SupVer.inf";
  struct Case {
    const char* what;
    void (*arrange)();
    const char* path;
    int error;
  } cases[] = {
      {"missing id", [] { winsim::RemoveResource(PAYLOAD_ID_CLASS1_SUPVER); }, kIni, ERROR_RESOURCE_NAME_NOT_FOUND},
      {"load fails", [] { winsim::FailCall("LoadResource", 1, ERROR_NOT_ENOUGH_MEMORY); }, kIni,
       ERROR_NOT_ENOUGH_MEMORY},
      {"folder missing", [] {}, inMissingFolder, ERROR_PATH_NOT_FOUND},
      {"held open elsewhere",
       [] {
         winsim::PutFile(kIni, "kept");
         winsim::HoldOpenElsewhere(kIni, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE);
       },
       kIni, ERROR_SHARING_VIOLATION},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::MakeFolder(kFolder);
    c.arrange();
    const bool existed = winsim::FileExists(c.path);
    EXPECT_EQ(ExtractResourceToFile(PAYLOAD_ID_CLASS1_SUPVER, c.path), c.error);
    EXPECT_EQ(winsim::FileExists(c.path), existed);
    if (existed) {
      EXPECT_EQ(winsim::FileBytes(c.path), "kept");
    }
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(DeployFileTest, AWriteThatStopsShortIsAFailure) {
  struct Case {
    DWORD writeError;
    int result;
  } cases[] = {{ERROR_HANDLE_DISK_FULL, ERROR_HANDLE_DISK_FULL}, {0, ERR_WRITE_INCOMPLETE}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.writeError);
    winsim::ResetMachine();
    winsim::MakeFolder(kFolder);
    winsim::StopWritePartWay(1, 100, c.writeError);
    EXPECT_EQ(ExtractResourceToFile(PAYLOAD_ID_CLASS1_DRVCLASS, kIni), c.result);
    EXPECT_EQ(winsim::FileBytes(kIni), installed::PayloadFile("class1/DrvClass.ini").substr(0, 100));
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(DeployFileTest, OnlyTheLowWordOfTheIdNamesTheResource) {
  EXPECT_EQ(ExtractResourceToFile(0x10000 + 210, kIni), 0);
  EXPECT_EQ(winsim::FileBytes(kIni), "XVT-7Q2RN3");
}

}  // namespace
