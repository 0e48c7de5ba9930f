// The memory benchmark's create-and-remove cycles, run inside the client by
// bench_plugin.dll on the library's server thread: the benchmark writes a
// request into the shared block and sets the run event; the plug-in sets the
// done event when the cycles have run.
#pragma once

#include <windows.h>

namespace plume::bench {

constexpr char kCycleBlockName[] = "PLUME_BENCH_PLUGIN_CYCLES";
constexpr char kCycleRunEvent[] = "PLUME_BENCH_PLUGIN_RUN";
constexpr char kCycleDoneEvent[] = "PLUME_BENCH_PLUGIN_RAN";

struct CycleBlock {
    // Written by the benchmark before the run event.
    LONG requested;      // cycles to run
    LONG buttonEvery;    // every n-th cycle's toolbar gets a button
    LONG windowedEvery;  // every n-th cycle's toolbar is one of the main window (with its window)
    LONG windowEvery;    // every n-th cycle also listens to the open message windows
    // Written by the plug-in before the done event.
    LONG ran;               // cycles run
    LONG msgWndsListened;   // message window objects listened to
    LONG failures;          // calls that did not succeed
    double milliseconds;    // wall time of the cycles
    double busyMilliseconds;  // of which the cycles held the server thread
};

}  // namespace plume::bench
