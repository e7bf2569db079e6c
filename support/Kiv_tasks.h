// Runs one piece of work on a worker thread while the user interface stays responsive.
// The worker reaches the main thread only through Synchronize, a blocking hand-over
// served by the main thread's event loop (a modal dialog's loop too).
#pragma once

#include "Kiv_framework.h"

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

class QSocketNotifier;
class QTimer;

namespace Kiv_tasks {

// A silent abort raised on the main thread during a hand-over, carried to the worker.
class EMainThreadAbort : public Kiv_framework::EAbort {
public:
    explicit EMainThreadAbort(const std::string& message) : EAbort(message) {}
};

// An error raised on the main thread during a hand-over, carried to the worker.
class EMainThreadException : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

extern const char* const UnknownExceptionMessage;

// True on the thread that runs the application's event loop.
bool IsMainThread();

// The worker thread. It deletes itself once its body and the termination handler ran.
//
// The worker hands calls to the main thread in one ordered queue. Most calls return
// nothing to the worker (a write-back, a progress report): they are queued and the worker
// goes on; the main thread runs them in batches. Only a call whose end the worker must
// see (RunOnMainThread) makes it wait, and a full queue. So a busy machine, where every
// thread switch waits for the scheduler, costs a wait per batch instead of one per call.
class TTaskThread : public QThread {
public:
    // Queued calls the main thread has not yet taken are held to this many; the worker
    // waits for room beyond it.
    static constexpr std::size_t QueueCapacity = 16384;
    // Keys of replaceable calls are 1 .. KeyCount - 1; 0 is a call never replaced.
    static constexpr int KeyCount = 8;

    TTaskThread();
    ~TTaskThread() override;

    virtual void DoExecute();
    // Worker: runs call on the main thread after every call queued before it, and waits
    // for it. call must not throw.
    void RunOnMainThread(std::function<void()> call);
    // Worker: queues call for the main thread and returns. A call queued with a key
    // replaces a call of the same key that the main thread has not taken yet (a newer
    // progress report makes the older one pointless); key 0 is never replaced. call must
    // not throw.
    void QueueOnMainThread(std::function<void()> call, int key = 0);

    Kiv_framework::TEvent<TTaskThread*> OnExecute;
    // Called on the main thread after the body returned and every queued call ran, while
    // the worker waits.
    std::function<void()> OnTerminate;

protected:
    void run() override;

private:
    // The shared queue. The worker appends under the lock; the main thread takes the whole
    // queue at once and runs it outside the lock, at most DeliverySlice at a time so that
    // its event loop keeps getting turns. It is woken through an eventfd when the worker
    // waits (for a call's end or for room); otherwise its timer wakes it every
    // DeliveryInterval, so that a flood of calls costs no wake-up each. The worker holds
    // its own share of this state, so the main thread may delete the thread object while
    // the worker is still leaving RunOnMainThread.
    struct THandOver {
        struct TCall {
            std::function<void()> Run; // empty: replaced by a newer call
            int Key = 0;
        };

        int WakeDescriptor = -1;
        std::atomic<bool> WakePending{false};
        std::mutex Lock;
        std::condition_variable Room;    // the queue has room again
        std::condition_variable Served;  // a waited-for call ran
        std::vector<TCall> Queue;        // under Lock
        int KeyAt[KeyCount];             // under Lock: where each key's call waits in Queue, or -1
        bool WorkerWaitsForRoom = false; // under Lock
        std::atomic<bool> Done{false};   // the waited-for call ran
        std::atomic<bool> WorkerSleeping{false};
        // Main thread only: the calls taken from Queue, and how far they ran.
        std::vector<TCall> Batch;
        std::size_t BatchNext = 0;
        bool Delivering = false;

        THandOver();
        ~THandOver();
        void Wake();
        void Post(std::function<void()> call, int key);
        void PostAndWait(std::function<void()> call);
        // Main thread: runs queued calls in order until none is left or the slice is used.
        void Deliver();

    private:
        bool TakeQueue();
    };

    std::shared_ptr<THandOver> HandOver;
    std::unique_ptr<QSocketNotifier> Notifier;
    std::unique_ptr<QTimer> Collector;
};

class TTask {
public:
    struct TSynchronizeArguments {
        std::function<void(void*)> Method;
        void* Argument = nullptr;
        bool Raised = false;
        bool Aborted = false;
        std::string Message;
    };

    TTask() = default;
    virtual ~TTask() = default;
    TTask(const TTask&) = delete;
    TTask& operator=(const TTask&) = delete;

    virtual void Execute() = 0;
    virtual void DoCancel();
    virtual void DoFinish();
    virtual void DoProgress(int position, int count);
    virtual void DoException(const Kiv_framework::Exception& error);
    virtual void Start();
    // The first call sets Cancelled and fires OnCancel; later calls do nothing.
    virtual void Cancel();
    // On the main thread: calls method(argument) in place. On the worker: runs it on the
    // main thread after the calls queued before it, waits, and raises there what it
    // raised, as EMainThreadAbort or EMainThreadException carrying the message.
    virtual void Synchronize(void* argument, std::function<void(void*)> method);
    // For a call that returns nothing to the worker. On the main thread: calls it in
    // place. On the worker: queues it for the main thread and goes on; the call runs
    // later, after everything queued or synchronised before it. A call with a key
    // replaces the call of that key still waiting (see TTaskThread::QueueOnMainThread).
    // When a queued call raises, the calls after it do not run, and the worker's next
    // Queue or Synchronize, or the end of Execute, raises what it raised, as Synchronize
    // would have.
    virtual void Queue(std::function<void()> call, int key = 0);

    // DoProgress queues its reports with this key: a newer report replaces an older one.
    static constexpr int ProgressKey = 1;

    TTaskThread* Thread = nullptr;
    std::atomic<bool> Cancelled{false};
    bool FreeOnTerminate = false;

    Kiv_framework::TEvent<TTask*> OnCancel;
    Kiv_framework::TEvent<TTask*> OnFinish;
    Kiv_framework::TEvent<TTask*, int, int> OnProgress;
    Kiv_framework::TEvent<TTask*, const Kiv_framework::Exception&> OnException;

private:
    void WorkerBody();
    void Terminated();
    // Runs method(argument) and notes in outcome what it raised.
    static void RunCaught(TSynchronizeArguments& outcome);
    // The hand-over of Synchronize; with skipAfterFailure the call does not run after a
    // queued call raised, and the worker raises that instead.
    void HandOver(void* argument, std::function<void(void*)> method, bool skipAfterFailure);
    [[noreturn]] static void Raise(const TSynchronizeArguments& outcome);

    TSynchronizeArguments PendingCall;
    // What the first failed queued call raised: written on the main thread before
    // QueuedFailed is set, read by the worker after it sees it set.
    TSynchronizeArguments QueuedFailure;
    std::atomic<bool> QueuedFailed{false};
};

} // namespace Kiv_tasks
