// The window's add on the worker thread: everything or, after a cancel or an error,
// nothing; the list changes only on the main thread, once the worker is done.
#include "App_scanentries_adding.h"
#include "EntriesTestSupport.h"
#include "TestApplication.h"
#include "TestGate.h"

#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <set>
#include <unistd.h>

using namespace App_scanentries;
using EntriesTest::TTempDir;
using Paths = std::vector<std::string>;

namespace {

// Serves the event loop as the modal dialog does, until Finish.
class TLoopProgress : public TAddProgress {
public:
    void Run(int showDelayMs) override {
        ++Runs;
        Delay = showDelayMs;
        if (OnRun)
            OnRun();
        EXPECT_TRUE(TestApplication::ServeUntil([this] { return Finished; }));
        Finished = false;
    }
    void Finish() override { Finished = true; }
    void SetText(const std::string& text) override { Texts.push_back(text); }

    std::function<void()> OnRun;
    bool Finished = false;
    int Runs = 0;
    int Delay = -1;
    Paths Texts;
};

using TestGate::TGate;

class AddOnTheWorker : public ::testing::Test {
protected:
    AddOnTheWorker() {
        for (const char* folder : {"a", "a/b", "c"})
            EntriesTest::MakeDir(Dir / folder);
        for (const char* file : {"a/1", "a/2", "a/b/3", "c/4", "top"})
            EntriesTest::WriteFile(Dir / file, file);
    }
    ~AddOnTheWorker() override {
        EXPECT_TRUE(TestApplication::ServeUntil([] {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return TestApplication::TaskThreadCount() == 0;
        }));
    }

    Paths Listed() const {
        Paths paths;
        for (int i = 0; i < Entries.Count(); ++i)
            paths.push_back(Entries.Item(i).Path());
        return paths;
    }

    TestApplication::TTestApplication App;
    TTempDir Dir;
    TScanEntries Entries;
    TLoopProgress Progress;
};

} // namespace

TEST(AddStatus, CountsTheFilesAndNamesTheFolderOnALineOfItsOwn) {
    EXPECT_EQ(AddStatusText(0, "/home/ann"), "0 files found\n/home/ann");
    EXPECT_EQ(AddStatusText(1234567, "/m"), "1,234,567 files found\n/m");
}

TEST_F(AddOnTheWorker, TheProducerRunsOffTheMainThreadAndTheListTakesEverythingAtTheEnd) {
    const Qt::HANDLE main = QThread::currentThreadId();
    std::atomic<bool> offMain{true};
    std::atomic<int> steps{0};
    std::atomic<int> listedDuringSteps{-1};
    Progress.OnRun = [&] { listedDuringSteps = Entries.Count(); };
    AddPathsInTask(Entries,
                   Kiv_dynamicarrays::VectorToArray(Paths{Dir / "top", Dir / "a", Dir / "c"}),
                   Progress, 500, [&] {
                       offMain = offMain && QThread::currentThreadId() != main;
                       ++steps;
                   });
    EXPECT_TRUE(offMain);
    EXPECT_GE(steps, 5);
    const Paths listed = Listed();
    // The given file first, then the folders breadth first.
    ASSERT_EQ(listed.size(), 5u);
    EXPECT_EQ(listed.front(), Dir / "top");
    EXPECT_EQ(listed.back(), Dir / "a/b/3");
    EXPECT_EQ(
        std::set<std::string>(listed.begin(), listed.end()),
        (std::set<std::string>{Dir / "top", Dir / "a/1", Dir / "a/2", Dir / "c/4", Dir / "a/b/3"}));
    EXPECT_EQ(Entries.CountPriority(spSecondary), 5);
    // The dialog waited for the delay it was given; it knew the first path from the start.
    EXPECT_EQ(Progress.Runs, 1);
    EXPECT_EQ(Progress.Delay, 500);
    ASSERT_FALSE(Progress.Texts.empty());
    EXPECT_EQ(Progress.Texts.front(), AddStatusText(0, Dir / "top"));
    EXPECT_EQ(listedDuringSteps, 0);
}

TEST_F(AddOnTheWorker, ACancelAddsNothingWhereverItComes) {
    AddPathsInTask(Entries, Kiv_dynamicarrays::VectorToArray(Paths{Dir / "top"}), Progress, 0);
    ASSERT_EQ(Entries.Count(), 1);
    // Cancelled before the first step, and after every file but the last was found.
    for (const int cancelAt : {0, 4}) {
        SCOPED_TRACE(cancelAt);
        TGate gate;
        int step = 0;
        Progress.OnRun = [&] {
            Progress.OnCancel(&Progress);
            // A second request changes nothing.
            Progress.OnCancel(&Progress);
            gate.Release();
        };
        EXPECT_THROW(AddPathsInTask(Entries,
                                    Kiv_dynamicarrays::VectorToArray(Paths{Dir / "a", Dir / "c"}),
                                    Progress, 0,
                                    [&] {
                                        if (step++ == cancelAt)
                                            gate.Wait();
                                    }),
                     Kiv_framework::EAbort);
        EXPECT_EQ(Listed(), (Paths{Dir / "top"}));
    }
}

TEST_F(AddOnTheWorker, AnErrorAddsNothingAndCarriesItsMessage) {
    // The bad path comes after a folder full of files was read.
    const std::string message = EntriesTest::AppErrorOf([&] {
        AddPathsInTask(Entries,
                       Kiv_dynamicarrays::VectorToArray(Paths{Dir / "a", Dir / "gone", Dir / "c"}),
                       Progress, 0);
    });
    EXPECT_EQ(message, "The program cannot accept the file \"" + Dir / "gone" + "\".");
    EXPECT_EQ(Entries.Count(), 0);
    // A folder that cannot be read, found on the way.
    if (::geteuid() != 0) {
        EntriesTest::MakeDir(Dir / "a/locked");
        std::filesystem::permissions(Dir / "a/locked", std::filesystem::perms::none);
        EXPECT_NE(EntriesTest::AppErrorOf([&] {
                      AddPathsInTask(Entries, Kiv_dynamicarrays::VectorToArray(Paths{Dir / "a"}),
                                     Progress, 0);
                  }).find(Dir / "a/locked"),
                  std::string::npos);
        std::filesystem::permissions(Dir / "a/locked", std::filesystem::perms::owner_all);
        EXPECT_EQ(Entries.Count(), 0);
    }
}

TEST_F(AddOnTheWorker, NoPathsRunNoTask) {
    AddPathsInTask(Entries, {}, Progress, 0);
    EXPECT_EQ(Progress.Runs, 0);
    EXPECT_EQ(Entries.Count(), 0);
}
