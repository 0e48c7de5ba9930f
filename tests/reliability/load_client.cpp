// One of many clients under load. It attaches to the running mail client,
// makes a toolbar with the button "Load N" and the Tools menu item
// "Load item N", advises sinks on its root, toolbar, button and menu item,
// sets READY, and then, until the named event STOP is set, pumps and calls
// the library five times a second (so that calls and events cross). It then writes what
// each sink heard to OUT, one line per event, in arrival order per sink:
//   <object> <dispid> <arguments...>
// with object one of root, toolbar, button, item; and "calls <n>" with the
// number of calls it made and "failed <n>" with the number that failed.
// OUT.stage holds the step it is in while it ends, for a test whose client
// does not end.
// Usage: load_client.exe N STOP OUT READY
#include <windows.h>
#include <objbase.h>
#include <plume.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bstr.h"
#include "com_ptr.h"
#include "recording_sink.h"

using plume::com_ptr;

namespace {

constexpr long kToolsMenu = 3;  // File, Edit, View, Tools

// A recording sink advised on one object, unadvised when it goes.
class Advised {
public:
    Advised(IUnknown* source, const char* object, const IID& events)
        : object_(object), sink_(com_ptr<plume::test::RecordingSink>::attach(new plume::test::RecordingSink(events))) {
        com_ptr<IConnectionPointContainer> container;
        if (!source || FAILED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void())) ||
            FAILED(container->FindConnectionPoint(events, point_.put())))
            return;
        if (FAILED(point_->Advise(sink_.get(), &cookie_))) point_.reset();
    }
    ~Advised() {
        if (point_) point_->Unadvise(cookie_);
    }
    bool ok() const { return static_cast<bool>(point_); }
    // What the sink heard, one line per event.
    void Write(FILE* out) const {
        for (const auto& call : sink_->calls) {
            fprintf(out, "%s %ld", object_, static_cast<long>(call.dispid));
            for (long arg : call.args) fprintf(out, " %ld", arg);
            fprintf(out, "\n");
        }
    }

private:
    const char* object_;
    com_ptr<plume::test::RecordingSink> sink_;
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

// Records the step the client is in (OUT.stage).
class Stages {
public:
    explicit Stages(const char* out) : path_(std::string(out) + ".stage") {}
    ~Stages() { DeleteFileA(path_.c_str()); }
    void Enter(const char* step) const {
        if (FILE* f = fopen(path_.c_str(), "w")) {
            fprintf(f, "%s\n", step);
            fclose(f);
        }
    }

private:
    std::string path_;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 5) {
        fprintf(stderr, "usage: load_client.exe N STOP OUT READY\n");
        return 2;
    }
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
    const std::string n = argv[1];
    int rc = 0;
    long calls = 0, failed = 0;
    const Stages stages(argv[3]);
    {
        com_ptr<IPLUMEObj> root;
        if (FAILED(CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void())))
            return 1;
        com_ptr<IOEToolbar> toolbar;
        com_ptr<IOEButton> button;
        com_ptr<IOEMenu> tools;
        com_ptr<IOEMenuItem> item;
        const std::wstring wn(n.begin(), n.end());
        plume::bstr caption(L"Load " + wn), itemName(L"Load item " + wn);
        if (FAILED(root->CreateToolbar(toolbar.put())) ||
            FAILED(toolbar->CreateButton(caption.get(), nullptr, nullptr, button.put())) ||
            FAILED(root->GetMenu(kToolsMenu, tools.put())) ||
            FAILED(tools->CreateItem(itemName.get(), reinterpret_cast<OEMenuItem**>(item.put()))))
            return 1;
        Advised a(root.get(), "root", DIID_IPLUMEObjEvents), b(toolbar.get(), "toolbar", DIID_IOEToolbarEvents),
            c(button.get(), "button", DIID_IOEButtonEvents), d(item.get(), "item", DIID_IOEMenuItemEvents);
        if (!a.ok() || !b.ok() || !c.ok() || !d.ok()) return 1;

        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[4]);
        HANDLE stop = OpenEventA(SYNCHRONIZE, FALSE, argv[2]);
        if (!ready || !stop) return 1;
        SetEvent(ready);
        CloseHandle(ready);
        ULONGLONG nextCall = GetTickCount64();
        for (;;) {
            const DWORD r = MsgWaitForMultipleObjects(1, &stop, FALSE, 20, QS_ALLINPUT);
            if (r == WAIT_OBJECT_0) break;
            MSG msg;
            while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
            if (GetTickCount64() < nextCall) continue;
            nextCall = GetTickCount64() + 200;
            // Calls that cross the events on their way.
            long value = 0;
            ++calls;
            if (FAILED(root->GetSelectedFolderID(&value))) ++failed;
            ++calls;
            if (FAILED(toolbar->GetID(&value))) ++failed;
        }
        CloseHandle(stop);
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
        stages.Enter("RemoveAllToolbars");
        root->RemoveAllToolbars();
        stages.Enter("RemoveAllMenuItems");
        root->RemoveAllMenuItems();
        stages.Enter("writing what it heard");
        if (FILE* out = fopen(argv[3], "w")) {
            for (const Advised* sink : {&a, &b, &c, &d}) sink->Write(out);
            fprintf(out, "calls %ld\nfailed %ld\n", calls, failed);
            fclose(out);
        } else {
            rc = 1;
        }
        stages.Enter("Unadvise and release");
    }
    stages.Enter("CoUninitialize");
    CoUninitialize();
    return rc;
}
