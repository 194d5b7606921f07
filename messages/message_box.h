// Every box of the updater: no owner window, the one caption, OK or OK/Cancel, no icon.
#pragma once

#include "platform/win32.h"

extern const char MESSAGE_CAPTION[];

int ShowMessageBox(const char* text, UINT buttons);
