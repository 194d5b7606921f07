// What a run leaves for the runs of the same start of Windows, and for them
// only: that the data files were written since Windows started, so that a
// restart is owed (the filter driver reads them when Windows starts), and
// which of the application's services a run asked to stop and did not start
// again (a restart starts them as they are set up). It lives in a volatile
// registry key, which Windows keeps in memory and drops when it restarts,
// shuts down or loses power: no clock, which a user or a time server may
// set, decides.
#pragma once

#include "app/product_tables.h"
#include "platform/win32.h"

// The value that says so, for the log and the administrator.
extern const char RESTART_OWED_VALUE[];

class BootRecord {
 public:
  BootRecord();
  BootRecord(const BootRecord&) = delete;
  BootRecord& operator=(const BootRecord&) = delete;

  // Reads what the runs of this start of Windows recorded, once; later
  // calls answer as the first did. 0, also when there is nothing; else
  // why nothing in it can be trusted (ERR_NOT_VOLATILE: a key of its name
  // that would outlive the restart).
  int Load();
  bool Loaded() const;
  bool RestartOwed();
  bool ServiceAskedToStop(int service);
  // The fact in the key, and so for every later run until Windows
  // restarts, when it answers 0; a service is this run's in any case.
  int MarkRestartOwed(const char* installDir);
  int MarkService(int service, bool askedToStop);

 private:
  // Writes the value, or removes it where text is null.
  int Write(const char* valueName, const char* text);

  bool loaded;
  int loadResult;
  bool keyExists;
  bool restartOwed;
  BYTE services[APPLICATION_SERVICE_COUNT];
};
