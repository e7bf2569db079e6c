#include "App_scanentries_trashguard.h"

#include "Kiv_files.h"
#include "Kiv_shellfiles.h"

#include <set>
#include <utility>
#include <vector>

namespace App_scanentries {

namespace {

using TFile = std::pair<std::uint64_t, std::uint64_t>;

TFile IdentityOf(const TScanEntry& entry) {
    return {entry.Device(), entry.Inode()};
}

bool Known(const TFile& file) {
    return file.first != 0 || file.second != 0;
}

} // namespace

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

bool IsUnchanged(const TScanEntry& entry) {
    try {
        return IsUnchanged(entry, Kiv_files::GetFindData(entry.Path()));
    } catch (const Kiv_files::EFileError&) {
        return false; // gone
    }
}

void CheckUnchanged(const TScanEntry& entry, const Kiv_files::TFindData& now) {
    if (!IsUnchanged(entry, now))
        throw Kiv_shellfiles::EShellFileError("The file \"" + entry.Path() +
                                              "\" changed after it was added to the list.");
}

void CheckUnchanged(const TScanEntry& entry) {
    if (!IsUnchanged(entry))
        throw Kiv_shellfiles::EShellFileError("The file \"" + entry.Path() +
                                              "\" changed after it was added to the list.");
}

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

} // namespace App_scanentries
