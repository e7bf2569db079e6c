#include "App_help.h"
#include "TestDialogs.h"
#include "TestDocumentOpener.h"
#include "TestFiles.h"

#include <filesystem>
#include <functional>
#include <gtest/gtest.h>

using App_help::THelpCommands;
using Kiv_dialogs::mrNo;
using Kiv_dialogs::mrYes;
using TestFiles::TTempDir;

namespace {

class HelpCommands : public ::testing::Test {
protected:
    void SetUp() override {
        TestFiles::WriteFile(HelpPage, "<!DOCTYPE html><title>Sorvik Help</title>");
    }

    // Runs the command as the main window does and returns the text of the error box it
    // leads to, empty for none.
    std::string ErrorOf(const std::function<void()>& command) {
        TestDialogs::TTestDialogs errorBoxes;
        try {
            command();
        } catch (const std::exception& error) {
            App_common::ShowException(errorBoxes, error);
        }
        if (errorBoxes.Messages.empty())
            return "";
        EXPECT_EQ(errorBoxes.Messages.size(), 1u);
        EXPECT_EQ(errorBoxes.Messages[0].Icon, Kiv_dialogs::miError);
        return errorBoxes.Messages[0].Text;
    }

    TTempDir Folder;
    std::string HelpPage = Folder / "Help/index.html";
    TestDialogs::TTestDialogs Dialogs;
    TestDocumentOpener::TTestDocumentOpener Opener;
    THelpCommands Commands{Dialogs, Opener, HelpPage};
};

} // namespace

TEST_F(HelpCommands, OpenHelpAsksFirstAndAnsweredYesOpensThePage) {
    Dialogs.AnswerMessage(mrYes);
    EXPECT_TRUE(Commands.CanOpenHelp());
    Commands.OpenHelp();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    const auto& question = Dialogs.Messages[0];
    EXPECT_EQ(question.Text, "Do you want to open the offline help?");
    EXPECT_EQ(question.Caption, "Sorvik");
    EXPECT_EQ(question.Icon, Kiv_dialogs::miQuestion);
    EXPECT_EQ(question.Buttons, Kiv_dialogs::mbYesNo);
    EXPECT_EQ(Opener.Opened, std::vector<std::string>{HelpPage});
}

TEST_F(HelpCommands, AnsweredNoOrClosedDoesNothingAndShowsNothing) {
    Dialogs.AnswerMessage(mrNo);
    EXPECT_THROW(Commands.OpenHelp(), Kiv_framework::EAbort);
    Dialogs.AnswerMessage(Kiv_dialogs::mrCancel);
    EXPECT_EQ(ErrorOf([&] { Commands.OpenHelp(); }), "");
    EXPECT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_TRUE(Opener.Opened.empty());
}

TEST_F(HelpCommands, AMissingHelpPageGivesOneErrorBoxAndLaunchesNothing) {
    std::filesystem::remove_all(Folder / "Help");
    Dialogs.AnswerMessage(mrYes);
    // The message says where the page was looked for, and why it could not be opened.
    EXPECT_EQ(ErrorOf([&] { Commands.OpenHelp(); }), "The program could not open the help \"" +
                                                         HelpPage +
                                                         "\" (No such file or directory).");
    EXPECT_TRUE(Opener.Opened.empty());

    // A folder where the page should be is no page either.
    std::filesystem::create_directories(HelpPage);
    Dialogs.AnswerMessage(mrYes);
    EXPECT_EQ(ErrorOf([&] { Commands.OpenHelp(); }), "The program could not open the help \"" +
                                                         HelpPage +
                                                         "\" (it is not a regular file).");
    EXPECT_TRUE(Opener.Opened.empty());
}

TEST_F(HelpCommands, NoProgramForThePageGivesTheSameError) {
    Opener.Succeeds = false;
    Dialogs.AnswerMessage(mrYes);
    EXPECT_EQ(ErrorOf([&] { Commands.OpenHelp(); }),
              "The program could not open the help \"" + HelpPage +
                  "\" (the desktop has no program to open it).");
    EXPECT_EQ(Opener.Opened.size(), 1u);
}

TEST_F(HelpCommands, AboutShowsTheVersionAndTheNoticeInItsOwnBox) {
    EXPECT_TRUE(Commands.CanShowAbout());
    Commands.ShowAbout();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    const auto& box = Dialogs.Messages[0];
    EXPECT_EQ(box.Caption, "About Sorvik");
    EXPECT_EQ(box.Icon, Kiv_dialogs::miInformation);
    EXPECT_EQ(box.Buttons, Kiv_dialogs::mbOk);
    EXPECT_EQ(box.Text, App_common::AboutText());
    EXPECT_TRUE(Opener.Opened.empty());
}
