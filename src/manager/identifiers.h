// Process-wide identifier counters. Identifiers are never reused while the
// process lives; -1 means none everywhere.
#pragma once

#include <windows.h>

namespace plume {

constexpr LONG kNoId = -1;
constexpr LONG kFirstRootObjectId = 1;
constexpr LONG kFirstToolbarId = 30100;
constexpr LONG kFirstButtonId = 60100;
// A button's identifier is also its command identifier, which the client's
// WM_COMMAND carries in 16 bits.
constexpr LONG kLastButtonId = 0xFFFF;

LONG NextRootObjectId();
LONG NextToolbarId();
// Raises a com_error (DISP_E_OVERFLOW) once the command identifiers are used
// up, rather than hand out one that would be taken for another command.
LONG NextButtonId();
// Tests: the next button identifier handed out.
LONG SetNextButtonIdForTesting(LONG next);  // returns the previous value

}  // namespace plume
