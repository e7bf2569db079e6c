#include "Kiv_tasks.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace Kiv_tasks {

const char* const UnknownExceptionMessage = "An unknown exception occured.";

namespace {

// How often the main thread collects queued calls on its own: often enough that a list
// follows the work live, seldom enough to cost nothing.
constexpr std::chrono::milliseconds DeliveryInterval(10);
// The longest run of queued calls before the event loop gets its turn again: a window
// repaints and answers in time.
constexpr std::chrono::milliseconds DeliverySlice(4);
// Calls run between two looks at the clock.
constexpr int CallsPerClockLook = 8;
// A worker waiting for its call spins this many pauses (a few microseconds) before it
// sleeps: an idle main thread often answers that fast, and a busy one never does.
constexpr int WaitSpins = 256;

} // namespace

bool IsMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

// ---------------------------------------------------------------------------------------
// The hand-over

TTaskThread::THandOver::THandOver() : WakeDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (WakeDescriptor < 0)
        throw Kiv_framework::Exception("The program could not create a thread.");
    std::fill(std::begin(KeyAt), std::end(KeyAt), -1);
}

TTaskThread::THandOver::~THandOver() {
    ::close(WakeDescriptor);
}

void TTaskThread::THandOver::Wake() {
    if (WakePending.exchange(true))
        return; // the main thread has not read the last wake-up yet
    const std::uint64_t one = 1;
    while (::write(WakeDescriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TTaskThread::THandOver::Post(std::function<void()> call, int key) {
    std::unique_lock<std::mutex> lock(Lock);
    if (Queue.size() >= QueueCapacity) {
        WorkerWaitsForRoom = true;
        lock.unlock();
        Wake();
        lock.lock();
        Room.wait(lock, [this] { return Queue.size() < QueueCapacity; });
        WorkerWaitsForRoom = false;
    }
    if (key > 0) {
        int& at = KeyAt[key];
        if (at >= 0)
            Queue[static_cast<std::size_t>(at)].Run = nullptr;
        at = static_cast<int>(Queue.size());
    }
    Queue.push_back({std::move(call), key});
}

void TTaskThread::THandOver::PostAndWait(std::function<void()> call) {
    Done.store(false, std::memory_order_relaxed);
    Post(
        [this, call = std::move(call)] {
            call();
            Done.store(true);
            if (WorkerSleeping.load()) {
                std::lock_guard<std::mutex> lock(Lock);
                Served.notify_one();
            }
        },
        0);
    Wake();
    for (int spin = 0; spin < WaitSpins && !Done.load(std::memory_order_acquire); ++spin)
        Kiv_framework::SpinPause();
    if (Done.load(std::memory_order_acquire))
        return;
    std::unique_lock<std::mutex> lock(Lock);
    WorkerSleeping.store(true);
    Served.wait(lock, [this] { return Done.load(); });
    WorkerSleeping.store(false, std::memory_order_relaxed);
}

bool TTaskThread::THandOver::TakeQueue() {
    Batch.clear();
    BatchNext = 0;
    std::lock_guard<std::mutex> lock(Lock);
    Batch.swap(Queue);
    std::fill(std::begin(KeyAt), std::end(KeyAt), -1);
    if (WorkerWaitsForRoom)
        Room.notify_one();
    return !Batch.empty();
}

void TTaskThread::THandOver::Deliver() {
    // A call that runs a nested event loop (a message box) must not see the rest of the
    // batch run underneath it: the outer delivery goes on once it returns.
    if (Delivering)
        return;
    Delivering = true;
    const auto sliceEnd = std::chrono::steady_clock::now() + DeliverySlice;
    int sinceClockLook = 0;
    for (;;) {
        if (BatchNext == Batch.size() && !TakeQueue())
            break;
        std::function<void()> call = std::move(Batch[BatchNext++].Run);
        if (call)
            call();
        if (++sinceClockLook == CallsPerClockLook) {
            sinceClockLook = 0;
            if (std::chrono::steady_clock::now() >= sliceEnd) {
                // The event loop's turn; the wake-up brings this thread back after it.
                Delivering = false;
                Wake();
                return;
            }
        }
    }
    Delivering = false;
}

// ---------------------------------------------------------------------------------------
// TTaskThread

TTaskThread::TTaskThread()
    : HandOver(std::make_shared<THandOver>()),
      Notifier(std::make_unique<QSocketNotifier>(HandOver->WakeDescriptor, QSocketNotifier::Read)),
      Collector(std::make_unique<QTimer>()) {
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(), [this] {
        // Read before delivering: a wake-up posted meanwhile must stay readable.
        HandOver->WakePending.store(false);
        std::uint64_t count = 0;
        while (::read(HandOver->WakeDescriptor, &count, sizeof count) < 0 && errno == EINTR) {
        }
        HandOver->Deliver();
    });
    // The timer only wakes the notifier: one source delivers, so one turn of the event
    // loop runs one slice at most.
    QObject::connect(Collector.get(), &QTimer::timeout, Collector.get(),
                     [this] { HandOver->Wake(); });
    Collector->start(DeliveryInterval);
}

TTaskThread::~TTaskThread() = default;

void TTaskThread::DoExecute() {
    OnExecute(this);
}

void TTaskThread::run() {
    DoExecute();
    const std::shared_ptr<THandOver> handOver = HandOver;
    handOver->PostAndWait([this] {
        if (OnTerminate)
            OnTerminate();
        // The thread object goes from the main thread once the worker has left run(); a
        // finished() signal would carry the deletion across threads instead.
        QMetaObject::invokeMethod(
            this,
            [this] {
                wait();
                deleteLater();
            },
            Qt::QueuedConnection);
    });
}

void TTaskThread::RunOnMainThread(std::function<void()> call) {
    const std::shared_ptr<THandOver> handOver = HandOver;
    handOver->PostAndWait(std::move(call));
}

void TTaskThread::QueueOnMainThread(std::function<void()> call, int key) {
    if (key < 0 || key >= KeyCount)
        throw std::invalid_argument("QueueOnMainThread: bad key");
    HandOver->Post(std::move(call), key);
}

// ---------------------------------------------------------------------------------------
// TTask

void TTask::DoCancel() {
    if (OnCancel)
        Synchronize(nullptr, [this](void*) { OnCancel(this); });
}

void TTask::DoFinish() {
    if (OnFinish)
        Synchronize(nullptr, [this](void*) { OnFinish(this); });
}

void TTask::DoProgress(int position, int count) {
    if (!OnProgress)
        return;
    Queue([this, position, count] { OnProgress(this, position, count); }, ProgressKey);
}

void TTask::DoException(const Kiv_framework::Exception& error) {
    if (!OnException)
        return;
    if (IsMainThread()) {
        OnException(this, error);
        return;
    }
    // Runs also after a queued call failed: that failure is what it reports.
    HandOver(
        const_cast<Kiv_framework::Exception*>(&error),
        [this](void* argument) {
            OnException(this, *static_cast<const Kiv_framework::Exception*>(argument));
        },
        false);
}

void TTask::Start() {
    auto thread = std::make_unique<TTaskThread>();
    thread->OnExecute = [this](TTaskThread*) { WorkerBody(); };
    thread->OnTerminate = [this] { Terminated(); };
    // Stored before the worker runs: its first hand-over goes through it.
    Thread = thread.release(); // deletes itself when finished
    Thread->start();
}

void TTask::Cancel() {
    if (Cancelled.exchange(true))
        return;
    DoCancel();
}

void TTask::WorkerBody() {
    try {
        try {
            Execute();
            // Every queued call has run before the task ends; one that raised ends it
            // with that error.
            HandOver(
                nullptr, [](void*) {}, true);
        } catch (const Kiv_framework::EAbort&) {
            // A cancel ends the work quietly.
        } catch (const Kiv_framework::Exception& error) {
            DoException(error);
        } catch (...) {
            DoException(Kiv_framework::Exception(UnknownExceptionMessage));
        }
    } catch (...) {
        // Nothing leaves the worker body, not even a failure of the error handler.
    }
}

void TTask::Terminated() {
    try {
        DoFinish();
    } catch (...) {
    }
    if (FreeOnTerminate)
        delete this;
}

void TTask::RunCaught(TSynchronizeArguments& outcome) {
    outcome.Raised = false;
    outcome.Aborted = false;
    outcome.Message.clear();
    try {
        outcome.Method(outcome.Argument);
    } catch (const Kiv_framework::EAbort& abort) {
        outcome.Raised = true;
        outcome.Aborted = true;
        outcome.Message = abort.Message();
    } catch (const Kiv_framework::Exception& error) {
        outcome.Raised = true;
        outcome.Message = error.Message();
    } catch (...) {
        outcome.Raised = true;
        outcome.Message = UnknownExceptionMessage;
    }
}

void TTask::Raise(const TSynchronizeArguments& outcome) {
    if (outcome.Aborted)
        throw EMainThreadAbort(outcome.Message);
    throw EMainThreadException(outcome.Message);
}

void TTask::Synchronize(void* argument, std::function<void(void*)> method) {
    if (IsMainThread()) {
        method(argument);
        return;
    }
    HandOver(argument, std::move(method), true);
}

void TTask::HandOver(void* argument, std::function<void(void*)> method, bool skipAfterFailure) {
    if (skipAfterFailure && QueuedFailed.load(std::memory_order_acquire))
        Raise(QueuedFailure);
    PendingCall.Method = std::move(method);
    PendingCall.Argument = argument;
    bool skipped = false;
    Thread->RunOnMainThread([this, skipAfterFailure, &skipped] {
        // The main thread's own view of QueuedFailed: it is the one that sets it.
        if (skipAfterFailure && QueuedFailed.load(std::memory_order_relaxed))
            skipped = true;
        else
            RunCaught(PendingCall);
    });
    if (skipped)
        Raise(QueuedFailure);
    if (PendingCall.Raised)
        Raise(PendingCall);
}

void TTask::Queue(std::function<void()> call, int key) {
    if (IsMainThread()) {
        call();
        return;
    }
    if (QueuedFailed.load(std::memory_order_acquire))
        Raise(QueuedFailure);
    Thread->QueueOnMainThread(
        [this, call = std::move(call)] {
            if (QueuedFailed.load(std::memory_order_relaxed))
                return; // the worker stops at its next hand-over: as if it had waited
            QueuedFailure.Method = [&call](void*) { call(); };
            RunCaught(QueuedFailure);
            QueuedFailure.Method = nullptr;
            if (QueuedFailure.Raised)
                QueuedFailed.store(true, std::memory_order_release);
        },
        key);
}

} // namespace Kiv_tasks
