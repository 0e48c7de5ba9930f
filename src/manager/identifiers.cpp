#include "manager/identifiers.h"

namespace plume {
namespace {
volatile LONG g_nextRoot = kFirstRootObjectId;
volatile LONG g_nextToolbar = kFirstToolbarId;
volatile LONG g_nextButton = kFirstButtonId;

LONG Take(volatile LONG& counter) { return InterlockedIncrement(&counter) - 1; }
}  // namespace

LONG NextRootObjectId() { return Take(g_nextRoot); }
LONG NextToolbarId() { return Take(g_nextToolbar); }
LONG NextButtonId() { return Take(g_nextButton); }

}  // namespace plume
