// Moving to the trash never costs the last copy, moves only what is still what the list
// shows, can be undone, and is recorded.
#include "CommandsTestSupport.h"
#include "app/scan/ChangeWhileReadTestSupport.h"
#include "support/TrashTestSupport.h"

#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace App_scanentries;
using EntriesTest::WriteFile;
using Kiv_dialogs::mrNo;
using Kiv_dialogs::mrYes;
using Paths = std::vector<std::string>;

namespace {

const std::string SameHash = "A3E5C2F1A3E5C2F1A3E5C2F1A3E5C2F1A3E5C2F1A3E5C2F1A3E5C2F1A3E5C2F1";

std::string LastCopyQuestion(int files) {
    return "Do you want to move every copy of " + std::to_string(files) +
           " files to the trash? No copy of them will remain.";
}

const std::string MoveQuestionEnd = " files to the trash?";

// Until the clock that stamps change times has moved on: a file changed from now on gets
// another change time than one made before. No sleep: the clock is watched.
void WaitForTheClockToTick() {
    timespec start{};
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &start);
    do
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    while (now.tv_sec == start.tv_sec && now.tv_nsec == start.tv_nsec);
}

// Writes other bytes of the same length into the file and puts its times back, as cp -p,
// rsync -t or touch -d leave a file: size and last write time as listed.
void RewriteKeepingSizeAndTime(const std::string& path) {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    WaitForTheClockToTick();
    std::string content = TestFiles::ReadFile(path);
    for (char& c : content)
        c = static_cast<char>(c ^ 0x20);
    WriteFile(path, content);
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

std::string Changed(const std::string& path) {
    return "The file \"" + path + "\" changed after it was added to the list.";
}

class Trash : public ::testing::Test, protected CommandsTest::TCommandsSetup {
protected:
    // Files of one content, added and marked as one duplicate group, as a scan leaves them.
    Paths AddGroup(const Paths& names, std::int32_t group, const std::string& content = "same") {
        Paths paths;
        for (const std::string& name : names) {
            paths.push_back(Dir / name);
            WriteFile(paths.back(), content);
        }
        EntriesTest::AddFiles(Entries, paths, App_scan::spPrimary);
        for (int i = Entries.Count() - static_cast<int>(paths.size()); i < Entries.Count(); ++i) {
            Entries.Item(i).SetGroup(group);
            Entries.Item(i).Hash = SameHash;
        }
        return paths;
    }
    // Answers the designed question and, when asked, the last-copy one.
    std::vector<std::string> Questions() const {
        std::vector<std::string> texts;
        for (const auto& message : Dialogs.Messages)
            texts.push_back(message.Text);
        return texts;
    }
    static void Touch(const std::string& path, const std::string& content) {
        WriteFile(path, content); // another size: no longer the file the list shows
    }
    // The second file of a group goes to the trash and comes back while another process,
    // played by other the moment it is back, changes what stands at its path: it must be
    // listed without its hash or group.
    void
    ExpectPutBackUnscanned(const std::function<void(const Paths&, const std::string&)>& other) {
        const Paths group = AddGroup({"a", "b"}, 1);
        Select({1});
        Dialogs.AnswerMessage(mrYes);
        Commands.MoveToRecycleBin();
        ASSERT_EQ(ListPaths(), (Paths{group[0]}));
        Commands.OnPutBack = [&](const std::string& path) { other(group, path); };
        Commands.UndoMoveToRecycleBin();
        ASSERT_EQ(ListPaths(), group);
        EXPECT_EQ(Entries.Item(0).Group(), 1);
        EXPECT_EQ(Entries.Item(1).Group(), -1);
        EXPECT_TRUE(Entries.Item(1).Hash.empty());
    }
};

} // namespace

TEST_F(Trash, NoGroupLosesItsLastCopyUnasked) {
    // A fully selected group: asked, and No moves nothing.
    const Paths group = AddGroup({"a", "b"}, 1);
    Select({0, 1});
    Dialogs.AnswerMessage(mrYes);
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort);
    EXPECT_EQ(Questions().back(), LastCopyQuestion(2));
    EXPECT_TRUE(std::filesystem::exists(group[0]) && std::filesystem::exists(group[1]));
    EXPECT_EQ(ListPaths(), group);
    EXPECT_TRUE(Shell.Trashed.empty());

    // Yes moves them: it was the user's choice.
    Dialogs.AnswerMessage(mrYes);
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    EXPECT_TRUE(Entries.Count() == 0);
    EXPECT_EQ(Shell.Trashed.size(), 2u);
}

TEST_F(Trash, ACopyThatChangedWentOrIsTheSameFileIsNoCopy) {
    // Each time the only unselected member is no longer a copy the user can rely on.
    const auto expectAsked = [&](const std::string& why) {
        Select({0});
        const std::size_t before = Dialogs.Messages.size();
        Dialogs.AnswerMessage(mrYes);
        Dialogs.AnswerMessage(mrNo);
        EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort) << why;
        ASSERT_EQ(Dialogs.Messages.size(), before + 2) << why;
        EXPECT_EQ(Dialogs.Messages.back().Text, LastCopyQuestion(1)) << why;
        EXPECT_TRUE(std::filesystem::exists(Entries.Item(0).Path())) << why;
    };
    const Paths group = AddGroup({"a", "b"}, 1);
    Touch(group[1], "changed since the scan");
    expectAsked("changed");
    std::filesystem::remove(group[1]);
    expectAsked("deleted");
    ASSERT_EQ(::link(group[0].c_str(), group[1].c_str()), 0);
    expectAsked("replaced by a hard link to the selected file");
}

TEST_F(Trash, OneVerifiedCopyIsEnoughAndNothingMoreIsAsked) {
    const Paths group = AddGroup({"a", "b", "c"}, 1);
    Select({0, 1});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Questions(), std::vector<std::string>{"Do you want to move 2 files to the trash?"});
    EXPECT_EQ(ListPaths(), Paths{group[2]});
    // Unique and never scanned entries are the user's own choice.
    WriteFile(Dir / "u", "unique");
    EntriesTest::AddFiles(Entries, {Dir / "u"}, App_scan::spPrimary);
    Select({1});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor = {};
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
}

TEST_F(Trash, OnlyWhatIsStillWhatTheUserSawMoves) {
    const Paths group = AddGroup({"a", "b", "c"}, 1);
    Touch(group[0], "changed after it was added");
    Select({0, 1});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor.SkipAnswers = {true};
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Shell.Monitor.Errors, std::vector<std::string>{Changed(group[0])});
    EXPECT_TRUE(std::filesystem::exists(group[0]));
    EXPECT_EQ(ListPaths(), (Paths{group[0], group[2]}));

    // The copy that stays is checked the same way, right before its group's files move.
    const Paths other = AddGroup({"d", "e"}, 2, "other");
    Select({2});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor = {};
    Shell.Monitor.SkipAnswers = {true};
    Shell.Monitor.OnNext = [&](int) { Touch(other[1], "the copy changed meanwhile"); };
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Shell.Monitor.Errors, std::vector<std::string>{Changed(other[1])});
    EXPECT_TRUE(std::filesystem::exists(other[0]));
}

TEST_F(Trash, UndoPutsTheFilesAndTheirEntriesBack) {
    const Paths first = AddGroup({"a", "b"}, 1);
    const Paths second = AddGroup({"c", "d"}, 2);
    Entries.Item(1).Priority = App_scan::spSecondary;
    EXPECT_FALSE(Commands.CanUndoMoveToRecycleBin());
    Select({1, 3});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    ASSERT_EQ(ListPaths(), (Paths{first[0], second[0]}));
    ASSERT_TRUE(Commands.CanUndoMoveToRecycleBin());

    Commands.UndoMoveToRecycleBin();
    EXPECT_EQ(ListPaths(), (Paths{first[0], first[1], second[0], second[1]}));
    EXPECT_EQ(Entries.Item(1).Priority, App_scan::spSecondary);
    EXPECT_EQ(Entries.Item(1).Group(), 1);
    EXPECT_EQ(Entries.Item(3).Group(), 2);
    EXPECT_EQ(Entries.Item(3).Hash, SameHash);
    EXPECT_TRUE(std::filesystem::exists(first[1]) && std::filesystem::exists(second[1]));
    EXPECT_FALSE(std::filesystem::exists(Shell.Trashed[0].InfoPath));
    EXPECT_FALSE(Commands.CanUndoMoveToRecycleBin());
    EXPECT_EQ(EntriesTest::AppErrorOf([&] { Commands.UndoMoveToRecycleBin(); }),
              "The feature is unavailable.");
}

TEST_F(Trash, AFilePutInThePlaceOfOneJustPutBackIsListedWithoutItsHashOrGroup) {
    // Another process puts a file of the same size in its place.
    ExpectPutBackUnscanned([](const Paths& group, const std::string& path) {
        ASSERT_EQ(path, group[1]);
        ASSERT_EQ(std::rename(path.c_str(), (path + ".old").c_str()), 0);
        WriteFile(path, std::string(std::filesystem::file_size(path + ".old"), 'x'));
    });
}

TEST_F(Trash, AFileWrittenTheMomentItIsPutBackIsListedWithoutItsHashOrGroup) {
    // Another process rewrites it in place, its size kept.
    ExpectPutBackUnscanned([](const Paths&, const std::string& path) {
        ScanTest::PassChangeTime(path);
        ScanTest::RewriteFirstByte(path);
    });
}

TEST_F(Trash, AFileWhosePlaceIsTakenStaysInTheTrashAndTheRestComeBack) {
    const Paths group = AddGroup({"a", "b", "c"}, 1);
    Select({0, 1});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    WriteFile(group[0], "a new file in its place");
    EXPECT_EQ(EntriesTest::AppErrorOf([&] { Commands.UndoMoveToRecycleBin(); }),
              "The program could not put the file \"" + group[0] +
                  "\" back: another file is in its place.");
    EXPECT_EQ(TestFiles::ReadFile(group[0]), "a new file in its place");
    EXPECT_TRUE(std::filesystem::exists(Shell.Trashed[0].TrashedPath));
    EXPECT_EQ(ListPaths(), (Paths{group[1], group[2]}));

    // Once the cause is gone, the next undo puts it back, at its place in the list.
    ASSERT_TRUE(Commands.CanUndoMoveToRecycleBin());
    std::filesystem::remove(group[0]);
    Commands.UndoMoveToRecycleBin();
    EXPECT_EQ(TestFiles::ReadFile(group[0]), "same");
    EXPECT_EQ(ListPaths(), group);
    EXPECT_FALSE(Commands.CanUndoMoveToRecycleBin());
}

TEST_F(Trash, AnUndoOfFilesThatLeftTheTrashSaysSoAndForgetsThem) {
    const Paths group = AddGroup({"a", "b", "c"}, 1);
    Select({0, 1});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    std::filesystem::remove(Shell.Trashed[1].TrashedPath); // the trash was emptied of one
    // Whether there is something to undo is known without a look at the disk.
    ASSERT_TRUE(Commands.CanUndoMoveToRecycleBin());
    EXPECT_EQ(EntriesTest::AppErrorOf([&] { Commands.UndoMoveToRecycleBin(); }),
              "The program could not put the file \"" + group[1] +
                  "\" back: it is no longer in the trash.");
    EXPECT_EQ(ListPaths(), (Paths{group[0], group[2]}));
    EXPECT_FALSE(Commands.CanUndoMoveToRecycleBin());
}

TEST_F(Trash, EveryMoveAndUndoIsRecordedAndNothingMovesWithoutTheRecord) {
    const Paths group = AddGroup({"a", "b"}, 1);
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    Commands.UndoMoveToRecycleBin();
    const std::string log = TestFiles::ReadFile(Shell.TrashLogPath());
    const std::string tail =
        "\t" + group[0] + "\t" + Shell.Trashed[0].TrashedPath + "\t4\t" + SameHash + "\n";
    const std::size_t moved = log.find("\tmoved" + tail);
    const std::size_t restored = log.find("\trestored" + tail);
    EXPECT_NE(moved, std::string::npos) << log;
    EXPECT_NE(restored, std::string::npos) << log;
    EXPECT_LT(moved, restored);

    // A log that cannot be written: nothing moves.
    std::filesystem::remove(Shell.TrashLogPath());
    std::filesystem::create_directory(Shell.TrashLogPath());
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_shellfiles::EShellFileError);
    EXPECT_TRUE(std::filesystem::exists(group[0]));
}

// ---------------------------------------------------------------------------------------
// The common workflow: Select First in Group, Reverse Selection, Move to Trash

TEST_F(Trash, TheUniqueFilesOfTheSelectionAreLastCopiesAndNoIsTheDefault) {
    const Paths group = AddGroup({"a", "b"}, 1);
    WriteFile(Dir / "u1", "only one");
    WriteFile(Dir / "u2", "only two");
    WriteFile(Dir / "new", "never scanned");
    EntriesTest::AddFiles(Entries, {Dir / "u1", Dir / "u2", Dir / "new"}, App_scan::spPrimary);
    Entries.Item(2).SetGroup(0);
    Entries.Item(3).SetGroup(0);
    Commands.SelectFirstInGroup();
    Commands.ReverseSelection();
    Dialogs.AnswerMessage(mrYes);
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort);
    // The two unique files count; the one never scanned is the user's own choice.
    EXPECT_EQ(Questions(), (std::vector<std::string>{"Do you want to move 4" + MoveQuestionEnd,
                                                     LastCopyQuestion(2)}));
    // Enter answers No to both: Enter twice never moves a last copy.
    for (const auto& question : Dialogs.Messages) {
        EXPECT_EQ(question.Buttons, Kiv_dialogs::mbYesNo);
        EXPECT_EQ(question.DefaultButton, 1) << question.Text;
    }
    for (const std::string& path : ListPaths())
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
    EXPECT_EQ(Entries.Count(), 5);
    EXPECT_TRUE(Shell.Trashed.empty());

    // The file never scanned alone: only the designed question.
    Select({4});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Questions().size(), 3u);
    EXPECT_FALSE(std::filesystem::exists(Dir / "new"));
}

TEST_F(Trash, SelectCopiesTakesEveryGroupMemberButTheFirstAndMovesWithoutTheSecondQuestion) {
    const Paths one = AddGroup({"a", "b", "c"}, 1);
    WriteFile(Dir / "u", "unique");
    WriteFile(Dir / "n", "not scanned");
    EntriesTest::AddFiles(Entries, {Dir / "u", Dir / "n"}, App_scan::spPrimary);
    Entries.Item(3).SetGroup(0);
    const Paths two = AddGroup({"d", "e"}, 2, "other");
    // In the present order: e before d.
    Entries.ReverseOrder();
    Commands.SelectCopies();
    const TIntegerDynArray selected = Selection.GetSelectedIndices();
    std::vector<std::string> paths;
    for (const int index : selected)
        paths.push_back(Entries.Item(index).Path());
    EXPECT_EQ(paths, (Paths{two[0], one[1], one[0]}));

    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Questions(), std::vector<std::string>{"Do you want to move 3" + MoveQuestionEnd});
    EXPECT_EQ(ListPaths(), (Paths{two[1], Dir / "n", Dir / "u", one[2]}));
}

TEST_F(Trash, TheClosingQuestionHasNoAsItsDefault) {
    AddGroup({"a", "b"}, 1);
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.New(), Kiv_framework::EAbort);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].DefaultButton, 1);
}

// ---------------------------------------------------------------------------------------
// Checks by what cannot be faked

TEST_F(Trash, TheCopyThatStaysIsCheckedAlsoWhenTheGroupHasNoHash) {
    // Grouped by size alone, or byte for byte: no hash.
    const Paths group = AddGroup({"a", "b"}, 1);
    for (int i = 0; i < Entries.Count(); ++i)
        Entries.Item(i).Hash = App_scan::THashText();
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor.SkipAnswers = {true};
    // The only copy goes while the move is under way.
    Shell.Monitor.OnNext = [&](int) { std::filesystem::remove(group[1]); };
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Shell.Monitor.Errors, std::vector<std::string>{Changed(group[1])});
    EXPECT_EQ(TestFiles::ReadFile(group[0]), "same");
    EXPECT_TRUE(Shell.Trashed.empty());
}

TEST_F(Trash, AFileRewrittenWithItsSizeAndTimeKeptIsNoLongerTheOneListed) {
    // The copy that stays: rewritten, the times put back. No copy of the content remains.
    const Paths group = AddGroup({"a", "b"}, 1);
    RewriteKeepingSizeAndTime(group[1]);
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.MoveToRecycleBin(), Kiv_framework::EAbort);
    EXPECT_EQ(Questions().back(), LastCopyQuestion(1));

    // The file that moves: rewritten after it was listed, it is offered like a failed move.
    const Paths other = AddGroup({"c", "d"}, 2, "other");
    RewriteKeepingSizeAndTime(other[0]);
    Select({2});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor.SkipAnswers = {true};
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Shell.Monitor.Errors, std::vector<std::string>{Changed(other[0])});
    EXPECT_TRUE(std::filesystem::exists(other[0]));
    EXPECT_TRUE(Shell.Trashed.empty());
}

TEST_F(Trash, AFileDeletedAndMadeAgainIsNotTheOneListed) {
    const Paths group = AddGroup({"a", "b", "c"}, 1);
    struct stat before {};
    ASSERT_EQ(::stat(group[0].c_str(), &before), 0);
    WaitForTheClockToTick();
    std::filesystem::remove(group[0]);
    WriteFile(group[0], "SAME"); // perhaps on the same inode, as file systems reuse them
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::utimensat(AT_FDCWD, group[0].c_str(), times, 0), 0);
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor.SkipAnswers = {true};
    Commands.MoveToRecycleBin();
    EXPECT_EQ(Shell.Monitor.Errors, std::vector<std::string>{Changed(group[0])});
    EXPECT_EQ(TestFiles::ReadFile(group[0]), "SAME");
}

// ---------------------------------------------------------------------------------------
// Undo only what was moved

TEST_F(Trash, UndoAfterTheTrashWasEmptiedLeavesAnotherFileOfThatNameAlone) {
    const Paths group = AddGroup({"a", "b"}, 1);
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    const Kiv_shellfiles::TTrashedFile first = Shell.Trashed.at(0);
    // The trash is emptied; another file named like it goes there.
    std::filesystem::remove(first.TrashedPath);
    std::filesystem::remove(first.InfoPath);
    std::filesystem::create_directory(Dir / "other");
    WriteFile(Dir / "other/a", "same"); // even of the same size
    Kiv_shellfiles::TTrash trash(Shell.HomeTrash);
    const Kiv_shellfiles::TTrashedFile theirs = trash.MoveToTrash(Dir / "other/a");
    ASSERT_EQ(theirs.TrashedPath, first.TrashedPath);

    EXPECT_EQ(EntriesTest::AppErrorOf([&] { Commands.UndoMoveToRecycleBin(); }),
              "The program could not put the file \"" + group[0] +
                  "\" back: it is no longer in the trash.");
    EXPECT_FALSE(std::filesystem::exists(group[0]));
    EXPECT_TRUE(std::filesystem::exists(theirs.TrashedPath));
    EXPECT_TRUE(std::filesystem::exists(theirs.InfoPath));
    EXPECT_EQ(ListPaths(), Paths{group[1]});
    EXPECT_EQ(TestFiles::ReadFile(Shell.TrashLogPath()).find("\trestored\t"), std::string::npos);
}

TEST_F(Trash, UndoIsAStackOfTheMovesOfTheRun) {
    const Paths group = AddGroup({"a", "b", "c"}, 1);
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    Select({0});
    Dialogs.AnswerMessage(mrYes);
    Shell.Monitor = {};
    Commands.MoveToRecycleBin();
    ASSERT_EQ(ListPaths(), Paths{group[2]});
    Commands.UndoMoveToRecycleBin();
    EXPECT_EQ(ListPaths(), (Paths{group[1], group[2]}));
    ASSERT_TRUE(Commands.CanUndoMoveToRecycleBin());
    Commands.UndoMoveToRecycleBin();
    EXPECT_EQ(ListPaths(), group);
    EXPECT_FALSE(Commands.CanUndoMoveToRecycleBin());
    for (const std::string& path : group)
        EXPECT_EQ(TestFiles::ReadFile(path), "same");
}

// ---------------------------------------------------------------------------------------
// The record comes first

class TLogShell : public TestShell::TTestShell {
public:
    TLogShell(std::string homeTrash, std::string log)
        : TTestShell(std::move(homeTrash)), Log(std::move(log)) {}
    std::string TrashLogPath() const override { return Log; }
    std::string Log;
};

TEST_F(Trash, ALogThatIsNotARegularFileStopsTheMoveBeforeItStarts) {
    const std::string fifo = Dir / "trash.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const std::string& log : {fifo, std::string("/dev/full")}) {
        TLogShell shell(Dir / "home/Trash", log);
        TScanEntriesCommands commands(Entries, Selection, Clipboard, Dialogs, shell);
        const Paths group = AddGroup({"x1", "x2"}, 1);
        Select({Entries.Count() - 1});
        Dialogs.AnswerMessage(mrYes);
        EXPECT_EQ(TestFiles::MessageOf<Kiv_shellfiles::ETrashLogError>(
                      [&] { commands.MoveToRecycleBin(); }),
                  "The program could not write the trash log \"" + log +
                      "\" (it is not a regular file).");
        EXPECT_TRUE(std::filesystem::exists(group[1]));
        EXPECT_TRUE(shell.Trashed.empty());
        Entries.Clear();
        std::filesystem::remove(group[0]);
        std::filesystem::remove(group[1]);
    }
}

TEST_F(Trash, ALogThatCannotBeWrittenStopsTheMoveBeforeTheNextFileWithTheReason) {
    const Paths group = AddGroup({"a", "b", "c", "d"}, 1);
    // Earlier lines, so that the log reaches the limit before any other file does.
    std::filesystem::create_directories(Dir / "home");
    WriteFile(Shell.TrashLogPath(), std::string(4000, '#') + "\n");
    Select({0, 1, 2});
    Dialogs.AnswerMessage(mrYes);
    std::string error;
    {
        TrashTest::TFileSizeLimit limit(4001 + 200); // room for one more line
        error = TestFiles::MessageOf<Kiv_shellfiles::ETrashLogError>(
            [&] { Commands.MoveToRecycleBin(); });
    }
    EXPECT_EQ(error, "The program could not write the trash log \"" + Shell.TrashLogPath() +
                         "\" (File too large).");
    EXPECT_FALSE(std::filesystem::exists(group[0]));
    EXPECT_TRUE(std::filesystem::exists(group[1]));
    EXPECT_TRUE(std::filesystem::exists(group[2]));
    EXPECT_EQ(ListPaths(), (Paths{group[1], group[2], group[3]}));
    EXPECT_TRUE(Shell.Monitor.Errors.empty()) << "offered to skip";
    // What moved has its line, and can be undone.
    EXPECT_NE(TestFiles::ReadFile(Shell.TrashLogPath()).find("\tmoved\t" + group[0] + "\t"),
              std::string::npos);
    Commands.UndoMoveToRecycleBin();
    EXPECT_EQ(ListPaths(), group);
}
