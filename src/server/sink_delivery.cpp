#include "server/sink_delivery.h"

#include <algorithm>
#include <cstring>
#include <deque>
#include <new>
#include <utility>

#include "com_apartment.h"
#include "log.h"
#include "server/module.h"
#include "unique_any.h"

namespace plume {

namespace {

SinkDeliveryStats g_stats;
std::atomic<void (*)(ULONGLONG)> g_hungObserver{nullptr};

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

// Releases what a delivery thread's apartment holds of a sink: calls into
// the sink's process.
void ReleaseMarshalled(IDispatch* proxy, IStream* marshalled) {
    if (proxy) proxy->Release();
    if (marshalled) {
        LARGE_INTEGER start{};
        marshalled->Seek(start, STREAM_SEEK_SET, nullptr);
        CoReleaseMarshalData(marshalled);
        marshalled->Release();
    }
}

// Waits for `handle` up to `timeoutMs`, serving incoming calls where the
// thread is in an apartment. A wait that fails sleeps instead of spinning.
void WaitServing(HANDLE handle, DWORD timeoutMs) {
    DWORD index;
    const HRESULT hr = CoWaitForMultipleHandles(0, timeoutMs, 1, &handle, &index);
    if (SUCCEEDED(hr) || hr == RPC_S_CALLPENDING) return;
    if (WaitForSingleObject(handle, timeoutMs) == WAIT_FAILED) Sleep(std::min<DWORD>(timeoutMs, 10));
}

}  // namespace

// One apartment that sinks live in, and the work waiting for it: calls while
// it does not answer, and releases of its sinks. One thread at a time works
// through the queue, in order, so that nothing else waits for the apartment.
class SinkApartment {
public:
    explicit SinkApartment(ULONGLONG key) : key_(key) {}
    ~SinkApartment() {
        for (Waiting& w : waiting_)
            if (!w.sink) InterlockedDecrement(&g_stats.queuedReleases);
    }
    ULONGLONG key() const { return key_; }

    bool hung() {
        cs_lock hold(lock_);
        return hung_;
    }
    // A call to it overran its bound and is still in progress.
    void MarkHung() {
        cs_lock hold(lock_);
        if (!hung_) InterlockedIncrement(&g_stats.hungApartments);
        hung_ = true;
        ++callsInProgress_;
        droppedWhileHung_ = 0;
    }
    // False when the apartment answers (the caller calls it itself).
    bool Enqueue(const std::shared_ptr<RemoteSink>& sink, DISPID dispid, const std::vector<long>& args,
                 const std::shared_ptr<LateAnswers>& late) {
        cs_lock hold(lock_);
        if (!hung_) return false;
        if (waiting_.size() >= kMaxWaitingCalls) {
            InterlockedIncrement(&g_stats.droppedCalls);
            if (droppedWhileHung_++ == 0)
                Log(0, "RemoteSink: %u calls wait for a hung client; later events to it are dropped.\n",
                    static_cast<unsigned>(kMaxWaitingCalls));
            return true;
        }
        waiting_.push_back({sink, dispid, args, late, nullptr, nullptr});
        InterlockedIncrement(&g_stats.waitingCalls);
        if (late) late->Expect(sink);
        return true;
    }
    // Queues the release of what a delivery thread holds of a sink; true when
    // the caller must start a thread working through the queue.
    bool EnqueueRelease(IDispatch* proxy, IStream* marshalled) {
        cs_lock hold(lock_);
        waiting_.push_back({nullptr, 0, {}, nullptr, proxy, marshalled});
        InterlockedIncrement(&g_stats.queuedReleases);
        if (working_ || callsInProgress_ > 0) return false;  // whoever is there takes it
        working_ = true;
        return true;
    }
    // The thread that was to work through the queue could not be had.
    void StopWorking() {
        cs_lock hold(lock_);
        working_ = false;
    }
    // The call that overran has returned: its thread works through what waited.
    void CallReturned() {
        {
            cs_lock hold(lock_);
            --callsInProgress_;
            if (working_) return;
            working_ = true;
        }
        WorkThroughQueue();
    }
    // Runs on a delivery thread: what waits, in order, until none is left.
    // Calls to sinks unadvised meanwhile are not made.
    void WorkThroughQueue() {
        LONG delivered = 0;
        bool answersAgain = false;
        for (;;) {
            Waiting next;
            {
                cs_lock hold(lock_);
                if (waiting_.empty()) {
                    working_ = false;
                    if (hung_ && callsInProgress_ == 0) {
                        hung_ = false;
                        answersAgain = true;
                        InterlockedDecrement(&g_stats.hungApartments);
                    }
                    break;
                }
                next = std::move(waiting_.front());
                waiting_.pop_front();
            }
            if (next.sink) {
                InterlockedDecrement(&g_stats.waitingCalls);
                if (!next.sink->unadvised()) {
                    next.sink->CallOnDeliveryThread(next.dispid, next.args);
                    InterlockedIncrement(&g_stats.deliveredLate);
                    ++delivered;
                }
                if (next.late) next.late->Answered(next.sink.get());
            } else {
                ReleaseMarshalled(next.release, next.releaseStream);
                InterlockedDecrement(&g_stats.queuedReleases);
            }
        }
        if (answersAgain)
            Log(0, "RemoteSink: a hung client answers again; %ld waiting call(s) delivered.\n",
                static_cast<long>(delivered));
    }

private:
    struct Waiting {
        std::shared_ptr<RemoteSink> sink;  // null for a release
        DISPID dispid;
        std::vector<long> args;
        std::shared_ptr<LateAnswers> late;  // told when the call is made
        IDispatch* release;
        IStream* releaseStream;
    };
    const ULONGLONG key_;
    critical_section lock_;
    bool hung_ = false;
    int callsInProgress_ = 0;  // overran calls not returned yet
    bool working_ = false;     // a thread works through the queue
    std::deque<Waiting> waiting_;
    size_t droppedWhileHung_ = 0;
};

namespace {

// What a batch asks of each of its sinks.
enum class BatchKind { Call, Marshal };

// The sinks of one event, handed to delivery threads in turn.
struct Batch {
    std::vector<std::shared_ptr<RemoteSink>> sinks;
    BatchKind kind;
    DISPID dispid;
    std::vector<long> args;
    std::vector<HRESULT> results;  // written under the lock of the invoker that made the call
    std::vector<IStream*> marshalled;  // for BatchKind::Marshal; the caller takes them
    std::shared_ptr<LateAnswers> late;  // told of calls that answer after their bound
};

// True when `sink` is not called now: it was unadvised, or the call waits
// for its hung apartment (queued here). Nothing but a call waits.
bool NotCalledNow(const std::shared_ptr<RemoteSink>& sink, const Batch& batch) {
    if (sink->unadvised()) return true;
    if (batch.kind != BatchKind::Call) return sink->apartment()->hung();
    return sink->apartment()->Enqueue(sink, batch.dispid, batch.args, batch.late);
}

// A thread of the library's multithreaded apartment. It holds a reference
// on the library's module, so that a call that returns after the library
// was unloaded still has code to return to. It carries out the calls of a
// batch in turn for the server thread, which waits for it with a bound on
// each call, and works through an apartment's queue on its own. A call that
// overruns leaves this thread to its apartment: when the call returns, the
// thread works through what waited and is idle again. Idle threads keep the
// multithreaded apartment, and with it the sinks' proxies, alive: when its
// last thread leaves it, those proxies are dead (CO_E_OBJNOTCONNECTED).
class Invoker {
public:
    bool Start() {
        module_ = HoldLibrary();
        thread_.reset(CreateThread(nullptr, 0, &Invoker::Entry, this, 0, nullptr));
        if (!thread_) {
            if (module_) FreeLibrary(module_);
            return false;
        }
        return true;
    }

    // Ends the thread once it has nothing left to do.
    void Stop() {
        {
            cs_lock hold(lock_);
            stop_ = true;
        }
        SetEvent(wake_.get());
    }

    // Calls batch->sinks[from..] in order. True once all are made; false
    // when the call to sinks[*stuck] did not answer within `boundMs`: the
    // later ones are then the caller's.
    bool Deliver(const std::shared_ptr<Batch>& batch, size_t from, DWORD boundMs, size_t* stuck) {
        {
            cs_lock hold(lock_);
            batch_ = batch;
            next_ = current_ = from;
            end_ = batch->sinks.size();
            lastProgress_ = GetTickCount();
            finished_ = false;
            ResetEvent(done_.get());
        }
        SetEvent(wake_.get());
        DWORD timeout = boundMs;
        for (;;) {
            WaitServing(done_.get(), timeout);
            cs_lock hold(lock_);
            if (finished_) return true;
            // The bound is per call: wait on while the call in progress is younger.
            const DWORD quiet = GetTickCount() - lastProgress_;
            if (quiet < boundMs) {
                timeout = boundMs - quiet;
                continue;
            }
            // Still in the call (or not yet in it): from now on this thread
            // belongs to the sink's apartment, which is hung until the call
            // returns. A call not started yet is still made, first.
            *stuck = current_;
            end_ = current_ + 1;
            stuckApartment_ = batch->sinks[current_]->apartment();
            stuckApartment_->MarkHung();
            if (batch->late) batch->late->Expect(batch->sinks[current_]);
            overran_ = true;
            return false;
        }
    }

    // Works through `apartment`'s queue, then is idle again.
    void WorkThrough(std::shared_ptr<SinkApartment> apartment) {
        {
            cs_lock hold(lock_);
            queueOf_ = std::move(apartment);
        }
        SetEvent(wake_.get());
    }

private:
    static DWORD WINAPI Entry(void* self) {
        auto* thread = static_cast<Invoker*>(self);
        const HMODULE module = thread->module_;
        {
            const com_apartment mta(COINIT_MULTITHREADED);
            try {
                thread->Run();
            } catch (...) {
                Log(0, "RemoteSink: a delivery thread ended on an exception.\n");
            }
        }
        delete thread;
        if (module) FreeLibraryAndExitThread(module, 0);
        return 0;
    }

    void Run();
    void RunBatch(const std::shared_ptr<Batch>& batch);

    critical_section lock_;
    unique_handle wake_{CreateEventW(nullptr, FALSE, FALSE, nullptr)};
    unique_handle done_{CreateEventW(nullptr, TRUE, FALSE, nullptr)};
    unique_handle thread_;
    HMODULE module_ = nullptr;
    bool stop_ = false;
    std::shared_ptr<Batch> batch_;
    std::shared_ptr<SinkApartment> queueOf_;
    size_t next_ = 0, end_ = 0, current_ = 0;
    DWORD lastProgress_ = 0;  // a call started or returned
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
    bool stopped = false;  // the server thread has ended: invokers end when done
    std::vector<std::weak_ptr<SinkApartment>> apartments;
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

// An idle invoker, made when there is none; null on failure. Calls come
// from a running server thread: after a stop, they start delivery again.
Invoker* TakeInvoker(bool forCall) {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    if (forCall) d.stopped = false;
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

// An invoker that has finished its work is idle again.
void ReturnInvoker(Invoker* invoker) {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    try {
        if (!d.stopped) {
            d.idle.push_back(invoker);
            return;
        }
    } catch (...) {
    }
    invoker->Stop();
}

void Invoker::Run() {
    for (;;) {
        if (WaitForSingleObject(wake_.get(), INFINITE) == WAIT_FAILED) return;
        std::shared_ptr<Batch> batch;
        std::shared_ptr<SinkApartment> queue;
        {
            cs_lock hold(lock_);
            batch = batch_;
            queue = std::move(queueOf_);
            if (stop_ && !batch && !queue) return;
        }
        if (queue) {
            queue->WorkThroughQueue();
            queue.reset();
            ReturnInvoker(this);
            continue;
        }
        if (!batch) continue;
        RunBatch(batch);
        // Let go while the server thread still holds the batch.
        batch.reset();
        std::shared_ptr<SinkApartment> stuck;
        {
            cs_lock hold(lock_);
            batch_.reset();
            finished_ = true;
            stuck = std::move(stuckApartment_);
            overran_ = false;  // the server thread let go of this thread at the overrun
            SetEvent(done_.get());
        }
        if (stuck) {
            stuck->CallReturned();
            stuck.reset();
            ReturnInvoker(this);
            continue;
        }
        cs_lock hold(lock_);
        if (stop_) return;
    }
}

void Invoker::RunBatch(const std::shared_ptr<Batch>& batch) {
    for (;;) {
        size_t i;
        {
            cs_lock hold(lock_);
            if (next_ >= end_) break;
            i = current_ = next_++;
            lastProgress_ = GetTickCount();
        }
        const std::shared_ptr<RemoteSink>& sink = batch->sinks[i];
        HRESULT hr = S_FALSE;
        IStream* marshalled = nullptr;
        // A call handed over before the bound ran out is made even when the
        // server thread has gone on meanwhile: it is the first for the apartment.
        if (!NotCalledNow(sink, *batch))
            hr = batch->kind == BatchKind::Marshal ? sink->MarshalOnDeliveryThread(&marshalled)
                                                   : sink->CallOnDeliveryThread(batch->dispid, batch->args);
        bool answeredLate = false;
        {
            cs_lock hold(lock_);
            lastProgress_ = GetTickCount();
            if (!overran_) {
                batch->results[i] = hr;
                if (batch->kind == BatchKind::Marshal) batch->marshalled[i] = std::exchange(marshalled, nullptr);
            } else {
                answeredLate = batch->late != nullptr;
            }
        }
        if (marshalled) ReleaseMarshalled(nullptr, marshalled);  // too late: nobody takes it
        if (answeredLate) batch->late->Answered(sink.get());
    }
}

// Carries out `batch` on delivery threads, each call bounded by `boundMs`.
void RunBounded(const std::shared_ptr<Batch>& batch, DWORD boundMs) {
    const auto& sinks = batch->sinks;
    for (size_t from = 0; from < sinks.size();) {
        // Calls that only wait for their hung apartment need no delivery thread.
        if (NotCalledNow(sinks[from], *batch)) {
            ++from;
            continue;
        }
        Invoker* invoker = TakeInvoker(true);
        if (!invoker) {
            std::fill(batch->results.begin() + from, batch->results.end(), E_OUTOFMEMORY);
            break;
        }
        size_t stuck = 0;
        if (invoker->Deliver(batch, from, boundMs, &stuck)) {
            ReturnInvoker(invoker);
            break;
        }
        // The invoker stays with the apartment until the call returns and it
        // has worked through what waits.
        InterlockedIncrement(&g_stats.timeouts);
        Log(0, "RemoteSink: a client did not answer event %ld within %lu ms; its events wait until it answers.\n",
            static_cast<long>(batch->dispid), static_cast<unsigned long>(boundMs));
        if (auto observer = g_hungObserver.load()) observer(sinks[stuck]->apartment()->key());
        from = stuck + 1;
    }
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
    // Letting go is a call into the sink's process: queued to its apartment,
    // after what waits for it, and made off this thread.
    if (!apartment_->EnqueueRelease(proxy_, marshalled_)) return;
    Invoker* invoker = TakeInvoker(false);
    if (invoker) {
        invoker->WorkThrough(apartment_);
        return;
    }
    apartment_->StopWorking();
    Log(0, "RemoteSink: no thread to release a sink on; it waits for the next one.\n");
}

HRESULT RemoteSink::Proxy(com_ptr<IDispatch>* out) {
    cs_lock hold(proxyLock_);
    if (!proxy_) {
        if (!marshalled_) return CO_E_OBJNOTCONNECTED;
        IStream* marshalled = std::exchange(marshalled_, nullptr);
        const HRESULT hr = CoGetInterfaceAndReleaseStream(marshalled, IID_IDispatch, reinterpret_cast<void**>(&proxy_));
        if (FAILED(hr) || !proxy_) {
            proxy_ = nullptr;
            return FAILED(hr) ? hr : E_NOINTERFACE;
        }
    }
    *out = com_ptr<IDispatch>(proxy_);
    return S_OK;
}

HRESULT RemoteSink::CallOnDeliveryThread(DISPID dispid, const std::vector<long>& args) {
    com_ptr<IDispatch> proxy;
    const HRESULT hr = Proxy(&proxy);
    return FAILED(hr) ? hr : InvokeWithLongs(proxy.get(), dispid, args);
}

HRESULT RemoteSink::ProbeOnDeliveryThread() {
    com_ptr<IDispatch> proxy;
    HRESULT hr = Proxy(&proxy);
    UINT count = 0;
    return FAILED(hr) ? hr : proxy->GetTypeInfoCount(&count);
}

namespace {

struct ProbeWork {
    std::shared_ptr<RemoteSink> sink;
    std::function<void(HRESULT)> answered;
    HMODULE module;
};

DWORD WINAPI ProbeEntry(void* param) {
    std::unique_ptr<ProbeWork> work(static_cast<ProbeWork*>(param));
    const HMODULE module = work->module;
    {
        const com_apartment mta(COINIT_MULTITHREADED);
        try {
            const HRESULT hr = work->sink->ProbeOnDeliveryThread();
            work->answered(hr);
        } catch (...) {
            Log(0, "RemoteSink: a probe ended on an exception.\n");
        }
        work.reset();
    }
    if (module) FreeLibraryAndExitThread(module, 0);
    return 0;
}

}  // namespace

void RemoteSink::Probe(const std::shared_ptr<RemoteSink>& sink, std::function<void(HRESULT)> answered) {
    std::unique_ptr<ProbeWork> work;
    try {
        work.reset(new ProbeWork{sink, std::move(answered), HoldLibrary()});
    } catch (...) {
        return;
    }
    unique_handle thread(CreateThread(nullptr, 0, &ProbeEntry, work.get(), 0, nullptr));
    if (thread) {
        work.release();
        return;
    }
    if (work->module) FreeLibrary(work->module);
    Log(0, "RemoteSink: no thread for a probe.\n");
}

void LateAnswers::Expect(const std::shared_ptr<RemoteSink>& sink) {
    cs_lock hold(lock_);
    outstanding_.push_back({sink, GetTickCount(), false});
}

void LateAnswers::Answered(const RemoteSink* sink) {
    bool done;
    {
        cs_lock hold(lock_);
        auto it = std::find_if(outstanding_.begin(), outstanding_.end(),
                               [&](const Outstanding& o) { return o.sink.get() == sink; });
        if (it != outstanding_.end()) outstanding_.erase(it);
        done = sealed_ && outstanding_.empty() && !std::exchange(reported_, true);
    }
    ReportIfDone(done);
}

void LateAnswers::Heard(const RemoteSink* sink, HRESULT hr) {
    bool done;
    {
        cs_lock hold(lock_);
        const DWORD now = GetTickCount();
        // Gone: it will never cancel anything.
        const bool gone = RemoteSink::IsGone(hr);
        for (auto it = outstanding_.begin(); it != outstanding_.end();) {
            if (it->sink.get() != sink) {
                ++it;
            } else if (gone) {
                it = outstanding_.erase(it);
            } else {
                it->heard = now;
                it->probing = false;
                ++it;
            }
        }
        done = sealed_ && outstanding_.empty() && !std::exchange(reported_, true);
    }
    ReportIfDone(done);
}

void LateAnswers::ReportIfDone(bool done) {
    if (done && allAnswered_) allAnswered_();
}

bool LateAnswers::Seal() {
    cs_lock hold(lock_);
    sealed_ = true;
    if (outstanding_.empty()) reported_ = true;
    return outstanding_.empty();
}

bool LateAnswers::AllAnswered() {
    cs_lock hold(lock_);
    return outstanding_.empty();
}

DWORD LateAnswers::LongestSilence() {
    cs_lock hold(lock_);
    const DWORD now = GetTickCount();
    DWORD longest = 0;
    for (const Outstanding& o : outstanding_) longest = std::max<DWORD>(longest, now - o.heard);
    return longest;
}

void LateAnswers::ProbeQuiet(DWORD quietMs) {
    std::vector<std::shared_ptr<RemoteSink>> quiet;
    {
        cs_lock hold(lock_);
        const DWORD now = GetTickCount();
        auto probing = [&](const std::shared_ptr<RemoteSink>& sink) {
            return std::any_of(outstanding_.begin(), outstanding_.end(),
                               [&](const Outstanding& o) { return o.sink == sink && o.probing; }) ||
                   std::find(quiet.begin(), quiet.end(), sink) != quiet.end();
        };
        // One probe per sink at a time, however often this runs.
        for (const Outstanding& o : outstanding_)
            if (now - o.heard >= quietMs && !probing(o.sink)) quiet.push_back(o.sink);
        for (Outstanding& o : outstanding_)
            if (std::find(quiet.begin(), quiet.end(), o.sink) != quiet.end()) o.probing = true;
    }
    std::weak_ptr<LateAnswers> self = weak_from_this();
    for (auto& sink : quiet) {
        const RemoteSink* which = sink.get();
        RemoteSink::Probe(sink, [self, which](HRESULT hr) {
            if (auto answers = self.lock()) answers->Heard(which, hr);
        });
    }
}

HRESULT RemoteSink::MarshalOnDeliveryThread(IStream** out) {
    com_ptr<IDispatch> proxy;
    const HRESULT hr = Proxy(&proxy);
    return FAILED(hr) ? hr : CoMarshalInterThreadInterfaceInStream(IID_IDispatch, proxy.get(), out);
}

std::vector<HRESULT> RemoteSink::InvokeEach(const std::vector<std::shared_ptr<RemoteSink>>& sinks, DISPID dispid,
                                             const std::vector<long>& args, DWORD boundMs,
                                             const std::shared_ptr<LateAnswers>& late) {
    auto batch = std::make_shared<Batch>(
        Batch{sinks, BatchKind::Call, dispid, args, std::vector<HRESULT>(sinks.size(), S_FALSE), {}, late});
    const DWORD started = GetTickCount();
    RunBounded(batch, boundMs);
    Log(5, "RemoteSink: event %ld to %u sink(s) delivered in %lu ms.\n", static_cast<long>(dispid),
        static_cast<unsigned>(sinks.size()), static_cast<unsigned long>(GetTickCount() - started));
    // Invokers that overran write no more results; the others have finished.
    return batch->results;
}

com_ptr<IUnknown> RemoteSink::ProxyHere(const std::shared_ptr<RemoteSink>& sink, DWORD boundMs) {
    auto batch = std::make_shared<Batch>(Batch{{sink}, BatchKind::Marshal, 0, {}, {S_FALSE}, {nullptr}, nullptr});
    RunBounded(batch, boundMs);
    com_ptr<IUnknown> here;
    if (IStream* stream = std::exchange(batch->marshalled[0], nullptr))
        CoGetInterfaceAndReleaseStream(stream, IID_IUnknown, here.put_void());
    return here;
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
    case 0x800706B5:  // RPC_S_UNKNOWN_IF: its apartment has ended (measured on Wine 8)
        return true;
    default:
        return false;
    }
}

void SetHungApartmentObserver(void (*observer)(ULONGLONG apartment)) { g_hungObserver = observer; }

DWORD RemoteSink::ProcessId() const { return apartment_ ? static_cast<DWORD>(apartment_->key() >> 32) : 0; }

SinkDeliveryStats GetSinkDeliveryStats() {
    SinkDeliveryStats copy;
    copy.timeouts = InterlockedCompareExchange(&g_stats.timeouts, 0, 0);
    copy.hungApartments = InterlockedCompareExchange(&g_stats.hungApartments, 0, 0);
    copy.waitingCalls = InterlockedCompareExchange(&g_stats.waitingCalls, 0, 0);
    copy.droppedCalls = InterlockedCompareExchange(&g_stats.droppedCalls, 0, 0);
    copy.deliveredLate = InterlockedCompareExchange(&g_stats.deliveredLate, 0, 0);
    copy.queuedReleases = InterlockedCompareExchange(&g_stats.queuedReleases, 0, 0);
    return copy;
}

void StopSinkDelivery() {
    Delivery& d = TheDelivery();
    cs_lock hold(d.lock);
    d.stopped = true;
    for (Invoker* invoker : d.idle) invoker->Stop();
    d.idle.clear();
}

}  // namespace plume
