// Runs one piece of work on a worker thread while the user interface stays responsive.
// The worker reaches the main thread only through Synchronize, a blocking hand-over
// served by the main thread's event loop (a modal dialog's loop too).
#pragma once

#include "Kiv_framework.h"

#include <QThread>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class QSocketNotifier;

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
class TTaskThread : public QThread {
public:
    TTaskThread();
    ~TTaskThread() override;

    virtual void DoExecute();
    // Runs call on the main thread and waits for it; call must not throw.
    void RunOnMainThread(const std::function<void()>& call);

    Kiv_framework::TEvent<TTaskThread*> OnExecute;
    // Called on the main thread after the body returned, while the worker waits.
    std::function<void()> OnTerminate;

protected:
    void run() override;

private:
    // The hand-over: the worker publishes its call in Pending and wakes the main thread
    // through an eventfd unless the main thread is serving already; the main thread runs
    // the call and sets Done. Waking a sleeping thread costs tens of microseconds, so each
    // side spins briefly first: the worker for its answer, the main thread for the next
    // call, serving calls back to back for up to one time slice before it returns to its
    // event loop (which the worker then wakes again). The fast path is lock-free; the
    // lock and condition only put a worker to sleep whose answer is slow. Each pair of
    // flags (Pending and MainServing, Done and WorkerSleeping) is written and then the
    // other read in sequentially consistent order, so that one side always sees the
    // other. The worker holds its own share of this state, so the main thread may delete
    // the thread object while the worker is still leaving Post.
    struct THandOver {
        int WakeDescriptor = -1;
        std::atomic<const std::function<void()>*> Pending{nullptr};
        std::atomic<bool> MainServing{false}; // the main thread is in Serve: no wake-up needed
        std::atomic<bool> Done{false};
        std::atomic<bool> WorkerSleeping{false};
        std::mutex Lock;
        std::condition_variable Served;

        THandOver();
        ~THandOver();
        void Post(const std::function<void()>& call);
        void Serve();

    private:
        void Wake() const;
        bool RunPending();
    };

    std::shared_ptr<THandOver> HandOver;
    std::unique_ptr<QSocketNotifier> Notifier;
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
    // main thread, waits, and raises there what it raised, as EMainThreadAbort or
    // EMainThreadException carrying the message.
    virtual void Synchronize(void* argument, std::function<void(void*)> method);

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
    void RunPendingCall();

    TSynchronizeArguments PendingCall;
};

} // namespace Kiv_tasks
