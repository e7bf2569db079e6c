// What keeps a move to the trash from costing the user a file: a file moves only while it
// is still the one the list shows, and no file loses its last copy unasked.
#pragma once

#include "App_scanentries.h"
#include "Kiv_files.h"

#include <cstdint>
#include <unordered_map>

namespace App_scanentries {

// True while the record shows the entry's file as the list shows it: a regular file of
// the entry's size and last write time, and, where the entry knows them, of its device,
// inode and change time (which no program can set back, so a file rewritten with its last
// write time put back, or deleted and made again, is told apart).
bool IsUnchanged(const TScanEntry& entry, const Kiv_files::TFindData& now);
// The same for what the entry's path names now; false when it names nothing.
bool IsUnchanged(const TScanEntry& entry);
// Raise Kiv_shellfiles::EShellFileError "The file \"%s\" changed after it was added to the
// list." unless IsUnchanged.
void CheckUnchanged(const TScanEntry& entry, const Kiv_files::TFindData& now);
void CheckUnchanged(const TScanEntry& entry);

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

} // namespace App_scanentries
