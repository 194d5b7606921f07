#include "app/updater.h"

#include <cstdarg>

#include "log/run_log.h"
#include "messages/message_box.h"
#include "messages/message_table.h"
#include "platform/system_functions.h"
#include "platform/text.h"

namespace {

bool InClass(DWORD version, const VersionClassRange& range) {
  return range.lowest <= version && version < range.aboveHighest;
}

}  // namespace

Updater::Updater()
    : showUi(1),
      installedVersion(0),
      sourceDir(nullptr),
      installDir(nullptr),
      fileNames(),
      backupNames(),
      overwrite(),
      resourceIds(),
      fileCount(0),
      keepBackup(),
      messages(nullptr),
      messageCodePage(CP_ACP),
      suppressBoxes(0),
      log(nullptr),
      isWow64(0),
      versionClass(0) {}

Updater::~Updater() {
  if (sourceDir != nullptr) {
    delete[] sourceDir;
    sourceDir = nullptr;
  }
  if (installDir != nullptr) {
    delete[] installDir;
    installDir = nullptr;
  }
}

void Updater::SetShowUi(BYTE flag) { showUi = flag; }

void Updater::SetSuppressBoxes(BYTE flag) { suppressBoxes = flag; }

void Updater::SetMessages(const char* messageText) { messages = messageText; }

void Updater::SetMessageCodePage(UINT codePage) { messageCodePage = codePage; }

void Updater::SetLog(RunLog* runLog) { log = runLog; }

// A failed query counts as WOW64: deploying the 64-bit drive classes as well
// does no harm on 32-bit Windows, missing them breaks 64-bit Windows. Windows
// without the query at all has no WOW64.
bool Updater::IsWow64() {
  IsWow64ProcessFunction isWow64Process = FindIsWow64Process();
  if (isWow64Process == nullptr) return false;
  BOOL answer = TRUE;
  isWow64Process(GetCurrentProcess(), &answer);
  return answer != FALSE;
}

void Updater::Configure() {
  isWow64 = IsWow64() ? 1 : 0;
  Note("%s Windows", isWow64 ? "64-bit" : "32-bit");
  fileCount = isWow64 ? FILE_TABLE_WOW64.rowCount : FILE_TABLE_32BIT.rowCount;
  // 8.01 to 8.xx lie between the two ranges; they are 8.xx releases and take
  // the 7.xx-8.xx data, as the refusal text and the class 0 folder name say.
  versionClass = 0;
  for (int candidate = 0; candidate < VERSION_CLASS_COUNT; ++candidate) {
    if (InClass(installedVersion, VERSION_CLASSES[candidate])) versionClass = candidate;
  }
  ConfigureFileTable(versionClass, isWow64);
  AppendSourceSubFolder();
  Note("version class %d: %d data files", versionClass, fileCount);
}

void Updater::ConfigureFileTable(int versionClassToUse, BYTE wow64) {
  const int tableClass = TableClass(versionClassToUse);
  const FileTableData& table = wow64 ? FILE_TABLE_WOW64 : FILE_TABLE_32BIT;
  for (int row = 0; row < table.rowCount; ++row) {
    CopyText(fileNames[row], table.fileNames[row], FILE_NAME_SIZE);
    CopyText(backupNames[row], table.backupNames[row], BACKUP_NAME_SIZE);
    overwrite[row] = table.overwrite[row];
    resourceIds[row] = table.resourceIds[tableClass][row];
  }
}

// A source folder that cannot take its sub-folder is emptied rather than used cut short.
void Updater::AppendSourceSubFolder() {
  if (sourceDir == nullptr) return;
  const char* subFolder = VERSION_CLASSES[versionClass].subFolder;
  const int folderLength = TextLength(sourceDir);
  if (folderLength + TextLength(subFolder) >= MAX_PATH) {
    sourceDir[0] = '\0';
    return;
  }
  CopyText(sourceDir + folderLength, subFolder, MAX_PATH - folderLength);
}

bool Updater::KeepsAnyBackup() const {
  for (int row = 0; row < fileCount; ++row) {
    if (keepBackup[row]) return true;
  }
  return false;
}

const char* Updater::MessageText(int slot) const { return messages + SlotOffset(slot); }

BoxRules Updater::Boxes() const { return BoxRules{showUi, suppressBoxes, messageCodePage, log}; }

bool Updater::Ask(int slot) const { return ShowBox(Boxes(), BOX_QUESTION, MessageText(slot)) == IDOK; }

void Updater::ReportMessage(int slot) const { ShowBox(Boxes(), BOX_NOTICE, MessageText(slot)); }

void Updater::ReportFailure(const char* text) const { ShowBox(Boxes(), BOX_FAILURE, text); }

void Updater::Note(const char* format, ...) const {
  if (log == nullptr || !log->IsOpen()) return;
  va_list arguments;
  va_start(arguments, format);
  log->FormatList(format, arguments);
  va_end(arguments);
}
