#include "Kiv_tasks.h"
#include "TestApplication.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QPointer>
#include <QTimer>
#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <string>
#include <thread>
#include <vector>

using namespace Kiv_tasks;
using Kiv_framework::EAbort;
using Kiv_framework::Exception;

using TestFiles::MessageOf;

namespace {

// What the main thread saw of a task, kept outside the task, which may delete itself.
struct TRecord {
    std::vector<std::string> Events;
    std::vector<std::string> Errors;
    bool EventsOnMainThread = true;
    bool Deleted = false;
    bool Finished = false;
};

class TProbeTask : public TTask {
public:
    TProbeTask(TRecord& record, std::function<void(TProbeTask&)> work)
        : Record(record), Work(std::move(work)) {
        OnFinish = [this](TTask*) { Note("finish"); };
        OnCancel = [this](TTask*) { Note("cancel"); };
        OnException = [this](TTask*, const Exception& error) {
            Note("exception");
            Record.Errors.push_back(error.Message());
        };
    }
    ~TProbeTask() override { Record.Deleted = true; }

    void Execute() override { Work(*this); }

    void Note(const std::string& event) {
        Record.EventsOnMainThread = Record.EventsOnMainThread && IsMainThread();
        Record.Events.push_back(event);
        if (event == "finish")
            Record.Finished = true;
    }

    TRecord& Record;
    std::function<void(TProbeTask&)> Work;
};

class Tasks : public ::testing::Test {
protected:
    // Starts a self-deleting task and serves its hand-overs until it finished and its
    // thread object is gone.
    void Run(TProbeTask* task) {
        task->FreeOnTerminate = true;
        task->Start();
        Serve(task->Record);
    }
    void Serve(TRecord& record) {
        ASSERT_TRUE(TestApplication::ServeUntil([&] { return record.Finished; }))
            << "the task did not finish";
        // The worker thread deletes itself once it has ended.
        EXPECT_TRUE(TestApplication::ServeUntilGone(Threads));
    }
    bool ThreadsGone() const {
        for (const auto& thread : Threads)
            if (thread)
                return false;
        return true;
    }
    void Watch(TTask* task) { Threads.emplace_back(task->Thread); }

    TestApplication::TTestApplication App;
    std::vector<QPointer<QThread>> Threads;
};

} // namespace

TEST_F(Tasks, TaskThatReturnsAtOnceFinishesOnceAndIsDeleted) {
    TRecord record;
    auto* task = new TProbeTask(record, [](TProbeTask&) {});
    task->FreeOnTerminate = true;
    task->Start();
    Watch(task);
    Serve(record);
    EXPECT_EQ(record.Events, std::vector<std::string>{"finish"});
    EXPECT_TRUE(record.EventsOnMainThread);
    EXPECT_TRUE(record.Deleted);
    EXPECT_TRUE(ThreadsGone());
}

TEST_F(Tasks, CancelTwiceFiresOnCancelOnceAndEndsQuietly) {
    TRecord record;
    auto* task = new TProbeTask(record, [](TProbeTask& self) {
        while (!self.Cancelled)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        Kiv_framework::Abort();
    });
    task->FreeOnTerminate = true;
    task->Start();
    Watch(task);
    task->Cancel();
    task->Cancel();
    Serve(record);
    EXPECT_EQ(record.Events, (std::vector<std::string>{"cancel", "finish"}));
    EXPECT_TRUE(record.Errors.empty());
}

TEST_F(Tasks, MainThreadErrorsReachTheWorkerWithTheirMessage) {
    TRecord record;
    std::vector<std::string> workerSaw;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        workerSaw.push_back(MessageOf<EMainThreadException>(
            [&] { self.Synchronize(nullptr, [](void*) { throw Exception("Disk on fire."); }); }));
        workerSaw.push_back(MessageOf<EMainThreadException>(
            [&] { self.Synchronize(nullptr, [](void*) { throw 42; }); }));
        workerSaw.push_back(MessageOf<EMainThreadException>([&] {
            self.Synchronize(nullptr, [](void*) { throw std::runtime_error("not ours"); });
        }));
        workerSaw.push_back(MessageOf<EMainThreadAbort>(
            [&] { self.Synchronize(nullptr, [](void*) { throw EAbort("declined"); }); }));
        int value = 0;
        self.Synchronize(&value, [](void* argument) { *static_cast<int*>(argument) = 7; });
        workerSaw.push_back(std::to_string(value));
        // Let the last error escape: it comes back through OnException.
        self.Synchronize(nullptr, [](void*) { throw Exception("Last words."); });
    });
    Watch(task);
    Run(task);
    EXPECT_EQ(workerSaw, (std::vector<std::string>{"Disk on fire.", UnknownExceptionMessage,
                                                   UnknownExceptionMessage, "declined", "7"}));
    EXPECT_EQ(record.Events, (std::vector<std::string>{"exception", "finish"}));
    EXPECT_EQ(record.Errors, std::vector<std::string>{"Last words."});
    EXPECT_TRUE(record.EventsOnMainThread);
}

TEST_F(Tasks, SilentAbortOnTheMainThreadEndsTheWorkQuietly) {
    TRecord record;
    bool reachedEnd = false;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        self.Synchronize(nullptr, [](void*) { Kiv_framework::Abort(); });
        reachedEnd = true;
    });
    Watch(task);
    Run(task);
    EXPECT_FALSE(reachedEnd);
    EXPECT_EQ(record.Events, std::vector<std::string>{"finish"});
}

TEST_F(Tasks, WorkerErrorsAreReportedOnceAndFailingHandlersAreSwallowed) {
    TRecord record;
    auto* task = new TProbeTask(record, [](TProbeTask&) { throw 3.5; });
    task->OnException = [&](TTask*, const Exception& error) {
        record.Errors.push_back(error.Message());
        throw Exception("handler failed");
    };
    task->OnFinish = [&](TTask*) {
        record.Finished = true;
        throw Exception("finish failed");
    };
    Watch(task);
    Run(task);
    EXPECT_EQ(record.Errors, std::vector<std::string>{UnknownExceptionMessage});
    EXPECT_TRUE(record.Deleted);
}

TEST_F(Tasks, ProgressWithoutHandlerDoesNotBlockAndTheLastReportAlwaysArrives) {
    TRecord record;
    std::promise<void> unhandledDone;
    auto unhandled = unhandledDone.get_future();
    std::vector<std::pair<int, int>> seen;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        for (int i = 1; i <= 100; ++i)
            self.DoProgress(i, 100); // no handler yet: no hand-over
        unhandledDone.set_value();
        self.Synchronize(nullptr, [&](void*) {
            self.OnProgress = [&](TTask*, int position, int count) {
                seen.emplace_back(position, count);
            };
        });
        for (int i = 1; i <= 1000; ++i)
            self.DoProgress(i, 1000);
    });
    task->FreeOnTerminate = true;
    task->Start();
    Watch(task);
    // The main thread serves nothing here: the worker must get through on its own.
    EXPECT_EQ(unhandled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    Serve(record);
    // A report may be replaced by a newer one before it is delivered, never reordered, and
    // the last one is never lost.
    ASSERT_FALSE(seen.empty());
    for (std::size_t i = 1; i < seen.size(); ++i)
        EXPECT_LT(seen[i - 1].first, seen[i].first);
    EXPECT_EQ(seen.back(), std::make_pair(1000, 1000));
}

TEST_F(Tasks, QueuedCallsDoNotWaitForTheMainThreadAndKeyedOnesAreReplaced) {
    TRecord record;
    std::promise<void> queued;
    auto queuedFuture = queued.get_future();
    std::vector<std::string> ran;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        for (int i = 0; i < 1000; ++i) {
            self.Queue([&ran, i] { ran.push_back("plain " + std::to_string(i)); });
            self.Queue([&ran, i] { ran.push_back("keyed " + std::to_string(i)); }, 3);
        }
        queued.set_value();
    });
    task->FreeOnTerminate = true;
    task->Start();
    Watch(task);
    // Nothing is served until the worker has queued everything: it must not wait.
    ASSERT_EQ(queuedFuture.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    Serve(record);
    // Every plain call in order, and of the keyed ones only the newest, in its place.
    ASSERT_EQ(ran.size(), 1001u);
    for (int i = 0; i < 1000; ++i)
        EXPECT_EQ(ran[static_cast<std::size_t>(i)], "plain " + std::to_string(i));
    EXPECT_EQ(ran.back(), "keyed 999");
}

TEST_F(Tasks, AQueuedCallThatRaisesEndsTheWorkLikeASynchronousOne) {
    // The error of a queued call stops the calls queued after it, is raised at the
    // worker's next hand-over, and reaches OnException once.
    TRecord record;
    std::vector<int> ran;
    std::string workerSaw;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        self.Queue([&] { ran.push_back(1); });
        self.Queue([] { throw Exception("Queue on fire."); });
        self.Queue([&] { ran.push_back(2); });
        workerSaw = MessageOf<EMainThreadException>(
            [&] { self.Synchronize(nullptr, [&](void*) { ran.push_back(3); }); });
        self.Queue([&] { ran.push_back(4); }); // raises the same error again
    });
    Watch(task);
    Run(task);
    EXPECT_EQ(ran, std::vector<int>{1});
    EXPECT_EQ(workerSaw, "Queue on fire.");
    EXPECT_EQ(record.Events, (std::vector<std::string>{"exception", "finish"}));
    EXPECT_EQ(record.Errors, std::vector<std::string>{"Queue on fire."});

    // A failure in the very last call still arrives before the finish; an abort is silent.
    for (const bool abort : {false, true}) {
        TRecord last;
        auto* lastTask = new TProbeTask(last, [abort](TProbeTask& self) {
            self.Queue([abort] {
                if (abort)
                    Kiv_framework::Abort();
                throw Exception("Last queued words.");
            });
        });
        Watch(lastTask);
        Run(lastTask);
        if (abort) {
            EXPECT_EQ(last.Events, std::vector<std::string>{"finish"});
        } else {
            EXPECT_EQ(last.Events, (std::vector<std::string>{"exception", "finish"}));
            EXPECT_EQ(last.Errors, std::vector<std::string>{"Last queued words."});
        }
    }
}

TEST_F(Tasks, SynchronizeOnTheMainThreadRunsInPlace) {
    TRecord record;
    TProbeTask task(record, [](TProbeTask&) {});
    int value = 0;
    task.Synchronize(&value, [](void* argument) { *static_cast<int*>(argument) = 5; });
    EXPECT_EQ(value, 5);
    EXPECT_EQ(MessageOf<Exception>(
                  [&] { task.Synchronize(nullptr, [](void*) { throw Exception("as is"); }); }),
              "as is");
    task.Cancel();
    EXPECT_EQ(record.Events, std::vector<std::string>{"cancel"});
}

TEST_F(Tasks, AFloodOfCallsRunsInOrderAndLeavesTheEventLoopItsTurns) {
    TRecord record;
    constexpr int Calls = 200'000;
    std::vector<int> order;
    order.reserve(Calls);
    int servedWhenTimerFired = -1;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        for (int i = 0; i < Calls; ++i) {
            if (i % 1000 == 999) { // now and then one that waits
                self.Synchronize(
                    &i, [&](void* argument) { order.push_back(*static_cast<int*>(argument)); });
                continue;
            }
            self.Queue([&order, &servedWhenTimerFired, i] {
                // Armed by the first call: it can only fire if the flood leaves the event
                // loop a turn.
                if (i == 0)
                    QTimer::singleShot(
                        0, [&] { servedWhenTimerFired = static_cast<int>(order.size()); });
                order.push_back(i);
            });
        }
    });
    Watch(task);
    Run(task);
    ASSERT_EQ(static_cast<int>(order.size()), Calls);
    for (int i = 0; i < Calls; ++i)
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_GE(servedWhenTimerFired, 1);
    EXPECT_LT(servedWhenTimerFired, Calls);
}
