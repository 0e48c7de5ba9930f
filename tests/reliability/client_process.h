// Client processes started by the reliability suites, and a probe of the
// mail client's responsiveness.
#pragma once

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "standin_process.h"
#include "unique_any.h"

namespace plume::test {

inline std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A program of this folder started as "PROGRAM ARGUMENTS READY": it sets the
// named event READY when it is ready. Ended by force when the test lets go
// of it (unless it ended by itself).
class ClientProcess {
public:
    ClientProcess(const wchar_t* program, const std::wstring& arguments, const std::string& readyName) {
        const std::string ready = readyName + "_" + std::to_string(GetCurrentProcessId());
        unique_handle readyEvent(CreateEventA(nullptr, TRUE, FALSE, ready.c_str()));
        std::wstring command = L"\"" + OwnFolder() + program + L"\" " + arguments + L" " + Widen(ready);
        STARTUPINFOW si = {sizeof si};
        PROCESS_INFORMATION pi = {};
        if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return;
        CloseHandle(pi.hThread);
        process_.reset(pi.hProcess);
        readyEvent_ = std::move(readyEvent);
    }
    ~ClientProcess() { Kill(); }
    ClientProcess(const ClientProcess&) = delete;
    ClientProcess& operator=(const ClientProcess&) = delete;

    // Waits until it is ready (false when it ended first or took too long).
    bool WaitReady(DWORD timeoutMs = 30000) {
        if (!process_) return false;
        HANDLE waits[2] = {readyEvent_.get(), process_.get()};
        return StandinProcess::WaitFor([&] { return WaitForMultipleObjects(2, waits, FALSE, 0) != WAIT_TIMEOUT; },
                                       timeoutMs) &&
               WaitForSingleObject(readyEvent_.get(), 0) == WAIT_OBJECT_0;
    }
    bool alive() const { return process_ && WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT; }
    bool WaitForExit(DWORD timeoutMs) {
        return StandinProcess::WaitFor([&] { return !alive(); }, timeoutMs);
    }
    void Kill() {
        if (alive()) {
            TerminateProcess(process_.get(), 9);
            WaitForSingleObject(process_.get(), 5000);
        }
    }
    DWORD ExitCode() const {
        DWORD code = STILL_ACTIVE;
        if (process_) GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    unique_handle process_;
    unique_handle readyEvent_;
};

// Sends a message to the client's main window every few milliseconds from
// a thread of its own and keeps the answer times: the mail client's thread
// must go on answering while it waits for a delivery.
class ResponsivenessProbe {
public:
    explicit ResponsivenessProbe(HWND window) : thread_([this, window] {
        while (!stop_) {
            const ULONGLONG start = GetTickCount64();
            DWORD_PTR result;
            if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &result)) ++unanswered_;
            samples_.push_back(static_cast<DWORD>(GetTickCount64() - start));
            Sleep(20);
        }
    }) {}
    ~ResponsivenessProbe() { Stop(); }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }
    // Call after Stop().
    DWORD worst() const { return samples_.empty() ? 0 : *std::max_element(samples_.begin(), samples_.end()); }
    DWORD Percentile(double p) const {
        if (samples_.empty()) return 0;
        std::vector<DWORD> sorted = samples_;
        std::sort(sorted.begin(), sorted.end());
        return sorted[std::min(sorted.size() - 1, static_cast<size_t>(p * sorted.size()))];
    }
    int unanswered() const { return unanswered_; }

private:
    std::atomic<bool> stop_{false};
    int unanswered_ = 0;
    std::vector<DWORD> samples_;
    std::thread thread_;
};

}  // namespace plume::test
