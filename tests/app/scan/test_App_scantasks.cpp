#include "App_document.h"
#include "App_scantasks.h"
#include "ChangeWhileReadTestSupport.h"
#include "TestApplication.h"
#include "app/entries/EntriesTestSupport.h"

#include <QCoreApplication>
#include <algorithm>
#include <cerrno>
#include <gtest/gtest.h>
#include <map>
#include <sys/inotify.h>
#include <typeinfo>

using namespace App_scan;
using App_document::TDocument;
using App_document::TScanAspects;
using App_scantasks::TScanTask;
using EntriesTest::TTempDir;
using EntriesTest::WriteFile;

namespace {

// What the main thread saw of one scan.
struct TRun {
    std::vector<std::string> Statuses;
    std::vector<std::string> Errors;
    std::vector<std::string> LeftOut; // the entries' files left out as gone
    std::vector<std::pair<int, int>> Progress;
    // The groups of the list when the first status arrived.
    std::vector<std::int32_t> GroupsAtFirstStatus;
    bool Finished = false;
};

// Starts a self-deleting scan task whose other handlers are set, lets prepare change it,
// and serves it to its end.
void RunTask(TScanTask* task, bool& finished,
             const std::function<void(TScanTask&)>& prepare = nullptr) {
    task->FreeOnTerminate = true;
    task->OnFinish = [&finished](Kiv_tasks::TTask*) { finished = true; };
    task->Start();
    const QPointer<QThread> thread(task->Thread);
    if (prepare)
        prepare(*task);
    EXPECT_TRUE(TestApplication::ServeUntil([&] { return finished; }));
    // The worker's thread object deletes itself once the worker has ended.
    EXPECT_TRUE(TestApplication::ServeUntilGone({thread}));
}

class ScanTask : public ::testing::Test {
protected:
    // Adds the files as entries of the given priority, in order.
    void Add(const std::vector<std::string>& paths, TScanPriority priority = spPrimary) {
        EntriesTest::AddFiles(Document.Entries(), paths, priority);
    }

    std::vector<std::int32_t> Groups() const { return EntriesTest::GroupsOf(Document.Entries()); }

    // Starts a self-deleting scan task, lets prepare change it, serves it to its end.
    TRun Scan(const std::function<void(TScanTask&)>& prepare = nullptr) {
        TRun run;
        auto* task = new TScanTask(&Document);
        task->OnStatus = [&](TScanTask*, const std::string& text) {
            if (run.Statuses.empty())
                run.GroupsAtFirstStatus = Groups();
            run.Statuses.push_back(text);
        };
        task->OnProgress = [&](Kiv_tasks::TTask*, int position, int count) {
            run.Progress.emplace_back(position, count);
        };
        task->OnException = [&](Kiv_tasks::TTask*, const Kiv_framework::Exception& error) {
            run.Errors.push_back(error.Message());
        };
        task->OnEntryLeftOut = [&](TScanTask*, const std::string& message) {
            run.LeftOut.push_back(message);
        };
        RunTask(task, run.Finished, prepare);
        return run;
    }

    // The scan run in place on the main thread, where every queued call runs at once: so
    // every status and progress report is seen, none replaced by a newer one.
    TRun ScanInPlace() {
        TRun run;
        TScanTask task(&Document);
        task.OnStatus = [&](TScanTask*, const std::string& text) {
            if (run.Statuses.empty())
                run.GroupsAtFirstStatus = Groups();
            run.Statuses.push_back(text);
        };
        task.OnProgress = [&](Kiv_tasks::TTask*, int position, int count) {
            run.Progress.emplace_back(position, count);
        };
        task.Execute();
        return run;
    }

    // The types of the chain a task builds for the aspects, in order.
    std::vector<std::string> ChainOf(TScanAspects aspects) {
        Document.SetAspects(aspects);
        TScanTask task(&Document);
        std::unique_ptr<TScanCommand> command;
        task.BuildCommand(command);
        std::vector<std::string> chain;
        for (int i = 0; i < command->Matchers().Count(); ++i)
            chain.push_back(typeid(command->Matchers()[i]).name());
        return chain;
    }

    TestApplication::TTestApplication App;
    TDocument Document;
    TTempDir Dir;
};

template <typename T>
std::string TypeName() {
    return typeid(T).name();
}

} // namespace

TEST_F(ScanTask, MatchersFollowTheFixedChainOrder) {
    using App_document::saHash;
    using App_document::saName;
    using App_document::saSize;
    EXPECT_EQ(ChainOf({saSize}), std::vector<std::string>{TypeName<TScanSizeMatcher>()});
    EXPECT_EQ(ChainOf({saHash, saName, saSize}),
              (std::vector<std::string>{TypeName<TScanSizeMatcher>(), TypeName<TScanNameMatcher>(),
                                        TypeName<TScanHashMatcher>()}));
    const TScanAspects all = TScanAspects::FromBits(TScanAspects::AllBits);
    EXPECT_EQ(ChainOf(all),
              (std::vector<std::string>{
                  TypeName<TScanAttributesMatcher>(), TypeName<TScanSizeMatcher>(),
                  TypeName<TScanCreationTimeMatcher>(), TypeName<TScanLastWriteTimeMatcher>(),
                  TypeName<TScanLastAccessTimeMatcher>(), TypeName<TScanBaseNameMatcher>(),
                  TypeName<TScanExtensionMatcher>(), TypeName<TScanNameMatcher>(),
                  TypeName<TScanDirectoryMatcher>(), TypeName<TScanTypeMatcher>(),
                  TypeName<TScanHashMatcher>(), TypeName<TScanBinariesMatcher>()}));
    EXPECT_TRUE(ChainOf(TScanAspects()).empty());
}

TEST_F(ScanTask, ScanGroupsWritesBackAndReportsStatusWithQuotedNames) {
    WriteFile(Dir / "report.txt", "same");
    WriteFile(Dir / "copy.txt", "same");
    WriteFile(Dir / "other.txt", "else");
    Add({Dir / "report.txt", Dir / "copy.txt", Dir / "other.txt"});
    Document.SetAspects({App_document::saSize, App_document::saHash});
    const TRun run = Scan();
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 0}));
    EXPECT_TRUE(run.Errors.empty());
    // A newer status may replace an older one on its way; the last one always arrives.
    ASSERT_FALSE(run.Statuses.empty());
    EXPECT_EQ(run.Statuses.back(), "Matched \"other.txt\"");
    EXPECT_EQ(run.Progress.back(), std::make_pair(3, 3));
    // The hashes computed by the scan stay in the entries.
    EXPECT_EQ(Document.Entries().Item(0).Hash.size(), 64u);
    EXPECT_EQ(Document.Entries().Item(0).Hash, Document.Entries().Item(1).Hash);

    const TRun inPlace = ScanInPlace();
    EXPECT_EQ(inPlace.Statuses,
              (std::vector<std::string>{"Matching \"report.txt\"...", "Matched \"report.txt\"",
                                        "Matching \"other.txt\"...", "Matched \"other.txt\""}));
    // Progress at most every few milliseconds, the first and the last always.
    ASSERT_GE(inPlace.Progress.size(), 2u);
    EXPECT_EQ(inPlace.Progress.front(), std::make_pair(1, 3));
    EXPECT_EQ(inPlace.Progress.back(), std::make_pair(3, 3));
    EXPECT_TRUE(std::is_sorted(inPlace.Progress.begin(), inPlace.Progress.end()));
}

TEST_F(ScanTask, EmptyCriteriaPutEverythingIntoTheFirstPrimarysGroup) {
    WriteFile(Dir / "a", "1");
    WriteFile(Dir / "b", "22");
    WriteFile(Dir / "c", "333");
    Add({Dir / "a"}, spSecondary);
    Add({Dir / "b", Dir / "c"});
    Document.SetAspects(TScanAspects());
    Scan();
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 1}));
}

TEST_F(ScanTask, EarlierGroupsAreClearedBeforeTheFirstStatus) {
    WriteFile(Dir / "a", "1");
    WriteFile(Dir / "b", "1");
    Add({Dir / "a", Dir / "b"});
    Document.SetAspects({App_document::saSize});
    Scan();
    ASSERT_EQ(Groups(), (std::vector<std::int32_t>{1, 1}));
    const TRun again = ScanInPlace();
    EXPECT_EQ(again.GroupsAtFirstStatus, (std::vector<std::int32_t>{-1, -1}));
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1}));
}

TEST_F(ScanTask, AScanWithoutTheHashCriterionLeavesTheHashCacheAlone) {
    WriteFile(Dir / "a", "1");
    WriteFile(Dir / "b", "1");
    Add({Dir / "a", Dir / "b"});
    Document.SetAspects({App_document::saSize});
    ASSERT_TRUE(Document.RememberHashes);
    TScanTask task(&Document);
    task.HashCacheFile = Dir / "cache/Sorvik/hashes.db";
    task.Execute();
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1}));
    EXPECT_FALSE(std::filesystem::exists(Dir / "cache")); // not even made
}

TEST_F(ScanTask, CancelBeforeTheBuildEndsWithoutGroupingOrError) {
    WriteFile(Dir / "a", "1");
    WriteFile(Dir / "b", "1");
    Add({Dir / "a", Dir / "b"});
    // The build runs on the main thread, so a cancel made before the loop turns is seen.
    const TRun run = Scan([](TScanTask& task) { task.CancelClick(nullptr); });
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_TRUE(run.Statuses.empty());
    EXPECT_TRUE(run.Progress.empty());
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{-1, -1}));
}

TEST_F(ScanTask, AFileChangedWhileItIsReadEndsTheScanWithOneErrorAndPartialGroups) {
    for (const char* name : {"first", "second", "changing", "third"}) {
        WriteFile(Dir / name, name[0] == 'f' || name[0] == 's' ? "aa" : "bb");
        ScanTest::AgeFile(Dir / name);
    }
    Add({Dir / "first", Dir / "second", Dir / "changing", Dir / "third"});
    // Another process writes to it once its first bytes are read.
    const std::string changing = Dir / "changing";
    const ScanTest::TChangeWhileRead changer(changing, 1,
                                             [&] { ScanTest::RewriteFirstByte(changing); });
    Document.SetAspects({App_document::saHash});
    const TRun run = Scan();
    ASSERT_EQ(run.Errors.size(), 1u);
    EXPECT_EQ(run.Errors[0],
              "The file \"" + changing + "\" changed after it was added to the list.");
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, -1, -1}));
    EXPECT_LT(run.Progress.back().first, run.Progress.back().second);
}

// The files opened in a folder while it is watched, as the kernel reports them.
class TOpenWatch {
public:
    explicit TOpenWatch(const std::string& folder)
        : Descriptor(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
        EXPECT_GE(::inotify_add_watch(Descriptor, folder.c_str(), IN_OPEN), 0);
    }
    ~TOpenWatch() { ::close(Descriptor); }
    TOpenWatch(const TOpenWatch&) = delete;
    TOpenWatch& operator=(const TOpenWatch&) = delete;

    // Whether anything in the folder was opened since the watch began.
    bool AnyOpened() const {
        char events[4096];
        const ssize_t length = ::read(Descriptor, events, sizeof events);
        EXPECT_TRUE(length > 0 || errno == EAGAIN);
        return length > 0;
    }

private:
    int Descriptor;
};

TEST_F(ScanTask, SecondHashScanOfAnUnchangedListOpensNoFile) {
    WriteFile(Dir / "a", "content");
    WriteFile(Dir / "b", "content");
    WriteFile(Dir / "c", "different");
    Add({Dir / "a", Dir / "b", Dir / "c"});
    Document.SetAspects({App_document::saHash});
    Scan();
    ASSERT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 0}));
    // The facts are read again, the contents are not: each file is proven unchanged.
    const TOpenWatch watch(Dir.Path);
    const TRun again = Scan();
    EXPECT_TRUE(again.Errors.empty());
    EXPECT_TRUE(again.LeftOut.empty());
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 0}));
    EXPECT_FALSE(watch.AnyOpened());
}

TEST_F(ScanTask, ASecondScanSeesWhatChangedSinceTheFirstAndLeavesOutWhatIsGone) {
    // Once the second scan kept every file in its old group with its old hash: a file
    // rewritten since then was still reported as a copy, one deleted too.
    for (const char* name : {"a", "b", "c", "d", "e", "gone"}) {
        WriteFile(Dir / name, "same");
        ScanTest::AgeFile(Dir / name);
    }
    Add({Dir / "a", Dir / "b", Dir / "c", Dir / "d", Dir / "e", Dir / "gone"});
    Document.SetAspects({App_document::saSize, App_document::saHash});
    Scan();
    ASSERT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 1, 1, 1, 1}));
    const App_scanentries::TScanEntries& entries = Document.Entries();
    const App_scan::THashText same = entries.Item(0).Hash;
    const std::uint64_t changeOfB = entries.Item(1).ChangeTime();

    // b: other bytes of the same size, its last write time set back as it was; c: the
    // same bytes renamed over it, times too; d: longer; e: only read (its hash stays);
    // gone: deleted.
    ScanTest::PassChangeTime(Dir / "b");
    WriteFile(Dir / "b", "SAME");
    ScanTest::AgeFile(Dir / "b");
    WriteFile(Dir / "c.new", "same");
    ScanTest::AgeFile(Dir / "c.new");
    ASSERT_EQ(::rename((Dir / "c.new").c_str(), (Dir / "c").c_str()), 0);
    WriteFile(Dir / "d", "same, and more");
    EXPECT_EQ(TestFiles::ReadFile(Dir / "e"), "same");
    ASSERT_EQ(::unlink((Dir / "gone").c_str()), 0);
    const TRun run = Scan();
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(run.LeftOut, std::vector<std::string>{"The program cannot find the file \"" +
                                                    (Dir / "gone") + "\"."});
    // c is a copy of a again, read anew; b and d are not; the deleted file is in no group.
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 0, 1, 0, 1, -1}));
    ASSERT_FALSE(run.Progress.empty());
    EXPECT_EQ(run.Progress.back(), std::make_pair(6, 6));
    // The entries show what their files are now.
    EXPECT_NE(entries.Item(1).ChangeTime(), changeOfB);
    EXPECT_NE(entries.Item(1).Hash, same);
    EXPECT_EQ(entries.Item(1).Hash.size(), 64u);
    EXPECT_EQ(entries.Item(2).Hash, same);
    EXPECT_EQ(entries.Item(2).Inode(), Kiv_files::GetFindData(Dir / "c").Inode);
    EXPECT_EQ(entries.Item(3).Size(), 14u);
    EXPECT_TRUE(entries.Item(5).Hash.empty());
}

TEST_F(ScanTask, TheFactsOfManyFilesAreReadAgainBySeveralThreadsAndReportedInListOrder) {
    std::vector<std::string> paths;
    for (int i = 0; i < 1500; ++i) {
        paths.push_back(Dir / ("f" + std::to_string(i)));
        WriteFile(paths.back(), i % 2 == 0 ? "even" : "odd!");
        ScanTest::AgeFile(paths.back()); // a write moves the last write time
    }
    Add(paths);
    Document.SetAspects({App_document::saSize, App_document::saHash});
    Scan();
    std::vector<std::string> gone;
    std::map<std::string, int> numbers; // each content's group, in order of first member
    std::vector<std::int32_t> expected;
    for (int i = 0; i < 1500; ++i) {
        if (i % 7 == 3) {
            ASSERT_EQ(::unlink(paths[static_cast<std::size_t>(i)].c_str()), 0);
            gone.push_back("The program cannot find the file \"" +
                           paths[static_cast<std::size_t>(i)] + "\".");
            expected.push_back(-1);
            continue;
        }
        std::string content = i % 2 == 0 ? "even" : "odd!";
        if (i % 11 == 5) {
            content = "new!";
            WriteFile(paths[static_cast<std::size_t>(i)], content);
        }
        expected.push_back(
            numbers.emplace(content, static_cast<int>(numbers.size()) + 1).first->second);
    }
    const TRun run = Scan();
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(run.LeftOut, gone);
    EXPECT_EQ(Groups(), expected);
}

// More changes than one batch takes: each reaches its entry once, and a file's message
// comes after the change that took it out of its group.
TEST_F(ScanTask, ChangesGoBackInBatchesWithNoneLostAndMessagesAfterThem) {
    constexpr int Count = 5000;
    std::vector<std::string> paths;
    for (int i = 0; i < Count; ++i) {
        paths.push_back(Dir / ("f" + std::to_string(i)));
        WriteFile(paths.back(), std::string(static_cast<std::size_t>(1 + i % 3), 'x'));
    }
    Add(paths);
    Document.SetAspects({App_document::saSize});
    std::vector<int> changes(Count, 0);
    Document.Entries().OnChanged = [&](App_scanentries::TScanEntries*, int index) {
        ++changes[static_cast<std::size_t>(index)];
    };
    // Nobody watches: no status hands a batch over before its time.
    bool finished = false;
    RunTask(new TScanTask(&Document), finished);
    std::vector<std::int32_t> expected;
    for (int i = 0; i < Count; ++i)
        expected.push_back(1 + i % 3);
    EXPECT_EQ(Groups(), expected);
    EXPECT_EQ(std::count(changes.begin(), changes.end(), 1), Count);

    // The last file goes: its message must find it out of its group already.
    ASSERT_EQ(::unlink(paths.back().c_str()), 0);
    std::vector<std::int32_t> groupsAtMessage;
    const TRun run = Scan([&](TScanTask& task) {
        task.OnStatus.Clear();
        task.OnEntryLeftOut = [&](TScanTask*, const std::string&) {
            groupsAtMessage.push_back(Document.Entries().Item(Count - 1).Group());
        };
    });
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(groupsAtMessage, std::vector<std::int32_t>{-1});
    EXPECT_EQ(Groups()[Count - 1], -1);
    EXPECT_EQ(Groups()[Count - 2], expected[Count - 2]);
}

TEST_F(ScanTask, AScanOfFilesThatAreAllGoneStillCompletes) {
    WriteFile(Dir / "a", "1");
    WriteFile(Dir / "b", "1");
    Add({Dir / "a", Dir / "b"});
    std::filesystem::remove_all(Dir.Path);
    const TRun run = Scan();
    EXPECT_TRUE(run.Errors.empty());
    EXPECT_EQ(run.LeftOut.size(), 2u);
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{-1, -1}));
    ASSERT_FALSE(run.Progress.empty());
    EXPECT_EQ(run.Progress.back(), std::make_pair(2, 2));
}

TEST_F(ScanTask, ACancelWhileHashesAreReadAheadEndsQuietlyWithPartialGroups) {
    // One size for all: every file is read, by the read-ahead threads too.
    std::vector<std::string> paths;
    for (int i = 0; i < 60; ++i) {
        paths.push_back(Dir / ("f" + std::to_string(i)));
        WriteFile(paths.back(), std::string(300000, static_cast<char>('a' + i % 3)));
    }
    Add(paths);
    Document.SetAspects({App_document::saSize, App_document::saHash});
    // The cancel comes from the worker right after the first assignment, while the
    // read-ahead threads are busy: the main thread might see that report too late.
    class TCancelAtFirstProgress : public TScanTask {
    public:
        using TScanTask::TScanTask;
        void DoProgress(int position, int count) override {
            if (position == 1)
                Cancel();
            TScanTask::DoProgress(position, count);
        }
    };
    bool finished = false;
    std::vector<std::string> errors;
    auto* task = new TCancelAtFirstProgress(&Document);
    task->OnException = [&](Kiv_tasks::TTask*, const Kiv_framework::Exception& error) {
        errors.push_back(error.Message());
    };
    RunTask(task, finished);
    EXPECT_TRUE(errors.empty());
    EXPECT_GT(Document.Entries().CountGroup(-1), 0);
    // What was assigned before the cancel is right: the members of group 1 share a hash.
    const std::string& first = Document.Entries().Item(0).Hash;
    for (int i = 0; i < Document.Entries().Count(); ++i)
        if (Document.Entries().Item(i).Group() == 1) {
            EXPECT_EQ(Document.Entries().Item(i).Hash, first);
        }
}

TEST_F(ScanTask, AScanThatNobodyWatchesStillWritesEverythingBack) {
    WriteFile(Dir / "a", "same");
    WriteFile(Dir / "b", "same");
    WriteFile(Dir / "c", "else");
    Add({Dir / "a", Dir / "b", Dir / "c"});
    Document.SetAspects({App_document::saSize, App_document::saHash});
    bool finished = false;
    RunTask(new TScanTask(&Document), finished);
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 0}));
    EXPECT_EQ(Document.Entries().Item(2).Hash.size(), 64u);
}

namespace {

// What one scan with the hash cache came to.
struct TCachedRun {
    std::uint64_t BytesRead = 0;
    int Recalled = -1;
    std::vector<std::string> Warnings;
};

} // namespace

TEST_F(ScanTask, TakesHashesFromTheCacheOnlyWhileTheDocumentRemembersThem) {
    for (const char* name : {"a", "b", "c", "d"})
        WriteFile(Dir / name, name[0] == 'd' ? "diff" : "same");
    Add({Dir / "a", Dir / "b", Dir / "c", Dir / "d"});
    ScanTest::PassChangeTime(Dir / "d");
    // Each scan starts from entries without hashes, as freshly added.
    const auto scan = [&](const std::string& cacheFile) {
        TCachedRun run;
        for (int i = 0; i < Document.Entries().Count(); ++i)
            Document.Entries().Item(i).Hash = THashText();
        const std::uint64_t before = ReadTotals().Bytes;
        auto* task = new TScanTask(&Document);
        task->HashCacheFile = cacheFile;
        task->OnHashCacheWarning = [&](TScanTask*, const std::string& message) {
            run.Warnings.push_back(message);
        };
        bool finished = false;
        task->FreeOnTerminate = true;
        task->OnFinish = [&](Kiv_tasks::TTask*) {
            run.Recalled = task->HashesRecalled;
            finished = true;
        };
        task->Start();
        const QPointer<QThread> thread(task->Thread);
        EXPECT_TRUE(TestApplication::ServeUntil([&] { return finished; }));
        EXPECT_TRUE(TestApplication::ServeUntilGone({thread}));
        run.BytesRead = ReadTotals().Bytes - before;
        EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 1, 1, 0}));
        return run;
    };
    const std::string cache = Dir / "cache/Sorvik/hashes.db";
    TCachedRun first = scan(cache);
    EXPECT_EQ(first.BytesRead, 16u);
    EXPECT_EQ(first.Recalled, 0);
    TCachedRun again = scan(cache);
    EXPECT_EQ(again.BytesRead, 0u);
    EXPECT_EQ(again.Recalled, 4);
    Document.RememberHashes = false;
    TCachedRun off = scan(cache);
    EXPECT_EQ(off.BytesRead, 16u);
    EXPECT_EQ(off.Recalled, 0);
    EXPECT_TRUE(first.Warnings.empty() && again.Warnings.empty() && off.Warnings.empty());
    // A cache that cannot be used: one warning, and the scan as without it.
    Document.RememberHashes = true;
    const std::string blocker = Dir / "blocker";
    WriteFile(blocker, "a file");
    TCachedRun unusable = scan(blocker + "/hashes.db");
    EXPECT_EQ(unusable.BytesRead, 16u);
    ASSERT_EQ(unusable.Warnings.size(), 1u);
    EXPECT_EQ(unusable.Warnings[0], "The program could not use the hash cache \"" + blocker +
                                        "/hashes.db\" (Not a directory); the scan goes on "
                                        "without it.");
}
