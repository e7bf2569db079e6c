// The directory listings read ahead for the entry producer: the producer makes the same
// entries in the same order as listing every directory itself would, also when it is
// given up half-way. Also run under ThreadSanitizer.
#include "App_scanentries.h"
#include "App_scanentries_listing.h"
#include "EntriesTestSupport.h"

#include <cerrno>
#include <deque>
#include <gtest/gtest.h>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace App_scanentries;
using namespace EntriesTest;
using Paths = std::vector<std::string>;

namespace {

// The producer's order without any read-ahead: breadth first, each directory in the
// enumerator's order, files where they are met.
Paths ListedInPlace(const std::string& top) {
    Paths files;
    std::deque<std::string> directories{top};
    while (!directories.empty()) {
        Kiv_files::TFileEnumerator enumerator(Kiv_files::DirectoryPattern(directories.front()));
        const std::string directory = directories.front();
        directories.pop_front();
        while (enumerator.MoveNext()) {
            const Kiv_files::TFindData record = enumerator.Current();
            const std::string name = record.FileName;
            if (name == "." || name == "..")
                continue;
            const std::string path = directory + "/" + name;
            if (record.FileAttributes & Kiv_files::faDirectory)
                directories.push_back(path);
            else
                files.push_back(path);
        }
    }
    return files;
}

Paths Produced(TScanEntryProducer& producer) {
    Paths paths;
    const TScanEntryArray entries = producer.GetEntries();
    for (const TScanEntry* entry : entries)
        paths.push_back(entry->Path());
    return paths;
}

// A random tree: directories of a few to a few hundred names, some empty, some deep.
void MakeTree(const std::string& top, std::mt19937& random, int depth) {
    const auto number = [&](int high) {
        return std::uniform_int_distribution<int>(0, high)(random);
    };
    const int files = number(3) == 0 ? number(150) : number(6);
    for (int i = 0; i < files; ++i)
        WriteFile(top + "/f" + std::to_string(i), std::string(static_cast<std::size_t>(i), 'x'));
    if (depth == 0)
        return;
    const int directories = number(4);
    for (int i = 0; i < directories; ++i) {
        const std::string directory = top + "/d" + std::to_string(i);
        MakeDir(directory);
        MakeTree(directory, random, depth - 1);
    }
}

TEST(ListingReadAhead, TheProducerMakesWhatListingInPlaceWould) {
    std::mt19937 random(8);
    for (int round = 0; round < 5; ++round) {
        TTempDir dir;
        MakeTree(dir.Path, random, 3);
        TScanEntryProducer producer(DynamicArray<std::string>{dir.Path});
        while (producer.Step()) {
        }
        EXPECT_EQ(Produced(producer), ListedInPlace(dir.Path)) << "round " << round;
    }
}

TEST(ListingReadAhead, AProducerGivenUpHalfWayStopsItsThread) {
    std::mt19937 random(9);
    TTempDir dir;
    MakeTree(dir.Path, random, 3);
    const Paths all = ListedInPlace(dir.Path);
    for (int steps = 0; steps < 40; steps += 3) {
        TScanEntryProducer producer(DynamicArray<std::string>{dir.Path});
        for (int k = 0; k < steps && producer.Step(); ++k) {
        }
        // The entries so far are the first ones of the whole listing.
        const Paths some = Produced(producer);
        ASSERT_LE(some.size(), all.size());
        EXPECT_TRUE(std::equal(some.begin(), some.end(), all.begin()));
    } // each producer ends here, its thread with it
}

TEST(ListingReadAhead, ADirectoryThatCannotBeListedIsReportedWhenItsTurnComes) {
    TTempDir dir;
    MakeDir(dir / "a");
    WriteFile(dir / "a/one");
    MakeDir(dir / "b");
    WriteFile(dir / "c");
    TListingReadAhead readAhead;
    readAhead.Queue(dir / "a");
    readAhead.Queue(dir / "gone");
    readAhead.Queue(dir / "c"); // a file: no listing either
    const TListingReadAhead::TResult a = readAhead.Take(dir / "a");
    ASSERT_TRUE(a.Directory);
    EXPECT_EQ(a.Records.size(), 3u); // ".", ".." and one
    EXPECT_EQ(readAhead.Take(dir / "gone").Error, ENOENT);
    EXPECT_EQ(readAhead.Take(dir / "c").Error, ENOTDIR);
    // One that was never queued is listed on the spot.
    const TListingReadAhead::TResult b = readAhead.Take(dir / "b");
    ASSERT_TRUE(b.Directory);
    EXPECT_EQ(b.Records.size(), 2u);
}

TEST(ListingReadAhead, AFolderIsOpenedThroughItsParentNeverAgainByItsPath) {
    // A folder replaced by a symbolic link after its parent was listed: the link is not
    // followed out of the tree, and the name is reported as not found.
    TTempDir dir;
    MakeDir(dir / "tree");
    MakeDir(dir / "tree/sub");
    MakeDir(dir / "outside");
    WriteFile(dir / "outside/secret");
    TListingReadAhead readAhead;
    readAhead.Queue(dir / "tree");
    const TListingReadAhead::TResult tree = readAhead.Take(dir / "tree");
    ASSERT_TRUE(tree.Directory);
    Kiv_files::TFindData sub{};
    for (const Kiv_files::TFindData& record : tree.Records)
        if (std::string(record.FileName) == "sub")
            sub = record;
    // The listed folder is kept elsewhere, so that no new one can reuse its inode.
    ASSERT_EQ(::rename((dir / "tree/sub").c_str(), (dir / "kept").c_str()), 0);
    ASSERT_EQ(::symlink((dir / "outside").c_str(), (dir / "tree/sub").c_str()), 0);
    readAhead.Queue(dir / "tree/sub", tree.Directory, sub);
    const TListingReadAhead::TResult swapped = readAhead.Take(dir / "tree/sub");
    EXPECT_FALSE(swapped.Directory);
    EXPECT_TRUE(swapped.Records.empty());
    // Another folder made under the same name is not the one listed either.
    ASSERT_EQ(::unlink((dir / "tree/sub").c_str()), 0);
    MakeDir(dir / "tree/sub");
    readAhead.Queue(dir / "tree/sub", tree.Directory, sub);
    EXPECT_EQ(readAhead.Take(dir / "tree/sub").Error, ESTALE);
}

} // namespace
