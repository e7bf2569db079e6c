// The window's add: the producer runs on a worker thread of the task framework while the
// progress dialog of the scan stands by, shown only when the add lasts; all or nothing,
// a cancelled or failed add leaves the list as it was.
#pragma once

#include "App_scanentries.h"
#include "Kiv_framework.h"
#include "Kiv_tasks.h"

#include <functional>
#include <memory>
#include <string>

namespace App_scanentries {

// The modal window an add runs behind (the scan's progress dialog in the window). Only
// Finish ends Run; a cancel request only calls OnCancel.
class TAddProgress {
public:
    virtual ~TAddProgress();
    // Shows nothing for showDelayMs and then the dialog, unless Finish came first; the
    // window takes no input meanwhile but repaints. Returns once Finish was called.
    virtual void Run(int showDelayMs) = 0;
    virtual void Finish() = 0;
    virtual void SetText(const std::string& text) = 0;

    Kiv_framework::TEvent<TAddProgress*> OnCancel;
};

// How long an add runs before its dialog shows.
inline constexpr int AddDialogDelayMs = 500;

// "12,345 files found" and the folder being read, on a line of its own.
std::string AddStatusText(int fileCount, const std::string& reading);

// The producer stepped to its end on the worker, reporting what it found now and then.
class TAddTask : public Kiv_tasks::TTask {
public:
    explicit TAddTask(const Kiv_dynamicarrays::TStringDynArray& paths);

    void Execute() override;

    // The entries, once the task ended without error or cancel; the main thread's from
    // then on. Produced holds them in production order, secondary.
    TScanEntryProducer Producer;
    TScanEntryBatch Produced;
    // Main thread: the status text and the count of files found, at most every
    // ReportIntervalMs.
    std::function<void(const std::string& text, int found)> OnStatus;
    // Worker: called before each step (a test holds the add at a step with it).
    std::function<void()> OnStep;

    static constexpr int ReportIntervalMs = 100;
};

// Adds the paths to the list with the task behind progress; raises what the producer
// raised (nothing added), the silent abort for a cancel (nothing added). onStep goes to the
// task's OnStep.
void AddPathsInTask(TScanEntries& entries, const Kiv_dynamicarrays::TStringDynArray& paths,
                    TAddProgress& progress, int showDelayMs,
                    const std::function<void()>& onStep = nullptr);

} // namespace App_scanentries
