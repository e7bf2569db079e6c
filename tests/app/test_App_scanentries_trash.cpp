// Moving to the trash never costs the last copy, moves only what is still what the list
// shows, can be undone, and is recorded.
#include "CommandsTestSupport.h"

#include <filesystem>
#include <gtest/gtest.h>
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
    EXPECT_EQ(Questions(),
              std::vector<std::string>{"Do you want to move 2 files to the recycle bin?"});
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
}

TEST_F(Trash, NoUndoOnceAFileLeftTheTrash) {
    AddGroup({"a", "b", "c"}, 1);
    Select({0, 1});
    Dialogs.AnswerMessage(mrYes);
    Commands.MoveToRecycleBin();
    ASSERT_TRUE(Commands.CanUndoMoveToRecycleBin());
    std::filesystem::remove(Shell.Trashed[1].TrashedPath); // the trash was emptied
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
