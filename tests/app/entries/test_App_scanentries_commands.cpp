// The commands on the entry list over real files in temporary folders, with the dialogs,
// the clipboard and the desktop of the test; the trash is a folder of the test.
#include "App_scanentries_properties.h"
#include "CommandsTestSupport.h"
#include "TestCapabilities.h"
#include "TestDialogs.h"
#include "TestShell.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

// GCC 12 under the sanitizers takes a cancelled file dialog's answer (an empty
// std::optional of a vector, queued by TTestDialogs) for uninitialised memory.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

using namespace App_scanentries;
using EntriesTest::AppErrorOf;
using EntriesTest::TTempDir;
using EntriesTest::WriteFile;
using Kiv_dialogs::mrNo;
using Kiv_dialogs::mrYes;
using Kiv_dialogs::TMessageRequest;
using Kiv_dynamicarrays::TStringDynArray;
using Paths = std::vector<std::string>;

namespace {

const char* const Unavailable = "The feature is unavailable.";

class EntriesCommands : public ::testing::Test, protected CommandsTest::TCommandsSetup {
protected:
    std::string File(const std::string& name, const std::string& content = "x") {
        const std::string path = Dir / name;
        std::filesystem::create_directories(std::filesystem::path(path).parent_path());
        WriteFile(path, content);
        return path;
    }
    void Drop(const Paths& paths) {
        TStringDynArray array = Kiv_dynamicarrays::VectorToArray(paths);
        Commands.DropFiles(array);
    }
    // Made-up entries, never on disk: for what needs only their fields.
    void AddMadeUp(const std::vector<std::tuple<std::string, std::uint64_t, int>>& entries) {
        TScanEntryArray batch(static_cast<int>(entries.size()));
        for (std::size_t i = 0; i < entries.size(); ++i) {
            const auto& [path, size, group] = entries[i];
            auto entry = EntriesTest::Entry(path, size);
            entry->SetGroup(group);
            batch[static_cast<int>(i)] = entry.release();
        }
        Entries.Add(batch);
    }
    std::vector<int> Selected() const {
        const TIntegerDynArray indexes = Selection.GetSelectedIndices();
        return {indexes.begin(), indexes.end()};
    }
    static void ExpectQuestion(const TMessageRequest& request, const std::string& text) {
        EXPECT_EQ(request.Text, text);
        EXPECT_EQ(request.Caption, "Sorvik");
        EXPECT_EQ(request.Icon, Kiv_dialogs::miWarning);
        EXPECT_EQ(request.Buttons, Kiv_dialogs::mbYesNo);
    }
};

// ---------------------------------------------------------------------------------------
// Construction, settings, the command table

TEST_F(EntriesCommands, WatchesTheClipboardAndReportsItsChanges) {
    ASSERT_EQ(Clipboard.Viewers.size(), 1u);
    std::vector<TScanEntriesCommands*> senders;
    Commands.OnCommandsChanged = [&](TScanEntriesCommands* sender) { senders.push_back(sender); };
    EXPECT_FALSE(Commands.CanPaste());
    Clipboard.SetText("/x\r\n");
    EXPECT_TRUE(Commands.CanPaste());
    Clipboard.Empty();
    EXPECT_FALSE(Commands.CanPaste());
    EXPECT_EQ(senders, (std::vector<TScanEntriesCommands*>{&Commands, &Commands}));
}

TEST_F(EntriesCommands, DestructionLeavesTheClipboard) {
    {
        TScanEntriesCommands second(Entries, Selection, Clipboard, Dialogs, Shell);
        EXPECT_EQ(Clipboard.Viewers.size(), 2u);
    }
    EXPECT_EQ(Clipboard.Viewers.size(), 1u);
}

TEST_F(EntriesCommands, AddFilesDialogIsSetUpAndItsFilterIndexKeptInTheSettings) {
    const Kiv_dialogs::TOpenFileRequest& dialog = Commands.AddFilesDialog;
    EXPECT_EQ(dialog.Title, "Add Regular Files");
    EXPECT_EQ(dialog.Filter, "All (*.*)|*.*");
    EXPECT_EQ(dialog.FilterIndex, 1);
    EXPECT_TRUE(dialog.AllowMultiSelect);
    EXPECT_TRUE(dialog.FileMustExist);

    App_common::TMemIniFile ini(Dir / "absent.ini");
    Commands.Load(ini, "DocumentEntriesCommands");
    EXPECT_EQ(Commands.AddFilesDialog.FilterIndex, 1) << "a fresh start keeps 1";
    ini.SetText("[DocumentEntriesCommands.AddRegularFilesDialog]\r\nFilterIndex=3\r\n");
    Commands.Load(ini, "DocumentEntriesCommands");
    EXPECT_EQ(Commands.AddFilesDialog.FilterIndex, 3);
    ini.SetText("[DocumentEntriesCommands.AddRegularFilesDialog]\r\nFilterIndex=-4\r\n");
    Commands.Load(ini, "DocumentEntriesCommands");
    EXPECT_EQ(Commands.AddFilesDialog.FilterIndex, 3) << "no filter has that number";

    // The user's choice in the dialog is what is saved.
    Dialogs.AnswerOpen(std::nullopt, 2);
    EXPECT_THROW(Commands.AddRegularFiles(), Kiv_framework::EAbort);
    App_common::TMemIniFile saved(Dir / "absent.ini");
    Commands.Save(saved, "DocumentEntriesCommands");
    EXPECT_EQ(saved.ReadInteger("DocumentEntriesCommands.AddRegularFilesDialog", "FilterIndex", 0),
              2);
}

TEST_F(EntriesCommands, CommandTableNamesEveryPairOnce) {
    const auto& commands = TScanEntriesCommands::Commands();
    EXPECT_EQ(commands.size(), 37u);
    std::set<std::string> names;
    for (const auto& command : commands)
        names.insert(command.Name);
    EXPECT_EQ(names.size(), commands.size());
    EXPECT_EQ(std::string(commands.front().Name), "New");
    EXPECT_EQ(std::string(commands.back().Name), "RemoveAllUnique");
}

// Executed against its query's no - a stale shortcut - every command raises the same
// error and does nothing else: no question, no dialog, no clipboard, no list change.
TEST_F(EntriesCommands, CommandThatIsUnavailableRaisesAndChangesNothing) {
    const auto check = [&](const std::string& situation) {
        const Paths before = ListPaths();
        int unavailable = 0;
        for (const auto& command : TScanEntriesCommands::Commands()) {
            if ((Commands.*command.Can)())
                continue;
            ++unavailable;
            EXPECT_EQ(AppErrorOf([&] { (Commands.*command.Execute)(); }), Unavailable)
                << command.Name << " " << situation;
        }
        EXPECT_EQ(ListPaths(), before);
        EXPECT_TRUE(Dialogs.Messages.empty());
        EXPECT_TRUE(Dialogs.OpenRequests.empty() && Dialogs.FolderRequests.empty());
        EXPECT_FALSE(Clipboard.Holds);
        EXPECT_TRUE(Shell.Opened.empty() && Shell.Explored.empty() &&
                    Shell.PropertiesShown.empty());
        return unavailable;
    };
    // Cut, Copy, Paste, Delete, MoveUp, MoveDown, Open, ExploreDirectory,
    // MoveToRecycleBin, its undo, TotalSize, Properties, both priorities, RemoveAllUnique.
    EXPECT_EQ(check("on an empty list"), 15);
    Drop({File("a"), File("b")});
    Select({});
    EXPECT_EQ(check("without a selection"), 14);
    EXPECT_TRUE(Commands.CanDropFiles());
}

// ---------------------------------------------------------------------------------------
// Building the list

TEST_F(EntriesCommands, NewClearsAnAllUniqueListWithoutAsking) {
    AddMadeUp({{"/u/1", 1, 0}, {"/u/2", 2, 0}});
    Commands.New();
    EXPECT_EQ(Entries.Count(), 0);
    EXPECT_TRUE(Dialogs.Messages.empty());
    Commands.New(); // an empty list: nothing to do, nothing asked
    EXPECT_TRUE(Dialogs.Messages.empty());
}

TEST_F(EntriesCommands, NewAsksForANeverScannedListAndNoKeepsIt) {
    AddMadeUp({{"/u/1", 1, 0}, {"/u/2", 2, -1}});
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.New(), Kiv_framework::EAbort);
    EXPECT_EQ(Entries.Count(), 2);
    Dialogs.AnswerMessage(mrYes);
    Commands.New();
    EXPECT_EQ(Entries.Count(), 0);
    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    ExpectQuestion(Dialogs.Messages[0], "Do you want to remove all the files from the list?");
}

TEST_F(EntriesCommands, AddRegularFilesAddsTheChosenFilesInOrderAsSecondary) {
    const Paths chosen = {File("b.txt"), File("a.txt")};
    Dialogs.AnswerOpen(chosen);
    Commands.AddRegularFiles();
    EXPECT_EQ(ListPaths(), chosen);
    EXPECT_EQ(Entries.Item(0).Priority, spSecondary);
    ASSERT_EQ(Dialogs.OpenRequests.size(), 1u);
    EXPECT_EQ(Dialogs.OpenRequests[0].Title, "Add Regular Files");

    Dialogs.AnswerOpen(std::nullopt, 1); // cancelled
    EXPECT_THROW(Commands.AddRegularFiles(), Kiv_framework::EAbort);
    EXPECT_EQ(ListPaths(), chosen);
}

class CurrentDirectoryKept : public EntriesCommands {
protected:
    TestFiles::TCurrentDirectoryGuard KeepDirectory;
};

TEST_F(CurrentDirectoryKept, AddDirectoryEntriesAddsTheTreeAndEntersTheFolder) {
    const Paths files = {File("tree/1"), File("tree/sub/2")};
    std::filesystem::current_path(Dir.Path);
    Dialogs.AnswerFolder(Dir / "tree");
    Commands.AddDirectoryEntries();

    ASSERT_EQ(Dialogs.FolderRequests.size(), 1u);
    EXPECT_EQ(Dialogs.FolderRequests[0].Title, "Choose a directory.");
    EXPECT_EQ(Dialogs.FolderRequests[0].InitialDir, Dir.Path);
    EXPECT_EQ(ListPaths(), files);
    EXPECT_EQ(std::filesystem::current_path().string(), Dir / "tree");

    Dialogs.AnswerFolder(std::nullopt);
    EXPECT_THROW(Commands.AddDirectoryEntries(), Kiv_framework::EAbort);
    EXPECT_EQ(ListPaths(), files);
}

TEST_F(CurrentDirectoryKept, FolderPickerStartsNowhereWhenTheCurrentFolderIsGone) {
    std::filesystem::create_directories(Dir / "gone");
    std::filesystem::current_path(Dir / "gone");
    std::filesystem::remove(Dir / "gone");
    Dialogs.AnswerFolder(std::nullopt);
    EXPECT_THROW(Commands.AddDirectoryEntries(), Kiv_framework::EAbort);
    EXPECT_EQ(Dialogs.FolderRequests.at(0).InitialDir, "");
}

TEST_F(EntriesCommands, DropAddsThePathsInTheOrderDropped) {
    const Paths dropped = {File("2"), File("1")};
    Drop(dropped);
    EXPECT_EQ(ListPaths(), dropped);
    EXPECT_EQ(AppErrorOf([&] { Drop({"relative/path"}); }),
              "The program cannot accept the file \"relative/path\".");
    EXPECT_EQ(ListPaths(), dropped);
}

// ---------------------------------------------------------------------------------------
// The clipboard

TEST_F(EntriesCommands, CopyPutsEachPathWithCrLf) {
    Drop({File("one"), File("two"), File("three")});
    Select({0, 2});
    Commands.Copy();
    EXPECT_EQ(Clipboard.Text, Dir / "one" + "\r\n" + Dir / "three" + "\r\n");
    EXPECT_EQ(Entries.Count(), 3);
}

TEST_F(EntriesCommands, CopyRefusesANameTheClipboardWouldChange) {
    Drop({File("plain"), File("caf\xE9")});
    Select({0, 1});
    EXPECT_EQ(AppErrorOf([&] { Commands.Copy(); }),
              "The program cannot put the name of the file \"" + Dir / "caf\xE9" +
                  "\" on the clipboard.");
    EXPECT_FALSE(Clipboard.Holds);
    // Cut copies first: the entries stay when the copy fails.
    EXPECT_THROW(Commands.Cut(), App_common::EAppError);
    EXPECT_EQ(Entries.Count(), 2);
}

TEST_F(EntriesCommands, CopyAndCutRefuseANameWithALineBreak) {
    // On the clipboard, "a\nb" read as the two paths "a" and "b", and Cut lost its entry.
    for (const char* name : {"a\nb", "a\rb"}) {
        Drop({File("plain"), File(name)});
        Select({0, 1});
        Clipboard.Holds = false;
        const std::string message = "The program cannot put the name of the file \"" + Dir / name +
                                    "\" on the clipboard: it holds a line break.";
        EXPECT_EQ(AppErrorOf([&] { Commands.Copy(); }), message);
        EXPECT_EQ(AppErrorOf([&] { Commands.Cut(); }), message);
        EXPECT_FALSE(Clipboard.Holds);
        EXPECT_EQ(ListPaths(), (Paths{Dir / "plain", Dir / name}));
        Entries.Clear();
    }
}

TEST_F(EntriesCommands, CutCopiesAndRemovesWithoutAsking) {
    const Paths files = {File("one"), File("two"), File("three")};
    Drop(files);
    Select({1});
    Commands.Cut();
    EXPECT_EQ(Clipboard.Text, files[1] + "\r\n");
    EXPECT_EQ(ListPaths(), (Paths{files[0], files[2]}));
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_TRUE(std::filesystem::exists(files[1]));
}

TEST_F(EntriesCommands, PastePassesOverBlankLinesAndMovesAListedPathToTheEnd) {
    const Paths files = {File("a"), File("b"), File("c")};
    Drop({files[0], files[1]});
    Entries.Item(0).Priority = spPrimary;
    Entries.Item(0).SetGroup(1);
    Clipboard.SetText("\r\n" + files[2] + "\r\n\r\n\n" + files[0] + "\r\n\r\n");
    Commands.Paste();
    EXPECT_EQ(ListPaths(), (Paths{files[1], files[2], files[0]}));
    EXPECT_EQ(Entries.Item(2).Priority, spSecondary);
    EXPECT_EQ(Entries.Item(2).Group(), -1);
}

TEST_F(EntriesCommands, PasteOfALineThatIsNotAnExistingAbsolutePathAddsNothing) {
    const Paths files = {File("a"), File("b")};
    Drop({files[0]});
    for (const std::string& bad :
         {std::string("not/absolute"), Dir / "missing", std::string("  ")}) {
        Clipboard.SetText(files[1] + "\r\n" + bad + "\r\n");
        EXPECT_EQ(AppErrorOf([&] { Commands.Paste(); }),
                  "The program cannot accept the file \"" + bad + "\".");
        EXPECT_EQ(ListPaths(), Paths{files[0]});
    }
}

TEST_F(EntriesCommands, DeleteAsksAndLeavesTheFilesAlone) {
    const Paths files = {File("a"), File("b"), File("c")};
    Drop(files);
    Select({0, 2});
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.Delete(), Kiv_framework::EAbort);
    EXPECT_EQ(ListPaths(), files);
    Dialogs.AnswerMessage(mrYes);
    Commands.Delete();
    EXPECT_EQ(ListPaths(), Paths{files[1]});
    ExpectQuestion(Dialogs.Messages.at(1), "Do you want to remove the 2 files from the list?");
    for (const std::string& file : files)
        EXPECT_TRUE(std::filesystem::exists(file));
}

// ---------------------------------------------------------------------------------------
// Selection and order

TEST_F(EntriesCommands, SelectAllAndReverseSelection) {
    Drop({File("a"), File("b"), File("c")});
    Select({1});
    Commands.ReverseSelection();
    EXPECT_EQ(Selected(), (std::vector<int>{0, 2}));
    Commands.SelectAll();
    EXPECT_EQ(Selected(), (std::vector<int>{0, 1, 2}));
}

TEST_F(EntriesCommands, SelectFirstInGroupTakesEachGroupsFirstRowAfterASort) {
    // Groups 2 and 1 with different sizes inside, a unique and an ungrouped entry.
    AddMadeUp({{"/g/1-big", 900, 1},
               {"/g/2-big", 800, 2},
               {"/g/unique", 1, 0},
               {"/g/1-small", 100, 1},
               {"/g/ungrouped", 2, -1},
               {"/g/2-small", 200, 2}});
    Select({2, 4});
    Commands.SortBySize();
    Commands.SelectFirstInGroup();
    std::vector<std::string> selected;
    for (const int index : Selected())
        selected.push_back(Entries.Item(index).Path());
    EXPECT_EQ(selected, (Paths{"/g/1-small", "/g/2-small"}));

    Commands.RemoveAllUnique();
    for (int i = 0; i < Entries.Count(); ++i)
        Entries.Item(i).SetGroup(-1);
    Commands.SelectFirstInGroup();
    EXPECT_TRUE(Selected().empty()) << "no groups: nothing selected";
}

TEST_F(EntriesCommands, SortsReverseAndMovesFollowTheCollection) {
    AddMadeUp({{"/s/b", 3, 0}, {"/s/c", 1, 0}, {"/s/a", 2, 0}});
    Commands.SortByName();
    EXPECT_EQ(ListPaths(), (Paths{"/s/a", "/s/b", "/s/c"}));
    Commands.ReverseOrder();
    EXPECT_EQ(ListPaths(), (Paths{"/s/c", "/s/b", "/s/a"}));
    Commands.SortBySize();
    EXPECT_EQ(ListPaths(), (Paths{"/s/c", "/s/a", "/s/b"}));
    Select({2});
    Commands.MoveUp();
    EXPECT_EQ(ListPaths(), (Paths{"/s/c", "/s/b", "/s/a"}));
    EXPECT_EQ(Selected(), std::vector<int>{1}) << "the selection moves with its entry";
    Commands.MoveDown();
    EXPECT_EQ(ListPaths(), (Paths{"/s/c", "/s/a", "/s/b"}));
    // Each of the fourteen sorts runs; the list keeps its entries.
    for (const auto& command : TScanEntriesCommands::Commands())
        if (std::string(command.Name).starts_with("SortBy"))
            (Commands.*command.Execute)();
    EXPECT_EQ(Entries.Count(), 3);
}

// ---------------------------------------------------------------------------------------
// The desktop's actions

TEST_F(EntriesCommands, OpenOfOneAsksNothingAndOfTwoAsksFirst) {
    const Paths files = {File("a"), File("b")};
    Drop(files);
    Select({1});
    Commands.Open();
    EXPECT_EQ(Shell.Opened, Paths{files[1]});
    EXPECT_TRUE(Dialogs.Messages.empty());

    Select({0, 1});
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.Open(), Kiv_framework::EAbort);
    EXPECT_EQ(Shell.Opened.size(), 1u);
    Dialogs.AnswerMessage(mrYes);
    Commands.Open();
    EXPECT_EQ(Shell.Opened, (Paths{files[1], files[0], files[1]}));
    ExpectQuestion(Dialogs.Messages.at(0), "Do you want to open 2 files?");
}

TEST_F(EntriesCommands, OpenStopsAtTheFirstFileThatFails) {
    const Paths files = {File("a"), File("b"), File("c")};
    Drop(files);
    Commands.SelectAll();
    Shell.Failing = {files[1]};
    Dialogs.AnswerMessage(mrYes);
    EXPECT_EQ(AppErrorOf([&] { Commands.Open(); }),
              "The program could not open the file \"" + files[1] +
                  "\" (the desktop has no program to open it).");
    EXPECT_EQ(Shell.Opened, (Paths{files[0], files[1]}));
}

TEST_F(EntriesCommands, ExploreOpensOneFolderPerSelectedFileAndNamesTheFolderOnFailure) {
    const Paths files = {File("d/a"), File("d/b")};
    Drop(files);
    Commands.SelectAll();
    Dialogs.AnswerMessage(mrYes);
    Commands.ExploreDirectory();
    EXPECT_EQ(Shell.Explored, files);
    ExpectQuestion(Dialogs.Messages.at(0), "Do you want to explore 2 directories?");

    Select({0});
    Shell.Failing = {files[0]};
    EXPECT_EQ(AppErrorOf([&] { Commands.ExploreDirectory(); }),
              "The program could not explore the directory \"" + Dir / "d" +
                  "\" (the desktop has no program to open it).");
}

TEST_F(EntriesCommands, PropertiesAsksForSeveralAndNamesTheFileOnFailure) {
    const Paths files = {File("a"), File("b")};
    Drop(files);
    Commands.SelectAll();
    Dialogs.AnswerMessage(mrYes);
    Shell.Failing = {files[1]};
    EXPECT_EQ(AppErrorOf([&] { Commands.Properties(); }),
              "The program could not show the properties of the file \"" + files[1] +
                  "\" (the desktop has no program to open it).");
    EXPECT_EQ(Shell.PropertiesShown, files);
    ExpectQuestion(Dialogs.Messages.at(0), "Do you want to show the properties of 2 files?");
}

TEST_F(EntriesCommands, TotalSizeAboveFourGibibytesIsExact) {
    AddMadeUp({{"/t/a", 4'294'967'296ull, 0}, {"/t/b", 2'147'483'649ull, 0}, {"/t/c", 7, 0}});
    Select({0, 1});
    Commands.TotalSize();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    const TMessageRequest& report = Dialogs.Messages[0];
    EXPECT_EQ(report.Text, "The total size of the 2 files is 6,442,450,945 bytes.");
    EXPECT_EQ(report.Caption, "Sorvik");
    EXPECT_EQ(report.Icon, Kiv_dialogs::miInformation);
    EXPECT_EQ(report.Buttons, Kiv_dialogs::mbOk);
}

TEST_F(EntriesCommands, PriorityChangesOnlyTheEntriesThatHaveAnother) {
    AddMadeUp({{"/p/a", 1, 0}, {"/p/b", 1, 0}, {"/p/c", 1, 0}});
    Entries.Item(1).Priority = spPrimary;
    std::vector<int> changed;
    Entries.OnChanged = [&](TScanEntries*, int index) { changed.push_back(index); };
    Commands.SelectAll();
    Commands.SetPriorityToPrimary();
    EXPECT_EQ(changed, (std::vector<int>{0, 2}));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(Entries.Item(i).Priority, spPrimary);
    Select({1});
    Commands.SetPriorityToSecondary();
    EXPECT_EQ(changed, (std::vector<int>{0, 2, 1}));
    EXPECT_EQ(Entries.Item(1).Priority, spSecondary);
}

TEST_F(EntriesCommands, RemoveAllUniqueRemovesOnlyUniqueEntries) {
    AddMadeUp({{"/r/never", 1, -1}, {"/r/unique", 1, 0}, {"/r/grouped", 1, 3}});
    Commands.RemoveAllUnique();
    EXPECT_EQ(ListPaths(), (Paths{"/r/never", "/r/grouped"}));
    int removals = 0;
    Entries.OnRemoved = [&](TScanEntries*, const TIntegerDynArray&) { ++removals; };
    Commands.RemoveAllUnique(); // none left: nothing changes and nothing is raised
    EXPECT_EQ(removals, 0);
    EXPECT_EQ(Entries.Count(), 2);
}

// ---------------------------------------------------------------------------------------
// Move to the trash

class MoveToTrash : public EntriesCommands {
protected:
    std::string Trashed(const std::string& name) const {
        return Shell.HomeTrash + "/files/" + name;
    }
};

TEST_F(MoveToTrash, AsksAlsoForOneFileAndTakesTheMovedFilesOutOfTheList) {
    const Paths files = {File("data/a", "A"), File("data/b", "B")};
    Drop(files);
    Select({0});
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort);
    EXPECT_TRUE(std::filesystem::exists(files[0]));

    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    ExpectQuestion(Dialogs.Messages.at(1), "Do you want to move 1 files to the recycle bin?");
    EXPECT_EQ(ListPaths(), Paths{files[1]});
    EXPECT_FALSE(std::filesystem::exists(files[0]));
    EXPECT_EQ(TestFiles::ReadFile(Trashed("a")), "A");
    ASSERT_EQ(Shell.Trashed.size(), 1u);
    EXPECT_EQ(Shell.Trashed[0].InfoPath, Shell.HomeTrash + "/info/a.trashinfo");
}

TEST_F(MoveToTrash, StopPartWayLeavesOutTheMovedFilesKeepsTheOthersAndShowsNothing) {
    const Paths files = {File("data/1"), File("locked/2"), File("data/3")};
    Drop(files);
    Commands.SelectAll();
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor.SkipAnswers = {false};
    ASSERT_EQ(::chmod((Dir / "locked").c_str(), 0555), 0);
    {
        TestCapabilities::TWithoutFileOverride asAnyUser;
        EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort);
    }
    EXPECT_EQ(ListPaths(), (Paths{files[1], files[2]}));
    EXPECT_EQ(Dialogs.Messages.size(), 1u) << "only the question";
    ASSERT_EQ(Shell.Monitor.Errors.size(), 1u);
    EXPECT_EQ(Shell.Monitor.Errors[0], "The program could not move the file \"" + files[1] +
                                           "\" to the trash (Permission denied).");
    EXPECT_TRUE(std::filesystem::exists(files[1]));
    EXPECT_TRUE(std::filesystem::exists(files[2]));
}

TEST_F(MoveToTrash, CancelPartWayAndSkipBothKeepTheListTrue) {
    const Paths files = {File("data/1"), File("data/2"), File("data/3"), File("data/4")};
    Drop(files);
    Commands.SelectAll();
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor.CancelAt = 2;
    EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort);
    EXPECT_EQ(ListPaths(), (Paths{files[2], files[3]}));

    // A file that someone else removed meanwhile: skipped, and it leaves the list too.
    std::filesystem::remove(files[2]);
    Commands.SelectAll();
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor = {};
    Shell.Monitor.SkipAnswers = {true};
    Commands.MoveToRecycleBin();
    EXPECT_TRUE(ListPaths().empty());
    EXPECT_EQ(Shell.Trashed.size(), 3u);
}

// A desktop whose move fails outside any file, after moving some.
class TFailingShell : public TestShell::TTestShell {
public:
    using TTestShell::TTestShell;
    bool RecycleFiles(const std::vector<std::string>& paths,
                      const Kiv_shellfiles::TRecycleHooks&) override {
        Kiv_shellfiles::TTrash trash(HomeTrash);
        trash.MoveToTrash(paths.front());
        throw Kiv_shellfiles::EShellFileError("The program could not perform the file operation.");
    }
};

TEST_F(MoveToTrash, ErrorOfTheOperationStillTakesTheMovedFilesOut) {
    TFailingShell failing(Shell.HomeTrash);
    TScanEntriesCommands commands(Entries, Selection, Clipboard, Dialogs, failing);
    const Paths files = {File("data/1"), File("data/2")};
    Drop(files);
    Commands.SelectAll();
    Dialogs.AnswerMessage(mrYes);
    EXPECT_THROW(commands.MoveToRecycleBin(), Kiv_shellfiles::EShellFileError);
    EXPECT_EQ(ListPaths(), Paths{files[1]});
}

// ---------------------------------------------------------------------------------------
// The own properties window's texts

TEST(FileProperties, ReadFromTheFileByItsBytes) {
    TTempDir dir;
    const std::string path = dir / "caf\xE9.txt";
    WriteFile(path, std::string(1234, 'x'), 0640);
    ASSERT_EQ(::link(path.c_str(), (dir / "second").c_str()), 0);
    const auto properties = ReadFileProperties(path);

    std::vector<std::string> labels;
    for (const auto& property : properties)
        labels.push_back(property.Label);
    EXPECT_EQ(labels, (Paths{"Name:", "Folder:", "Type:", "Size:", "Created:", "Modified:",
                             "Accessed:", "Permissions:", "Owner:", "Group:", "Links:"}));
    EXPECT_EQ(properties[0].Text, "caf\xE9.txt");
    EXPECT_EQ(properties[1].Text, dir.Path);
    EXPECT_EQ(properties[2].Text, Kiv_shellfiles::GetShellTypeName(path, false));
    EXPECT_EQ(properties[3].Text, "1,234 bytes");
    const Kiv_files::TFindData record = Kiv_files::GetFindData(path);
    EXPECT_EQ(properties[5].Text,
              App_common::FileTimeToText(Kiv_files::FileTimeToUInt64(record.LastWriteTime), true));
    EXPECT_EQ(properties[7].Text, "rw-r----- (0640)");
    EXPECT_NE(properties[8].Text.find(std::to_string(::getuid())), std::string::npos);
    EXPECT_EQ(properties[10].Text, "2");

    EXPECT_EQ(AppErrorOf([&] { ReadFileProperties(dir / "missing"); }),
              "The program could not show the properties of the file \"" + dir / "missing" + "\".");
}

TEST(FileProperties, PermissionsWithTheSpecialBits) {
    EXPECT_EQ(PermissionsText(04755), "rwsr-xr-x (4755)");
    EXPECT_EQ(PermissionsText(02644), "rw-r-Sr-- (2644)");
    EXPECT_EQ(PermissionsText(01777), "rwxrwxrwt (1777)");
    EXPECT_EQ(PermissionsText(01776), "rwxrwxrwT (1776)");
    EXPECT_EQ(PermissionsText(0100000), "--------- (0000)") << "the type bits are not shown";
}

} // namespace
