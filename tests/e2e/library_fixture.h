// The library inside the stand-in client: a client started with the library
// for each test, root objects over COM, recording sinks, script clients.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "recording_sink.h"
#include "script_process.h"
#include "unique_any.h"

namespace plume::test {

// The named events, held as a plug-in holds them.
struct NamedEvents {
    unique_handle init{CreateEventA(nullptr, TRUE, FALSE, "PLUME_INIT_EVENT")};
    unique_handle shutdown{CreateEventA(nullptr, TRUE, FALSE, "PLUME_SHUTDOWN_EVENT")};
};

inline bool IsSet(const unique_handle& event) { return WaitForSingleObject(event.get(), 0) == WAIT_OBJECT_0; }

class LibraryTest : public StandinTest {
protected:
    // The client's command line; suites that run it under a switch add theirs.
    virtual std::wstring ClientArguments() const { return L"/resetstore /nosave"; }
    void SetUp() override {
        StartClient(ClientArguments());
        ASSERT_TRUE(Call(L"LibraryStarted").Bool());
        // The init event follows the return of StartServer.
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return IsSet(events_.init); }, 10000));
    }
    void TearDown() override {
        sinks_.clear();
        StandinTest::TearDown();
    }

    static com_ptr<IPLUMEObj> CreateRoot() {
        com_ptr<IPLUMEObj> root;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj,
                                         root.put_void()));
        return root;
    }

    // A recording sink advised on `source` for `events`.
    RecordingSink* Listen(IUnknown* source, const IID& events) {
        auto sink = com_ptr<RecordingSink>::attach(new RecordingSink(events));
        com_ptr<IConnectionPointContainer> cpc;
        source->QueryInterface(IID_IConnectionPointContainer, cpc.put_void());
        com_ptr<IConnectionPoint> cp;
        EXPECT_EQ(S_OK, cpc->FindConnectionPoint(events, cp.put()));
        DWORD cookie = 0;
        EXPECT_EQ(S_OK, cp->Advise(sink.get(), &cookie));
        sinks_.push_back(sink);
        return sink.get();
    }

    // The calls of one event, in order (the preview pane's own creation, for
    // one, may arrive at any time after start-up).
    static std::vector<SinkCall> CallsOf(const RecordingSink* sink, DISPID dispid) {
        std::vector<SinkCall> out;
        for (const auto& c : sink->calls)
            if (c.dispid == dispid) out.push_back(c);
        return out;
    }
    static bool WaitForEvent(const RecordingSink* sink, DISPID dispid, size_t count = 1, DWORD ms = 10000) {
        return StandinProcess::WaitFor([&] { return CallsOf(sink, dispid).size() >= count; }, ms);
    }
    static std::vector<DISPID> Dispids(const RecordingSink* sink, std::initializer_list<DISPID> only) {
        std::vector<DISPID> out;
        for (const auto& c : sink->calls)
            for (DISPID d : only)
                if (c.dispid == d) out.push_back(c.dispid);
        return out;
    }

    static long IdOf(HWND window) { return static_cast<long>(reinterpret_cast<INT_PTR>(window)); }

    NamedEvents events_;
    std::vector<com_ptr<RecordingSink>> sinks_;
};

// A library test with one root object whose events are recorded.
class RootObjectTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        root_ = CreateRoot();
        ASSERT_TRUE(root_);
        sink_ = Listen(root_.get(), DIID_IPLUMEObjEvents);
    }
    void TearDown() override {
        // Clients let go of their objects before the client closes.
        root_.reset();
        LibraryTest::TearDown();
    }

    com_ptr<IPLUMEObj> root_;
    RecordingSink* sink_ = nullptr;
};


}  // namespace plume::test
