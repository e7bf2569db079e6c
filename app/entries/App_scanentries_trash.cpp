#include "App_scanentries_trash.h"

#include "App_common.h"
#include "Kiv_files.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>

namespace App_scanentries {

using App_common::CountToText;
using Kiv_shellfiles::TTrashedFile;

namespace {

// ---------------------------------------------------------------------------------------
// Whether a file is still the one the list shows

using TFile = std::pair<std::uint64_t, std::uint64_t>;

TFile IdentityOf(const TScanEntry& entry) {
    return {entry.Device(), entry.Inode()};
}

bool Known(const TFile& file) {
    return file.first != 0 || file.second != 0;
}

// True while the record shows the entry's file as the list shows it: a regular file of
// the entry's size and last write time, and, where the entry knows them, of its device,
// inode and change time (which no program can set back, so a file rewritten with its last
// write time put back, or deleted and made again, is told apart).
bool IsUnchanged(const TScanEntry& entry, const Kiv_files::TFindData& now) {
    const std::uint32_t kinds = Kiv_files::faDirectory | Kiv_files::faSymLink | Kiv_files::faDevice;
    if ((Kiv_files::FindDataAttributes(now) & kinds) != 0)
        return false;
    const TFile listed = IdentityOf(entry);
    if (Known(listed) && listed != TFile{now.Device, now.Inode})
        return false;
    if (entry.ChangeTime() != 0 && entry.ChangeTime() != now.ChangeTime)
        return false;
    return Kiv_files::FindDataSize(now) == entry.Size() &&
           Kiv_files::FindDataLastWriteTime(now) == entry.LastWriteTime();
}

// The same for what the entry's path names now; false when it names nothing.
bool IsUnchanged(const TScanEntry& entry) {
    try {
        return IsUnchanged(entry, Kiv_files::GetFindData(entry.Path()));
    } catch (const Kiv_files::EFileError&) {
        return false; // gone
    }
}

[[noreturn]] void ChangedError(const TScanEntry& entry) {
    throw Kiv_shellfiles::EShellFileError("The file \"" + entry.Path() +
                                          "\" changed after it was added to the list.");
}

// ---------------------------------------------------------------------------------------
// TTrashGuard

// For each duplicate group among the selected entries, a member that stays: not selected,
// still there and unchanged, and not the same file as a selected one under another name.
// Looking stops at the first such member of a group, so each costs one look at a file.
class TTrashGuard {
public:
    // selected: ascending indexes of the entries about to move.
    TTrashGuard(const TScanEntries& entries, const TIntegerDynArray& selected);

    // How many selected files would leave no copy behind: those of groups that would keep
    // none, and the unique ones (a scan found no copy of them). Entries never scanned are
    // not counted.
    int FilesWithoutCopy() const { return WithoutCopy; }
    // The member of the group that stays; nullptr for a group without one, or a group
    // number the selection does not touch.
    const TScanEntry* SurvivorOf(std::int32_t group) const;

private:
    std::unordered_map<std::int32_t, const TScanEntry*> Survivors;
    int WithoutCopy = 0;
};

TTrashGuard::TTrashGuard(const TScanEntries& entries, const TIntegerDynArray& selected) {
    std::vector<bool> isSelected(static_cast<std::size_t>(entries.Count()), false);
    std::set<TFile> selectedFiles;
    std::unordered_map<std::int32_t, int> movingPerGroup;
    for (const int index : selected) {
        isSelected[static_cast<std::size_t>(index)] = true;
        const TScanEntry& entry = entries.Item(index);
        if (const TFile file = IdentityOf(entry); Known(file))
            selectedFiles.insert(file);
        // A unique file is its own last copy; one never scanned is the user's own choice.
        if (entry.Group() >= 1)
            ++movingPerGroup[entry.Group()];
        else if (entry.Group() == 0)
            ++WithoutCopy;
    }
    for (const auto& [group, moving] : movingPerGroup)
        Survivors[group] = nullptr;
    for (int i = 0; i < entries.Count(); ++i) {
        const TScanEntry& entry = entries.Item(i);
        const auto group = Survivors.find(entry.Group());
        if (isSelected[static_cast<std::size_t>(i)] || group == Survivors.end() || group->second)
            continue;
        if (const TFile file = IdentityOf(entry); Known(file) && selectedFiles.contains(file))
            continue; // the same file as one that moves: no copy at all
        if (IsUnchanged(entry))
            group->second = &entry;
    }
    for (const auto& [group, survivor] : Survivors)
        if (!survivor)
            WithoutCopy += movingPerGroup[group];
}

const TScanEntry* TTrashGuard::SurvivorOf(std::int32_t group) const {
    const auto found = Survivors.find(group);
    return found == Survivors.end() ? nullptr : found->second;
}

// ---------------------------------------------------------------------------------------
// TTrashMove

// One move of the selected entries' files: what moves, the checks and records around each
// file, what went and which entries leave the list.
class TTrashMove {
public:
    // None of the references is owned; the list must not change while the move lives.
    TTrashMove(TScanEntries& entries, const TIntegerDynArray& selected, const TTrashGuard& guard,
               Kiv_shellfiles::TTrashLog& log);

    const std::vector<std::string>& Paths() const { return FPaths; }
    Kiv_shellfiles::TRecycleHooks Hooks();
    // The files that went, in the order they went; taken once.
    std::vector<TTrashedEntry> TakeMoved() { return std::move(Moved); }
    // Ascending indexes of the selected entries whose files went or are gone.
    TIntegerDynArray GoneIndexes() const;

private:
    std::size_t IndexOf(const std::string& path) const { return ItemOf.at(path); }
    // Right before a file moves, it must still be the one the list shows, and the copy of
    // its group that stays must still be there unchanged.
    void Check(const std::string& path, const Kiv_files::TFindData& found) const;
    void Record(const TTrashedFile& file);
    void Failed(const TTrashedFile& file);
    void Went(const TTrashedFile& file);

    TScanEntries& Entries;
    const TIntegerDynArray Selected;
    const TTrashGuard& Guard;
    Kiv_shellfiles::TTrashLog& Log;
    std::vector<std::string> FPaths;
    std::vector<const TScanEntry*> Items;
    std::unordered_map<std::string, std::size_t> ItemOf;
    std::vector<bool> Gone;
    std::vector<TTrashedEntry> Moved;
};

TTrashMove::TTrashMove(TScanEntries& entries, const TIntegerDynArray& selected,
                       const TTrashGuard& guard, Kiv_shellfiles::TTrashLog& log)
    : Entries(entries), Selected(selected), Guard(guard), Log(log),
      Gone(static_cast<std::size_t>(selected.Length()), false) {
    FPaths.reserve(Gone.size());
    Items.reserve(Gone.size());
    for (const int index : selected) {
        Items.push_back(&Entries.Item(index));
        FPaths.push_back(Items.back()->Path());
        ItemOf.emplace(FPaths.back(), Items.size() - 1);
    }
}

Kiv_shellfiles::TRecycleHooks TTrashMove::Hooks() {
    Kiv_shellfiles::TRecycleHooks hooks;
    hooks.Check = [this](const std::string& path, const Kiv_files::TFindData& found) {
        Check(path, found);
    };
    hooks.Record = [this](const TTrashedFile& file) { Record(file); };
    hooks.Failed = [this](const TTrashedFile& file) { Failed(file); };
    hooks.Moved = [this](const TTrashedFile& file) { Went(file); };
    return hooks;
}

void TTrashMove::Check(const std::string& path, const Kiv_files::TFindData& found) const {
    const TScanEntry& entry = *Items[IndexOf(path)];
    if (!IsUnchanged(entry, found))
        ChangedError(entry);
    if (const TScanEntry* survivor = Guard.SurvivorOf(entry.Group());
        survivor && !IsUnchanged(*survivor))
        ChangedError(*survivor);
}

void TTrashMove::Record(const TTrashedFile& file) {
    const TScanEntry& entry = *Items[IndexOf(file.Path)];
    Log.Record("moved", file, entry.Size(), entry.Hash.Text());
}

void TTrashMove::Failed(const TTrashedFile& file) {
    const TScanEntry& entry = *Items[IndexOf(file.Path)];
    try {
        Log.Record("failed", file, entry.Size(), entry.Hash.Text());
    } catch (const Kiv_shellfiles::EShellFileError&) {
        // The file stayed where it was: nothing is lost without this line.
    }
}

void TTrashMove::Went(const TTrashedFile& file) {
    const std::size_t i = IndexOf(file.Path);
    const TScanEntry& entry = *Items[i];
    Gone[i] = true;
    Moved.push_back({file, Selected[static_cast<int>(i)], entry.Priority, entry.Group(), entry.Hash,
                     entry.Size()});
}

TIntegerDynArray TTrashMove::GoneIndexes() const {
    Kiv_dynamicarrays::TIntegerDynArrayBuilder gone;
    for (std::size_t i = 0; i < Items.size(); ++i) {
        const int index = Selected[static_cast<int>(i)];
        // The move window is modal, so the list cannot change; should it ever, only the
        // entry that was selected is taken.
        if (index < Entries.Count() && &Entries.Item(index) == Items[i] &&
            (Gone[i] || !Kiv_files::PathExists(FPaths[i])))
            gone.Add(index);
    }
    return gone.Extract();
}

// ---------------------------------------------------------------------------------------
// TTrashUndo

// Puts the files of one move back, in list order, and their entries with them.
class TTrashUndo {
public:
    TTrashUndo(TScanEntries& entries, std::vector<TTrashedEntry> move,
               Kiv_shellfiles::TTrashLog& log, std::function<void(const std::string&)> onPutBack);

    // Puts back what can be, then lists the entries of the files that are back. A log that
    // cannot be written stops it at once (ETrashLogError, the rest kept for the next undo).
    void Run();
    // What could not be put back but is still in the trash, for the next undo.
    std::vector<TTrashedEntry> TakeKept() { return std::move(Kept); }
    // Raises EAppError naming the first file that could not be put back, and how many more.
    void ReportFailures() const;

private:
    // The file as it was right after it was put back; nothing when it stays where it is.
    std::optional<Kiv_shellfiles::TFileStamp> Restore(const TTrashedEntry& item);
    void Relist(const TTrashedEntry& item, const Kiv_shellfiles::TFileStamp& back);
    void Keep(const TTrashedEntry& item);
    void Fail(const Kiv_framework::Exception& error);
    // Inserts the entries of the files that are back at their former places.
    void PutBack();

    TScanEntries& Entries;
    std::vector<TTrashedEntry> Move;
    Kiv_shellfiles::TTrashLog& Log;
    std::function<void(const std::string&)> OnPutBack;
    std::vector<std::unique_ptr<TScanEntry>> Back;
    std::vector<int> Places;
    std::vector<TTrashedEntry> Kept;
    std::string FirstError;
    int FailedCount = 0;
    // The files before the present one that are neither back nor in the trash.
    int Dropped = 0;
};

TTrashUndo::TTrashUndo(TScanEntries& entries, std::vector<TTrashedEntry> move,
                       Kiv_shellfiles::TTrashLog& log,
                       std::function<void(const std::string&)> onPutBack)
    : Entries(entries), Move(std::move(move)), Log(log), OnPutBack(std::move(onPutBack)) {
    std::sort(Move.begin(), Move.end(),
              [](const TTrashedEntry& a, const TTrashedEntry& b) { return a.Index < b.Index; });
}

void TTrashUndo::Run() {
    for (std::size_t k = 0; k < Move.size(); ++k) {
        try {
            if (const auto back = Restore(Move[k]))
                Relist(Move[k], *back);
        } catch (const Kiv_shellfiles::ETrashLogError&) {
            // Nothing more is put back without its record; the rest waits in the trash.
            for (std::size_t rest = k; rest < Move.size(); ++rest)
                Keep(Move[rest]);
            PutBack();
            throw;
        }
    }
    PutBack();
}

std::optional<Kiv_shellfiles::TFileStamp> TTrashUndo::Restore(const TTrashedEntry& item) {
    Kiv_shellfiles::TRecycleHooks hooks;
    hooks.Record = [&](const TTrashedFile& file) {
        Log.Record("restored", file, item.Size, item.Hash.Text());
    };
    hooks.Failed = [&](const TTrashedFile& file) {
        try {
            Log.Record("failed", file, item.Size, item.Hash.Text());
        } catch (const Kiv_shellfiles::EShellFileError&) {
            // The file stayed in the trash: nothing is lost without this line.
        }
    };
    try {
        return Kiv_shellfiles::RestoreFromTrash(item.File, hooks);
    } catch (const Kiv_shellfiles::ETrashLogError&) {
        throw;
    } catch (const Kiv_framework::Exception& error) {
        Fail(error);
        if (Kiv_shellfiles::IsInTrash(item.File))
            Keep(item);
        else
            ++Dropped;
        return std::nullopt;
    }
}

void TTrashUndo::Relist(const TTrashedEntry& item, const Kiv_shellfiles::TFileStamp& back) {
    if (OnPutBack)
        OnPutBack(item.File.Path);
    try {
        const Kiv_files::TFindData found = Kiv_files::GetFindData(item.File.Path);
        auto entry = std::make_unique<TScanEntry>(item.File.Path, found);
        entry->Priority = item.Priority;
        // The hash and the group are the moved file's: a file that is no longer the one put
        // back (another in its place, or this one written since) is listed as unscanned,
        // never as a copy it may not be. The rename back changed the change time, so the
        // moved file is known by its device, inode and size, and unchanged since by the
        // change time it had right after the rename.
        const Kiv_shellfiles::TFileStamp& moved = item.File.Trashed;
        const Kiv_shellfiles::TFileStamp now{found.Device, found.Inode,
                                             Kiv_files::FindDataSize(found), found.ChangeTime};
        if (back.Known() && now == back && back.Device == moved.Device &&
            back.Inode == moved.Inode && back.Size == moved.Size) {
            entry->Hash = item.Hash;
            entry->SetGroup(item.Group);
        }
        Back.push_back(std::move(entry));
        // The files that stay in the trash no longer stand before it.
        Places.push_back(item.Index - FailedCount);
    } catch (const Kiv_framework::Exception& error) {
        // Back in its place, but gone again before it could be listed.
        Fail(error);
        ++Dropped;
    }
}

void TTrashUndo::Keep(const TTrashedEntry& item) {
    Kept.push_back(item);
    Kept.back().Index -= Dropped;
}

void TTrashUndo::Fail(const Kiv_framework::Exception& error) {
    if (FirstError.empty())
        FirstError = error.Message();
    ++FailedCount;
}

void TTrashUndo::ReportFailures() const {
    if (FailedCount > 1)
        throw App_common::EAppError(FirstError + " " + CountToText(FailedCount - 1) +
                                    " more files could not be put back.");
    if (FailedCount == 1)
        throw App_common::EAppError(FirstError);
}

void TTrashUndo::PutBack() {
    if (Back.empty())
        return;
    const int before = Entries.Count();
    TScanEntryArray batch(static_cast<int>(Back.size()));
    for (std::size_t k = 0; k < Back.size(); ++k)
        batch[static_cast<int>(k)] = Back[k].get();
    Entries.Add(batch);
    for (auto& entry : Back)
        (void)entry.release(); // the list owns them now
    Back.clear();
    // Appended at the end, then merged into their former places (ascending): the k-th one
    // goes to its place once the entries before it are laid down.
    const int total = Entries.Count();
    std::vector<Kiv_lists::TListReorderRecord> records;
    int kept = 0;
    std::size_t next = 0;
    for (int target = 0; target < total; ++target) {
        const bool restored = next < Places.size() && (Places[next] <= target || kept == before);
        const int source = restored ? before + static_cast<int>(next++) : kept++;
        if (source != target)
            records.push_back({source, target});
    }
    Entries.Reorder(Kiv_dynamicarrays::VectorToArray(std::move(records)));
}

} // namespace

// ---------------------------------------------------------------------------------------
// TTrashMoves

TTrashMoves::TTrashMoves(TScanEntries& entries, Kiv_dialogs::TDialogs& dialogs,
                         Kiv_shellfiles::TShell& shell)
    : Entries(entries), Dialogs(dialogs), Shell(shell) {}

void TTrashMoves::Move(const TIntegerDynArray& selected) {
    // No by default: Enter twice never moves a last copy.
    App_common::Confirm(
        Dialogs, "Do you want to move " + CountToText(selected.Length()) + " files to the trash?",
        true);
    const TTrashGuard guard(Entries, selected);
    if (guard.FilesWithoutCopy() > 0)
        App_common::Confirm(Dialogs,
                            "Do you want to move every copy of " +
                                CountToText(guard.FilesWithoutCopy()) +
                                " files to the trash? No copy of them will remain.",
                            true);
    // What was moved must always be found again: no move without its record.
    Kiv_shellfiles::TTrashLog log(Shell.TrashLogPath());
    log.Open();
    TTrashMove move(Entries, selected, guard, log);
    // The entries of the files that are gone leave the list whatever ends the move: the
    // list never shows a file that went to the trash.
    const auto settle = [&] {
        if (std::vector<TTrashedEntry> moved = move.TakeMoved(); !moved.empty())
            Undos.push_back(std::move(moved));
        Entries.Remove(move.GoneIndexes());
    };
    bool completed = false;
    try {
        completed = Shell.RecycleFiles(move.Paths(), move.Hooks());
    } catch (...) {
        settle();
        throw;
    }
    settle();
    if (!completed)
        Kiv_framework::Abort();
}

void TTrashMoves::Undo() {
    Kiv_shellfiles::TTrashLog log(Shell.TrashLogPath());
    log.Open();
    TTrashUndo undo(Entries, std::move(Undos.back()), log, OnPutBack);
    Undos.pop_back();
    const auto settle = [&] {
        if (std::vector<TTrashedEntry> kept = undo.TakeKept(); !kept.empty())
            Undos.push_back(std::move(kept));
    };
    try {
        undo.Run();
    } catch (...) {
        settle();
        throw;
    }
    settle();
    undo.ReportFailures();
}

} // namespace App_scanentries
