// Calls to event sinks of other apartments (other processes, or other
// threads of this one) with a bound on the caller's wait.
//
// The sinks of one event are handed to a delivery thread of the library's
// multithreaded apartment at once; it calls them in turn while the server
// thread waits for it, serving incoming calls, at most kSinkAnswerMs for each
// sink's call. An apartment whose sink has not answered by then is taken for
// hung: the delivery thread that is still in its call stays with it, the
// server thread goes on with the next sinks on another delivery thread, and
// calls made to the hung apartment's sinks from then on wait in order until
// it answers. Nobody else waits for a hung apartment.
//
// The server thread holds no proxy of a sink of another apartment: its
// references live on delivery threads, and letting go of them (a call into
// the sink's process) is queued to that apartment and made off the server
// thread, after the calls before it. An apartment that hangs before anyone
// noticed holds only its own queue.
#pragma once

#include <oaidl.h>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

#include "com_ptr.h"
#include "sync.h"

namespace plume {

// How long the server thread waits for one sink of another apartment.
constexpr DWORD kSinkAnswerMs = 2000;
// Calls kept for one hung apartment; later ones are dropped.
constexpr size_t kMaxWaitingCalls = 1000;

class SinkApartment;
class RemoteSink;

// The calls of one event that had not answered when the server thread went
// on (they overran the bound, or wait for a hung apartment), for a raise
// that must know when the last of them has answered. Thread-safe.
class LateAnswers : public std::enable_shared_from_this<LateAnswers> {
public:
    // `allAnswered` runs once, on the thread of the last answer, when the
    // last call answers after Seal.
    explicit LateAnswers(std::function<void()> allAnswered) : allAnswered_(std::move(allAnswered)) {}
    LateAnswers(const LateAnswers&) = delete;
    LateAnswers& operator=(const LateAnswers&) = delete;

    // Delivery: a call to `sink` goes on without the server thread.
    void Expect(const std::shared_ptr<RemoteSink>& sink);
    // Delivery: one call to `sink` has returned (or will not be made).
    void Answered(const RemoteSink* sink);
    // Every call has been handed out. True when none is outstanding: then
    // `allAnswered` never runs.
    bool Seal();
    bool AllAnswered();

    // How long the quietest outstanding sink has given no sign of life (no
    // answer to its call nor to a probe); 0 when none is outstanding.
    DWORD LongestSilence();
    // Probes each outstanding sink that has been quiet for `quietMs` and has
    // no probe in flight. A sink whose process is gone counts as answered.
    void ProbeQuiet(DWORD quietMs);

private:
    struct Outstanding {
        std::shared_ptr<RemoteSink> sink;
        DWORD heard;  // tick of its last sign of life
        bool probing;
    };
    void Heard(const RemoteSink* sink, HRESULT hr);
    // Calls allAnswered_ when the last answer came after Seal; call unlocked.
    void ReportIfDone(bool done);

    critical_section lock_;
    std::vector<Outstanding> outstanding_;
    bool sealed_ = false;
    bool reported_ = false;
    std::function<void()> allAnswered_;
};

// Calls `dispid` on `sink` as a method with `args` as VT_I4 values (first
// argument first).
HRESULT InvokeWithLongs(IDispatch* sink, DISPID dispid, const std::vector<long>& args);

class RemoteSink {
public:
    // Null when `sink` is an object of the calling thread's apartment (it is
    // then called directly) or cannot be handed to a delivery thread.
    static std::shared_ptr<RemoteSink> For(IDispatch* sink);
    explicit RemoteSink(std::shared_ptr<SinkApartment> apartment, IStream* marshalled);
    ~RemoteSink();
    RemoteSink(const RemoteSink&) = delete;
    RemoteSink& operator=(const RemoteSink&) = delete;

    // Calls `dispid` with `args` as VT_I4 values (first argument first) on
    // each of `sinks` in turn. Returns each sink's result, or S_FALSE for a
    // call that waits for a hung apartment (or was dropped because too many
    // wait) and for a sink unadvised before its turn.
    // Calls that do not answer in time are reported to `late` when they do.
    static std::vector<HRESULT> InvokeEach(const std::vector<std::shared_ptr<RemoteSink>>& sinks, DISPID dispid,
                                           const std::vector<long>& args, DWORD boundMs = kSinkAnswerMs,
                                           const std::shared_ptr<LateAnswers>& late = nullptr);

    // Makes a short call into the sink's apartment (GetTypeInfoCount) on a
    // thread of its own, without waiting; `answered` runs on that thread
    // when the call returns, with its result. Nothing runs when the
    // apartment never answers.
    static void Probe(const std::shared_ptr<RemoteSink>& sink, std::function<void(HRESULT)> answered);

    // The sink's connection is gone: a call not yet made is not made.
    void MarkUnadvised() { unadvised_ = true; }
    bool unadvised() const { return unadvised_; }

    // A proxy of the sink for the calling thread's apartment, made on a
    // delivery thread within `boundMs`; null when its apartment does not
    // answer in time. Its last release is a call into the sink's process.
    static com_ptr<IUnknown> ProxyHere(const std::shared_ptr<RemoteSink>& sink, DWORD boundMs = kSinkAnswerMs);

    // True when `hr` says that the sink's process or apartment is gone.
    static bool IsGone(HRESULT hr);

    // Run on a delivery thread: the call itself; a proxy of the sink
    // marshalled for another apartment of this process.
    HRESULT CallOnDeliveryThread(DISPID dispid, const std::vector<long>& args);
    HRESULT ProbeOnDeliveryThread();
    HRESULT MarshalOnDeliveryThread(IStream** out);

    const std::shared_ptr<SinkApartment>& apartment() const { return apartment_; }
    // The process the sink lives in (from its apartment's OXID); 0 when unknown.
    DWORD ProcessId() const;

private:
    // The delivery threads' proxy, unmarshalled by the first call.
    HRESULT Proxy(com_ptr<IDispatch>* out);

    std::shared_ptr<SinkApartment> apartment_;
    critical_section proxyLock_;  // the first calls of two delivery threads at once
    IStream* marshalled_;         // until the first call unmarshals it
    IDispatch* proxy_ = nullptr;  // the multithreaded apartment's proxy
    std::atomic<bool> unadvised_{false};
};

// What delivery has done so far in this process (tests and the log).
struct SinkDeliveryStats {
    LONG timeouts;        // calls that did not answer within their bound
    LONG hungApartments;  // apartments taken for hung and not answering yet
    LONG waitingCalls;    // calls waiting for hung apartments now
    LONG droppedCalls;    // calls dropped because too many waited
    LONG deliveredLate;   // waiting calls carried out once their apartment answered
    LONG queuedReleases;  // releases of sinks not made yet (their apartment is busy or hung)
};
SinkDeliveryStats GetSinkDeliveryStats();

// Told of each apartment taken for hung, by its OXID (the process id in the
// high half), on the server thread; null: nobody.
void SetHungApartmentObserver(void (*observer)(ULONGLONG apartment));

// Ends the idle delivery threads (the server thread ends). Threads still in a
// call end by themselves when it returns.
void StopSinkDelivery();

}  // namespace plume
