#include "messages/message_box.h"

const char MESSAGE_CAPTION[] = "ODRIX Carvella Maker Updater";

int ShowMessageBox(const char* text, UINT buttons) { return MessageBoxA(nullptr, text, MESSAGE_CAPTION, buttons); }
