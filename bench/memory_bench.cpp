// Memory over time: hundreds of cycles of creating and removing toolbars,
// buttons, menu items and message windows, each with a connected sink,
// against the running client. Reports the client's private bytes before and
// after, per thousand cycles, against the same client left alone for as long
// (the baseline: what it grows by itself).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>
#include <plume.h>

#include <cstdio>
#include <string>

#include "bench_report.h"
#include "bitmap_file.h"
#include "bstr.h"
#include "com_object.h"
#include "com_ptr.h"
#include "standin_process.h"

using plume::com_ptr;
using plume::bench::NowMicroseconds;
using plume::test::ClientVariant;
using plume::test::StandinProcess;

namespace {

constexpr int kWarmUp = 20;
constexpr int kCycles = 400;
// Opening a message window costs the client far more than the rest: one
// cycle in ten also opens and closes one.
constexpr int kWindowEvery = 10;
constexpr long kMainTools = 3;

class NullSink final : public plume::ref_counted<IDispatch> {
public:
    explicit NullSink(const IID& events) : events_(events) {}
    STDMETHODIMP GetTypeInfoCount(UINT* n) override { *n = 0; return S_OK; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { return S_OK; }

private:
    void* Cast(REFIID iid) override {
        return IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IDispatch) || IsEqualIID(iid, events_)
                   ? static_cast<IDispatch*>(this)
                   : nullptr;
    }
    IID events_;
};

// Advises a sink for the object's life in the cycle; unadvises at the end.
class Listening {
public:
    Listening(IUnknown* source, const IID& events) {
        com_ptr<IConnectionPointContainer> container;
        if (SUCCEEDED(source->QueryInterface(IID_IConnectionPointContainer, container.put_void())))
            container->FindConnectionPoint(events, point_.put());
        auto sink = com_ptr<NullSink>::attach(new NullSink(events));
        if (point_) point_->Advise(sink.get(), &cookie_);
    }
    ~Listening() {
        if (point_ && cookie_) point_->Unadvise(cookie_);
    }

private:
    com_ptr<IConnectionPoint> point_;
    DWORD cookie_ = 0;
};

double PrivateMegabytes(HANDLE process) {
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof counters;
    GetProcessMemoryInfo(process, reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters), sizeof counters);
    return static_cast<double>(counters.PrivateUsage) / (1024.0 * 1024.0);
}

void Cycle(int n, IPLUMEObj* root, StandinProcess& client, const plume::bstr& image) {
    com_ptr<IOEToolbar> toolbar;
    if (SUCCEEDED(root->CreateToolbar(toolbar.put())) && toolbar) {
        plume::bstr name(L"Cycle");
        com_ptr<IOEButton> button;
        toolbar->CreateButton(name.get(), image.get(), image.get(), button.put());
        if (button) {
            Listening listening(button.get(), DIID_IOEButtonEvents);
            button->Destroy();
        }
        toolbar->Destroy();
    }
    com_ptr<IOEMenu> menu;
    com_ptr<IOEMenuItem> item;
    plume::bstr text(L"Cycle item");
    if (SUCCEEDED(root->GetMenu(kMainTools, menu.put())) && menu &&
        SUCCEEDED(menu->CreateItem(text.get(), reinterpret_cast<OEMenuItem**>(item.put()))) && item) {
        Listening listening(item.get(), DIID_IOEMenuItemEvents);
        item->Destroy();
    }
    if (n % kWindowEvery) return;
    HWND note = client.Call(L"NewMessage").Hwnd();
    {
        com_ptr<IOEMsgWnd> window;
        root->GetMsgWnd(static_cast<LONG>(reinterpret_cast<INT_PTR>(note)), window.put());
        if (window) Listening listening(window.get(), DIID_IOEMsgWndEvents);
    }
    client.Call(L"CloseNote", {static_cast<long>(reinterpret_cast<INT_PTR>(note))});
}

}  // namespace

int main(int argc, char** argv) {
    CoInitialize(nullptr);
    {
        plume::bench::Report report("memory_bench: create and remove cycles against the client (Outlook Express variant)",
                                    argc, argv);
        auto client = StandinProcess::Start(ClientVariant::OutlookExpress, L"/resetstore /nosave");
        com_ptr<IPLUMEObj> root;
        CoCreateInstance(CLSID_PLUMEObj, nullptr, CLSCTX_LOCAL_SERVER, IID_IPLUMEObj, root.put_void());
        if (!root) {
            report.Note("no root object");
            return 1;
        }
        const std::wstring bitmap = plume::test::WriteBitmapFile(L"plume_memory_bench.bmp", 16, 16, RGB(0, 0, 160));
        plume::bstr image(bitmap.c_str());
        for (int i = 0; i < kWarmUp; ++i) Cycle(i, root.get(), *client, image);
        client->Call(L"Pump", {500});

        // The baseline: the client left alone as long as the cycles take.
        const double before = PrivateMegabytes(client->process());
        const double start = NowMicroseconds();
        for (int i = 0; i < kCycles; ++i) Cycle(i, root.get(), *client, image);
        const double seconds = (NowMicroseconds() - start) / 1e6;
        client->Call(L"Pump", {500});
        const double after = PrivateMegabytes(client->process());
        const double idleStart = PrivateMegabytes(client->process());
        StandinProcess::PumpFor(static_cast<DWORD>(seconds * 1000));
        const double idleEnd = PrivateMegabytes(client->process());

        const double perThousand = (after - before) * 1000.0 / kCycles;
        report.Row("private MB added per 1,000 cycles (baseline: the idle client, same time)", perThousand,
                   (idleEnd - idleStart) * 1000.0 / kCycles, "MB");
        report.Note(std::to_string(kCycles) + " cycles in " + std::to_string(static_cast<int>(seconds)) +
                    " s; private bytes " + std::to_string(before) + " MB before, " + std::to_string(after) +
                    " MB after");
        root.reset();
        client->Close();
    }
    CoUninitialize();
    return 0;
}
