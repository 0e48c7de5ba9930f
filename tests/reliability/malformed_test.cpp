// Malformed client data, generated in their thousands from one seed (printed
// with every failure; PLUME_RELIABILITY_SEED repeats a run): registered
// messages posted by another process with garbage parameters, hostile HTML
// bodies and envelope texts set into and read back from message windows,
// store changes with unexpected values. After each the client runs on, the
// library answers and an event still arrives.
#include <gtest/gtest.h>
#include <windows.h>
#include <plume.h>

#include <algorithm>
#include <climits>
#include <random>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"
#include "client_numbers.h"
#include "recording_sink.h"
#include "reliability_common.h"
#include "reliability_summary.h"

namespace plume::test {
namespace {

using reliability::Summary;

using namespace client_numbers;
using namespace root_event;

class Malformed : public testing::Test {
protected:
    void SetUp() override {
        client_ = &SharedClient::Get();
        random_.seed(Seed() ^ static_cast<unsigned>(std::hash<std::string>()(
                                  testing::UnitTest::GetInstance()->current_test_info()->name())));
        idle_ = LibraryCounts(*client_);
        root_ = NewRoot();
        ASSERT_TRUE(root_);
        sink_ = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IPLUMEObjEvents));
        com_ptr<IConnectionPointContainer> cpc = root_.query<IConnectionPointContainer>(IID_IConnectionPointContainer);
        ASSERT_TRUE(cpc);
        ASSERT_EQ(S_OK, cpc->FindConnectionPoint(DIID_IPLUMEObjEvents, point_.put()));
        ASSERT_EQ(S_OK, point_->Advise(sink_.get(), &cookie_));
    }
    void TearDown() override {
        for (const Var& w : client_->Call(L"MessageWindows").Array()) client_->Call(L"CloseNote", {w.Long()});
        StandinProcess::WaitFor([&] { return client_->Call(L"MessageWindows").Array().empty(); });
        if (point_) point_->Unadvise(cookie_);
        point_.reset();
        root_.reset();
        sink_.reset();
        if (!HasFatalFailure() && ClientAlive(*client_)) {
            const bool back = CountsReturnTo(*client_, idle_);
            EXPECT_TRUE(back) << "the library holds " << DescribeCounts(LibraryCounts(*client_)) << " (before: "
                              << DescribeCounts(idle_) << ")";
            Summary::Get().Add(reliability::kLeaksFound, back ? 0 : 1);
        }
    }

    // Waits until the root has heard `dispid` with arguments that begin with
    // `args` since call number `since`.
    bool HeardSince(size_t since, DISPID dispid, const std::vector<long>& args, DWORD ms = 5000) {
        return StandinProcess::WaitFor([&] {
            for (size_t i = since; i < sink_->calls.size(); ++i)
                if (sink_->calls[i].dispid == dispid && sink_->calls[i].args.size() >= args.size() &&
                    std::equal(args.begin(), args.end(), sink_->calls[i].args.begin()))
                    return true;
            return false;
        }, ms);
    }

    // The client runs, the library answers, and a folder change is still
    // heard: the proof that the client goes on working after a batch.
    void ExpectStillWorking(const std::string& after) {
        ASSERT_TRUE(ClientAlive(*client_)) << "after " << after << "; seed " << Seed();
        ASSERT_TRUE(RootAnswers(root_.get())) << "after " << after << "; seed " << Seed();
        // Sent Items or Inbox, whichever is not shown now.
        const long folder = client_->Call(L"SelectedFolder").Long() == 3 ? 2 : 3;
        const size_t before = sink_->calls.size();
        client_->Call(L"SelectFolder", {folder});
        EXPECT_TRUE(HeardSince(before, kFolderSelectionChanged, {folder}))
            << "no folder event after " << after << "; seed " << Seed();
    }

    unsigned Next() { return static_cast<unsigned>(random_()); }

    StandinProcess* client_ = nullptr;
    std::mt19937 random_;
    com_ptr<IPLUMEObj> root_;
    com_ptr<RecordingSink> sink_;
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
    std::vector<long> idle_;
};

// The first descendant of that class, any depth.
HWND Descendant(HWND parent, const wchar_t* className) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassOf(child) == className) return child;
        if (HWND deeper = Descendant(child, className)) return deeper;
    }
    return nullptr;
}

TEST_F(Malformed, RegisteredMessagesWithGarbageParameters) {
    // Every registered message of the library and the client, and the
    // client's fixed messages the library listens to.
    const char* const names[] = {"PLUME.OnButtonClick",      "PLUME.OnMenuItemClick", "PLUME.OnMessageSelectionChanged",
                                 "PLUME.OnCurrentMessageChanged", "PLUME.OnMessageDownload", "PLUME.OnMsgWndCreation",
                                 "PLUME.OnMsgWndClosed",     "PLUME.OnMsgWndSendButton", "PLUME.OnDatabaseChange",
                                 "PLUME_WM_CLOSE",           "PLUME_WM_DESTROY",      "WM_SET_BODY",
                                 "WM_UNLOCK_MSG",            "WM_HTML_GETOBJECT",     "PLUME.UnbindMsgWnd",
                                 "PLUME_ToolbarTask"};
    std::vector<UINT> messages;
    for (const char* name : names) messages.push_back(RegisterWindowMessageA(name));
    for (UINT fixed : {0x0A40u, 0x0AA4u, 0x3632u, 0x08B6u, 0x13A0u, 0x9C3Fu}) messages.push_back(fixed);

    // The windows: the callback window, the main window and its rebars, a
    // toolbar of the library, a message window and its rebars.
    com_ptr<IOEToolbar> toolbar;
    ASSERT_EQ(S_OK, root_->CreateToolbar(toolbar.put()));
    LONG toolbarHandle = 0;
    ASSERT_TRUE(StandinProcess::WaitFor([&] { return toolbar->GetHandle(&toolbarHandle) == S_OK && toolbarHandle; }));
    HWND note = nullptr;
    ComposeWindow(*client_, root_.get(), &note);
    const HWND main = client_->Call(L"MainWindow").Hwnd();
    const HWND callback = FindWindowW(L"PLUME Callback Window sink", nullptr);
    DWORD owner = 0;
    GetWindowThreadProcessId(callback, &owner);
    ASSERT_EQ(client_->pid(), owner) << "the callback window of the client's library";
    std::vector<HWND> targets = {callback, main, reinterpret_cast<HWND>(static_cast<INT_PTR>(toolbarHandle)), note};
    for (HWND top : {main, note})
        for (const wchar_t* cls : {L"SizableRebar", L"ReBarWindow32"})
            if (HWND w = Descendant(top, cls)) targets.push_back(w);

    // Parameters: numbers, and addresses of readable memory in the client
    // that holds random bytes (a pointer the library never issued).
    const SIZE_T blockSize = 64 * 1024;
    void* block = VirtualAllocEx(client_->process(), nullptr, blockSize, MEM_COMMIT, PAGE_READWRITE);
    ASSERT_TRUE(block);
    std::vector<unsigned char> noise(blockSize);
    for (auto& b : noise) b = static_cast<unsigned char>(Next());
    ASSERT_TRUE(WriteProcessMemory(client_->process(), block, noise.data(), blockSize, nullptr));
    auto garbage = [&]() -> ULONG_PTR {
        switch (Next() % 6) {
        case 0: return 0;
        case 1: return static_cast<ULONG_PTR>(-static_cast<LONG_PTR>(Next() % 4));
        case 2: return Next() % 32;
        case 3: return reinterpret_cast<ULONG_PTR>(block) + (Next() % blockSize & ~7u);
        case 4: return (static_cast<ULONG_PTR>(Next()) << 32) | Next();
        default: return Next();
        }
    };

    const int kPosts = 4000;
    const unsigned seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    for (int i = 0; i < kPosts; ++i) {
        const HWND target = targets[Next() % targets.size()];
        const UINT message = messages[Next() % messages.size()];
        const WPARAM w = garbage();
        const LPARAM l = static_cast<LPARAM>(garbage());
        PostMessageW(target, message, w, l);
        Summary::Get().Add(reliability::kCasesTried);
        // Let the queues drain now and then; a dead client stops the run.
        if (i % 250 == 249) {
            ASSERT_TRUE(RootAnswers(root_.get())) << "post " << i << ": message " << message << " to " << ClassOf(target);
            ASSERT_TRUE(ClientAlive(*client_)) << "post " << i;
        }
    }
    client_->Call(L"Pump", {200});
    ExpectStillWorking("garbage posts");
    Summary::Get().Add(reliability::kFaultsSurvived, HasFailure() ? 0 : kPosts);

    // Events nobody caused: forged by the posts. Counted, not refused.
    long forged = 0;
    for (const SinkCall& c : sink_->calls)
        if (c.dispid != kFolderSelectionChanged && c.dispid != kNewMsgWnd) ++forged;
    Summary::Get().Add("events forged by posts", forged);

    VirtualFreeEx(client_->process(), block, 0, MEM_RELEASE);
    EXPECT_EQ(S_OK, toolbar->Destroy());
}

// Hostile texts: scripts, unclosed tags, markup that ends the document,
// lone surrogates, NULs, control characters, and random UTF-16.
std::wstring HostileText(std::mt19937& random, size_t maxLength) {
    static const wchar_t* const parts[] = {
        L"<script>alert(document.cookie)</script>", L"<", L">", L"<b><i><u><table><tr><td>", L"</BODY></HTML>",
        L"<!--", L"-->", L"<![CDATA[", L"&#xD800;", L"&amp", L"&#0;", L"<img src=x onerror=alert(1)>",
        L"<iframe src=\"javascript:alert(1)\">", L"<html><body>", L"<?xml?>", L"\"'", L"\r\n", L"\0", L"\x1b[2J",
        L"<a href=\"", L"<style>*{display:none}</style>", L"<meta http-equiv=\"refresh\" content=\"0\">",
        L"\xD800", L"\xDFFF", L"\xFFFE", L"\xFFFF", L"\x202E", L"\xFEFF", L"Ünïcödé Грек 日本"};
    std::wstring out;
    const size_t target = random() % (maxLength + 1);
    while (out.size() < target) {
        if (random() % 3) {
            const wchar_t* p = parts[random() % (sizeof parts / sizeof parts[0])];
            out += p[0] == 0 ? std::wstring(1, L'\0') : std::wstring(p);
        } else {
            out += static_cast<wchar_t>(random() % 0x10000);
        }
    }
    return out;
}

// Setters and getters of a message window's texts.
struct TextField {
    const char* name;
    HRESULT (STDMETHODCALLTYPE IOEMsgWnd::*set)(BSTR);
    HRESULT (STDMETHODCALLTYPE IOEMsgWnd::*get)(BSTR*);
};

TEST_F(Malformed, HostileBodiesAndEnvelopes) {
    const unsigned seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    HWND note = nullptr;
    com_ptr<IOEMsgWnd> w = ComposeWindow(*client_, root_.get(), &note);
    ASSERT_TRUE(w);
    const TextField fields[] = {{"To", &IOEMsgWnd::SetTo, &IOEMsgWnd::GetTo},
                                {"Cc", &IOEMsgWnd::SetCc, &IOEMsgWnd::GetCc},
                                {"Bcc", &IOEMsgWnd::SetBcc, &IOEMsgWnd::GetBcc},
                                {"Subject", &IOEMsgWnd::SetSubject, &IOEMsgWnd::GetSubject}};
    // Each text holds dozens of the hostile parts (two characters in three
    // come from them), so every kind shows up in nearly every round and a new
    // seed brings new mixtures each run: a few hundred field rounds cover
    // them all, with a long text every hundred rounds. A body takes the
    // client's document about a second: three of each kind.
    const int kFieldRounds = 200, kBodyRounds = 6;
    for (int round = 0; round < kFieldRounds; ++round) {
        bstr text(HostileText(random_, round % 100 == 0 ? 20000 : 300));
        const TextField& field = fields[Next() % 4];
        const HRESULT set = (w.get()->*field.set)(text.get());
        bstr back;
        const HRESULT get = (w.get()->*field.get)(back.put());
        ASSERT_TRUE(set == S_OK || set == E_INVALIDARG) << field.name << " round " << round << ": " << set;
        ASSERT_EQ(S_OK, get) << field.name << " round " << round;
        // A one-line text of ordinary characters comes back as it was set.
        const std::wstring s = text.str();
        bool plain = set == S_OK && s.size() < 1000;
        for (wchar_t c : s) plain = plain && c >= 0x20 && (c < 0xD800 || c > 0xDFFF) && c < 0xFFFE && c != 0x202E && c != 0xFEFF;
        if (plain && field.name[0] == 'S') {
            EXPECT_EQ(s, back.str()) << "round " << round;
        }
        Summary::Get().Add(reliability::kCasesTried);
        if (round % 100 == 99) ExpectStillWorking("field round " + std::to_string(round));
        if (HasFatalFailure()) return;
    }
    for (int round = 0; round < kBodyRounds; ++round) {
        bstr body(HostileText(random_, 1000));
        BSTR raw = body.get();
        const HRESULT setBody = (round % 2) ? w->SetBodyHTML(&raw) : w->SetBody(&raw);
        ASSERT_TRUE(setBody == S_OK || setBody == E_INVALIDARG) << "body round " << round << ": " << setBody;
        bstr readBody;
        LONG length = -1;
        EXPECT_EQ(S_OK, w->GetBody(readBody.put())) << "round " << round;
        EXPECT_EQ(S_OK, w->GetBodyLength(&length)) << "round " << round;
        EXPECT_EQ(static_cast<LONG>(readBody.length()), length) << "round " << round;
        Summary::Get().Add(reliability::kCasesTried);
    }
    const int kRounds = kFieldRounds + kBodyRounds;
    // Ten megabytes of unclosed markup, and of text.
    std::wstring big;
    while (big.size() < 10u * 1024 * 1024 / sizeof(wchar_t)) big += L"<div><p>unclosed <b>" + HostileText(random_, 40);
    bstr huge(big);
    BSTR raw = huge.get();
    EXPECT_EQ(S_OK, w->SetBodyHTML(&raw));
    LONG length = 0;
    EXPECT_EQ(S_OK, w->GetBodyLength(&length));
    EXPECT_GT(length, 0);
    EXPECT_TRUE(SUCCEEDED(w->SetSubject(huge.get())));
    Summary::Get().Add(reliability::kCasesTried, 2);

    // The window still closes and is heard closing.
    const size_t before = sink_->calls.size();
    client_->Call(L"CloseNote", {H(note)});
    EXPECT_TRUE(HeardSince(before, kMsgWndClosed, {H(note)}, 10000));
    w.reset();
    ExpectStillWorking("hostile texts");
    if (!HasFailure()) Summary::Get().Add(reliability::kFaultsSurvived, kRounds + 2);
}

TEST_F(Malformed, StoreChangesWithUnexpectedValues) {
    const unsigned seed = Seed();
    SCOPED_TRACE("seed " + std::to_string(seed));
    const long inbox = 2;
    // Properties the library reads from stored messages, with values of
    // the wrong shape.
    const wchar_t* const properties[] = {L"63", L"att:athena-account-name", L"X_PLUME_DELETED", L"1", L"65535"};
    std::vector<long> inserted;
    // The kinds of change take turns and the properties follow each other,
    // so that every kind and every property comes in each run; the seed
    // varies the texts and the values.
    const int kRounds = 20;
    int refused = 0;
    for (int round = 0; round < kRounds; ++round) {
        const std::wstring text = HostileText(random_, round % 10 == 0 ? 5000 : 200);
        Var result;
        CallError error;
        bool ok = false;
        switch (round % 4) {
        case 0:
            ok = client_->TryCall(L"CommitOnWorker", {L"insert", inbox, text}, &result, &error);
            break;
        case 1:
            ok = client_->TryCall(L"CommitOnWorker",
                                  {L"insertprop", inbox, L"prop", properties[(round / 4) % 5], text}, &result, &error);
            break;
        case 2: {
            const long values[] = {-1, 0, 6, 255, INT_MAX, INT_MIN};
            if (inserted.empty()) continue;
            ok = client_->TryCall(L"Commit", {L"priority", inserted[Next() % inserted.size()], values[Next() % 6]},
                                  &result, &error);
            break;
        }
        default:
            ok = client_->TryCall(L"CommitOnWorker", {L"createfolder", 1L, text}, &result, &error);
            if (ok && Next() % 2) {
                const long folder = result.Long();
                client_->TryCall(L"CommitOnWorker", {L"renamefolder", folder, HostileText(random_, 100)}, &result, &error);
                client_->TryCall(L"CommitOnWorker", {L"movefolder", folder, folder}, &result, &error);
                client_->TryCall(L"CommitOnWorker", {L"deletefolder", folder}, &result, &error);
                Summary::Get().Add(reliability::kCasesTried, 3);
            }
            ok = true;
            result = Var();
            break;
        }
        if (!ok) ++refused;
        if (ok && result.raw().vt == VT_I4 && result.Long() > 0 && round % 4 < 2) inserted.push_back(result.Long());
        Summary::Get().Add(reliability::kCasesTried);
    }
    // The library sends each message again: it reads the stored properties.
    int sent = 0;
    for (long id : inserted) {
        if (sent++ >= 8) break;
        const HRESULT hr = root_->SendMessage(inbox, id);
        EXPECT_TRUE(hr == S_OK || hr == E_INVALIDARG || hr == E_FAIL) << "message " << id << ": " << hr;
        Summary::Get().Add(reliability::kCasesTried);
    }
    client_->Call(L"WaitTransferIdle", {10000});
    // A plain insert is still heard.
    const size_t before = sink_->calls.size();
    const long id = client_->Call(L"CommitOnWorker", {L"insert", inbox, L"after the storm"}).Long();
    EXPECT_TRUE(HeardSince(before, kDatabaseChange, {kInsertMessage, inbox, id}, 10000))
        << "no insert event for message " << id;
    ExpectStillWorking("store changes");
    if (!HasFailure()) Summary::Get().Add(reliability::kFaultsSurvived, kRounds - refused);
    Summary::Get().Add("store changes refused by the client", refused);
}

}  // namespace
}  // namespace plume::test
