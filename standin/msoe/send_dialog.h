// The hidden send dialog ("#32770"): command 0xAA4 runs a transfer that
// moves the Outbox to Sent Items, with 0x08B6 sent to the main window when
// it starts (0) and when it ends (13 or 14).
#pragma once

#include <windows.h>

#include <vector>

namespace msoe {

class SendDialog {
public:
    static SendDialog* Create();
    HWND hwnd() const { return hwnd_; }

    bool busy() const { return busy_; }
    // While held, a transfer whose work is done stays running until Release().
    void SetHold(bool hold) { hold_ = hold; }
    bool hold() const { return hold_; }
    // Ends a held transfer; false when none is waiting.
    bool Release();
    int transfersStarted() const { return started_; }
    int transfersFinished() const { return finished_; }
    int requestsWhileBusy() const { return refused_; }
    LPARAM lastRequest() const { return lastRequest_; }
    // The lParam of every 0xAA4 this dialog's own procedure received, oldest first.
    const std::vector<LPARAM>& commandLog() const { return commandLog_; }
    void ClearCommandLog() { commandLog_.clear(); }

private:
    static INT_PTR CALLBACK Proc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp);
    void Start(LPARAM request);
    void Step();
    void Finish();

    HWND hwnd_ = nullptr;
    bool busy_ = false;
    bool hold_ = false;
    bool workDone_ = false;
    int started_ = 0, finished_ = 0, refused_ = 0;
    LPARAM lastRequest_ = 0;
    std::vector<LPARAM> commandLog_;
};

}  // namespace msoe
