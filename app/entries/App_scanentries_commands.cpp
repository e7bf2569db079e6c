#include "App_scanentries_commands.h"

#include <algorithm>
#include <optional>
#include <unistd.h>

namespace App_scanentries {

using App_common::CountToText;
using App_common::EAppError;
using Kiv_dialogs::TMessageRequest;
using Kiv_dynamicarrays::TStringDynArray;

namespace {

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

} // namespace

TScanEntriesCommands::TScanEntriesCommands(TScanEntries& entries, TScanEntriesSelection& selection,
                                           Kiv_clipboard::TClipboard& clipboard,
                                           Kiv_dialogs::TDialogs& dialogs,
                                           Kiv_shellfiles::TShell& shell)
    : Entries(entries), Selection(selection), Clipboard(clipboard), Dialogs(dialogs), Shell(shell),
      Trash(entries, dialogs, shell),
      ClipboardWatcher(std::make_unique<Kiv_clipboard::TClipboardWatcher>(clipboard)) {
    AddFilesDialog.Title = "Add Regular Files";
    AddFilesDialog.Filter = "All (*.*)|*.*";
    AddFilesDialog.FilterIndex = 1;
    AddFilesDialog.AllowMultiSelect = true;
    AddFilesDialog.FileMustExist = true;
    ClipboardWatcher->OnChange = [this](Kiv_clipboard::TClipboardWatcher*) { DoCommandsChanged(); };
    ClipboardWatcher->SetActive(true);
}

TScanEntriesCommands::~TScanEntriesCommands() = default;

void TScanEntriesCommands::Load(App_common::TMemIniFile& iniFile, const std::string& section) {
    const int index = iniFile.ReadInteger(section + ".AddRegularFilesDialog", "FilterIndex",
                                          AddFilesDialog.FilterIndex);
    // The dialog has filters from 1 on; another number names none of them.
    if (index >= 1)
        AddFilesDialog.FilterIndex = index;
}

void TScanEntriesCommands::Save(App_common::TMemIniFile& iniFile, const std::string& section) {
    iniFile.WriteInteger(section + ".AddRegularFilesDialog", "FilterIndex",
                         AddFilesDialog.FilterIndex);
}

void TScanEntriesCommands::DoCommandsChanged() {
    OnCommandsChanged(this);
}

// ---------------------------------------------------------------------------------------
// Helpers

void TScanEntriesCommands::AddPaths(const TStringDynArray& paths) {
    if (AddProgress)
        AddPathsInTask(Entries, paths, *AddProgress, AddDialogDelay, OnAddStep);
    else
        AddPathsToList(Entries, paths);
}

void TScanEntriesCommands::RemoveEntries(const TIntegerDynArray& indexes) {
    Entries.Remove(indexes);
}

void TScanEntriesCommands::SetPriority(TScanPriority priority) {
    for (const int index : Selection.GetSelectedIndices()) {
        TScanEntry& entry = Entries.Item(index);
        if (entry.Priority == priority)
            continue;
        entry.Priority = priority;
        Entries.EntryChanged(index);
    }
}

void TScanEntriesCommands::Sort(bool (TScanEntriesCommands::*can)() const,
                                void (TScanEntries::*sort)()) {
    if (!(this->*can)())
        Unavailable();
    (Entries.*sort)();
}

void TScanEntriesCommands::ForEachSelected(const std::string& questionStart,
                                           const std::string& questionEnd,
                                           const std::function<void(const TScanEntry&)>& action) {
    const TIntegerDynArray selected = Selection.GetSelectedIndices();
    if (selected.Length() > 1)
        App_common::Confirm(Dialogs, questionStart + CountToText(selected.Length()) + questionEnd);
    for (const int index : selected)
        action(Entries.Item(index));
}

// ---------------------------------------------------------------------------------------
// Building the list

void TScanEntriesCommands::New() {
    if (!CanNew())
        Unavailable();
    if (Entries.Count() == 0)
        return;
    if (Entries.GetUniqueCount() != Entries.Count())
        App_common::Confirm(Dialogs, "Do you want to remove all the files from the list?", true);
    Entries.Clear();
}

void TScanEntriesCommands::AddRegularFiles() {
    if (!CanAddRegularFiles())
        Unavailable();
    const auto paths = Dialogs.OpenFiles(AddFilesDialog);
    if (!paths)
        Kiv_framework::Abort();
    AddPaths(Kiv_dynamicarrays::VectorToArray(*paths));
}

void TScanEntriesCommands::AddDirectoryEntries() {
    if (!CanAddDirectoryEntries())
        Unavailable();
    const std::optional<std::string> current = Kiv_files::CurrentDirectory();
    const Kiv_dialogs::TFolderRequest request{
        "Choose a directory.", current && Kiv_files::PathExists(*current) ? *current : ""};
    const auto directory = Dialogs.SelectFolder(request);
    if (!directory)
        Kiv_framework::Abort();
    // Remembered between runs through the system settings. A folder that has just gone
    // cannot be entered, and the add below says so.
    (void)::chdir(directory->c_str());
    AddPaths(TStringDynArray({*directory}));
}

// ---------------------------------------------------------------------------------------
// The clipboard

void TScanEntriesCommands::Cut() {
    if (!CanCut())
        Unavailable();
    Copy();
    RemoveEntries(Selection.GetSelectedIndices());
}

bool TScanEntriesCommands::CanCut() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::Copy() {
    if (!CanCopy())
        Unavailable();
    std::string text;
    for (const int index : Selection.GetSelectedIndices()) {
        const std::string& path = Entries.Item(index).Path();
        // The clipboard holds Unicode text: bytes that are not UTF-8 would come back as
        // another name.
        if (!Kiv_shellfiles::QtKeepsFileName(path))
            throw EAppError("The program cannot put the name of the file " + Quoted(path) +
                            " on the clipboard.");
        // One path a line: a line break in a name would make it read as two paths.
        if (path.find_first_of("\r\n") != std::string::npos)
            throw EAppError("The program cannot put the name of the file " + Quoted(path) +
                            " on the clipboard: it holds a line break.");
        text.append(path).append("\r\n");
    }
    Clipboard.SetText(text);
}

bool TScanEntriesCommands::CanCopy() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::Paste() {
    if (!CanPaste())
        Unavailable();
    AddPaths(
        Kiv_dynamicarrays::DropEmptyLines(Kiv_dynamicarrays::TextToLines(Clipboard.GetText())));
}

bool TScanEntriesCommands::CanPaste() const {
    return Clipboard.HasText();
}

void TScanEntriesCommands::Delete() {
    if (!CanDelete())
        Unavailable();
    const TIntegerDynArray selected = Selection.GetSelectedIndices();
    App_common::Confirm(Dialogs, "Do you want to remove the " + CountToText(selected.Length()) +
                                     " files from the list?");
    RemoveEntries(selected);
}

bool TScanEntriesCommands::CanDelete() const {
    return Selection.SelectedCount() > 0;
}

// ---------------------------------------------------------------------------------------
// The selection

void TScanEntriesCommands::SelectAll() {
    if (!CanSelectAll())
        Unavailable();
    Selection.SelectAll();
}

void TScanEntriesCommands::ReverseSelection() {
    if (!CanReverseSelection())
        Unavailable();
    Selection.ReverseSelection();
}

void TScanEntriesCommands::SelectFirstInGroup() {
    if (!CanSelectFirstInGroup())
        Unavailable();
    const int count = Entries.Count();
    std::int32_t greatest = 0;
    for (int i = 0; i < count; ++i)
        greatest = std::max(greatest, Entries.Item(i).Group());
    std::vector<int> firsts(static_cast<std::size_t>(greatest) + 1, -1);
    int found = 0;
    for (int i = 0; i < count && found < greatest; ++i) {
        const std::int32_t group = Entries.Item(i).Group();
        if (group >= 1 && firsts[static_cast<std::size_t>(group)] < 0) {
            firsts[static_cast<std::size_t>(group)] = i;
            ++found;
        }
    }
    Kiv_dynamicarrays::TIntegerDynArrayBuilder builder;
    builder.SetCapacity(found);
    for (std::size_t group = 1; group < firsts.size(); ++group)
        if (firsts[group] >= 0)
            builder.Add(firsts[group]);
    Selection.SetSelectedIndices(builder.Extract());
}

void TScanEntriesCommands::SelectCopies() {
    if (!CanSelectCopies())
        Unavailable();
    const int count = Entries.Count();
    std::int32_t greatest = 0;
    for (int i = 0; i < count; ++i)
        greatest = std::max(greatest, Entries.Item(i).Group());
    std::vector<bool> met(static_cast<std::size_t>(greatest) + 1, false);
    Kiv_dynamicarrays::TIntegerDynArrayBuilder builder;
    for (int i = 0; i < count; ++i) {
        const std::int32_t group = Entries.Item(i).Group();
        if (group < 1)
            continue;
        if (met[static_cast<std::size_t>(group)])
            builder.Add(i);
        met[static_cast<std::size_t>(group)] = true;
    }
    Selection.SetSelectedIndices(builder.Extract());
}

// ---------------------------------------------------------------------------------------
// The order

void TScanEntriesCommands::SortByPath() {
    Sort(&TScanEntriesCommands::CanSortByPath, &TScanEntries::SortByPath);
}

void TScanEntriesCommands::SortByDirectory() {
    Sort(&TScanEntriesCommands::CanSortByDirectory, &TScanEntries::SortByDirectory);
}

void TScanEntriesCommands::SortByName() {
    Sort(&TScanEntriesCommands::CanSortByName, &TScanEntries::SortByName);
}

void TScanEntriesCommands::SortByBaseName() {
    Sort(&TScanEntriesCommands::CanSortByBaseName, &TScanEntries::SortByBaseName);
}

void TScanEntriesCommands::SortByExtension() {
    Sort(&TScanEntriesCommands::CanSortByExtension, &TScanEntries::SortByExtension);
}

void TScanEntriesCommands::SortBySize() {
    Sort(&TScanEntriesCommands::CanSortBySize, &TScanEntries::SortBySize);
}

void TScanEntriesCommands::SortByType() {
    Sort(&TScanEntriesCommands::CanSortByType, &TScanEntries::SortByType);
}

void TScanEntriesCommands::SortByCreationTime() {
    Sort(&TScanEntriesCommands::CanSortByCreationTime, &TScanEntries::SortByCreationTime);
}

void TScanEntriesCommands::SortByLastWriteTime() {
    Sort(&TScanEntriesCommands::CanSortByLastWriteTime, &TScanEntries::SortByLastWriteTime);
}

void TScanEntriesCommands::SortByLastAccessTime() {
    Sort(&TScanEntriesCommands::CanSortByLastAccessTime, &TScanEntries::SortByLastAccessTime);
}

void TScanEntriesCommands::SortByAttributes() {
    Sort(&TScanEntriesCommands::CanSortByAttributes, &TScanEntries::SortByAttributes);
}

void TScanEntriesCommands::SortByHash() {
    Sort(&TScanEntriesCommands::CanSortByHash, &TScanEntries::SortByHash);
}

void TScanEntriesCommands::SortByPriority() {
    Sort(&TScanEntriesCommands::CanSortByPriority, &TScanEntries::SortByPriority);
}

void TScanEntriesCommands::SortByGroup() {
    Sort(&TScanEntriesCommands::CanSortByGroup, &TScanEntries::SortByGroup);
}

void TScanEntriesCommands::ReverseOrder() {
    Sort(&TScanEntriesCommands::CanReverseOrder, &TScanEntries::ReverseOrder);
}

void TScanEntriesCommands::MoveUp() {
    if (!CanMoveUp())
        Unavailable();
    Entries.MoveUp(Selection.GetSelectedIndices());
}

bool TScanEntriesCommands::CanMoveUp() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::MoveDown() {
    if (!CanMoveDown())
        Unavailable();
    Entries.MoveDown(Selection.GetSelectedIndices());
}

bool TScanEntriesCommands::CanMoveDown() const {
    return Selection.SelectedCount() > 0;
}

// ---------------------------------------------------------------------------------------
// The desktop's actions on the selected files

void TScanEntriesCommands::Open() {
    if (!CanOpen())
        Unavailable();
    ForEachSelected("Do you want to open ", " files?", [this](const TScanEntry& entry) {
        std::string why;
        if (!Shell.OpenFile(entry.Path(), why))
            throw EAppError("The program could not open the file " + Quoted(entry.Path()) + " (" +
                            why + ").");
    });
}

bool TScanEntriesCommands::CanOpen() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::ExploreDirectory() {
    if (!CanExploreDirectory())
        Unavailable();
    ForEachSelected("Do you want to open ", " containing folders?",
                    [this](const TScanEntry& entry) {
                        std::string why;
                        if (!Shell.ExploreFile(entry.Path(), why))
                            throw EAppError("The program could not explore the directory " +
                                            Quoted(entry.Directory()) + " (" + why + ").");
                    });
}

bool TScanEntriesCommands::CanExploreDirectory() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::MoveToRecycleBin() {
    if (!CanMoveToRecycleBin())
        Unavailable();
    Trash.Move(Selection.GetSelectedIndices());
}

bool TScanEntriesCommands::CanMoveToRecycleBin() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::UndoMoveToRecycleBin() {
    if (!CanUndoMoveToRecycleBin())
        Unavailable();
    Trash.OnPutBack = OnPutBack;
    Trash.Undo();
}

bool TScanEntriesCommands::CanUndoMoveToRecycleBin() const {
    return Trash.CanUndo();
}

void TScanEntriesCommands::TotalSize() {
    if (!CanTotalSize())
        Unavailable();
    const TIntegerDynArray selected = Selection.GetSelectedIndices();
    std::uint64_t total = 0;
    for (const int index : selected)
        total += Entries.Item(index).Size();
    Dialogs.MessageBox(TMessageRequest{"The total size of the " + CountToText(selected.Length()) +
                                           " files is " + App_common::SizeToText(total) + " bytes.",
                                       App_common::AppTitle, Kiv_dialogs::miInformation,
                                       Kiv_dialogs::mbOk});
}

bool TScanEntriesCommands::CanTotalSize() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::Properties() {
    if (!CanProperties())
        Unavailable();
    ForEachSelected(
        "Do you want to show the properties of ", " files?", [this](const TScanEntry& entry) {
            std::string why;
            if (!Shell.ShowFileProperties(entry.Path(), why))
                throw EAppError("The program could not show the properties of the file " +
                                Quoted(entry.Path()) + " (" + why + ").");
        });
}

bool TScanEntriesCommands::CanProperties() const {
    return Selection.SelectedCount() > 0;
}

// ---------------------------------------------------------------------------------------
// Priority and the unique entries

void TScanEntriesCommands::SetPriorityToPrimary() {
    if (!CanSetPriorityToPrimary())
        Unavailable();
    SetPriority(spPrimary);
}

bool TScanEntriesCommands::CanSetPriorityToPrimary() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::SetPriorityToSecondary() {
    if (!CanSetPriorityToSecondary())
        Unavailable();
    SetPriority(spSecondary);
}

bool TScanEntriesCommands::CanSetPriorityToSecondary() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::RemoveAllUnique() {
    if (!CanRemoveAllUnique())
        Unavailable();
    RemoveEntries(Entries.GetUniqueIndices());
}

bool TScanEntriesCommands::CanRemoveAllUnique() const {
    return Entries.Count() > 0;
}

void TScanEntriesCommands::DropFiles(const TStringDynArray& paths) {
    if (!CanDropFiles())
        Unavailable();
    AddPaths(paths);
}

const std::vector<TScanEntriesCommands::TCommand>& TScanEntriesCommands::Commands() {
    using T = TScanEntriesCommands;
    static const std::vector<TCommand> commands = {
        {"New", &T::New, &T::CanNew},
        {"AddRegularFiles", &T::AddRegularFiles, &T::CanAddRegularFiles},
        {"AddDirectoryEntries", &T::AddDirectoryEntries, &T::CanAddDirectoryEntries},
        {"Cut", &T::Cut, &T::CanCut},
        {"Copy", &T::Copy, &T::CanCopy},
        {"Paste", &T::Paste, &T::CanPaste},
        {"Delete", &T::Delete, &T::CanDelete},
        {"SelectAll", &T::SelectAll, &T::CanSelectAll},
        {"ReverseSelection", &T::ReverseSelection, &T::CanReverseSelection},
        {"SelectFirstInGroup", &T::SelectFirstInGroup, &T::CanSelectFirstInGroup},
        {"SelectCopies", &T::SelectCopies, &T::CanSelectCopies},
        {"SortByPath", &T::SortByPath, &T::CanSortByPath},
        {"SortByDirectory", &T::SortByDirectory, &T::CanSortByDirectory},
        {"SortByName", &T::SortByName, &T::CanSortByName},
        {"SortByBaseName", &T::SortByBaseName, &T::CanSortByBaseName},
        {"SortByExtension", &T::SortByExtension, &T::CanSortByExtension},
        {"SortBySize", &T::SortBySize, &T::CanSortBySize},
        {"SortByType", &T::SortByType, &T::CanSortByType},
        {"SortByCreationTime", &T::SortByCreationTime, &T::CanSortByCreationTime},
        {"SortByLastWriteTime", &T::SortByLastWriteTime, &T::CanSortByLastWriteTime},
        {"SortByLastAccessTime", &T::SortByLastAccessTime, &T::CanSortByLastAccessTime},
        {"SortByAttributes", &T::SortByAttributes, &T::CanSortByAttributes},
        {"SortByHash", &T::SortByHash, &T::CanSortByHash},
        {"SortByPriority", &T::SortByPriority, &T::CanSortByPriority},
        {"SortByGroup", &T::SortByGroup, &T::CanSortByGroup},
        {"ReverseOrder", &T::ReverseOrder, &T::CanReverseOrder},
        {"MoveUp", &T::MoveUp, &T::CanMoveUp},
        {"MoveDown", &T::MoveDown, &T::CanMoveDown},
        {"Open", &T::Open, &T::CanOpen},
        {"ExploreDirectory", &T::ExploreDirectory, &T::CanExploreDirectory},
        {"MoveToRecycleBin", &T::MoveToRecycleBin, &T::CanMoveToRecycleBin},
        {"UndoMoveToRecycleBin", &T::UndoMoveToRecycleBin, &T::CanUndoMoveToRecycleBin},
        {"TotalSize", &T::TotalSize, &T::CanTotalSize},
        {"Properties", &T::Properties, &T::CanProperties},
        {"SetPriorityToPrimary", &T::SetPriorityToPrimary, &T::CanSetPriorityToPrimary},
        {"SetPriorityToSecondary", &T::SetPriorityToSecondary, &T::CanSetPriorityToSecondary},
        {"RemoveAllUnique", &T::RemoveAllUnique, &T::CanRemoveAllUnique},
    };
    return commands;
}

} // namespace App_scanentries
