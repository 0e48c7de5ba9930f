// Tests of the automation classes: a manager to work with, and what the
// sinks of a test heard, in the order they heard it, across objects (each
// sink is named after the object it listens to).
#pragma once

#include <gtest/gtest.h>
#include <ocidl.h>

#include <ostream>
#include <string>
#include <vector>

#include "com_ptr.h"
#include "manager/plume_manager.h"
#include "recording_sink.h"

namespace plume::test {

// The manager, made afresh when an earlier test closed its event gate for good.
inline void UseOpenManager() {
    if (PLUMEManager* m = PLUMEManager::Get(false); m && m->ShuttingDown()) {
        PLUMEManager::DestroyInstance();
        PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    }
    PLUMEManager::Get(true);
}

inline void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Dispatches this thread's messages (timers too) for `ms`.
inline void PumpFor(DWORD ms) {
    const ULONGLONG end = GetTickCount64() + ms;
    do {
        Pump();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);
    } while (GetTickCount64() < end);
}

struct Heard {
    std::string who;
    DISPID dispid;
    std::vector<long> args;
    bool operator==(const Heard& o) const { return who == o.who && dispid == o.dispid && args == o.args; }
};

inline std::vector<Heard>& HeardEvents() {
    static std::vector<Heard> heard;
    return heard;
}

inline void PrintTo(const Heard& h, std::ostream* os) {
    *os << h.who << ":" << h.dispid << "(";
    for (long a : h.args) *os << a << ",";
    *os << ")";
}

// A sink on `object` that adds what it hears to HeardEvents() as `who`.
template <typename Interface>
com_ptr<RecordingSink> Listen(const com_ptr<Interface>& object, const IID& events, const std::string& who) {
    auto sink = com_ptr<RecordingSink>::attach(new RecordingSink(events));
    sink->onCall = [who](const SinkCall& c) { HeardEvents().push_back({who, c.dispid, c.args}); };
    com_ptr<IConnectionPoint> cp;
    object.template query<IConnectionPointContainer>(IID_IConnectionPointContainer)->FindConnectionPoint(events, cp.put());
    DWORD cookie = 0;
    EXPECT_EQ(S_OK, cp->Advise(sink.get(), &cookie));
    return sink;
}

}  // namespace plume::test
