// What the library holds right now, for leak hunting from outside the
// process (the export PlumeLiveCounts, read by the test suites and the
// benchmarks through the stand-in's control channel).
#pragma once

#include <windows.h>

namespace plume {

// In this order: automation objects, toolbar records, button records, image
// lists, bitmaps, menus, menu-item records, message-window records.
constexpr LONG kLiveCountKinds = 8;

// Writes at most `capacity` counts in the order above and returns how many
// kinds there are.
LONG LiveCounts(LONG* counts, LONG capacity);

}  // namespace plume
