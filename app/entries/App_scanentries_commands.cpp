#include "App_scanentries_commands.h"

#include "App_scanentries_trashguard.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>
#include <unordered_map>

namespace App_scanentries {

using App_common::CountToText;
using App_common::EAppError;
using Kiv_dialogs::TMessageRequest;
using Kiv_dynamicarrays::TStringDynArray;

namespace {

TStringDynArray ToArray(const std::vector<std::string>& paths) {
    TStringDynArray array(static_cast<int>(paths.size()));
    std::copy(paths.begin(), paths.end(), array.begin());
    return array;
}

// The process's current directory; empty when it is gone.
std::string CurrentDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr)
            return buffer.data();
        if (errno != ERANGE)
            return {};
        buffer.resize(buffer.size() * 2);
    }
}

std::string Quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

} // namespace

TScanEntriesCommands::TScanEntriesCommands(TScanEntries& entries, TScanEntriesSelection& selection,
                                           Kiv_clipboard::TClipboard& clipboard,
                                           Kiv_dialogs::TDialogs& dialogs,
                                           Kiv_shellfiles::TShell& shell)
    : Entries(entries), Selection(selection), Clipboard(clipboard), Dialogs(dialogs), Shell(shell),
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

void TScanEntriesCommands::Confirm(const std::string& question, bool noByDefault) {
    TMessageRequest request{question, App_common::AppTitle, Kiv_dialogs::miWarning,
                            Kiv_dialogs::mbYesNo};
    if (noByDefault)
        request.DefaultButton = 1;
    if (Dialogs.MessageBox(request) != Kiv_dialogs::mrYes)
        Kiv_framework::Abort();
}

void TScanEntriesCommands::ForEachSelected(const std::string& questionStart,
                                           const std::string& questionEnd,
                                           const std::function<void(const TScanEntry&)>& action) {
    const TIntegerDynArray selected = Selection.GetSelectedIndices();
    if (selected.Length() > 1)
        Confirm(questionStart + CountToText(selected.Length()) + questionEnd);
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
        Confirm("Do you want to remove all the files from the list?", true);
    Entries.Clear();
}

bool TScanEntriesCommands::CanNew() const {
    return true;
}

void TScanEntriesCommands::AddRegularFiles() {
    if (!CanAddRegularFiles())
        Unavailable();
    const auto paths = Dialogs.OpenFiles(AddFilesDialog);
    if (!paths)
        Kiv_framework::Abort();
    AddPaths(ToArray(*paths));
}

bool TScanEntriesCommands::CanAddRegularFiles() const {
    return true;
}

void TScanEntriesCommands::AddDirectoryEntries() {
    if (!CanAddDirectoryEntries())
        Unavailable();
    const std::string current = CurrentDirectory();
    const Kiv_dialogs::TFolderRequest request{
        "Choose a directory.", !current.empty() && Kiv_files::PathExists(current) ? current : ""};
    const auto directory = Dialogs.SelectFolder(request);
    if (!directory)
        Kiv_framework::Abort();
    // Remembered between runs through the system settings. A folder that has just gone
    // cannot be entered, and the add below says so.
    (void)::chdir(directory->c_str());
    AddPaths(TStringDynArray({*directory}));
}

bool TScanEntriesCommands::CanAddDirectoryEntries() const {
    return true;
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
    Confirm("Do you want to remove the " + CountToText(selected.Length()) +
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

bool TScanEntriesCommands::CanSelectAll() const {
    return true;
}

void TScanEntriesCommands::ReverseSelection() {
    if (!CanReverseSelection())
        Unavailable();
    Selection.ReverseSelection();
}

bool TScanEntriesCommands::CanReverseSelection() const {
    return true;
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

bool TScanEntriesCommands::CanSelectFirstInGroup() const {
    return true;
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

bool TScanEntriesCommands::CanSelectCopies() const {
    return true;
}

// ---------------------------------------------------------------------------------------
// The order

void TScanEntriesCommands::SortByPath() {
    if (!CanSortByPath())
        Unavailable();
    Entries.SortByPath();
}

bool TScanEntriesCommands::CanSortByPath() const {
    return true;
}

void TScanEntriesCommands::SortByDirectory() {
    if (!CanSortByDirectory())
        Unavailable();
    Entries.SortByDirectory();
}

bool TScanEntriesCommands::CanSortByDirectory() const {
    return true;
}

void TScanEntriesCommands::SortByName() {
    if (!CanSortByName())
        Unavailable();
    Entries.SortByName();
}

bool TScanEntriesCommands::CanSortByName() const {
    return true;
}

void TScanEntriesCommands::SortByBaseName() {
    if (!CanSortByBaseName())
        Unavailable();
    Entries.SortByBaseName();
}

bool TScanEntriesCommands::CanSortByBaseName() const {
    return true;
}

void TScanEntriesCommands::SortByExtension() {
    if (!CanSortByExtension())
        Unavailable();
    Entries.SortByExtension();
}

bool TScanEntriesCommands::CanSortByExtension() const {
    return true;
}

void TScanEntriesCommands::SortBySize() {
    if (!CanSortBySize())
        Unavailable();
    Entries.SortBySize();
}

bool TScanEntriesCommands::CanSortBySize() const {
    return true;
}

void TScanEntriesCommands::SortByType() {
    if (!CanSortByType())
        Unavailable();
    Entries.SortByType();
}

bool TScanEntriesCommands::CanSortByType() const {
    return true;
}

void TScanEntriesCommands::SortByCreationTime() {
    if (!CanSortByCreationTime())
        Unavailable();
    Entries.SortByCreationTime();
}

bool TScanEntriesCommands::CanSortByCreationTime() const {
    return true;
}

void TScanEntriesCommands::SortByLastWriteTime() {
    if (!CanSortByLastWriteTime())
        Unavailable();
    Entries.SortByLastWriteTime();
}

bool TScanEntriesCommands::CanSortByLastWriteTime() const {
    return true;
}

void TScanEntriesCommands::SortByLastAccessTime() {
    if (!CanSortByLastAccessTime())
        Unavailable();
    Entries.SortByLastAccessTime();
}

bool TScanEntriesCommands::CanSortByLastAccessTime() const {
    return true;
}

void TScanEntriesCommands::SortByAttributes() {
    if (!CanSortByAttributes())
        Unavailable();
    Entries.SortByAttributes();
}

bool TScanEntriesCommands::CanSortByAttributes() const {
    return true;
}

void TScanEntriesCommands::SortByHash() {
    if (!CanSortByHash())
        Unavailable();
    Entries.SortByHash();
}

bool TScanEntriesCommands::CanSortByHash() const {
    return true;
}

void TScanEntriesCommands::SortByPriority() {
    if (!CanSortByPriority())
        Unavailable();
    Entries.SortByPriority();
}

bool TScanEntriesCommands::CanSortByPriority() const {
    return true;
}

void TScanEntriesCommands::SortByGroup() {
    if (!CanSortByGroup())
        Unavailable();
    Entries.SortByGroup();
}

bool TScanEntriesCommands::CanSortByGroup() const {
    return true;
}

void TScanEntriesCommands::ReverseOrder() {
    if (!CanReverseOrder())
        Unavailable();
    Entries.ReverseOrder();
}

bool TScanEntriesCommands::CanReverseOrder() const {
    return true;
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
    ForEachSelected("Do you want to explore ", " directories?", [this](const TScanEntry& entry) {
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
    const TIntegerDynArray selected = Selection.GetSelectedIndices();
    // No by default: Enter twice never moves a last copy.
    Confirm("Do you want to move " + CountToText(selected.Length()) + " files to the recycle bin?",
            true);
    const TTrashGuard guard(Entries, selected);
    ConfirmNoLastCopy(guard);
    // What was moved must always be found again: no move without its record.
    Kiv_shellfiles::TTrashLog log(Shell.TrashLogPath());
    log.Open();
    std::vector<std::string> paths;
    std::vector<const TScanEntry*> items;
    std::unordered_map<std::string, std::size_t> itemOf;
    paths.reserve(static_cast<std::size_t>(selected.Length()));
    items.reserve(paths.capacity());
    for (const int index : selected) {
        items.push_back(&Entries.Item(index));
        paths.push_back(items.back()->Path());
        itemOf.emplace(paths.back(), items.size() - 1);
    }
    std::vector<TTrashedEntry> moved;
    std::vector<bool> went(items.size(), false);
    Kiv_shellfiles::TRecycleHooks hooks;
    // Right before it moves, the file its folder holds must still be the one the list
    // shows, and the copy of its group that stays must still be there unchanged.
    hooks.Check = [&](const std::string& path, const Kiv_files::TFindData& found) {
        const TScanEntry& entry = *items[itemOf.at(path)];
        CheckUnchanged(entry, found);
        if (const TScanEntry* survivor = guard.SurvivorOf(entry.Group()))
            CheckUnchanged(*survivor);
    };
    hooks.Record = [&](const Kiv_shellfiles::TTrashedFile& file) {
        const TScanEntry& entry = *items[itemOf.at(file.Path)];
        log.Record("moved", file, entry.Size(), entry.Hash.Text());
    };
    hooks.Failed = [&](const Kiv_shellfiles::TTrashedFile& file) {
        const TScanEntry& entry = *items[itemOf.at(file.Path)];
        try {
            log.Record("failed", file, entry.Size(), entry.Hash.Text());
        } catch (const Kiv_shellfiles::EShellFileError&) {
            // The file stayed where it was: nothing is lost without this line.
        }
    };
    hooks.Moved = [&](const Kiv_shellfiles::TTrashedFile& file) {
        const std::size_t i = itemOf.at(file.Path);
        const TScanEntry& entry = *items[i];
        went[i] = true;
        moved.push_back({file, selected[static_cast<int>(i)], entry.Priority, entry.Group(),
                         entry.Hash, entry.Size()});
    };
    // The entries of the files that are gone leave the list whatever ends the move: the
    // list never shows a file that went to the trash.
    const auto removeGone = [&] {
        if (!moved.empty())
            Undos.push_back(std::move(moved));
        Kiv_dynamicarrays::TIntegerDynArrayBuilder gone;
        for (std::size_t i = 0; i < items.size(); ++i) {
            const int index = selected[static_cast<int>(i)];
            // The move window is modal, so the list cannot change; should it ever, only
            // the entry that was selected is taken.
            if (index < Entries.Count() && &Entries.Item(index) == items[i] &&
                (went[i] || !Kiv_files::PathExists(paths[i])))
                gone.Add(index);
        }
        RemoveEntries(gone.Extract());
    };
    bool completed = false;
    try {
        completed = Shell.RecycleFiles(paths, hooks);
    } catch (...) {
        removeGone();
        throw;
    }
    removeGone();
    if (!completed)
        Kiv_framework::Abort();
}

void TScanEntriesCommands::ConfirmNoLastCopy(const TTrashGuard& guard) {
    if (guard.FilesWithoutCopy() > 0)
        Confirm("Do you want to move every copy of " + CountToText(guard.FilesWithoutCopy()) +
                    " files to the trash? No copy of them will remain.",
                true);
}

bool TScanEntriesCommands::CanMoveToRecycleBin() const {
    return Selection.SelectedCount() > 0;
}

void TScanEntriesCommands::UndoMoveToRecycleBin() {
    if (!CanUndoMoveToRecycleBin())
        Unavailable();
    Kiv_shellfiles::TTrashLog log(Shell.TrashLogPath());
    log.Open();
    std::vector<TTrashedEntry> move = std::move(Undos.back());
    Undos.pop_back();
    std::sort(move.begin(), move.end(),
              [](const TTrashedEntry& a, const TTrashedEntry& b) { return a.Index < b.Index; });
    std::vector<std::unique_ptr<TScanEntry>> back;
    std::vector<int> places;
    // What could not be put back but is still in the trash: the next undo tries it again.
    std::vector<TTrashedEntry> kept;
    std::string firstError;
    int failed = 0;
    int dropped = 0;
    const auto settle = [&] {
        PutBack(std::move(back), std::move(places));
        if (!kept.empty())
            Undos.push_back(std::move(kept));
    };
    for (std::size_t k = 0; k < move.size(); ++k) {
        const TTrashedEntry& item = move[k];
        Kiv_shellfiles::TRecycleHooks hooks;
        hooks.Record = [&](const Kiv_shellfiles::TTrashedFile& file) {
            log.Record("restored", file, item.Size, item.Hash.Text());
        };
        hooks.Failed = [&](const Kiv_shellfiles::TTrashedFile& file) {
            try {
                log.Record("failed", file, item.Size, item.Hash.Text());
            } catch (const Kiv_shellfiles::EShellFileError&) {
                // The file stayed in the trash: nothing is lost without this line.
            }
        };
        try {
            Kiv_shellfiles::RestoreFromTrash(item.File, hooks);
        } catch (const Kiv_shellfiles::ETrashLogError&) {
            // Nothing more is put back without its record; the rest waits in the trash.
            for (std::size_t rest = k; rest < move.size(); ++rest) {
                kept.push_back(move[rest]);
                kept.back().Index -= dropped;
            }
            settle();
            throw;
        } catch (const Kiv_framework::Exception& error) {
            if (firstError.empty())
                firstError = error.Message();
            ++failed;
            if (Kiv_shellfiles::IsInTrash(item.File)) {
                kept.push_back(item);
                kept.back().Index -= dropped;
            } else {
                ++dropped;
            }
            continue;
        }
        try {
            auto entry = std::make_unique<TScanEntry>(item.File.Path,
                                                      Kiv_files::GetFindData(item.File.Path));
            entry->Priority = item.Priority;
            entry->Hash = item.Hash;
            entry->SetGroup(item.Group);
            back.push_back(std::move(entry));
            // The files that stay in the trash no longer stand before it.
            places.push_back(item.Index - failed);
        } catch (const Kiv_framework::Exception& error) {
            // Back in its place, but gone again before it could be listed.
            if (firstError.empty())
                firstError = error.Message();
            ++failed;
            ++dropped;
        }
    }
    settle();
    if (failed > 1)
        throw EAppError(firstError + " " + CountToText(failed - 1) +
                        " more files could not be put back.");
    if (failed == 1)
        throw EAppError(firstError);
}

bool TScanEntriesCommands::CanUndoMoveToRecycleBin() const {
    return !Undos.empty();
}

void TScanEntriesCommands::PutBack(std::vector<std::unique_ptr<TScanEntry>> entries,
                                   std::vector<int> places) {
    if (entries.empty())
        return;
    const int before = Entries.Count();
    TScanEntryArray batch(static_cast<int>(entries.size()));
    for (std::size_t k = 0; k < entries.size(); ++k)
        batch[static_cast<int>(k)] = entries[k].get();
    Entries.Add(batch);
    for (auto& entry : entries)
        (void)entry.release(); // the list owns them now
    // Appended at the end, then merged into their former places (ascending): the k-th one
    // goes to its place once the entries before it are laid down.
    const int total = Entries.Count();
    std::vector<Kiv_lists::TListReorderRecord> records;
    int kept = 0;
    std::size_t next = 0;
    for (int target = 0; target < total; ++target) {
        const bool restored = next < places.size() && (places[next] <= target || kept == before);
        const int source = restored ? before + static_cast<int>(next++) : kept++;
        if (source != target)
            records.push_back({source, target});
    }
    Kiv_lists::TListReorderRecords reorder(static_cast<int>(records.size()));
    std::copy(records.begin(), records.end(), reorder.begin());
    Entries.Reorder(reorder);
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

bool TScanEntriesCommands::CanDropFiles() const {
    return true;
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
