// Process-wide identifier counters. Identifiers are never reused while the
// process lives; -1 means none everywhere.
#pragma once

#include <windows.h>

namespace plume {

constexpr LONG kNoId = -1;
constexpr LONG kFirstRootObjectId = 1;
constexpr LONG kFirstToolbarId = 30100;
constexpr LONG kFirstButtonId = 60100;

LONG NextRootObjectId();
LONG NextToolbarId();
LONG NextButtonId();

}  // namespace plume
