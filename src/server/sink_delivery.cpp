#include "server/sink_delivery.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <utility>

#include "log.h"
#include "sync.h"
#include "unique_any.h"

namespace plume {

namespace {

SinkDeliveryStats g_stats;

// Standard object references: "MEOW", flags, IID, then the STDOBJREF whose
// OXID names the exporting apartment.
constexpr ULONG kObjRefSignature = 0x574f454d;
constexpr ULONG kObjRefStandard = 1;
constexpr size_t kOxidOffset = 32;

// Which apartment a marshalled reference leads to; 0 when unknown.
ULONGLONG ApartmentOf(IStream* marshalled) {
    HGLOBAL memory = nullptr;
    if (FAILED(GetHGlobalFromStream(marshalled, &memory)) || !memory) return 0;
    ULONGLONG oxid = 0;
    if (GlobalSize(memory) >= kOxidOffset + sizeof oxid) {
        const auto* bytes = static_cast<const unsigned char*>(GlobalLock(memory));
        if (bytes) {
            ULONG signature, flags;
            memcpy(&signature, bytes, sizeof signature);
            memcpy(&flags, bytes + 4, sizeof flags);
            if (signature == kObjRefSignature && flags == kObjRefStandard) memcpy(&oxid, bytes + kOxidOffset, sizeof oxid);
            GlobalUnlock(memory);
        }
    }
    return oxid;
}

bool IsMultithreadedThread() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    return SUCCEEDED(CoGetApartmentType(&type, &qualifier)) && type == APTTYPE_MTA;
}

// Releases what a delivery thread's apartment holds of a sink.
void ReleaseMarshalled(IDispatch* proxy, IStream* marshalled) {
    if (proxy) proxy->Release();
    if (marshalled) {
        LARGE_INTEGER start{};
        marshalled->Seek(start, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(marshalled);
        marshalled->Release();
    }
}

// A thread of the library's multithreaded apartment. It holds a reference
// on the library's module, so that a call that returns after the library
// was unloaded still has code to return to.
class DeliveryThread {
public:
    virtual ~DeliveryThread() = default;

    // Ends the thread once it has nothing left to do.
    void Stop() {
        {
            cs_lock hold(lock_);
            stop_ = true;
        }
        SetEvent(wake_.get());
    }

    bool Start() {
        HMODULE module = nullptr;
        GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCWSTR>(&ApartmentOf), &module);
        module_ = module;
        thread_.reset(CreateThread(nullptr, 0, &DeliveryThread::Entry, this, 0, nullptr));
        if (!thread_) {
            if (module_ && module_ != GetModuleHandleW(nullptr)) FreeLibrary(module_);
            return false;
        }
        return true;
    }

protected:
    virtual void Run() = 0;

    critical_section lock_;
    unique_handle wake_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    bool stop_ = false;

private:
    static DWORD WINAPI Entry(void* self) {
        auto* thread = static_cast<DeliveryThread*>(self);
        const HMODULE module = thread->module_;
        const HRESULT init = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        thread->Run();  // deletes nothing: the owner lets go of the object
        if (SUCCEEDED(init)) CoUninitialize();
        thread->Finished();
        if (module && module != GetModuleHandleW(nullptr)) FreeLibraryAndExitThread(module, 0);
        return 0;
    }
    // The last thing the thread does with its object.
    virtual void Finished() = 0;

    unique_handle thread_;
    HMODULE module_ = nullptr;
};

// Lets go of multithreaded-apartment proxies off the server thread: a release
// can wait for the sink's process. Nobody waits for this thread.
class Releaser final : public DeliveryThread {
public:
    void Add(IDispatch* proxy, IStream* marshalled) {
        {
            cs_lock hold(lock_);
            items_.push_back({proxy, marshalled});
        }
        SetEvent(wake_.get());
    }

private:
    void Run() override {
        for (;;) {
            WaitForSingleObject(wake_.get(), INFINITE);
            for (;;) {
                Item next;
                {
                    cs_lock hold(lock_);
                    if (items_.empty()) {
                        if (stop_) return;
                        break;
                    }
                    next = items_.front();
                    items_.pop_front();
                }
                ReleaseMarshalled(next.proxy, next.marshalled);
            }
        }
    }
    void Finished() override { delete this; }

    struct Item {
        IDispatch* proxy;
        IStream* marshalled;
    };
    std::deque<Item> items_;
};

}  // namespace

// One apartment that sinks live in, and the calls waiting for it while it
// does not answer.
class SinkApartment {
public:
    explicit SinkApartment(ULONGLONG key) : key_(key) {}
    ULONGLONG key() const { return key_; }

    bool hung() {
        cs_lock hold(lock_);
        return hung_;
    }
    void MarkHung() {
        cs_lock hold(lock_);
        if (!hung_) InterlockedIncrement(&g_stats.hungApartments);
        hung_ = true;
        droppedWhileHung_ = 0;
    }
    // False when the apartment answers (the caller calls it itself).
    bool Enqueue(const std::shared_ptr<RemoteSink>& sink, DISPID dispid, const std::vector<long>& args) {
        cs_lock hold(lock_);
        if (!hung_) return false;
        if (waiting_.size() >= kMaxWaitingCalls) {
            InterlockedIncrement(&g_stats.droppedCalls);
            if (droppedWhileHung_++ == 0)
                Log(0, "RemoteSink: %u calls wait for a hung client; later events to it are dropped.\n",
                    static_cast<unsigned>(kMaxWaitingCalls));
            return true;
        }
        waiting_.push_back({sink, dispid, args, nullptr, nullptr});
        InterlockedIncrement(&g_stats.waitingCalls);
        return true;
    }
    // False when the apartment answers (the caller releases them itself).
    bool EnqueueRelease(IDispatch* proxy, IStream* marshalled) {
        cs_lock hold(lock_);
        if (!hung_) return false;
        waiting_.push_back({nullptr, 0, {}, proxy, marshalled});
        return true;
    }
    // Runs on the delivery thread whose call did not answer in time, once it
    // has: the waiting calls in order, until none is left.
    void DeliverWaitingCalls() {
        LONG delivered = 0;
        for (;;) {
            Waiting next;
            {
                cs_lock hold(lock_);
                if (waiting_.empty()) {
                    hung_ = false;
                    InterlockedDecrement(&g_stats.hungApartments);
                    break;
                }
                next = std::move(waiting_.front());
                waiting_.pop_front();
            }
            if (next.sink) {
                InterlockedDecrement(&g_stats.waitingCalls);
                next.sink->CallOnDeliveryThread(next.dispid, next.args);
                InterlockedIncrement(&g_stats.deliveredLate);
                ++delivered;
            } else {
                ReleaseMarshalled(next.release, next.releaseStream);
            }
        }
        Log(0, "RemoteSink: a hung client answers again; %ld waiting call(s) delivered.\n", static_cast<long>(delivered));
    }

private:
    struct Waiting {
        std::shared_ptr<RemoteSink> sink;
        DISPID dispid;
        std::vector<long> args;
        IDispatch* release;
        IStream* releaseStream;
    };
    const ULONGLONG key_;
    critical_section lock_;
    bool hung_ = false;
    std::deque<Waiting> waiting_;
    size_t droppedWhileHung_ = 0;
};

namespace {

// The sinks of one event, handed to delivery threads in turn.
struct Batch {
    std::vector<std::shared_ptr<RemoteSink>> sinks;
    DISPID dispid;
    std::vector<long> args;
    std::vector<HRESULT> results;  // written under the lock of the invoker that made the call
};

// True when `sink` is not called now: it was unadvised, or the call waits
// for its hung apartment (queued here).
bool NotCalledNow(const std::shared_ptr<RemoteSink>& sink, DISPID dispid, const std::vector<long>& args) {
    return sink->unadvised() || sink->apartment()->Enqueue(sink, dispid, args);
}

// Makes one call to `sink` on a delivery thread; S_FALSE when it is not made now.
HRESULT CallNow(const std::shared_ptr<RemoteSink>& sink, const Batch& batch) {
    if (NotCalledNow(sink, batch.dispid, batch.args)) return S_FALSE;
    return sink->CallOnDeliveryThread(batch.dispid, batch.args);
}

// Carries out the calls of a batch in turn for the server thread, which waits
// for it with a bound on each call. A call that overruns leaves this thread
// to its apartment: when the call returns, the thread delivers what waited
// and ends.
class Invoker final : public DeliveryThread {
public:
    // Calls batch->sinks[from..] in order. True once all are made; false
    // when the call to sinks[*stuck] did not answer within `boundMs`: the
    // later ones are then the caller's.
    bool Deliver(const std::shared_ptr<Batch>& batch, size_t from, DWORD boundMs, size_t* stuck) {
        {
            cs_lock hold(lock_);
            batch_ = batch;
            next_ = current_ = from;
            end_ = batch->sinks.size();
            callStarted_ = GetTickCount();
            finished_ = false;
            ResetEvent(done_.get());
        }
        SetEvent(wake_.get());
        HANDLE done = done_.get();
        DWORD timeout = boundMs;
        for (;;) {
            DWORD index;
            if (CoWaitForMultipleHandles(0, timeout, 1, &done, &index) == CO_E_NOTINITIALIZED)
                WaitForSingleObject(done, timeout);
            cs_lock hold(lock_);
            if (finished_) return true;
            // The bound is per call: wait on while the call in progress is younger.
            const DWORD inCall = GetTickCount() - callStarted_;
            if (inCall < boundMs) {
                timeout = boundMs - inCall;
                continue;
            }
            // Still in the call: from now on this thread belongs to the sink's
            // apartment, which is hung until the call returns.
            *stuck = current_;
            end_ = current_ + 1;
            stuckApartment_ = batch->sinks[current_]->apartment();
            stuckApartment_->MarkHung();
            overran_ = true;
            return false;
        }
    }

private:
    void Run() override {
        for (;;) {
            WaitForSingleObject(wake_.get(), INFINITE);
            std::shared_ptr<Batch> batch;
            {
                cs_lock hold(lock_);
                if (stop_ && !batch_) return;
                if (!batch_) continue;
                batch = batch_;
            }
            for (;;) {
                size_t i;
                {
                    cs_lock hold(lock_);
                    if (overran_ || next_ >= end_) break;
                    i = current_ = next_++;
                    callStarted_ = GetTickCount();
                }
                const HRESULT hr = CallNow(batch->sinks[i], *batch);
                cs_lock hold(lock_);
                if (!overran_) batch->results[i] = hr;
            }
            // Let go while the server thread still holds the batch: a last
            // reference to a sink is then released off this thread.
            batch.reset();
            std::shared_ptr<SinkApartment> stuck;
            {
                cs_lock hold(lock_);
                batch_.reset();
                finished_ = true;
                stuck = std::move(stuckApartment_);
                SetEvent(done_.get());
            }
            if (stuck) {
                stuck->DeliverWaitingCalls();
                return;
            }
            cs_lock hold(lock_);
            if (stop_) return;
        }
    }
    void Finished() override { delete this; }

    unique_handle done_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    std::shared_ptr<Batch> batch_;
    size_t next_ = 0, end_ = 0, current_ = 0;
    DWORD callStarted_ = 0;  // of the call to sinks[current_]
    std::shared_ptr<SinkApartment> stuckApartment_;
    bool finished_ = false;
    bool overran_ = false;
};

// The delivery threads and the apartments known so far.
struct Delivery {
    critical_section lock;
    // Idle invokers. One in a call is taken out: a call made while another is
    // in progress (a handler calling back into the library, which raises an
    // event there and then) gets an invoker of its own.
    std::vector<Invoker*> idle;
    Releaser* releaser = nullptr;
    std::vector<std::weak_ptr<SinkApartment>> apartments;
    struct Deferred {
        std::shared_ptr<SinkApartment> apartment;
        DWORD thread;
        IDispatch* proxy;
    };
    std::vector<Deferred> deferred;  // the callers' own proxies of hung apartments
};

Delivery& TheDelivery() {
    static Delivery* delivery = new Delivery;  // outlives static destruction
    return *delivery;
}

std::shared_ptr<SinkApartment> ApartmentFor(ULONGLONG key) {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    std::shared_ptr<SinkApartment> found;
    for (auto it = d.apartments.begin(); it != d.apartments.end();) {
        auto apartment = it->lock();
        if (!apartment) {
            it = d.apartments.erase(it);
            continue;
        }
        if (key && apartment->key() == key) found = apartment;
        ++it;
    }
    if (found) return found;
    auto made = std::make_shared<SinkApartment>(key);
    d.apartments.push_back(made);
    return made;
}

// An idle invoker for the next call, made when there is none; null on failure.
Invoker* TakeInvoker() {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    if (!d.idle.empty()) {
        Invoker* invoker = d.idle.back();
        d.idle.pop_back();
        return invoker;
    }
    auto* invoker = new (std::nothrow) Invoker;
    if (invoker && !invoker->Start()) {
        delete invoker;
        return nullptr;
    }
    return invoker;
}

// An invoker whose call was answered is idle again.
void ReturnInvoker(Invoker* invoker) {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    try {
        d.idle.push_back(invoker);
    } catch (...) {
        invoker->Stop();
    }
}

void ReleaseOnReleaser(IDispatch* proxy, IStream* marshalled) {
    Delivery& d = TheDelivery();
    {
        cs_lock hold(d.lock);
        if (!d.releaser) {
            auto* releaser = new (std::nothrow) Releaser;
            if (releaser && releaser->Start()) d.releaser = releaser;
            else delete releaser;
        }
        if (d.releaser) {
            d.releaser->Add(proxy, marshalled);
            return;
        }
    }
    // No thread to give it to: kept, rather than released on a thread of
    // another apartment.
    Log(0, "RemoteSink: no thread to release a sink on; kept.\n");
}

}  // namespace

HRESULT InvokeWithLongs(IDispatch* sink, DISPID dispid, const std::vector<long>& args) {
    std::vector<VARIANTARG> params(args.size());
    for (size_t i = 0; i < args.size(); ++i) {  // last argument first
        VARIANTARG& param = params[args.size() - 1 - i];
        VariantInit(&param);
        V_VT(&param) = VT_I4;
        V_I4(&param) = args[i];
    }
    DISPPARAMS dp = {params.data(), nullptr, static_cast<UINT>(params.size()), 0};
    return sink->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &dp, nullptr, nullptr, nullptr);
}

std::shared_ptr<RemoteSink> RemoteSink::For(IDispatch* sink) {
    if (!sink) return nullptr;
    // Proxies answer IClientSecurity; objects of this apartment (and
    // free-threaded ones) do not and are called directly.
    com_ptr<IUnknown> security;
    if (FAILED(sink->QueryInterface(IID_IClientSecurity, security.put_void())) || !security) return nullptr;
    IStream* marshalled = nullptr;
    if (FAILED(CoMarshalInterThreadInterfaceInStream(IID_IDispatch, sink, &marshalled)) || !marshalled) return nullptr;
    try {
        return std::make_shared<RemoteSink>(ApartmentFor(ApartmentOf(marshalled)), marshalled);
    } catch (...) {
        ReleaseMarshalled(nullptr, marshalled);
        return nullptr;
    }
}

RemoteSink::RemoteSink(std::shared_ptr<SinkApartment> apartment, IStream* marshalled)
    : apartment_(std::move(apartment)), marshalled_(marshalled) {}

RemoteSink::~RemoteSink() {
    if (!proxy_ && !marshalled_) return;
    if (IsMultithreadedThread()) {
        // A delivery thread let go of the last call: its apartment answered.
        ReleaseMarshalled(proxy_, marshalled_);
    } else if (!apartment_->EnqueueRelease(proxy_, marshalled_)) {
        ReleaseOnReleaser(proxy_, marshalled_);
    }
}

HRESULT RemoteSink::CallOnDeliveryThread(DISPID dispid, const std::vector<long>& args) {
    if (!proxy_) {
        if (!marshalled_) return CO_E_OBJNOTCONNECTED;
        IStream* marshalled = std::exchange(marshalled_, nullptr);
        const HRESULT hr = CoGetInterfaceAndReleaseStream(marshalled, IID_IDispatch, reinterpret_cast<void**>(&proxy_));
        if (FAILED(hr) || !proxy_) {
            proxy_ = nullptr;
            return FAILED(hr) ? hr : E_NOINTERFACE;
        }
    }
    return InvokeWithLongs(proxy_, dispid, args);
}

std::vector<HRESULT> RemoteSink::InvokeEach(const std::vector<std::shared_ptr<RemoteSink>>& sinks, DISPID dispid,
                                             const std::vector<long>& args, DWORD boundMs) {
    ReleaseDeferredProxies();
    auto batch = std::make_shared<Batch>(Batch{sinks, dispid, args, std::vector<HRESULT>(sinks.size(), S_FALSE)});
    const DWORD started = GetTickCount();
    for (size_t from = 0; from < sinks.size();) {
        // Calls that only wait for their hung apartment need no delivery thread.
        if (NotCalledNow(sinks[from], dispid, args)) {
            ++from;
            continue;
        }
        Invoker* invoker = TakeInvoker();
        if (!invoker) {
            std::fill(batch->results.begin() + from, batch->results.end(), E_OUTOFMEMORY);
            break;
        }
        size_t stuck = 0;
        if (invoker->Deliver(batch, from, boundMs, &stuck)) {
            ReturnInvoker(invoker);
            break;
        }
        // The invoker stays with the apartment and ends after delivering what waits.
        InterlockedIncrement(&g_stats.timeouts);
        Log(0, "RemoteSink: a client did not answer event %ld within %lu ms; its events wait until it answers.\n",
            static_cast<long>(dispid), static_cast<unsigned long>(boundMs));
        from = stuck + 1;
    }
    Log(5, "RemoteSink: event %ld to %u sink(s) delivered in %lu ms.\n", static_cast<long>(dispid),
        static_cast<unsigned>(sinks.size()), static_cast<unsigned long>(GetTickCount() - started));
    // Invokers that overran write no more results; the others have finished.
    return batch->results;
}

void RemoteSink::ReleaseProxy(com_ptr<IDispatch> proxy) {
    if (!proxy) return;
    if (apartment_->hung()) {
        Delivery& d = TheDelivery();
        cs_lock hold(d.lock);
        try {
            d.deferred.push_back({apartment_, GetCurrentThreadId(), proxy.get()});
            proxy.detach();
        } catch (...) {
            proxy.detach();  // kept rather than released into a hung client
        }
        return;
    }
    proxy.reset();
}

void ReleaseDeferredProxies() {
    std::vector<IDispatch*> ready;
    {
        Delivery& d = TheDelivery();
        cs_lock hold(d.lock);
        if (d.deferred.empty()) return;
        const DWORD self = GetCurrentThreadId();
        for (auto it = d.deferred.begin(); it != d.deferred.end();) {
            if (it->thread == self && !it->apartment->hung()) {
                ready.push_back(it->proxy);
                it = d.deferred.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (IDispatch* proxy : ready) proxy->Release();
}

bool RemoteSink::IsGone(HRESULT hr) {
    switch (static_cast<ULONG>(hr)) {
    case 0x80010108:  // RPC_E_DISCONNECTED
    case 0x80010007:  // RPC_E_SERVER_DIED
    case 0x80010012:  // RPC_E_SERVER_DIED_DNE
    case 0x800401FD:  // CO_E_OBJNOTCONNECTED
    case 0x800706BA:  // RPC_S_SERVER_UNAVAILABLE
    case 0x800706BE:  // RPC_S_CALL_FAILED
    case 0x800706BF:  // RPC_S_CALL_FAILED_DNE
        return true;
    default:
        return false;
    }
}

SinkDeliveryStats GetSinkDeliveryStats() {
    SinkDeliveryStats copy;
    copy.timeouts = InterlockedCompareExchange(&g_stats.timeouts, 0, 0);
    copy.hungApartments = InterlockedCompareExchange(&g_stats.hungApartments, 0, 0);
    copy.waitingCalls = InterlockedCompareExchange(&g_stats.waitingCalls, 0, 0);
    copy.droppedCalls = InterlockedCompareExchange(&g_stats.droppedCalls, 0, 0);
    copy.deliveredLate = InterlockedCompareExchange(&g_stats.deliveredLate, 0, 0);
    return copy;
}

void StopSinkDelivery() {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    for (Invoker* invoker : d.idle) invoker->Stop();
    d.idle.clear();
    if (d.releaser) std::exchange(d.releaser, nullptr)->Stop();
}

}  // namespace plume
