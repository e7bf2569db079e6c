// The main window with real widgets on the offscreen platform and the test's desktop: the
// status text, the columns, the command line, drops, closing, the field toggles, failing
// commands, the keyboard and the context menus, and every action of the action list.
#include "App_mainform_window.h"
#include "App_scan_window.h"
#include "TestApplication.h"
#include "TestWindowApplication.h"
#include "app/mainform/MainFormTestSupport.h"

#include <QAction>
#include <QDialog>
#include <QDropEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <numeric>
#include <set>

// GCC 12 under the sanitizers takes a cancelled file dialog's answer (an empty
// std::optional of a vector, queued by TTestDialogs) for uninitialised memory.
#if defined(__GNUC__) && !defined(__clang__) && __GNUC__ < 13
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

using namespace App_mainform;
using App_scanentries::TScanEntries;
using Kiv_dialogs::mrNo;
using Kiv_dialogs::mrYes;
using MainFormTest::AddMadeUp;
using MainFormTest::PathsOf;
using MainFormTest::TTestServices;
using Strings = std::vector<std::string>;

namespace {

App_scan::TCustomProgressDialog& ProgressDialog() {
    return App_scan::AppProgressDialog();
}

// Runs what the event loop has queued (the coalesced update among it).
void Settle() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::processEvents();
}

std::vector<int> Selected(const TAppMainForm& form) {
    const auto indexes = form.Objects().EntriesSelection.GetSelectedIndices();
    return {indexes.begin(), indexes.end()};
}

void ClickColumn(TAppMainForm& form, int column) {
    QHeaderView* header = form.ListView1->horizontalHeader();
    const QPoint inside(header->sectionViewportPosition(column) + 4, header->height() / 2);
    QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, inside);
}

// A drop of local files onto the window, as a file manager makes it.
bool Drop(QWidget& target, const Strings& paths) {
    QByteArray list;
    for (const std::string& path : paths)
        list += QUrl::fromLocalFile(QString::fromStdString(path)).toEncoded() + "\r\n";
    QMimeData data;
    data.setData(QStringLiteral("text/uri-list"), list);
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&target, &enter);
    QDropEvent drop(at, Qt::CopyAction | Qt::MoveAction, &data, Qt::LeftButton, {});
    QCoreApplication::sendEvent(&target, &drop);
    return drop.isAccepted() && drop.dropAction() == Qt::CopyAction;
}

class MainForm : public ::testing::Test {
protected:
    ~MainForm() override {
        Form.reset();
        // A scan's thread object deletes itself from the event loop once its thread ended.
        EXPECT_TRUE(TestApplication::ServeUntil([] {
            Settle();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return TestApplication::TaskThreadCount() == 0;
        }));
        EXPECT_TRUE(Services.Dialogs.AllAnswered());
    }

    TAppMainForm& Make(Strings paths = {}) {
        Form = std::make_unique<TAppMainForm>(Services.Services(), std::move(paths));
        return *Form;
    }
    TScanEntries& Entries() const { return Form->Objects().Entries(); }
    std::string Status() const { return Form->Label1->text().toStdString(); }
    // Closes the window as its close box does; true when it closed.
    bool Close() { return Form->close(); }
    bool SettingsWritten() const { return std::filesystem::exists(Services.SettingsFile()); }

    TestApplication::TTestWindowApplication App;
    TTestServices Services{ProgressDialog};
    std::unique_ptr<TAppMainForm> Form;
};

} // namespace

// ---------------------------------------------------------------------------------------
// Status text and columns

TEST_F(MainForm, TheStatusTextCountsEntriesOrTheSelection) {
    Make().show();
    EXPECT_EQ(Status(), "0 items");
    EXPECT_TRUE(Form->EmptyListHint->isVisible());
    Strings paths;
    for (int i = 0; i < 1234; ++i)
        paths.push_back("/data/file" + std::to_string(i));
    AddMadeUp(Entries(), paths);
    Settle();
    EXPECT_EQ(Status(), "1,234 items are selected");
    EXPECT_FALSE(Form->EmptyListHint->isVisible());
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    EXPECT_EQ(Status(), "1,234 items");
    Form->Objects().EntriesSelection.SetSelectedIndices({3, 7, 1000});
    Settle();
    EXPECT_EQ(Status(), "3 items are selected");
    // A click on a row selects that row alone.
    const QRect row = Form->ListView1->RowRect(0);
    QTest::mouseClick(Form->ListView1->viewport(), Qt::LeftButton, {}, row.center());
    Settle();
    EXPECT_EQ(Status(), "1 items are selected");
}

TEST_F(MainForm, AColumnClickSortsByTheFieldOfThatColumn) {
    Make().show();
    AddMadeUp(Entries(), {"/b/z", "/c/x", "/a/y"});
    ClickColumn(*Form, 0);
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/c/x", "/a/y", "/b/z"}));
    Form->Perform(Form->Action("Action2A11")); // the path field shown
    ASSERT_EQ(Form->ListView1->Column(1).Caption, "Path");
    ClickColumn(*Form, 1);
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/a/y", "/b/z", "/c/x"}));
    // Through the action: a disabled sort does nothing.
    Form->Action("Action2A23")->setEnabled(false);
    ClickColumn(*Form, 0);
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/a/y", "/b/z", "/c/x"}));
}

TEST_F(MainForm, FieldTogglesAreCheckedExactlyForTheShownFields) {
    EntriesTest::WriteFile(Services.SettingsFile(), "[ViewSettings]\r\nFields=10110000000111\r\n");
    Make();
    const auto checked = [this] {
        std::string marks;
        for (const char* name :
             {"Action2A11", "Action2A12", "Action2A13", "Action2A14", "Action2A15", "Action2A16",
              "Action2A17", "Action2A18", "Action2A19", "Action2A1A", "Action2A1B"})
            marks += Form->Action(name)->isChecked() ? '1' : '0';
        return marks;
    };
    // Path, Base name, Hash (Name and Group have no toggle).
    EXPECT_EQ(checked(), "10100000001");
    Form->Perform(Form->Action("Action2A15"));
    Settle();
    EXPECT_EQ(checked(), "10101000001");
    Form->Perform(Form->Action("Action2A11"));
    Settle();
    EXPECT_EQ(checked(), "00101000001");
    // Name, Base name, Size, Hash, Priority, Group.
    EXPECT_EQ(Form->ListView1->ColumnCount(), 6);
}

// ---------------------------------------------------------------------------------------
// The command line and drops

TEST_F(MainForm, CommandLinePathsAreAddedOnceAfterTheWindowIsShown) {
    const auto& dir = Services.Dir;
    for (const char* name : {"one", "two"})
        EntriesTest::WriteFile(dir / name, name);
    EntriesTest::MakeDir(dir / "sub");
    EntriesTest::WriteFile(dir / "sub/three", "3");
    int runs = 0;
    bool visible = false;
    Make({dir / "one", dir / "two", dir / "sub"});
    Form->OnCommandLineDone = [&] {
        ++runs;
        visible = Form->isVisible();
    };
    Settle();
    EXPECT_EQ(Entries().Count(), 0);
    Form->show();
    ASSERT_TRUE(TestApplication::ServeUntil([&] { return runs > 0; }));
    EXPECT_TRUE(visible);
    EXPECT_EQ(PathsOf(Entries()), (Strings{dir / "one", dir / "two", dir / "sub/three"}));
    // As a drop: secondary and selected.
    EXPECT_EQ(Entries().CountPriority(App_scanentries::spSecondary), 3);
    EXPECT_EQ(Selected(*Form), (std::vector<int>{0, 1, 2}));
    QTest::qWait(50);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(Entries().Count(), 3);
}

TEST_F(MainForm, ACommandLineThatCannotBeAddedIsShownOnceAndAddsNothing) {
    EntriesTest::WriteFile(Services.Dir / "there");
    bool shownOverWindow = false;
    Services.Dialogs.OnMessage = [&](const Kiv_dialogs::TMessageRequest&) {
        shownOverWindow = Form->isVisible() && Form->windowHandle()->isExposed();
    };
    int runs = 0;
    Make({Services.Dir / "there", Services.Dir / "gone"}).OnCommandLineDone = [&] { ++runs; };
    Form->show();
    ASSERT_TRUE(TestApplication::ServeUntil([&] { return runs > 0; }));
    QTest::qWait(50);
    EXPECT_EQ(runs, 1);
    ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Services.Dialogs.Messages[0].Text,
              "The program cannot accept the file \"" + Services.Dir / "gone" + "\".");
    EXPECT_EQ(Services.Dialogs.Messages[0].Icon, Kiv_dialogs::miError);
    EXPECT_TRUE(shownOverWindow);
    EXPECT_EQ(Entries().Count(), 0);
    EXPECT_TRUE(Form->Objects().PendingPaths.Empty());
}

TEST_F(MainForm, ADropBringsTheWindowToTheFrontBeforeItsFilesAreAdded) {
    EntriesTest::WriteFile(Services.Dir / "dropped");
    Make().show();
    QWidget other;
    other.show();
    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    // A drop that fails: the error comes while the window is already in front.
    QWidget* activeAtError = nullptr;
    Services.Dialogs.OnMessage = [&](const Kiv_dialogs::TMessageRequest&) {
        Settle(); // as the box's own event loop would
        activeAtError = QApplication::activeWindow();
    };
    EXPECT_TRUE(Drop(*Form, {Services.Dir / "missing"}));
    ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(activeAtError, Form.get());
    EXPECT_EQ(Entries().Count(), 0);

    other.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&other));
    EXPECT_TRUE(Drop(*Form, {Services.Dir / "dropped"}));
    EXPECT_EQ(PathsOf(Entries()), (Strings{Services.Dir / "dropped"}));
    EXPECT_TRUE(QTest::qWaitForWindowActive(Form.get()));
}

// ---------------------------------------------------------------------------------------
// Closing

TEST_F(MainForm, AnEmptyListClosesAtOnceAndWritesTheSettings) {
    Make().show();
    EXPECT_TRUE(Close());
    EXPECT_TRUE(Services.Dialogs.Messages.empty());
    EXPECT_TRUE(SettingsWritten());
}

TEST_F(MainForm, UniqueEntriesOnlyCloseWithoutAQuestion) {
    Make().show();
    AddMadeUp(Entries(), {"/u/one", "/u/two"});
    Entries().Item(0).SetGroup(0);
    Entries().Item(1).SetGroup(0);
    EXPECT_TRUE(Close());
    EXPECT_TRUE(Services.Dialogs.Messages.empty());
    EXPECT_TRUE(SettingsWritten());
}

TEST_F(MainForm, AGroupedOrUnscannedEntryAsksAndNoKeepsTheWindowAndTheSettingsFile) {
    for (const int group : {1, -1}) {
        Make().show();
        AddMadeUp(Entries(), {"/g/one", "/g/two"});
        Entries().Item(0).SetGroup(0);
        Entries().Item(1).SetGroup(group);
        Services.Dialogs.AnswerMessage(mrNo);
        EXPECT_FALSE(Close());
        ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
        EXPECT_EQ(Services.Dialogs.Messages[0].Text,
                  "Do you want to remove all the files from the list?");
        EXPECT_TRUE(Form->isVisible());
        EXPECT_EQ(Entries().Count(), 2);
        EXPECT_FALSE(SettingsWritten());
        // Yes empties the list and closes.
        Services.Dialogs.AnswerMessage(mrYes);
        EXPECT_TRUE(Close());
        EXPECT_TRUE(SettingsWritten());
        std::filesystem::remove(Services.SettingsFile());
        Services.Dialogs.Messages.clear();
    }
}

TEST_F(MainForm, SettingsThatCannotBeWrittenKeepTheWindowOpenWithTheError) {
    EntriesTest::WriteFile(Services.Dir / "file");
    App_mainform::TMainFormServices services = Services.Services();
    services.SettingsFile = Services.Dir / "file/Settings.ini";
    Form = std::make_unique<TAppMainForm>(services, Strings{});
    Form->show();
    EXPECT_FALSE(Close());
    ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Services.Dialogs.Messages[0].Icon, Kiv_dialogs::miError);
    EXPECT_TRUE(Form->isVisible());
}

TEST_F(MainForm, SettingsOfTheLastRunComeBackOnScreenAndABrokenFileEndsStartUp) {
    EntriesTest::WriteFile(Services.SettingsFile(),
                           "[ViewSettings.Form]\r\nLeft=40\r\nTop=30\r\nRight=740\r\nBottom=530\r\n"
                           "[ViewSettingsView]\r\nFieldWidths[2]=321\r\n");
    Make();
    EXPECT_EQ(Form->geometry(), QRect(40, 30, 700, 500));
    EXPECT_EQ(Form->ListView1->horizontalHeader()->sectionSize(0), 321);
    Form.reset();

    // A place on a screen that is gone: the window comes back onto the screen.
    EntriesTest::WriteFile(Services.SettingsFile(), "[ViewSettings.Form]\r\nLeft=-5000\r\n"
                                                    "Top=-4000\r\nRight=-4300\r\nBottom=-3500\r\n");
    Make();
    EXPECT_EQ(Form->size(), QSize(700, 500));
    EXPECT_TRUE(QGuiApplication::primaryScreen()->availableGeometry().intersects(Form->geometry()));
    Form.reset();

    const std::string broken = "[ViewSettings]\r\nFields=1\r\n";
    EntriesTest::WriteFile(Services.SettingsFile(), broken);
    EXPECT_THROW(Make(), Kiv_framework::ERangeError);
    EXPECT_EQ(TestFiles::ReadFile(Services.SettingsFile()), broken);
}

// ---------------------------------------------------------------------------------------
// Failing commands and the cursor

TEST_F(MainForm, AFailingCommandLeavesTheActionsUpdatedAndTheCursorRestored) {
    Make().show();
    AddMadeUp(Entries(), {"/f/one"});
    Settle();
    Services.Shell.Failing = {"/f/one"};
    // The clipboard changes without a word: Paste stays disabled until the next update.
    Services.Clipboard.Text = "/f/two\r\n";
    Services.Clipboard.Holds = true;
    Settle();
    ASSERT_FALSE(Form->Action("Action25")->isEnabled());
    Qt::CursorShape during = Qt::ArrowCursor;
    Services.Shell.OnOpen = [&] {
        during = QApplication::overrideCursor() ? QApplication::overrideCursor()->shape()
                                                : Qt::ArrowCursor;
    };
    bool cursorAtBox = true;
    Services.Dialogs.OnMessage = [&](const Kiv_dialogs::TMessageRequest&) {
        cursorAtBox = QApplication::overrideCursor() != nullptr;
    };
    Form->Perform(Form->Action("Action2B1"));
    EXPECT_EQ(during, Qt::WaitCursor);
    ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Services.Dialogs.Messages[0].Text,
              "The program could not open the file \"/f/one\" (the desktop has no program to open "
              "it).");
    EXPECT_FALSE(cursorAtBox);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
    Settle();
    EXPECT_TRUE(Form->Action("Action25")->isEnabled());
    // The list has the focus after a command of the list.
    EXPECT_EQ(QApplication::focusWidget(), Form->ListView1);
}

// ---------------------------------------------------------------------------------------
// The keyboard and the context menus

TEST_F(MainForm, ListShortcutsNeedTheListWhileF1AndEnterWorkAnywhere) {
    Make().show();
    Form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(Form.get()));
    AddMadeUp(Entries(), {"/k/one"});
    Settle();
    Form->Button2->setFocus();
    QTest::keyClick(Form->Button2, Qt::Key_T, Qt::ControlModifier);
    EXPECT_TRUE(Services.Dialogs.Messages.empty());
    Services.Dialogs.AnswerMessage(mrNo);
    QTest::keyClick(Form->Button2, Qt::Key_F1);
    ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Services.Dialogs.Messages[0].Text, "Do you want to open the offline help?");

    Form->ListView1->setFocus();
    QTest::keyClick(Form->ListView1, Qt::Key_T, Qt::ControlModifier);
    ASSERT_EQ(Services.Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Services.Dialogs.Messages[1].Text, "The total size of the 1 files is 0 bytes.");
    // Enter is Scan, the default button (nothing primary here).
    QTest::keyClick(Form->ListView1, Qt::Key_Return);
    ASSERT_EQ(Services.Dialogs.Messages.size(), 3u);
    EXPECT_EQ(Services.Dialogs.Messages[2].Text, "Specify primary entries to perform a scan task.");
    // The buttons run their actions.
    QTest::mouseClick(Form->Button2, Qt::LeftButton);
    EXPECT_EQ(Services.ScanDialogs.Options.Runs, 1);
    Form->SpeedButtons[3]->click();
    EXPECT_EQ(Entries().Item(0).Priority, App_scanentries::spPrimary);
}

TEST_F(MainForm, ADoubleClickOpensTheFileOfTheRow) {
    Make().show();
    AddMadeUp(Entries(), {"/o/one", "/o/two"});
    Settle();
    // The first click of the two selects the row alone.
    const QPoint row = Form->ListView1->RowRect(1).center();
    QTest::mouseClick(Form->ListView1->viewport(), Qt::LeftButton, {}, row);
    QTest::mouseDClick(Form->ListView1->viewport(), Qt::LeftButton, {}, row);
    EXPECT_EQ(Services.Shell.Opened, (Strings{"/o/two"}));
}

TEST_F(MainForm, ARightClickOpensTheListsMenuOnTheListAndTheWindowsElsewhere) {
    Make().show();
    AddMadeUp(Entries(), {"/m/one", "/m/two"});
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    ASSERT_FALSE(Form->Action("Action24")->isEnabled());
    QWidget* viewport = Form->ListView1->viewport();
    const QPoint row = Form->ListView1->RowRect(1).center();
    QTest::mousePress(viewport, Qt::RightButton, {}, row);
    QContextMenuEvent onList(QContextMenuEvent::Mouse, row, viewport->mapToGlobal(row));
    QCoreApplication::sendEvent(viewport, &onList);
    QTest::mouseRelease(viewport, Qt::RightButton, {}, row);
    EXPECT_TRUE(Form->PopupMenu1->isVisible());
    // The menu shows the state of the row just selected, not of the moment before.
    EXPECT_TRUE(Form->Action("Action24")->isEnabled());
    EXPECT_EQ(Selected(*Form), (std::vector<int>{1}));
    Form->PopupMenu1->hide();

    QContextMenuEvent onButton(QContextMenuEvent::Mouse, QPoint(2, 2),
                               Form->Button2->mapToGlobal(QPoint(2, 2)));
    QCoreApplication::sendEvent(Form->Button2, &onButton);
    EXPECT_TRUE(Form->PopupMenu2->isVisible());
    EXPECT_FALSE(Form->PopupMenu1->isVisible());
    Form->PopupMenu2->hide();
}

TEST(SpeedButtonGlyphs, EachIsDrawnAtTheSizeAskedAndInGreyWhenDisabled) {
    TestApplication::TTestWindowApplication app;
    for (int i = 0; i < SpeedButtonCount; ++i) {
        const QIcon glyph = SpeedButtonGlyph(i);
        for (const int side : {16, 21, 52}) {
            SCOPED_TRACE(std::to_string(i) + " at " + std::to_string(side));
            const auto image = [&](QIcon::Mode mode) {
                return glyph.pixmap(QSize(side, side), mode)
                    .toImage()
                    .convertToFormat(QImage::Format_ARGB32);
            };
            const QImage normal = image(QIcon::Normal);
            const QImage disabled = image(QIcon::Disabled);
            ASSERT_EQ(normal.size(), QSize(side, side));
            int drawn = 0;
            for (int y = 0; y < side; ++y)
                for (int x = 0; x < side; ++x) {
                    const QColor shown = normal.pixelColor(x, y);
                    const QColor grey = disabled.pixelColor(x, y);
                    drawn += shown.alpha() > 0 ? 1 : 0;
                    // The same shape, faded: only the faintest edge may fade away.
                    if (shown.alpha() == 0 || shown.alpha() >= 4) {
                        EXPECT_EQ(grey.alpha() > 0, shown.alpha() > 0);
                    }
                    EXPECT_EQ(grey.saturation(), 0);
                }
            // A picture that fills a good part of the button, and another one when disabled.
            EXPECT_GT(drawn, side * side / 6);
            EXPECT_NE(normal, disabled);
        }
    }
    EXPECT_TRUE(SpeedButtonGlyph(SpeedButtonCount).isNull());
}

// ---------------------------------------------------------------------------------------
// Every action

namespace {

struct TExpectedAction {
    const char* Name;
    const char* Category;
    const char* Hint;
    const char* Shortcut;
    // Its menu items and tool buttons.
    const char* Places;
};

const char* const E = "DocumentEntries";

const TExpectedAction ExpectedActions[] = {
    {"Action11", "Document", "Scan", "", ""},
    {"Action12", "Document", "Options", "", ""},
    {"Action13", "Document", "Save results", "", "PopupMenu2/&Save Results..."},
    {"Action311", "Help", "Sorvik help", "F1", "PopupMenu2/&Help/Sorvik &Help..."},
    {"Action312", "Help", "About Sorvik", "", "PopupMenu2/&About Sorvik"},
    {"Action21", E, "New", "Ctrl+N", "PopupMenu1/&New; SpeedButton1"},
    {"Action221", E, "Add regular files", "Ins", "PopupMenu1/A&dd/&Regular Files...; SpeedButton2"},
    {"Action222", E, "Add directory entries", "", "PopupMenu1/A&dd/&Directory Entries..."},
    {"Action23", E, "Cut", "Ctrl+X", "PopupMenu1/Cu&t"},
    {"Action24", E, "Copy", "Ctrl+C", "PopupMenu1/&Copy"},
    {"Action25", E, "Paste", "Ctrl+V", "PopupMenu1/&Paste"},
    {"Action26", E, "Delete", "Del", "PopupMenu1/D&elete...; SpeedButton3"},
    {"Action27", E, "Select all", "Ctrl+A", "PopupMenu1/Select &All"},
    {"Action28", E, "Select first in group", "", "PopupMenu1/Select &First in Group"},
    {"Action2F", E, "Select copies", "", "PopupMenu1/Select C&opies"},
    {"Action29", E, "Reverse selection", "", "PopupMenu1/Re&verse Selection"},
    {"Action2A11", E, "Path field", "", "PopupMenu1/Vie&w/&Fields/&Path"},
    {"Action2A12", E, "Directory field", "", "PopupMenu1/Vie&w/&Fields/&Directory"},
    {"Action2A13", E, "Base name field", "", "PopupMenu1/Vie&w/&Fields/&Base Name"},
    {"Action2A14", E, "Extension field", "", "PopupMenu1/Vie&w/&Fields/&Extension"},
    {"Action2A15", E, "Size field", "", "PopupMenu1/Vie&w/&Fields/&Size"},
    {"Action2A16", E, "Type field", "", "PopupMenu1/Vie&w/&Fields/&Type"},
    {"Action2A17", E, "Creation time field", "", "PopupMenu1/Vie&w/&Fields/&Creation Time"},
    {"Action2A18", E, "Last write time field", "", "PopupMenu1/Vie&w/&Fields/&Last Write Time"},
    {"Action2A19", E, "Last Access time field", "", "PopupMenu1/Vie&w/&Fields/Last &Access Time"},
    {"Action2A1A", E, "Attributes field", "", "PopupMenu1/Vie&w/&Fields/Att&ributes"},
    {"Action2A1B", E, "Hash field", "", "PopupMenu1/Vie&w/&Fields/&Hash"},
    {"Action2A21", E, "Sort by path", "", "PopupMenu1/Vie&w/&Sort By/&Path"},
    {"Action2A22", E, "Sort by directory", "", "PopupMenu1/Vie&w/&Sort By/&Directory"},
    {"Action2A23", E, "Sort by name", "", "PopupMenu1/Vie&w/&Sort By/&Name"},
    {"Action2A24", E, "Sort by base name", "", "PopupMenu1/Vie&w/&Sort By/&Base Name"},
    {"Action2A25", E, "Sort by extension", "", "PopupMenu1/Vie&w/&Sort By/&Extension"},
    {"Action2A26", E, "Sort by size", "", "PopupMenu1/Vie&w/&Sort By/&Size"},
    {"Action2A27", E, "Sort by type", "", "PopupMenu1/Vie&w/&Sort By/&Type"},
    {"Action2A28", E, "Sort by creation time", "", "PopupMenu1/Vie&w/&Sort By/&Creation Time"},
    {"Action2A29", E, "Sort by last write time", "", "PopupMenu1/Vie&w/&Sort By/&Last Write Time"},
    {"Action2A2A", E, "Sort by last access time", "",
     "PopupMenu1/Vie&w/&Sort By/Last &Access Time"},
    {"Action2A2B", E, "Sort by attributes", "", "PopupMenu1/Vie&w/&Sort By/Att&ributes"},
    {"Action2A2C", E, "Sort by hash", "", "PopupMenu1/Vie&w/&Sort By/&Hash"},
    {"Action2A2D", E, "Sort by priority", "", "PopupMenu1/Vie&w/&Sort By/Pri&ority"},
    {"Action2A2E", E, "Sort by group", "", "PopupMenu1/Vie&w/&Sort By/&Group"},
    {"Action2A3", E, "Reverse order", "", "PopupMenu1/Vie&w/&Reverse Order"},
    {"Action2A4", E, "Move up", "Alt+Up", "PopupMenu1/Vie&w/Move &Up; SpeedButton8"},
    {"Action2A5", E, "Move down", "Alt+Down", "PopupMenu1/Vie&w/Move &Down; SpeedButton9"},
    {"Action2B1", E, "Open", "Ctrl+Return; Ctrl+Enter", "PopupMenu1/&Shell/&Open"},
    {"Action2B2", E, "Explore directory", "Ctrl+E", "PopupMenu1/&Shell/&Explore Directory"},
    {"Action2B3", E, "Move to recycle bin", "",
     "PopupMenu1/&Shell/&Move to Recycle Bin...; SpeedButton7"},
    {"Action2B6", E, "Undo move to trash", "Ctrl+Z", "PopupMenu1/&Shell/&Undo Move to Trash"},
    {"Action2B4", E, "Total size", "Ctrl+T", "PopupMenu1/&Shell/&Total Size"},
    {"Action2B5", E, "Properties", "Ctrl+R", "PopupMenu1/&Shell/&Properties"},
    {"Action2C1", E, "Set priority to primary", "Ctrl+1",
     "PopupMenu1/P&riority/&Primary; SpeedButton4"},
    {"Action2C2", E, "Set priority to secondary", "Ctrl+2",
     "PopupMenu1/P&riority/&Secondary; SpeedButton5"},
    {"Action2D", E, "Remove all unique", "", "PopupMenu1/Remove All &Unique; SpeedButton6"},
    {"Action2E", E, "Drop files", "", ""},
};

// The menu as text: items separated by "|", "-" a separator, a submenu's items in "[]".
std::string Dump(const QMenu& menu) {
    std::string text;
    for (const QAction* action : menu.actions()) {
        if (!text.empty())
            text += '|';
        if (action->isSeparator())
            text += '-';
        else
            text += action->text().toStdString();
        if (const QMenu* submenu = action->menu())
            text += '[' + Dump(*submenu) + ']';
    }
    return text;
}

void CollectPlaces(const QMenu& menu, const std::string& path,
                   std::map<const QAction*, Strings>& places) {
    for (const QAction* action : menu.actions()) {
        const std::string here = path + "/" + action->text().toStdString();
        if (const QMenu* submenu = action->menu())
            CollectPlaces(*submenu, here, places);
        else if (!action->isSeparator())
            places[action].push_back(here);
    }
}

std::string Joined(const Strings& parts) {
    std::string text;
    for (const std::string& part : parts)
        text += (text.empty() ? "" : "; ") + part;
    return text;
}

// What the actions can change, to tell whether one ran.
struct TState {
    Strings Paths;
    std::vector<int> Priorities;
    std::vector<int> Groups;
    std::vector<int> Selection;
    std::uint16_t Fields = 0;
    std::string Clipboard;
    std::vector<std::size_t> Requests;
    friend bool operator==(const TState&, const TState&) = default;
};

using TCompare = int (*)(const App_scanentries::TScanEntry&, const App_scanentries::TScanEntry&);
// Indexed by TScanField.
const TCompare Compares[App_view::ScanFieldCount] = {
    App_scanentries::ComparePath,          App_scanentries::CompareDirectory,
    App_scanentries::CompareName,          App_scanentries::CompareBaseName,
    App_scanentries::CompareExtension,     App_scanentries::CompareSize,
    App_scanentries::CompareType,          App_scanentries::CompareCreationTime,
    App_scanentries::CompareLastWriteTime, App_scanentries::CompareLastAccessTime,
    App_scanentries::CompareAttributes,    App_scanentries::CompareHash,
    App_scanentries::ComparePriority,      App_scanentries::CompareGroup};

class EveryAction : public MainForm {
protected:
    EveryAction() {
        for (const auto& [name, content] :
             std::vector<std::pair<std::string, std::string>>{{"x/a1.txt", "alpha"},
                                                              {"y/a2.txt", "alpha"},
                                                              {"z/b.html", "bravo"},
                                                              {"w/c.png", "charlie"},
                                                              {"d", "delta"}}) {
            std::filesystem::create_directories(std::filesystem::path(Path(name)).parent_path());
            EntriesTest::WriteFile(Path(name), content, name == "w/c.png" ? 0444 : 0644);
        }
    }

    std::string Path(const std::string& name) const { return Services.Dir / name; }

    // a1 (primary, group 1), a2 (secondary, group 1), b (primary, unique), c (secondary,
    // not scanned, read-only); a2 and b selected; the path of d on the clipboard.
    void Scenario() {
        Make().show();
        EntriesTest::AddFiles(Entries(), Paths({"a1", "a2", "b", "c"}),
                              App_scanentries::spSecondary);
        const int groups[] = {1, 1, 0, -1};
        for (int i = 0; i < 4; ++i) {
            Entries().Item(i).Priority =
                i % 2 == 0 ? App_scanentries::spPrimary : App_scanentries::spSecondary;
            Entries().Item(i).SetGroup(groups[i]);
        }
        Form->Objects().EntriesSelection.SetSelectedIndices({1, 2});
        Services.Clipboard.Text = File("d") + "\r\n";
        Services.Clipboard.Holds = true;
        Settle();
        Form->UpdateAllActions();
    }

    // Puts the list in descending order of a field, so that sorting by it must change it
    // unless every entry has the same value; tells whether they differ.
    bool Descend(TCompare compare) {
        std::vector<int> order(static_cast<std::size_t>(Entries().Count()));
        std::iota(order.begin(), order.end(), 0);
        std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
            return compare(Entries().Item(a), Entries().Item(b)) > 0;
        });
        Kiv_lists::TListReorderRecords records(Entries().Count());
        for (int i = 0; i < Entries().Count(); ++i)
            records[i] = {order[static_cast<std::size_t>(i)], i};
        Entries().Reorder(records);
        for (int i = 0; i + 1 < Entries().Count(); ++i)
            if (compare(Entries().Item(i), Entries().Item(i + 1)) != 0)
                return true;
        return false;
    }

    TState State() const {
        TState state;
        state.Paths = PathsOf(Entries());
        for (int i = 0; i < Entries().Count(); ++i) {
            state.Priorities.push_back(Entries().Item(i).Priority);
            state.Groups.push_back(Entries().Item(i).Group());
        }
        state.Selection = Selected(*Form);
        state.Fields = Form->Objects().ViewSettings.GetFields().Bits();
        state.Clipboard = Services.Clipboard.Text;
        const auto& d = Services.Dialogs;
        const auto& s = Services.Shell;
        state.Requests = {d.Messages.size(),
                          d.OpenRequests.size(),
                          d.SaveRequests.size(),
                          d.FolderRequests.size(),
                          s.Opened.size(),
                          s.Explored.size(),
                          s.PropertiesShown.size(),
                          s.Trashed.size(),
                          Services.Opener.Opened.size(),
                          static_cast<std::size_t>(Services.ScanDialogs.Options.Runs)};
        return state;
    }

    void Run(const std::string& name) {
        if (name == "Action2E")
            Form->DropPaths({File("d")});
        else
            Form->Perform(Form->Action(name));
        Settle();
    }

    std::string LastMessage() const { return Services.Dialogs.Messages.back().Text; }
    // The files by their short names.
    std::string File(const std::string& name) const {
        static const std::map<std::string, std::string> files = {{"a1", "x/a1.txt"},
                                                                 {"a2", "y/a2.txt"},
                                                                 {"b", "z/b.html"},
                                                                 {"c", "w/c.png"},
                                                                 {"d", "d"}};
        return Path(files.at(name));
    }
    Strings Paths(std::initializer_list<const char*> names) const {
        Strings paths;
        for (const char* name : names)
            paths.push_back(File(name));
        return paths;
    }
};

} // namespace

TEST_F(EveryAction, TheMenusHoldTheirItemsInOrder) {
    Make();
    EXPECT_EQ(Dump(*Form->PopupMenu1),
              "&New|A&dd[&Regular Files...|&Directory Entries...]|-|Cu&t|&Copy|&Paste|"
              "D&elete...|-|Select &All|Select &First in Group|Select C&opies|Re&verse Selection|-|"
              "Vie&w[&Fields[&Path|&Directory|&Base Name|&Extension|&Size|&Type|&Creation Time|"
              "&Last Write Time|Last &Access Time|Att&ributes|&Hash]|-|&Sort By[&Path|&Directory|"
              "&Name|&Base Name|&Extension|&Size|&Type|&Creation Time|&Last Write Time|"
              "Last &Access Time|Att&ributes|&Hash|Pri&ority|&Group]|&Reverse Order|-|Move &Up|"
              "Move &Down]|&Shell[&Open|&Explore Directory|-|&Move to Recycle Bin...|"
              "&Undo Move to Trash|-|&Total Size|&Properties]|-|P&riority[&Primary|&Secondary]|"
              "Remove All &Unique");
    EXPECT_EQ(Dump(*Form->PopupMenu2), "&Save Results...|-|&Help[Sorvik &Help...]|-|&About Sorvik");
    EXPECT_EQ(Form->Button1->text().toStdString(), "Scan");
    EXPECT_EQ(Form->Button2->text().toStdString(), "&Options");
    EXPECT_TRUE(Form->Button1->isDefault());
}

TEST_F(EveryAction, EachHasItsNameCategoryHintShortcutAndPlaceAndRunsOnlyWhileEnabled) {
    std::map<std::string, std::function<void()>> prepare;
    // What must have happened before an action can be enabled at all.
    std::map<std::string, std::function<void()>> setup;
    std::map<std::string, std::function<void(const TState&)>> check;
    auto& dialogs = Services.Dialogs;
    auto& shell = Services.Shell;
    check["Action11"] = [&](const TState&) {
        EXPECT_EQ(LastMessage(), "2 duplicate files in 1 groups were found.");
    };
    check["Action12"] = [&](const TState&) { EXPECT_EQ(Services.ScanDialogs.Options.Runs, 1); };
    prepare["Action13"] = [&] { dialogs.AnswerSave(Path("results.txt")); };
    check["Action13"] = [&](const TState&) {
        EXPECT_EQ(TestFiles::ReadFile(Path("results.txt")),
                  File("a1") + "\r\n" + File("a2") + "\r\n\r\n");
    };
    prepare["Action311"] = [&] { dialogs.AnswerMessage(mrNo); };
    check["Action311"] = [&](const TState&) {
        EXPECT_EQ(LastMessage(), "Do you want to open the offline help?");
        EXPECT_TRUE(Services.Opener.Opened.empty());
    };
    check["Action312"] = [&](const TState&) {
        EXPECT_EQ(dialogs.Messages.back().Caption, "About Sorvik");
    };
    prepare["Action21"] = [&] { dialogs.AnswerMessage(mrNo); };
    check["Action21"] = [&](const TState& before) {
        EXPECT_EQ(LastMessage(), "Do you want to remove all the files from the list?");
        EXPECT_EQ(PathsOf(Entries()), before.Paths);
    };
    prepare["Action221"] = [&] { dialogs.AnswerOpen(std::nullopt); };
    check["Action221"] = [&](const TState&) {
        EXPECT_EQ(dialogs.OpenRequests.back().Title, "Add Regular Files");
    };
    prepare["Action222"] = [&] { dialogs.AnswerFolder(std::nullopt); };
    check["Action222"] = [&](const TState&) { EXPECT_EQ(dialogs.FolderRequests.size(), 1u); };
    const std::string copied = File("a2") + "\r\n" + File("b") + "\r\n";
    check["Action23"] = [&](const TState&) {
        EXPECT_EQ(Services.Clipboard.Text, copied);
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "c"}));
    };
    check["Action24"] = [&](const TState& before) {
        EXPECT_EQ(Services.Clipboard.Text, copied);
        EXPECT_EQ(PathsOf(Entries()), before.Paths);
    };
    check["Action25"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "a2", "b", "c", "d"}));
    };
    prepare["Action26"] = [&] { dialogs.AnswerMessage(mrYes); };
    check["Action26"] = [&](const TState&) {
        EXPECT_EQ(LastMessage(), "Do you want to remove the 2 files from the list?");
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "c"}));
    };
    check["Action27"] = [&](const TState&) {
        EXPECT_EQ(Selected(*Form), (std::vector<int>{0, 1, 2, 3}));
    };
    check["Action28"] = [&](const TState&) { EXPECT_EQ(Selected(*Form), (std::vector<int>{0})); };
    check["Action2F"] = [&](const TState&) { EXPECT_EQ(Selected(*Form), (std::vector<int>{1})); };
    check["Action29"] = [&](const TState&) {
        EXPECT_EQ(Selected(*Form), (std::vector<int>{0, 3}));
    };
    const char* const toggles[] = {"Action2A11", "Action2A12", "Action2A13", "Action2A14",
                                   "Action2A15", "Action2A16", "Action2A17", "Action2A18",
                                   "Action2A19", "Action2A1A", "Action2A1B"};
    const App_view::TScanField toggled[] = {
        App_view::sfPath,         App_view::sfDirectory,     App_view::sfBaseName,
        App_view::sfExtension,    App_view::sfSize,          App_view::sfType,
        App_view::sfCreationTime, App_view::sfLastWriteTime, App_view::sfLastAccessTime,
        App_view::sfAttributes,   App_view::sfHash};
    for (int i = 0; i < 11; ++i)
        check[toggles[i]] = [&, field = toggled[i]](const TState& before) {
            const bool was = App_view::TScanFields::FromBits(before.Fields).Contains(field);
            EXPECT_NE(Form->Objects().ViewSettings.GetFields().Contains(field), was);
        };
    std::set<std::string> mayStay;
    for (int field = 0; field < App_view::ScanFieldCount; ++field) {
        const std::string name = SortActionOf(static_cast<App_view::TScanField>(field));
        prepare[name] = [&, field, name] {
            if (field == App_view::sfHash)
                for (int i = 0; i < Entries().Count(); ++i)
                    Entries().Item(i).Hash = std::string(64, static_cast<char>('a' + i));
            if (!Descend(Compares[field]))
                mayStay.insert(name); // no difference on this file system (birth times)
        };
        check[name] = [&, field](const TState&) {
            for (int i = 0; i + 1 < Entries().Count(); ++i)
                EXPECT_LE(Compares[field](Entries().Item(i), Entries().Item(i + 1)), 0) << field;
        };
    }
    check["Action2A3"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"c", "b", "a2", "a1"}));
    };
    check["Action2A4"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"a2", "b", "a1", "c"}));
        EXPECT_EQ(Selected(*Form), (std::vector<int>{0, 1}));
    };
    check["Action2A5"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "c", "a2", "b"}));
        EXPECT_EQ(Selected(*Form), (std::vector<int>{2, 3}));
    };
    for (const char* name : {"Action2B1", "Action2B2", "Action2B5"})
        prepare[name] = [&] { dialogs.AnswerMessage(mrYes); };
    check["Action2B1"] = [&](const TState&) { EXPECT_EQ(shell.Opened, Paths({"a2", "b"})); };
    check["Action2B2"] = [&](const TState&) { EXPECT_EQ(shell.Explored, Paths({"a2", "b"})); };
    check["Action2B5"] = [&](const TState&) {
        EXPECT_EQ(shell.PropertiesShown, Paths({"a2", "b"}));
    };
    prepare["Action2B3"] = [&] { dialogs.AnswerMessage(mrNo); };
    check["Action2B3"] = [&](const TState&) {
        EXPECT_EQ(LastMessage(), "Do you want to move 2 files to the recycle bin?");
        EXPECT_TRUE(std::filesystem::exists(File("a2")));
    };
    setup["Action2B6"] = [&] {
        dialogs.AnswerMessage(mrYes); // a2 and b go; a1 stays as the copy of a2's group
        dialogs.AnswerMessage(mrYes); // b is unique: its last copy goes too
        Form->Objects().EntriesCommands.MoveToRecycleBin();
        Settle();
    };
    check["Action2B6"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "a2", "b", "c"}));
        EXPECT_TRUE(std::filesystem::exists(File("a2")) && std::filesystem::exists(File("b")));
    };
    check["Action2B4"] = [&](const TState&) {
        EXPECT_EQ(LastMessage(), "The total size of the 2 files is 10 bytes.");
    };
    check["Action2C1"] = [&](const TState&) {
        EXPECT_EQ(Entries().CountPriority(App_scanentries::spPrimary), 3);
    };
    check["Action2C2"] = [&](const TState&) {
        EXPECT_EQ(Entries().CountPriority(App_scanentries::spPrimary), 1);
    };
    check["Action2D"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "a2", "c"}));
    };
    check["Action2E"] = [&](const TState&) {
        EXPECT_EQ(PathsOf(Entries()), Paths({"a1", "a2", "b", "c", "d"}));
    };

    ASSERT_EQ(std::size(ExpectedActions), Actions().size());
    for (std::size_t i = 0; i < std::size(ExpectedActions); ++i) {
        const TExpectedAction& expected = ExpectedActions[i];
        SCOPED_TRACE(expected.Name);
        Scenario();
        if (setup.contains(expected.Name))
            setup[expected.Name]();
        QAction* action = Form->ActionList1()[i];
        ASSERT_EQ(action->objectName().toStdString(), expected.Name);
        EXPECT_EQ(action->property("category").toString().toStdString(), expected.Category);
        EXPECT_EQ(action->toolTip().toStdString(), expected.Hint);
        EXPECT_EQ(QKeySequence::listToString(action->shortcuts()).toStdString(), expected.Shortcut);
        std::map<const QAction*, Strings> places;
        CollectPlaces(*Form->PopupMenu1, "PopupMenu1", places);
        CollectPlaces(*Form->PopupMenu2, "PopupMenu2", places);
        for (int b = 0; b < SpeedButtonCount; ++b)
            places[Form->SpeedButtons[b]->defaultAction()].push_back("SpeedButton" +
                                                                     std::to_string(b + 1));
        EXPECT_EQ(Joined(places[action]), expected.Places);

        const TState before = State();
        action->setEnabled(false);
        Run(expected.Name);
        EXPECT_EQ(State(), before) << "ran while disabled";

        Form->UpdateAllActions();
        ASSERT_TRUE(action->isEnabled());
        if (prepare.contains(expected.Name))
            prepare[expected.Name]();
        const TState prepared = State();
        Run(expected.Name);
        ASSERT_TRUE(check.contains(expected.Name));
        check[expected.Name](before);
        if (!mayStay.contains(expected.Name)) {
            EXPECT_NE(State(), prepared) << "did nothing while enabled";
        }
        EXPECT_TRUE(dialogs.AllAnswered());
        EXPECT_EQ(QApplication::overrideCursor(), nullptr);
        Form.reset();
    }
}
