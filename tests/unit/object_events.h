// Tests of the automation classes: a manager to work with, root objects,
// this thread's messages, and what the sinks of a test heard, in the order
// they heard it, across objects (each sink is named after its object).
#pragma once

#include <gtest/gtest.h>
#include <plume.h>
#include <plume_sandbox.h>

#include <string>
#include <vector>

#include "com_calls.h"
#include "com_ptr.h"
#include "manager/plume_manager.h"
#include "recording_sink.h"
#include "server/class_objects.h"

namespace plume::test {

// A manager made afresh, whatever earlier tests left.
inline PLUMEManager* FreshManager() {
    PLUMEManager::DestroyInstance();
    PLUMEManager::SetOwnerThread(GetCurrentThreadId());
    return PLUMEManager::Get(true);
}

// The manager, made afresh when an earlier test closed its event gate for good.
inline void UseOpenManager() {
    if (PLUMEManager* m = PLUMEManager::Get(false); m && m->ShuttingDown()) FreshManager();
    PLUMEManager::Get(true);
}

inline void Pump() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageA(&msg);
}

// Dispatches this thread's messages (timers too) until `done` or `ms` are up:
// the SDK's waits.
template <typename F>
bool PumpUntil(F done, DWORD ms) { return plume_sandbox::WaitFor(done, ms); }
using plume_sandbox::PumpFor;

// A root object made by its class object, as a client's creation is.
inline com_ptr<IPLUMEObj> NewRoot() {
    com_ptr<IPLUMEObj> root;
    EXPECT_EQ(S_OK, FindClassFactory(CLSID_PLUMEObj)->CreateInstance(nullptr, IID_IPLUMEObj, root.put_void()));
    return root;
}
inline std::vector<Heard>& HeardEvents() {
    static std::vector<Heard> heard;
    return heard;
}

// A sink on `object` that adds what it hears to HeardEvents() as `who`.
template <typename Interface>
com_ptr<RecordingSink> Listen(const com_ptr<Interface>& object, const IID& events, const std::string& who) {
    auto sink = Advise(object.get(), events, &HeardEvents(), who);
    EXPECT_TRUE(sink) << who;
    return sink;
}

}  // namespace plume::test
