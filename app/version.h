// The updater's own version, as its version resource and its log give it, and
// in a build that embeds a test payload, the mark that says so.
#pragma once

#define UPDATER_VERSION_NUMBERS 1, 1, 0, 0
#define UPDATER_VERSION_TEXT "1.1.0.0"

#if __has_include("payload_mark.h")
#include "payload_mark.h"
#endif
