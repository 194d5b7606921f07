#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/updater.h"
#include "tests/installed_application.h"
#include "tests/machine_test.h"
#include "winsim/code_pages.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/user.h"

namespace {

const char kInstall[] = "D:\\Program Files\\ODRIX\\Carvella Maker";
const char kSource[] = "E:\\Update\\Version\\V9xx-V1000";
const DWORD kOldAttributes = FILE_ATTRIBUTE_ARCHIVE;

class DeployPassesTest : public MachineTest {
 protected:
  void SetUp() override {
    MachineTest::SetUp();
    Prepare(1, true);
  }

  // A configured record over an install folder that holds the old files of
  // every row except the marker file, which a first update creates; the
  // vendor's key holds the application's.
  void Prepare(int versionClass, bool wow64) {
    winsim::ResetMachine();
    winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, PUBLISHER_KEY);
    NextRun(versionClass, wow64);
    winsim::MakeFolder(kInstall);
    for (int row = 0; row < updater->fileCount; ++row) {
      if (Name(row) != "XVT-7Q2RN3.txt") winsim::PutFile(Target(row), Old(row), kOldAttributes);
    }
  }

  // A new record, as the next run on the same machine makes it.
  void NextRun(int versionClass = 1, bool wow64 = true) {
    updater.reset(new Updater);
    updater->installDir = NewFolder(kInstall);
    updater->sourceDir = NewFolder(kSource);
    updater->messages = messageTable.Text();
    updater->versionClass = versionClass;
    updater->ConfigureFileTable(versionClass, wow64 ? 1 : 0);
    updater->fileCount = wow64 ? 4 : 3;
  }

  static char* NewFolder(const char* folder) {
    char* buffer = new char[MAX_PATH];
    std::strcpy(buffer, folder);
    return buffer;
  }

  int Row(const std::string& name) const {
    for (int row = 0; row < updater->fileCount; ++row) {
      if (Name(row) == name) return row;
    }
    return -1;
  }
  std::string Name(int row) const { return updater->fileNames[row]; }
  std::string Target(int row) const { return std::string(kInstall) + "\\" + Name(row); }
  std::string Backup(int row) const { return std::string(kInstall) + "\\" + updater->backupNames[row]; }
  std::string Old(int row) const { return "old " + Name(row) + " of the installed application"; }
  std::string Payload(int row) const {
    return installed::PayloadFile("class" + std::to_string(updater->versionClass) + "/" + Name(row));
  }

  std::vector<std::string> InstallFolder() const { return winsim::FilesIn(kInstall); }
  std::vector<std::string> TargetsOnly() const {
    std::vector<std::string> names;
    for (int row = 0; row < updater->fileCount; ++row) {
      if (winsim::FileExists(Target(row))) names.push_back(Name(row));
    }
    std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
      return strcasecmp(a.c_str(), b.c_str()) < 0;
    });
    return names;
  }

  void ExpectOld(int row) const {
    EXPECT_EQ(winsim::FileBytes(Target(row)), Old(row)) << Name(row);
    EXPECT_EQ(winsim::FileAttributes(Target(row)), kOldAttributes) << Name(row);
  }

  void ExpectCopyErrorBox(const std::string& name) const {
    ASSERT_EQ(winsim::MessageBoxes().size(), 1u);
    const winsim::MessageBoxRecord& box = winsim::MessageBoxes()[0];
    std::string text = Text(MSG_FILE_COPY_ERROR);
    text.replace(text.find("%s"), 2, name);
    ExpectUpdaterBox(box, text);
  }

  // The renames made since a mark, as (from, to) paths.
  std::vector<std::pair<std::string, std::string>> MovesSince(std::size_t mark) const {
    const auto& log = winsim::MoveLog();
    return std::vector<std::pair<std::string, std::string>>(log.begin() + mark, log.end());
  }

  std::unique_ptr<Updater> updater;
};

TEST_F(DeployPassesTest, EveryRowGetsItsPayloadInTableOrder) {
  struct Case {
    int versionClass;
    bool wow64;
    std::vector<std::pair<std::string, std::string>> files;  // target, payload file
  } cases[] = {
      {1,
       true,
       {{"DrvClass.ini", "class1/DrvClass.ini"},
        {"DrvClass64.ini", "class1/DrvClass64.ini"},
        {"XVT-7Q2RN3.txt", "class1/XVT-7Q2RN3.txt"},
        {"SupVer.inf", "class1/SupVer.inf"}}},
      {0,
       false,
       {{"DrvClass.ini", "class0/DrvClass.ini"},
        {"XVT-7Q2RN3.txt", "class0/XVT-7Q2RN3.txt"},
        {"SupVer.inf", "class0/SupVer.inf"}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.wow64 ? "WOW64" : "32-bit");
    Prepare(c.versionClass, c.wow64);
    ASSERT_EQ(updater->DeployFiles(), 0);
    std::vector<std::pair<std::string, std::string>> backups;
    for (std::size_t row = 0; row < c.files.size(); ++row) {
      const std::string target = std::string(kInstall) + "\\" + c.files[row].first;
      const std::string payload = installed::PayloadFile(c.files[row].second);
      ASSERT_FALSE(payload.empty());
      EXPECT_EQ(winsim::FileBytes(target), payload) << target;
      EXPECT_EQ(winsim::FileAttributes(target), 0u);
      if (c.files[row].first != "XVT-7Q2RN3.txt") {
        backups.emplace_back(target + ".bk0.tmp", target + ".bk0");
        EXPECT_EQ(winsim::FileBytes(target + ".bk0"), Old(static_cast<int>(row)));
      }
    }
    EXPECT_EQ(winsim::MoveLog(), backups) << "existing targets are backed up in table order";
    EXPECT_EQ(winsim::FileBytes(Target(Row("XVT-7Q2RN3.txt"))), "XVT-7Q2RN3");
    EXPECT_TRUE(winsim::MessageBoxes().empty());

    EXPECT_EQ(updater->DeleteBackups(), 0);
    EXPECT_EQ(InstallFolder(), TargetsOnly());
    EXPECT_EQ(InstallFolder().size(), c.files.size());
    EXPECT_FALSE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, UPDATE_RECORD_KEY)) << "the record's key goes";
    EXPECT_TRUE(winsim::RegistryKeyExists(HKEY_LOCAL_MACHINE, PUBLISHER_KEY)) << "the publisher's key, which holds the application's, stays";
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(DeployPassesTest, SecondRunRewritesEveryFileAndLeavesNoBackup) {
  ASSERT_EQ(updater->DeployFiles(), 0);
  updater->DeleteBackups();
  const std::size_t mark = winsim::MoveLog().size();
  const unsigned writes = winsim::CallCount("WriteFile");

  ASSERT_EQ(updater->DeployFiles(), 0);
  EXPECT_EQ(MovesSince(mark).size(), 4u) << "every file is backed up again";
  EXPECT_EQ(winsim::CallCount("WriteFile") - writes, 8u) << "and rewritten, though it holds the same bytes";
  updater->DeleteBackups();
  EXPECT_EQ(InstallFolder(), TargetsOnly());
  for (int row = 0; row < updater->fileCount; ++row) EXPECT_EQ(winsim::FileBytes(Target(row)), Payload(row));
}

TEST_F(DeployPassesTest, FirstRowFailingLeavesNothingToRollBack) {
  winsim::PutFile(Target(0), Old(0), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(updater->DeployFiles(), -1);
  const std::size_t calls = winsim::CallLog().size();
  EXPECT_EQ(updater->RollBack(), 0);
  EXPECT_EQ(winsim::CallLog().size(), calls) << "roll-back touches no file";
  for (int row = 1; row < updater->fileCount; ++row) {
    if (row != Row("XVT-7Q2RN3.txt")) ExpectOld(row);
  }
  EXPECT_FALSE(winsim::FileExists(Target(Row("XVT-7Q2RN3.txt"))));
}

TEST_F(DeployPassesTest, ThirdRowFailingRollsBackRowOneThenRowZero) {
  const int failing = 2;
  winsim::PutFile(Target(failing), "old marker", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(updater->DeployFiles(), -1);
  ExpectCopyErrorBox(Name(failing));
  EXPECT_FALSE(winsim::FileExists(Backup(failing)));
  EXPECT_FALSE(winsim::FileExists(Backup(3))) << "later rows are not attempted";
  ExpectOld(3);

  const std::size_t mark = winsim::MoveLog().size();
  EXPECT_EQ(updater->RollBack(), 0);
  const std::vector<std::pair<std::string, std::string>> restores = {{Backup(1), Target(1)}, {Backup(0), Target(0)}};
  EXPECT_EQ(MovesSince(mark), restores);
  ExpectOld(0);
  ExpectOld(1);
  EXPECT_EQ(winsim::FileBytes(Target(failing)), "old marker");
  EXPECT_EQ(winsim::FileAttributes(Target(failing)), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));

  updater->DeleteBackups();
  EXPECT_EQ(InstallFolder(), TargetsOnly());
  EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
}

TEST_F(DeployPassesTest, ReadOnlyTargetFailsItsRowWithABoxEvenInSilentRuns) {
  for (BYTE showUi : {1, 0}) {
    SCOPED_TRACE(showUi ? "interactive" : "silent");
    Prepare(1, true);
    updater->showUi = showUi;
    const int row = Row("DrvClass64.ini");
    winsim::PutFile(Target(row), Old(row), FILE_ATTRIBUTE_READONLY);
    EXPECT_EQ(updater->DeployFiles(), -1);
    const std::pair<std::string, std::string> backupMade(Backup(row) + ".tmp", Backup(row));
    EXPECT_NE(std::find(winsim::MoveLog().begin(), winsim::MoveLog().end(), backupMade), winsim::MoveLog().end());
    EXPECT_FALSE(winsim::FileExists(Backup(row)));
    EXPECT_EQ(winsim::FileBytes(Target(row)), Old(row));
    EXPECT_EQ(winsim::FileAttributes(Target(row)), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    ExpectCopyErrorBox("DrvClass64.ini");
  }
}

TEST_F(DeployPassesTest, BackupOfAReadOnlyTargetIsReadOnlyToo) {
  winsim::PutFile(Target(0), Old(0), FILE_ATTRIBUTE_READONLY);
  winsim::FailCall("SetFileAttributesA", 2, ERROR_ACCESS_DENIED);  // the backup cannot be cleared...
  EXPECT_EQ(updater->DeployFiles(), -1);
  EXPECT_EQ(winsim::FileBytes(Backup(0)), Old(0));  // ...so it stays to be seen
  EXPECT_EQ(winsim::FileAttributes(Backup(0)), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
  updater->DeleteBackups();
  EXPECT_FALSE(winsim::FileExists(Backup(0)));
}

// A virus scanner may hold a stale fresh backup, sharing its deletion: the
// deleted name would stay until it lets go, and nothing could be made under
// it meanwhile. The row goes on all the same.
TEST_F(DeployPassesTest, AStaleFreshBackupHeldByAScannerDoesNotFailItsRow) {
  const std::string fresh = Backup(0) + ".tmp";
  winsim::PutFile(fresh, "cut short by an earlier run");
  winsim::HoldOpenElsewhere(fresh, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  EXPECT_EQ(updater->DeployFiles(), 0);
  EXPECT_EQ(winsim::FileBytes(Backup(0)), Old(0));
  EXPECT_EQ(winsim::FileBytes(Target(0)), Payload(0));
}

TEST_F(DeployPassesTest, StaleReadOnlyBackupFailsOneRunAndIsGoneForTheNext) {
  winsim::PutFile(Backup(0), "backup left by an earlier run", FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(updater->DeployFiles(), -1);
  ExpectCopyErrorBox("DrvClass.ini");
  EXPECT_FALSE(winsim::FileExists(Backup(0)));
  ExpectOld(0);
  EXPECT_EQ(winsim::CallCount("WriteFile"), 0u) << "no payload over a target without a backup";

  EXPECT_EQ(updater->DeployFiles(), 0);
  EXPECT_EQ(winsim::FileBytes(Backup(0)), Old(0));
  EXPECT_EQ(winsim::FileBytes(Target(0)), Payload(0));
}

// Whether the backup fails or the payload write is refused before it opens the
// target, the target keeps its old bytes and no backup is left behind.
TEST_F(DeployPassesTest, RowRefusedBeforeItsTargetIsWrittenLeavesItAndNoBackup) {
  struct Case {
    const char* what;
    void (*arrange)(const std::string& target);
  } cases[] = {
      {"copy fails", [](const std::string&) { winsim::FailCall("ReadFile", 3, ERROR_HANDLE_DISK_FULL); }},
      {"target held open for writing",
       [](const std::string& target) {
         winsim::HoldOpenElsewhere(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
       }},
      // Row 0 opens its target three times (existence, backup, payload) and its fresh backup once.
      {"target cannot be read", [](const std::string&) { winsim::FailCall("CreateFileA", 6, ERROR_ACCESS_DENIED); }},
      {"target held open for reading, so neither the write nor the copy back may open it",
       [](const std::string& target) { winsim::HoldOpenElsewhere(target, GENERIC_READ, FILE_SHARE_READ); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(1, true);
    c.arrange(Target(1));
    EXPECT_EQ(updater->DeployFiles(), -1);
    EXPECT_EQ(winsim::FileBytes(Target(0)), Payload(0)) << "only row 0 was written";
    ExpectOld(1);
    ExpectOld(3);
    EXPECT_FALSE(winsim::FileExists(Backup(1)));
    ExpectCopyErrorBox("DrvClass64.ini");
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(DeployPassesTest, WriteStoppedPartWayIsUndoneBeforeTheBackupGoes) {
  for (DWORD writeError : {static_cast<DWORD>(ERROR_HANDLE_DISK_FULL), 0u}) {
    SCOPED_TRACE(writeError);
    Prepare(1, true);
    winsim::StopWritePartWay(4, 7, writeError);  // row 1's payload, after its backup and row 0's two
    EXPECT_EQ(updater->DeployFiles(), -1);
    EXPECT_EQ(winsim::FileBytes(Backup(1)), Old(1));
    ExpectCopyErrorBox("DrvClass64.ini");

    updater->RollBack();
    updater->DeleteBackups();
    ExpectOld(1);
    ExpectOld(0);
    EXPECT_EQ(InstallFolder(), TargetsOnly());
  }
}

// A full disk: row 1's payload write stops part-way, its backup cannot be
// renamed back, and the copy back stops on the disk too. That backup stays,
// and the next run, failing as well, takes it over and puts it back.
TEST_F(DeployPassesTest, BackupThatCannotBeCopiedBackStaysAsTheOnlyCopy) {
  winsim::StopWritePartWay(4, 7, ERROR_HANDLE_DISK_FULL);
  winsim::FailCall("MoveFileExA", 3, ERROR_ACCESS_DENIED);
  winsim::FailCall("WriteFile", 5, ERROR_HANDLE_DISK_FULL);
  EXPECT_EQ(updater->DeployFiles(), -1);
  updater->RollBack();
  updater->DeleteBackups();
  EXPECT_EQ(winsim::FileBytes(Backup(1)), Old(1));
  ExpectOld(0);
  EXPECT_FALSE(winsim::FileExists(Backup(0)));

  NextRun();
  const int last = Row("SupVer.inf");
  winsim::PutFile(Target(last), Old(last), FILE_ATTRIBUTE_READONLY);
  EXPECT_EQ(updater->DeployFiles(), -1);
  updater->RollBack();
  updater->DeleteBackups();
  ExpectOld(0);
  ExpectOld(1);
  EXPECT_EQ(InstallFolder(), TargetsOnly());
}

TEST_F(DeployPassesTest, RollBackThatCannotRestoreARowKeepsItsBackup) {
  ASSERT_EQ(updater->DeployFiles(), 0);
  const int last = Row("SupVer.inf");
  winsim::HoldOpenElsewhere(Target(last), GENERIC_READ, FILE_SHARE_READ);
  updater->RollBack();
  updater->DeleteBackups();
  EXPECT_EQ(winsim::FileBytes(Backup(last)), Old(last));
  for (int row = 0; row < last; ++row) {
    if (Name(row) == "XVT-7Q2RN3.txt") continue;
    ExpectOld(row);
    EXPECT_FALSE(winsim::FileExists(Backup(row))) << Name(row);
  }
}

TEST_F(DeployPassesTest, PartialFileOfATargetThatWasNotThereIsRemoved) {
  const int marker = Row("XVT-7Q2RN3.txt");
  winsim::StopWritePartWay(2 * marker + 1, 4, ERROR_HANDLE_DISK_FULL);  // each row before it: backup and payload
  EXPECT_EQ(updater->DeployFiles(), -1);
  EXPECT_FALSE(winsim::FileExists(Target(marker)));
  EXPECT_FALSE(winsim::FileExists(Backup(marker)));
}

TEST_F(DeployPassesTest, FoldersThatAreNotSetFailTheFirstRow) {
  for (bool installMissing : {true, false}) {
    SCOPED_TRACE(installMissing ? "install folder" : "source folder");
    Prepare(1, true);
    char*& folder = installMissing ? updater->installDir : updater->sourceDir;
    delete[] folder;
    folder = nullptr;
    EXPECT_EQ(updater->DeployFiles(), -1);
    ExpectCopyErrorBox("DrvClass.ini");
    ExpectOld(0);
    EXPECT_FALSE(winsim::FileExists(Backup(0)));
  }
}

TEST_F(DeployPassesTest, RowWithoutANameIsSkipped) {
  updater->fileNames[1][0] = '\0';
  ASSERT_EQ(updater->DeployFiles(), 0);
  EXPECT_EQ(winsim::MoveLog().size(), 2u);
  EXPECT_EQ(winsim::CallCount("WriteFile"), 5u);
}

TEST_F(DeployPassesTest, AfterARegistryFailureEveryBackedUpRowComesBackLastFirst) {
  const int marker = Row("XVT-7Q2RN3.txt");
  ASSERT_EQ(updater->DeployFiles(), 0);
  const std::size_t mark = winsim::MoveLog().size();
  EXPECT_EQ(updater->RollBack(), 0);
  std::vector<std::pair<std::string, std::string>> restores;
  for (int row = updater->fileCount - 1; row >= 0; --row) {
    if (row != marker) restores.emplace_back(Backup(row), Target(row));
  }
  EXPECT_EQ(MovesSince(mark), restores);
  for (int row = 0; row < updater->fileCount; ++row) {
    if (row != marker) ExpectOld(row);
  }
  EXPECT_EQ(winsim::FileBytes(Target(marker)), Payload(marker)) << "a new file has nothing to go back to";
  updater->DeleteBackups();
  EXPECT_EQ(InstallFolder(), TargetsOnly());
}

// A record that cannot be trusted stops the run before anything changes and
// keeps every backup; one of this folder, spelled as Windows would equate
// it, is taken over; one of another folder is left exactly as it is.
TEST_F(DeployPassesTest, ARecordLeftBeforeIsTrustedOnlyWhenItIsReadWhole) {
  const char key[] = "SOFTWARE\\ODRIX\\Carvella Maker Updater";
  const std::string folder = kInstall;
  // Other spellings of the folder: its 8.3 names and a mount point of its drive.
  const auto spellings = [] {
    winsim::GiveShortName("D:\\Program Files", "PROGRA~1");
    winsim::GiveShortName("D:\\Program Files\\ODRIX\\Carvella Maker", "CARVEL~1");
    winsim::MakeJunction("C:\\Mnt\\D", "D:\\");
  };
  struct Case {
    const char* what;
    DWORD type;
    std::string text;
    int deployed;
    bool takenOver = false;
    void (*arrange)() = [] {};
  } cases[] = {
      {"not text", REG_BINARY, folder + "|DrvClass.ini:backup", -1},
      {"an unknown file", REG_SZ, folder + "|DrvClass.ini:backup|Other.ini:backup", -1},
      {"an unknown state", REG_SZ, folder + "|DrvClass.ini:kept", -1},
      {"a name cut short", REG_SZ, folder + "|DrvClass", -1},
      {"another folder", REG_SZ, "D:\\Elsewhere|DrvClass.ini:backup", 0},
      {"a folder cut short", REG_SZ, folder.substr(0, 8), 0},
      {"this folder with a trailing backslash", REG_SZ, folder + "\\|DrvClass.ini:backup", 0, true},
      {"this folder in other letter case", REG_SZ, "d:\\program files\\odrix\\CARVELLA MAKER|DrvClass.ini:backup", 0,
       true},
      {"this folder with a doubled separator", REG_SZ, "D:\\Program Files\\ODRIX\\\\Carvella Maker|DrvClass.ini:backup",
       0, true},
      {"this folder by its 8.3 names", REG_SZ, "D:\\PROGRA~1\\ODRIX\\CARVEL~1|DrvClass.ini:backup", 0, true, spellings},
      {"this folder through a mount point", REG_SZ, "C:\\Mnt\\D\\Program Files\\ODRIX\\Carvella Maker|DrvClass.ini:backup",
       0, true, spellings},
      {"8.3 names on FAT, which keeps no stable index: the text decides", REG_SZ,
       "D:\\PROGRA~1\\ODRIX\\CARVEL~1|DrvClass.ini:backup", 0, false,
       [] { winsim::GiveShortName("D:\\Program Files", "PROGRA~1"), winsim::SetFileSystem('D', "FAT32"); }},
      {"a mount point where kernel32 cannot tell volumes: the text decides", REG_SZ,
       "C:\\Mnt\\D\\Program Files\\ODRIX\\Carvella Maker|DrvClass.ini:backup", 0, false,
       [] { winsim::MakeJunction("C:\\Mnt\\D", "D:\\"), winsim::RemoveExport("kernel32.dll", "GetVolumePathNameA"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Prepare(1, true);
    c.arrange();
    winsim::PutFile(Backup(0), "backup that may hold the old content");
    winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "Update in progress", c.type, c.text);
    EXPECT_EQ(updater->DeployFiles(), c.deployed);
    if (c.deployed != 0) {
      ExpectCopyErrorBox("DrvClass.ini");
      EXPECT_EQ(winsim::CallCount("WriteFile"), 0u);
      updater->RollBack();
      updater->DeleteBackups();
      EXPECT_EQ(winsim::FileBytes(Backup(0)), "backup that may hold the old content");
      winsim::RegistryValue record;
      EXPECT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, key, "Update in progress", &record));
    } else if (c.takenOver) {
      EXPECT_EQ(winsim::FileBytes(Backup(0)), "backup that may hold the old content");
    } else {
      EXPECT_EQ(winsim::FileBytes(Backup(0)), Old(0)) << "a backup of this folder, not taken over, is stale";
      updater->DeleteBackups();
      winsim::RegistryValue record;
      ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, key, "Update in progress", &record));
      EXPECT_EQ(record.bytes, c.text);
    }
  }

  // Two folders whose names differ only in a trail byte that ASCII case
  // folding would equate: "D:\ア" (83 41) and "D:\ヂ" (83 61).
  Prepare(1, true);
  winsim::SetAnsiCodePage(932);
  const std::string other = std::string("D:\\\x83\x41") + "|DrvClass.ini:backup";
  winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "Update in progress", REG_SZ, other);
  delete[] updater->installDir;
  updater->installDir = NewFolder("D:\\\x83\x61");
  const std::string katakanaDi = "D:\\\xE3\x83\x82";  // the same in UTF-8, as the simulator's helpers take it
  winsim::PutFile(katakanaDi + "\\DrvClass.ini", Old(0));
  winsim::PutFile(katakanaDi + "\\DrvClass.ini.bk0", "a stale backup");
  EXPECT_EQ(updater->DeployFiles(), 0);
  EXPECT_EQ(winsim::FileBytes(katakanaDi + "\\DrvClass.ini.bk0"), Old(0));
  updater->DeleteBackups();
  winsim::RegistryValue record;
  ASSERT_TRUE(winsim::GetRegistryValue(HKEY_LOCAL_MACHINE, key, "Update in progress", &record));
  EXPECT_EQ(record.bytes, other);

  // In code page 932 the second byte of a character may be the separator's.
  const std::string japanese = "D:\\\x83\x7C\x81\x5B\x83\x5E";
  Prepare(1, true);
  winsim::SetAnsiCodePage(932);
  delete[] updater->installDir;
  updater->installDir = NewFolder(japanese.c_str());
  const std::string japaneseUtf8 = "D:\\\xE3\x83\x9D\xE3\x83\xBC\xE3\x82\xBF";
  winsim::PutFile(japaneseUtf8 + "\\DrvClass.ini", "payload cut short");
  winsim::PutFile(japaneseUtf8 + "\\DrvClass.ini.bk0", Old(0));
  winsim::PutFile(japaneseUtf8 + "\\DrvClass64.ini", Old(1), FILE_ATTRIBUTE_READONLY);
  winsim::SetRegistryValue(HKEY_LOCAL_MACHINE, key, "Update in progress", REG_SZ, japanese + "|DrvClass.ini:backup");
  EXPECT_EQ(updater->DeployFiles(), -1);
  updater->RollBack();
  EXPECT_EQ(winsim::FileBytes(japaneseUtf8 + "\\DrvClass.ini"), Old(0));
}

TEST_F(DeployPassesTest, DeleteBackupsRemovesEveryBackupOfTheTable) {
  for (int row = 0; row < updater->fileCount; ++row) {
    winsim::PutFile(Backup(row), "backup", row % 2 == 0 ? FILE_ATTRIBUTE_READONLY : 0);
  }
  EXPECT_EQ(updater->DeleteBackups(), 0);
  EXPECT_EQ(InstallFolder(), TargetsOnly());
  EXPECT_TRUE(winsim::MessageBoxes().empty());

  // One held open by a process that shares its deletion leaves its name all
  // the same, for a later run to take again at once; one held without that
  // stays; the others still go.
  for (int row = 0; row < updater->fileCount; ++row) winsim::PutFile(Backup(row), "backup");
  winsim::HoldOpenElsewhere(Backup(0), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  winsim::HoldOpenElsewhere(Backup(1), GENERIC_READ, FILE_SHARE_READ);
  updater->DeleteBackups();
  for (int row = 0; row < updater->fileCount; ++row) EXPECT_EQ(winsim::FileExists(Backup(row)), row == 1) << row;
}

// Whatever single call fails during the deployment, the undo of the run leaves
// every file either updated or as it was, never cut short, and no backup behind.
TEST_F(DeployPassesTest, NoSingleFaultDuringDeploymentLosesAFile) {
  struct Fault {
    const char* function;  // nullptr: a write stopped part-way; "new": an allocation
    DWORD error;
  } faults[] = {
      {"CreateFileA", ERROR_ACCESS_DENIED},     {"WriteFile", ERROR_HANDLE_DISK_FULL},
      {"ReadFile", ERROR_HANDLE_DISK_FULL},     {"GetFileAttributesA", ERROR_ACCESS_DENIED},
      {"MoveFileExA", ERROR_ACCESS_DENIED},     {"FlushFileBuffers", ERROR_HANDLE_DISK_FULL},
      {"SetEndOfFile", ERROR_HANDLE_DISK_FULL}, {"RegSetValueExA", ERROR_ACCESS_DENIED},
      {"FindResourceW", ERROR_NOT_ENOUGH_MEMORY}, {"SizeofResource", ERROR_RESOURCE_DATA_NOT_FOUND},
      {"LoadResource", ERROR_NOT_ENOUGH_MEMORY}, {"LockResource", ERROR_INVALID_HANDLE},
      {nullptr, ERROR_HANDLE_DISK_FULL},        {"new", 0},
  };
  const int marker = Row("XVT-7Q2RN3.txt");
  int failedRuns = 0;
  for (const Fault& fault : faults) {
    const std::string name = fault.function == nullptr ? "part-way write" : fault.function;
    Prepare(1, true);
    const unsigned allocations = winsim::AllocationCount();
    ASSERT_EQ(updater->DeployFiles(), 0);
    const unsigned calls = fault.function == nullptr          ? winsim::CallCount("WriteFile")
                           : name == "new"                    ? winsim::AllocationCount() - allocations
                                                              : winsim::CallCount(fault.function);
    ASSERT_GT(calls, 0u) << name;
    for (unsigned nth = 1; nth <= calls; ++nth) {
      SCOPED_TRACE(testing::Message() << name << " #" << nth);
      Prepare(1, true);
      if (fault.function == nullptr) {
        winsim::StopWritePartWay(nth, 3, fault.error);
      } else if (name == "new") {
        winsim::FailAllocation(winsim::AllocationCount() + nth);
      } else {
        winsim::FailCall(fault.function, nth, fault.error);
      }
      const bool deployed = updater->DeployFiles() == 0;
      if (!deployed) {
        ++failedRuns;
        updater->RollBack();
      }
      updater->DeleteBackups();
      for (int row = 0; row < updater->fileCount; ++row) {
        if (row == marker) {
          if (deployed || winsim::FileExists(Target(row))) {
            EXPECT_EQ(winsim::FileBytes(Target(row)), Payload(row));
          }
        } else if (deployed) {
          EXPECT_EQ(winsim::FileBytes(Target(row)), Payload(row)) << Name(row);
        } else {
          ExpectOld(row);
        }
      }
      EXPECT_EQ(InstallFolder(), TargetsOnly());
      EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
      EXPECT_EQ(winsim::MessageBoxes().size(), deployed ? 0u : 1u);
    }
  }
  EXPECT_GT(failedRuns, 20) << "the sweep must reach the failure paths";
}

}  // namespace
