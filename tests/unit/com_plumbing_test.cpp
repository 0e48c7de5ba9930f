// The COM behaviour every automation class shares: factories, interfaces,
// late binding through the type library, connection points and error info.
#include <gtest/gtest.h>
#include <windows.h>
#include <ocidl.h>
#include <olectl.h>
#include <plume.h>

#include <atomic>
#include <functional>
#include <tuple>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"
#include "object_events.h"
#include "recording_sink.h"
#include "sink_thread.h"
#include "server/automation_object.h"
#include "server/class_objects.h"
#include "server/connection_point.h"
#include "server/remote_unknown_pin.h"
#include "server/sink_delivery.h"
#include "server/type_info_cache.h"
#include "sync.h"
#include "type_library_methods.h"

using plume::bstr;
using plume::com_ptr;
using plume::test::RecordingSink;

namespace {

struct ClassCase {
    const char* name;
    const CLSID& clsid;
    const IID& iid;
    const IID& events;
};

const ClassCase kClassCases[] = {
    {"PLUMEObj", CLSID_PLUMEObj, IID_IPLUMEObj, DIID_IPLUMEObjEvents},
    {"OEMsgWnd", CLSID_OEMsgWnd, IID_IOEMsgWnd, DIID_IOEMsgWndEvents},
    {"OEToolbar", CLSID_OEToolbar, IID_IOEToolbar, DIID_IOEToolbarEvents},
    {"OEButton", CLSID_OEButton, IID_IOEButton, DIID_IOEButtonEvents},
    {"OEMenu", CLSID_OEMenu, IID_IOEMenu, DIID_IOEMenuEvents},
    {"OEMenuItem", CLSID_OEMenuItem, IID_IOEMenuItem, DIID_IOEMenuItemEvents},
};

com_ptr<IUnknown> Create(const CLSID& clsid) {
    com_ptr<IUnknown> obj;
    IClassFactory* factory = plume::FindClassFactory(clsid);
    EXPECT_NE(nullptr, factory);
    if (factory) {
        EXPECT_EQ(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, obj.put_void()));
    }
    return obj;
}

DISPID IdOfName(IDispatch* d, const wchar_t* name) {
    DISPID id = DISPID_UNKNOWN;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    EXPECT_EQ(S_OK, d->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id)) << "name";
    return id;
}

// Calls a method by DISPID as a script host does; args in declaration order.
HRESULT CallMethod(IDispatch* d, DISPID id, std::vector<VARIANT> args, VARIANT* result, EXCEPINFO* excep = nullptr) {
    std::vector<VARIANT> reversed(args.rbegin(), args.rend());
    DISPPARAMS dp = {reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
    EXCEPINFO local{};
    HRESULT hr = d->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, result, excep ? excep : &local,
                           nullptr);
    if (!excep)
        for (BSTR b : {local.bstrSource, local.bstrDescription, local.bstrHelpFile}) SysFreeString(b);
    return hr;
}

VARIANT Long(long v) {
    VARIANT x;
    VariantInit(&x);
    V_VT(&x) = VT_I4;
    V_I4(&x) = v;
    return x;
}

// Source, description (any when null) and interface of the thread's error
// information.
void ExpectErrorInfo(const wchar_t* source, const IID& iid, const wchar_t* description = nullptr) {
    com_ptr<IErrorInfo> info;
    ASSERT_EQ(S_OK, GetErrorInfo(0, info.put()));
    bstr got, text;
    GUID guid{};
    info->GetSource(got.put());
    info->GetDescription(text.put());
    info->GetGUID(&guid);
    EXPECT_EQ(source, got.str());
    if (!description) {
        EXPECT_FALSE(text.empty());
    } else {
        EXPECT_EQ(description, text.str());
    }
    EXPECT_TRUE(IsEqualIID(iid, guid));
}

class ComPlumbingTest : public ::testing::Test {
protected:
    void SetUp() override { baseline_ = plume::LiveObjectCount(); }
    void TearDown() override { EXPECT_EQ(baseline_, plume::LiveObjectCount()) << "objects leaked"; }
    LONG baseline_ = 0;
};

TEST_F(ComPlumbingTest, FactoriesCreateEveryClassAndEachObjectAnswersItsInterfacesAndNoOthers) {
    for (const ClassCase& c : kClassCases) {
        SCOPED_TRACE(c.name);
        IClassFactory* factory = plume::FindClassFactory(c.clsid);
        ASSERT_NE(nullptr, factory);
        void* untouched = reinterpret_cast<void*>(0x1234);
        EXPECT_EQ(CLASS_E_NOAGGREGATION,
                  factory->CreateInstance(reinterpret_cast<IUnknown*>(factory), IID_IUnknown, &untouched));
        EXPECT_EQ(reinterpret_cast<void*>(0x1234), untouched);
        // An interface the class does not have: the query result, no object left.
        void* out = nullptr;
        const LONG before = plume::LiveObjectCount();
        EXPECT_EQ(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IPersist, &out));
        EXPECT_EQ(nullptr, out);
        EXPECT_EQ(before, plume::LiveObjectCount());
        EXPECT_EQ(S_OK, factory->LockServer(TRUE));
        EXPECT_EQ(1, plume::ServerLockCount());
        EXPECT_EQ(S_OK, factory->LockServer(FALSE));
        EXPECT_EQ(0, plume::ServerLockCount());

        com_ptr<IUnknown> obj;
        ASSERT_EQ(S_OK, factory->CreateInstance(nullptr, c.iid, obj.put_void()));
        EXPECT_EQ(before + 1, plume::LiveObjectCount());
        for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &c.iid, &IID_IProvideClassInfo, &IID_ISupportErrorInfo,
                               &IID_IConnectionPointContainer}) {
            com_ptr<IUnknown> p;
            EXPECT_EQ(S_OK, obj->QueryInterface(*iid, p.put_void()));
            EXPECT_TRUE(p);
        }
        // Identity: IUnknown is the same pointer whatever it was reached from.
        EXPECT_EQ(obj.query<IUnknown>(IID_IUnknown).get(), obj.query<IConnectionPointContainer>(IID_IConnectionPointContainer)
                                                               .query<IUnknown>(IID_IUnknown)
                                                               .get());
        for (const IID* iid : {&IID_IConnectionPoint, &IID_IPersist, &IID_IClassFactory, &c.events,
                               c.clsid == CLSID_PLUMEObj ? &IID_IOEMsgWnd : &IID_IPLUMEObj}) {
            void* p = reinterpret_cast<void*>(1);
            EXPECT_EQ(E_NOINTERFACE, obj->QueryInterface(*iid, &p));
            EXPECT_EQ(nullptr, p);
        }
        EXPECT_EQ(E_POINTER, obj->QueryInterface(IID_IUnknown, nullptr));
        com_ptr<ISupportErrorInfo> sei = obj.query<ISupportErrorInfo>(IID_ISupportErrorInfo);
        EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(c.iid));
        EXPECT_EQ(S_OK, sei->InterfaceSupportsErrorInfo(IID_IPersist));

        // The class's type information, and the interface's through IDispatch.
        com_ptr<IProvideClassInfo> pci = obj.query<IProvideClassInfo>(IID_IProvideClassInfo);
        EXPECT_EQ(E_POINTER, pci->GetClassInfo(nullptr));
        com_ptr<IDispatch> disp = obj.query<IDispatch>(IID_IDispatch);
        UINT count = 0;
        EXPECT_EQ(S_OK, disp->GetTypeInfoCount(&count));
        EXPECT_EQ(1u, count);
        com_ptr<ITypeInfo> classInfo, ifaceInfo;
        ASSERT_EQ(S_OK, pci->GetClassInfo(classInfo.put()));
        ASSERT_EQ(S_OK, disp->GetTypeInfo(0, 0, ifaceInfo.put()));
        for (auto [info, kind, guid] : {std::tuple{classInfo.get(), TKIND_COCLASS, &c.clsid},
                                        std::tuple{ifaceInfo.get(), TKIND_INTERFACE, &c.iid}}) {
            TYPEATTR* attr = nullptr;
            ASSERT_EQ(S_OK, info->GetTypeAttr(&attr));
            EXPECT_EQ(kind, attr->typekind);
            EXPECT_TRUE(IsEqualGUID(*guid, attr->guid));
            info->ReleaseTypeAttr(attr);
        }
        EXPECT_EQ(DISP_E_BADINDEX, disp->GetTypeInfo(1, 0, ifaceInfo.put()));
    }
    EXPECT_EQ(nullptr, plume::FindClassFactory(IID_IDispatch));
}

TEST_F(ComPlumbingTest, LateBoundCallsGoThroughTheTypeLibrary) {
    com_ptr<IDispatch> root = Create(CLSID_PLUMEObj).query<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(root);
    // Names map to 0x60020000 + position, case-insensitively as scripts expect.
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"GetID", 0x60020000}, {L"getid", 0x60020000}, {L"SendKey", 0x60020008}, {L"GetMsgWndMenuItem", 0x60020021}};
    for (const auto& [name, id] : names) EXPECT_EQ(id, IdOfName(root.get(), name));
    // The retval comes back as the result; the vtable agrees with Invoke.
    VARIANT result;
    VariantInit(&result);
    ASSERT_EQ(S_OK, CallMethod(root.get(), 0x60020000, {}, &result));
    EXPECT_EQ(VT_I4, V_VT(&result));
    EXPECT_EQ(plume::test::IdOf(root.query<IPLUMEObj>(IID_IPLUMEObj)), V_I4(&result));

    // Wrong argument counts are refused, and the method does not run: here
    // RemoveAllToolbars (0x6002000E) would remove the root's toolbar.
    com_ptr<IOEToolbar> toolbar, again;
    ASSERT_EQ(S_OK, root.query<IPLUMEObj>(IID_IPLUMEObj)->CreateToolbar(toolbar.put()));
    const std::pair<DISPID, std::vector<VARIANT>> wrongCounts[] = {{0x6002000E, {Long(1)}},
                                                                    {0x6002000E, {Long(1), Long(2), Long(3)}},
                                                                    {0x60020008, {Long(65), Long(0), Long(0), Long(0)}}};
    for (const auto& [dispid, args] : wrongCounts) EXPECT_EQ(DISP_E_BADPARAMCOUNT, CallMethod(root.get(), dispid, args, nullptr));
    EXPECT_EQ(S_OK, root.query<IPLUMEObj>(IID_IPLUMEObj)->GetToolbar(plume::test::IdOf(toolbar), again.put()));
    EXPECT_TRUE(again) << "the toolbar is still there";
    EXPECT_EQ(S_OK, toolbar->Destroy());
    // (Unknown members and names, other interfaces and wrong types are the
    // reliability suite's, across processes.)
}

TEST_F(ComPlumbingTest, FailedCallsLeaveErrorInfoNamingTheMethod) {
    // A failing method reached late-bound: the exception names the method.
    // (A menu item's name of more than 255 characters is refused.)
    com_ptr<IDispatch> item = Create(CLSID_OEMenuItem).query<IDispatch>(IID_IDispatch);
    SetErrorInfo(0, nullptr);
    EXCEPINFO excep{};
    VARIANT result, name;
    VariantInit(&result);
    V_VT(&name) = VT_BSTR;
    V_BSTR(&name) = SysAllocString(std::wstring(300, L'n').c_str());
    EXPECT_EQ(DISP_E_EXCEPTION, CallMethod(item.get(), IdOfName(item.get(), L"SetText"), {name}, &result, &excep));
    EXPECT_EQ(E_INVALIDARG, excep.scode);
    EXPECT_STREQ(L"SetText", excep.bstrSource);
    EXPECT_NE(nullptr, excep.bstrDescription);
    for (BSTR b : {excep.bstrSource, excep.bstrDescription, excep.bstrHelpFile}) SysFreeString(b);
    // Called through the vtable, the error information is the thread's.
    SetErrorInfo(0, nullptr);
    EXPECT_EQ(E_INVALIDARG, item.query<IOEMenuItem>(IID_IOEMenuItem)->SetText(V_BSTR(&name)));
    VariantClear(&name);
    ExpectErrorInfo(L"SetText", IID_IOEMenuItem);
}

TEST_F(ComPlumbingTest, ErrorMappingOfMethodBodies) {
    struct Case {
        std::function<void()> body;
        HRESULT hr;
        std::wstring description;
    };
    const Case cases[] = {
        {[] {}, S_OK, L""},
        {[] { plume::throw_com_error(E_INVALIDARG, L"bad argument"); }, E_INVALIDARG, L"bad argument"},
        {[] { throw std::runtime_error("it broke"); }, E_FAIL, L"it broke"},
        {[] { throw std::bad_alloc(); }, E_FAIL, L"bad allocation"},
        {[] { throw static_cast<HRESULT>(0x80070005); }, static_cast<HRESULT>(0x80070005), L""},
    };
    for (const Case& c : cases) {
        SetErrorInfo(0, nullptr);
        EXPECT_EQ(c.hr, plume::GuardedCall("SomeMethod", IID_IOEButton, c.body));
        com_ptr<IErrorInfo> info;
        if (SUCCEEDED(c.hr)) {
            EXPECT_EQ(S_FALSE, GetErrorInfo(0, info.put()));
            continue;
        }
        ExpectErrorInfo(L"SomeMethod", IID_IOEButton, c.description.c_str());
    }
}

TEST_F(ComPlumbingTest, ConnectionPointCookiesAndEnumeration) {
    for (const ClassCase& c : kClassCases) {
        SCOPED_TRACE(c.name);
        com_ptr<IConnectionPointContainer> cpc =
            Create(c.clsid).query<IConnectionPointContainer>(IID_IConnectionPointContainer);
        IEnumConnectionPoints* ecp = nullptr;
        EXPECT_EQ(E_NOTIMPL, cpc->EnumConnectionPoints(&ecp));

        com_ptr<IConnectionPoint> cp;
        IConnectionPoint* wrong = reinterpret_cast<IConnectionPoint*>(1);
        EXPECT_EQ(CONNECT_E_NOCONNECTION, cpc->FindConnectionPoint(IID_IDispatch, &wrong));
        EXPECT_EQ(nullptr, wrong);
        EXPECT_EQ(CONNECT_E_NOCONNECTION, cpc->FindConnectionPoint(c.iid, &wrong));
        EXPECT_EQ(E_POINTER, cpc->FindConnectionPoint(c.events, nullptr));
        ASSERT_EQ(S_OK, cpc->FindConnectionPoint(c.events, cp.put()));

        IID iid{};
        EXPECT_EQ(S_OK, cp->GetConnectionInterface(&iid));
        EXPECT_TRUE(IsEqualIID(c.events, iid));
        com_ptr<IConnectionPointContainer> back;
        EXPECT_EQ(S_OK, cp->GetConnectionPointContainer(back.put()));
        EXPECT_EQ(cpc.get(), back.get());

        com_ptr<RecordingSink> a = com_ptr<RecordingSink>::attach(new RecordingSink(c.events));
        com_ptr<RecordingSink> other = com_ptr<RecordingSink>::attach(new RecordingSink(IID_IPersist));
        DWORD cookie = 77;
        EXPECT_EQ(CONNECT_E_CANNOTCONNECT, cp->Advise(other.get(), &cookie));
        EXPECT_EQ(S_OK, cp->Advise(a.get(), &cookie));
        EXPECT_EQ(1u, cookie) << "a refused sink does not use up a cookie";
        EXPECT_EQ(2, a->refs());
        EXPECT_EQ(S_OK, cp->Advise(a.get(), &cookie));
        EXPECT_EQ(2u, cookie);
        EXPECT_EQ(S_OK, cp->Unadvise(1));
        EXPECT_EQ(CONNECT_E_NOCONNECTION, cp->Unadvise(1));
        EXPECT_EQ(CONNECT_E_NOCONNECTION, cp->Unadvise(42));
        EXPECT_EQ(S_OK, cp->Advise(a.get(), &cookie));
        EXPECT_EQ(3u, cookie) << "cookies are never reused";

        com_ptr<IEnumConnections> e;
        ASSERT_EQ(S_OK, cp->EnumConnections(e.put()));
        // Unadvising while an enumeration is open leaves the snapshot intact.
        EXPECT_EQ(S_OK, cp->Unadvise(2));
        CONNECTDATA data[4] = {};
        ULONG fetched = 0;
        EXPECT_EQ(S_FALSE, e->Next(4, data, &fetched));
        ASSERT_EQ(2u, fetched);
        EXPECT_EQ(2u, data[0].dwCookie);
        EXPECT_EQ(3u, data[1].dwCookie);
        for (ULONG i = 0; i < fetched; ++i) data[i].pUnk->Release();
        EXPECT_EQ(S_OK, cp->Unadvise(3));
        e.reset();
        EXPECT_EQ(1, a->refs()) << "every sink reference was given back";
    }
}

// A container that only counts references, to drive ConnectionPoint directly.
class CountingContainer : public IConnectionPointContainer {
public:
    STDMETHODIMP QueryInterface(REFIID, void** out) override { *out = nullptr; return E_NOINTERFACE; }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs; }
    STDMETHODIMP_(ULONG) Release() override { return --refs; }
    STDMETHODIMP EnumConnectionPoints(IEnumConnectionPoints**) override { return E_NOTIMPL; }
    STDMETHODIMP FindConnectionPoint(REFIID, IConnectionPoint**) override { return E_NOTIMPL; }
    LONG refs = 1;
};

TEST_F(ComPlumbingTest, FireDeliversToEverySinkInCookieOrder) {
    CountingContainer container;
    plume::ConnectionPoint cp(&container, DIID_IOEToolbarEvents);
    std::vector<com_ptr<RecordingSink>> sinks;
    std::vector<DWORD> order;
    for (int i = 0; i < 4; ++i) {
        sinks.push_back(com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IOEToolbarEvents)));
        DWORD cookie = 0;
        ASSERT_EQ(S_OK, cp.Advise(sinks.back().get(), &cookie));
        sinks.back()->onCall = [&order, cookie](const plume::test::SinkCall&) { order.push_back(cookie); };
    }
    // Sink 2 fails, sink 3 unadvises itself and sink 4 during its call.
    sinks[1]->result = E_ACCESSDENIED;
    sinks[2]->onCall = [&](const plume::test::SinkCall&) {
        order.push_back(3);
        EXPECT_EQ(S_OK, cp.Unadvise(3));
        EXPECT_EQ(S_OK, cp.Unadvise(4));
    };

    EXPECT_EQ(E_ACCESSDENIED, cp.Fire(2, {30100, 123456}));
    EXPECT_EQ((std::vector<DWORD>{1, 2, 3}), order);
    ASSERT_EQ(1u, sinks[0]->calls.size());
    EXPECT_EQ(2, sinks[0]->calls[0].dispid);
    EXPECT_EQ((std::vector<long>{30100, 123456}), sinks[0]->calls[0].args);
    EXPECT_EQ(DISPATCH_METHOD, sinks[0]->lastFlags);
    EXPECT_TRUE(sinks[3]->calls.empty());
    EXPECT_EQ(2u, cp.ConnectionCount());

    order.clear();
    sinks[1]->result = S_OK;
    EXPECT_EQ(S_OK, cp.Fire(1, {}));
    EXPECT_EQ((std::vector<DWORD>{1, 2}), order);
    EXPECT_TRUE(sinks[1]->calls.back().args.empty());
    EXPECT_EQ(1, container.refs) << "the container's count is only borrowed";
}

// Every method of every class called through its table, in-process as a
// plug-in library calls it, with each pointer argument null in turn (out
// values, SetBody's text): an out pointer is refused with a failure, a null
// text is an empty one, and nothing the call made is left behind (the
// fixture counts the objects). Generated from the type library, so a new
// method is covered too.
TEST_F(ComPlumbingTest, NullPointersThroughTheTableAreRefused) {
    com_ptr<ITypeLib> lib;
    ASSERT_EQ(S_OK, plume::LoadPlumeTypeLib(lib.put()));
    const std::vector<plume::test::Interface> interfaces = plume::test::InterfacesOf(lib.get());
    ASSERT_EQ(6u, interfaces.size());
    int calls = 0;
    for (const plume::test::Interface& itf : interfaces) {
        const ClassCase* cls = nullptr;
        for (const ClassCase& c : kClassCases)
            if (IsEqualIID(c.iid, itf.iid)) cls = &c;
        ASSERT_NE(nullptr, cls) << "a class for every interface";
        com_ptr<IUnknown> object;
        ASSERT_EQ(S_OK, Create(cls->clsid)->QueryInterface(itf.iid, object.put_void()));
        for (const plume::test::Method& m : itf.methods) {
            for (size_t nulled = 0; nulled < m.raw.size(); ++nulled) {
                if (m.raw[nulled] != plume::test::Raw::Pointer) continue;
                SCOPED_TRACE(cls->name + std::string("::") + std::string(m.name.begin(), m.name.end()) + " argument " +
                             std::to_string(nulled + 1));
                std::vector<VARIANT> values(m.raw.size());
                std::vector<VARIANTARG*> pointers;
                std::vector<VARTYPE> types;
                ULONGLONG scratch[8] = {};  // other out values: numbers only (GetPictureSize)
                bstr text(L"x");
                BSTR textPointer = text.get();
                for (size_t i = 0; i < m.raw.size(); ++i) {
                    VariantInit(&values[i]);
                    switch (m.raw[i]) {
                    case plume::test::Raw::Text:
                        values[i].vt = VT_BSTR;
                        values[i].bstrVal = text.get();
                        break;
                    case plume::test::Raw::InObject:
                        values[i].vt = VT_UNKNOWN;
                        values[i].punkVal = nullptr;
                        break;
                    case plume::test::Raw::Pointer:
                        values[i].vt = VT_I8;
                        values[i].llVal = i == nulled ? 0
                                          : i < m.in.size() && m.in[i].kind == plume::test::Kind::BstrRef
                                              ? reinterpret_cast<LONGLONG>(&textPointer)
                                              : reinterpret_cast<LONGLONG>(&scratch[i % 8]);
                        break;
                    case plume::test::Raw::Number:
                        values[i].vt = VT_I4;
                        values[i].lVal = 1;
                        break;
                    }
                    types.push_back(values[i].vt);
                    pointers.push_back(&values[i]);
                }
                VARIANT result;
                VariantInit(&result);
                ASSERT_EQ(S_OK, DispCallFunc(object.get(), m.slot * sizeof(void*), CC_STDCALL, VT_ERROR,
                                             static_cast<UINT>(types.size()), types.data(), pointers.data(), &result));
                // SetBody's text pointer may be null: an empty text.
                if (nulled < m.in.size() && m.in[nulled].kind == plume::test::Kind::BstrRef)
                    EXPECT_EQ(S_OK, result.scode);
                else
                    EXPECT_TRUE(FAILED(result.scode)) << std::hex << result.scode;
                ++calls;
            }
        }
    }
    EXPECT_GT(calls, 60) << "most methods hand something out";
}

}  // namespace

using plume::test::PumpUntil;
using plume::test::SinkThread;

// Has `sink`'s first call make a call back into `library`, an object of this
// thread, as a handler that calls the library does.
static void CallBackOnFirstCall(SinkThread& sink, RecordingSink* library) {
    IStream* stream = nullptr;
    ASSERT_EQ(S_OK, CoMarshalInterThreadInterfaceInStream(IID_IDispatch, library, &stream));
    sink.sink()->onCall = [stream](const plume::test::SinkCall&) mutable {
        if (!stream) return;
        com_ptr<IDispatch> back;
        CoGetInterfaceAndReleaseStream(std::exchange(stream, nullptr), IID_IDispatch, back.put_void());
        DISPPARAMS none = {nullptr, nullptr, 0, 0};
        if (back) back->Invoke(7, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
    };
}

// Advises `thread`'s sink on `cp` through its proxy, as another apartment's
// sink is; its cookie, 0 when that failed.
static DWORD AdviseProxy(plume::ConnectionPoint& cp, SinkThread& thread) {
    com_ptr<IDispatch> proxy = thread.TakeProxy();
    DWORD cookie = 0;
    EXPECT_EQ(S_OK, proxy ? cp.Advise(proxy.get(), &cookie) : E_POINTER);
    return cookie;
}

// A handler that calls back into the library, which raises another event
// there and then: the inner event is delivered too (on a delivery thread of
// its own) and nobody is taken for hung.
TEST_F(ComPlumbingTest, AnEventRaisedInsideAnotherSinksCallIsDeliveredToo) {
    CountingContainer container;
    plume::ConnectionPoint cp(&container, DIID_IOEToolbarEvents);
    SinkThread other(DIID_IOEToolbarEvents);
    ASSERT_NE(0u, AdviseProxy(cp, other));

    // What the handler calls: an object of this thread that raises the inner event.
    auto library = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IOEToolbarEvents));
    library->onCall = [&](const plume::test::SinkCall&) { cp.Fire(2, {99, 0}); };
    CallBackOnFirstCall(other, library.get());

    const LONG timeouts = plume::GetSinkDeliveryStats().timeouts;
    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, cp.Fire(1, {1}));
    EXPECT_LT(GetTickCount() - start, plume::kSinkAnswerMs) << "the inner event waited for the outer one";
    EXPECT_EQ(timeouts, plume::GetSinkDeliveryStats().timeouts);
    ASSERT_EQ(2u, other.sink()->calls.size());
    EXPECT_EQ(1, other.sink()->calls[0].dispid);
    EXPECT_EQ(2, other.sink()->calls[1].dispid);
    EXPECT_EQ((std::vector<long>{99, 0}), other.sink()->calls[1].args);
    ASSERT_EQ(1u, library->calls.size());
}

// The sinks of other apartments hear an event in cookie order, and a sink of
// this apartment hears every Fire at once. One that stops answering holds a
// Fire once, for the bound; the sinks after it hear that event at once, the
// later events do not wait for it, and it hears them in order once it
// answers. A sink that an earlier sink's handler unadvises (through a call
// back into this thread) is not called; one whose apartment ended is let go.
TEST_F(ComPlumbingTest, SinksOfOtherApartmentsHearAnEventInOrderPastOneThatHangs) {
    CountingContainer container;
    plume::ConnectionPoint cp(&container, DIID_IOEToolbarEvents);
    SinkThread first(DIID_IOEToolbarEvents), hanging(DIID_IOEToolbarEvents), last(DIID_IOEToolbarEvents);
    DWORD cookies[3] = {};
    SinkThread* threads[3] = {&first, &hanging, &last};
    plume::critical_section orderLock;
    std::vector<int> order;
    for (int i = 0; i < 3; ++i) {
        ASSERT_NE(0u, cookies[i] = AdviseProxy(cp, *threads[i]));
        threads[i]->sink()->onCall = [&, i](const plume::test::SinkCall&) {
            plume::cs_lock hold(orderLock);
            order.push_back(i);
        };
    }
    auto local = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IOEToolbarEvents));
    DWORD localCookie = 0;
    ASSERT_EQ(S_OK, cp.Advise(local.get(), &localCookie));
    EXPECT_EQ(S_OK, cp.Fire(1, {1}));
    EXPECT_EQ((std::vector<int>{0, 1, 2}), order);

    const plume::SinkDeliveryStats before = plume::GetSinkDeliveryStats();
    hanging.Hang();
    const DWORD start = GetTickCount();
    EXPECT_EQ(S_OK, cp.Fire(1, {2}));
    const DWORD firstHold = GetTickCount() - start;
    EXPECT_GE(firstHold, plume::kSinkAnswerMs - 100);
    EXPECT_EQ(2u, first.sink()->calls.size());
    EXPECT_EQ(2u, last.sink()->calls.size()) << "the sink after the hung one heard the event";
    for (long n = 3; n <= 5; ++n) EXPECT_EQ(S_OK, cp.Fire(1, {n}));
    EXPECT_LT(GetTickCount() - start - firstHold, 1000u) << "later events do not wait for it";
    EXPECT_EQ(5u, last.sink()->calls.size());
    EXPECT_EQ(5u, local->calls.size());
    const plume::SinkDeliveryStats hung = plume::GetSinkDeliveryStats();
    EXPECT_EQ(before.timeouts + 1, hung.timeouts);
    EXPECT_EQ(before.hungApartments + 1, hung.hungApartments);
    EXPECT_EQ(before.waitingCalls + 3, hung.waitingCalls);

    hanging.Resume();
    ASSERT_TRUE(PumpUntil([&] { return hanging.sink()->calls.size() == 5; }, 10000));
    std::vector<long> heard;
    for (const auto& call : hanging.sink()->calls) heard.push_back(call.args.at(0));
    EXPECT_EQ((std::vector<long>{1, 2, 3, 4, 5}), heard);
    ASSERT_TRUE(PumpUntil([&] { return plume::GetSinkDeliveryStats().hungApartments == before.hungApartments; }, 5000));
    EXPECT_EQ(before.deliveredLate + 3, plume::GetSinkDeliveryStats().deliveredLate);

    // The first sink's handler has this thread unadvise the last sink.
    auto library = com_ptr<RecordingSink>::attach(new RecordingSink(DIID_IOEToolbarEvents));
    library->onCall = [&](const plume::test::SinkCall&) { EXPECT_EQ(S_OK, cp.Unadvise(cookies[2])); };
    CallBackOnFirstCall(first, library.get());
    EXPECT_EQ(S_OK, cp.Fire(1, {6}));
    ASSERT_EQ(1u, library->calls.size());
    EXPECT_EQ(6u, first.sink()->calls.size());
    EXPECT_EQ(6u, hanging.sink()->calls.size());
    EXPECT_EQ(5u, last.sink()->calls.size()) << "an unadvised sink was still called";
    EXPECT_EQ(3u, cp.ConnectionCount());

    // Its apartment ends: the next Fire finds it gone and lets it go.
    hanging.End();
    cp.Fire(1, {7});
    EXPECT_EQ(2u, cp.ConnectionCount());
    EXPECT_EQ(CONNECT_E_NOCONNECTION, cp.Unadvise(cookies[1]));
    EXPECT_EQ(7u, local->calls.size());
}

// Letting go of a sink of another apartment never waits for it, also when
// it stopped answering before anyone noticed: Unadvise and the connection
// point's end return while it hangs, a call queued for it is not made once
// it is unadvised, and what was let go is released once it answers.
TEST_F(ComPlumbingTest, LettingGoOfASinkThatStoppedAnsweringNeverWaitsForIt) {
    CountingContainer container;
    auto cp = std::make_unique<plume::ConnectionPoint>(&container, DIID_IOEToolbarEvents);
    SinkThread unadvised(DIID_IOEToolbarEvents), dropped(DIID_IOEToolbarEvents), queued(DIID_IOEToolbarEvents);
    SinkThread* threads[3] = {&unadvised, &dropped, &queued};
    DWORD cookies[3] = {};
    for (int i = 0; i < 3; ++i) ASSERT_NE(0u, cookies[i] = AdviseProxy(*cp, *threads[i]));
    const LONG queuedBefore = plume::GetSinkDeliveryStats().queuedReleases;
    const LONG idleRefs = unadvised.sink()->refs();
    EXPECT_GT(idleRefs, 1) << "the library holds the sink";

    // The third hears one event and hangs in the next: the one after waits for it.
    queued.Hang();
    EXPECT_EQ(S_OK, cp->Fire(1, {1}));
    EXPECT_EQ(S_OK, cp->Fire(1, {2}));
    EXPECT_EQ(2u, unadvised.sink()->calls.size());

    // The other two stop answering before any event could show it. Should a
    // release wait for them, a watchdog ends the wait, and the test fails.
    unadvised.Hang();
    dropped.Hang();
    std::atomic<bool> watchdogFired{false};
    const plume::unique_handle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread watchdog([&] {
        if (WaitForSingleObject(done.get(), 15000) == WAIT_TIMEOUT) {
            watchdogFired = true;
            for (SinkThread* t : threads) t->Resume();
        }
    });
    EXPECT_EQ(S_OK, cp->Unadvise(cookies[0]));
    EXPECT_EQ(S_OK, cp->Unadvise(cookies[2]));
    cp.reset();
    EXPECT_FALSE(watchdogFired) << "letting go of a sink waited for its apartment";
    SetEvent(done.get());
    watchdog.join();

    for (SinkThread* t : threads) t->Resume();
    ASSERT_TRUE(PumpUntil([&] { return queued.sink()->calls.size() >= 1 && dropped.sink()->refs() == 1 &&
                                       unadvised.sink()->refs() == 1 && queued.sink()->refs() == 1; },
                          10000))
        << "what was let go is released once its apartment answers";
    ASSERT_TRUE(PumpUntil([&] { return plume::GetSinkDeliveryStats().queuedReleases <= queuedBefore; }, 5000))
        << plume::GetSinkDeliveryStats().queuedReleases << " releases still queued, " << queuedBefore << " before";
    std::vector<long> heard;
    for (const auto& call : queued.sink()->calls) heard.push_back(call.args.at(0));
    EXPECT_EQ((std::vector<long>{1}), heard) << "a call queued before Unadvise was made after it";
}

// An apartment that ends unregisters the remote IUnknown with the RPC runtime
// when it was the last to export it, and Wine's runtime can then wait for
// ever for a remote release that arrived at that moment. The registration is
// held by an object marshalled in the multithreaded apartment, which must
// outlive the helper thread that made it: a thread that never joined an
// apartment then finds itself in it, and can export objects from it.
TEST(RemoteUnknown, IsHeldByAMultithreadedApartmentThatOutlivesItsHelper) {
    ASSERT_TRUE(plume::KeepRemoteUnknownRegistered());
    EXPECT_TRUE(plume::KeepRemoteUnknownRegistered()) << "once per process, and the answer stays";
    APTTYPE type = APTTYPE_CURRENT;
    APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
    HRESULT kind = E_FAIL, exported = E_FAIL;
    std::thread([&] {
        kind = CoGetApartmentType(&type, &qualifier);
        com_ptr<IStream> stream, object;
        if (SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, stream.put())) &&
            SUCCEEDED(CreateStreamOnHGlobal(nullptr, TRUE, object.put())))
            exported = CoMarshalInterface(stream.get(), IID_IUnknown, object.get(), MSHCTX_LOCAL, nullptr, MSHLFLAGS_NORMAL);
        if (SUCCEEDED(exported)) {
            stream->Seek(LARGE_INTEGER{}, STREAM_SEEK_SET, nullptr);
            CoReleaseMarshalData(stream.get());
        }
    }).join();
    EXPECT_EQ(S_OK, kind);
    EXPECT_EQ(APTTYPE_MTA, type);
    EXPECT_EQ(APTTYPEQUALIFIER_IMPLICIT_MTA, qualifier);
    EXPECT_EQ(S_OK, exported);
}
