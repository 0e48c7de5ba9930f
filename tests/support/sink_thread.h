// A sink living in an apartment of its own thread, reached through a proxy
// as a client process's sink is. The thread pumps until told to stop pumping
// (it then hangs, as a client that never answers), or to end. An object
// handed over at the start (a root, say) is reached there through its proxy
// by whatever the sink's calls do.
#pragma once

#include <windows.h>
#include <objbase.h>

#include "com_ptr.h"
#include "recording_sink.h"

namespace plume::test {

class SinkThread {
public:
    explicit SinkThread(const IID& events, IUnknown* peer = nullptr, const IID& peerIid = IID_IUnknown)
        : events_(events), peerIid_(peerIid) {
        if (peer) CoMarshalInterThreadInterfaceInStream(peerIid, peer, &peerStream_);
        thread_ = CreateThread(nullptr, 0, &SinkThread::Main, this, 0, nullptr);  // every member is set by now
        // Served meanwhile: the peer's proxy is made by a call into this thread.
        while (MsgWaitForMultipleObjects(1, &ready_, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
    }
    ~SinkThread() {
        End();
        for (HANDLE h : {ready_, resume_, hanging_}) CloseHandle(h);
    }
    SinkThread(const SinkThread&) = delete;
    SinkThread& operator=(const SinkThread&) = delete;

    // The proxy for the caller's apartment (one use).
    com_ptr<IDispatch> TakeProxy() {
        com_ptr<IDispatch> proxy;
        CoGetInterfaceAndReleaseStream(stream_, IID_IDispatch, proxy.put_void());
        stream_ = nullptr;
        return proxy;
    }
    // Takes the proxy and advises it on `source`; its cookie, 0 when that failed.
    DWORD AdviseOn(IUnknown* source) {
        com_ptr<IDispatch> proxy = TakeProxy();
        com_ptr<IConnectionPointContainer> cpc;
        DWORD cookie = 0;
        if (proxy && SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, cpc.put_void())) &&
            SUCCEEDED(cpc->FindConnectionPoint(events_, point_.put())))
            point_->Advise(proxy.get(), &cookie);
        cookie_ = cookie;
        return cookie;
    }
    RecordingSink* sink() { return sink_; }
    // The handed-over object (as the interface it was handed over as), for
    // calls made on the thread.
    template <typename Interface>
    Interface* peer() { return static_cast<Interface*>(peer_.get()); }
    // Returns once the thread has stopped pumping.
    void Hang() {
        hang_ = true;
        WaitForSingleObject(hanging_, 5000);
    }
    void Resume() { SetEvent(resume_); }
    void End() {
        if (!thread_) return;
        if (cookie_) point_->Unadvise(std::exchange(cookie_, 0));
        point_.reset();
        end_ = true;
        Resume();
        PostThreadMessageW(threadId_, WM_NULL, 0, 0);
        // Its proxies' releases are calls into this thread.
        while (MsgWaitForMultipleObjects(1, &thread_, FALSE, 10000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        CloseHandle(thread_);
        thread_ = nullptr;
    }

private:
    static DWORD WINAPI Main(void* self) {
        static_cast<SinkThread*>(self)->Run();
        return 0;
    }
    void Run() {
        threadId_ = GetCurrentThreadId();
        CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (peerStream_) CoGetInterfaceAndReleaseStream(peerStream_, peerIid_, peer_.put_void());
        auto sink = com_ptr<RecordingSink>::attach(new RecordingSink(events_));
        sink_ = sink.get();
        CoMarshalInterThreadInterfaceInStream(IID_IDispatch, sink.get(), &stream_);
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE);
        SetEvent(ready_);
        while (!end_) {
            if (hang_) {
                SetEvent(hanging_);
                WaitForSingleObject(resume_, INFINITE);  // no messages: calls wait
                hang_ = false;
            }
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        }
        sink_ = nullptr;
        sink.reset();
        peer_.reset();
        CoUninitialize();  // the proxy's object is gone from here on
    }

    IID events_, peerIid_;
    HANDLE ready_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    HANDLE resume_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE hanging_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    IStream* stream_ = nullptr;
    IStream* peerStream_ = nullptr;
    com_ptr<IUnknown> peer_;
    RecordingSink* sink_ = nullptr;
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    volatile bool hang_ = false, end_ = false;
};

}  // namespace plume::test
