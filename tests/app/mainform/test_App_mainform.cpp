// The main window's headless part: the objects and their settings, the action and menu
// tables, the texts it shows and the command line.
#include "App_mainform.h"
#include "MainFormTestSupport.h"
#include "TestApplication.h"

#include <cctype>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sys/wait.h>
#include <unistd.h>

using namespace App_mainform;
using App_view::TScanFields;
using MainFormTest::AccessKey;
using MainFormTest::TTestServices;

namespace {

// A window that is only a rectangle.
class TTestForm : public Kiv_forms::TCustomForm {
public:
    bool GetWindowPlacement(Kiv_forms::TWindowPlacement& placement) const override {
        placement.NormalPosition = Rect;
        return true;
    }
    bool SetWindowPlacement(const Kiv_forms::TWindowPlacement& placement) override {
        Rect = placement.NormalPosition;
        return true;
    }
    Kiv_forms::TRect Rect{10, 20, 630, 500};
};

class MainFormObjects : public ::testing::Test {
protected:
    std::unique_ptr<TMainFormObjects> Make() {
        return std::make_unique<TMainFormObjects>(Services.Services(), Form, List);
    }

    TestApplication::TTestApplication App;
    TTestServices Services;
    TTestForm Form;
    Kiv_listviews::TCustomListView List;
};

// The sections of a settings file, in order.
std::vector<std::string> Sections(const std::string& text) {
    std::vector<std::string> sections;
    for (std::size_t line = 0; line < text.size(); line = text.find('\n', line) + 1) {
        if (text[line] == '[')
            sections.push_back(text.substr(line + 1, text.find(']', line) - line - 1));
        if (text.find('\n', line) == std::string::npos)
            break;
    }
    return sections;
}

} // namespace

TEST_F(MainFormObjects, EachObjectKeepsItsSettingsUnderItsOwnSectionInRegistrationOrder) {
    const auto objects = Make();
    objects->Settings.SaveAll();
    const std::string text = TestFiles::ReadFile(Services.SettingsFile());
    EXPECT_EQ(Sections(text),
              (std::vector<std::string>{"SystemSettings", "Document",
                                        "DocumentCommands.SaveResultsDialog",
                                        "DocumentEntriesCommands.AddRegularFilesDialog",
                                        "ViewSettings.Form", "ViewSettings", "ViewSettingsView"}));
    EXPECT_NE(text.find("CurrentDirectory=\"" + Services.CurrentDirectory.Path() + "\"\r\n"),
              std::string::npos);
    EXPECT_NE(text.find("Left=10\r\nTop=20\r\nRight=630\r\nBottom=500\r\n"), std::string::npos);
}

TEST_F(MainFormObjects, LoadingRestoresEveryHandlersValues) {
    EntriesTest::WriteFile(Services.SettingsFile(),
                           "[SystemSettings]\r\nCurrentDirectory=\"" + Services.Dir.Path +
                               "\"\r\n[Document]\r\nRememberSettings=1\r\nAspects="
                               "000010000010\r\n[DocumentCommands.SaveResultsDialog]\r\n"
                               "FilterIndex=2\r\n[DocumentEntriesCommands.AddRegularFilesDialog]"
                               "\r\nFilterIndex=3\r\n[ViewSettings.Form]\r\nLeft=1\r\nTop=2\r\n"
                               "Right=301\r\nBottom=202\r\n[ViewSettings]\r\n"
                               "Fields=11100000000011\r\n[ViewSettingsView]\r\n"
                               "FieldWidths[0]=333\r\n");
    const auto objects = Make();
    objects->ViewSettings.OnChange(&objects->ViewSettings);
    objects->Settings.LoadAll();
    EXPECT_EQ(std::filesystem::current_path().string(), Services.Dir.Path);
    EXPECT_TRUE(objects->Document.RememberSettings);
    EXPECT_EQ(objects->Document.GetAspects(),
              (App_document::TScanAspects{App_document::saSize, App_document::saHash}));
    EXPECT_EQ(objects->DocumentCommands.SaveResultsDialog.FilterIndex, 2);
    EXPECT_EQ(objects->EntriesCommands.AddFilesDialog.FilterIndex, 3);
    EXPECT_EQ(Form.Rect, (Kiv_forms::TRect{1, 2, 301, 202}));
    ASSERT_EQ(List.ColumnCount(), 5);
    EXPECT_EQ(List.Column(1).Caption, "Path");
    EXPECT_EQ(List.Column(1).Width, 333);
}

TEST_F(MainFormObjects, TheStartRemovesWhatAMoveKilledBeforeItsRenameLeftInTheTrash) {
    const std::string home = Services.Shell.HomeTrash;
    const std::string path = Services.Dir / "photo";
    TestFiles::WriteFile(path, "kept");
    // A program killed between the information file and the rename.
    const pid_t child = ::fork();
    if (child == 0) {
        Kiv_shellfiles::TTrash trash(home);
        Kiv_shellfiles::TRecycleHooks hooks;
        hooks.Record = [](const Kiv_shellfiles::TTrashedFile&) { ::_exit(0); };
        try {
            trash.MoveToTrash(path, hooks);
        } catch (...) {
        }
        ::_exit(1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    ASSERT_TRUE(std::filesystem::exists(home + "/info/photo.trashinfo"));
    const auto objects = Make();
    EXPECT_FALSE(std::filesystem::exists(home + "/info/photo.trashinfo"));
    EXPECT_EQ(TestFiles::ReadFile(path), "kept");
}

TEST_F(MainFormObjects, AClipboardThatCannotBeWatchedFailsTheConstructionCleanly) {
    class TDeafClipboard : public TestShell::TTestClipboard {
        std::unique_ptr<Kiv_clipboard::TClipboardSubscription>
        Subscribe(std::function<void()>) override {
            return nullptr;
        }
    } deaf;
    TMainFormServices services = Services.Services();
    const TMainFormServices broken{services.Dialogs, services.ScanDialogs,    deaf,
                                   services.Shell,   services.DocumentOpener, services.SettingsFile,
                                   services.HelpFile};
    EXPECT_EQ(TestFiles::MessageOf<Kiv_clipboard::EClipboardError>(
                  [&] { TMainFormObjects objects(broken, Form, List); }),
              "The program could not add the window to the clipboard viewer chain.");
    // Nothing was written by the objects made before the failure.
    EXPECT_FALSE(std::filesystem::exists(Services.SettingsFile()));
}

// ---------------------------------------------------------------------------------------
// The tables

TEST(MainFormActions, EveryEntriesCommandHasExactlyOneAction) {
    std::map<std::string, int> bound;
    for (const TAction& action : Actions())
        if (!action.EntriesCommand.empty())
            ++bound[action.EntriesCommand];
    std::set<std::string> commands{"DropFiles"};
    for (const auto& command : App_scanentries::TScanEntriesCommands::Commands())
        commands.insert(command.Name);
    for (const std::string& command : commands)
        EXPECT_EQ(bound[command], 1) << command;
    EXPECT_EQ(bound.size(), commands.size());
}

TEST(MainFormActions, NamesAreUniqueAndEveryActionCanBeReachedOnceInEachMenuSet) {
    std::map<std::string, int> inPopups;
    std::map<std::string, int> inMenuBar;
    for (const TAction& action : Actions()) {
        EXPECT_EQ(inPopups.emplace(action.Name, 0).second, true) << action.Name;
        inMenuBar.emplace(action.Name, 0);
    }
    std::function<void(const std::vector<TMenuItem>&, std::map<std::string, int>&)> walk =
        [&](const auto& items, auto& places) {
            for (const TMenuItem& item : items) {
                if (item.Kind == TMenuItem::mkAction) {
                    ASSERT_NE(FindAction(item.Text), nullptr) << item.Text;
                    ++places[item.Text];
                }
                walk(item.Items, places);
            }
        };
    walk(PopupMenu1(), inPopups);
    walk(PopupMenu2(), inPopups);
    walk(MainMenu(), inMenuBar);
    for (const auto& [name, count] : inPopups) {
        // Scan, Options and Quit are the window's; a drop is no command one chooses.
        const bool window = name == ScanAction || name == OptionsAction || name == QuitAction ||
                            name == DropFilesAction;
        EXPECT_EQ(count, window ? 0 : 1) << name;
    }
    // The menu bar shows every command once.
    for (const auto& [name, count] : inMenuBar)
        EXPECT_EQ(count, name == DropFilesAction ? 0 : 1) << name;
    for (const char* name : SpeedButtonActions())
        EXPECT_NE(FindAction(name), nullptr) << name;
}

TEST(MainFormActions, EveryMenuItemHasAnAccessKeyOfItsOwnWithinItsMenu) {
    EXPECT_EQ(AccessKey("Select First in &Group"), 'g');
    EXPECT_EQ(AccessKey("Save && &Quit"), 'q');
    EXPECT_EQ(AccessKey("Scan"), 0);
    EXPECT_EQ(AccessKey("Trail&"), 0);
    std::function<void(const std::vector<TMenuItem>&, const std::string&)> check =
        [&](const auto& items, const std::string& where) {
            std::map<char, std::string> keys;
            for (const TMenuItem& item : items) {
                if (item.Kind == TMenuItem::mkSeparator)
                    continue;
                std::string caption = item.Text;
                if (item.Kind == TMenuItem::mkAction)
                    caption = item.Caption.empty() ? FindAction(item.Text)->Caption : item.Caption;
                const char key = AccessKey(caption);
                EXPECT_NE(key, 0) << where << ": " << caption;
                const auto [other, added] = keys.emplace(key, caption);
                EXPECT_TRUE(added) << where << ": " << caption << " and " << other->second;
                if (item.Kind == TMenuItem::mkSubmenu)
                    check(item.Items, where + "/" + caption);
            }
        };
    check(PopupMenu1(), "PopupMenu1");
    check(PopupMenu2(), "PopupMenu2");
    check(MainMenu(), "MainMenu");
}

TEST(MainFormActions, TheWordsOfTheDesktopAreLinuxOnes) {
    std::function<void(const std::vector<TMenuItem>&)> walk = [&](const auto& items) {
        for (const TMenuItem& item : items) {
            EXPECT_EQ(item.Text.find("Shell"), std::string::npos) << item.Text;
            walk(item.Items);
        }
    };
    walk(PopupMenu1());
    for (const TAction& action : Actions()) {
        for (const std::string text : {action.Caption, action.Hint}) {
            std::string lowered = text;
            for (char& c : lowered)
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(lowered.find("recycle"), std::string::npos) << text;
            EXPECT_EQ(lowered.find("explore"), std::string::npos) << text;
        }
    }
    EXPECT_STREQ(FindAction("Action2B3")->Caption, "Move to &Trash...");
    EXPECT_STREQ(FindAction("Action2B2")->Caption, "Open Containing &Folder");
}

TEST(MainFormActions, TheOrderIsKeptUntilAnActionMayChangeIt) {
    using App_view::sfGroup;
    using App_view::sfName;
    using App_view::sfPriority;
    const TSortState none;
    const TSortState byName{sfName, false};
    // A sort sets the order, Reverse Order turns it round and back.
    EXPECT_EQ(SortStateAfter(none, "Action2A23"), byName);
    EXPECT_EQ(SortStateAfter(byName, ReverseOrderAction), (TSortState{sfName, true}));
    EXPECT_EQ(SortStateAfter(TSortState{sfName, true}, ReverseOrderAction), byName);
    EXPECT_EQ(SortStateAfter(TSortState{sfName, true}, SortByGroupAction),
              (TSortState{sfGroup, false}));
    // Reversing a list in no known order leaves it so.
    EXPECT_EQ(SortStateAfter(none, ReverseOrderAction), none);
    // Adds, moves and a scan forget it; removals, selections and views keep it.
    for (const char* action : {NewAction, "Action221", "Action222", "Action25", DropFilesAction,
                               "Action2A4", "Action2A5", "Action2B6", ScanAction})
        EXPECT_EQ(SortStateBefore(byName, action), none) << action;
    for (const char* action :
         {"Action23", "Action24", "Action26", "Action27", "Action28", "Action2B3", "Action2D",
          "Action2A11", OptionsAction, "Action13", "Action2C1", "Action2C2"}) {
        EXPECT_EQ(SortStateBefore(byName, action), byName) << action;
        EXPECT_EQ(SortStateAfter(byName, action), byName) << action;
    }
    // A priority change unsorts a sort by priority only.
    EXPECT_EQ(SortStateBefore(TSortState{sfPriority, false}, "Action2C1"), none);
}

TEST(MainFormActions, AColumnSortsByTheFieldItShows) {
    EXPECT_EQ(SortActionOfColumn(App_view::DefaultScanFields, 0), "Action2A23");
    EXPECT_EQ(SortActionOfColumn(App_view::DefaultScanFields, 3), "Action2A2E");
    EXPECT_EQ(SortActionOfColumn(App_view::DefaultScanFields, 4), std::nullopt);
    TScanFields withPath = App_view::DefaultScanFields;
    withPath.Include(App_view::sfPath);
    EXPECT_EQ(SortActionOfColumn(withPath, 1), "Action2A21");
    EXPECT_EQ(SortActionOfColumn(withPath, 2), "Action2A22");
    EXPECT_EQ(SortActionOfColumn(TScanFields{}, 0), std::nullopt);
    for (int field = 0; field < App_view::ScanFieldCount; ++field)
        EXPECT_NE(FindAction(SortActionOf(static_cast<App_view::TScanField>(field))), nullptr);
}

// ---------------------------------------------------------------------------------------
// Texts

TEST(MainFormTexts, TheStatusCountsTheSelectionOrElseTheEntries) {
    EXPECT_EQ(StatusText(0, 0), "0 items");
    EXPECT_EQ(StatusText(0, 1), "1 items");
    EXPECT_EQ(StatusText(0, 1234), "1,234 items");
    EXPECT_EQ(StatusText(3, 1234), "3 items are selected");
    EXPECT_EQ(StatusText(1234567, 1234567), "1,234,567 items are selected");
}

TEST(MainFormTexts, ARowShowsTheShownFieldsNameFirstAndItsImages) {
    TestApplication::TTestApplication app;
    App_scanentries::PrimaryImageIndex = 0;
    App_scanentries::SecondaryImageIndex = 1;
    App_scanentries::UngroupedImageIndex = 0;
    App_scanentries::UniqueImageIndex = 1;
    App_scanentries::GroupedImageIndex = 2;
    const auto entry = EntriesTest::Entry("/home/ann/Pictures/beach.jpg", 1234567, 0x20);
    entry->Priority = App_scanentries::spPrimary;
    entry->SetGroup(7);
    Kiv_listviews::TListItem item;
    RowData(*entry, App_view::DefaultScanFields, 1, item);
    EXPECT_EQ(item.Caption, "beach.jpg");
    EXPECT_EQ(item.SubItems, (std::vector<std::string>{"/home/ann/Pictures", "Primary", "7"}));
    EXPECT_EQ(item.ImageIndex, 0);
    EXPECT_EQ(item.StateIndex, 2);
    EXPECT_EQ(item.Band, 1);

    Kiv_listviews::TListItem wide;
    RowData(*entry, TScanFields{App_view::sfSize, App_view::sfPath, App_view::sfExtension}, 0,
            wide);
    // Without Name the first shown field takes the first column.
    EXPECT_EQ(wide.Caption, "/home/ann/Pictures/beach.jpg");
    EXPECT_EQ(wide.SubItems, (std::vector<std::string>{"JPG", "1,234,567"}));
}

TEST(MainFormTexts, GroupsTakeTurnsInTheirBandsCountingOnlyTheGroupsStillListed) {
    App_scanentries::TScanEntries entries;
    const std::vector<int> groups{1, 1, 2, 2, 3, 3, 0, -1};
    App_scanentries::TScanEntryArray batch(static_cast<int>(groups.size()));
    for (std::size_t i = 0; i < groups.size(); ++i) {
        auto entry = EntriesTest::Entry("/g/" + std::to_string(i), 10);
        entry->SetGroup(groups[i]);
        batch[static_cast<int>(i)] = entry.release();
    }
    entries.Add(batch);
    TGroupBands bands;
    const auto bandsOf = [&] {
        std::vector<int> seen;
        for (int i = 0; i < entries.Count(); ++i)
            seen.push_back(bands.Band(entries, entries.Item(i)));
        return seen;
    };
    // Unique and unscanned rows have no band.
    EXPECT_EQ(bandsOf(), (std::vector<int>{1, 1, 0, 0, 1, 1, -1, -1}));
    // Group 2 leaves the list: groups 1 and 3, now side by side, still differ.
    entries.Remove(Kiv_dynamicarrays::TIntegerDynArray({2, 3}));
    EXPECT_EQ(bandsOf(), (std::vector<int>{1, 1, 0, 0, -1, -1}));
    // A rescan that regroups tells the list, and the bands follow.
    for (const int index : {0, 1}) {
        entries.Item(index).SetGroup(5);
        entries.EntryChanged(index);
    }
    EXPECT_EQ(bandsOf(), (std::vector<int>{0, 0, 1, 1, -1, -1}));
}

// ---------------------------------------------------------------------------------------
// The command line

TEST(MainFormCommandLine, RelativePathsAreTakenFromTheStartingDirectory) {
    const TCommandLine line = ParseCommandLine({".", "b/c", "/abs", "../up"}, "/home/ann");
    EXPECT_EQ(line.Kind, TCommandLine::ckRun);
    EXPECT_EQ(line.Paths, (std::vector<std::string>{"/home/ann/.", "/home/ann/b/c", "/abs",
                                                    "/home/ann/../up"}));
    EXPECT_EQ(ParseCommandLine({"x"}, "/").Paths, (std::vector<std::string>{"/x"}));
    // Without a starting directory a relative path stays as it is, for the list to refuse.
    EXPECT_EQ(ParseCommandLine({"x"}, "").Paths, (std::vector<std::string>{"x"}));
    // A name is bytes: one that is not UTF-8 is kept as it is.
    EXPECT_EQ(ParseCommandLine({"caf\xe9"}, "/d").Paths, (std::vector<std::string>{"/d/caf\xe9"}));
}

TEST(MainFormCommandLine, OptionsEndAtTwoDashes) {
    EXPECT_EQ(ParseCommandLine({"--help"}, "/").Kind, TCommandLine::ckHelp);
    EXPECT_EQ(ParseCommandLine({"a", "--version"}, "/").Kind, TCommandLine::ckVersion);
    const TCommandLine unknown = ParseCommandLine({"-x"}, "/");
    EXPECT_EQ(unknown.Kind, TCommandLine::ckError);
    EXPECT_EQ(unknown.Error, "unknown option -x");
    const TCommandLine after = ParseCommandLine({"--", "--help", "-x", "-"}, "/d");
    EXPECT_EQ(after.Kind, TCommandLine::ckRun);
    EXPECT_EQ(after.Paths, (std::vector<std::string>{"/d/--help", "/d/-x", "/d/-"}));
    EXPECT_TRUE(ParseCommandLine({}, "/").Paths.empty());
}

TEST(MainFormCommandLine, VersionAndUsageNameTheProgram) {
    EXPECT_EQ(VersionText(), std::string("sorvik ") + App_common::AppVersion + "\n");
    EXPECT_EQ(UsageText().rfind("Usage: sorvik [PATH]...\n", 0), 0u);
}
