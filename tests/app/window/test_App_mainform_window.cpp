// The main window with real widgets on the offscreen platform and the test's desktop: the
// status text, the columns, the command line, drops, closing, the field toggles, failing
// commands, the keyboard and the context menus, and every action of the action list.
#include "App_mainform_window.h"
#include "App_scan_window.h"
#include "TestApplication.h"
#include "TestGate.h"
#include "TestWindowApplication.h"
#include "app/mainform/MainFormTestSupport.h"

#include <QAction>
#include <QDialog>
#include <QDropEvent>
#include <QHeaderView>
#include <QImage>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
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
using MainFormTest::AccessKey;
using MainFormTest::AddMadeUp;
using MainFormTest::PathsOf;
using MainFormTest::TTestServices;
using TestApplication::TEventCounter;
using TestApplication::WhenReady;
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
    // A folder of 30 files to add.
    std::string MakeAddFolder() const {
        const std::string folder = Services.Dir / "add";
        EntriesTest::MakeDir(folder);
        for (int i = 0; i < 30; ++i)
            EntriesTest::WriteFile(folder + "/f" + std::to_string(i));
        return folder;
    }
    // Makes the window and waits until it is the active one, for tests of the keyboard.
    bool MakeActive() {
        Make().show();
        Form->activateWindow();
        return QTest::qWaitForWindowActive(Form.get());
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
    ASSERT_TRUE(MakeActive());
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

namespace {

// A menu item's caption without the shortcut shown after a tab.
std::string Caption(const QAction& item) {
    return item.text().section(QLatin1Char('\t'), 0, 0).toStdString();
}

// The access keys of the items of a menu, or of the titles of the menu bar; each item's
// caption is checked for one, and every submenu in turn.
void ExpectUniqueAccessKeys(const QWidget& menu, const std::string& where) {
    std::map<char, std::string> keys;
    for (const QAction* action : menu.actions()) {
        if (action->isSeparator())
            continue;
        const std::string caption = Caption(*action);
        const char key = AccessKey(caption);
        EXPECT_NE(key, 0) << where << ": " << caption;
        const auto [other, added] = keys.emplace(key, caption);
        EXPECT_TRUE(added) << where << ": " << caption << " and " << other->second;
        if (const QMenu* submenu = action->menu())
            ExpectUniqueAccessKeys(*submenu, where + "/" + caption);
    }
}

QMenu* MenuOf(const QWidget& menu, const QString& title) {
    for (QAction* action : menu.actions())
        if (action->text() == title)
            return action->menu();
    return nullptr;
}

QAction* ItemOf(const QMenu& menu, const QString& caption) {
    for (QAction* action : menu.actions())
        if (Caption(*action) == caption.toStdString())
            return action;
    return nullptr;
}

} // namespace

TEST_F(MainForm, TheMenuBarHoldsEveryCommandWithUniqueAccessKeysAndShowsTheShortcuts) {
    Make().show();
    ASSERT_TRUE(Form->MenuBar1->isVisible());
    EXPECT_LT(Form->MenuBar1->geometry().bottom(),
              Form->ListView1->mapTo(Form.get(), QPoint()).y());
    ExpectUniqueAccessKeys(*Form->MenuBar1, "MenuBar1");
    ExpectUniqueAccessKeys(*Form->PopupMenu1, "PopupMenu1");
    ExpectUniqueAccessKeys(*Form->PopupMenu2, "PopupMenu2");

    QMenu* file = MenuOf(*Form->MenuBar1, QStringLiteral("&File"));
    QMenu* edit = MenuOf(*Form->MenuBar1, QStringLiteral("&Edit"));
    QMenu* scan = MenuOf(*Form->MenuBar1, QStringLiteral("&Scan"));
    ASSERT_TRUE(file && edit && scan);
    // The same actions as the context menu's: their shortcuts show beside them.
    EXPECT_EQ(ItemOf(*edit, QStringLiteral("&Copy")), Form->Action("Action24"));
    EXPECT_EQ(ItemOf(*file, QStringLiteral("&Quit"))->shortcut(),
              QKeySequence(QStringLiteral("Ctrl+Q")));
    // An item with a caption of its own shows its action's shortcut, runs the action and
    // follows its state.
    QAction* addFiles = ItemOf(*file, QStringLiteral("&Add Files..."));
    ASSERT_NE(addFiles, nullptr);
    EXPECT_EQ(addFiles->text().section(QLatin1Char('\t'), 1).toStdString(),
              QKeySequence(Qt::Key_Insert).toString(QKeySequence::NativeText).toStdString());
    Services.Dialogs.AnswerOpen(std::nullopt);
    addFiles->trigger();
    ASSERT_EQ(Services.Dialogs.OpenRequests.size(), 1u);
    EXPECT_EQ(Services.Dialogs.OpenRequests[0].Title, "Add Regular Files");
    QAction* options = ItemOf(*scan, QStringLiteral("&Options..."));
    ASSERT_NE(options, nullptr);
    Form->Action(OptionsAction)->setEnabled(false);
    EXPECT_FALSE(options->isEnabled());
    options->trigger();
    EXPECT_EQ(Services.ScanDialogs.Options.Runs, 0);
    Form->UpdateAllActions();
    EXPECT_TRUE(options->isEnabled());
    options->trigger();
    EXPECT_EQ(Services.ScanDialogs.Options.Runs, 1);
    // Scan needs entries, and its item says so.
    EXPECT_FALSE(ItemOf(*scan, QStringLiteral("&Scan"))->isEnabled());
}

TEST_F(MainForm, QuitClosesThroughTheClosingPathAndCtrlQWorksAnywhere) {
    ASSERT_TRUE(MakeActive());
    AddMadeUp(Entries(), {"/q/one"});
    Settle();
    Services.Dialogs.AnswerMessage(mrNo);
    QTest::keyClick(Form->Button2, Qt::Key_Q, Qt::ControlModifier);
    Settle();
    ASSERT_EQ(Services.Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Services.Dialogs.Messages[0].Text,
              "Do you want to remove all the files from the list?");
    EXPECT_TRUE(Form->isVisible());
    EXPECT_FALSE(SettingsWritten());
    Services.Dialogs.AnswerMessage(mrYes);
    Form->Perform(Form->Action(QuitAction));
    Settle();
    EXPECT_FALSE(Form->isVisible());
    EXPECT_TRUE(SettingsWritten());
}

TEST_F(MainForm, ShiftF10AndTheMenuKeyOpenTheListsMenuAtTheFocusedRow) {
    ASSERT_TRUE(MakeActive());
    AddMadeUp(Entries(), {"/s/one", "/s/two", "/s/three"});
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    Form->ListView1->setFocus();
    // The focused row, clicked: the menu opens under it.
    const QRect row = Form->ListView1->RowRect(2);
    QTest::mouseClick(Form->ListView1->viewport(), Qt::LeftButton, {}, row.center());
    Settle();
    ASSERT_EQ(Form->ListView1->FocusedIndex(), 2);
    const QPoint under = Form->ListView1->viewport()->mapToGlobal(row.bottomLeft());
    for (const auto& [key, modifiers] : std::vector<std::pair<Qt::Key, Qt::KeyboardModifiers>>{
             {Qt::Key_F10, Qt::ShiftModifier}, {Qt::Key_Menu, Qt::NoModifier}}) {
        SCOPED_TRACE(key);
        ASSERT_FALSE(Form->PopupMenu1->isVisible());
        // Stale before the menu opens: opening it must bring the row's state up to date.
        Form->Action("Action24")->setEnabled(false);
        QTest::keyClick(Form->ListView1, key, modifiers);
        EXPECT_TRUE(Form->PopupMenu1->isVisible());
        EXPECT_FALSE(Form->PopupMenu2->isVisible());
        EXPECT_LE((Form->PopupMenu1->pos() - under).manhattanLength(), 2);
        // The menu shows the state of the focused row.
        EXPECT_TRUE(Form->Action("Action24")->isEnabled());
        Form->PopupMenu1->hide();
    }
    // F10 alone is no menu key.
    QTest::keyClick(Form->ListView1, Qt::Key_F10);
    EXPECT_FALSE(Form->PopupMenu1->isVisible());
}

TEST_F(MainForm, TheHeadingShowsTheSortArrowAndASecondClickReversesTheOrder) {
    Make().show();
    AddMadeUp(Entries(), {"/b/z", "/c/x", "/a/y"});
    QHeaderView* header = Form->ListView1->horizontalHeader();
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    ClickColumn(*Form, 0);
    Settle();
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/c/x", "/a/y", "/b/z"}));
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    ClickColumn(*Form, 0);
    Settle();
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/b/z", "/a/y", "/c/x"}));
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    ClickColumn(*Form, 0);
    Settle();
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/c/x", "/a/y", "/b/z"}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // The arrow follows its field when a column is shown before it.
    Form->Perform(Form->Action("Action2A11"));
    Settle();
    EXPECT_EQ(header->sortIndicatorSection(), 0);
    Form->Perform(Form->Action("Action2A21")); // sort by path, from the menu
    Settle();
    EXPECT_EQ(header->sortIndicatorSection(), 1);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);
    // Reverse Order from the menu turns the arrow too.
    Form->Perform(Form->Action(ReverseOrderAction));
    Settle();
    EXPECT_EQ(PathsOf(Entries()), (Strings{"/c/x", "/b/z", "/a/y"}));
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
    // A move leaves the order the user's own: no arrow.
    Form->Objects().EntriesSelection.SetSelectedIndices({2});
    Form->Perform(Form->Action("Action2A4"));
    Settle();
    EXPECT_EQ(header->sortIndicatorSection(), -1);
    // A disabled sort does nothing, and shows no arrow either.
    Form->Action("Action2A23")->setEnabled(false);
    ClickColumn(*Form, 0);
    Settle();
    EXPECT_EQ(header->sortIndicatorSection(), -1);
}

namespace {

// The colour the list paints in the middle of a row's second column (no image there).
QColor RowBackground(TAppMainForm& form, int row) {
    form.ListView1->viewport()->repaint();
    const QImage image = form.ListView1->viewport()->grab().toImage();
    const QRect rect = form.ListView1->RowRect(row);
    const int x = form.ListView1->horizontalHeader()->sectionViewportPosition(1) +
                  form.ListView1->horizontalHeader()->sectionSize(1) - 3;
    return image.pixelColor(x, rect.center().y());
}

QPalette DarkPalette() {
    QPalette dark;
    dark.setColor(QPalette::Window, QColor(45, 45, 45));
    dark.setColor(QPalette::WindowText, Qt::white);
    dark.setColor(QPalette::Base, QColor(30, 30, 30));
    dark.setColor(QPalette::AlternateBase, QColor(40, 40, 40));
    dark.setColor(QPalette::Text, Qt::white);
    dark.setColor(QPalette::Button, QColor(50, 50, 50));
    dark.setColor(QPalette::ButtonText, Qt::white);
    dark.setColor(QPalette::Highlight, QColor(42, 130, 218));
    dark.setColor(QPalette::HighlightedText, Qt::black);
    return dark;
}

} // namespace

TEST_F(MainForm, AScanThatFoundGroupsSortsByGroupPrimaryFirstAndBandsTheGroups) {
    const auto& dir = Services.Dir;
    const std::vector<std::pair<std::string, std::string>> files = {{"solo", "unique content"},
                                                                    {"c1", "alpha"},
                                                                    {"p1", "alpha"},
                                                                    {"c2", "bravo!"},
                                                                    {"p2", "bravo!"}};
    Strings paths;
    for (const auto& [name, content] : files) {
        EntriesTest::WriteFile(dir / name, content);
        paths.push_back(dir / name);
    }
    Make().show();
    EntriesTest::AddFiles(Entries(), paths, App_scanentries::spSecondary);
    Entries().Item(2).Priority = App_scanentries::spPrimary;
    Entries().Item(4).Priority = App_scanentries::spPrimary;
    Settle();
    Form->Perform(Form->Action(ScanAction));
    Settle();
    ASSERT_FALSE(Services.Dialogs.Messages.empty());
    ASSERT_EQ(Services.Dialogs.Messages.back().Text, "4 duplicate files in 2 groups were found.");
    // Each group together, its primary entry first, the unique one last.
    const Strings sorted = PathsOf(Entries());
    ASSERT_EQ(sorted.size(), 5u);
    EXPECT_EQ(std::set<std::string>({sorted[0], sorted[2]}),
              std::set<std::string>({dir / "p1", dir / "p2"}));
    for (const int first : {0, 2}) {
        EXPECT_EQ(Entries().Item(first).Priority, App_scanentries::spPrimary);
        EXPECT_EQ(Entries().Item(first + 1).Priority, App_scanentries::spSecondary);
        EXPECT_EQ(Entries().Item(first).Group(), Entries().Item(first + 1).Group());
    }
    EXPECT_NE(Entries().Item(0).Group(), Entries().Item(2).Group());
    EXPECT_EQ(sorted[4], dir / "solo");
    // As if the Group heading had been clicked: its arrow, and a click reverses.
    QHeaderView* header = Form->ListView1->horizontalHeader();
    EXPECT_EQ(header->sortIndicatorSection(), 3);
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::AscendingOrder);

    // The rows of a group share a band, the next group has the other one.
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    std::vector<int> bands;
    for (int i = 0; i < 5; ++i) {
        Kiv_listviews::TListItem item;
        Form->ListView1->GetItemData(i, item);
        bands.push_back(item.Band);
    }
    EXPECT_EQ(bands[0], bands[1]);
    EXPECT_EQ(bands[2], bands[3]);
    EXPECT_NE(bands[0], bands[2]);
    EXPECT_EQ(bands[4], -1);
    // Painted: three backgrounds told apart, in a light and a dark palette.
    const QPalette light = QApplication::palette();
    for (const QPalette& palette : {light, DarkPalette()}) {
        QApplication::setPalette(palette);
        Settle();
        const QColor first = RowBackground(*Form, 0);
        EXPECT_EQ(RowBackground(*Form, 1), first);
        const QColor second = RowBackground(*Form, 2);
        const QColor plain = RowBackground(*Form, 4);
        EXPECT_NE(first, second);
        EXPECT_NE(first, plain);
        EXPECT_NE(second, plain);
        EXPECT_EQ(plain, palette.color(QPalette::Base));
        // Text stays readable: a band is far nearer the background than the selection is.
        const auto distance = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) +
                   std::abs(a.blue() - b.blue());
        };
        EXPECT_LT(distance(first, plain), distance(palette.color(QPalette::Highlight), plain));
        EXPECT_LT(distance(second, plain), distance(palette.color(QPalette::Highlight), plain));
    }
    QApplication::setPalette(light);

    ClickColumn(*Form, 3);
    Settle();
    EXPECT_EQ(PathsOf(Entries()).front(), dir / "solo");
    EXPECT_EQ(header->sortIndicatorOrder(), Qt::DescendingOrder);
}

namespace {

// Counts the events of a type that reach an object.
} // namespace

TEST_F(MainForm, AnAddRunsBehindTheProgressDialogAndItsCancelAddsNothing) {
    const std::string folder = MakeAddFolder();
    Make().show();
    auto& commands = Form->Objects().EntriesCommands;
    auto& dialog = App_scan::AppProgressDialog();
    TestGate::TGate gate; // holds the add's worker at its first step
    commands.OnAddStep = gate.Hook();
    commands.AddDialogDelay = 1;
    bool shownWhileHeld = false;
    WhenReady([&] { return dialog.isVisible(); },
              [&] {
                  shownWhileHeld = true;
                  EXPECT_EQ(dialog.windowTitle().toStdString(), "Add");
                  EXPECT_TRUE(dialog.isModal());
                  EXPECT_NE(dialog.GetText().find("files found"), std::string::npos);
                  QTest::mouseClick(dialog.Button1, Qt::LeftButton);
                  // Cancel only asks: the dialog waits for the task.
                  EXPECT_TRUE(dialog.isVisible());
                  gate.Release();
              });
    EXPECT_THROW(Form->DropPaths({folder}), Kiv_framework::EAbort);
    EXPECT_TRUE(shownWhileHeld);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(Entries().Count(), 0);
}

TEST_F(MainForm, BeforeItsDialogShowsAnAddHoldsInputBackWhileTheWindowResizesAndRepaints) {
    const std::string folder = MakeAddFolder();
    Make().show();
    AddMadeUp(Entries(), {"/r/one", "/r/two"});
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    auto& commands = Form->Objects().EntriesCommands;
    auto& dialog = App_scan::AppProgressDialog();
    TestGate::TGate gate; // holds the add's worker at its first step
    commands.OnAddStep = gate.Hook();
    // Longer than the test: the dialog never shows.
    commands.AddDialogDelay = 3'600'000;
    int paints = 0;
    const TEventCounter painted(*Form->ListView1->viewport(), QEvent::Paint, paints);
    bool checked = false;
    const QSize before = Form->ListView1->size();
    WhenReady([] { return true; },
              [&] {
                  Form->resize(Form->width() + 80, Form->height() + 60);
                  QTest::keyClick(Form->ListView1, Qt::Key_A, Qt::ControlModifier);
                  WhenReady([&] { return Form->ListView1->size() != before && paints > 0; },
                            [&] {
                                checked = true;
                                EXPECT_FALSE(dialog.isVisible());
                                EXPECT_TRUE(
                                    Form->Objects().EntriesSelection.GetSelectedIndices().Empty());
                                gate.Release();
                            });
              });
    Form->DropPaths({folder});
    EXPECT_TRUE(checked);
    EXPECT_EQ(Entries().Count(), 32);
    // What the add added is selected.
    EXPECT_EQ(Form->Objects().EntriesSelection.SelectedCount(), 30);
}

TEST_F(MainForm, OnAFirstStartTheFirstAddFitsTheColumnsWithinTheWindowAndShowsItsFirstRow) {
    const std::string folder = Services.Dir / "a-folder-with-a-rather-long-name-for-its-column";
    EntriesTest::MakeDir(folder);
    const std::string name = "a-file-name-that-needs-more-than-two-hundred-pixels.txt";
    EntriesTest::WriteFile(folder + "/" + name);
    // Too long for any window: its column gives up what the others need.
    const std::string deep = Services.Dir / std::string(200, 'd');
    EntriesTest::MakeDir(deep);
    EntriesTest::WriteFile(deep + "/x");
    Make().show();
    Form->resize(1100, 600);
    Strings before;
    for (int i = 0; i < 300; ++i)
        before.push_back("/before/" + std::to_string(i));
    AddMadeUp(Entries(), before);
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    Form->DropPaths({folder});
    Settle();
    QHeaderView* header = Form->ListView1->horizontalHeader();
    int total = header->length();
    EXPECT_LE(total, Form->ListView1->viewport()->width());
    EXPECT_GT(header->sectionSize(0),
              Form->ListView1->fontMetrics().horizontalAdvance(QString::fromStdString(name)));
    EXPECT_GT(header->sectionSize(1),
              Form->ListView1->fontMetrics().horizontalAdvance(QString::fromStdString(folder)));
    // The row added is in sight, below the 300 that were there.
    const QRect added = Form->ListView1->RowRect(300);
    EXPECT_TRUE(Form->ListView1->viewport()->rect().contains(added));
    // Once fitted, the columns are the user's: the next add keeps them, also with contents
    // wider than the window.
    const int fitted = header->sectionSize(1);
    Form->DropPaths({deep});
    Settle();
    EXPECT_EQ(header->sectionSize(1), fitted);
    // On another first start, contents wider than the window are cut to fit it.
    Form.reset();
    Make().show();
    Form->DropPaths({deep});
    Settle();
    total = Form->ListView1->horizontalHeader()->length();
    EXPECT_LE(total, Form->ListView1->viewport()->width());
    EXPECT_GT(total, Form->ListView1->viewport()->width() * 9 / 10);
    // The widths the user had are kept: no fit once the settings hold them.
    Form.reset();
    EntriesTest::WriteFile(Services.SettingsFile(), "[ViewSettingsView]\r\nFieldWidths[2]=150\r\n");
    Make().show();
    Form->DropPaths({folder});
    Settle();
    EXPECT_EQ(Form->ListView1->horizontalHeader()->sectionSize(0), 150);
}

TEST_F(MainForm, TheFirstFitMeasuresOnlyTheRowsInSight) {
    // A long folder far above the rows in sight: a million rows are never measured one by
    // one, so neither is this one.
    const std::string longFolder = "/" + std::string(40, 'w');
    Strings before;
    for (int i = 0; i < 600; ++i)
        before.push_back((i == 300 ? longFolder : std::string("/b")) + "/" + std::to_string(i));
    Make().show();
    Form->resize(1600, 600);
    AddMadeUp(Entries(), before);
    Form->Objects().EntriesSelection.SetSelectedIndices({});
    Settle();
    const std::string folder = Services.Dir / "f";
    EntriesTest::MakeDir(folder);
    EntriesTest::WriteFile(folder + "/x");
    Form->DropPaths({folder});
    Settle();
    QHeaderView* header = Form->ListView1->horizontalHeader();
    const int total = header->length();
    ASSERT_LT(total, Form->ListView1->viewport()->width()) << "cut to fit: nothing to learn";
    EXPECT_LT(header->sectionSize(1),
              Form->ListView1->fontMetrics().horizontalAdvance(QString::fromStdString(longFolder)));
}

TEST_F(MainForm, TheEmptyListTellsTheWholeFirstPath) {
    Make().show();
    const std::string hint = Form->EmptyListHint->text().toStdString();
    for (const char* step : {"drop", "Ins", "primary", "Ctrl+1", "Enter"})
        EXPECT_NE(hint.find(step), std::string::npos) << step;
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
    {"Action11", "Document", "Scan", "", "MenuBar1/&Scan/&Scan"},
    {"Action12", "Document", "Options", "", "MenuBar1/&Scan/&Options..."},
    {"Action13", "Document", "Save results", "",
     "PopupMenu2/&Save Results...; MenuBar1/&File/&Save Results..."},
    {"Action14", "Document", "Quit", "Ctrl+Q", "MenuBar1/&File/&Quit"},
    {"Action311", "Help", "Sorvik help", "F1",
     "PopupMenu2/&Help/Sorvik &Help...; MenuBar1/&Help/Sorvik &Help..."},
    {"Action312", "Help", "About Sorvik", "",
     "PopupMenu2/&About Sorvik; MenuBar1/&Help/&About Sorvik"},
    {"Action21", E, "New", "Ctrl+N", "PopupMenu1/&New; MenuBar1/&File/&New; SpeedButton1"},
    {"Action221", E, "Add regular files", "Ins",
     "PopupMenu1/A&dd/&Regular Files...; MenuBar1/&File/&Add Files...; SpeedButton2"},
    {"Action222", E, "Add directory entries", "",
     "PopupMenu1/A&dd/&Directory Entries...; MenuBar1/&File/Add Fol&der..."},
    {"Action23", E, "Cut", "Ctrl+X", "PopupMenu1/Cu&t; MenuBar1/&Edit/Cu&t"},
    {"Action24", E, "Copy", "Ctrl+C", "PopupMenu1/&Copy; MenuBar1/&Edit/&Copy"},
    {"Action25", E, "Paste", "Ctrl+V", "PopupMenu1/&Paste; MenuBar1/&Edit/&Paste"},
    {"Action26", E, "Delete", "Del",
     "PopupMenu1/D&elete...; MenuBar1/&Edit/D&elete...; SpeedButton3"},
    {"Action27", E, "Select all", "Ctrl+A", "PopupMenu1/Select &All; MenuBar1/&Edit/Select &All"},
    {"Action28", E, "Select first in group", "",
     "PopupMenu1/Select First in &Group; MenuBar1/&Edit/Select First in &Group"},
    {"Action2F", E, "Select copies", "",
     "PopupMenu1/Select C&opies; MenuBar1/&Edit/Select C&opies"},
    {"Action29", E, "Reverse selection", "",
     "PopupMenu1/Re&verse Selection; MenuBar1/&Edit/Re&verse Selection"},
    {"Action2A11", E, "Path field", "",
     "PopupMenu1/Vie&w/&Fields/&Path; MenuBar1/&View/&Fields/&Path"},
    {"Action2A12", E, "Directory field", "",
     "PopupMenu1/Vie&w/&Fields/&Directory; MenuBar1/&View/&Fields/&Directory"},
    {"Action2A13", E, "Base name field", "",
     "PopupMenu1/Vie&w/&Fields/&Base Name; MenuBar1/&View/&Fields/&Base Name"},
    {"Action2A14", E, "Extension field", "",
     "PopupMenu1/Vie&w/&Fields/&Extension; MenuBar1/&View/&Fields/&Extension"},
    {"Action2A15", E, "Size field", "",
     "PopupMenu1/Vie&w/&Fields/&Size; MenuBar1/&View/&Fields/&Size"},
    {"Action2A16", E, "Type field", "",
     "PopupMenu1/Vie&w/&Fields/&Type; MenuBar1/&View/&Fields/&Type"},
    {"Action2A17", E, "Creation time field", "",
     "PopupMenu1/Vie&w/&Fields/&Creation Time; MenuBar1/&View/&Fields/&Creation Time"},
    {"Action2A18", E, "Last write time field", "",
     "PopupMenu1/Vie&w/&Fields/&Last Write Time; MenuBar1/&View/&Fields/&Last Write Time"},
    {"Action2A19", E, "Last Access time field", "",
     "PopupMenu1/Vie&w/&Fields/Last &Access Time; MenuBar1/&View/&Fields/Last &Access Time"},
    {"Action2A1A", E, "Attributes field", "",
     "PopupMenu1/Vie&w/&Fields/Att&ributes; MenuBar1/&View/&Fields/Att&ributes"},
    {"Action2A1B", E, "Hash field", "",
     "PopupMenu1/Vie&w/&Fields/&Hash; MenuBar1/&View/&Fields/&Hash"},
    {"Action2A21", E, "Sort by path", "",
     "PopupMenu1/Vie&w/&Sort By/&Path; MenuBar1/&View/&Sort By/&Path"},
    {"Action2A22", E, "Sort by directory", "",
     "PopupMenu1/Vie&w/&Sort By/&Directory; MenuBar1/&View/&Sort By/&Directory"},
    {"Action2A23", E, "Sort by name", "",
     "PopupMenu1/Vie&w/&Sort By/&Name; MenuBar1/&View/&Sort By/&Name"},
    {"Action2A24", E, "Sort by base name", "",
     "PopupMenu1/Vie&w/&Sort By/&Base Name; MenuBar1/&View/&Sort By/&Base Name"},
    {"Action2A25", E, "Sort by extension", "",
     "PopupMenu1/Vie&w/&Sort By/&Extension; MenuBar1/&View/&Sort By/&Extension"},
    {"Action2A26", E, "Sort by size", "",
     "PopupMenu1/Vie&w/&Sort By/&Size; MenuBar1/&View/&Sort By/&Size"},
    {"Action2A27", E, "Sort by type", "",
     "PopupMenu1/Vie&w/&Sort By/&Type; MenuBar1/&View/&Sort By/&Type"},
    {"Action2A28", E, "Sort by creation time", "",
     "PopupMenu1/Vie&w/&Sort By/&Creation Time; MenuBar1/&View/&Sort By/&Creation Time"},
    {"Action2A29", E, "Sort by last write time", "",
     "PopupMenu1/Vie&w/&Sort By/&Last Write Time; MenuBar1/&View/&Sort By/&Last Write Time"},
    {"Action2A2A", E, "Sort by last access time", "",
     "PopupMenu1/Vie&w/&Sort By/Last &Access Time; MenuBar1/&View/&Sort By/Last &Access Time"},
    {"Action2A2B", E, "Sort by attributes", "",
     "PopupMenu1/Vie&w/&Sort By/Att&ributes; MenuBar1/&View/&Sort By/Att&ributes"},
    {"Action2A2C", E, "Sort by hash", "",
     "PopupMenu1/Vie&w/&Sort By/&Hash; MenuBar1/&View/&Sort By/&Hash"},
    {"Action2A2D", E, "Sort by priority", "",
     "PopupMenu1/Vie&w/&Sort By/Pri&ority; MenuBar1/&View/&Sort By/Pri&ority"},
    {"Action2A2E", E, "Sort by group", "",
     "PopupMenu1/Vie&w/&Sort By/&Group; MenuBar1/&View/&Sort By/&Group"},
    {"Action2A3", E, "Reverse order", "",
     "PopupMenu1/Vie&w/&Reverse Order; MenuBar1/&View/&Reverse Order"},
    {"Action2A4", E, "Move up", "Alt+Up",
     "PopupMenu1/Vie&w/Move &Up; MenuBar1/&View/Move &Up; SpeedButton8"},
    {"Action2A5", E, "Move down", "Alt+Down",
     "PopupMenu1/Vie&w/Move &Down; MenuBar1/&View/Move &Down; SpeedButton9"},
    {"Action2B1", E, "Open", "Ctrl+Return; Ctrl+Enter",
     "PopupMenu1/&File/&Open; MenuBar1/&File/&Open"},
    {"Action2B2", E, "Open containing folder", "Ctrl+E",
     "PopupMenu1/&File/Open Containing &Folder; MenuBar1/&File/Open Containing &Folder"},
    {"Action2B3", E, "Move to trash", "",
     "PopupMenu1/&File/Move to &Trash...; MenuBar1/&File/Move to &Trash...; SpeedButton7"},
    {"Action2B6", E, "Undo move to trash", "Ctrl+Z",
     "PopupMenu1/&File/&Undo Move to Trash; MenuBar1/&Edit/&Undo Move to Trash"},
    {"Action2B4", E, "Total size", "Ctrl+T",
     "PopupMenu1/&File/Total Si&ze; MenuBar1/&File/Total Si&ze"},
    {"Action2B5", E, "Properties", "Ctrl+R",
     "PopupMenu1/&File/&Properties; MenuBar1/&File/&Properties"},
    {"Action2C1", E, "Set priority to primary", "Ctrl+1",
     "PopupMenu1/P&riority/&Primary; MenuBar1/&Scan/P&riority/&Primary; SpeedButton4"},
    {"Action2C2", E, "Set priority to secondary", "Ctrl+2",
     "PopupMenu1/P&riority/&Secondary; MenuBar1/&Scan/P&riority/&Secondary; SpeedButton5"},
    {"Action2D", E, "Remove all unique", "",
     "PopupMenu1/Remove All &Unique; MenuBar1/&Scan/Remove All &Unique; SpeedButton6"},
    {"Action2E", E, "Drop files", "", ""},
};

// The menu as text: items separated by "|", "-" a separator, a submenu's items in "[]".
std::string Dump(const QWidget& menu) {
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

// Where each action shows: a menu bar item with a caption of its own stands for the
// action it runs.
void CollectPlaces(const QWidget& menu, const std::string& path, const TAppMainForm& form,
                   std::map<const QAction*, Strings>& places) {
    for (const QAction* action : menu.actions()) {
        const std::string here = path + "/" + Caption(*action);
        const QVariant runs = action->property("runs");
        if (const QMenu* submenu = action->menu())
            CollectPlaces(*submenu, here, form, places);
        else if (runs.isValid())
            places[form.Action(runs.toString().toStdString())].push_back(here);
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
              "D&elete...|-|Select &All|Select First in &Group|Select C&opies|Re&verse Selection|-|"
              "Vie&w[&Fields[&Path|&Directory|&Base Name|&Extension|&Size|&Type|&Creation Time|"
              "&Last Write Time|Last &Access Time|Att&ributes|&Hash]|-|&Sort By[&Path|&Directory|"
              "&Name|&Base Name|&Extension|&Size|&Type|&Creation Time|&Last Write Time|"
              "Last &Access Time|Att&ributes|&Hash|Pri&ority|&Group]|&Reverse Order|-|Move &Up|"
              "Move &Down]|&File[&Open|Open Containing &Folder|-|Move to &Trash...|"
              "&Undo Move to Trash|-|Total Si&ze|&Properties]|-|P&riority[&Primary|&Secondary]|"
              "Remove All &Unique");
    EXPECT_EQ(Dump(*Form->PopupMenu2), "&Save Results...|-|&Help[Sorvik &Help...]|-|&About Sorvik");
    const std::string fields = "&Fields[&Path|&Directory|&Base Name|&Extension|&Size|&Type|"
                               "&Creation Time|&Last Write Time|Last &Access Time|Att&ributes|"
                               "&Hash]";
    const std::string sortBy = "&Sort By[&Path|&Directory|&Name|&Base Name|&Extension|&Size|"
                               "&Type|&Creation Time|&Last Write Time|Last &Access Time|"
                               "Att&ributes|&Hash|Pri&ority|&Group]";
    EXPECT_EQ(Dump(*Form->MenuBar1),
              "&File[&New|&Add Files...\tIns|Add Fol&der...|-|&Open|Open Containing &Folder|"
              "Move to &Trash...|Total Si&ze|&Properties|-|&Save Results...|-|&Quit]|"
              "&Edit[&Undo Move to Trash|-|Cu&t|&Copy|&Paste|D&elete...|-|Select &All|"
              "Select First in &Group|Select C&opies|Re&verse Selection]|"
              "&View[" +
                  fields + "|" + sortBy +
                  "|&Reverse Order|-|Move &Up|Move &Down]|"
                  "&Scan[&Scan|&Options...|-|P&riority[&Primary|&Secondary]|Remove All &Unique]|"
                  "&Help[Sorvik &Help...|&About Sorvik]");
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
    prepare["Action14"] = [&] { dialogs.AnswerMessage(mrNo); };
    check["Action14"] = [&](const TState&) {
        // Through the closing path: the list is not unique, and No keeps the window.
        EXPECT_EQ(LastMessage(), "Do you want to remove all the files from the list?");
        EXPECT_TRUE(Form->isVisible());
        EXPECT_FALSE(SettingsWritten());
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
        EXPECT_EQ(LastMessage(), "Do you want to move 2 files to the trash?");
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
        CollectPlaces(*Form->PopupMenu1, "PopupMenu1", *Form, places);
        CollectPlaces(*Form->PopupMenu2, "PopupMenu2", *Form, places);
        CollectPlaces(*Form->MenuBar1, "MenuBar1", *Form, places);
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
