// The entry producer, on real files in temporary folders.
#include "App_scanentries.h"
#include "App_scanentries_listing.h"
#include "EntriesTestSupport.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <set>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace App_scanentries;
using namespace EntriesTest;
using Paths = std::vector<std::string>;

namespace {

std::string Accept(const std::string& path) {
    return "The program cannot accept the file \"" + path + "\".";
}
std::string Find(const std::string& path) {
    return "The program cannot find the file \"" + path + "\".";
}

DynamicArray<std::string> Input(const Paths& paths) {
    DynamicArray<std::string> input = Kiv_dynamicarrays::VectorToArray(paths);
    return input;
}

int Depth(const std::string& path) {
    return static_cast<int>(std::count(path.begin(), path.end(), '/'));
}

TEST(ScanEntryProducer, NothingToDo) {
    TScanEntryProducer producer(Input({}));
    EXPECT_FALSE(producer.Step());
    EXPECT_EQ(producer.GetEntries().Length(), 0);
}

TEST(ScanEntryProducer, OneFileOneEntryWithItsRecord) {
    TTempDir dir;
    WriteFile(dir / "a.txt", "12345");
    TScanEntryProducer producer(Input({dir / "a.txt"}));
    EXPECT_TRUE(producer.Step());
    EXPECT_FALSE(producer.Step());
    const TScanEntryArray entries = producer.GetEntries();
    ASSERT_EQ(entries.Length(), 1);
    EXPECT_EQ(entries[0]->Path(), dir / "a.txt");
    EXPECT_EQ(entries[0]->Size(), 5u);
    EXPECT_EQ(entries[0]->Directory(), dir.Path);
    EXPECT_EQ(entries[0]->Priority, spSecondary);
    EXPECT_EQ(entries[0]->Group(), -1);
}

TEST(ScanEntryProducer, FileGivenTwiceGivesOneEntry) {
    TTempDir dir;
    WriteFile(dir / "a");
    EXPECT_EQ(Produce({dir / "a", dir / "a"}), Paths{dir / "a"});
    // The same file through "." and "..".
    MakeDir(dir / "sub");
    EXPECT_EQ(Produce({dir / "a", dir / "sub/../a", dir.Path + "/./a"}), Paths{dir / "a"});
}

TEST(ScanEntryProducer, FileGivenAndReachedThroughItsDirectoryGivesOneEntry) {
    TTempDir dir;
    WriteFile(dir / "a");
    WriteFile(dir / "b");
    const Paths produced = Produce({dir / "a", dir.Path});
    ASSERT_EQ(produced.size(), 2u);
    EXPECT_EQ(produced[0], dir / "a");
    EXPECT_EQ(produced[1], dir / "b");
}

TEST(ScanEntryProducer, FileGivenThroughASymbolicLinkIsOneEntry) {
    TTempDir dir;
    WriteFile(dir / "real.txt");
    ASSERT_EQ(symlink((dir / "real.txt").c_str(), (dir / "link.txt").c_str()), 0);
    MakeDir(dir / "d");
    ASSERT_EQ(symlink(dir.Path.c_str(), (dir / "d/up").c_str()), 0);
    EXPECT_EQ(Produce({dir / "link.txt", dir / "real.txt", dir / "d/up/real.txt"}),
              Paths{dir / "real.txt"});
    // A directory given through a link is listed under its canonical path.
    EXPECT_EQ(Produce({dir / "d/up/d/up/d/up"}), Paths{dir / "real.txt"});
}

TEST(ScanEntryProducer, PathIdentityIsCaseSensitive) {
    TTempDir dir;
    WriteFile(dir / "Read.me", "1");
    WriteFile(dir / "read.me", "22");
    const Paths given = Produce({dir / "Read.me", dir / "read.me"});
    EXPECT_EQ(given, (Paths{dir / "Read.me", dir / "read.me"}));
    Paths listed = Produce({dir.Path});
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, (Paths{dir / "Read.me", dir / "read.me"}));
}

TEST(ScanEntryProducer, GivenPathsComeBeforeAnyListing) {
    TTempDir dir;
    MakeDir(dir / "d");
    WriteFile(dir / "d/inner");
    WriteFile(dir / "outer1");
    WriteFile(dir / "outer2");
    EXPECT_EQ(Produce({dir / "d", dir / "outer1", dir / "outer2"}),
              (Paths{dir / "outer1", dir / "outer2", dir / "d/inner"}));
}

TEST(ScanEntryProducer, StepsHandleOnePathOrOneDirectoryEach) {
    TTempDir dir;
    MakeDir(dir / "d");
    MakeDir(dir / "d/e");
    WriteFile(dir / "d/e/f");
    WriteFile(dir / "g");
    TScanEntryProducer producer(Input({dir / "d", dir / "g"}));
    EXPECT_TRUE(producer.Step()); // d queued
    EXPECT_EQ(producer.ProducedCount(), 0);
    EXPECT_TRUE(producer.Step()); // g
    EXPECT_EQ(producer.ProducedCount(), 1);
    EXPECT_TRUE(producer.Step()); // d listed, e queued
    EXPECT_EQ(producer.ProducedCount(), 1);
    EXPECT_TRUE(producer.Step()); // e listed
    EXPECT_EQ(producer.ProducedCount(), 2);
    EXPECT_FALSE(producer.Step());
    EXPECT_FALSE(producer.Step());
}

TEST(ScanEntryProducer, TreeComesOutBreadthFirst) {
    TTempDir dir;
    MakeDir(dir / "a");
    MakeDir(dir / "b");
    MakeDir(dir / "a/aa");
    MakeDir(dir / "a/aa/aaa");
    MakeDir(dir / "b/bb");
    WriteFile(dir / "top1");
    WriteFile(dir / "top2");
    WriteFile(dir / "a/one");
    WriteFile(dir / "b/two");
    WriteFile(dir / "a/aa/three");
    WriteFile(dir / "b/bb/four");
    WriteFile(dir / "a/aa/aaa/five");
    const Paths produced = Produce({dir.Path});
    ASSERT_EQ(produced.size(), 7u);
    for (std::size_t i = 1; i < produced.size(); ++i)
        EXPECT_LE(Depth(produced[i - 1]), Depth(produced[i]))
            << produced[i - 1] << " before " << produced[i];
    EXPECT_EQ(produced.back(), dir / "a/aa/aaa/five");
}

TEST(ScanEntryProducer, GivenSubdirectoryIsListedWhereItWasQueued) {
    TTempDir dir;
    WriteFile(dir / "x");
    MakeDir(dir / "sub");
    WriteFile(dir / "sub/y");
    MakeDir(dir / "other");
    WriteFile(dir / "other/z");
    EXPECT_EQ(Produce({dir.Path, dir / "sub"}), (Paths{dir / "x", dir / "sub/y", dir / "other/z"}));
    EXPECT_EQ(Produce({dir / "other", dir.Path}),
              (Paths{dir / "other/z", dir / "x", dir / "sub/y"}));
}

TEST(ScanEntryProducer, RelativePathIsRefusedWithItsOwnText) {
    TScanEntryProducer producer(Input({"a/b.txt"}));
    EXPECT_EQ(AppErrorOf([&] { producer.Step(); }), Accept("a/b.txt"));
    EXPECT_EQ(producer.GetEntries().Length(), 0);
    EXPECT_EQ(AppErrorOf([] { Produce({""}); }), Accept(""));
}

TEST(ScanEntryProducer, MissingPathIsRefusedAsGiven) {
    TTempDir dir;
    const std::string given = dir.Path + "/./gone/../missing.txt";
    EXPECT_EQ(AppErrorOf([&] { Produce({given}); }), Accept(given));
}

TEST(ScanEntryProducer, StarAndQuestionMarkAndInvalidBytesAreAccepted) {
    TTempDir dir;
    const std::string odd = dir / "*?\xFF\xFE name.t?t";
    WriteFile(odd);
    EXPECT_EQ(Produce({odd}), Paths{odd});
    MakeDir(dir / "d*");
    const std::string inner = dir / "d*/\xC3\x28?.bin";
    WriteFile(inner, "abc");
    const Paths produced = Produce({dir / "d*"});
    ASSERT_EQ(produced.size(), 1u);
    EXPECT_EQ(produced[0], inner); // the exact bytes
    // A pattern-like path that names no file is a missing file, not a pattern.
    EXPECT_EQ(AppErrorOf([&] { Produce({dir / "*"}); }), Accept(dir / "*"));
}

TEST(ScanEntryProducer, EmptyDirectoryGivesNothingAndNoError) {
    TTempDir dir;
    MakeDir(dir / "empty");
    EXPECT_TRUE(Produce({dir / "empty"}).empty());
    EXPECT_TRUE(Produce({dir.Path}).empty());
}

// A directory with more records than the listing read-ahead holds: the thread starts no
// listing after it until it is taken, so a directory queued after it is listed only then.
// Its files are names of one file: quicker made than so many files. Gives their number.
int MakeFullDirectory(const std::string& path) {
    MakeDir(path);
    const std::size_t count = App_scanentries::TListingReadAhead::MaxBuffered + 8;
    WriteFile(path + "/0");
    for (std::size_t i = 1; i < count; ++i)
        if (::link((path + "/0").c_str(), (path + "/" + std::to_string(i)).c_str()) != 0)
            throw std::runtime_error("link failed in " + path);
    return static_cast<int>(count);
}

TEST(ScanEntryProducer, GivenDirectoryThatVanishedBeforeListing) {
    TTempDir dir;
    MakeDir(dir / "d");
    // Queued before d, one for each listing thread: d is listed only once they are taken.
    MakeFullDirectory(dir / "full1");
    MakeFullDirectory(dir / "full2");
    TScanEntryProducer producer(Input({dir / "full1", dir / "full2", dir / "d"}));
    ASSERT_TRUE(producer.Step()); // full1 queued
    ASSERT_TRUE(producer.Step()); // full2 queued
    ASSERT_TRUE(producer.Step()); // d queued
    ASSERT_EQ(rmdir((dir / "d").c_str()), 0);
    ASSERT_TRUE(producer.Step()); // full1 listed
    ASSERT_TRUE(producer.Step()); // full2 listed
    EXPECT_EQ(AppErrorOf([&] { producer.Step(); }), Find(dir / "d"));
}

TEST(ScanEntryProducer, SubdirectoryThatCannotBeListedStopsTheAdd) {
    TTempDir dir;
    MakeDir(dir / "d");
    WriteFile(dir / "d/a");
    MakeDir(dir / "d/sub");
    // Queued before sub, one for each listing thread: a thread free for sub has listed a
    // full one, so sub is listed only once the full ones are taken.
    const int full = MakeFullDirectory(dir / "full1");
    MakeFullDirectory(dir / "full2");
    static_assert(App_scanentries::TListingReadAhead::Workers == 2);
    TScanEntryProducer producer(Input({dir / "d", dir / "full1", dir / "full2"}));
    ASSERT_TRUE(producer.Step()); // d queued
    ASSERT_TRUE(producer.Step()); // full1 queued
    ASSERT_TRUE(producer.Step()); // full2 queued
    ASSERT_TRUE(producer.Step()); // d listed: a produced, sub queued
    EXPECT_EQ(producer.ProducedCount(), 1);
    // Replace the queued directory by a file: it can no longer be listed.
    ASSERT_EQ(rmdir((dir / "d/sub").c_str()), 0);
    WriteFile(dir / "d/sub");
    ASSERT_TRUE(producer.Step()); // full1 listed
    ASSERT_TRUE(producer.Step()); // full2 listed
    EXPECT_EQ(producer.ProducedCount(), 2 * full + 1);
    EXPECT_EQ(AppErrorOf([&] { producer.Step(); }), Find(dir / "d/sub"));
}

TEST(ScanEntryProducer, SpecialFilesAndLinksInAListingGiveNoEntry) {
    TTempDir dir;
    WriteFile(dir / "file");
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    ASSERT_EQ(symlink((dir / "file").c_str(), (dir / "link-to-file").c_str()), 0);
    ASSERT_EQ(symlink(dir.Path.c_str(), (dir / "loop").c_str()), 0); // a link cycle
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_EQ(Produce({dir.Path}), Paths{dir / "file"});
}

TEST(ScanEntryProducer, SpecialFileGivenDirectlyIsRefused) {
    TTempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    EXPECT_EQ(AppErrorOf([&] { Produce({dir / "fifo"}); }), Accept(dir / "fifo"));
    EXPECT_EQ(AppErrorOf([] { Produce({"/dev/null"}); }), Accept("/dev/null"));
    ASSERT_EQ(symlink((dir / "nowhere").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_EQ(AppErrorOf([&] { Produce({dir / "dangling"}); }), Accept(dir / "dangling"));
}

TEST(ScanEntryProducer, HiddenAndReadOnlyFilesAreTaken) {
    TTempDir dir;
    WriteFile(dir / ".hidden", "x", 0644);
    WriteFile(dir / "locked", "x", 0444);
    TScanEntryProducer producer(Input({dir.Path}));
    while (producer.Step()) {
    }
    ASSERT_EQ(producer.ProducedCount(), 2);
    for (const TScanEntry* entry : producer.GetEntries()) {
        if (entry->Name() == ".hidden")
            EXPECT_EQ(AttributesText(*entry), "-H--");
        else
            EXPECT_EQ(AttributesText(*entry), "--R-");
    }
}

TEST(ScanEntryProducer, ReleaseHandsTheEntriesOver) {
    TTempDir dir;
    WriteFile(dir / "a");
    WriteFile(dir / "b");
    TScanEntries entries;
    {
        TScanEntryProducer producer(Input({dir / "a", dir / "b"}));
        while (producer.Step()) {
        }
        entries.Add(producer.GetEntries());
        producer.Release();
        EXPECT_EQ(producer.GetEntries().Length(), 0);
    }
    ASSERT_EQ(entries.Count(), 2);
    EXPECT_EQ(entries.Item(0).Path(), dir / "a");
    EXPECT_EQ(entries.Item(1).Path(), dir / "b");
}

// The add operation of the entries commands: all or nothing.
void AddPaths(TScanEntries& entries, const Paths& paths) {
    TScanEntryProducer producer(Input(paths));
    while (producer.Step()) {
    }
    entries.Add(producer.GetEntries());
    producer.Release();
}

TEST(ScanEntryProducer, FailingAddLeavesNothingBehind) {
    TTempDir dir;
    WriteFile(dir / "a");
    WriteFile(dir / "b");
    MakeDir(dir / "d");
    WriteFile(dir / "d/c");
    TScanEntries entries;
    int events = 0;
    entries.OnAdded = [&](TScanEntries*, const TIntegerDynArray&) { ++events; };
    EXPECT_EQ(AppErrorOf([&] {
                  AddPaths(entries, {dir / "a", dir / "d", dir / "b", "relative"});
              }),
              Accept("relative"));
    EXPECT_EQ(entries.Count(), 0);
    EXPECT_EQ(events, 0);
    // The produced entries were destroyed with the producer (checked for leaks under
    // AddressSanitizer); a good add still works.
    AddPaths(entries, {dir / "a", dir / "d", dir / "b"});
    EXPECT_EQ(entries.Count(), 3);
    EXPECT_EQ(events, 1);
}

} // namespace

TEST(ScanEntryProducer, WithASkipHandlerWhatCannotBeTakenIsReportedAndLeftOut) {
    TTempDir dir;
    WriteFile(dir / "a");
    MakeDir(dir / "sub");
    WriteFile(dir / "sub/inside");
    MakeDir(dir / "other");
    WriteFile(dir / "other/kept");
    // Queued before sub, so sub is listed only once full is taken.
    const int full = MakeFullDirectory(dir / "full");
    TScanEntryProducer producer(
        Input({dir / "missing", dir / "a", dir / "full", dir / "sub", dir / "other"}));
    std::vector<std::string> skipped;
    producer.OnSkip = [&](const std::string& message) { skipped.push_back(message); };
    ASSERT_TRUE(producer.Step()); // the missing path: reported, nothing else happens
    ASSERT_TRUE(producer.Step()); // a
    ASSERT_TRUE(producer.Step()); // full queued
    ASSERT_TRUE(producer.Step()); // sub queued
    ASSERT_TRUE(producer.Step()); // other queued
    // Replaced by a file before its turn: it can no longer be listed.
    ASSERT_EQ(::rename((dir / "sub").c_str(), (dir / "elsewhere").c_str()), 0);
    WriteFile(dir / "sub");
    while (producer.Step()) {
    }
    EXPECT_EQ(skipped, (std::vector<std::string>{Accept(dir / "missing"), Find(dir / "sub")}));
    EXPECT_EQ(producer.SkippedCount(), 2);
    Paths produced;
    for (const auto* entry : producer.GetEntries())
        if (entry->Directory() != dir / "full")
            produced.push_back(entry->Path());
    EXPECT_EQ(produced, (Paths{dir / "a", dir / "other/kept"}));
    EXPECT_EQ(producer.ProducedCount(), full + 2);
}

TEST(ScanEntryProducer, ATreeDeeperThanTheLongestPathTheSystemTakesIsListed) {
    // Folders are opened through their parents, so the length of their paths is no limit.
    TTempDir dir;
    std::string folder = dir.Path;
    const std::string name(200, 'd');
    const int start = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ASSERT_GE(start, 0);
    ASSERT_EQ(::chdir(dir.Path.c_str()), 0);
    while (folder.size() < 4500) {
        ASSERT_EQ(::mkdir(name.c_str(), 0700), 0);
        ASSERT_EQ(::chdir(name.c_str()), 0);
        folder += "/" + name;
    }
    WriteFile("deep", "x");
    ASSERT_EQ(::fchdir(start), 0);
    ::close(start);
    EXPECT_EQ(Produce({dir.Path}), Paths{folder + "/deep"});
}
