// The entry collection, its events, sorts, moves and counts.
#include "App_scanentries.h"
#include "EntriesTestSupport.h"

#include <algorithm>
#include <functional>
#include <gtest/gtest.h>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using namespace App_scanentries;
using namespace EntriesTest;
using Lines = std::vector<std::string>;

namespace {

std::string Join(const TIntegerDynArray& values) {
    std::string text;
    for (const int value : values)
        text += (text.empty() ? "" : ",") + std::to_string(value);
    return text;
}

// Logs every event of a collection, and keeps a mirror of its order as a view would.
class TRecorder {
public:
    explicit TRecorder(TScanEntries& entries) {
        entries.OnAdded = [this](TScanEntries* sender, const TIntegerDynArray& indexes) {
            Senders.push_back(sender);
            Log.push_back("added " + Join(indexes));
        };
        entries.OnRemoved = [this](TScanEntries* sender, const TIntegerDynArray& indexes) {
            Senders.push_back(sender);
            Log.push_back("removed " + Join(indexes));
        };
        entries.OnCleared = [this](TScanEntries* sender) {
            Senders.push_back(sender);
            Log.push_back("cleared");
        };
        entries.OnReordered = [this](TScanEntries* sender, const TListReorderRecords& records) {
            Senders.push_back(sender);
            Log.push_back("reordered " + std::to_string(records.Length()));
            Records = records;
        };
        entries.OnChanged = [this](TScanEntries* sender, int index) {
            Senders.push_back(sender);
            Log.push_back("changed " + std::to_string(index));
        };
    }
    Lines Take() {
        Lines result;
        result.swap(Log);
        return result;
    }

    Lines Log;
    std::vector<TScanEntries*> Senders;
    TListReorderRecords Records;
};

TScanEntryArray Batch(std::vector<std::unique_ptr<TScanEntry>> entries) {
    TScanEntryArray batch(static_cast<int>(entries.size()));
    for (std::size_t i = 0; i < entries.size(); ++i)
        batch[static_cast<int>(i)] = entries[i].release();
    return batch;
}

TScanEntryArray Batch(const std::vector<std::string>& paths) {
    std::vector<std::unique_ptr<TScanEntry>> entries;
    for (const auto& path : paths)
        entries.push_back(Entry(path));
    return Batch(std::move(entries));
}

Lines PathsOf(const TScanEntries& entries) {
    Lines paths;
    for (int i = 0; i < entries.Count(); ++i)
        paths.push_back(entries.Item(i).Path());
    return paths;
}

TIntegerDynArray Indexes(std::initializer_list<int> values) {
    return TIntegerDynArray(values);
}

TEST(ScanEntries, StartsEmpty) {
    TScanEntries entries;
    EXPECT_EQ(entries.Count(), 0);
    EXPECT_THROW(entries.Item(0), Kiv_framework::ERangeError);
    EXPECT_EQ(entries.GetDuplicateCount(), 0);
    EXPECT_EQ(entries.GetUniqueCount(), 0);
    EXPECT_EQ(entries.GetGroupCount(), 0);
}

TEST(ScanEntries, AddRaisesAddedWithTheNewIndexes) {
    TScanEntries entries;
    TRecorder recorder(entries);
    entries.Add(Batch(Lines{"/d/a", "/d/b"}));
    entries.Add(Batch(Lines{"/d/c"}));
    EXPECT_EQ(recorder.Take(), (Lines{"added 0,1", "added 2"}));
    EXPECT_EQ(recorder.Senders, (std::vector<TScanEntries*>{&entries, &entries}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/d/a", "/d/b", "/d/c"}));
    EXPECT_THROW(entries.Item(3), Kiv_framework::ERangeError);
    EXPECT_THROW(entries.Item(-1), Kiv_framework::ERangeError);
}

TEST(ScanEntries, EmptyBatchRaisesNothing) {
    TScanEntries entries;
    TRecorder recorder(entries);
    entries.Add(TScanEntryArray());
    EXPECT_TRUE(recorder.Take().empty());
}

TEST(ScanEntries, ReAddingAListedFileReplacesIt) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/d/a", "/d/b", "/d/c"}));
    entries.Item(1).Priority = spPrimary;
    entries.Item(1).SetGroup(3);
    entries.Item(1).Hash = "AB";
    TRecorder recorder(entries);
    entries.Add(Batch(Lines{"/d/e", "/d/b"}));
    EXPECT_EQ(recorder.Take(), (Lines{"removed 1", "added 2,3"}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/d/a", "/d/c", "/d/e", "/d/b"}));
    EXPECT_EQ(entries.Item(3).Priority, spSecondary);
    EXPECT_EQ(entries.Item(3).Group(), -1);
    EXPECT_EQ(entries.Item(3).Hash, "");
}

TScanEntryBatch OwnedBatch(const Lines& paths) {
    std::vector<std::unique_ptr<TScanEntry>> entries;
    for (const auto& path : paths)
        entries.push_back(Entry(path));
    return TScanEntryBatch(std::move(entries));
}

// A batch made on a worker: an empty list takes its very entries and index list, a listed
// one appends them as Add does; the list owns them from then on, even when the added
// event fails, and the batch keeps them when the removal before the append fails (the
// sanitizer build finds a leak or a double free of either).
TEST(ScanEntries, ABatchIsTakenWholeByAnEmptyListAndAppendedToAListedOne) {
    TScanEntries entries;
    TRecorder recorder(entries);
    TScanEntryBatch first = OwnedBatch(Lines{"/d/a", "/d/b"});
    const TScanEntry* const a = first.Entries[0].get();
    const int* const indexes = first.Indexes.begin();
    int* seen = nullptr;
    entries.OnAdded = [&](TScanEntries*, const TIntegerDynArray& added) {
        seen = added.begin();
        recorder.Log.push_back("added " + Join(added));
    };
    entries.AddBatch(std::move(first));
    EXPECT_EQ(seen, indexes);
    EXPECT_EQ(&entries.Item(0), a);
    entries.OnAdded = [&](TScanEntries*, const TIntegerDynArray& added) {
        recorder.Log.push_back("added " + Join(added));
    };
    entries.AddBatch(OwnedBatch(Lines{"/d/c", "/d/a"}));
    entries.AddBatch(TScanEntryBatch());
    EXPECT_EQ(recorder.Take(), (Lines{"added 0,1", "removed 0", "added 1,2"}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/d/b", "/d/c", "/d/a"}));

    entries.OnAdded = [](TScanEntries*, const TIntegerDynArray&) {
        throw Kiv_framework::EInvalidOperation("shown late");
    };
    TScanEntryBatch late = OwnedBatch(Lines{"/d/e"});
    EXPECT_THROW(entries.AddBatch(std::move(late)), Kiv_framework::EInvalidOperation);
    EXPECT_EQ(entries.Count(), 4);
    EXPECT_TRUE(late.Entries.empty());

    entries.OnRemoved = [](TScanEntries*, const TIntegerDynArray&) {
        throw Kiv_framework::EInvalidOperation("refused");
    };
    TScanEntryBatch refused = OwnedBatch(Lines{"/d/f", "/d/b"});
    // The removal of /d/b happened, its event failed: the new entries were not appended.
    EXPECT_THROW(entries.AddBatch(std::move(refused)), Kiv_framework::EInvalidOperation);
    EXPECT_EQ(PathsOf(entries), (Lines{"/d/c", "/d/a", "/d/e"}));
    ASSERT_EQ(refused.Entries.size(), 2u);
    EXPECT_EQ(refused.Entries[0]->Path(), "/d/f");
}

TEST(ScanEntries, PathsDifferingInCaseAreTwoEntries) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/t/Read.me"}));
    TRecorder recorder(entries);
    entries.Add(Batch(Lines{"/t/read.me"}));
    EXPECT_EQ(recorder.Take(), (Lines{"added 1"}));
    EXPECT_EQ(entries.Count(), 2);
}

TEST(ScanEntries, FindSamePaths) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/d/a", "/d/b", "/d/c", "/d/e"}));
    const TScanEntryArray fresh = Batch(Lines{"/d/e", "/d/x", "/d/a", "/D/B"});
    EXPECT_EQ(Join(entries.FindSamePaths(fresh)), "0,3");
    EXPECT_EQ(Join(entries.FindSamePaths(TScanEntryArray())), "");
    for (TScanEntry* entry : fresh)
        delete entry;
}

TEST(ScanEntries, IndexOfIsIdentity) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/d/a", "/d/b"}));
    EXPECT_EQ(entries.IndexOf(&entries.Item(1)), 1);
    const auto other = Entry("/d/b");
    EXPECT_EQ(entries.IndexOf(other.get()), -1);
    EXPECT_EQ(entries.IndexOf(nullptr), -1);
}

TEST(ScanEntries, RemoveScatteredIndexes) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/0", "/1", "/2", "/3", "/4", "/5", "/6"}));
    TRecorder recorder(entries);
    entries.Remove(Indexes({0, 2, 3, 6}));
    EXPECT_EQ(recorder.Take(), (Lines{"removed 0,2,3,6"}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/1", "/4", "/5"}));
    entries.Remove(TIntegerDynArray());
    EXPECT_TRUE(recorder.Take().empty());
    // A bad index changes nothing.
    EXPECT_THROW(entries.Remove(Indexes({0, 3})), Kiv_framework::ERangeError);
    EXPECT_THROW(entries.Remove(Indexes({-1})), Kiv_framework::ERangeError);
    EXPECT_TRUE(recorder.Take().empty());
    EXPECT_EQ(entries.Count(), 3);
    entries.Remove(Indexes({0, 1, 2}));
    EXPECT_EQ(recorder.Take(), (Lines{"removed 0,1,2"}));
    EXPECT_EQ(entries.Count(), 0);
}

TEST(ScanEntries, ClearRaisesClearedOnlyWhenThereWasSomething) {
    TScanEntries entries;
    TRecorder recorder(entries);
    entries.Clear();
    EXPECT_TRUE(recorder.Take().empty());
    entries.Add(Batch(Lines{"/a", "/b"}));
    recorder.Take();
    entries.Clear();
    EXPECT_EQ(recorder.Take(), Lines{"cleared"});
    EXPECT_EQ(entries.Count(), 0);
}

TEST(ScanEntries, EntryChangedRaisesChanged) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/b"}));
    TRecorder recorder(entries);
    entries.EntryChanged(1);
    EXPECT_EQ(recorder.Take(), Lines{"changed 1"});
}

TEST(ScanEntries, EventsWithoutSubscriberAreSkipped) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/b", "/a"}));
    entries.SortByName();
    entries.EntryChanged(0);
    entries.Remove(Indexes({0}));
    entries.Clear();
    EXPECT_EQ(entries.Count(), 0);
}

// ---------------------------------------------------------------------------------------
// The fourteen sorts

struct TSortCase {
    const char* Name;
    void (TScanEntries::*Sort)();
    int (*Compare)(const TScanEntry&, const TScanEntry&);
};

const TSortCase SortCases[] = {
    {"Path", &TScanEntries::SortByPath, ComparePath},
    {"Directory", &TScanEntries::SortByDirectory, CompareDirectory},
    {"Name", &TScanEntries::SortByName, CompareName},
    {"BaseName", &TScanEntries::SortByBaseName, CompareBaseName},
    {"Extension", &TScanEntries::SortByExtension, CompareExtension},
    {"Size", &TScanEntries::SortBySize, CompareSize},
    {"Type", &TScanEntries::SortByType, CompareType},
    {"CreationTime", &TScanEntries::SortByCreationTime, CompareCreationTime},
    {"LastWriteTime", &TScanEntries::SortByLastWriteTime, CompareLastWriteTime},
    {"LastAccessTime", &TScanEntries::SortByLastAccessTime, CompareLastAccessTime},
    {"Attributes", &TScanEntries::SortByAttributes, CompareAttributes},
    {"Hash", &TScanEntries::SortByHash, CompareHash},
    {"Priority", &TScanEntries::SortByPriority, ComparePriority},
    {"Group", &TScanEntries::SortByGroup, CompareGroup},
};

// A list with many ties in every key: few directories, names that differ in case only,
// few sizes, times, attributes, hashes and groups.
void FillMixed(TScanEntries& entries, int count, unsigned seed) {
    std::mt19937 random(seed);
    const char* const directories[] = {"/Data", "/data/x", "/b", "/\xC3\x84rger", "/a.b"};
    const char* const names[] = {"Read.me",        "read.ME",  "a.txt",  "B.TXT",
                                 "archive.tar.gz", ".profile", "x..y",   "\xC3\xA4pfel.png",
                                 "Zeta",           "zeta.Png", "*?.jpg", "bad\xFF.txt"};
    const char* const hashes[] = {"", "", "0A", "0a", "FF", "10"};
    std::vector<std::unique_ptr<TScanEntry>> batch;
    for (int i = 0; i < count; ++i) {
        const std::string path = std::string(directories[random() % 5]) + "/" +
                                 std::to_string(i % 3) + names[random() % 12];
        const std::uint64_t size = (random() % 3 == 0 ? (1ull << 32) : 0) + random() % 4;
        auto entry =
            std::make_unique<TScanEntry>(path, Record(size, random() % 64, random() % 3,
                                                      (1ull << 33) + random() % 3, random() % 2));
        entry->Hash = hashes[random() % 6];
        entry->Priority = random() % 2 ? spPrimary : spSecondary;
        entry->SetGroup(static_cast<int>(random() % 5) - 1);
        batch.push_back(std::move(entry));
    }
    entries.Add(Batch(std::move(batch)));
}

TEST(ScanEntries, EverySortIsTheStableSortByItsComparison) {
    for (const TSortCase& sortCase : SortCases) {
        SCOPED_TRACE(sortCase.Name);
        TScanEntries entries;
        FillMixed(entries, 300, 7);
        std::vector<const TScanEntry*> expected;
        for (int i = 0; i < entries.Count(); ++i)
            expected.push_back(&entries.Item(i));
        std::vector<const TScanEntry*> mirror = expected;
        std::stable_sort(
            expected.begin(), expected.end(),
            [&](const TScanEntry* a, const TScanEntry* b) { return sortCase.Compare(*a, *b) < 0; });
        TRecorder recorder(entries);
        (entries.*sortCase.Sort)();
        std::vector<const TScanEntry*> actual;
        for (int i = 0; i < entries.Count(); ++i)
            actual.push_back(&entries.Item(i));
        EXPECT_TRUE(actual == expected);
        // The event carries the moves that were applied: a mirror applying them agrees.
        if (expected != mirror) {
            EXPECT_EQ(recorder.Take(),
                      Lines{"reordered " + std::to_string(recorder.Records.Length())});
            Kiv_lists::ReorderList(mirror, recorder.Records);
            EXPECT_TRUE(mirror == actual);
        }
        // Sorting again changes nothing and raises nothing.
        (entries.*sortCase.Sort)();
        EXPECT_TRUE(recorder.Take().empty());
    }
}

TEST(ScanEntries, LargeListsSortAsTheComparisonsDo) {
    // Enough distinct texts for the key tables to grow several times.
    TScanEntries entries;
    std::mt19937 random(11);
    std::vector<std::unique_ptr<TScanEntry>> batch;
    for (int i = 0; i < 6000; ++i) {
        std::string name = std::to_string(random() % 5000);
        if (random() % 2)
            name[0] = static_cast<char>('A' + random() % 3);
        batch.push_back(
            Entry("/d" + std::to_string(random() % 3000) + "/" + name + ".x", random() % 7));
    }
    entries.Add(Batch(std::move(batch)));
    for (const TSortCase& sortCase : {SortCases[0], SortCases[1], SortCases[2], SortCases[5]}) {
        SCOPED_TRACE(sortCase.Name);
        std::vector<const TScanEntry*> expected;
        for (int i = 0; i < entries.Count(); ++i)
            expected.push_back(&entries.Item(i));
        std::stable_sort(
            expected.begin(), expected.end(),
            [&](const TScanEntry* a, const TScanEntry* b) { return sortCase.Compare(*a, *b) < 0; });
        (entries.*sortCase.Sort)();
        std::vector<const TScanEntry*> actual;
        for (int i = 0; i < entries.Count(); ++i)
            actual.push_back(&entries.Item(i));
        EXPECT_TRUE(actual == expected);
    }
}

TEST(ScanEntries, AddingALargeBatchReplacesEveryListedPath) {
    TScanEntries entries;
    Lines first;
    for (int i = 0; i < 5000; ++i)
        first.push_back("/d/" + std::to_string(i));
    entries.Add(Batch(first));
    Lines second;
    for (int i = 4990; i < 9000; ++i)
        second.push_back("/d/" + std::to_string(i));
    TRecorder recorder(entries);
    entries.Add(Batch(second));
    const Lines log = recorder.Take();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "removed 4990,4991,4992,4993,4994,4995,4996,4997,4998,4999");
    EXPECT_EQ(entries.Count(), 9000);
    EXPECT_EQ(entries.Item(4989).Path(), "/d/4989");
    EXPECT_EQ(entries.Item(4990).Path(), "/d/4990");
    EXPECT_EQ(entries.Item(8999).Path(), "/d/8999");
}

TEST(ScanEntries, SortsOfAnEmptyListRaiseNothing) {
    TScanEntries entries;
    TRecorder recorder(entries);
    for (const TSortCase& sortCase : SortCases)
        (entries.*sortCase.Sort)();
    entries.ReverseOrder();
    entries.MoveUp(Indexes({0}));
    entries.MoveDown(Indexes({0}));
    EXPECT_TRUE(recorder.Take().empty());
}

TEST(ScanEntries, AlreadySortedListRaisesNothing) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/B", "/c"}));
    TRecorder recorder(entries);
    entries.SortByName();
    entries.SortByPath();
    entries.SortBySize(); // all equal
    EXPECT_TRUE(recorder.Take().empty());
}

TEST(ScanEntries, SortBySizeThenByDirectory) {
    TScanEntries entries;
    std::vector<std::unique_ptr<TScanEntry>> batch;
    batch.push_back(Entry("/b/1", 30));
    batch.push_back(Entry("/a/2", 20));
    batch.push_back(Entry("/B/3", 10));
    batch.push_back(Entry("/a/4", 5));
    batch.push_back(Entry("/b/5", 1ull << 40));
    batch.push_back(Entry("/a/6", 25));
    entries.Add(Batch(std::move(batch)));
    entries.SortBySize();
    entries.SortByDirectory();
    // "/B" and "/b" are one directory for the name order; inside each, size order.
    EXPECT_EQ(PathsOf(entries), (Lines{"/a/4", "/a/2", "/a/6", "/B/3", "/b/1", "/b/5"}));
}

TEST(ScanEntries, SortByGroupAndHashOrders) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/u", "/g2", "/n", "/g1", "/u2"}));
    const int groups[] = {0, 2, -1, 1, 0};
    for (int i = 0; i < 5; ++i)
        entries.Item(i).SetGroup(groups[i]);
    entries.SortByGroup();
    EXPECT_EQ(PathsOf(entries), (Lines{"/g1", "/g2", "/u", "/u2", "/n"}));
    entries.Item(0).Hash = "";
    entries.Item(1).Hash = "BB";
    entries.Item(2).Hash = "";
    entries.Item(3).Hash = "aa";
    entries.Item(4).Hash = "AB";
    entries.SortByHash();
    EXPECT_EQ(PathsOf(entries), (Lines{"/u2", "/n", "/g2", "/g1", "/u"}));
}

TEST(ScanEntries, SortByPriorityWithABadValueMovesNothing) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/b", "/c"}));
    entries.Item(2).Priority = spPrimary;
    entries.Item(1).Priority = static_cast<TScanPriority>(7);
    TRecorder recorder(entries);
    EXPECT_EQ(AppErrorOf([&] { entries.SortByPriority(); }),
              "The program cannot accept the priority.");
    EXPECT_TRUE(recorder.Take().empty());
    EXPECT_EQ(PathsOf(entries), (Lines{"/a", "/b", "/c"}));
}

TEST(ScanEntries, ReverseOrder) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/b", "/c"}));
    TRecorder recorder(entries);
    entries.ReverseOrder();
    EXPECT_EQ(PathsOf(entries), (Lines{"/c", "/b", "/a"}));
    EXPECT_EQ(recorder.Take(), Lines{"reordered 3"});
    // Sort, then reverse: the descending order.
    entries.SortByName();
    recorder.Take();
    entries.ReverseOrder();
    EXPECT_EQ(PathsOf(entries), (Lines{"/c", "/b", "/a"}));
}

TEST(ScanEntries, MoveUpAndMoveDown) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/0", "/1", "/2", "/3", "/4"}));
    TRecorder recorder(entries);
    entries.MoveUp(Indexes({2, 3}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/0", "/2", "/3", "/1", "/4"}));
    EXPECT_EQ(recorder.Take(), Lines{"reordered 3"});
    entries.MoveDown(Indexes({1, 4}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/0", "/3", "/2", "/1", "/4"}));
    EXPECT_EQ(recorder.Take(), Lines{"reordered 2"});
    // Nothing can move: no event.
    entries.MoveUp(Indexes({0}));
    entries.MoveDown(Indexes({4}));
    entries.MoveUp(TIntegerDynArray());
    EXPECT_TRUE(recorder.Take().empty());
    EXPECT_EQ(PathsOf(entries), (Lines{"/0", "/3", "/2", "/1", "/4"}));
}

TEST(ScanEntries, ReorderAppliesMovesAndRefusesBadOnes) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/b", "/c"}));
    TRecorder recorder(entries);
    entries.Reorder(TListReorderRecords({{0, 2}, {2, 0}}));
    EXPECT_EQ(PathsOf(entries), (Lines{"/c", "/b", "/a"}));
    EXPECT_EQ(recorder.Take(), Lines{"reordered 2"});
    EXPECT_THROW(entries.Reorder(TListReorderRecords({{0, 3}, {3, 0}})),
                 Kiv_framework::ERangeError);
    entries.Reorder(TListReorderRecords());
    EXPECT_TRUE(recorder.Take().empty());
    EXPECT_EQ(PathsOf(entries), (Lines{"/c", "/b", "/a"}));
}

// ---------------------------------------------------------------------------------------
// Counts

TEST(ScanEntries, Counts) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/b", "/c", "/d", "/e", "/f", "/g"}));
    EXPECT_EQ(entries.GetDuplicateCount(), 0);
    EXPECT_EQ(entries.GetUniqueCount(), 0);
    EXPECT_EQ(entries.GetGroupCount(), 0);
    EXPECT_EQ(entries.CountGroup(-5), 7);
    const int groups[] = {1, 0, 3, -1, 1, 3, 0};
    for (int i = 0; i < 7; ++i)
        entries.Item(i).SetGroup(groups[i]);
    entries.Item(0).Priority = spPrimary;
    entries.Item(2).Priority = spPrimary;
    EXPECT_EQ(entries.CountGroup(-5), 1);
    EXPECT_EQ(entries.CountGroup(-1), 1);
    EXPECT_EQ(entries.CountGroup(0), 2);
    EXPECT_EQ(entries.CountGroup(1), 2);
    EXPECT_EQ(entries.CountGroup(2), 0);
    EXPECT_EQ(entries.GetDuplicateCount(), 4);
    EXPECT_EQ(entries.GetUniqueCount(), 2);
    EXPECT_EQ(entries.GetGroupCount(), 2); // groups 1 and 3, 2 absent
    EXPECT_EQ(Join(entries.GetDuplicateIndices()), "0,2,4,5");
    EXPECT_EQ(Join(entries.GetUniqueIndices()), "1,6");
    EXPECT_EQ(entries.CountPriority(spPrimary), 2);
    EXPECT_EQ(entries.CountPriority(spSecondary), 5);
    // Group numbers far beyond the list.
    entries.Item(3).SetGroup(2'000'000'000);
    EXPECT_EQ(entries.GetGroupCount(), 3);
}

TEST(ScanEntries, RemoveUniqueEntries) {
    TScanEntries entries;
    entries.Add(Batch(Lines{"/a", "/b", "/c"}));
    entries.Item(0).SetGroup(0);
    entries.Item(2).SetGroup(0);
    entries.Item(1).SetGroup(1);
    TRecorder recorder(entries);
    entries.Remove(entries.GetUniqueIndices());
    EXPECT_EQ(recorder.Take(), Lines{"removed 0,2"});
    EXPECT_EQ(PathsOf(entries), Lines{"/b"});
}

} // namespace
