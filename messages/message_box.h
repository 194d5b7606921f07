// Every box of the updater: no owner window, the one caption, OK or OK/Cancel,
// no icon. Whether a box is shown at all is decided here alone, and every text
// handed over goes to the run log, shown or not.
#pragma once

#include "platform/win32.h"

class RunLog;

extern const char MESSAGE_CAPTION[];

enum BoxKind {
  BOX_QUESTION,  // OK/Cancel; a question that is not shown counts as answered OK
  BOX_NOTICE,    // OK; shown in an interactive run only
  BOX_FAILURE,   // OK; shown in a silent run too, since the update stopped
};

// How the boxes of one run are shown, settled by the entry point before the first one.
struct BoxRules {
  BYTE showUi;         // an interactive run
  BYTE suppressBoxes;  // no box at all: nobody could answer one, or the caller asked for none
  UINT textCodePage;   // CP_ACP: the texts go to MessageBoxA as they are; else read in it for MessageBoxW
  RunLog* log;         // may be null
};

// The button pressed, or IDOK for a box that is not shown.
int ShowBox(const BoxRules& rules, BoxKind kind, const char* text);

// Whether the process's window station is one a user sees. A deployment tool's
// SYSTEM account runs in one that nobody sees, or in session 0 of Windows
// Vista and later, where a box would wait for ever; a station that cannot be
// asked counts as seen.
bool IsWindowStationVisible();
