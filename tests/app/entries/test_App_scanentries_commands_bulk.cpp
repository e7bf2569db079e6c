// Adds of 100,000 files through the folder picker and through the clipboard: all or
// nothing, whichever file or folder fails, and wherever it comes.
#include "CommandsTestSupport.h"
#include "TestCapabilities.h"

#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace App_scanentries;
using EntriesTest::AppErrorOf;
using EntriesTest::TTempDir;

namespace {

constexpr int FileCount = 100'000;

// 100 folders of 1,000 empty files, and a folder that comes last in the listing order.
class HundredThousandFiles : public ::testing::Test, protected CommandsTest::TCommandsSetup {
protected:
    static void SetUpTestSuite() {
        Tree = new TTempDir;
        for (int folder = 0; folder < 100; ++folder) {
            const std::string path = *Tree / ("d" + std::to_string(folder));
            EntriesTest::MakeDir(path);
            for (int file = 0; file < 1000; ++file) {
                const std::string name = path + "/f" + std::to_string(file);
                const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
                ASSERT_GE(fd, 0) << name;
                ::close(fd);
                Files.push_back(name);
            }
        }
        // Listed after every other folder: breadth first, it is the deepest.
        EntriesTest::MakeDir(*Tree / "last");
        EntriesTest::MakeDir(*Tree / "last/locked");
    }
    static void TearDownTestSuite() {
        ::chmod((*Tree / "last/locked").c_str(), 0755);
        delete Tree;
        Files.clear();
    }

    HundredThousandFiles() {
        TScanEntryArray batch(2);
        batch[0] = EntriesTest::Entry("/before/1").release();
        batch[1] = EntriesTest::Entry("/before/2").release();
        Entries.Add(batch);
        Selection.SetSelectedIndices(TIntegerDynArray({1}));
    }

    void ExpectUnchanged() const {
        ASSERT_EQ(Entries.Count(), 2);
        EXPECT_EQ(Entries.Item(0).Path(), "/before/1");
        EXPECT_EQ(Entries.Item(1).Path(), "/before/2");
        EXPECT_EQ(ListView.ItemCount(), 2);
        EXPECT_EQ(Selection.GetSelectedIndices().Length(), 1);
    }

    static inline TTempDir* Tree = nullptr;
    static inline std::vector<std::string> Files;

    TestFiles::TCurrentDirectoryGuard KeepDirectory;
};

TEST_F(HundredThousandFiles, DirectoryAddFailingAtItsLastFolderAddsNothing) {
    ASSERT_EQ(::chmod((*Tree / "last/locked").c_str(), 0), 0);
    Dialogs.AnswerFolder(Tree->Path);
    {
        TestCapabilities::TWithoutFileOverride asAnyUser;
        EXPECT_EQ(AppErrorOf([&] { Commands.AddDirectoryEntries(); }),
                  "The program could not read the directory \"" + *Tree / "last/locked" + "\".");
    }
    ExpectUnchanged();

    ASSERT_EQ(::chmod((*Tree / "last/locked").c_str(), 0755), 0);
    Dialogs.AnswerFolder(Tree->Path);
    Commands.AddDirectoryEntries();
    EXPECT_EQ(Entries.Count(), 2 + FileCount);
    EXPECT_EQ(ListView.ItemCount(), 2 + FileCount);
    EXPECT_EQ(Selection.SelectedCount(), FileCount) << "the new rows become the selection";
}

TEST_F(HundredThousandFiles, PasteWithABadLastLineAddsNothing) {
    std::string text;
    for (const std::string& file : Files)
        text.append(file).append("\r\n");
    Clipboard.SetText(text + *Tree / "no-such-file" + "\r\n");
    EXPECT_EQ(AppErrorOf([&] { Commands.Paste(); }),
              "The program cannot accept the file \"" + *Tree / "no-such-file" + "\".");
    ExpectUnchanged();

    Clipboard.SetText(text);
    Commands.Paste();
    ASSERT_EQ(Entries.Count(), 2 + FileCount);
    EXPECT_EQ(Entries.Item(2).Path(), Files.front());
    EXPECT_EQ(Entries.Item(Entries.Count() - 1).Path(), Files.back());
}

} // namespace
