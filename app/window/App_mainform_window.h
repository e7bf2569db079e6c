// The main window, TAppMainForm: the entry list, the tool buttons, the status text, Scan
// and Options, the two context menus and every action, built from the form AppMainForm.ui
// and the tables of App_mainform. It owns the models, views and command sets, loads the
// settings once it is built and saves them when it closes.
#pragma once

#include "App_mainform.h"
#include "Kiv_forms.h"
#include "Kiv_forms_window.h"
#include "Kiv_listviews_window.h"
#include "Kiv_shelllibrary_window.h"

#include <QIcon>
#include <QWidget>
#include <array>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

class QAction;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;

namespace Ui {
class AppMainForm;
} // namespace Ui

namespace App_mainform {

class TDesktopServices;

class TAppMainForm : public QWidget {
public:
    // With the desktop's services. The paths (absolute) are added at the first idle moment
    // after the window is first shown, as a drop.
    explicit TAppMainForm(std::vector<std::string> commandLinePaths = {},
                          QWidget* parent = nullptr);
    // With the given services (a test's), none owned.
    TAppMainForm(const TMainFormServices& services, std::vector<std::string> commandLinePaths,
                 QWidget* parent = nullptr);
    ~TAppMainForm() override;
    TAppMainForm(const TAppMainForm&) = delete;
    TAppMainForm& operator=(const TAppMainForm&) = delete;

    // The controls of the design.
    QWidget* Panel1;
    Kiv_listviews::TListView* ListView1;
    std::array<QToolButton*, SpeedButtonCount> SpeedButtons;
    QLabel* Label1;
    // Shown in the empty list: how to fill it.
    QLabel* EmptyListHint;
    QPushButton* Button1;
    QPushButton* Button2;
    QMenu* PopupMenu1;
    QMenu* PopupMenu2;

    // The actions in the order of App_mainform::Actions(); nullptr for an unknown name.
    const std::vector<QAction*>& ActionList1() const { return FActions; }
    QAction* Action(std::string_view name) const;

    TMainFormObjects& Objects() const { return *FObjects; }
    Kiv_forms::TUpdateNotifier& UpdateNotifier() const { return *Notifier; }

    // Runs an action as every button, menu item and shortcut does: nothing while it is
    // disabled; a failure is shown in the error box.
    void Perform(QAction* action);
    // The central execution hook: the busy cursor, the focus to the list for the list's
    // commands, the command, an update request (also after a failure) and the cursor back.
    // Raises what the command raises; false for an action without a command.
    bool ActionList1Execute(QAction* action);
    // The enabled state and check mark of every action, from the command sets' queries.
    void UpdateAllActions();
    void UpdateStatusText();
    // Hands the paths to the drop command (the pending paths meanwhile); raises its errors.
    void DropPaths(const std::vector<std::string>& paths);
    // New through the action path, then the settings saved; canClose stays false when the
    // user keeps the list or the settings cannot be written (the error is shown).
    void FormCloseQuery(bool& canClose);
    // The application's error box; nothing for the silent abort.
    void ShowError(const std::exception& error);

    // Called after each run of the one-shot command-line handler (the program's own
    // benchmarks time start-up with it).
    std::function<void()> OnCommandLineDone;

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    TAppMainForm(const TMainFormServices* services, std::vector<std::string> commandLinePaths,
                 QWidget* parent);

    void SetUpControls();
    void CreateActions();
    QMenu* CreateMenu(const std::vector<TMenuItem>& items, QWidget* parent);
    void BindButtons();
    void Construct(const TMainFormServices& services);
    void Subscribe();

    void ListView1Data(Kiv_listviews::TCustomListView* sender, int index,
                       Kiv_listviews::TListItem& item);
    void ListView1Change(Kiv_listviews::TCustomListView* sender);
    void ListView1ColumnClick(Kiv_listviews::TCustomListView* sender, int column);
    void DropWatcherDrop(Kiv_shelllibrary::TFileDropWatcher* sender,
                         Kiv_shelllibrary::TDroppedFiles& files, bool& handled);
    void NotifierUpdate(Kiv_forms::TUpdateNotifier* sender);
    void CommandLineIdle();
    void RunCommandLine();
    void PopupListMenu(const QContextMenuEvent& event);
    // A window stored on a screen that is gone comes back onto the primary one.
    void KeepOnScreen();
    // Runs body; an error it raises goes to the error box.
    void Guarded(const std::function<void()>& body);

    const TAction& ActionOf(const QAction* action) const;

    std::unique_ptr<Ui::AppMainForm> Form;
    Kiv_listviews::TImageList ImageList1;
    Kiv_listviews::TImageList ImageList2;
    Kiv_forms::TWidgetForm Placement;
    std::unique_ptr<TDesktopServices> OwnServices;
    Kiv_dialogs::TDialogs* Dialogs = nullptr;
    std::vector<QAction*> FActions;
    std::vector<std::string> CommandLinePaths;
    bool CommandLineArmed = false;
    int IdleWaits = 0;
    // Objects 1 to 11, then the drop watcher and the update notifier: destroyed in the
    // reverse order.
    std::unique_ptr<TMainFormObjects> FObjects;
    std::unique_ptr<Kiv_shelllibrary::TFileDropWatcher> FDropWatcher;
    std::unique_ptr<Kiv_forms::TUpdateNotifier> Notifier;
};

// The program's main window while it exists.
extern TAppMainForm* AppMainForm;

// The glyph of a tool button: SpeedButton1 (index 0) to SpeedButton9, drawn at the size
// it is shown, in colour while enabled and in grey while disabled.
QIcon SpeedButtonGlyph(int index);

} // namespace App_mainform
