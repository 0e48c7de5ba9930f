#include "server/automation_object.h"

#include "server/module.h"

namespace plume {
namespace {
volatile LONG g_liveObjects = 0;
HINSTANCE g_module = nullptr;
}  // namespace

LONG LiveObjectCount() { return g_liveObjects; }

void detail::CountObject(int delta) { InterlockedExchangeAdd(&g_liveObjects, delta); }

HINSTANCE ModuleInstance() { return g_module ? g_module : GetModuleHandleA(nullptr); }
void SetModuleInstance(HINSTANCE instance) { g_module = instance; }

}  // namespace plume
