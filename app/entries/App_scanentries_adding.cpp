#include "App_scanentries_adding.h"

#include "App_common.h"
#include "Kiv_memory.h"

#include <QCoreApplication>
#include <chrono>
#include <optional>

namespace App_scanentries {

namespace {

// What one entry may cost the main thread when the list takes it: the view's record of its
// row and its selection, and its index and pointer in a list that has entries already (an
// empty list takes the task's).
constexpr std::size_t CommitBytesPerEntry = 24;

} // namespace

TAddProgress::~TAddProgress() = default;

std::string AddStatusText(int fileCount, const std::string& reading) {
    return App_common::CountToText(fileCount) + " files found\n" + reading;
}

TAddTask::TAddTask(const Kiv_dynamicarrays::TStringDynArray& paths) : Producer(paths) {}

void TAddTask::Execute() {
    using Clock = std::chrono::steady_clock;
    constexpr auto interval = std::chrono::milliseconds(ReportIntervalMs);
    auto next = Clock::now();
    for (;;) {
        if (OnStep)
            OnStep();
        if (Cancelled)
            Kiv_framework::Abort();
        if (!Producer.Step())
            break;
        if (const auto now = Clock::now(); now >= next) {
            next = now + interval;
            // A newer report replaces one the main thread has not shown yet.
            const int found = Producer.ProducedCount();
            Queue(
                [this, found, text = AddStatusText(found, Producer.Reading())] {
                    if (OnStatus)
                        OnStatus(text, found);
                },
                ProgressKey);
        }
    }
    // What the main thread would otherwise do while the window waits: the entries'
    // priority, as a drop makes them, and the memory the list will hold them in.
    Produced = Producer.TakeBatch(spSecondary);
}

void AddPathsInTask(TScanEntries& entries, const Kiv_dynamicarrays::TStringDynArray& paths,
                    TAddProgress& progress, int showDelayMs, const std::function<void()>& onStep) {
    if (paths.Length() == 0)
        return;
    // Not freed on termination: the entries are taken from it once it ended.
    auto task = std::make_unique<TAddTask>(paths);
    TAddTask* const running = task.get();
    task->OnStep = onStep;
    // While the window waits, it maps the memory that taking the entries will need at once.
    Kiv_memory::THeapWarmth warmth;
    task->OnStatus = [&progress, &warmth](const std::string& text, int found) {
        progress.SetText(text);
        warmth.WarmTo(static_cast<std::size_t>(found) * CommitBytesPerEntry);
    };
    std::optional<std::string> failure;
    task->OnException = [&failure](Kiv_tasks::TTask*, const Kiv_framework::Exception& error) {
        failure = error.Message();
    };
    bool finished = false;
    task->OnFinish = [&progress, &finished](Kiv_tasks::TTask*) {
        finished = true;
        progress.Finish();
    };
    progress.OnCancel = [running](TAddProgress*) { running->Cancel(); };
    progress.SetText(AddStatusText(0, paths[0]));
    try {
        task->Start();
    } catch (...) {
        progress.OnCancel.Clear();
        throw;
    }
    progress.Run(showDelayMs);
    progress.OnCancel.Clear();
    if (!finished) {
        // A window that closed before the task ended: the task stops and frees itself,
        // reaching nothing of this call.
        running->OnFinish.Clear();
        running->OnException.Clear();
        running->OnStatus = nullptr;
        running->FreeOnTerminate = true;
        running->Cancel();
        (void)task.release();
        throw Kiv_framework::EInvalidOperation("The add ended before its task.");
    }
    if (failure)
        throw App_common::EAppError(*failure);
    if (task->Cancelled)
        Kiv_framework::Abort();
    warmth.Release();
    entries.AddBatch(std::move(task->Produced));
    // The producer's record of every path it saw is freed at the event loop's next turn:
    // a million of them would add to this one.
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [spent = std::shared_ptr<TAddTask>(std::move(task))] { (void)spent; },
        Qt::QueuedConnection);
}

} // namespace App_scanentries
