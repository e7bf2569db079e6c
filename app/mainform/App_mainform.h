// The main window without its widgets: the objects it owns and wires together, in the
// order they are made; its actions, context menus and tool buttons as tables; the texts it
// shows (the status text, the rows of the list); and the program's command line.
//
// Everything here runs and is tested without a display. The window (App_mainform_window)
// builds its actions, menus and buttons from these tables and only adds what needs a
// screen: the cursor, the focus, the drop watcher and the event loop.
#pragma once

#include "App_common.h"
#include "App_common_settings.h"
#include "App_document_commands.h"
#include "App_help.h"
#include "App_scan_dialogs.h"
#include "App_scanentries_adding.h"
#include "App_scanentries_commands.h"
#include "App_scanentries_view.h"
#include "App_system.h"
#include "App_view.h"
#include "Kiv_clipboard.h"
#include "Kiv_dialogs.h"
#include "Kiv_dynamicarrays.h"
#include "Kiv_forms.h"
#include "Kiv_listviews.h"
#include "Kiv_shellfiles.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace App_mainform {

// What the window's commands reach outside the program: the desktop's own services, or a
// test's. None is owned.
struct TMainFormServices {
    Kiv_dialogs::TDialogs& Dialogs;
    App_scan::TScanDialogs& ScanDialogs;
    Kiv_clipboard::TClipboard& Clipboard;
    Kiv_shellfiles::TShell& Shell;
    App_help::TDocumentOpener& DocumentOpener;
    std::string SettingsFile;
    std::string HelpFile;
};

// The window's add behind the scan's progress dialog, made when the add first needs it.
class TAddProgressDialog : public App_scanentries::TAddProgress {
public:
    explicit TAddProgressDialog(App_scan::TScanDialogs& dialogs) : Dialogs(dialogs) {}
    void Run(int showDelayMs) override;
    void Finish() override;
    void SetText(const std::string& text) override;

private:
    App_scan::TScanDialogs& Dialogs;
    // While Run runs.
    App_scan::TCustomProgressDialog* Dialog = nullptr;
    // The latest status, for the dialog from its start.
    std::string Text;
};

// The band of a grouped row: the groups in the list take turns in the order of their
// numbers, counting only the groups still there, so two groups sorted side by side never
// share a band, also once the groups between them left the list (by parity alone, groups
// 1 and 3 would). Worked out again after the entries changed.
class TGroupBands {
public:
    // 0 or 1 for a grouped entry; -1 for a unique or unscanned one.
    int Band(const App_scanentries::TScanEntries& entries,
             const App_scanentries::TScanEntry& entry);

private:
    void Recount(const App_scanentries::TScanEntries& entries);

    std::optional<std::uint64_t> Counted;
    std::vector<std::uint8_t> Bands; // by group number
};

// The models, views, command sets and the settings registry of the main window, created
// in this order (a failure destroys those made so far) and destroyed in the reverse one.
// The registry holds them under their section names, "SystemSettings" first.
class TMainFormObjects {
public:
    TMainFormObjects(const TMainFormServices& services, Kiv_forms::TCustomForm& form,
                     Kiv_listviews::TCustomListView& listView);
    TMainFormObjects(const TMainFormObjects&) = delete;
    TMainFormObjects& operator=(const TMainFormObjects&) = delete;

    // The paths of a drop or of the command line while the drop command runs; empty
    // otherwise. Freed last.
    Kiv_dynamicarrays::TStringDynArray PendingPaths;
    App_system::TSystemSettings SystemSettings;
    App_document::TDocument Document;
    App_document::TDocumentCommands DocumentCommands;
    App_scanentries::TScanEntriesView EntriesView;
    App_scanentries::TScanEntriesSelection EntriesSelection;
    App_scanentries::TScanEntriesCommands EntriesCommands;
    App_view::TViewSettings ViewSettings;
    App_view::TViewSettingsView ViewSettingsView;
    App_view::TViewSettingsCommands ViewSettingsCommands;
    App_help::THelpCommands HelpCommands;
    App_common::TSettingsHandlers Settings;
    // The entries commands' adds run behind it.
    TAddProgressDialog AddProgress;
    TGroupBands GroupBands;
    // Closes the window through its closing path (the Quit command); set by the window.
    std::function<void()> CloseWindow;

    App_scanentries::TScanEntries& Entries() const { return Document.Entries(); }
};

// ---------------------------------------------------------------------------------------
// Actions

extern const char* const CategoryDocument;
extern const char* const CategoryHelp;
extern const char* const CategoryDocumentEntries;

// Where an action's shortcut works: while the list has the keyboard focus (the shortcuts
// of the list's context menu), or anywhere in the window.
enum class TShortcutScope { List, Window };

// One action of the window: how the user sees it and what it runs. Execute calls one
// command; Enabled is the command's query; Checked, where set, gives the check mark.
struct TAction {
    const char* Name;
    const char* Category;
    const char* Hint;
    const char* Caption;
    // Key sequences in Qt's portable text, several separated by "; "; empty for none.
    const char* Shortcut;
    TShortcutScope Scope;
    std::function<void(TMainFormObjects&)> Execute;
    std::function<bool(TMainFormObjects&)> Enabled;
    std::function<bool(TMainFormObjects&)> Checked;
    // The entries command it runs (its name in TScanEntriesCommands::Commands(), or
    // "DropFiles"); empty for a command of another set.
    std::string EntriesCommand;
};

// The actions the window itself reaches by name: Scan (the default button, and Enter),
// Options (the second button), New (run when the window closes), Open (a double click on a
// row), Drop Files (drops and the command line), Reverse Order (a second click on the
// heading the list is sorted by) and Sort by Group (after a scan that found groups).
inline constexpr const char* ScanAction = "Action11";
inline constexpr const char* OptionsAction = "Action12";
inline constexpr const char* QuitAction = "Action14";
inline constexpr const char* ReverseOrderAction = "Action2A3";
inline constexpr const char* SortByGroupAction = "Action2A2E";
inline constexpr const char* NewAction = "Action21";
inline constexpr const char* OpenAction = "Action2B1";
inline constexpr const char* DropFilesAction = "Action2E";

// Every action of the window, in the order the update pass visits them.
const std::vector<TAction>& Actions();
// nullptr for a name no action has.
const TAction* FindAction(std::string_view name);

// An entry of a menu: an action, a separator or a submenu with its items.
struct TMenuItem {
    enum TKind { mkAction, mkSeparator, mkSubmenu };
    TKind Kind;
    // The action's name, or the submenu's caption.
    std::string Text;
    std::vector<TMenuItem> Items;
    // For an action: the caption this item shows in place of the action's own, where the
    // menu bar names a command otherwise than its button or context menu ("Add Files..."
    // for "Add > Regular Files..."); empty for the action's caption. Such an item runs
    // the action and follows its enabled state.
    std::string Caption;
};

// The list's context menu, and the window's own (a right click outside the list).
const std::vector<TMenuItem>& PopupMenu1();
const std::vector<TMenuItem>& PopupMenu2();
// The menu bar: its menus (File, Edit, View, Scan, Help) as submenus, made of the same
// actions.
const std::vector<TMenuItem>& MainMenu();

// The actions of the nine tool buttons, SpeedButton1 to SpeedButton9.
constexpr int SpeedButtonCount = 9;
const std::array<const char*, SpeedButtonCount>& SpeedButtonActions();

// The action that sorts by the field.
const char* SortActionOf(App_view::TScanField field);
// The sort action of a column of a list showing these fields; none past the last column.
std::optional<std::string> SortActionOfColumn(App_view::TScanFields fields, int column);

// Whether the entries command (as TAction::EntriesCommand names it) adds entries to the
// list: Add Files, Add Folder, Paste and drops.
bool AddsEntries(std::string_view command);

// The order the list is in, as far as the window's own actions tell: sorted by a field,
// ascending or reversed, or in no known order.
struct TSortState {
    std::optional<App_view::TScanField> Field;
    bool Descending = false;
    friend bool operator==(const TSortState&, const TSortState&) = default;
};
// The order before an action runs: an action that may leave the list out of order (an
// add, a move, a scan that reads the files again, a priority change under a sort by
// priority) forgets it; every other keeps it.
TSortState SortStateBefore(const TSortState& state, std::string_view action);
// The order after an action ran: a sort sets it, Reverse Order turns it round.
TSortState SortStateAfter(const TSortState& state, std::string_view action);

// ---------------------------------------------------------------------------------------
// Texts

// "%s items are selected" while a row is selected, otherwise "%s items" with the number of
// entries; digits in groups of three.
std::string StatusText(int selectedCount, int entryCount);

// A row of the list: the shown fields' texts in column order (the first is the caption),
// the priority image, the group-state image and the band (TGroupBands).
void RowData(const App_scanentries::TScanEntry& entry, App_view::TScanFields fields, int band,
             Kiv_listviews::TListItem& item);

// ---------------------------------------------------------------------------------------
// The command line: sorvik [--help | --version] [--] [PATH]...

struct TCommandLine {
    enum TKind { ckRun, ckHelp, ckVersion, ckError };
    TKind Kind = ckRun;
    // The paths, made absolute against the starting directory.
    std::vector<std::string> Paths;
    // The complaint for ckError.
    std::string Error;
};

// Reads the arguments after the program's name (and after Qt took its own). An argument
// starting with "-" is an option until "--"; a relative path is joined to directory, byte
// for byte (the list resolves "." and ".." when it takes the path), and stays relative when
// directory is empty (the starting directory is gone).
TCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                              const std::string& directory);
std::string AbsolutePath(const std::string& path, const std::string& directory);
std::string UsageText();
std::string VersionText();

} // namespace App_mainform
