#include "manager/identifiers.h"

#include "com_error.h"

namespace plume {
namespace {
volatile LONG g_nextRoot = kFirstRootObjectId;
volatile LONG g_nextToolbar = kFirstToolbarId;
volatile LONG g_nextButton = kFirstButtonId;

LONG Take(volatile LONG& counter) { return InterlockedIncrement(&counter) - 1; }
}  // namespace

LONG NextRootObjectId() { return Take(g_nextRoot); }
LONG NextToolbarId() { return Take(g_nextToolbar); }
LONG NextButtonId() {
    const LONG id = Take(g_nextButton);
    if (id > kLastButtonId || id < kFirstButtonId)
        throw_com_error(DISP_E_OVERFLOW, L"No command identifier is left for a new button in this process.");
    return id;
}

LONG SetNextButtonIdForTesting(LONG next) { return InterlockedExchange(&g_nextButton, next); }

}  // namespace plume
