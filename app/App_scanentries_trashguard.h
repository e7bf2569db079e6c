// What keeps a move to the trash from costing the user a file: a file moves only while it
// is still the one the list shows, and no duplicate group loses its last copy unasked.
#pragma once

#include "App_scanentries.h"

#include <cstdint>
#include <unordered_map>

namespace App_scanentries {

// True while the entry's file is still there as the list shows it: a regular file of the
// entry's size and last write time (and device and inode, where the entry knows them).
bool IsUnchanged(const TScanEntry& entry);
// Raises Kiv_shellfiles::EShellFileError "The file \"%s\" changed after it was added to
// the list." unless IsUnchanged.
void CheckUnchanged(const TScanEntry& entry);

// For each duplicate group among the selected entries, a member that stays: not selected,
// still there and unchanged, and not the same file as a selected one under another name.
// Looking stops at the first such member of a group, so each costs one look at a file.
class TTrashGuard {
public:
    // selected: ascending indexes of the entries about to move.
    TTrashGuard(const TScanEntries& entries, const TIntegerDynArray& selected);

    // How many selected files belong to groups that would keep no copy.
    int FilesWithoutCopy() const { return WithoutCopy; }
    // The member of the group that stays; nullptr for a group without one, or a group
    // number the selection does not touch.
    const TScanEntry* SurvivorOf(std::int32_t group) const;

private:
    std::unordered_map<std::int32_t, const TScanEntry*> Survivors;
    int WithoutCopy = 0;
};

} // namespace App_scanentries
