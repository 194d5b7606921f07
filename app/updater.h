// The record of one run and every stage of it. Each stage is defined in the
// folder of its subsystem; the run calls them in a fixed order.
#pragma once

#include "app/product_tables.h"
#include "deploy/boot_record.h"
#include "deploy/update_record.h"
#include "platform/win32.h"

#include "log/run_log.h"

struct BoxRules;

class Updater {
 public:
  Updater();
  ~Updater();
  Updater(const Updater&) = delete;
  Updater& operator=(const Updater&) = delete;

  // Setup (app/)
  void SetShowUi(BYTE flag);
  void SetSuppressBoxes(BYTE flag);
  void SetMessages(const char* messageText);
  void SetMessageCodePage(UINT codePage);
  void SetLog(RunLog* runLog);
  bool IsWow64();
  void Configure();
  void ConfigureFileTable(int versionClassToUse, BYTE wow64);

  // Machine checks (checks/)
  bool CheckPreconditions();
  bool IsSupportedOs() const;
  bool IsAdministrator();
  bool IsUsableInstallFolder() const;
  DWORD ModuleDirectory(char* buffer, DWORD size);
  int CheckAppNotRunning() const;
  void EnablePrivilege(const wchar_t* privilegeName);

  // The application's services (services/)
  bool StopControlService();
  bool StopCopyService();
  bool StopMonitorService();
  bool StartControlService();
  bool StartCopyService();
  bool StartMonitorService();
  // Starts again the services that this run, or an earlier one since Windows
  // started, asked to stop and left stopped, each one even after another
  // failed; true when all of them run.
  bool RestartStoppedServices();

  // Data files (deploy/)
  // Reads the record of an unfinished update once; 0, or why it cannot be read.
  int ReadRecord();
  // Reads the record of this start of Windows once; 0, or why it cannot be trusted.
  int ReadBootRecord();
  // Whether both records can be used; where one cannot, the run stops
  // before it changes anything, with the file copy error box.
  bool CheckRecord();
  int DeployFiles();
  int RollBack();
  int DeleteBackups();
  // Whether a row's backup is kept as the only copy of its old content.
  bool KeepsAnyBackup() const;
  // Whether the update is in place already, told by reading alone; then
  // *restartOwed says whether Windows has not restarted since a run wrote
  // the data files.
  bool IsUpdateInPlace(bool* restartOwed);

  // Filter driver product lists (registry/)
  int UpdateRegistry() const;
  int WriteDwordValue(const char* keyPath, const char* valueName, const DWORD* value) const;
  int WriteStringValue(const char* keyPath, const char* valueName, const char* text) const;
  int AppendProductId(const char* keyPath, const char* valueName, const char* productId) const;
  // Whether every product list holds the id, where the filter driver is installed.
  bool ProductListsHoldId() const;
  static bool ProductListContains(const char* list, const char* productId);
  static int ParentPath(const char* path, char* buffer, int capacity);

  // Messages and the log
  const char* MessageText(int slot) const;
  // The question of the slot; true for OK, and where no box may be shown.
  bool Ask(int slot) const;
  // Shows the slot only in an interactive run.
  void ReportMessage(int slot) const;
  // Shows a failure's text in a silent run too.
  void ReportFailure(const char* text) const;
  // One line of the run log, when there is one.
  void Note(const char* format, ...) const RUN_LOG_FORMAT;

  // The record. Stages and tests read and set these directly.
  BYTE showUi;
  DWORD installedVersion;
  char* sourceDir;   // owned, MAX_PATH characters
  char* installDir;  // owned, as the registry read allocated it
  char fileNames[FILE_ROWS_MAX][FILE_NAME_SIZE];
  char backupNames[FILE_ROWS_MAX][BACKUP_NAME_SIZE];
  BYTE overwrite[FILE_ROWS_MAX];
  int resourceIds[FILE_ROWS_MAX];
  int fileCount;
  // Rows whose old content could not be put back: their backup is the only copy and stays.
  BYTE keepBackup[FILE_ROWS_MAX];
  // Which backups hold old content, this run's and those of a run cut off
  // before it.
  UpdateRecord record;
  // What the runs of this start of Windows did that it ends: a restart owed,
  // services stopped.
  BootRecord bootRecord;
  const char* messages;
  UINT messageCodePage;  // CP_ACP, or the code page the boxes read the texts in
  BYTE suppressBoxes;    // no box at all, not even a failure's
  RunLog* log;           // not owned; null: no log
  BYTE isWow64;
  int versionClass;

 private:
  void AppendSourceSubFolder();
  BoxRules Boxes() const;
};
