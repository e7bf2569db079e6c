#include "Kiv_tasks.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <cerrno>
#include <cstdint>
#include <stdexcept>
#include <sys/eventfd.h>
#include <unistd.h>
#include <utility>

namespace Kiv_tasks {

const char* const UnknownExceptionMessage = "An unknown exception occured.";

bool IsMainThread() {
    const QCoreApplication* application = QCoreApplication::instance();
    return application && QThread::currentThread() == application->thread();
}

TTaskThread::TTaskThread() {
    WakeDescriptor = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (WakeDescriptor < 0)
        throw Kiv_framework::Exception("The program could not create a thread.");
    Notifier = std::make_unique<QSocketNotifier>(WakeDescriptor, QSocketNotifier::Read);
    QObject::connect(Notifier.get(), &QSocketNotifier::activated, Notifier.get(),
                     [this] { ServePendingCall(); });
    QObject::connect(this, &QThread::finished, this, &QObject::deleteLater);
}

TTaskThread::~TTaskThread() {
    Notifier.reset();
    ::close(WakeDescriptor);
}

void TTaskThread::DoExecute() {
    OnExecute(this);
}

void TTaskThread::run() {
    DoExecute();
    if (OnTerminate)
        RunOnMainThread(OnTerminate);
}

void TTaskThread::RunOnMainThread(const std::function<void()>& call) {
    std::unique_lock<std::mutex> lock(Lock);
    Pending = &call;
    Done = false;
    const std::uint64_t one = 1;
    while (::write(WakeDescriptor, &one, sizeof one) < 0 && errno == EINTR) {
    }
    Served.wait(lock, [this] { return Done; });
}

void TTaskThread::ServePendingCall() {
    std::uint64_t count = 0;
    while (::read(WakeDescriptor, &count, sizeof count) < 0 && errno == EINTR) {
    }
    const std::function<void()>* call = nullptr;
    {
        std::lock_guard<std::mutex> lock(Lock);
        call = std::exchange(Pending, nullptr);
    }
    if (!call)
        return;
    (*call)();
    std::lock_guard<std::mutex> lock(Lock);
    Done = true;
    Served.notify_one();
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
