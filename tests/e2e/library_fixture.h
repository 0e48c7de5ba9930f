// The library inside the stand-in client: a client started with the library
// for each test, objects of it over COM, recording sinks and what they
// heard, bitmap files the client can load.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <initializer_list>
#include <string>
#include <vector>

#include "bitmap_file.h"
#include "bstr.h"
#include "client_numbers.h"
#include "com_calls.h"
#include "com_ptr.h"
#include "e2e_common.h"
#include "recording_sink.h"
#include "unique_any.h"

namespace plume::test {

using namespace client_numbers;

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
        // The control channel answers while StartServer still waits for the
        // plug-ins; the init event follows its return.
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return Call(L"LibraryStarted").Bool(); }, 15000))
            << "the library did not start";
        ASSERT_TRUE(StandinProcess::WaitFor([&] { return IsSet(events_.init); }, 10000));
    }
    void TearDown() override {
        for (auto& sink : sinks_) sink->onCall = nullptr;  // what they did may be gone
        sinks_.clear();
        StandinTest::TearDown();
    }

    // A root object of the running client.
    static com_ptr<IPLUMEObj> CreateRoot() {
        com_ptr<IPLUMEObj> root;
        EXPECT_EQ(S_OK, CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void()));
        return root;
    }
    static com_ptr<IOEMsgWnd> MsgWnd(IPLUMEObj* root, HWND window) {
        com_ptr<IOEMsgWnd> w;
        EXPECT_EQ(S_OK, root->GetMsgWnd(H(window), w.put()));
        return w;
    }
    static long StyleOf(const com_ptr<IOEMsgWnd>& window) {
        tagWNDSTYLE style = OE_MSG_INVALID;
        EXPECT_EQ(S_OK, window->GetWndStyle(&style));
        return style;
    }

    // A recording sink on `source` for the test's life; when named, what it
    // hears goes into heard_ as `who` too (heard_ outlives every sink's call).
    RecordingSink* Listen(IUnknown* source, const IID& events, const std::string& who = "") {
        com_ptr<RecordingSink> sink = Advise(source, events, who.empty() ? nullptr : &heard_, who);
        EXPECT_TRUE(sink) << "advising " << who;
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
    static bool WaitForCall(const RecordingSink* sink, DISPID dispid, const std::vector<long>& args) {
        return StandinProcess::WaitFor([&] {
            for (const auto& c : CallsOf(sink, dispid))
                if (c.args == args) return true;
            return false;
        }, 10000);
    }
    bool WaitHeard(size_t count) {
        return StandinProcess::WaitFor([&] { return heard_.size() >= count; }, 10000);
    }
    static std::vector<DISPID> Dispids(const RecordingSink* sink, std::initializer_list<DISPID> only) {
        std::vector<DISPID> out;
        for (const auto& c : sink->calls)
            for (DISPID d : only)
                if (c.dispid == d) out.push_back(c.dispid);
        return out;
    }

    NamedEvents events_;
    std::vector<com_ptr<RecordingSink>> sinks_;
    std::vector<Heard> heard_;
};

// A library test with one root object whose events are recorded.
class RootObjectTest : public LibraryTest {
protected:
    void SetUp() override {
        LibraryTest::SetUp();
        if (HasFatalFailure()) return;
        root_ = CreateRoot();
        ASSERT_TRUE(root_);
        sink_ = Listen(root_.get(), DIID_IPLUMEObjEvents);
    }
    void TearDown() override {
        // Clients let go of their objects before the client closes.
        root_.reset();
        LibraryTest::TearDown();
    }
    // A compose window, reported to the root.
    HWND Compose() {
        HWND note = Call(L"NewMessage").Hwnd();
        EXPECT_TRUE(WaitForCall(sink_, root_event::kNewMsgWnd, {H(note)}));
        return note;
    }

    com_ptr<IPLUMEObj> root_;
    RecordingSink* sink_ = nullptr;
};

}  // namespace plume::test
