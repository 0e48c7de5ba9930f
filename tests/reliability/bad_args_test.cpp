// Every method of every interface of the type library, called late-bound on
// live objects of a running client with bad arguments: hostile values of each
// parameter's type, wrong types, wrong argument counts and unknown members
// (null out pointers through the table are the unit tests':
// ComPlumbingTest.NullPointersThroughTheTableAreRefused). The cases come from
// the type library, so a new method is covered without a new test.
#include <gtest/gtest.h>
#include <windows.h>
#include <oleauto.h>
#include <plume.h>

#include <algorithm>
#include <climits>
#include <set>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"
#include "reliability_common.h"
#include "reliability_summary.h"
#include "type_library_methods.h"

namespace plume::test {
namespace {

using reliability::Summary;

// The interfaces of the library's own copy of the type library.
std::vector<Interface> ReadInterfaces() {
    com_ptr<ITypeLib> lib;
    const std::wstring path = OwnFolder() + L"plumesrv.dll";
    EXPECT_EQ(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.put()));
    return lib ? InterfacesOf(lib.get()) : std::vector<Interface>{};
}

// One late-bound call: its arguments in declaration order.
struct Case {
    std::string what;
    std::vector<Var> args;
    enum Expect { Any, BadCount, BadType } expect = Any;
};

// A by-reference argument of type `vt` pointing at `target`.
Var Ref(VARTYPE vt, void* target) {
    Var v;
    v.get()->vt = VT_BYREF | vt;
    v.get()->byref = target;
    return v;
}
// An object as scripts pass them (VT_DISPATCH). Wine's ITypeInfo::Invoke
// keeps a reference to a VT_UNKNOWN argument it cannot convert to the
// parameter's interface (docs/toolchain.md), which would read as a leak.
Var Object(IUnknown* object) {
    Var v;
    v.get()->vt = VT_DISPATCH;
    if (object) object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&v.get()->pdispVal));
    return v;
}
Var Null(VARTYPE vt) {
    Var v;
    v.get()->vt = vt;  // VT_BSTR / VT_DISPATCH with a null value
    return v;
}
Var Double(double d) {
    Var v;
    v.get()->vt = VT_R8;
    v.get()->dblVal = d;
    return v;
}
Var Missing() {
    Var v;
    v.get()->vt = VT_ERROR;
    v.get()->scode = DISP_E_PARAMNOTFOUND;
    return v;
}

// Values the cases point at (by-reference arguments) and the large strings.
struct CaseData {
    LONG out[8] = {};
    bstr empty{L""};
    bstr megabyte{std::wstring(512 * 1024, L'A')};  // 1 MB of text
    bstr lone{std::wstring(1000, static_cast<wchar_t>(0xD800))};
    bstr embeddedNul{std::wstring(L"a\0b", 3)};
    BSTR refs[4] = {nullptr, empty.get(), megabyte.get(), lone.get()};
};

// A value of the parameter's type that gets the call past that parameter.
Var Neutral(const Param& p, CaseData& d, int index) {
    switch (p.kind) {
    case Kind::Long: return Var(1);
    case Kind::Enum: return Var(p.enumValues.empty() ? 0L : p.enumValues[std::min<size_t>(2, p.enumValues.size() - 1)]);
    case Kind::Bstr: return Var(L"x");
    case Kind::BstrRef: return Ref(VT_BSTR, &d.refs[1]);
    case Kind::Object: return Null(VT_DISPATCH);
    case Kind::OutLong: return Ref(VT_I4, &d.out[index % 8]);
    case Kind::Other: break;
    }
    return Var();
}

// Hostile values of the parameter's own type.
std::vector<std::pair<std::string, Var>> Hostile(const Param& p, CaseData& d, IUnknown* stranger) {
    std::vector<std::pair<std::string, Var>> out;
    switch (p.kind) {
    case Kind::Long:
        for (long n : {0L, -1L, long(INT_MIN), long(INT_MAX), 0x10000L, 987654321L, -2L})
            out.push_back({"long " + std::to_string(n), Var(n)});
        break;
    case Kind::Enum: {
        // Outside the enumeration: below, above, the extremes and a gap.
        const auto [lo, hi] = std::minmax_element(p.enumValues.begin(), p.enumValues.end());
        std::set<long> bad = {*lo - 1, *hi + 1, long(INT_MIN), long(INT_MAX)};
        for (long n = *lo; n <= *hi; ++n)
            if (std::find(p.enumValues.begin(), p.enumValues.end(), n) == p.enumValues.end()) {
                bad.insert(n);
                break;
            }
        for (long n : bad) out.push_back({"enum " + std::to_string(n), Var(n)});
        break;
    }
    case Kind::Bstr:
        out.push_back({"null BSTR", Null(VT_BSTR)});
        out.push_back({"empty BSTR", Var(L"")});
        out.push_back({"1 MB BSTR", Var(d.megabyte.str())});
        out.push_back({"lone surrogates", Var(d.lone.str())});
        out.push_back({"embedded NUL", Var(d.embeddedNul.str())});
        break;
    case Kind::BstrRef:
        out.push_back({"ref to null BSTR", Ref(VT_BSTR, &d.refs[0])});
        out.push_back({"ref to 1 MB BSTR", Ref(VT_BSTR, &d.refs[2])});
        out.push_back({"ref to lone surrogates", Ref(VT_BSTR, &d.refs[3])});
        out.push_back({"BSTR by value", Var(L"<b>by value</b>")});
        break;
    case Kind::Object:
        out.push_back({"null object", Null(VT_UNKNOWN)});
        out.push_back({"object of another kind", Object(stranger)});
        break;
    case Kind::OutLong:
        out.push_back({"out long by value", Var(5)});
        break;
    case Kind::Other: break;
    }
    return out;
}

// Values of a wrong type for the parameter.
std::vector<std::pair<std::string, Var>> WrongTypes(const Param& p, IUnknown* stranger) {
    std::vector<std::pair<std::string, Var>> out;
    if (p.kind == Kind::Long || p.kind == Kind::Enum) {
        out.push_back({"text for a number", Var(L"not a number")});
        out.push_back({"1e300 for a number", Double(1e300)});
    }
    if (p.kind == Kind::Bstr || p.kind == Kind::BstrRef) out.push_back({"object for text", Object(stranger)});
    if (p.kind != Kind::OutLong) {
        out.push_back({"VT_NULL", Null(VT_NULL)});
        out.push_back({"missing", Missing()});
        out.push_back({"array", Var(std::vector<long>{1, 2, 3})});
    }
    return out;
}

std::vector<Case> CasesOf(const Method& m, CaseData& d, IUnknown* stranger) {
    std::vector<Case> cases;
    auto neutral = [&] {
        std::vector<Var> args;
        for (size_t i = 0; i < m.in.size(); ++i) args.push_back(Neutral(m.in[i], d, static_cast<int>(i)));
        return args;
    };
    for (size_t i = 0; i < m.in.size(); ++i) {
        for (auto& [what, value] : Hostile(m.in[i], d, stranger)) {
            Case c{"argument " + std::to_string(i + 1) + ": " + what, neutral()};
            c.args[i] = value;
            cases.push_back(c);
        }
        for (auto& [what, value] : WrongTypes(m.in[i], stranger)) {
            Case c{"argument " + std::to_string(i + 1) + ": " + what, neutral(), Case::BadType};
            c.args[i] = value;
            cases.push_back(c);
        }
    }
    // Every parameter hostile at once: its first hostile value.
    if (m.in.size() > 1) {
        Case all{"all arguments hostile", neutral()};
        for (size_t i = 0; i < m.in.size(); ++i) {
            auto values = Hostile(m.in[i], d, stranger);
            if (!values.empty()) all.args[i] = values.front().second;
        }
        cases.push_back(all);
    }
    // Wrong counts.
    Case more{"one argument too many", neutral(), Case::BadCount};
    more.args.push_back(Var(7));
    cases.push_back(more);
    Case many{"six arguments too many", neutral(), Case::BadCount};
    for (int i = 0; i < 6; ++i) many.args.push_back(Var(L"extra"));
    cases.push_back(many);
    if (!m.in.empty()) {
        Case fewer{"one argument too few", neutral(), Case::BadCount};
        fewer.args.pop_back();
        cases.push_back(fewer);
    }
    if (m.in.size() > 1) cases.push_back({"no arguments", {}, Case::BadCount});
    return cases;
}

// HRESULTs a call may answer with. Anything else (a fault of the server's
// stub, a broken connection, a code of nobody's) fails the test.
bool Defined(HRESULT hr) {
    static const std::set<HRESULT> defined = {
        S_OK,           S_FALSE,         E_INVALIDARG,         E_POINTER,         E_FAIL,
        E_OUTOFMEMORY,  E_NOTIMPL,       E_UNEXPECTED,         E_ACCESSDENIED,    E_NOINTERFACE,
        DISP_E_BADPARAMCOUNT, DISP_E_TYPEMISMATCH, DISP_E_PARAMNOTOPTIONAL, DISP_E_OVERFLOW,
        DISP_E_BADVARTYPE, DISP_E_MEMBERNOTFOUND, DISP_E_PARAMNOTFOUND, DISP_E_UNKNOWNINTERFACE,
        DISP_E_UNKNOWNNAME, DISP_E_NONAMEDARGS, DISP_E_EXCEPTION, DISP_E_ARRAYISLOCKED,
        DISP_E_BADINDEX,
    };
    return defined.count(hr) != 0;
}

std::string Narrow(const std::wstring& s) { return std::string(s.begin(), s.end()); }

// The live objects the methods are called on, made afresh for each pass and
// removed again by Clear.
struct Targets {
    com_ptr<IPLUMEObj> root;
    com_ptr<IOEToolbar> toolbar;
    com_ptr<IOEButton> button;
    com_ptr<IOEMenu> menu;
    com_ptr<IOEMenuItem> item;
    com_ptr<IOEMsgWnd> msgWnd;

    void Make(StandinProcess& client) {
        root = NewRoot();
        ASSERT_TRUE(root);
        ASSERT_EQ(S_OK, root->GetMenu(0, menu.put()));
        ASSERT_TRUE(menu);
        for (const IID* iid : {&IID_IOEToolbar, &IID_IOEButton, &IID_IOEMenuItem}) {
            Remake(*iid);
            if (testing::Test::HasFatalFailure()) return;
        }
        msgWnd = ComposeWindow(client, root.get());
        ASSERT_TRUE(msgWnd);
    }
    // A new object of that kind in place of the old one.
    void Remake(const IID& iid) {
        if (IsEqualIID(iid, IID_IOEToolbar)) {
            ASSERT_EQ(S_OK, root->CreateToolbar(toolbar.put()));
        } else if (IsEqualIID(iid, IID_IOEButton)) {
            ASSERT_EQ(S_OK, toolbar->CreateButton(bstr(L"Probe").get(), nullptr, nullptr, button.put()));
        } else if (IsEqualIID(iid, IID_IOEMenuItem)) {
            // The coclass pointer CreateItem declares is the item's interface.
            ASSERT_EQ(S_OK, menu->CreateItem(bstr(L"Probe item").get(), reinterpret_cast<OEMenuItem**>(item.put())));
        }
        ASSERT_TRUE(For(iid));
    }
    IUnknown* For(const IID& iid) const {
        if (IsEqualIID(iid, IID_IPLUMEObj)) return root.get();
        if (IsEqualIID(iid, IID_IOEToolbar)) return toolbar.get();
        if (IsEqualIID(iid, IID_IOEButton)) return button.get();
        if (IsEqualIID(iid, IID_IOEMenu)) return menu.get();
        if (IsEqualIID(iid, IID_IOEMenuItem)) return item.get();
        if (IsEqualIID(iid, IID_IOEMsgWnd)) return msgWnd.get();
        return nullptr;
    }
    // Removes what the calls made: toolbars, menu items and message windows
    // of this pass, then lets go of every object.
    void Clear(StandinProcess& client) {
        if (root) {
            EXPECT_EQ(S_OK, root->RemoveAllToolbars());
            EXPECT_EQ(S_OK, root->RemoveAllMenuItems());
        }
        toolbar.reset();
        button.reset();
        menu.reset();
        item.reset();
        msgWnd.reset();
        root.reset();
        for (const Var& w : client.Call(L"MessageWindows").Array()) client.Call(L"CloseNote", {w.Long()});
        EXPECT_TRUE(StandinProcess::WaitFor([&] { return client.Call(L"MessageWindows").Array().empty(); }));
        // An item that was in the client's menu leaves it when that menu
        // next opens: the user opens each menu once.
        const long main = client.Call(L"MainWindow").Long();
        for (const Var& name : client.Call(L"MenuBar", {main}).Array()) client.Call(L"MenuItems", {main, name.Str()});
    }
};

class BadArguments : public testing::Test {
protected:
    // Runs every case of every method once; failures name the method and case.
    void RunPass(StandinProcess& client, const std::vector<Interface>& interfaces, bool count) {
        Targets targets;
        targets.Make(client);
        if (HasFatalFailure()) return;
        CaseData data;
        for (const Interface& itf : interfaces) {
            IUnknown* target = targets.For(itf.iid);
            ASSERT_TRUE(target) << Narrow(itf.name) << ": no live object to call (a new interface needs one here)";
            com_ptr<IDispatch> dispatch;
            ASSERT_EQ(S_OK, target->QueryInterface(IID_IDispatch, dispatch.put_void()));
            const Method* destroy = DestroyOf(itf);
            for (const Method& m : itf.methods) {
                const std::string where = Narrow(itf.name) + "::" + Narrow(m.name);
                // A Create without a result makes the object's own record again, on
                // behalf of whatever owner it was given: each is destroyed at once,
                // and the object is made afresh for the next method.
                const bool remakes = destroy && m.name.rfind(L"Create", 0) == 0 && !m.retval;
                for (Case& c : CasesOf(m, data, targets.root.get())) {
                    const HRESULT hr = Invoke(dispatch.get(), m, c, where, count);
                    if (remakes && SUCCEEDED(hr)) {
                        Case none{"destroy", {}};
                        Invoke(dispatch.get(), *destroy, none, where + " then Destroy", false);
                    }
                }
                if (remakes) {
                    targets.Remake(itf.iid);
                    ASSERT_FALSE(HasFatalFailure());
                    dispatch.reset();
                    ASSERT_EQ(S_OK, targets.For(itf.iid)->QueryInterface(IID_IDispatch, dispatch.put_void()));
                }
                ASSERT_TRUE(ClientAlive(client)) << where << ": the client is gone";
                ASSERT_TRUE(RootAnswers(targets.root.get())) << where << ": the library no longer answers";
            }
            UnknownMembers(dispatch.get(), itf, Narrow(itf.name), count);
        }
        targets.Clear(client);
    }

    static const Method* DestroyOf(const Interface& itf) {
        for (const Method& m : itf.methods)
            if (m.name == L"Destroy" && m.in.empty()) return &m;
        return nullptr;
    }

    HRESULT Invoke(IDispatch* dispatch, const Method& m, Case& c, const std::string& where, bool count) {
        // Arguments go in reverse order.
        std::vector<VARIANT> args(c.args.size());
        for (size_t i = 0; i < c.args.size(); ++i) args[c.args.size() - 1 - i] = *c.args[i].get();
        DISPPARAMS params{args.data(), nullptr, static_cast<UINT>(args.size()), 0};
        Var result;
        EXCEPINFO excep{};
        UINT argErr = 0;
        const HRESULT hr =
            dispatch->Invoke(m.dispid, IID_NULL, 0, DISPATCH_METHOD, &params, result.get(), &excep, &argErr);
        const HRESULT reported = hr == DISP_E_EXCEPTION ? excep.scode : hr;
        SysFreeString(excep.bstrSource);
        SysFreeString(excep.bstrDescription);
        SysFreeString(excep.bstrHelpFile);
        if (count) Summary::Get().Add(reliability::kCasesTried);
        EXPECT_TRUE(Defined(hr) && Defined(reported))
            << where << " (" << c.what << "): " << std::hex << std::showbase << hr << " / " << reported;
        if (c.expect == Case::BadCount) {
            EXPECT_TRUE(hr == DISP_E_BADPARAMCOUNT || hr == DISP_E_PARAMNOTOPTIONAL)
                << where << " (" << c.what << "): " << std::hex << std::showbase << hr;
        }
        if (c.expect == Case::BadType) {
            EXPECT_TRUE(FAILED(hr)) << where << " (" << c.what << "): a value of the wrong type was taken";
        }
        if (FAILED(hr) && count) Summary::Get().Add(reliability::kFaultsSurvived);
        return hr;
    }

    // Members no method has, and interfaces nobody implements.
    void UnknownMembers(IDispatch* dispatch, const Interface& itf, const std::string& where, bool count) {
        const DISPID past = 0x60020000 + static_cast<DISPID>(itf.methods.size());
        for (DISPID id : {DISPID(-1), DISPID(0), past, DISPID(0x7FFFFFFF), DISPID(INT_MIN), DISPID(DISPID_NEWENUM)}) {
            DISPPARAMS none{};
            Var result;
            EXPECT_EQ(DISP_E_MEMBERNOTFOUND, dispatch->Invoke(id, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(), nullptr, nullptr))
                << where << ": member " << id;
        }
        // A known member asked for as a property, and with another interface.
        DISPPARAMS none{};
        Var result;
        const DISPID first = itf.methods.front().dispid;
        EXPECT_TRUE(Defined(dispatch->Invoke(first, IID_NULL, 0, DISPATCH_PROPERTYPUT, &none, result.get(), nullptr, nullptr)))
            << where;
        EXPECT_EQ(DISP_E_UNKNOWNINTERFACE, dispatch->Invoke(first, IID_IDispatch, 0, DISPATCH_METHOD, &none, result.get(), nullptr, nullptr))
            << where;
        LPOLESTR names[] = {const_cast<LPOLESTR>(L"NoSuchMethod")};
        DISPID id = 0;
        EXPECT_EQ(DISP_E_UNKNOWNNAME, dispatch->GetIDsOfNames(IID_NULL, names, 1, 0, &id)) << where;
        if (count) {  // the six members and these three
            Summary::Get().Add(reliability::kCasesTried, 9);
            Summary::Get().Add(reliability::kFaultsSurvived, 9);
        }
    }

};

TEST_F(BadArguments, EveryMethodOfEveryInterface) {
    StandinProcess& client = SharedClient::Get();
    const std::vector<Interface> interfaces = ReadInterfaces();
    ASSERT_EQ(6u, interfaces.size()) << "the six interfaces of the type library";
    size_t methods = 0;
    for (const Interface& itf : interfaces) {
        methods += itf.methods.size();
        // Table positions follow IDispatch's seven.
        ASSERT_FALSE(itf.methods.empty());
        EXPECT_EQ(7, itf.methods.front().slot) << Narrow(itf.name);
    }

    // The counters move: a toolbar of a root is counted while it lives.
    const std::vector<long> idle = LibraryCounts(client);
    ASSERT_EQ(8u, idle.size()) << "the library's live counts";
    {
        com_ptr<IPLUMEObj> root = NewRoot();
        com_ptr<IOEToolbar> toolbar;
        ASSERT_EQ(S_OK, root->CreateToolbar(toolbar.put()));
        const std::vector<long> busy = LibraryCounts(client);
        EXPECT_EQ(idle[0] + 2, busy[0]) << "objects: the root and the toolbar";
        EXPECT_EQ(idle[1] + 1, busy[1]) << "toolbar records";
        EXPECT_EQ(S_OK, toolbar->Destroy());
    }
    ASSERT_TRUE(CountsReturnTo(client, idle)) << DescribeCounts(LibraryCounts(client)) << " (idle: " << DescribeCounts(idle) << ")";

    // Private bytes move too: 32 MB written in the client show. The client's
    // own threads free and take memory meanwhile (a few MB seen), so only
    // half of the block is asked for: still four times the leak bound below.
    {
        constexpr SIZE_T kBlock = 32 << 20;
        const SIZE_T before = PrivateBytes(client);
        void* block = VirtualAllocEx(client.process(), nullptr, kBlock, MEM_COMMIT, PAGE_READWRITE);
        ASSERT_TRUE(block);
        // Written, so that the pages exist (Wine counts what the pages hold).
        std::vector<char> fill(kBlock, 'x');
        ASSERT_TRUE(WriteProcessMemory(client.process(), block, fill.data(), fill.size(), nullptr));
        EXPECT_GE(PrivateBytes(client), before + kBlock / 2) << "private bytes " << before;
        VirtualFreeEx(client.process(), block, 0, MEM_RELEASE);
    }

    // A first pass lets the client's heaps reach their working size; the
    // second is counted and measured.
    RunPass(client, interfaces, false);
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_TRUE(CountsReturnTo(client, idle)) << "after the first pass: " << DescribeCounts(LibraryCounts(client))
                                              << " (before: " << DescribeCounts(idle) << ")";
    const SIZE_T warm = PrivateBytes(client);
    RunPass(client, interfaces, true);
    ASSERT_FALSE(HasFatalFailure());
    const bool countsBack = CountsReturnTo(client, idle);
    EXPECT_TRUE(countsBack) << "after the second pass: " << DescribeCounts(LibraryCounts(client))
                            << " (before: " << DescribeCounts(idle) << ")";
    const long long grown = static_cast<long long>(PrivateBytes(client)) - static_cast<long long>(warm);
    // A leak of one large argument per case would be hundreds of megabytes;
    // heap noise stays within a few.
    EXPECT_LT(grown, 4LL << 20) << "private bytes grew by " << grown << " over a pass";
    Summary::Get().Add(reliability::kLeaksFound, (countsBack ? 0 : 1) + (grown < (4LL << 20) ? 0 : 1));
    Summary::Get().Add("methods covered", static_cast<long long>(methods));
    Summary::Get().Max("private bytes growth (KB)", grown / 1024);
}

}  // namespace
}  // namespace plume::test
