// The floor of the start-up benchmark: the Win32 calls of a silent update, in
// the updater's order and with its arguments, and none of its logic. What the
// updater takes beyond this program is the cost of its own code, not of the
// work any updater has to have Windows do.
//
// It knows only the benchmark's layout (e2e/benchmark): a 64-bit prefix, so
// WOW64 and the 64-bit registry view; version 9.xx installed, so the class 1
// payload and no Monitor service; no record of an unfinished update and older
// data files, so the update is not in place; no key of this start of Windows
// yet; the services stopped, so none is asked to stop and none is recorded,
// and the application not running. On it, it takes both instance mutexes
// (asking Windows its version in between, as the updater does to tell
// whether it has object namespaces), reads the version that really runs
// through ntdll for the log's Windows line, looks for the record in each of
// its places and compares the first data file with its payload as the
// updater's check of an update in place does, looks for the key of this
// start of Windows, looks for the application before any service is touched
// and again once the services are seen stopped, checks the install folder and every name it writes or removes for
// a link, backs up, writes and removes what the updater would, adds the new
// drive to both product lists, and asks for a restart, which the benchmark
// refuses as it does for the updater (wineboot disabled); anywhere else that
// restart goes ahead. It embeds the updater's payload resources and manifest
// (floor.rc). Its names and paths are copies of the updater's, kept apart
// from the product code; the benchmark checks that it leaves the machine as
// the updater does, so that a change on either side shows there. The
// updater's own reading of its paths character by character (IsDBCSLeadByte)
// is its logic, not work for Windows, and stays out; the texts it has Windows
// make for its log lines (the service pack's name, the words of the refused
// restart) are made here too, since the updater asks for them with or
// without a log.
//
// Like the updater it writes "Restart owed" into the volatile key of this
// start of Windows, made below the vendor's key, before the first data file,
// records each row before it changes it and flushes the record's hive,
// writes each backup under a fresh name, flushes it and renames it, flushes
// each product list it writes, and removes the record and then its key,
// empty by then, before the backups, each of which leaves its name by a
// rename to "<name>.del" before it is deleted. Unlike the updater it starts
// through the C runtime's start-up code.
//
//   floor.exe           exit 0 when every call answered as in the updater's run
//                       on that layout; otherwise the FloorExit of the first
//                       stage that did not, so that no figure is taken from a
//                       floor that did less
//   floor.exe /NOFLUSH  the same without the file and registry flushes, so that
//                       the benchmark can tell what they cost
#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace {

enum FloorExit {
  FLOOR_DONE = 0,
  FLOOR_MUTEX = 10,
  FLOOR_TOKEN = 11,
  FLOOR_APPLICATION_KEY = 12,
  FLOOR_IN_PLACE = 13,
  FLOOR_BOOT_RECORD = 14,
  FLOOR_PROCESSES = 15,
  FLOOR_SERVICES = 16,
  FLOOR_RESTART_OWED = 17,
  FLOOR_DEPLOY = 18,
  FLOOR_PRODUCT_LISTS = 19,
  FLOOR_BACKUPS = 20,
};

constexpr char INSTANCE_MUTEX_NAME[] = "ODRIX Carvella Maker Update";
constexpr char GLOBAL_INSTANCE_MUTEX_NAME[] = "Global\\ODRIX Carvella Maker Update (all sessions)";
#define VENDOR_KEY_PATH "SOFTWARE\\ODRIX"
constexpr char VENDOR_KEY[] = VENDOR_KEY_PATH;
constexpr char APPLICATION_KEY[] = VENDOR_KEY_PATH "\\Carvella Maker";
#define FILTER_KEY "SYSTEM\\CurrentControlSet\\Services\\NavoDrv\\Filter"
constexpr char VENDOR_KEYS[][64] = {FILTER_KEY "\\ROVE", FILTER_KEY "\\ODRIX"};
constexpr char PRODUCTS_VALUE[] = "Products";
constexpr char PRODUCT_ID[] = "XVT-7Q2RN  KR550";
constexpr int PRODUCT_ID_LEN = sizeof(PRODUCT_ID) - 1;
// 9.xx has no Monitor service: the updater does not ask for it.
constexpr char SERVICES[][40] = {"ODRIX Carvella Control Service", "ODRIX Carvella Copy Service"};
constexpr char PSAPI_FILE[] = "\\psapi.dll";
constexpr char SOURCE_SUBFOLDER[] = "\\Version\\V9xx-V1000";
constexpr char PATH_FORMAT[] = "%s\\%s";
constexpr char FRESH_FORMAT[] = "%s\\%s.tmp";
constexpr char DOOMED_FORMAT[] = "%s\\%s.del";
constexpr char RECORD_KEY[] = VENDOR_KEY_PATH "\\Carvella Maker Updater";
// The key of this start of Windows, made as its last key below the vendor's.
#define BOOT_RECORD_NAME "Carvella Maker Updater (this start of Windows)"
constexpr char BOOT_RECORD_KEY[] = VENDOR_KEY_PATH "\\" BOOT_RECORD_NAME;
constexpr char RESTART_OWED_VALUE[] = "Restart owed";
// A key of the record's hive, which the updater flushes in place of the record's own.
constexpr char RECORD_HIVE_KEY[] = "SOFTWARE";
// The first of the record's four places, which the benchmark's one record takes.
constexpr char RECORD_VALUE[] = "Update in progress";
constexpr int RECORD_PLACES = 4;
constexpr int RECORD_SIZE = 1024;
constexpr DWORD COPY_CHUNK = 64 * 1024;
constexpr REGSAM ACCESS_EXISTS = KEY_READ | KEY_SET_VALUE | KEY_CREATE_SUB_KEY;
constexpr DWORD LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG = 0x00000800;
constexpr DWORD PROCESS_IDS = 1000;
constexpr DWORD READ_SPARE_BYTES = 17;
// The updater's room for the service pack's name and for the words of a code
// in its log lines, in characters and bytes.
constexpr int SERVICE_PACK_UNITS = 128;
constexpr int SERVICE_PACK_BYTES = SERVICE_PACK_UNITS * 3;
constexpr DWORD SYSTEM_TEXT_FLAGS =
    FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS | FORMAT_MESSAGE_MAX_WIDTH_MASK;
constexpr int SYSTEM_TEXT_UNITS = 337;
constexpr int RESULT_WORDS_BYTES = 1024;

// The WOW64 file table of the class 1 payload, in deployment order. The
// marker file is absent before the update, so it has no backup.
struct Row {
  const char* name;
  const char* backupName;
  int resourceId;
  bool present;
  const char* recorded;
};
constexpr Row ROWS[] = {
    {"DrvClass.ini", "DrvClass.ini.bk0", 211, true, "|DrvClass.ini:backup"},
    {"DrvClass64.ini", "DrvClass64.ini.bk0", 212, true, "|DrvClass64.ini:backup"},
    {"XVT-7Q2RN3.txt", "XVT-7Q2RN3.txt.bk0", 210, false, "|XVT-7Q2RN3.txt:absent"},
    {"SupVer.inf", "SupVer.inf.bk0", 213, true, "|SupVer.inf:backup"},
};

// The longest name a path is built with.
constexpr int LONGEST_NAME = sizeof("XVT-7Q2RN3.txt.bk0") - 1;

bool flushes = true;

typedef BOOL(WINAPI* SetDefaultDllDirectoriesFunction)(DWORD flags);
typedef BOOL(WINAPI* IsWow64ProcessFunction)(HANDLE process, PBOOL wow64);
typedef BOOL(WINAPI* EnumProcessesFunction)(DWORD* processIds, DWORD bytes, DWORD* bytesReturned);
typedef BOOL(WINAPI* EnumProcessModulesFunction)(HANDLE process, HMODULE* modules, DWORD bytes, LPDWORD bytesNeeded);
typedef DWORD(WINAPI* GetModuleBaseNameAFunction)(HANDLE process, HMODULE module, LPSTR baseName, DWORD size);
typedef BOOL(WINAPI* ProcessIdToSessionIdFunction)(DWORD processId, DWORD* session);
typedef LSTATUS(WINAPI* RegDeleteKeyExFunction)(HKEY key, LPCSTR subKey, REGSAM view, DWORD reserved);
typedef LONG(WINAPI* RtlGetVersionFunction)(OSVERSIONINFOW* version);

template <typename Function>
Function AsFunction(FARPROC address) {
  return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(address));
}

FARPROC Export(const wchar_t* module, const char* name) {
  HMODULE loaded = GetModuleHandleW(module);
  return loaded != NULL ? GetProcAddress(loaded, name) : NULL;
}

FARPROC KernelExport(const char* name) { return Export(L"kernel32.dll", name); }

// Looked up before every open, as the updater does.
REGSAM RegistryView() { return KernelExport("IsWow64Process") != NULL ? KEY_WOW64_64KEY : 0; }

// ERROR_SUCCESS when the key opens, otherwise why not.
LONG OpenAndCloseKey(const char* path, REGSAM access) {
  HKEY key = NULL;
  const LONG opened = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, access | RegistryView(), &key);
  if (opened == ERROR_SUCCESS) RegCloseKey(key);
  return opened;
}

// The sizing read, then the data into a zero-filled buffer that the caller
// frees; NULL when either read fails.
char* ReadValue(const char* path, const char* valueName) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ | RegistryView(), &key) != ERROR_SUCCESS) return NULL;
  DWORD type = REG_NONE;
  DWORD size = 0;
  char* data = NULL;
  if (RegQueryValueExA(key, valueName, NULL, &type, NULL, &size) == ERROR_SUCCESS) {
    data = size <= MAXDWORD - READ_SPARE_BYTES ? static_cast<char*>(std::calloc(size + READ_SPARE_BYTES, 1)) : NULL;
    DWORD capacity = size + 1;
    if (data != NULL &&
        RegQueryValueExA(key, valueName, NULL, &type, reinterpret_cast<LPBYTE>(data), &capacity) != ERROR_SUCCESS) {
      std::free(data);
      data = NULL;
    }
  }
  RegCloseKey(key);
  return data;
}

bool WriteString(const char* path, const char* valueName, const char* text, DWORD length) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_WRITE | RegistryView(), &key) != ERROR_SUCCESS) return false;
  const LONG written = RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text), length);
  RegCloseKey(key);
  return written == ERROR_SUCCESS;
}

bool FlushKey(const char* path) {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE | RegistryView(), &key) != ERROR_SUCCESS) return false;
  const bool flushed = !flushes || RegFlushKey(key) == ERROR_SUCCESS;
  RegCloseKey(key);
  return flushed;
}

// The key of this start of Windows, volatile, made below the vendor's key,
// which is there; the updater makes no key above it.
bool CreateBootRecordKey() {
  HKEY parent = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, VENDOR_KEY, 0, KEY_CREATE_SUB_KEY | RegistryView(), &parent) !=
      ERROR_SUCCESS) {
    return false;
  }
  HKEY key = NULL;
  const LONG created = RegCreateKeyExA(parent, BOOT_RECORD_NAME, 0, NULL, REG_OPTION_VOLATILE,
                                       KEY_READ | RegistryView(), NULL, &key, NULL);
  if (created == ERROR_SUCCESS) RegCloseKey(key);
  RegCloseKey(parent);
  return created == ERROR_SUCCESS;
}

// The record of the rows reached so far, on the disk before the row changes.
bool Record(const char* record) {
  HKEY key = NULL;
  if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, NULL, REG_OPTION_NON_VOLATILE, KEY_READ | RegistryView(), NULL,
                      &key, NULL) != ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(key);
  return WriteString(RECORD_KEY, RECORD_VALUE, record, static_cast<DWORD>(std::strlen(record))) &&
         FlushKey(RECORD_HIVE_KEY);
}

// The record goes, then its key, which on the benchmark's layout holds
// nothing else, through the view-naming delete that the updater looks up.
bool RemoveRecord() {
  HKEY key = NULL;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, KEY_WRITE | RegistryView(), &key) != ERROR_SUCCESS) return false;
  const LONG removed = RegDeleteValueA(key, RECORD_VALUE);
  RegCloseKey(key);
  if (removed != ERROR_SUCCESS) return false;
  if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RECORD_KEY, 0, KEY_QUERY_VALUE | RegistryView(), &key) != ERROR_SUCCESS) {
    return false;
  }
  DWORD subKeys = 0;
  DWORD values = 0;
  const LONG counted =
      RegQueryInfoKeyA(key, NULL, NULL, NULL, &subKeys, NULL, NULL, &values, NULL, NULL, NULL, NULL);
  RegCloseKey(key);
  if (counted != ERROR_SUCCESS || subKeys != 0 || values != 0) return false;
  RegDeleteKeyExFunction deleteInView = AsFunction<RegDeleteKeyExFunction>(Export(L"advapi32.dll", "RegDeleteKeyExA"));
  return deleteInView != NULL && deleteInView(HKEY_LOCAL_MACHINE, RECORD_KEY, RegistryView(), 0) == ERROR_SUCCESS &&
         FlushKey(RECORD_HIVE_KEY);
}

// The install folder is there as a plain folder, as on the benchmark's layout.
bool IsPlainFolder(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

// A folder whose paths fit MAX_PATH with every name of the table.
bool TakesEveryName(const char* folder) { return static_cast<int>(std::strlen(folder)) + 1 + LONGEST_NAME < MAX_PATH; }

bool IsAdministrator() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  DWORD size = 0;
  TOKEN_GROUPS* groups = NULL;
  if (!GetTokenInformation(token, TokenGroups, NULL, 0, &size) && GetLastError() == ERROR_INSUFFICIENT_BUFFER) {
    groups = static_cast<TOKEN_GROUPS*>(LocalAlloc(LPTR, size));
  }
  const bool read = groups != NULL && GetTokenInformation(token, TokenGroups, groups, size, &size);
  CloseHandle(token);
  SID_IDENTIFIER_AUTHORITY ntAuthority = SECURITY_NT_AUTHORITY;
  PSID administrators = NULL;
  bool member = false;
  if (read && AllocateAndInitializeSid(&ntAuthority, 2, SECURITY_BUILTIN_DOMAIN_RID, DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0,
                                       0, 0, 0, &administrators)) {
    for (DWORD i = 0; i < groups->GroupCount && !member; ++i) member = EqualSid(groups->Groups[i].Sid, administrators);
    FreeSid(administrators);
  }
  if (groups != NULL) LocalFree(groups);
  return member;
}

bool ServiceStopped(const char* name) {
  SC_HANDLE manager = OpenSCManagerW(NULL, NULL, GENERIC_EXECUTE);
  if (manager == NULL) return false;
  SC_HANDLE service = OpenServiceA(manager, name, SERVICE_QUERY_STATUS);
  bool stopped = false;
  if (service != NULL) {
    LPSERVICE_STATUS status = static_cast<LPSERVICE_STATUS>(LocalAlloc(LPTR, sizeof(SERVICE_STATUS)));
    if (status != NULL) {
      stopped = QueryServiceStatus(service, status) && status->dwCurrentState == SERVICE_STOPPED;
      LocalFree(status);
    }
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return stopped;
}

// Every process's first module and its base name; the names are not compared,
// since on the benchmark's layout none is the application's.
bool WalkProcesses() {
  char path[MAX_PATH];
  const UINT folderLength = GetSystemDirectoryA(path, MAX_PATH);
  if (folderLength == 0 || folderLength + sizeof(PSAPI_FILE) > MAX_PATH) return false;
  std::memcpy(path + folderLength, PSAPI_FILE, sizeof(PSAPI_FILE));
  HMODULE psapi = LoadLibraryA(path);
  if (psapi == NULL) return false;
  EnumProcessesFunction enumProcesses = AsFunction<EnumProcessesFunction>(GetProcAddress(psapi, "EnumProcesses"));
  EnumProcessModulesFunction enumProcessModules =
      AsFunction<EnumProcessModulesFunction>(GetProcAddress(psapi, "EnumProcessModules"));
  GetModuleBaseNameAFunction getModuleBaseName =
      AsFunction<GetModuleBaseNameAFunction>(GetProcAddress(psapi, "GetModuleBaseNameA"));
  bool walked = false;
  DWORD* ids = static_cast<DWORD*>(std::malloc(PROCESS_IDS * sizeof(DWORD)));
  DWORD bytes = 0;
  // A full list would have made the updater read it again with more room.
  if (enumProcesses != NULL && enumProcessModules != NULL && getModuleBaseName != NULL && ids != NULL &&
      enumProcesses(ids, PROCESS_IDS * sizeof(DWORD), &bytes) && bytes < PROCESS_IDS * sizeof(DWORD)) {
    walked = true;
    for (DWORD i = 0; i < bytes / sizeof(DWORD); ++i) {
      HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, ids[i]);
      if (process == NULL) continue;
      HMODULE executable = NULL;
      DWORD modulesBytes = 0;
      char baseName[MAX_PATH];
      if (enumProcessModules(process, &executable, sizeof(executable), &modulesBytes)) {
        getModuleBaseName(process, executable, baseName, MAX_PATH);
      }
      CloseHandle(process);
    }
  }
  std::free(ids);
  FreeLibrary(psapi);
  return walked;
}

// ERROR_SUCCESS when the file opens for reading, otherwise why not.
DWORD OpenForReading(const char* path) {
  HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
  if (file == INVALID_HANDLE_VALUE) return GetLastError();
  CloseHandle(file);
  return ERROR_SUCCESS;
}

// The updater's link check of a name: ERROR_SUCCESS for a file that is no
// reparse point and has no other name, why not for nothing there, and
// ERROR_CANT_RESOLVE_FILENAME for a link or a name that could not be examined.
DWORD LinkCheck(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  if (attributes == INVALID_FILE_ATTRIBUTES) return GetLastError();
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return ERROR_CANT_RESOLVE_FILENAME;
  HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, NULL, OPEN_EXISTING,
                            FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, NULL);
  if (file == INVALID_HANDLE_VALUE) return ERROR_CANT_RESOLVE_FILENAME;
  BY_HANDLE_FILE_INFORMATION information = {};
  const bool plain = GetFileInformationByHandle(file, &information) && information.nNumberOfLinks == 1 &&
                     (information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
  CloseHandle(file);
  return plain ? ERROR_SUCCESS : ERROR_CANT_RESOLVE_FILENAME;
}

// A file of the table is there, or known to be absent, as on the benchmark's layout.
bool AsLaidOut(DWORD opened, bool present) { return opened == (present ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND); }

// Nothing has the name, as the updater asks before it removes or makes one.
bool IsAbsent(const char* path) {
  return GetFileAttributesA(path) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND;
}

// The name itself opened for writing, shown to be a plain file, then cut to nothing.
HANDLE OpenForRewrite(const char* path, DWORD flags) {
  HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, OPEN_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT | flags, NULL);
  if (file == INVALID_HANDLE_VALUE) return NULL;
  BY_HANDLE_FILE_INFORMATION information = {};
  if (!GetFileInformationByHandle(file, &information) || information.nNumberOfLinks != 1 || !SetEndOfFile(file)) {
    CloseHandle(file);
    return NULL;
  }
  return file;
}

bool Flush(HANDLE file) { return !flushes || FlushFileBuffers(file); }

// The payload resource's bytes, as the updater finds them for its check and its writes.
const void* FindPayload(int resourceId, DWORD* size) {
  HRSRC resource = FindResourceW(NULL, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
  if (resource == NULL) return NULL;
  SetLastError(ERROR_SUCCESS);
  *size = SizeofResource(NULL, resource);
  HGLOBAL loaded = LoadResource(NULL, resource);
  const void* bytes = loaded != NULL ? LockResource(loaded) : NULL;
  return *size != 0 ? bytes : NULL;
}

// The updater's check of an update in place up to where it stops on the
// benchmark's layout: no record in any of its places, as the record's key is
// not there, and a first data file whose size is not its payload's, so that
// its bytes are not read and no later file or list is looked at.
bool UpdateNotInPlace(const char* installDir) {
  for (int place = 0; place < RECORD_PLACES; ++place) {
    if (OpenAndCloseKey(RECORD_KEY, KEY_READ) != ERROR_FILE_NOT_FOUND) return false;
  }
  DWORD size = 0;
  if (FindPayload(ROWS[0].resourceId, &size) == NULL) return false;
  char path[MAX_PATH];
  wsprintfA(path, PATH_FORMAT, installDir, ROWS[0].name);
  HANDLE file =
      CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (file == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information = {};
  const bool otherSize = GetFileInformationByHandle(file, &information) &&
                         (information.nFileSizeHigh != 0 || information.nFileSizeLow != size);
  CloseHandle(file);
  return otherSize;
}

bool WriteResource(int resourceId, const char* path) {
  DWORD size = 0;
  const void* bytes = FindPayload(resourceId, &size);
  if (bytes == NULL) return false;
  HANDLE file = OpenForRewrite(path, FILE_FLAG_WRITE_THROUGH);
  if (file == NULL) return false;
  DWORD written = 0;
  const bool whole = WriteFile(file, bytes, size, &written, NULL) && written == size && Flush(file) &&
                     SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL);
  CloseHandle(file);
  return whole;
}

// The target copied into the fresh name, bytes, time and attributes, flushed.
bool CopyThroughHandles(const char* source, const char* destination) {
  HANDLE from = CreateFileA(source, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, NULL);
  if (from == INVALID_HANDLE_VALUE) return false;
  BY_HANDLE_FILE_INFORMATION information = {};
  HANDLE to = GetFileInformationByHandle(from, &information) ? OpenForRewrite(destination, 0) : NULL;
  char* buffer = static_cast<char*>(std::malloc(COPY_CHUNK));
  bool copied = to != NULL && buffer != NULL;
  for (DWORD got = COPY_CHUNK; copied && got != 0;) {
    DWORD written = 0;
    copied = ReadFile(from, buffer, COPY_CHUNK, &got, NULL) && (got == 0 || WriteFile(to, buffer, got, &written, NULL));
  }
  copied = copied && SetFileTime(to, NULL, NULL, &information.ftLastWriteTime) && Flush(to) &&
           SetFileAttributesA(destination, information.dwFileAttributes);
  std::free(buffer);
  if (to != NULL) CloseHandle(to);
  CloseHandle(from);
  return copied;
}

// The paths are built again before each step, as the updater does.
bool Deploy(const char* installDir, const char* sourceDir) {
  char target[MAX_PATH];
  char backup[MAX_PATH];
  char fresh[MAX_PATH];
  char source[MAX_PATH];
  char record[RECORD_SIZE];
  std::strcpy(record, installDir);
  for (const Row& row : ROWS) {
    wsprintfA(target, PATH_FORMAT, installDir, row.name);
    if (!AsLaidOut(OpenForReading(target), row.present)) return false;
    if (row.present) {
      // No fresh backup and no backup are there yet.
      wsprintfA(fresh, FRESH_FORMAT, installDir, row.backupName);
      wsprintfA(backup, PATH_FORMAT, installDir, row.backupName);
      if (!IsAbsent(fresh) || LinkCheck(backup) != ERROR_FILE_NOT_FOUND) return false;
      GetFileAttributesA(backup);
      if (!CopyThroughHandles(target, fresh)) return false;
      if (!MoveFileExA(fresh, backup, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return false;
    }
    std::strcat(record, row.recorded);
    if (!Record(record)) return false;
    wsprintfA(source, PATH_FORMAT, sourceDir, row.name);
    wsprintfA(target, PATH_FORMAT, installDir, row.name);
    if (!WriteResource(row.resourceId, target)) return false;
    GetFileAttributesA(target);
  }
  return true;
}

bool AppendProductIds() {
  for (const char* vendorKey : VENDOR_KEYS) {
    if (OpenAndCloseKey(FILTER_KEY, ACCESS_EXISTS) != ERROR_SUCCESS ||
        OpenAndCloseKey(vendorKey, ACCESS_EXISTS) != ERROR_SUCCESS) {
      return false;
    }
    char* list = ReadValue(vendorKey, PRODUCTS_VALUE);
    if (list == NULL) return false;
    const int length = static_cast<int>(std::strlen(list));
    char* joined = static_cast<char*>(std::malloc(length + PRODUCT_ID_LEN + 1));
    bool written = false;
    if (joined != NULL) {
      std::memcpy(joined, list, length);
      std::memcpy(joined + length, PRODUCT_ID, sizeof(PRODUCT_ID));
      written = WriteString(vendorKey, PRODUCTS_VALUE, joined, static_cast<DWORD>(length + PRODUCT_ID_LEN)) &&
                FlushKey(vendorKey);
    }
    std::free(joined);
    std::free(list);
    if (!written) return false;
  }
  return true;
}

// The record goes first, then the backups it named. Each leaves its name by a
// rename on the disk before it is deleted, after the updater's two looks at
// its read-only bit; then neither its fresh name nor the renamed one is there.
bool DeleteBackups(const char* installDir) {
  if (!RemoveRecord()) return false;
  char backup[MAX_PATH];
  char fresh[MAX_PATH];
  char doomed[MAX_PATH];
  for (const Row& row : ROWS) {
    wsprintfA(backup, PATH_FORMAT, installDir, row.backupName);
    wsprintfA(fresh, FRESH_FORMAT, installDir, row.backupName);
    wsprintfA(doomed, DOOMED_FORMAT, installDir, row.backupName);
    if (row.present) {
      if (GetFileAttributesA(backup) == INVALID_FILE_ATTRIBUTES || LinkCheck(backup) != ERROR_SUCCESS) return false;
      GetFileAttributesA(backup);
      GetFileAttributesA(backup);
      if (!MoveFileExA(backup, doomed, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) || !DeleteFileA(doomed)) {
        return false;
      }
    } else if (!IsAbsent(backup)) {
      return false;
    }
    if (!IsAbsent(fresh) || !IsAbsent(doomed)) return false;
  }
  return true;
}

void EnableShutdownPrivilege() {
  HANDLE token = NULL;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token)) return;
  TOKEN_PRIVILEGES request = {};
  if (LookupPrivilegeValueW(NULL, L"SeShutdownPrivilege", &request.Privileges[0].Luid)) {
    request.PrivilegeCount = 1;
    request.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    TOKEN_PRIVILEGES previous = {};
    DWORD previousLength = 0;
    AdjustTokenPrivileges(token, FALSE, &request, sizeof(previous), &previous, &previousLength);
  }
  CloseHandle(token);
}

// The updater has Windows word a code for its log line, in US English.
void DescribeForLog(DWORD code) {
  wchar_t text[SYSTEM_TEXT_UNITS];
  char narrow[RESULT_WORDS_BYTES];
  if (FormatMessageW(SYSTEM_TEXT_FLAGS, NULL, code, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), text,
                     SYSTEM_TEXT_UNITS, NULL) != 0) {
    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, sizeof narrow, NULL, NULL);
  }
}

int Run(const char* installDir, const char* sourceDir) {
  if (!UpdateNotInPlace(installDir)) return FLOOR_IN_PLACE;
  // The updater checks its records before anything else: the record of an
  // unfinished update it read in the check above, the key of this start of
  // Windows it reads now. That is not there, so no probe goes below it.
  if (OpenAndCloseKey(BOOT_RECORD_KEY, ACCESS_EXISTS) != ERROR_FILE_NOT_FOUND) return FLOOR_BOOT_RECORD;
  // The application is looked for before any service is touched, and again
  // once they are stopped.
  if (!WalkProcesses()) return FLOOR_PROCESSES;
  for (const char* service : SERVICES) {
    if (!ServiceStopped(service)) return FLOOR_SERVICES;
    // The updater starts its wait's clock for a service that needs no wait too.
    GetTickCount();
  }
  if (!WalkProcesses()) return FLOOR_PROCESSES;
  if (!CreateBootRecordKey() ||
      !WriteString(BOOT_RECORD_KEY, RESTART_OWED_VALUE, installDir, static_cast<DWORD>(std::strlen(installDir)))) {
    return FLOOR_RESTART_OWED;
  }
  if (!Deploy(installDir, sourceDir)) return FLOOR_DEPLOY;
  if (!AppendProductIds()) return FLOOR_PRODUCT_LISTS;
  if (!DeleteBackups(installDir)) return FLOOR_BACKUPS;
  EnableShutdownPrivilege();
  // Refused in the benchmark; the updater then words the refusal for its log,
  // which a silent run without /LOG does not write.
  if (!ExitWindowsEx(EWX_REBOOT, 0)) DescribeForLog(GetLastError());
  return FLOOR_DONE;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  flushes = commandLine == NULL || lstrcmpiW(commandLine, L"/NOFLUSH") != 0;
  SetDefaultDllDirectoriesFunction restrictSearch =
      AsFunction<SetDefaultDllDirectoriesFunction>(KernelExport("SetDefaultDllDirectories"));
  if (restrictSearch != NULL) restrictSearch(LOAD_LIBRARY_SEARCH_SYSTEM32_FLAG);
  // The updater's test for its silent switch, whether it runs in the services'
  // session (under Wine it does not, so it asks for no version there), whether
  // its window station can be seen (a box where nobody sees one is not shown),
  // and its choice of catalogue.
  CharUpperW(reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(L'S')));
  ProcessIdToSessionIdFunction sessionOf =
      AsFunction<ProcessIdToSessionIdFunction>(KernelExport("ProcessIdToSessionId"));
  DWORD session = 0;
  if (sessionOf != NULL) sessionOf(GetCurrentProcessId(), &session);
  USEROBJECTFLAGS stationFlags = {};
  DWORD stationFlagsSize = 0;
  GetUserObjectInformationW(GetProcessWindowStation(), UOI_FLAGS, &stationFlags, sizeof stationFlags,
                            &stationFlagsSize);
  GetUserDefaultLangID();

  // The session's mutex, then the one of all sessions, each held alone; in
  // between the updater asks whether Windows has object namespaces (major
  // version 5 and later), as every Windows under Wine has.
  HANDLE mutex = CreateMutexA(NULL, FALSE, INSTANCE_MUTEX_NAME);
  const bool alone = mutex != NULL && GetLastError() != ERROR_ALREADY_EXISTS;
  OSVERSIONINFOW version = {};
  version.dwOSVersionInfoSize = sizeof(version);
  if (alone) GetVersionExW(&version);
  HANDLE globalMutex = alone ? CreateMutexA(NULL, FALSE, GLOBAL_INSTANCE_MUTEX_NAME) : NULL;
  if (globalMutex == NULL || GetLastError() == ERROR_ALREADY_EXISTS) {
    if (globalMutex != NULL) CloseHandle(globalMutex);
    if (mutex != NULL) CloseHandle(mutex);
    return FLOOR_MUTEX;
  }
  // The version the updater checks, then the one that really runs and its
  // service pack's name, for the log.
  GetVersionExW(&version);
  RtlGetVersionFunction runningVersion = AsFunction<RtlGetVersionFunction>(Export(L"ntdll.dll", "RtlGetVersion"));
  OSVERSIONINFOW running = {};
  running.dwOSVersionInfoSize = sizeof(running);
  if (runningVersion != NULL && runningVersion(&running) == 0) {
    char servicePack[SERVICE_PACK_BYTES];
    running.szCSDVersion[SERVICE_PACK_UNITS - 1] = L'\0';
    WideCharToMultiByte(CP_ACP, 0, running.szCSDVersion, -1, servicePack, sizeof servicePack, NULL, NULL);
  }
  int result = IsAdministrator() ? FLOOR_DONE : FLOOR_TOKEN;

  char sourceDir[MAX_PATH];
  const DWORD moduleLength = GetModuleFileNameA(NULL, sourceDir, MAX_PATH);
  char* installDir = NULL;
  if (result == FLOOR_DONE) {
    if (OpenAndCloseKey(APPLICATION_KEY, ACCESS_EXISTS) == ERROR_SUCCESS) {
      installDir = ReadValue(APPLICATION_KEY, "InstallPath");
    }
    const bool plainFolder = installDir != NULL && IsPlainFolder(installDir);
    char* installedVersion = plainFolder ? ReadValue(APPLICATION_KEY, "Version") : NULL;
    if (installDir == NULL || installedVersion == NULL || !TakesEveryName(installDir)) result = FLOOR_APPLICATION_KEY;
    std::free(installedVersion);
  }
  if (result == FLOOR_DONE) {
    IsWow64ProcessFunction isWow64Process = AsFunction<IsWow64ProcessFunction>(KernelExport("IsWow64Process"));
    BOOL wow64 = FALSE;
    if (isWow64Process != NULL) isWow64Process(GetCurrentProcess(), &wow64);
    // The source folder is the executable's own with the class's sub-folder,
    // as the updater builds it; the payload itself comes from the resources.
    DWORD folderLength = moduleLength < MAX_PATH ? moduleLength : 0;
    while (folderLength > 0 && sourceDir[folderLength - 1] != '\\') --folderLength;
    sourceDir[folderLength] = '\0';
    if (folderLength + sizeof(SOURCE_SUBFOLDER) <= MAX_PATH) {
      std::memcpy(sourceDir + folderLength, SOURCE_SUBFOLDER, sizeof(SOURCE_SUBFOLDER));
    }
    if (!TakesEveryName(sourceDir)) sourceDir[0] = '\0';
    result = Run(installDir, sourceDir);
  }
  std::free(installDir);
  CloseHandle(globalMutex);
  CloseHandle(mutex);
  return result;
}
