#include "Kiv_tasks.h"
#include "TestApplication.h"

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

template <typename E>
std::string CaughtMessage(const std::function<void()>& call) {
    try {
        call();
    } catch (const E& error) {
        return error.Message();
    }
    return "nothing raised";
}

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
        workerSaw.push_back(CaughtMessage<EMainThreadException>(
            [&] { self.Synchronize(nullptr, [](void*) { throw Exception("Disk on fire."); }); }));
        workerSaw.push_back(CaughtMessage<EMainThreadException>(
            [&] { self.Synchronize(nullptr, [](void*) { throw 42; }); }));
        workerSaw.push_back(CaughtMessage<EMainThreadException>([&] {
            self.Synchronize(nullptr, [](void*) { throw std::runtime_error("not ours"); });
        }));
        workerSaw.push_back(CaughtMessage<EMainThreadAbort>(
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

TEST_F(Tasks, ProgressArrivesInOrderAndWithoutHandlerDoesNotBlock) {
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
        for (int i = 1; i <= 3; ++i)
            self.DoProgress(i, 3);
    });
    task->FreeOnTerminate = true;
    task->Start();
    Watch(task);
    // The main thread serves nothing here: the worker must get through on its own.
    EXPECT_EQ(unhandled.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    Serve(record);
    EXPECT_EQ(seen, (std::vector<std::pair<int, int>>{{1, 3}, {2, 3}, {3, 3}}));
}

TEST_F(Tasks, SynchronizeOnTheMainThreadRunsInPlace) {
    TRecord record;
    TProbeTask task(record, [](TProbeTask&) {});
    int value = 0;
    task.Synchronize(&value, [](void* argument) { *static_cast<int*>(argument) = 5; });
    EXPECT_EQ(value, 5);
    EXPECT_EQ(CaughtMessage<Exception>(
                  [&] { task.Synchronize(nullptr, [](void*) { throw Exception("as is"); }); }),
              "as is");
    task.Cancel();
    EXPECT_EQ(record.Events, std::vector<std::string>{"cancel"});
}

TEST_F(Tasks, BackToBackCallsRunInOrderAndLeaveTheEventLoopItsTurns) {
    TRecord record;
    constexpr int Calls = 300'000;
    std::vector<int> order;
    order.reserve(Calls);
    int servedWhenTimerFired = -1;
    auto* task = new TProbeTask(record, [&](TProbeTask& self) {
        for (int i = 0; i < Calls; ++i)
            self.Synchronize(
                &i, [&](void* argument) { order.push_back(*static_cast<int*>(argument)); });
    });
    // A timer due at once must fire long before the burst of calls ends.
    QTimer::singleShot(0, [&] { servedWhenTimerFired = static_cast<int>(order.size()); });
    Watch(task);
    Run(task);
    ASSERT_EQ(static_cast<int>(order.size()), Calls);
    for (int i = 0; i < Calls; ++i)
        ASSERT_EQ(order[static_cast<std::size_t>(i)], i);
    EXPECT_GE(servedWhenTimerFired, 0);
    EXPECT_LT(servedWhenTimerFired, Calls);
}
