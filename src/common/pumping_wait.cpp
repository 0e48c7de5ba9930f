#include "pumping_wait.h"

#include <algorithm>

namespace plume {

pumping_wait::~pumping_wait() {
    for (const MSG& msg : held_) PostMessageA(msg.hwnd, msg.message, msg.wParam, msg.lParam);
    if (quit_) PostQuitMessage(exitCode_);
}

void pumping_wait::ServeQueued() {
    MSG msg;
    if (quit_) {
        // Sent messages only; what is posted stays for the client's own loop.
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        return;
    }
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            quit_ = true;
            exitCode_ = static_cast<int>(msg.wParam);
            return;
        }
        if (heldMessage_ && msg.message == heldMessage_) {
            held_.push_back(msg);
            continue;
        }
        const bool isInput = (msg.message >= WM_KEYFIRST && msg.message <= WM_KEYLAST) ||
                             (msg.message >= WM_MOUSEFIRST && msg.message <= WM_MOUSELAST);
        if (isInput && mode_ == input::drop) continue;
        DispatchMessageA(&msg);
    }
}

DWORD pumping_wait::wait(DWORD ms, DWORD count, const HANDLE* handles) {
    const ULONGLONG deadline = ms == INFINITE ? 0 : GetTickCount64() + ms;
    auto signalled = [&]() -> DWORD {
        if (!count) return WAIT_TIMEOUT;
        const DWORD r = WaitForMultipleObjects(count, handles, FALSE, 0);
        if (r == WAIT_FAILED) return 0;
        return r < WAIT_OBJECT_0 + count ? r - WAIT_OBJECT_0 : WAIT_TIMEOUT;
    };
    for (;;) {
        ServeQueued();
        if (const DWORD index = signalled(); index != WAIT_TIMEOUT) return index;
        DWORD remaining = INFINITE;
        if (ms != INFINITE) {
            const ULONGLONG now = GetTickCount64();
            if (now >= deadline) return WAIT_TIMEOUT;
            remaining = static_cast<DWORD>(deadline - now);
        }
        const DWORD wake = quit_ ? QS_SENDMESSAGE : QS_ALLINPUT;
        const DWORD r = MsgWaitForMultipleObjectsEx(count, handles, remaining, wake, 0);
        if (r == WAIT_FAILED) {
            if (count) return 0;
            Sleep(std::min<DWORD>(remaining, 10));
        }
    }
}

}  // namespace plume
