#include "App_mainform.h"

#include <set>
#include <stdexcept>
#include <utility>

namespace App_mainform {

using App_document::TDocumentCommands;
using App_help::THelpCommands;
using App_scanentries::TScanEntriesCommands;
using App_scanentries::TScanEntry;
using App_view::TScanField;
using App_view::TViewSettingsCommands;

// ---------------------------------------------------------------------------------------
// TMainFormObjects

TMainFormObjects::TMainFormObjects(const TMainFormServices& services, Kiv_forms::TCustomForm& form,
                                   Kiv_listviews::TCustomListView& listView)
    : DocumentCommands(&Document, services.Dialogs, services.ScanDialogs),
      EntriesView(Document.Entries(), listView), EntriesSelection(Document.Entries(), listView),
      EntriesCommands(Document.Entries(), EntriesSelection, services.Clipboard, services.Dialogs,
                      services.Shell),
      ViewSettings(form), ViewSettingsView(ViewSettings, listView),
      ViewSettingsCommands(ViewSettings),
      HelpCommands(services.Dialogs, services.DocumentOpener, services.HelpFile),
      Settings(services.SettingsFile), AddProgress(services.ScanDialogs) {
    EntriesCommands.AddProgress = &AddProgress;
    Settings.Add(&SystemSettings, "SystemSettings");
    Settings.Add(&Document, "Document");
    Settings.Add(&DocumentCommands, "DocumentCommands");
    Settings.Add(&EntriesView, "DocumentEntriesView");
    Settings.Add(&EntriesSelection, "DocumentEntriesSelection");
    Settings.Add(&EntriesCommands, "DocumentEntriesCommands");
    Settings.Add(&ViewSettings, "ViewSettings");
    Settings.Add(&ViewSettingsView, "ViewSettingsView");
    Settings.Add(&ViewSettingsCommands, "ViewSettingsCommands");
    Settings.Add(&HelpCommands, "HelpCommands");
    // Information files that a killed move left in the trash without their files go now.
    services.Shell.FinishInterruptedMoves();
}

// ---------------------------------------------------------------------------------------
// TAddProgressDialog

void TAddProgressDialog::Run(int showDelayMs) {
    App_scan::TCustomProgressDialog& dialog = Dialogs.ProgressDialog();
    Dialog = &dialog;
    const std::string text = Text;
    dialog.SetCaption("Add");
    dialog.Reset();
    dialog.SetText(text);
    dialog.OnCancel = [this](App_scan::TCustomProgressDialog*) { OnCancel(this); };
    dialog.ExecuteDelayed(showDelayMs);
    dialog.OnCancel.Clear();
    Dialog = nullptr;
}

void TAddProgressDialog::Finish() {
    if (Dialog)
        Dialog->Finish();
}

void TAddProgressDialog::SetText(const std::string& text) {
    Text = text;
    if (Dialog)
        Dialog->SetText(text);
}

// ---------------------------------------------------------------------------------------
// Actions

const char* const CategoryDocument = "Document";
const char* const CategoryHelp = "Help";
const char* const CategoryDocumentEntries = "DocumentEntries";

namespace {

using O = TMainFormObjects;

// What an action runs, and how its state is read.
struct TBinding {
    std::function<void(O&)> Execute;
    std::function<bool(O&)> Enabled;
    std::function<bool(O&)> Checked;
    std::string EntriesCommand;
};

TBinding DocumentCommand(void (TDocumentCommands::*execute)(),
                         bool (TDocumentCommands::*can)() const) {
    return {[execute](O& o) { (o.DocumentCommands.*execute)(); },
            [can](O& o) { return (o.DocumentCommands.*can)(); },
            nullptr,
            {}};
}

TBinding HelpCommand(void (THelpCommands::*execute)(), bool (THelpCommands::*can)() const) {
    return {[execute](O& o) { (o.HelpCommands.*execute)(); },
            [can](O& o) { return (o.HelpCommands.*can)(); },
            nullptr,
            {}};
}

// The command of the entries commands' own table with this name; a name it does not
// know is a fault of this table, found the first time the actions are made.
TBinding EntriesCommand(const char* name) {
    for (const TScanEntriesCommands::TCommand& command : TScanEntriesCommands::Commands()) {
        if (std::string_view(command.Name) != name)
            continue;
        const auto execute = command.Execute;
        const auto can = command.Can;
        return {[execute](O& o) { (o.EntriesCommands.*execute)(); },
                [can](O& o) { return (o.EntriesCommands.*can)(); }, nullptr, name};
    }
    throw std::logic_error(std::string("No entries command is named ") + name + ".");
}

TBinding QuitCommand() {
    return {[](O& o) {
                if (o.CloseWindow)
                    o.CloseWindow();
            },
            [](O&) { return true; },
            nullptr,
            {}};
}

TBinding DropFilesCommand() {
    return {[](O& o) { o.EntriesCommands.DropFiles(o.PendingPaths); },
            [](O& o) { return o.EntriesCommands.CanDropFiles(); }, nullptr, "DropFiles"};
}

// Shows and hides a field; checked while the field is shown.
TBinding FieldToggle(void (TViewSettingsCommands::*execute)(), bool (TViewSettingsCommands::*can)(),
                     TScanField field) {
    return {[execute](O& o) { (o.ViewSettingsCommands.*execute)(); },
            [can](O& o) { return (o.ViewSettingsCommands.*can)(); },
            [field](O& o) { return o.ViewSettings.GetFields().Contains(field); },
            {}};
}

TAction Row(const char* name, const char* category, const char* hint, const char* caption,
            const char* shortcut, TBinding binding, TShortcutScope scope = TShortcutScope::List) {
    return {name,
            category,
            hint,
            caption,
            shortcut,
            scope,
            std::move(binding.Execute),
            std::move(binding.Enabled),
            std::move(binding.Checked),
            std::move(binding.EntriesCommand)};
}

TAction Entries(const char* name, const char* hint, const char* caption, const char* shortcut,
                const char* command) {
    return Row(name, CategoryDocumentEntries, hint, caption, shortcut, EntriesCommand(command));
}

using D = TDocumentCommands;
using H = THelpCommands;
using V = TViewSettingsCommands;

std::vector<TAction> MakeActions() {
    const char* const E = CategoryDocumentEntries;
    return {
        Row(ScanAction, CategoryDocument, "Scan", "Scan", "",
            DocumentCommand(&D::Scan, &D::CanScan)),
        Row(OptionsAction, CategoryDocument, "Options", "&Options", "",
            DocumentCommand(&D::EditOptions, &D::CanEditOptions)),
        Row("Action13", CategoryDocument, "Save results", "&Save Results...", "",
            DocumentCommand(&D::SaveResults, &D::CanSaveResults)),
        Row(QuitAction, CategoryDocument, "Quit", "&Quit", "Ctrl+Q", QuitCommand(),
            TShortcutScope::Window),
        Row("Action311", CategoryHelp, "Sorvik help", "Sorvik &Help...", "F1",
            HelpCommand(&H::OpenHelp, &H::CanOpenHelp), TShortcutScope::Window),
        Row("Action312", CategoryHelp, "About Sorvik", "&About Sorvik", "",
            HelpCommand(&H::ShowAbout, &H::CanShowAbout)),
        Entries(NewAction, "New", "&New", "Ctrl+N", "New"),
        Entries("Action221", "Add regular files", "&Regular Files...", "Ins", "AddRegularFiles"),
        Entries("Action222", "Add directory entries", "&Directory Entries...", "",
                "AddDirectoryEntries"),
        Entries("Action23", "Cut", "Cu&t", "Ctrl+X", "Cut"),
        Entries("Action24", "Copy", "&Copy", "Ctrl+C", "Copy"),
        Entries("Action25", "Paste", "&Paste", "Ctrl+V", "Paste"),
        Entries("Action26", "Delete", "D&elete...", "Del", "Delete"),
        Entries("Action27", "Select all", "Select &All", "Ctrl+A", "SelectAll"),
        Entries("Action28", "Select first in group", "Select First in &Group", "",
                "SelectFirstInGroup"),
        Entries("Action2F", "Select copies", "Select C&opies", "", "SelectCopies"),
        Entries("Action29", "Reverse selection", "Re&verse Selection", "", "ReverseSelection"),
        Row("Action2A11", E, "Path field", "&Path", "",
            FieldToggle(&V::TogglePathField, &V::CanTogglePathField, App_view::sfPath)),
        Row("Action2A12", E, "Directory field", "&Directory", "",
            FieldToggle(&V::ToggleDirectoryField, &V::CanToggleDirectoryField,
                        App_view::sfDirectory)),
        Row("Action2A13", E, "Base name field", "&Base Name", "",
            FieldToggle(&V::ToggleBaseNameField, &V::CanToggleBaseNameField, App_view::sfBaseName)),
        Row("Action2A14", E, "Extension field", "&Extension", "",
            FieldToggle(&V::ToggleExtensionField, &V::CanToggleExtensionField,
                        App_view::sfExtension)),
        Row("Action2A15", E, "Size field", "&Size", "",
            FieldToggle(&V::ToggleSizeField, &V::CanToggleSizeField, App_view::sfSize)),
        Row("Action2A16", E, "Type field", "&Type", "",
            FieldToggle(&V::ToggleTypeField, &V::CanToggleTypeField, App_view::sfType)),
        Row("Action2A17", E, "Creation time field", "&Creation Time", "",
            FieldToggle(&V::ToggleCreationTimeField, &V::CanToggleCreationTimeField,
                        App_view::sfCreationTime)),
        Row("Action2A18", E, "Last write time field", "&Last Write Time", "",
            FieldToggle(&V::ToggleLastWriteTimeField, &V::CanToggleLastWriteTimeField,
                        App_view::sfLastWriteTime)),
        Row("Action2A19", E, "Last Access time field", "Last &Access Time", "",
            FieldToggle(&V::ToggleLastAccessTimeField, &V::CanToggleLastAccessTimeField,
                        App_view::sfLastAccessTime)),
        Row("Action2A1A", E, "Attributes field", "Att&ributes", "",
            FieldToggle(&V::ToggleAttributesField, &V::CanToggleAttributesField,
                        App_view::sfAttributes)),
        Row("Action2A1B", E, "Hash field", "&Hash", "",
            FieldToggle(&V::ToggleHashField, &V::CanToggleHashField, App_view::sfHash)),
        Entries("Action2A21", "Sort by path", "&Path", "", "SortByPath"),
        Entries("Action2A22", "Sort by directory", "&Directory", "", "SortByDirectory"),
        Entries("Action2A23", "Sort by name", "&Name", "", "SortByName"),
        Entries("Action2A24", "Sort by base name", "&Base Name", "", "SortByBaseName"),
        Entries("Action2A25", "Sort by extension", "&Extension", "", "SortByExtension"),
        Entries("Action2A26", "Sort by size", "&Size", "", "SortBySize"),
        Entries("Action2A27", "Sort by type", "&Type", "", "SortByType"),
        Entries("Action2A28", "Sort by creation time", "&Creation Time", "", "SortByCreationTime"),
        Entries("Action2A29", "Sort by last write time", "&Last Write Time", "",
                "SortByLastWriteTime"),
        Entries("Action2A2A", "Sort by last access time", "Last &Access Time", "",
                "SortByLastAccessTime"),
        Entries("Action2A2B", "Sort by attributes", "Att&ributes", "", "SortByAttributes"),
        Entries("Action2A2C", "Sort by hash", "&Hash", "", "SortByHash"),
        Entries("Action2A2D", "Sort by priority", "Pri&ority", "", "SortByPriority"),
        Entries("Action2A2E", "Sort by group", "&Group", "", "SortByGroup"),
        Entries("Action2A3", "Reverse order", "&Reverse Order", "", "ReverseOrder"),
        Entries("Action2A4", "Move up", "Move &Up", "Alt+Up", "MoveUp"),
        Entries("Action2A5", "Move down", "Move &Down", "Alt+Down", "MoveDown"),
        Entries(OpenAction, "Open", "&Open", "Ctrl+Return; Ctrl+Enter", "Open"),
        Entries("Action2B2", "Open containing folder", "Open Containing &Folder", "Ctrl+E",
                "ExploreDirectory"),
        Entries("Action2B3", "Move to trash", "Move to &Trash...", "", "MoveToRecycleBin"),
        Entries("Action2B6", "Undo move to trash", "&Undo Move to Trash", "Ctrl+Z",
                "UndoMoveToRecycleBin"),
        Entries("Action2B4", "Total size", "Total Si&ze", "Ctrl+T", "TotalSize"),
        Entries("Action2B5", "Properties", "&Properties", "Ctrl+R", "Properties"),
        Entries("Action2C1", "Set priority to primary", "&Primary", "Ctrl+1",
                "SetPriorityToPrimary"),
        Entries("Action2C2", "Set priority to secondary", "&Secondary", "Ctrl+2",
                "SetPriorityToSecondary"),
        Entries("Action2D", "Remove all unique", "Remove All &Unique", "", "RemoveAllUnique"),
        Row(DropFilesAction, E, "Drop files", "Drop Files", "", DropFilesCommand()),
    };
}

TMenuItem Item(const char* action, const char* caption = "") {
    return {TMenuItem::mkAction, action, {}, caption};
}

TMenuItem Separator() {
    return {TMenuItem::mkSeparator, {}, {}, {}};
}

TMenuItem Submenu(const char* caption, std::vector<TMenuItem> items) {
    return {TMenuItem::mkSubmenu, caption, std::move(items), {}};
}

TMenuItem FieldsMenu() {
    return Submenu("&Fields",
                   {Item("Action2A11"), Item("Action2A12"), Item("Action2A13"), Item("Action2A14"),
                    Item("Action2A15"), Item("Action2A16"), Item("Action2A17"), Item("Action2A18"),
                    Item("Action2A19"), Item("Action2A1A"), Item("Action2A1B")});
}

TMenuItem SortByMenu() {
    return Submenu("&Sort By",
                   {Item("Action2A21"), Item("Action2A22"), Item("Action2A23"), Item("Action2A24"),
                    Item("Action2A25"), Item("Action2A26"), Item("Action2A27"), Item("Action2A28"),
                    Item("Action2A29"), Item("Action2A2A"), Item("Action2A2B"), Item("Action2A2C"),
                    Item("Action2A2D"), Item("Action2A2E")});
}

TMenuItem PriorityMenu() {
    return Submenu("P&riority", {Item("Action2C1"), Item("Action2C2")});
}

std::vector<TMenuItem> MakePopupMenu1() {
    return {
        Item(NewAction),
        Submenu("A&dd", {Item("Action221"), Item("Action222")}),
        Separator(),
        Item("Action23"),
        Item("Action24"),
        Item("Action25"),
        Item("Action26"),
        Separator(),
        Item("Action27"),
        Item("Action28"),
        Item("Action2F"),
        Item("Action29"),
        Separator(),
        Submenu("Vie&w", {FieldsMenu(), Separator(), SortByMenu(), Item("Action2A3"), Separator(),
                          Item("Action2A4"), Item("Action2A5")}),
        Submenu("&File",
                {
                    Item(OpenAction),
                    Item("Action2B2"),
                    Separator(),
                    Item("Action2B3"),
                    Item("Action2B6"),
                    Separator(),
                    Item("Action2B4"),
                    Item("Action2B5"),
                }),
        Separator(),
        PriorityMenu(),
        Item("Action2D"),
    };
}

std::vector<TMenuItem> MakePopupMenu2() {
    return {
        Item("Action13"), Separator(),       Submenu("&Help", {Item("Action311")}),
        Separator(),      Item("Action312"),
    };
}

std::vector<TMenuItem> MakeMainMenu() {
    return {
        Submenu("&File",
                {Item(NewAction), Item("Action221", "&Add Files..."),
                 Item("Action222", "Add Fol&der..."), Separator(), Item(OpenAction),
                 Item("Action2B2"), Item("Action2B3"), Item("Action2B4"), Item("Action2B5"),
                 Separator(), Item("Action13"), Separator(), Item(QuitAction)}),
        Submenu("&Edit", {Item("Action2B6"), Separator(), Item("Action23"), Item("Action24"),
                          Item("Action25"), Item("Action26"), Separator(), Item("Action27"),
                          Item("Action28"), Item("Action2F"), Item("Action29")}),
        Submenu("&View", {FieldsMenu(), SortByMenu(), Item(ReverseOrderAction), Separator(),
                          Item("Action2A4"), Item("Action2A5")}),
        Submenu("&Scan", {Item(ScanAction, "&Scan"), Item(OptionsAction, "&Options..."),
                          Separator(), PriorityMenu(), Item("Action2D")}),
        Submenu("&Help", {Item("Action311"), Item("Action312")}),
    };
}

} // namespace

const std::vector<TAction>& Actions() {
    static const std::vector<TAction> actions = MakeActions();
    return actions;
}

const TAction* FindAction(std::string_view name) {
    for (const TAction& action : Actions())
        if (name == action.Name)
            return &action;
    return nullptr;
}

const std::vector<TMenuItem>& PopupMenu1() {
    static const std::vector<TMenuItem> menu = MakePopupMenu1();
    return menu;
}

const std::vector<TMenuItem>& PopupMenu2() {
    static const std::vector<TMenuItem> menu = MakePopupMenu2();
    return menu;
}

const std::vector<TMenuItem>& MainMenu() {
    static const std::vector<TMenuItem> menu = MakeMainMenu();
    return menu;
}

const std::array<const char*, SpeedButtonCount>& SpeedButtonActions() {
    static const std::array<const char*, SpeedButtonCount> actions = {
        NewAction,  "Action221", "Action26",  "Action2C1", "Action2C2",
        "Action2D", "Action2B3", "Action2A4", "Action2A5"};
    return actions;
}

const char* SortActionOf(TScanField field) {
    static const char* const Names[App_view::ScanFieldCount] = {
        "Action2A21", "Action2A22", "Action2A23", "Action2A24", "Action2A25",
        "Action2A26", "Action2A27", "Action2A28", "Action2A29", "Action2A2A",
        "Action2A2B", "Action2A2C", "Action2A2D", "Action2A2E"};
    return Names[field];
}

std::optional<std::string> SortActionOfColumn(App_view::TScanFields fields, int column) {
    const std::optional<TScanField> field = App_view::ShownFieldAt(fields, column);
    if (!field)
        return std::nullopt;
    return SortActionOf(*field);
}

namespace {

std::optional<TScanField> FieldSortedBy(std::string_view action) {
    for (int field = 0; field < App_view::ScanFieldCount; ++field)
        if (action == SortActionOf(static_cast<TScanField>(field)))
            return static_cast<TScanField>(field);
    return std::nullopt;
}

} // namespace

bool AddsEntries(std::string_view command) {
    static const std::set<std::string, std::less<>> Adding = {
        "AddRegularFiles", "AddDirectoryEntries", "Paste", "DropFiles"};
    return Adding.contains(command);
}

TSortState SortStateBefore(const TSortState& state, std::string_view action) {
    const TAction* definition = FindAction(action);
    const std::string command = definition ? definition->EntriesCommand : std::string();
    // New entries come at the end, moved ones where the user put them, and a scan reads
    // every file's facts again.
    static const std::set<std::string, std::less<>> Unsorting = {"New", "MoveUp", "MoveDown",
                                                                 "UndoMoveToRecycleBin"};
    if (action == ScanAction || AddsEntries(command) || Unsorting.contains(command))
        return {};
    const bool priority = command == "SetPriorityToPrimary" || command == "SetPriorityToSecondary";
    if (priority && state.Field == App_view::sfPriority)
        return {};
    return state;
}

TSortState SortStateAfter(const TSortState& state, std::string_view action) {
    if (const std::optional<TScanField> field = FieldSortedBy(action))
        return {*field, false};
    if (action == ReverseOrderAction && state.Field)
        return {state.Field, !state.Descending};
    return state;
}

// ---------------------------------------------------------------------------------------
// Texts

std::string StatusText(int selectedCount, int entryCount) {
    if (selectedCount > 0)
        return App_common::CountToText(selectedCount) + " items are selected";
    return App_common::CountToText(entryCount) + " items";
}

int TGroupBands::Band(const App_scanentries::TScanEntries& entries, const TScanEntry& entry) {
    const std::int32_t group = entry.Group();
    if (group < 1)
        return -1;
    if (Counted != entries.ChangeCount())
        Recount(entries);
    const auto at = static_cast<std::size_t>(group);
    // A group set without telling the list: its parity until the next change.
    return at < Bands.size() ? Bands[at] : group % 2;
}

void TGroupBands::Recount(const App_scanentries::TScanEntries& entries) {
    std::vector<std::uint8_t> present;
    for (int i = 0; i < entries.Count(); ++i)
        if (const std::int32_t group = entries.Item(i).Group(); group >= 1) {
            const auto at = static_cast<std::size_t>(group);
            if (at >= present.size())
                present.resize(at + 1, 0);
            present[at] = 1;
        }
    std::uint8_t band = 1; // the first group has the band of group 1
    for (std::uint8_t& slot : present)
        if (slot != 0) {
            slot = band;
            band ^= 1;
        }
    Bands = std::move(present);
    Counted = entries.ChangeCount();
}

void RowData(const TScanEntry& entry, App_view::TScanFields fields, int band,
             Kiv_listviews::TListItem& item) {
    using TText = std::string (*)(const TScanEntry&);
    namespace E = App_scanentries;
    // Indexed by TScanField.
    static const TText Texts[App_view::ScanFieldCount] = {
        E::PathText,          E::DirectoryText,      E::NameText,       E::BaseNameText,
        E::ExtensionText,     E::SizeText,           E::TypeText,       E::CreationTimeText,
        E::LastWriteTimeText, E::LastAccessTimeText, E::AttributesText, E::HashText,
        E::PriorityText,      E::GroupText};
    bool first = true;
    for (const TScanField field : App_view::ScanFieldDisplayOrder) {
        if (!fields.Contains(field))
            continue;
        if (first)
            item.Caption = Texts[field](entry);
        else
            item.SubItems.push_back(Texts[field](entry));
        first = false;
    }
    item.ImageIndex = E::PriorityImageIndex(entry);
    item.StateIndex = E::GroupImageIndex(entry);
    item.Band = band;
}

// ---------------------------------------------------------------------------------------
// The command line

std::string AbsolutePath(const std::string& path, const std::string& directory) {
    if (path.empty() || path.front() == '/' || directory.empty())
        return path;
    if (directory.back() == '/')
        return directory + path;
    return directory + "/" + path;
}

TCommandLine ParseCommandLine(const std::vector<std::string>& arguments,
                              const std::string& directory) {
    TCommandLine result;
    bool options = true;
    for (const std::string& argument : arguments) {
        if (options && argument == "--") {
            options = false;
        } else if (options && argument == "--help") {
            return {TCommandLine::ckHelp, {}, {}};
        } else if (options && argument == "--version") {
            return {TCommandLine::ckVersion, {}, {}};
        } else if (options && argument.size() > 1 && argument.front() == '-') {
            return {TCommandLine::ckError, {}, "unknown option " + argument};
        } else {
            result.Paths.push_back(AbsolutePath(argument, directory));
        }
    }
    return result;
}

std::string UsageText() {
    return "Usage: sorvik [PATH]...\n"
           "Finds duplicate files. Opens the window with the given files and folders in its\n"
           "list, as if they were dropped on it; a folder gives every regular file below it.\n"
           "Relative paths are taken from the current folder.\n"
           "\n"
           "  --help     show this text and exit\n"
           "  --version  show the version and exit\n"
           "  --         every argument after it is a path\n"
           "\n"
           "sorvik-scan finds duplicate files without the window.\n";
}

std::string VersionText() {
    return std::string("sorvik ") + App_common::AppVersion + "\n";
}

} // namespace App_mainform
