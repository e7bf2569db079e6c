#include "App_document.h"
#include "app/entries/EntriesTestSupport.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>

using App_document::ResultsText;
using App_document::WriteResultsFile;
using EntriesTest::Entry;
using EntriesTest::TTempDir;
using TestFiles::ReadFile;

namespace {

// A list of made-up entries with the given groups, paths /r/0, /r/1, ...
std::unique_ptr<App_scanentries::TScanEntries>
ListWithGroups(const std::vector<std::int32_t>& groups) {
    auto entries = std::make_unique<App_scanentries::TScanEntries>();
    App_scanentries::TScanEntryArray batch(static_cast<int>(groups.size()));
    std::vector<std::unique_ptr<App_scanentries::TScanEntry>> owned;
    for (std::size_t i = 0; i < groups.size(); ++i) {
        owned.push_back(Entry("/r/" + std::to_string(i)));
        owned.back()->SetGroup(groups[i]);
        batch[static_cast<int>(i)] = owned.back().get();
    }
    entries->Add(batch);
    for (auto& entry : owned)
        (void)entry.release(); // the list owns them now
    return entries;
}

} // namespace

TEST(ResultsFile, GroupsInAscendingNumberPathsInListOrder) {
    const auto entries = ListWithGroups({3, 1, 0, -1, 3, 1, 1});
    EXPECT_EQ(ResultsText(*entries), "/r/1\r\n/r/5\r\n/r/6\r\n\r\n"
                                     "/r/0\r\n/r/4\r\n\r\n");
}

TEST(ResultsFile, ALineBreakInAPathIsRefusedInLinesAndTakenWithNuls) {
    auto entries = std::make_unique<App_scanentries::TScanEntries>();
    std::vector<std::unique_ptr<App_scanentries::TScanEntry>> owned;
    for (const char* path : {"/r/a\nb", "/r/c", "/r/t\tx", "/r/u"}) {
        owned.push_back(Entry(path));
        owned.back()->SetGroup(owned.size() <= 2 ? 1 : 2);
    }
    App_scanentries::TScanEntryArray batch(4);
    for (int i = 0; i < 4; ++i)
        batch[i] = owned[static_cast<std::size_t>(i)].get();
    entries->Add(batch);
    for (auto& entry : owned)
        (void)entry.release();
    try {
        ResultsText(*entries);
        ADD_FAILURE() << "a line break was written into the lines";
    } catch (const App_common::EAppError& error) {
        EXPECT_EQ(error.Message(),
                  "The program cannot write the path \"/r/a\nb\" into the results file.");
    }
    using namespace std::string_literals;
    EXPECT_EQ(ResultsText(*entries, App_document::TResultsFormat::rfNullSeparated),
              "/r/a\nb\0/r/c\0\0/r/t\tx\0/r/u\0\0"s);
    EXPECT_EQ(ResultsText(*entries, App_document::TResultsFormat::rfTerminal),
              "/r/a\\nb\r\n/r/c\r\n\r\n/r/t\\tx\r\n/r/u\r\n\r\n");
}

TEST(ResultsFile, NoGroupsGiveAnEmptyText) {
    EXPECT_EQ(ResultsText(*ListWithGroups({})), "");
    EXPECT_EQ(ResultsText(*ListWithGroups({0, -1, 0})), "");
}

TEST(ResultsFile, WriteReplacesTheFileAndReportsFailures) {
    TTempDir dir;
    const std::string path = dir / "Sorvik Results.txt";
    std::ofstream(path) << "old content that is longer";
    WriteResultsFile(path, "a\r\n\r\n");
    EXPECT_EQ(ReadFile(path), "a\r\n\r\n");
    WriteResultsFile(path, "");
    EXPECT_EQ(ReadFile(path), "");

    const std::string impossible = dir / "missing folder/results.txt";
    try {
        WriteResultsFile(impossible, "x");
        FAIL() << "no error";
    } catch (const App_common::EAppError& error) {
        EXPECT_EQ(error.Message(), "The program could not save the results to the file \"" +
                                       impossible + "\" (No such file or directory).");
    }
}

TEST(ResultsFile, AFailedWriteKeepsTheOldFileAndLeavesNothingBehind) {
    TTempDir dir;
    const std::string path = dir / "Sorvik Results.txt";
    std::ofstream(path) << "the results of yesterday";
    try {
        TestFiles::TFileSizeLimit limit(64);
        WriteResultsFile(path, std::string(4096, 'x'));
        FAIL() << "no error";
    } catch (const App_common::EAppError& error) {
        EXPECT_EQ(error.Message(), "The program could not save the results to the file \"" + path +
                                       "\" (File too large).");
    }
    EXPECT_EQ(ReadFile(path), "the results of yesterday");
    EXPECT_EQ(TestFiles::Names(dir.Path), std::vector<std::string>{"Sorvik Results.txt"});
}

TEST(ResultsFile, ALinkKeepsItsTargetAndAFileItsPermissions) {
    TTempDir dir;
    const std::string target = dir / "kept.txt";
    const std::string link = dir / "link.txt";
    std::ofstream(target) << "old";
    ::chmod(target.c_str(), 0600);
    std::filesystem::create_symlink(target, link);
    WriteResultsFile(link, "new\r\n\r\n");
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(ReadFile(target), "new\r\n\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    EXPECT_EQ(TestFiles::Names(dir.Path), (std::vector<std::string>{"kept.txt", "link.txt"}));

    // A new file gets what the process's umask allows, not the temporary file's 0600.
    const mode_t previous = ::umask(022);
    WriteResultsFile(dir / "new.txt", "");
    ::umask(previous);
    ASSERT_EQ(::stat((dir / "new.txt").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0644u);
}

TEST(ResultsFile, APipeOrADeviceIsWrittenInPlaceNotReplaced) {
    TTempDir dir;
    const std::string fifo = dir / "pipe";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    // A reader that does not block, so the write finds the pipe open.
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    WriteResultsFile(fifo, "a\r\n\r\n");
    char buffer[16] = {};
    EXPECT_EQ(::read(reader, buffer, sizeof buffer), 5);
    EXPECT_EQ(std::string(buffer), "a\r\n\r\n");
    ::close(reader);
    struct stat info {};
    ASSERT_EQ(::lstat(fifo.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
    EXPECT_EQ(TestFiles::Names(dir.Path), std::vector<std::string>{"pipe"});
}
