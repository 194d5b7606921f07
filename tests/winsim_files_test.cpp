// The simulated files and resources must behave as Windows documents, or the
// deployment tests prove nothing.
#include <cstdio>
#include <cstring>
#include <string>

#include "payload/payload_ids.h"
#include "tests/machine_test.h"
#include "winsim/code_pages.h"
#include "winsim/files.h"
#include "winsim/registry.h"
#include "winsim/resources.h"

namespace {

const char kFile[] = "D:\\Apps\\Data.ini";

class WinsimFilesTest : public MachineTest {
 protected:
  // Opens and closes again; answers the last error the open left (0, or
  // ERROR_ALREADY_EXISTS for a file that was replaced).
  static DWORD OpenError(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags = 0) {
    SetLastError(0xdeadbeef);
    HANDLE file = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    return error;
  }

  // Writes a file anew through a fresh handle; answers 0 or the last error.
  static DWORD Replace(const char* path, const char* bytes) {
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError();
    DWORD written = 0;
    const BOOL wrote = WriteFile(file, bytes, static_cast<DWORD>(std::strlen(bytes)), &written, nullptr);
    const DWORD error = wrote ? 0 : GetLastError();
    CloseHandle(file);
    return error;
  }

  static DWORD Copy(const char* source, const char* destination) {
    return CopyFileExA(source, destination, nullptr, nullptr, nullptr, 0) ? 0 : GetLastError();
  }

  static DWORD Delete(const char* path) { return DeleteFileA(path) ? 0 : GetLastError(); }

  // What GetFileInformationByHandle tells of the path opened with these flags;
  // all zeros when it cannot be opened or asked.
  static BY_HANDLE_FILE_INFORMATION Information(const char* path, DWORD flags = 0) {
    BY_HANDLE_FILE_INFORMATION information = {};
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) return information;
    if (!GetFileInformationByHandle(file, &information)) information = BY_HANDLE_FILE_INFORMATION();
    CloseHandle(file);
    return information;
  }
};

// A test arranges a folder in UTF-8; a narrow call names it in the ANSI code
// page, and reaches it, as a file's folder and as a registry key, when Windows
// takes the two for one name: backslash runs and case aside, in any script.
TEST_F(WinsimFilesTest, PathsIgnoreCaseAndBackslashRuns) {
  const struct {
    UINT codePage;
    const char* arranged;  // UTF-8
    const char* narrow;    // in the code page
    bool reached;
  } rows[] = {
      {1252, "Apps", "APPS", true},
      {1252, "\xC3\x84pfel", "\xE4PFEL", true},        // "Äpfel", "äPFEL"
      {932, "\xE8\xA1\xA8", "\x95\x5C", true},         // 表: its trail byte is no separator
      {932, "\xE3\x82\xA2", "\x83\x61", false},        // ア is not ヂ, whose trail byte is an 'a'
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.narrow);
    winsim::ResetMachine();
    winsim::SetAnsiCodePage(row.codePage);
    winsim::PutFile(std::string("D:\\") + row.arranged + "\\Data.ini", "x");
    winsim::SetRegistryKey(HKEY_LOCAL_MACHINE, std::string("SOFTWARE\\") + row.arranged);
    const std::string file = std::string("d:\\") + row.narrow + "\\\\DATA.ini";
    EXPECT_EQ(OpenError(file.c_str(), GENERIC_READ, 0, OPEN_EXISTING), row.reached ? 0u : ERROR_PATH_NOT_FOUND);
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExA(HKEY_LOCAL_MACHINE, (std::string("software\\") + row.narrow).c_str(), 0, KEY_READ, &key),
              row.reached ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND);
    RegCloseKey(key);
  }
  EXPECT_EQ(winsim::FilesIn("D:\\\xE3\x82\xA2"), std::vector<std::string>{"Data.ini"});
}

TEST_F(WinsimFilesTest, CreateFileFollowsDispositionAttributesAndSharing) {
  struct Case {
    const char* what;
    DWORD attributes;  // of the existing file; INVALID_FILE_ATTRIBUTES: none there
    DWORD heldAccess;  // by another process; 0: nobody
    DWORD heldShare;
    const char* path;
    DWORD access;
    DWORD share;
    DWORD disposition;
    DWORD flags;
    DWORD error;
    const char* bytesAfter;
    DWORD attributesAfter;
  } cases[] = {
      {"folder", INVALID_FILE_ATTRIBUTES, 0, 0, "D:\\Apps", GENERIC_READ, 0, OPEN_EXISTING, 0, ERROR_ACCESS_DENIED,
       "", INVALID_FILE_ATTRIBUTES},
      {"folder with backup semantics", INVALID_FILE_ATTRIBUTES, 0, 0, "D:\\Apps", GENERIC_READ, 0, OPEN_EXISTING,
       FILE_FLAG_BACKUP_SEMANTICS, 0, "", INVALID_FILE_ATTRIBUTES},
      {"missing folder", INVALID_FILE_ATTRIBUTES, 0, 0, "D:\\None\\a.ini", GENERIC_WRITE, 0, CREATE_ALWAYS, 0,
       ERROR_PATH_NOT_FOUND, "", INVALID_FILE_ATTRIBUTES},
      {"missing file", INVALID_FILE_ATTRIBUTES, 0, 0, kFile, GENERIC_READ, 0, OPEN_EXISTING, 0, ERROR_FILE_NOT_FOUND,
       "", INVALID_FILE_ATTRIBUTES},
      {"create new over a file", 0, 0, 0, kFile, GENERIC_WRITE, 0, CREATE_NEW, 0, ERROR_FILE_EXISTS, "old", 0},
      {"write a read-only file", FILE_ATTRIBUTE_READONLY, 0, 0, kFile, GENERIC_WRITE, 0, OPEN_EXISTING, 0,
       ERROR_ACCESS_DENIED, "old", FILE_ATTRIBUTE_READONLY},
      {"read a read-only file", FILE_ATTRIBUTE_READONLY, 0, 0, kFile, GENERIC_READ, 0, OPEN_EXISTING, 0, 0, "old",
       FILE_ATTRIBUTE_READONLY},
      {"replace a read-only file", FILE_ATTRIBUTE_READONLY, 0, 0, kFile, GENERIC_WRITE, 0, CREATE_ALWAYS,
       FILE_ATTRIBUTE_READONLY, ERROR_ACCESS_DENIED, "old", FILE_ATTRIBUTE_READONLY},
      {"replace a hidden file as normal", FILE_ATTRIBUTE_HIDDEN, 0, 0, kFile, GENERIC_WRITE, 0, CREATE_ALWAYS,
       FILE_ATTRIBUTE_NORMAL, ERROR_ACCESS_DENIED, "old", FILE_ATTRIBUTE_HIDDEN},
      {"replace a hidden file as hidden", FILE_ATTRIBUTE_HIDDEN, 0, 0, kFile, GENERIC_WRITE, 0, CREATE_ALWAYS,
       FILE_ATTRIBUTE_HIDDEN, ERROR_ALREADY_EXISTS, "", FILE_ATTRIBUTE_HIDDEN},
      {"replace a hidden system file as hidden only", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0, 0, kFile,
       GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_HIDDEN, ERROR_ACCESS_DENIED, "old",
       FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {"replace a hidden system file repeating both", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM, 0, 0, kFile,
       GENERIC_WRITE, 0, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM,
       ERROR_ALREADY_EXISTS, "", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM},
      {"replace truncates and takes the attributes", FILE_ATTRIBUTE_ARCHIVE, 0, 0, kFile, GENERIC_WRITE, 0,
       CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, ERROR_ALREADY_EXISTS, "", 0},
      {"new file gets the attributes given", INVALID_FILE_ATTRIBUTES, 0, 0, kFile, GENERIC_WRITE, 0, CREATE_ALWAYS,
       FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE, 0, "", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE},
      {"write while another reads sharing reads only", 0, GENERIC_READ, FILE_SHARE_READ, kFile, GENERIC_WRITE,
       FILE_SHARE_READ, OPEN_EXISTING, 0, ERROR_SHARING_VIOLATION, "old", 0},
      {"replace while another reads", 0, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, kFile, GENERIC_WRITE, 0,
       CREATE_ALWAYS, 0, ERROR_SHARING_VIOLATION, "old", 0},
      {"read while another reads", 0, GENERIC_READ, FILE_SHARE_READ, kFile, GENERIC_READ, FILE_SHARE_READ,
       OPEN_EXISTING, 0, 0, "old", 0},
      {"read while another writes", 0, GENERIC_WRITE, FILE_SHARE_READ, kFile, GENERIC_READ, FILE_SHARE_READ,
       OPEN_EXISTING, 0, ERROR_SHARING_VIOLATION, "old", 0},
      {"read sharing writes while another writes", 0, GENERIC_WRITE, FILE_SHARE_READ, kFile, GENERIC_READ,
       FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING, 0, 0, "old", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::MakeFolder("D:\\Apps");
    if (c.attributes != INVALID_FILE_ATTRIBUTES) winsim::PutFile(kFile, "old", c.attributes);
    if (c.heldAccess != 0) {
      ASSERT_TRUE(winsim::HoldOpenElsewhere(kFile, c.heldAccess, c.heldShare));
    }
    EXPECT_EQ(OpenError(c.path, c.access, c.share, c.disposition, c.flags), c.error);
    EXPECT_EQ(winsim::FileBytes(kFile), c.bytesAfter);
    EXPECT_EQ(winsim::FileAttributes(kFile), c.attributesAfter);
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

TEST_F(WinsimFilesTest, ClosingAHandleLiftsItsShareMode) {
  winsim::PutFile(kFile, "old");
  HANDLE reader = CreateFileA(kFile, GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  ASSERT_NE(reader, INVALID_HANDLE_VALUE);
  EXPECT_EQ(winsim::OpenFileHandleCount(), 1u);
  EXPECT_EQ(OpenError(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_FALSE(DeleteFileA(kFile));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));
  EXPECT_TRUE(CloseHandle(reader));
  EXPECT_EQ(OpenError(kFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING), 0u);
  EXPECT_FALSE(CloseHandle(reader));
}

TEST_F(WinsimFilesTest, CopyCarriesAttributesAndRefusesWhatWindowsRefuses) {
  const char copy[] = "D:\\Apps\\Data.ini.bk0";
  struct Case {
    const char* what;
    DWORD destinationAttributes;  // INVALID_FILE_ATTRIBUTES: no destination
    DWORD heldSourceAccess;
    DWORD heldSourceShare;
    const char* source;
    const char* destination;
    DWORD error;
  } cases[] = {
      {"plain copy", INVALID_FILE_ATTRIBUTES, 0, 0, kFile, copy, 0},
      {"over a writable file", FILE_ATTRIBUTE_ARCHIVE, 0, 0, kFile, copy, 0},
      {"over a read-only file", FILE_ATTRIBUTE_READONLY, 0, 0, kFile, copy, ERROR_ACCESS_DENIED},
      {"over a hidden file", FILE_ATTRIBUTE_HIDDEN, 0, 0, kFile, copy, ERROR_ACCESS_DENIED},
      {"missing source", INVALID_FILE_ATTRIBUTES, 0, 0, "D:\\Apps\\None.ini", copy, ERROR_FILE_NOT_FOUND},
      {"into a missing folder", INVALID_FILE_ATTRIBUTES, 0, 0, kFile, "D:\\None\\x", ERROR_PATH_NOT_FOUND},
      {"source written elsewhere without sharing reads", INVALID_FILE_ATTRIBUTES, GENERIC_WRITE, FILE_SHARE_WRITE,
       kFile, copy, ERROR_SHARING_VIOLATION},
      {"source written elsewhere sharing reads", INVALID_FILE_ATTRIBUTES, GENERIC_WRITE, FILE_SHARE_READ, kFile, copy,
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::PutFile(kFile, "source", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM);
    if (c.destinationAttributes != INVALID_FILE_ATTRIBUTES) winsim::PutFile(copy, "kept", c.destinationAttributes);
    if (c.heldSourceAccess != 0) winsim::HoldOpenElsewhere(kFile, c.heldSourceAccess, c.heldSourceShare);
    BOOL cancel = FALSE;
    SetLastError(0xdeadbeef);
    const BOOL copied = CopyFileExA(c.source, c.destination, nullptr, nullptr, &cancel, 0);
    EXPECT_EQ(copied != FALSE, c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(GetLastError(), c.error);
      if (c.destinationAttributes != INVALID_FILE_ATTRIBUTES) {
        EXPECT_EQ(winsim::FileBytes(copy), "kept");
      }
    } else {
      EXPECT_EQ(winsim::FileBytes(copy), "source");
      EXPECT_EQ(winsim::FileAttributes(copy), static_cast<DWORD>(FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_SYSTEM));
    }
    EXPECT_EQ(winsim::FileBytes(kFile), "source");
  }
}

TEST_F(WinsimFilesTest, DeleteAndAttributes) {
  // A name whose delete is pending is still there, and refuses to be opened,
  // replaced or renamed until its last handle closes.
  static const char other[] = "D:\\Apps\\Other.ini";
  DWORD (*const refusedWhilePending[])() = {
      [] { return OpenError(kFile, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, OPEN_EXISTING); },
      [] { return Replace(kFile, "new"); },
      [] { return Copy(other, kFile); },
      [] { return MoveFileExA(other, kFile, MOVEFILE_REPLACE_EXISTING) ? 0 : GetLastError(); },
      [] { return MoveFileExA(kFile, "D:\\Apps\\Moved.ini", 0) ? 0 : GetLastError(); },
  };
  struct Case {
    const char* what;
    DWORD attributes;
    DWORD heldShare;  // another process reads it with this share mode; 0xFFFFFFFF: nobody
    DWORD error;
    void (*thenPendingUntil)();  // nullptr: the name goes at once (or stays, on an error)
    bool thereAfter;
  } cases[] = {
      {"writable", 0, 0xFFFFFFFF, 0, nullptr, false},
      {"read-only", FILE_ATTRIBUTE_READONLY, 0xFFFFFFFF, ERROR_ACCESS_DENIED, nullptr, true},
      {"open without delete sharing", 0, FILE_SHARE_READ | FILE_SHARE_WRITE, ERROR_SHARING_VIOLATION, nullptr, true},
      {"open with delete sharing until a restart", FILE_ATTRIBUTE_HIDDEN, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
       winsim::StartWindowsAgain, false},
      {"open with delete sharing until a power cut", 0, FILE_SHARE_READ | FILE_SHARE_DELETE, 0,
       [] { winsim::CutPower(); }, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::PutFile(kFile, "x", c.attributes);
    winsim::PutFile(other, "other");
    if (c.heldShare != 0xFFFFFFFF) winsim::HoldOpenElsewhere(kFile, GENERIC_READ, c.heldShare);
    EXPECT_EQ(GetFileAttributesA(kFile), c.attributes == 0 ? static_cast<DWORD>(FILE_ATTRIBUTE_NORMAL) : c.attributes);
    SetLastError(0xdeadbeef);
    EXPECT_EQ(DeleteFileA(kFile) != FALSE, c.error == 0);
    if (c.error != 0) {
      EXPECT_EQ(GetLastError(), c.error);
    }
    if (c.thenPendingUntil != nullptr) {
      for (DWORD (*call)() : refusedWhilePending) EXPECT_EQ(call(), static_cast<DWORD>(ERROR_ACCESS_DENIED));
      EXPECT_NE(GetFileAttributesA(kFile), INVALID_FILE_ATTRIBUTES);
      c.thenPendingUntil();
    }
    EXPECT_EQ(winsim::FileExists(kFile), c.thereAfter);
    EXPECT_EQ(winsim::FileBytes(other), "other");
  }
  EXPECT_FALSE(DeleteFileA("D:\\Apps\\None.ini"));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
  EXPECT_EQ(GetFileAttributesA("D:\\Apps\\None.ini"), INVALID_FILE_ATTRIBUTES);
  EXPECT_EQ(GetFileAttributesA("D:\\Apps\\"), static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
  winsim::PutFile(kFile, "x", FILE_ATTRIBUTE_HIDDEN);
  EXPECT_TRUE(SetFileAttributesA(kFile, FILE_ATTRIBUTE_NORMAL));
  EXPECT_EQ(winsim::FileAttributes(kFile), 0u);
}

// Every row starts from Data.ini with a second name Hard.ini, Link.ini a
// symbolic link to a file elsewhere, Dangling.ini one to a missing file,
// Loop.ini one to itself, and Junction a junction to the folder elsewhere.
TEST_F(WinsimFilesTest, LinksLeadWhereWindowsLeadsThem) {
  static const char hard[] = "D:\\Apps\\Hard.ini";
  static const char link[] = "D:\\Apps\\Link.ini";
  static const char dangling[] = "D:\\Apps\\Dangling.ini";
  static const char other[] = "D:\\Apps\\Other.ini";
  static const char target[] = "C:\\Elsewhere\\Target.ini";
  static const char missing[] = "C:\\Elsewhere\\Missing.ini";
  // Each call answers what it was asked for, or its last error when it fails.
  struct Case {
    const char* what;
    DWORD (*call)();
    DWORD answer;
    const char* checked;  // afterwards this file holds these bytes; nullptr: it is gone
    const char* bytes;
  } cases[] = {
      {"a symbolic link has attributes of its own", [] { return GetFileAttributesA(link); },
       FILE_ATTRIBUTE_REPARSE_POINT, target, "target"},
      {"a junction is a folder and a reparse point", [] { return GetFileAttributesA("D:\\Apps\\Junction"); },
       FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT, target, "target"},
      {"a symbolic link opened itself is a reparse point",
       [] { return Information(link, FILE_FLAG_OPEN_REPARSE_POINT).dwFileAttributes; }, FILE_ATTRIBUTE_REPARSE_POINT,
       link, ""},
      {"a symbolic link opened itself has one name",
       [] { return Information(link, FILE_FLAG_OPEN_REPARSE_POINT).nNumberOfLinks; }, 1, link, ""},
      {"a file with a second name has two", [] { return Information(hard).nNumberOfLinks; }, 2, kFile, "data"},
      {"writing a symbolic link writes its target", [] { return Replace(link, "new"); }, 0, target, "new"},
      {"writing one name of a file writes the other", [] { return Replace(hard, "new"); }, 0, kFile, "new"},
      {"a path through a junction reaches its target",
       [] { return Replace("D:\\Apps\\Junction\\Target.ini", "new"); }, 0, target, "new"},
      {"copying onto a second name writes the file", [] { return Copy(other, hard); }, 0, kFile, "other"},
      {"copying onto a symbolic link writes its target", [] { return Copy(other, link); }, 0, target, "other"},
      {"copying a symbolic link copies its target", [] { return Copy(link, other); }, 0, other, "target"},
      {"setting a symbolic link's attributes sets its target's",
       [] { return SetFileAttributesA(link, FILE_ATTRIBUTE_HIDDEN) ? winsim::FileAttributes(target) : 0; },
       FILE_ATTRIBUTE_HIDDEN, target, "target"},
      {"deleting a symbolic link removes the link", [] { return Delete(link); }, 0, link, nullptr},
      {"deleting a symbolic link keeps its target", [] { return Delete(link); }, 0, target, "target"},
      {"deleting one name of a file keeps the other", [] { return Delete(hard); }, 0, kFile, "data"},
      {"a dangling link opens nothing", [] { return OpenError(dangling, GENERIC_READ, 0, OPEN_EXISTING); },
       ERROR_FILE_NOT_FOUND, missing, nullptr},
      {"writing a dangling link creates its target", [] { return Replace(dangling, "new"); }, 0, missing, "new"},
      {"a link to itself opens nothing", [] { return OpenError("D:\\Apps\\Loop.ini", GENERIC_READ, 0, OPEN_EXISTING); },
       ERROR_CANT_RESOLVE_FILENAME, target, "target"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    winsim::ResetMachine();
    winsim::PutFile(kFile, "data");
    winsim::MakeHardLink(kFile, hard);
    winsim::PutFile(other, "other");
    winsim::PutFile(target, "target");
    winsim::MakeSymbolicLink(link, target);
    winsim::MakeSymbolicLink(dangling, missing);
    winsim::MakeSymbolicLink("D:\\Apps\\Loop.ini", "D:\\Apps\\Loop.ini");
    winsim::MakeJunction("D:\\Apps\\Junction", "C:\\Elsewhere");
    SetLastError(0xdeadbeef);
    EXPECT_EQ(c.call(), c.answer);
    EXPECT_EQ(winsim::FileExists(c.checked), c.bytes != nullptr);
    if (c.bytes != nullptr) {
      EXPECT_EQ(winsim::FileBytes(c.checked), c.bytes);
    }
    EXPECT_EQ(winsim::OpenFileHandleCount(), 0u);
  }
}

// A write-through rename makes durable everything journaled before it; after
// that a power cut keeps the prefix of the changes it is told to, and data
// only where a flush or a write-through handle put it.
TEST_F(WinsimFilesTest, APowerCutKeepsTheDurableChangesAndAPrefixOfTheRest) {
  const struct {
    std::size_t kept;
    bool oldThere;
    std::string later;  // the bytes of the file written after the rename; "-": none
  } rows[] = {{0, true, "-"}, {1, false, "-"}, {2, false, ""}, {3, false, std::string(1, '\0')}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.kept);
    winsim::ResetMachine();
    winsim::PutFile("D:\\Apps\\Old.ini", "old");
    ASSERT_EQ(Replace("D:\\Apps\\Fresh.tmp", "fresh"), 0u);
    ASSERT_TRUE(MoveFileExA("D:\\Apps\\Fresh.tmp", "D:\\Apps\\Fresh.ini", MOVEFILE_WRITE_THROUGH));
    HANDLE flushed = CreateFileA("D:\\Apps\\Flushed.ini", GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(flushed, "kept", 4, &written, nullptr));
    ASSERT_TRUE(FlushFileBuffers(flushed));
    CloseHandle(flushed);
    ASSERT_EQ(Delete("D:\\Apps\\Old.ini"), 0u);
    ASSERT_EQ(Replace("D:\\Apps\\Later.ini", "x"), 0u);
    EXPECT_EQ(winsim::ChangesNotOnDisk(), 3u);
    winsim::CutPower(row.kept);
    EXPECT_EQ(winsim::FileBytes("D:\\Apps\\Fresh.ini"), std::string(5, '\0')) << "renamed, its data never flushed";
    EXPECT_FALSE(winsim::FileExists("D:\\Apps\\Fresh.tmp"));
    EXPECT_EQ(winsim::FileBytes("D:\\Apps\\Flushed.ini"), "kept");
    EXPECT_EQ(winsim::FileExists("D:\\Apps\\Old.ini"), row.oldThere);
    EXPECT_EQ(winsim::FileExists("D:\\Apps\\Later.ini") ? winsim::FileBytes("D:\\Apps\\Later.ini") : "-", row.later);
  }
}

// Each spelling reaches the install folder or another one: the same volume
// and file index as that folder, the volume it is on, and that volume's file system.
TEST_F(WinsimFilesTest, AFolderIsItsVolumeAndIndexHoweverItIsSpelled) {
  static const char install[] = "C:\\Program Files\\ODRIX\\Carvella Maker";
  const struct {
    const char* path;
    const char* folder;  // the folder it is
    bool same;           // false: it is another folder
    const char* volume;
    const char* fileSystem;
  } rows[] = {
      {"C:\\Program Files\\ODRIX\\\\Carvella Maker\\", install, true, "C:\\", "NTFS"},
      {"c:\\PROGRAM FILES\\odrix\\carvella maker", install, true, "c:\\", "NTFS"},
      {"C:\\PROGRA~1\\ODRIX\\CARVEL~1", install, true, "C:\\", "NTFS"},
      {"C:\\Program Files\\ODRIX", install, false, "C:\\", "NTFS"},
      {"C:\\Mnt\\D\\Apps", "D:\\Apps", true, "C:\\Mnt\\D\\", "FAT32"},
      {"C:\\Link\\Apps", "D:\\Data\\Apps", true, "D:\\", "FAT32"},
      {"D:\\", "C:\\", false, "D:\\", "FAT32"},
  };
  winsim::MakeFolder(install);
  winsim::GiveShortName("C:\\Program Files", "PROGRA~1");
  winsim::GiveShortName(install, "CARVEL~1");
  winsim::MakeFolder("D:\\Apps");
  winsim::MakeFolder("D:\\Data\\Apps");
  winsim::MakeJunction("C:\\Mnt\\D", "D:\\");
  winsim::MakeJunction("C:\\Link", "D:\\Data");
  winsim::SetFileSystem('D', "FAT32");
  for (const auto& row : rows) {
    SCOPED_TRACE(row.path);
    const BY_HANDLE_FILE_INFORMATION reached = Information(row.path, FILE_FLAG_BACKUP_SEMANTICS);
    const BY_HANDLE_FILE_INFORMATION folder = Information(row.folder, FILE_FLAG_BACKUP_SEMANTICS);
    ASSERT_NE(reached.nFileIndexLow, 0u);
    EXPECT_EQ(reached.dwVolumeSerialNumber == folder.dwVolumeSerialNumber &&
                  reached.nFileIndexHigh == folder.nFileIndexHigh && reached.nFileIndexLow == folder.nFileIndexLow,
              row.same);
    char volume[MAX_PATH] = {};
    ASSERT_TRUE(GetVolumePathNameA(row.path, volume, MAX_PATH));
    EXPECT_STREQ(volume, row.volume);
    DWORD serial = 0;
    char fileSystem[MAX_PATH] = {};
    ASSERT_TRUE(GetVolumeInformationA(volume, nullptr, 0, &serial, nullptr, nullptr, fileSystem, MAX_PATH));
    EXPECT_EQ(serial, reached.dwVolumeSerialNumber);
    EXPECT_STREQ(fileSystem, row.fileSystem);
  }
  EXPECT_FALSE(GetVolumeInformationA("C:", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME));
  EXPECT_FALSE(GetVolumeInformationA("C:\\Program Files\\", nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0));
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_DIR_NOT_ROOT));
}

TEST_F(WinsimFilesTest, PayloadResourcesAreThePayloadFiles) {
  const struct {
    int id;
    const char* file;
  } payload[] = {{PAYLOAD_ID_CLASS0_MARKER, PAYLOAD_FILE_CLASS0_MARKER},
                 {PAYLOAD_ID_CLASS0_DRVCLASS, PAYLOAD_FILE_CLASS0_DRVCLASS},
                 {PAYLOAD_ID_CLASS0_DRVCLASS64, PAYLOAD_FILE_CLASS0_DRVCLASS64},
                 {PAYLOAD_ID_CLASS0_SUPVER, PAYLOAD_FILE_CLASS0_SUPVER},
                 {PAYLOAD_ID_CLASS1_MARKER, PAYLOAD_FILE_CLASS1_MARKER},
                 {PAYLOAD_ID_CLASS1_DRVCLASS, PAYLOAD_FILE_CLASS1_DRVCLASS},
                 {PAYLOAD_ID_CLASS1_DRVCLASS64, PAYLOAD_FILE_CLASS1_DRVCLASS64},
                 {PAYLOAD_ID_CLASS1_SUPVER, PAYLOAD_FILE_CLASS1_SUPVER}};
  for (const auto& p : payload) {
    SCOPED_TRACE(p.id);
    std::string expected;
    std::FILE* file = std::fopen((std::string(PAYLOAD_DIR) + "/" + p.file).c_str(), "rb");
    ASSERT_NE(file, nullptr);
    for (int c = std::fgetc(file); c != EOF; c = std::fgetc(file)) expected += static_cast<char>(c);
    std::fclose(file);
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(p.id), RT_RCDATA);
    ASSERT_NE(resource, nullptr);
    ASSERT_EQ(SizeofResource(nullptr, resource), expected.size());
    const char* bytes = static_cast<const char*>(LockResource(LoadResource(nullptr, resource)));
    EXPECT_EQ(std::string(bytes, expected.size()), expected);
  }
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(204), RT_RCDATA), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_NAME_NOT_FOUND));
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(PAYLOAD_ID_CLASS0_MARKER), MAKEINTRESOURCEW(6)), nullptr);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_RESOURCE_TYPE_NOT_FOUND));

  winsim::SetResource(PAYLOAD_ID_CLASS0_MARKER, "other");
  EXPECT_EQ(SizeofResource(nullptr, FindResourceW(nullptr, MAKEINTRESOURCEW(PAYLOAD_ID_CLASS0_MARKER), RT_RCDATA)), 5u);
  winsim::RemoveResource(PAYLOAD_ID_CLASS0_MARKER);
  EXPECT_EQ(FindResourceW(nullptr, MAKEINTRESOURCEW(PAYLOAD_ID_CLASS0_MARKER), RT_RCDATA), nullptr);
}

}  // namespace
