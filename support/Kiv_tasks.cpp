#include "Kiv_tasks.h"

#include <QCoreApplication>
#include <QSocketNotifier>
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

// Long enough for the main thread to wake up and run a short call, short enough not to
// matter when it is busy elsewhere.
constexpr std::chrono::microseconds SpinTime(200);
// The longest run of back-to-back calls before the event loop gets its turn, so that a
// window stays responsive during a fast scan.
constexpr std::chrono::milliseconds ServeSlice(10);
// How long the main thread waits for the worker's next call before it sleeps: far longer
// than the worker's own work between two calls, short enough not to keep a core from
// threads that read files while the worker waits for them.
constexpr std::chrono::microseconds NextCallWait(200);

} // namespace

bool IsMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

TTaskThread::THandOver::THandOver() : WakeDescriptor(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
    if (WakeDescriptor < 0)
        throw Kiv_framework::Exception("The program could not create a thread.");
}

TTaskThread::THandOver::~THandOver() {
    ::close(WakeDescriptor);
}

void TTaskThread::THandOver::Wake() const {
    const std::uint64_t one = 1;
    while (::write(WakeDescriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
}

void TTaskThread::THandOver::Post(const std::function<void()>& call) {
    Done.store(false, std::memory_order_relaxed);
    Pending.store(&call);
    if (!MainServing.load())
        Wake();
    const auto spinUntil = std::chrono::steady_clock::now() + SpinTime;
    while (!Done.load(std::memory_order_acquire) && std::chrono::steady_clock::now() < spinUntil)
        Kiv_framework::SpinPause();
    if (Done.load(std::memory_order_acquire))
        return;
    std::unique_lock<std::mutex> lock(Lock);
    WorkerSleeping.store(true);
    Served.wait(lock, [this] { return Done.load(); });
    WorkerSleeping.store(false, std::memory_order_relaxed);
}

bool TTaskThread::THandOver::RunPending() {
    const std::function<void()>* call = Pending.exchange(nullptr, std::memory_order_acquire);
    if (!call)
        return false;
    (*call)();
    Done.store(true);
    if (WorkerSleeping.load()) {
        std::lock_guard<std::mutex> lock(Lock);
        Served.notify_one();
    }
    return true;
}

void TTaskThread::THandOver::Serve() {
    std::uint64_t count = 0;
    while (::read(WakeDescriptor, &count, sizeof count) < 0 && errno == EINTR) {
    }
    MainServing.store(true);
    const auto sliceEnd = std::chrono::steady_clock::now() + ServeSlice;
    while (RunPending()) {
        // Wait a moment for the worker's next call instead of a round trip through the
        // event loop; give the loop its turn when the slice is used up.
        auto now = std::chrono::steady_clock::now();
        const auto spinUntil = now + NextCallWait;
        while (!Pending.load(std::memory_order_relaxed) && now < spinUntil && now < sliceEnd) {
            Kiv_framework::SpinPause();
            now = std::chrono::steady_clock::now();
        }
        if (now >= sliceEnd)
            break;
    }
    MainServing.store(false);
    // A call posted while this thread was leaving, whose worker saw it still serving:
    // the event loop serves it next turn.
    if (Pending.load())
        Wake();
}

TTaskThread::TTaskThread()
    : HandOver(std::make_shared<THandOver>()),
      Notifier(std::make_unique<QSocketNotifier>(HandOver->WakeDescriptor, QSocketNotifier::Read)) {
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                     [this] { HandOver->Serve(); });
}

TTaskThread::~TTaskThread() = default;

void TTaskThread::DoExecute() {
    OnExecute(this);
}

void TTaskThread::run() {
    DoExecute();
    const std::shared_ptr<THandOver> handOver = HandOver;
    handOver->Post([this] {
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

void TTaskThread::RunOnMainThread(const std::function<void()>& call) {
    HandOver->Post(call);
}

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
    std::pair<int, int> numbers(position, count);
    Synchronize(&numbers, [this](void* argument) {
        const auto* pair = static_cast<std::pair<int, int>*>(argument);
        OnProgress(this, pair->first, pair->second);
    });
}

void TTask::DoException(const Kiv_framework::Exception& error) {
    if (!OnException)
        return;
    Synchronize(const_cast<Kiv_framework::Exception*>(&error), [this](void* argument) {
        OnException(this, *static_cast<const Kiv_framework::Exception*>(argument));
    });
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

void TTask::RunPendingCall() {
    try {
        PendingCall.Method(PendingCall.Argument);
    } catch (const Kiv_framework::EAbort& abort) {
        PendingCall.Raised = true;
        PendingCall.Aborted = true;
        PendingCall.Message = abort.Message();
    } catch (const Kiv_framework::Exception& error) {
        PendingCall.Raised = true;
        PendingCall.Message = error.Message();
    } catch (...) {
        PendingCall.Raised = true;
        PendingCall.Message = UnknownExceptionMessage;
    }
}

void TTask::Synchronize(void* argument, std::function<void(void*)> method) {
    if (IsMainThread()) {
        method(argument);
        return;
    }
    PendingCall.Method = std::move(method);
    PendingCall.Argument = argument;
    PendingCall.Raised = false;
    PendingCall.Aborted = false;
    PendingCall.Message.clear();
    Thread->RunOnMainThread([this] { RunPendingCall(); });
    if (!PendingCall.Raised)
        return;
    if (PendingCall.Aborted)
        throw EMainThreadAbort(PendingCall.Message);
    throw EMainThreadException(PendingCall.Message);
}

} // namespace Kiv_tasks
