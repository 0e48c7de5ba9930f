#include "ui/toolbar_registry.h"

namespace plume {
namespace {
OEToolbarRegistry* g_registry = nullptr;
}  // namespace

OEToolbarHost::~OEToolbarHost() { Detach(); }

int OEToolbarHost::Attach(HWND hostWindow, int) {
    if (!hostWindow_) hostWindow_ = hostWindow;
    attached_ = true;
    return 1;
}

void OEToolbarHost::Detach() {
    attached_ = false;
    hostWindow_ = nullptr;
}

OEToolbarRegistry* OEToolbarRegistry::Get(bool create) {
    if (!g_registry && create) g_registry = new OEToolbarRegistry;
    return g_registry;
}

void OEToolbarRegistry::Destroy() {
    delete g_registry;
    g_registry = nullptr;
}

// The registry holds no button records yet.
LockedButtonRecord::LockedButtonRecord(LONG) {}
LockedButtonRecord::~LockedButtonRecord() = default;

LRESULT RouteCommand(WNDPROC previous, HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return CallWindowProcA(previous, hwnd, message, wParam, lParam);
}

}  // namespace plume
