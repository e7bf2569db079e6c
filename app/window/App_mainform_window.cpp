#include "App_mainform_window.h"

#include "App_common_window.h"
#include "App_mainform_desktop.h"
#include "App_scanentries_window.h"
#include "ui_AppMainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <algorithm>

namespace App_mainform {

TAppMainForm* AppMainForm = nullptr;

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

// The window's design size (its client area) in design pixels.
constexpr QSize DesignSize(611, 476);
// How long the command line waits for the window to reach the screen, at most.
constexpr int ExposeWaitMs = 20;
constexpr int ExposeWaits = 25;

} // namespace

// ---------------------------------------------------------------------------------------
// TAppMainForm: construction

TAppMainForm::TAppMainForm(std::vector<std::string> commandLinePaths, QWidget* parent)
    : TAppMainForm(nullptr, std::move(commandLinePaths), parent) {}

TAppMainForm::TAppMainForm(const TMainFormServices& services,
                           std::vector<std::string> commandLinePaths, QWidget* parent)
    : TAppMainForm(&services, std::move(commandLinePaths), parent) {}

TAppMainForm::TAppMainForm(const TMainFormServices* services,
                           std::vector<std::string> commandLinePaths, QWidget* parent)
    : QWidget(parent), Form(std::make_unique<Ui::AppMainForm>()),
      ImageList1(App_scanentries::MakePriorityImages()),
      ImageList2(App_scanentries::MakeGroupStateImages()), Placement(*this),
      CommandLinePaths(std::move(commandLinePaths)) {
    SetUpControls();
    CreateActions();
    BindButtons();
    if (!services)
        OwnServices = std::make_unique<TDesktopServices>(this);
    Construct(services ? *services : OwnServices->Services());
    AppMainForm = this;
}

TAppMainForm::~TAppMainForm() {
    if (AppMainForm == this)
        AppMainForm = nullptr;
    // The list outlives the objects below (it is a child widget): it must not call them.
    ListView1->OnData.Clear();
    ListView1->OnChange.Clear();
    ListView1->OnColumnClick.Clear();
}

void TAppMainForm::SetUpControls() {
    Form->setupUi(this);
    Panel1 = Form->Panel1;
    ListView1 = Form->ListView1;
    SpeedButtons = {Form->SpeedButton1, Form->SpeedButton2, Form->SpeedButton3,
                    Form->SpeedButton4, Form->SpeedButton5, Form->SpeedButton6,
                    Form->SpeedButton7, Form->SpeedButton8, Form->SpeedButton9};
    Label1 = Form->Label1;
    Button1 = Form->Button1;
    Button2 = Form->Button2;
    App_common::ScaleDesign(*this);
    // Never smaller than the design in pixels: the list's default columns take 500 pixels
    // whatever the screen, and they fit at that size.
    const double scale = std::max(1.0, App_common::DesignScale(*this));
    resize(qRound(DesignSize.width() * scale), qRound(DesignSize.height() * scale));
    ListView1->SetSmallImages(&ImageList1);
    ListView1->SetStateImages(&ImageList2);
    ListView1->installEventFilter(this);
    ListView1->viewport()->installEventFilter(this);
    // A file is opened by a double click, as in a file manager.
    connect(ListView1, &QAbstractItemView::doubleClicked, this,
            [this] { Perform(Action(OpenAction)); });
    EmptyListHint =
        new QLabel(QStringLiteral("Drop files or folders here, or press Ins to choose files."),
                   ListView1->viewport());
    EmptyListHint->setObjectName(QStringLiteral("EmptyListHint"));
    EmptyListHint->setAlignment(Qt::AlignCenter);
    EmptyListHint->setWordWrap(true);
    EmptyListHint->setAttribute(Qt::WA_TransparentForMouseEvents);
    EmptyListHint->setForegroundRole(QPalette::PlaceholderText);
    for (int i = 0; i < SpeedButtonCount; ++i) {
        QToolButton* button = SpeedButtons[static_cast<std::size_t>(i)];
        const int side = button->minimumWidth();
        button->setIconSize(QSize(side - side / 4, side - side / 4));
    }
}

void TAppMainForm::CreateActions() {
    for (const TAction& definition : Actions()) {
        auto* action = new QAction(Text(definition.Caption), this);
        action->setObjectName(Text(definition.Name));
        action->setToolTip(Text(definition.Hint));
        action->setStatusTip(Text(definition.Hint));
        action->setProperty("category", Text(definition.Category));
        action->setCheckable(static_cast<bool>(definition.Checked));
        if (*definition.Shortcut) {
            action->setShortcuts(QKeySequence::listFromString(Text(definition.Shortcut)));
            const bool list = definition.Scope == TShortcutScope::List;
            action->setShortcutContext(list ? Qt::WidgetShortcut : Qt::WindowShortcut);
            (list ? static_cast<QWidget*>(ListView1) : this)->addAction(action);
        }
        connect(action, &QAction::triggered, this, [this, action] { Perform(action); });
        FActions.push_back(action);
    }
    PopupMenu1 = CreateMenu(App_mainform::PopupMenu1(), this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));
    PopupMenu2 = CreateMenu(App_mainform::PopupMenu2(), this);
    PopupMenu2->setObjectName(QStringLiteral("PopupMenu2"));
}

QMenu* TAppMainForm::CreateMenu(const std::vector<TMenuItem>& items, QWidget* parent) {
    auto* menu = new QMenu(parent);
    for (const TMenuItem& item : items) {
        switch (item.Kind) {
        case TMenuItem::mkAction:
            menu->addAction(Action(item.Text));
            break;
        case TMenuItem::mkSeparator:
            menu->addSeparator();
            break;
        case TMenuItem::mkSubmenu: {
            QMenu* submenu = CreateMenu(item.Items, menu);
            submenu->setTitle(QString::fromStdString(item.Text));
            menu->addMenu(submenu);
            break;
        }
        }
    }
    return menu;
}

void TAppMainForm::BindButtons() {
    for (int i = 0; i < SpeedButtonCount; ++i) {
        QAction* action = Action(SpeedButtonActions()[static_cast<std::size_t>(i)]);
        action->setIcon(SpeedButtonGlyph(i));
        SpeedButtons[static_cast<std::size_t>(i)]->setDefaultAction(action);
    }
    const auto bind = [this](QPushButton* button, QAction* action) {
        button->setText(action->text());
        connect(button, &QPushButton::clicked, this, [this, action] { Perform(action); });
        connect(action, &QAction::changed, button,
                [button, action] { button->setEnabled(action->isEnabled()); });
    };
    bind(Button1, Action(ScanAction));
    bind(Button2, Action(OptionsAction));
}

void TAppMainForm::Construct(const TMainFormServices& services) {
    Dialogs = &services.Dialogs;
    App_scanentries::PrimaryImageIndex = 0;
    App_scanentries::SecondaryImageIndex = 1;
    App_scanentries::UngroupedImageIndex = 0;
    App_scanentries::UniqueImageIndex = 1;
    App_scanentries::GroupedImageIndex = 2;
    FObjects = std::make_unique<TMainFormObjects>(services, Placement, *ListView1);
    FDropWatcher = std::make_unique<Kiv_shelllibrary::TFileDropWatcher>(*this);
    FDropWatcher->SetAccepting(true);
    Notifier = std::make_unique<Kiv_forms::TUpdateNotifier>();
    Subscribe();
    FObjects->ViewSettings.OnChange(&FObjects->ViewSettings);
    UpdateAllActions();
    FObjects->Settings.LoadAll();
    UpdateAllActions();
    KeepOnScreen();
}

void TAppMainForm::Subscribe() {
    // The command line waits for the first idle moment after the window is shown (showEvent).
    FObjects->EntriesCommands.OnCommandsChanged = [this](auto*) { Notifier->RequestUpdate(); };
    FDropWatcher->OnDrop.Bind(this, &TAppMainForm::DropWatcherDrop);
    Notifier->OnUpdate.Bind(this, &TAppMainForm::NotifierUpdate);
    ListView1->OnData.Bind(this, &TAppMainForm::ListView1Data);
    ListView1->OnChange.Bind(this, &TAppMainForm::ListView1Change);
    ListView1->OnColumnClick.Bind(this, &TAppMainForm::ListView1ColumnClick);
}

void TAppMainForm::KeepOnScreen() {
    if (!testAttribute(Qt::WA_Moved))
        return;
    const QRect bounds = geometry();
    for (const QScreen* screen : QGuiApplication::screens()) {
        const QRect shared = screen->availableGeometry().intersected(bounds);
        if (shared.width() >= 48 && shared.height() >= 48)
            return;
    }
    if (const QScreen* primary = QGuiApplication::primaryScreen())
        move(primary->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}

// ---------------------------------------------------------------------------------------
// Actions

QAction* TAppMainForm::Action(std::string_view name) const {
    const QString wanted = QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    for (QAction* action : FActions)
        if (action->objectName() == wanted)
            return action;
    return nullptr;
}

const TAction& TAppMainForm::ActionOf(const QAction* action) const {
    const auto found = std::find(FActions.begin(), FActions.end(), action);
    return Actions().at(static_cast<std::size_t>(found - FActions.begin()));
}

void TAppMainForm::Perform(QAction* action) {
    if (!action || !action->isEnabled())
        return;
    Guarded([&] { ActionList1Execute(action); });
}

bool TAppMainForm::ActionList1Execute(QAction* action) {
    const TAction& definition = ActionOf(action);
    if (!definition.Execute)
        return false;
    const App_common::TBusyCursor busy;
    if (std::string_view(definition.Category) == CategoryDocumentEntries)
        ListView1->setFocus();
    try {
        definition.Execute(*FObjects);
    } catch (...) {
        Notifier->RequestUpdate();
        throw;
    }
    Notifier->RequestUpdate();
    return true;
}

void TAppMainForm::UpdateAllActions() {
    for (std::size_t i = 0; i < FActions.size(); ++i) {
        const TAction& definition = Actions()[i];
        FActions[i]->setEnabled(definition.Enabled(*FObjects));
        if (definition.Checked)
            FActions[i]->setChecked(definition.Checked(*FObjects));
    }
}

void TAppMainForm::UpdateStatusText() {
    const int count = FObjects->Entries().Count();
    Label1->setText(
        QString::fromStdString(StatusText(FObjects->EntriesSelection.SelectedCount(), count)));
    EmptyListHint->setVisible(count == 0);
}

void TAppMainForm::NotifierUpdate(Kiv_forms::TUpdateNotifier*) {
    UpdateAllActions();
    UpdateStatusText();
}

void TAppMainForm::Guarded(const std::function<void()>& body) {
    try {
        body();
    } catch (const std::exception& error) {
        ShowError(error);
    } catch (...) {
        ShowError(Kiv_framework::Exception(""));
    }
}

void TAppMainForm::ShowError(const std::exception& error) {
    App_common::ShowException(*Dialogs, error);
}

// ---------------------------------------------------------------------------------------
// The list

void TAppMainForm::ListView1Data(Kiv_listviews::TCustomListView*, int index,
                                 Kiv_listviews::TListItem& item) {
    const App_scanentries::TScanEntries& entries = FObjects->Entries();
    if (index >= entries.Count())
        return;
    RowData(entries.Item(index), FObjects->ViewSettings.GetFields(), item);
}

void TAppMainForm::ListView1Change(Kiv_listviews::TCustomListView*) {
    Notifier->RequestUpdate();
}

void TAppMainForm::ListView1ColumnClick(Kiv_listviews::TCustomListView*, int column) {
    if (const auto name = SortActionOfColumn(FObjects->ViewSettings.GetFields(), column))
        Perform(Action(*name));
}

void TAppMainForm::PopupListMenu(const QContextMenuEvent& event) {
    Notifier->UpdateNow();
    QPoint where = event.globalPos();
    if (event.reason() == QContextMenuEvent::Keyboard) {
        // From the keyboard the menu opens at the focused row, when it is in sight.
        const QRect view = ListView1->viewport()->rect();
        const int focused = ListView1->FocusedIndex();
        const QRect row = focused >= 0 ? ListView1->RowRect(focused) : QRect();
        const QPoint corner = row.intersects(view) ? row.bottomLeft() : view.topLeft();
        where = ListView1->viewport()->mapToGlobal(corner);
    }
    PopupMenu1->popup(where);
}

bool TAppMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Resize && watched == ListView1->viewport())
        EmptyListHint->setGeometry(ListView1->viewport()->rect().adjusted(8, 8, -8, -8));
    if (event->type() == QEvent::ContextMenu &&
        (watched == ListView1 || watched == ListView1->viewport())) {
        PopupListMenu(static_cast<const QContextMenuEvent&>(*event));
        event->accept();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TAppMainForm::contextMenuEvent(QContextMenuEvent* event) {
    Notifier->UpdateNow();
    PopupMenu2->popup(event->globalPos());
    event->accept();
}

void TAppMainForm::keyPressEvent(QKeyEvent* event) {
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    if (enter && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        // Scan is the default button: Enter anywhere a control leaves it.
        Perform(Action(ScanAction));
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

// ---------------------------------------------------------------------------------------
// Drops and the command line

void TAppMainForm::DropPaths(const std::vector<std::string>& paths) {
    FObjects->PendingPaths = Kiv_dynamicarrays::VectorToArray(paths);
    try {
        QAction* action = Action(DropFilesAction);
        if (action->isEnabled())
            ActionList1Execute(action);
    } catch (...) {
        FObjects->PendingPaths = {};
        throw;
    }
    FObjects->PendingPaths = {};
}

void TAppMainForm::DropWatcherDrop(Kiv_shelllibrary::TFileDropWatcher*,
                                   Kiv_shelllibrary::TDroppedFiles& files, bool& handled) {
    raise();
    activateWindow();
    Guarded([&] {
        std::vector<std::string> paths;
        for (int i = 0; i < files.Count(); ++i)
            paths.push_back(files.FilePath(i));
        files.Finish();
        DropPaths(paths);
    });
    files.Finish();
    handled = true;
}

void TAppMainForm::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    if (!CommandLineArmed) {
        CommandLineArmed = true;
        QTimer::singleShot(0, this, [this] { CommandLineIdle(); });
    }
}

void TAppMainForm::CommandLineIdle() {
    // A long add should not start before the user sees the window it fills.
    const QWindow* window = windowHandle();
    if (!CommandLinePaths.empty() && isVisible() && window && !window->isExposed() &&
        IdleWaits++ < ExposeWaits) {
        QTimer::singleShot(ExposeWaitMs, this, [this] { CommandLineIdle(); });
        return;
    }
    RunCommandLine();
}

void TAppMainForm::RunCommandLine() {
    const std::vector<std::string> paths = std::move(CommandLinePaths);
    CommandLinePaths.clear();
    if (!paths.empty()) {
        if (isVisible())
            repaint();
        Guarded([&] { DropPaths(paths); });
    }
    if (OnCommandLineDone)
        OnCommandLineDone();
}

// ---------------------------------------------------------------------------------------
// Closing

void TAppMainForm::FormCloseQuery(bool& canClose) {
    canClose = false;
    Guarded([&] {
        QAction* action = Action(NewAction);
        if (action->isEnabled())
            ActionList1Execute(action);
        FObjects->Settings.SaveAll();
        canClose = true;
    });
}

void TAppMainForm::closeEvent(QCloseEvent* event) {
    bool canClose = false;
    FormCloseQuery(canClose);
    event->setAccepted(canClose);
}

} // namespace App_mainform
