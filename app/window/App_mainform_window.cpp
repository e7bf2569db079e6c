#include "App_mainform_window.h"

#include "App_common_window.h"
#include "App_mainform_desktop.h"
#include "App_scanentries_window.h"
#include "ui_AppMainForm.h"

#include <QAction>
#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QMenuBar>
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
    ListView1->horizontalHeader()->setSortIndicatorShown(true);
    ListView1->horizontalHeader()->setSortIndicator(-1, Qt::AscendingOrder);
    EmptyListHint = new QLabel(
        QStringLiteral("To find duplicate files:\n\n"
                       "1. Add files: drop files or folders here, or press Ins.\n"
                       "2. Mark the files to keep as primary: select them and press Ctrl+1.\n"
                       "3. Scan: press Enter."),
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
    CreateMenuBar();
}

void TAppMainForm::CreateMenuBar() {
    MenuBar1 = new QMenuBar(this);
    MenuBar1->setObjectName(QStringLiteral("MenuBar1"));
    for (const TMenuItem& item : MainMenu()) {
        QMenu* menu = CreateMenu(item.Items, MenuBar1);
        menu->setTitle(QString::fromStdString(item.Text));
        MenuBar1->addMenu(menu);
    }
    layout()->setMenuBar(MenuBar1);
}

QAction* TAppMainForm::CreateMenuProxy(QAction* action, const std::string& caption,
                                       QObject* parent) {
    QString text = QString::fromStdString(caption);
    // Shown as the action's shortcut is; the action itself keeps the key.
    if (!action->shortcut().isEmpty())
        text += QLatin1Char('\t') + action->shortcut().toString(QKeySequence::NativeText);
    auto* proxy = new QAction(text, parent);
    proxy->setProperty("runs", action->objectName());
    proxy->setToolTip(action->toolTip());
    proxy->setStatusTip(action->statusTip());
    proxy->setEnabled(action->isEnabled());
    connect(action, &QAction::changed, proxy,
            [proxy, action] { proxy->setEnabled(action->isEnabled()); });
    connect(proxy, &QAction::triggered, this, [this, action] { Perform(action); });
    return proxy;
}

QMenu* TAppMainForm::CreateMenu(const std::vector<TMenuItem>& items, QWidget* parent) {
    auto* menu = new QMenu(parent);
    for (const TMenuItem& item : items) {
        switch (item.Kind) {
        case TMenuItem::mkAction:
            if (item.Caption.empty())
                menu->addAction(Action(item.Text));
            else
                menu->addAction(CreateMenuProxy(Action(item.Text), item.Caption, menu));
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
    // Queued: Quit runs inside the action path, and closing runs New through it again.
    FObjects->CloseWindow = [this] {
        QMetaObject::invokeMethod(this, &QWidget::close, Qt::QueuedConnection);
    };
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
    FObjects->DocumentCommands.OnScanComplete = [this](auto*) { SortAfterScan(); };
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
    FSortState = SortStateBefore(FSortState, definition.Name);
    try {
        definition.Execute(*FObjects);
    } catch (...) {
        Notifier->RequestUpdate();
        throw;
    }
    FSortState = SortStateAfter(FSortState, definition.Name);
    if (App_mainform::AddsEntries(definition.EntriesCommand)) {
        FitColumnsOnce();
        ShowAddedRows();
    }
    Notifier->RequestUpdate();
    return true;
}

void TAppMainForm::ShowAddedRows() {
    // An add selects what it added, and nothing else.
    for (int i = 0; i < ListView1->ItemCount(); ++i)
        if (ListView1->ItemState(i) & Kiv_listviews::isSelected) {
            ListView1->MakeVisible(i, false);
            return;
        }
}

void TAppMainForm::FitColumnsOnce() {
    if (ColumnsFitted || FObjects->ViewSettingsView.WidthsStored() ||
        FObjects->Entries().Count() == 0)
        return;
    ColumnsFitted = true;
    const int count = ListView1->ColumnCount();
    QHeaderView* header = ListView1->horizontalHeader();
    // The rows in sight: a million rows are not measured one by one.
    header->setResizeContentsPrecision(ListView1->RowsPerPage() + 1);
    // Room for the images drawn at another scale and a little air.
    const int air = 2 * ListView1->fontMetrics().averageCharWidth() + 8;
    std::vector<int> widths;
    int total = 0;
    for (int column = 0; column < count; ++column) {
        // The rows in sight and the heading, with a little room.
        const int wanted =
            std::max(static_cast<const QAbstractItemView*>(ListView1)->sizeHintForColumn(column),
                     header->sectionSizeHint(column)) +
            air;
        widths.push_back(wanted);
        total += wanted;
    }
    const int room = ListView1->viewport()->width();
    if (total > room && room > 0) {
        // The columns wider than an even share give up what is missing, in proportion.
        const int share = room / std::max(1, count);
        int wide = 0;
        for (const int width : widths)
            wide += std::max(0, width - share);
        const int missing = total - room;
        for (int& width : widths)
            if (width > share && wide > 0)
                width -= static_cast<int>(
                    (static_cast<long long>(width - share) * missing + wide - 1) / wide);
    }
    // As a drag of the user's: the list keeps the widths without building its columns anew.
    for (int column = 0; column < count; ++column)
        header->resizeSection(column, widths[static_cast<std::size_t>(column)]);
}

void TAppMainForm::SortAfterScan() {
    App_scanentries::TScanEntries& entries = FObjects->Entries();
    if (entries.GetGroupCount() == 0)
        return;
    // Both sorts keep the order of equal entries: primary entries first in each group.
    entries.SortByPriority();
    ActionList1Execute(Action(SortByGroupAction));
}

void TAppMainForm::ShowSortArrow() {
    const std::optional<int> column =
        FSortState.Field
            ? App_view::ColumnOfField(FObjects->ViewSettings.GetFields(), *FSortState.Field)
            : std::nullopt;
    ListView1->horizontalHeader()->setSortIndicator(
        column.value_or(-1), FSortState.Descending ? Qt::DescendingOrder : Qt::AscendingOrder);
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
    ShowSortArrow();
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
    const App_scanentries::TScanEntry& entry = entries.Item(index);
    RowData(entry, FObjects->ViewSettings.GetFields(), FObjects->GroupBands.Band(entries, entry),
            item);
}

void TAppMainForm::ListView1Change(Kiv_listviews::TCustomListView*) {
    Notifier->RequestUpdate();
}

void TAppMainForm::ListView1ColumnClick(Kiv_listviews::TCustomListView*, int column) {
    const App_view::TScanFields fields = FObjects->ViewSettings.GetFields();
    // A second click on the heading the list is sorted by turns the order round.
    if (FSortState.Field && App_view::ShownFieldAt(fields, column) == FSortState.Field)
        Perform(Action(ReverseOrderAction));
    else if (const auto name = SortActionOfColumn(fields, column))
        Perform(Action(*name));
    // The heading moved its arrow on the click, also for a sort that did not run.
    ShowSortArrow();
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

void TAppMainForm::PopupListMenuFromKeyboard() {
    if (PopupMenu1->isVisible())
        return;
    QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(), QCursor::pos());
    PopupListMenu(event);
}

bool TAppMainForm::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && watched == ListView1) {
        // Shift+F10 is the Menu key of a keyboard without one.
        const auto& key = static_cast<const QKeyEvent&>(*event);
        const Qt::KeyboardModifiers modifiers = key.modifiers() & ~Qt::KeypadModifier;
        if ((key.key() == Qt::Key_F10 && modifiers == Qt::ShiftModifier) ||
            (key.key() == Qt::Key_Menu && modifiers == Qt::NoModifier)) {
            PopupListMenuFromKeyboard();
            return true;
        }
    }
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
