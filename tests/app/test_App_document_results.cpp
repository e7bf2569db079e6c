#include "App_document.h"
#include "EntriesTestSupport.h"

#include <fstream>
#include <gtest/gtest.h>

using App_document::ResultsText;
using App_document::WriteResultsFile;
using EntriesTest::Entry;
using EntriesTest::TTempDir;

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

std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

} // namespace

TEST(ResultsFile, GroupsInAscendingNumberPathsInListOrder) {
    const auto entries = ListWithGroups({3, 1, 0, -1, 3, 1, 1});
    EXPECT_EQ(ResultsText(*entries), "/r/1\r\n/r/5\r\n/r/6\r\n\r\n"
                                     "/r/0\r\n/r/4\r\n\r\n");
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
        EXPECT_EQ(error.Message(),
                  "The program could not save the results to the file \"" + impossible + "\".");
    }
}
