// Helpers of the toolbar and menu end-to-end suites: an event sink that
// hands every event to a function, a log of what the sinks heard, objects of
// the running client, and bitmap files the client can load.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <gtest/gtest.h>
#include <ocidl.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include <plume.h>

#include "bitmap_file.h"
#include "com_object.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "standin_process.h"

namespace plume::test {

// Answers one event interface; every Invoke goes to `onEvent` with the
// event's DISPID and its 32-bit arguments in declaration order.
class EventSink final : public ref_counted<IDispatch> {
public:
    using Handler = std::function<void(DISPID, std::vector<long>)>;
    EventSink(const IID& events, Handler onEvent) : events_(events), onEvent_(std::move(onEvent)) {}

    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override {
        std::vector<long> args;
        for (UINT i = params ? params->cArgs : 0; i-- > 0;) {
            VARIANT& v = params->rgvarg[i];
            args.push_back(V_VT(&v) == VT_I4 ? V_I4(&v) : -999999);
        }
        onEvent_(id, std::move(args));
        return S_OK;
    }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }

    IID events_;
    Handler onEvent_;
};

// What every sink of a test heard, in the order it arrived.
struct Heard {
    std::string who;
    DISPID dispid;
    std::vector<long> args;
    bool operator==(const Heard& o) const { return who == o.who && dispid == o.dispid && args == o.args; }
};
inline void PrintTo(const Heard& h, std::ostream* os) {
    *os << h.who << ":" << h.dispid << "(";
    for (long a : h.args) *os << a << ",";
    *os << ")";
}

class EventLog {
public:
    // A sink on `source` that records under `who`; `onEvent` runs inside the call.
    template <typename Interface>
    void Listen(const com_ptr<Interface>& source, const IID& events, const std::string& who,
                std::function<void()> onEvent = nullptr) {
        auto sink = com_ptr<EventSink>::attach(new EventSink(events, [this, who, onEvent](DISPID id, std::vector<long> args) {
            heard.push_back({who, id, std::move(args)});
            if (onEvent) onEvent();
        }));
        com_ptr<IConnectionPoint> cp;
        ASSERT_EQ(S_OK, source.template query<IConnectionPointContainer>(IID_IConnectionPointContainer)
                            ->FindConnectionPoint(events, cp.put()));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, cp->Advise(sink.get(), &cookie));
        connections_.push_back({cp, cookie});
    }
    // Waits (pumping) until `count` events have arrived.
    bool WaitFor(size_t count) {
        return StandinProcess::WaitFor([&] { return heard.size() >= count; }, 5000);
    }
    ~EventLog() {
        for (auto& c : connections_) c.first->Unadvise(c.second);
    }

    std::vector<Heard> heard;

private:
    std::vector<std::pair<com_ptr<IConnectionPoint>, DWORD>> connections_;
};

// An object of the running client (its class objects may still be on the way).
template <typename Interface>
com_ptr<Interface> NewObject(const CLSID& clsid, const IID& iid) {
    com_ptr<Interface> object;
    HRESULT hr = E_FAIL;
    StandinProcess::WaitFor(
        [&] { return SUCCEEDED(hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, iid, object.put_void())); },
        5000);
    EXPECT_EQ(S_OK, hr) << "creating an object of the running client";
    return object;
}

// A client of the variant under test with the library loaded, and a root
// object of it.
class LibraryClientTest : public StandinTest {
protected:
    void SetUp() override {
        StartClient(L"/resetstore /nosave");  // with the library
        // The control channel answers while StartServer still waits for the
        // plug-ins; the client's windows come after it.
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"LibraryStarted").Bool(); }, 15000))
            << "the library did not start";
        root_ = NewObject<IPLUMEObj>(CLSID_PLUMEObj, IID_IPLUMEObj);
        ASSERT_TRUE(root_);
    }
    void TearDown() override {
        root_.reset();
        StandinTest::TearDown();
    }

    com_ptr<IPLUMEObj> root_;
};

}  // namespace plume::test
