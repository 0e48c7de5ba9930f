// plume-monitor: attaches to the running mail client, listens on every object
// it can reach and prints each event with its arguments and a time stamp as
// it happens. What a plug-in writer runs first when an event does not fire.
//
//   plume-monitor [--seconds N] [--list] [--menu-item ID ...]
//
// It listens on a root object of its own (folder, selection, store, Outbox,
// transfer and message-window events), on every message window (those open
// at start and those that open later) and on the menu items named with
// --menu-item (any owner's). --list prints the objects the object model can
// enumerate and ends. Event and argument names come from the registered type
// library, so the monitor knows every event the library has. It starts by
// naming the listed plug-ins that did not start well at the client's last
// start, with the reason, and the isolated ones whose host died (plume-setup
// list shows every entry).
#include <windows.h>
#include <objbase.h>
#include <oleauto.h>
#include <plume.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_object.h"
#include "com_ptr.h"
#include "plugin_outcomes.h"

using plume::bstr;
using plume::com_ptr;

namespace {

std::string Utf8(const wchar_t* text) { return text ? plume::WideToUtf8(text) : std::string(); }

void Print(const std::string& line) {
    SYSTEMTIME t;
    GetLocalTime(&t);
    printf("[%02u:%02u:%02u.%03u] %s\n", t.wHour, t.wMinute, t.wSecond, t.wMilliseconds, line.c_str());
    fflush(stdout);
}

std::string VariantText(const VARIANT& v) {
    VARIANT text;
    VariantInit(&text);
    std::string out;
    if (V_VT(&v) == VT_BSTR) out = "\"" + Utf8(V_BSTR(&v)) + "\"";
    else if (SUCCEEDED(VariantChangeType(&text, const_cast<VARIANT*>(&v), 0, VT_BSTR))) out = Utf8(V_BSTR(&text));
    else out = "(type " + std::to_string(V_VT(&v)) + ")";
    VariantClear(&text);
    return out;
}

// Names of an event interface's events and their arguments.
struct EventNames {
    std::map<DISPID, std::pair<std::string, std::vector<std::string>>> byId;

    explicit EventNames(const IID& events) {
        com_ptr<ITypeLib> lib;
        com_ptr<ITypeInfo> info;
        if (FAILED(LoadRegTypeLib(LIBID_PLUME, 2, 6, 0, lib.put())) ||
            FAILED(lib->GetTypeInfoOfGuid(events, info.put())))
            return;
        TYPEATTR* attr = nullptr;
        if (FAILED(info->GetTypeAttr(&attr))) return;
        for (UINT i = 0; i < attr->cFuncs; ++i) {
            FUNCDESC* f = nullptr;
            if (FAILED(info->GetFuncDesc(i, &f))) continue;
            BSTR names[16] = {};
            UINT count = 0;
            info->GetNames(f->memid, names, 16, &count);
            auto& entry = byId[f->memid];
            for (UINT n = 0; n < count; ++n) {
                (n ? entry.second.emplace_back(Utf8(names[n])) : entry.first) = Utf8(names[n]);
                SysFreeString(names[n]);
            }
            info->ReleaseFuncDesc(f);
        }
        info->ReleaseTypeAttr(attr);
    }
};

class Monitor;

// Prints every event of one object; tells the monitor about the events that
// bring new objects into reach.
class EventPrinter final : public plume::ref_counted<IDispatch> {
public:
    EventPrinter(Monitor* monitor, const IID& events, std::string source)
        : monitor_(monitor), events_(events), source_(std::move(source)), names_(events) {}
    STDMETHODIMP GetTypeInfoCount(UINT* n) override {
        if (n) *n = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) override;

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }
    Monitor* monitor_;
    IID events_;
    std::string source_;
    EventNames names_;
};

// One object the monitor listens on.
struct Listening {
    com_ptr<IUnknown> object;
    com_ptr<IConnectionPoint> point;
    DWORD cookie = 0;
    ~Listening() {
        if (point && cookie) point->Unadvise(cookie);
    }
};

class Monitor {
public:
    bool Attach() {
        HRESULT hr = CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root_.put_void());
        if (FAILED(hr)) {
            fprintf(stderr,
                    "plume-monitor: no running mail client with the library (creating PLUME.PLUMEObj failed: "
                    "%08lx). Start the client first; check that plumesrv.dll is registered.\n",
                    static_cast<unsigned long>(hr));
            return false;
        }
        return Listen(root_.get(), DIID_IPLUMEObjEvents, "Root");
    }

    void ListObjects() {
        LONG value = 0;
        root_->GetOEMainWindow(&value);
        printf("main window: %08lx\n", static_cast<unsigned long>(value));
        root_->GetSelectedFolderID(&value);
        printf("selected folder: %ld\n", static_cast<long>(value));
        root_->GetCurrentMessageID(&value);
        printf("current message: %ld\n", static_cast<long>(value));
        printf("selected messages:");
        for (root_->GetFirstSelectedMessageID(&value); value != -1; root_->GetNextSelectedMessageID(&value))
            printf(" %ld", static_cast<long>(value));
        printf("\nmessage windows:\n");
        for (LONG id : MsgWndIds()) {
            com_ptr<IOEMsgWnd> w;
            root_->GetMsgWnd(id, w.put());
            if (!w) continue;
            bstr subject;
            tagWNDSTYLE style{};
            w->GetSubject(subject.put());
            w->GetWndStyle(&style);
            printf("  %ld  kind %d  subject \"%s\"\n", static_cast<long>(id), static_cast<int>(style),
                   Utf8(subject.get()).c_str());
        }
    }

    void ListenOnOpenMsgWnds() {
        for (LONG id : MsgWndIds()) ListenOnMsgWnd(id);
    }
    void ListenOnMsgWnd(LONG id) {
        com_ptr<IOEMsgWnd> w;
        if (FAILED(root_->GetMsgWnd(id, w.put())) || !w) return;
        Listen(w.get(), DIID_IOEMsgWndEvents, "MsgWnd " + std::to_string(id));
    }
    void ListenOnMenuItem(LONG id) {
        com_ptr<IOEMenuItem> item;
        if (FAILED(root_->GetMenuItem(id, item.put())) || !item) {
            fprintf(stderr, "plume-monitor: there is no menu item %ld\n", static_cast<long>(id));
            return;
        }
        Listen(item.get(), DIID_IOEMenuItemEvents, "MenuItem " + std::to_string(id));
    }
    void Forget(const std::string& source) { listening_.erase(source); }

    size_t listening() const { return listening_.size(); }

private:
    std::vector<LONG> MsgWndIds() {
        std::vector<LONG> ids;
        LONG id = -1;
        for (root_->GetFirstMsgWndID(&id); id != -1 && ids.size() < 10000; root_->GetNextMsgWndID(&id))
            ids.push_back(id);
        return ids;
    }
    bool Listen(IUnknown* object, const IID& events, const std::string& source) {
        auto entry = std::make_unique<Listening>();
        com_ptr<IConnectionPointContainer> container;
        if (FAILED(object->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
            FAILED(container->FindConnectionPoint(events, entry->point.put())))
            return false;
        auto printer = com_ptr<EventPrinter>::attach(new EventPrinter(this, events, source));
        if (FAILED(entry->point->Advise(printer.get(), &entry->cookie))) return false;
        entry->object = com_ptr<IUnknown>(object);
        Print("listening on " + source);
        listening_[source] = std::move(entry);
        return true;
    }

    com_ptr<IPLUMEObj> root_;
    std::map<std::string, std::unique_ptr<Listening>> listening_;
};

STDMETHODIMP EventPrinter::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*, UINT*) {
    auto found = names_.byId.find(id);
    std::string line = source_ + "." + (found != names_.byId.end() ? found->second.first : "event " + std::to_string(id)) + "(";
    const UINT count = params ? params->cArgs : 0;
    std::vector<long> numbers;
    for (UINT i = 0; i < count; ++i) {
        const VARIANT& v = params->rgvarg[count - 1 - i];  // arguments arrive last first
        if (i) line += ", ";
        if (found != names_.byId.end() && i < found->second.second.size()) line += found->second.second[i] + "=";
        line += VariantText(v);
        numbers.push_back(V_VT(&v) == VT_I4 ? V_I4(&v) : 0);
    }
    Print(line + ")");
    // Message windows come into reach as they open and leave as they close.
    if (IsEqualIID(events_, DIID_IPLUMEObjEvents) && found != names_.byId.end()) {
        if (found->second.first == "OnNewMsgWnd" && !numbers.empty()) monitor_->ListenOnMsgWnd(numbers[0]);
        if (found->second.first == "OnMsgWndClosed" && !numbers.empty())
            monitor_->Forget("MsgWnd " + std::to_string(numbers[0]));
    }
    return S_OK;
}

}  // namespace

// The listed plug-ins whose last start went wrong (or was slow), those that
// run isolated because they ended the client, and isolated ones whose host
// died: one line each.
void PrintPluginTrouble() {
    for (bool machine : {true, false})
        for (bool isolated : {false, true})
            for (const auto& entry : plume::ReadPluginList(machine, nullptr, nullptr, isolated)) {
                const std::string name = plume::PluginEntryName(machine, entry.name, isolated);
                if (!entry.isString) continue;
                if (plume::PluginStartMarkLeft(name, entry.text)) {
                    Print("plug-in " + name + ": the client ended in it; it runs isolated from the next start");
                    continue;
                }
                if (plume::ReadPluginCrash(name, entry.text) == plume::CrashState::isolated)
                    Print("plug-in " + name + ": runs isolated in its own host process: it ended the client before");
                plume::PluginOutcome o;
                if (!plume::ReadPluginOutcome(name, &o) || o.text != entry.text) continue;
                const bool fine = o.outcome.rfind("loaded;", 0) == 0 || o.outcome.rfind("created", 0) == 0 ||
                                  (o.outcome.rfind("loaded, isolated", 0) == 0 &&
                                   o.outcome.find("exports no") == std::string::npos);
                const bool died = o.outcome.find("death") != std::string::npos ||
                                  o.outcome.find("died") != std::string::npos;
                if (!fine || died || o.outcome.find("slow") != std::string::npos)
                    Print("plug-in " + name + ": " + o.outcome);
            }
}

int main(int argc, char** argv) {
    long seconds = -1;
    bool list = false;
    std::vector<long> menuItems;
    for (int i = 1; i < argc; ++i) {
        if (!strcmp(argv[i], "--seconds") && i + 1 < argc) seconds = atol(argv[++i]);
        else if (!strcmp(argv[i], "--list")) list = true;
        else if (!strcmp(argv[i], "--menu-item") && i + 1 < argc) menuItems.push_back(atol(argv[++i]));
        else {
            fprintf(stderr, "usage: plume-monitor [--seconds N] [--list] [--menu-item ID ...]\n");
            return 2;
        }
    }
    PrintPluginTrouble();
    CoInitialize(nullptr);
    int rc = 0;
    {
        Monitor monitor;
        if (!monitor.Attach()) {
            rc = 1;
        } else if (list) {
            monitor.ListObjects();
        } else {
            monitor.ListenOnOpenMsgWnds();
            for (long id : menuItems) monitor.ListenOnMenuItem(id);
            const DWORD start = GetTickCount();
            while (seconds < 0 || GetTickCount() - start < static_cast<DWORD>(seconds) * 1000) {
                MsgWaitForMultipleObjects(0, nullptr, FALSE, 100, QS_ALLINPUT);
                MSG msg;
                while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
                    if (msg.message == WM_QUIT) seconds = 0;
                    DispatchMessageW(&msg);
                }
            }
            Print("done");
        }
    }
    CoUninitialize();
    return rc;
}
