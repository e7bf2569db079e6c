// The entry collection.
#include "App_scanentries.h"
#include "Kiv_locale.h"

#include <algorithm>
#include <functional>
#include <limits>
#include <numeric>
#include <unordered_map>

namespace App_scanentries {

using Kiv_dynamicarrays::TBooleanDynArray;
using Kiv_dynamicarrays::TIntegerDynArrayBuilder;
using Kiv_lists::TListAlgorithms;

namespace {

[[noreturn]] void IndexError(int index) {
    throw Kiv_framework::ERangeError("List index out of bounds (" + std::to_string(index) + ")");
}

// A set of texts held as views (the entries outlive it), open addressing without a node
// per text: the distinct texts of a sort and the new paths of an add. Ids are given in
// order of first insertion.
class TTextTable {
public:
    static constexpr std::uint32_t None = std::numeric_limits<std::uint32_t>::max();

    explicit TTextTable(std::size_t expected) {
        std::size_t size = 16;
        while (size < 2 * expected)
            size *= 2;
        Slots.assign(size, None);
        Mask = size - 1;
        Texts.reserve(expected);
        Hashes.reserve(expected);
    }

    // The id of the text, added when absent; added tells which.
    std::uint32_t FindOrAdd(std::string_view text, bool& added) {
        const std::size_t hash = std::hash<std::string_view>()(text);
        std::size_t slot = hash & Mask;
        for (;;) {
            const std::uint32_t id = Slots[slot];
            if (id == None)
                break;
            if (Hashes[id] == hash && Texts[id] == text) {
                added = false;
                return id;
            }
            slot = (slot + 1) & Mask;
        }
        if (2 * (Texts.size() + 1) > Slots.size()) {
            Grow();
            added = true;
            return FindOrAdd(text, added);
        }
        const auto id = static_cast<std::uint32_t>(Texts.size());
        Texts.push_back(text);
        Hashes.push_back(hash);
        Slots[slot] = id;
        added = true;
        return id;
    }

    // The id of the text, None when absent.
    std::uint32_t Find(std::string_view text) const {
        const std::size_t hash = std::hash<std::string_view>()(text);
        for (std::size_t slot = hash & Mask;; slot = (slot + 1) & Mask) {
            const std::uint32_t id = Slots[slot];
            if (id == None || (Hashes[id] == hash && Texts[id] == text))
                return id;
        }
    }

    std::size_t Size() const { return Texts.size(); }
    const std::vector<std::string_view>& Items() const { return Texts; }

private:
    void Grow() {
        Slots.assign(Slots.size() * 2, None);
        Mask = Slots.size() - 1;
        for (std::uint32_t id = 0; id < Texts.size(); ++id) {
            std::size_t slot = Hashes[id] & Mask;
            while (Slots[slot] != None)
                slot = (slot + 1) & Mask;
            Slots[slot] = id;
        }
    }

    std::vector<std::uint32_t> Slots;
    std::size_t Mask = 0;
    std::vector<std::string_view> Texts;
    std::vector<std::size_t> Hashes;
};

// Destroys the entries in address order: entries built one after another sit side by
// side, so freeing them in that order touches memory in sequence, however the list was
// ordered (several times faster for large scattered removals).
void DestroyEntries(std::vector<TScanEntry*>& entries) {
    std::sort(entries.begin(), entries.end(), std::less<TScanEntry*>());
    for (TScanEntry* entry : entries)
        delete entry;
    entries.clear();
}

// ---------------------------------------------------------------------------------------
// Sort keys
//
// A sort computes one 64-bit key per entry that orders exactly as the key's comparison of
// the Compare function of that key does (equal keys exactly where the comparison gives 0), then
// sorts the indexes by key with TListAlgorithms::Sort, whose tie-break on the present index is the
// stable order. For the texts, the key is the rank of the entry's text among the distinct texts of
// the list, ranked once by their collation keys.

enum class TTextRule {
    trFileName, // lowered by the file-name rule, then collated (case counts no more)
    trAsIs,     // collated as it is (case counts)
};

using TTextOf = std::function<std::string_view(const TScanEntry&)>;

// Ranks of the entries' texts; entries for which skip answers true get the key
// skippedKey and are not ranked.
std::vector<std::uint64_t> TextRanks(const std::vector<std::unique_ptr<TScanEntry>>& entries,
                                     const TTextOf& textOf, TTextRule rule,
                                     const std::function<bool(const TScanEntry&)>& skip = nullptr,
                                     std::uint64_t skippedKey = 0) {
    const std::size_t count = entries.size();
    constexpr std::uint32_t Skipped = std::numeric_limits<std::uint32_t>::max();
    // The distinct texts, as views into the entries (which outlive this function).
    std::vector<std::uint32_t> textIds(count);
    TTextTable table(std::min<std::size_t>(count, 1 << 12));
    for (std::size_t i = 0; i < count; ++i) {
        const TScanEntry& entry = *entries[i];
        if (skip && skip(entry)) {
            textIds[i] = Skipped;
            continue;
        }
        bool added = false;
        textIds[i] = table.FindOrAdd(textOf(entry), added);
    }
    const std::vector<std::string_view>& texts = table.Items();
    // One collation key per distinct text.
    std::vector<Kiv_locale::TCollationKey> keys;
    keys.reserve(texts.size());
    std::string lowered;
    for (const std::string_view text : texts) {
        if (rule == TTextRule::trFileName) {
            lowered.clear();
            Kiv_locale::AppendLowerFileName(text, lowered);
            keys.emplace_back(lowered);
        } else {
            keys.emplace_back(text);
        }
    }
    std::vector<std::uint32_t> order(texts.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return keys[a].Compare(keys[b]) < 0; });
    std::vector<std::uint64_t> rankOfText(texts.size());
    std::uint64_t rank = 0;
    for (std::size_t k = 0; k < order.size(); ++k) {
        if (k > 0 && keys[order[k - 1]].Compare(keys[order[k]]) != 0)
            ++rank;
        rankOfText[order[k]] = rank;
    }
    std::vector<std::uint64_t> result(count);
    for (std::size_t i = 0; i < count; ++i)
        result[i] = textIds[i] == Skipped ? skippedKey : rankOfText[textIds[i]];
    return result;
}

template <typename KeyOf>
std::vector<std::uint64_t> NumberKeys(const std::vector<std::unique_ptr<TScanEntry>>& entries,
                                      KeyOf keyOf) {
    std::vector<std::uint64_t> keys(entries.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        keys[i] = keyOf(*entries[i]);
    return keys;
}

int CompareKeys(int index1, int index2, void* context) {
    const auto& keys = *static_cast<const std::vector<std::uint64_t>*>(context);
    const std::uint64_t a = keys[static_cast<std::size_t>(index1)];
    const std::uint64_t b = keys[static_cast<std::size_t>(index2)];
    return a < b ? -1 : (a > b ? 1 : 0);
}

std::uint64_t GroupKey(std::int32_t group) {
    constexpr std::uint64_t Largest = std::numeric_limits<std::int32_t>::max();
    if (group >= 1)
        return static_cast<std::uint64_t>(group);
    return group == 0 ? Largest - 1 : Largest;
}

// Archive, hidden, read-only, system: the first differing bit decides, set comes after.
std::uint64_t AttributesKey(std::uint32_t attributes) {
    return ((attributes & Kiv_files::faArchive) ? 8u : 0u) |
           ((attributes & Kiv_files::faHidden) ? 4u : 0u) |
           ((attributes & Kiv_files::faReadOnly) ? 2u : 0u) |
           ((attributes & Kiv_files::faSystem) ? 1u : 0u);
}

} // namespace

TScanEntry& TScanEntries::Item(int index) const {
    if (index < 0 || index >= Count())
        IndexError(index);
    return *Entries[static_cast<std::size_t>(index)];
}

void TScanEntries::DoAdded(const TIntegerDynArray& indexes) {
    OnAdded(this, indexes);
}

void TScanEntries::DoRemoved(const TIntegerDynArray& indexes) {
    OnRemoved(this, indexes);
}

void TScanEntries::DoCleared() {
    OnCleared(this);
}

void TScanEntries::DoReordered(const TListReorderRecords& records) {
    OnReordered(this, records);
}

void TScanEntries::DoChanged(int index) {
    OnChanged(this, index);
}

void TScanEntries::Add(const TScanEntryArray& entries) {
    Append(entries, [] {});
}

void TScanEntries::Append(const TScanEntryArray& entries,
                          const std::function<void()>& changedHands) {
    if (entries.Empty())
        return;
    const TIntegerDynArray same = FindSamePaths(entries);
    if (!same.Empty())
        Remove(same);
    const std::size_t total = Entries.size() + static_cast<std::size_t>(entries.Length());
    if (total > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw Kiv_framework::EInvalidOperation("The list is full.");
    if (Entries.capacity() < total)
        Entries.reserve(total);
    TIntegerDynArray indexes(entries.Length());
    // Nothing below can fail: the entries change hands here.
    for (int k = 0; k < entries.Length(); ++k) {
        indexes[k] = Count();
        Entries.emplace_back(entries[k]);
    }
    changedHands();
    ++FChangeCount;
    DoAdded(indexes);
}

TScanEntryBatch::TScanEntryBatch(std::vector<std::unique_ptr<TScanEntry>> entries)
    : Entries(std::move(entries)) {
    if (Entries.size() > static_cast<std::size_t>(std::numeric_limits<int>::max()))
        throw Kiv_framework::EInvalidOperation("The list is full.");
    Indexes.SetLength(static_cast<int>(Entries.size()));
    for (int i = 0; i < Indexes.Length(); ++i)
        Indexes[i] = i;
}

void TScanEntries::AddBatch(TScanEntryBatch&& batch) {
    if (batch.Entries.empty())
        return;
    if (Entries.empty() && batch.Indexes.Length() == static_cast<int>(batch.Entries.size())) {
        Entries.swap(batch.Entries);
        ++FChangeCount;
        DoAdded(batch.Indexes);
        return;
    }
    TScanEntryArray entries(static_cast<int>(batch.Entries.size()));
    for (int i = 0; i < entries.Length(); ++i)
        entries[i] = batch.Entries[static_cast<std::size_t>(i)].get();
    Append(entries, [&batch]() noexcept {
        for (auto& entry : batch.Entries)
            (void)entry.release();
        batch.Entries.clear();
    });
}

void TScanEntries::Remove(const TIntegerDynArray& indexes) {
    if (indexes.Empty())
        return;
    for (const int index : indexes)
        if (index < 0 || index >= Count())
            IndexError(index);
    // Callers pass ascending, duplicate-free lists; any other list is put in that order
    // for the removal (the event still carries the list as given).
    TIntegerDynArray ordered = indexes;
    if (!std::is_sorted(indexes.begin(), indexes.end()) ||
        std::adjacent_find(indexes.begin(), indexes.end()) != indexes.end()) {
        std::vector<int> values(indexes.begin(), indexes.end());
        std::sort(values.begin(), values.end());
        values.erase(std::unique(values.begin(), values.end()), values.end());
        ordered = Kiv_dynamicarrays::VectorToArray(std::move(values));
    }
    // One pass: take out the removed entries and close up the others behind them; then
    // destroy what was taken out.
    std::vector<TScanEntry*> removed;
    removed.reserve(static_cast<std::size_t>(ordered.Length()));
    std::size_t write = static_cast<std::size_t>(ordered[0]);
    int next = 0;
    for (std::size_t read = write; read < Entries.size(); ++read) {
        if (next < ordered.Length() && static_cast<std::size_t>(ordered[next]) == read) {
            removed.push_back(Entries[read].release());
            ++next;
        } else {
            Entries[write++] = std::move(Entries[read]);
        }
    }
    Entries.resize(write);
    ++FChangeCount;
    DestroyEntries(removed);
    DoRemoved(indexes);
}

void TScanEntries::Clear() {
    if (Entries.empty())
        return;
    std::vector<TScanEntry*> removed;
    removed.reserve(Entries.size());
    for (auto& entry : Entries)
        removed.push_back(entry.release());
    Entries.clear();
    ++FChangeCount;
    DestroyEntries(removed);
    DoCleared();
}

void TScanEntries::SortByKeys(const std::vector<std::uint64_t>& keys) {
    auto context = const_cast<std::vector<std::uint64_t>*>(&keys);
    Reorder(TListAlgorithms::Sort(Count(), CompareKeys, context));
}

void TScanEntries::SortByPath() {
    if (Entries.empty())
        return;
    SortByKeys(TextRanks(
        Entries, [](const TScanEntry& e) { return std::string_view(e.Path()); },
        TTextRule::trFileName));
}

void TScanEntries::SortByDirectory() {
    if (Entries.empty())
        return;
    SortByKeys(TextRanks(
        Entries, [](const TScanEntry& e) { return e.Directory(); }, TTextRule::trFileName));
}

void TScanEntries::SortByName() {
    if (Entries.empty())
        return;
    SortByKeys(TextRanks(
        Entries, [](const TScanEntry& e) { return e.Name(); }, TTextRule::trFileName));
}

void TScanEntries::SortByBaseName() {
    if (Entries.empty())
        return;
    SortByKeys(TextRanks(
        Entries, [](const TScanEntry& e) { return e.BaseName(); }, TTextRule::trFileName));
}

void TScanEntries::SortByExtension() {
    if (Entries.empty())
        return;
    SortByKeys(TextRanks(
        Entries, [](const TScanEntry& e) { return std::string_view(e.Extension()); },
        TTextRule::trFileName));
}

void TScanEntries::SortBySize() {
    if (Entries.empty())
        return;
    SortByKeys(NumberKeys(Entries, [](const TScanEntry& e) { return e.Size(); }));
}

void TScanEntries::SortByType() {
    if (Entries.empty())
        return;
    SortByKeys(TextRanks(
        Entries, [](const TScanEntry& e) { return std::string_view(e.Type()); },
        TTextRule::trAsIs));
}

void TScanEntries::SortByCreationTime() {
    if (Entries.empty())
        return;
    SortByKeys(NumberKeys(Entries, [](const TScanEntry& e) {
        return Kiv_files::FileTimeToUInt64(e.CreationTime());
    }));
}

void TScanEntries::SortByLastWriteTime() {
    if (Entries.empty())
        return;
    SortByKeys(NumberKeys(Entries, [](const TScanEntry& e) {
        return Kiv_files::FileTimeToUInt64(e.LastWriteTime());
    }));
}

void TScanEntries::SortByLastAccessTime() {
    if (Entries.empty())
        return;
    SortByKeys(NumberKeys(Entries, [](const TScanEntry& e) {
        return Kiv_files::FileTimeToUInt64(e.LastAccessTime());
    }));
}

void TScanEntries::SortByAttributes() {
    if (Entries.empty())
        return;
    SortByKeys(
        NumberKeys(Entries, [](const TScanEntry& e) { return AttributesKey(e.Attributes()); }));
}

void TScanEntries::SortByHash() {
    if (Entries.empty())
        return;
    // Empty hashes after every other; the others collated ignoring case. The texts are
    // made once for the sort: a hash keeps only its value.
    std::unordered_map<const TScanEntry*, std::string> texts;
    texts.reserve(Entries.size());
    for (const auto& entry : Entries)
        if (!entry->Hash.empty())
            texts.emplace(entry.get(), entry->Hash.Text());
    SortByKeys(TextRanks(
        Entries,
        [&texts](const TScanEntry& e) {
            const auto found = texts.find(&e);
            return found == texts.end() ? std::string_view() : std::string_view(found->second);
        },
        TTextRule::trFileName, [](const TScanEntry& e) { return e.Hash.empty(); },
        std::numeric_limits<std::uint64_t>::max()));
}

void TScanEntries::SortByPriority() {
    if (Entries.empty())
        return;
    // PriorityOrdinal raises for a bad value before anything moves.
    SortByKeys(NumberKeys(Entries, [](const TScanEntry& e) {
        return static_cast<std::uint64_t>(PriorityOrdinal(e.Priority));
    }));
}

void TScanEntries::SortByGroup() {
    if (Entries.empty())
        return;
    SortByKeys(NumberKeys(Entries, [](const TScanEntry& e) { return GroupKey(e.Group()); }));
}

void TScanEntries::ReverseOrder() {
    if (Entries.empty())
        return;
    Reorder(TListAlgorithms::Reverse(Count()));
}

void TScanEntries::MoveUp(const TIntegerDynArray& indexes) {
    if (Entries.empty())
        return;
    Reorder(TListAlgorithms::Slide(Count(), indexes, -1));
}

void TScanEntries::MoveDown(const TIntegerDynArray& indexes) {
    if (Entries.empty())
        return;
    Reorder(TListAlgorithms::Slide(Count(), indexes, 1));
}

void TScanEntries::Reorder(const TListReorderRecords& records) {
    if (records.Empty())
        return;
    Kiv_lists::ReorderList(Entries, records);
    DoReordered(records);
}

int TScanEntries::IndexOf(const TScanEntry* entry) const {
    for (std::size_t i = 0; i < Entries.size(); ++i)
        if (Entries[i].get() == entry)
            return static_cast<int>(i);
    return -1;
}

TIntegerDynArray TScanEntries::FindSamePaths(const TScanEntryArray& entries) const {
    if (entries.Empty() || Entries.empty())
        return {};
    // The new paths in a hash set (path identity is byte for byte on Linux); each new
    // path matches at most one present entry, so the visit stops once all were found.
    TTextTable paths(static_cast<std::size_t>(entries.Length()));
    for (const TScanEntry* entry : entries) {
        bool added = false;
        paths.FindOrAdd(entry->Path(), added);
    }
    TIntegerDynArrayBuilder builder;
    builder.SetCapacity(static_cast<int>(std::min<std::size_t>(paths.Size(), Entries.size())));
    std::size_t found = 0;
    for (std::size_t i = 0; i < Entries.size() && found < paths.Size(); ++i)
        if (paths.Find(Entries[i]->Path()) != TTextTable::None) {
            builder.Add(static_cast<int>(i));
            ++found;
        }
    return builder.Extract();
}

TIntegerDynArray TScanEntries::IndicesWhere(int count, bool (*test)(const TScanEntry&)) const {
    TIntegerDynArrayBuilder builder;
    builder.SetCapacity(count);
    for (std::size_t i = 0; i < Entries.size(); ++i)
        if (test(*Entries[i]))
            builder.Add(static_cast<int>(i));
    return builder.Extract();
}

TIntegerDynArray TScanEntries::GetDuplicateIndices() const {
    return IndicesWhere(GetDuplicateCount(), [](const TScanEntry& e) { return e.Group() >= 1; });
}

TIntegerDynArray TScanEntries::GetUniqueIndices() const {
    return IndicesWhere(GetUniqueCount(), [](const TScanEntry& e) { return e.Group() == 0; });
}

int TScanEntries::GetDuplicateCount() const {
    return Count() - CountGroup(-1) - CountGroup(0);
}

int TScanEntries::GetUniqueCount() const {
    return CountGroup(0);
}

int TScanEntries::GetGroupCount() const {
    std::int32_t greatest = 0;
    for (const auto& entry : Entries)
        greatest = std::max(greatest, entry->Group());
    if (greatest == 0)
        return 0;
    // A scan numbers its groups from 1 without gaps, so the flags fit the list; numbers
    // set by hand far beyond it are counted by sorting instead of by a huge flag array.
    if (static_cast<std::int64_t>(greatest) <= 2 * static_cast<std::int64_t>(Count()) + 1) {
        TBooleanDynArray flags(greatest + 1);
        int result = 0;
        for (const auto& entry : Entries) {
            const std::int32_t group = entry->Group();
            if (group >= 1 && !flags[group]) {
                flags[group] = true;
                ++result;
            }
        }
        return result;
    }
    std::vector<std::int32_t> groups;
    for (const auto& entry : Entries)
        if (entry->Group() >= 1)
            groups.push_back(entry->Group());
    std::sort(groups.begin(), groups.end());
    return static_cast<int>(std::unique(groups.begin(), groups.end()) - groups.begin());
}

int TScanEntries::CountPriority(TScanPriority priority) const {
    int count = 0;
    for (const auto& entry : Entries)
        if (entry->Priority == priority)
            ++count;
    return count;
}

int TScanEntries::CountGroup(std::int32_t group) const {
    if (group < 0)
        group = -1;
    int count = 0;
    for (const auto& entry : Entries)
        if (entry->Group() == group)
            ++count;
    return count;
}

void TScanEntries::EntryChanged(int index) {
    ++FChangeCount;
    DoChanged(index);
}

} // namespace App_scanentries
