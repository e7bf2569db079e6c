// The path list: an ordered string list of paths, compared byte for byte.
#include "Kiv_files.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string>
#include <utility>

namespace Kiv_files {

namespace {

// References per block after a sort or a split; a block splits when it grows past twice
// this. References are small and trivially copyable, so an insert moves a few kilobytes
// at most.
constexpr std::size_t BlockLoad = 512;

// The order of CompareStrings on raw bytes: unsigned, then the shorter first.
inline int CompareBytes(const char* a, std::size_t aSize, const char* b, std::size_t bSize) {
    const int c = std::memcmp(a, b, std::min(aSize, bSize));
    if (c != 0)
        return c < 0 ? -1 : 1;
    return aSize < bSize ? -1 : (aSize > bSize ? 1 : 0);
}

} // namespace

TPathList::~TPathList() {
    FreeNodes();
}

TPathList::TPathList(const TPathList& other) : TStringList(other) {
    CopyFrom(other);
}

TPathList& TPathList::operator=(const TPathList& other) {
    if (this != &other) {
        TPathList copy(other);
        *this = std::move(copy);
    }
    return *this;
}

TPathList::TPathList(TPathList&& other) noexcept
    : TStringList(other), Blocks(std::move(other.Blocks)), Index(std::move(other.Index)),
      IndexValid(other.IndexValid), InOrder(other.InOrder), Total(other.Total) {
    other.Blocks.clear();
    other.Index.clear();
    other.IndexValid = false;
    other.InOrder = true;
    other.Total = 0;
}

TPathList& TPathList::operator=(TPathList&& other) noexcept {
    if (this != &other) {
        FreeNodes();
        Sorted = other.Sorted;
        CaseSensitive = other.CaseSensitive;
        Duplicates = other.Duplicates;
        Blocks = std::move(other.Blocks);
        Index = std::move(other.Index);
        IndexValid = other.IndexValid;
        InOrder = other.InOrder;
        Total = other.Total;
        other.Blocks.clear();
        other.Index.clear();
        other.IndexValid = false;
        other.InOrder = true;
        other.Total = 0;
    }
    return *this;
}

void TPathList::CopyFrom(const TPathList& other) {
    try {
        Blocks.reserve(other.Blocks.size());
        for (const auto& block : other.Blocks) {
            Blocks.emplace_back();
            TBlock& copy = Blocks.back();
            copy.reserve(block.capacity());
            for (const auto& ref : block) {
                auto node = std::make_unique<TNode>(TNode{ref.Node->Text, ref.Node->Object});
                copy.push_back(TRef{node->Text.data(), node->Text.size(), node.get()});
                node.release();
                ++Total;
            }
        }
    } catch (...) {
        FreeNodes();
        Blocks.clear();
        Total = 0;
        throw;
    }
    InOrder = other.InOrder;
    IndexValid = false;
}

void TPathList::FreeNodes() noexcept {
    for (auto& block : Blocks)
        for (auto& ref : block)
            delete ref.Node;
}

int TPathList::CompareStrings(const std::string& a, const std::string& b) const {
    return CompareBytes(a.data(), a.size(), b.data(), b.size());
}

void TPathList::CheckIndex(int index) const {
    if (index < 0 || index >= Total)
        throw Kiv_framework::ERangeError("List index out of bounds (" + std::to_string(index) +
                                         ")");
}

void TPathList::EnsureOrder() const {
    if (Sorted && !InOrder)
        SortItems();
}

void TPathList::SortItems() const {
    std::vector<TRef> all;
    all.reserve(static_cast<std::size_t>(Total));
    for (const auto& block : Blocks)
        all.insert(all.end(), block.begin(), block.end());
    std::stable_sort(all.begin(), all.end(), [](const TRef& a, const TRef& b) {
        return CompareBytes(a.Data, a.Size, b.Data, b.Size) < 0;
    });
    std::vector<TBlock> blocks;
    blocks.reserve(all.size() / BlockLoad + 1);
    for (std::size_t start = 0; start < all.size(); start += BlockLoad) {
        const std::size_t end = std::min(all.size(), start + BlockLoad);
        blocks.emplace_back();
        blocks.back().reserve(2 * BlockLoad + 1);
        blocks.back().assign(all.begin() + static_cast<std::ptrdiff_t>(start),
                             all.begin() + static_cast<std::ptrdiff_t>(end));
    }
    Blocks = std::move(blocks);
    InOrder = true;
    IndexValid = false;
}

void TPathList::Sort() {
    if (!InOrder)
        SortItems();
}

void TPathList::RebuildIndex() const {
    const std::size_t count = Blocks.size();
    Index.assign(count + 1, 0);
    for (std::size_t i = 1; i <= count; ++i) {
        Index[i] += static_cast<int>(Blocks[i - 1].size());
        const std::size_t parent = i + (i & (~i + 1));
        if (parent <= count)
            Index[parent] += Index[i];
    }
    IndexValid = true;
}

void TPathList::IndexAdd(std::size_t block, int delta) const {
    if (!IndexValid)
        return;
    const std::size_t count = Blocks.size();
    for (std::size_t i = block + 1; i <= count; i += i & (~i + 1))
        Index[i] += delta;
}

int TPathList::IndexPrefix(std::size_t block) const {
    if (!IndexValid)
        RebuildIndex();
    int sum = 0;
    for (std::size_t i = block; i > 0; i -= i & (~i + 1))
        sum += Index[i];
    return sum;
}

TPathList::TPlace TPathList::PlaceOfIndex(int index) const {
    if (!IndexValid)
        RebuildIndex();
    // Fenwick descent: the last block that starts at or before index (no block is empty).
    const std::size_t count = Blocks.size();
    std::size_t step = 1;
    while (step * 2 <= count)
        step *= 2;
    std::size_t position = 0;
    int rest = index;
    for (; step > 0; step /= 2) {
        if (position + step <= count && Index[position + step] <= rest) {
            position += step;
            rest -= Index[position];
        }
    }
    return {position, static_cast<std::size_t>(rest)};
}

TPathList::TPlace TPathList::LowerBound(const std::string& text, bool& found) const {
    found = false;
    if (Blocks.empty())
        return {0, 0};
    const char* data = text.data();
    const std::size_t size = text.size();
    // The first block whose last line is not less than text.
    std::size_t low = 0;
    std::size_t high = Blocks.size();
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        const TRef& last = Blocks[middle].back();
        if (CompareBytes(last.Data, last.Size, data, size) < 0)
            low = middle + 1;
        else
            high = middle;
    }
    if (low == Blocks.size())
        return {low - 1, Blocks[low - 1].size()};
    const TBlock& block = Blocks[low];
    const auto place = std::lower_bound(
        block.begin(), block.end(), text, [](const TRef& ref, const std::string& value) {
            return CompareBytes(ref.Data, ref.Size, value.data(), value.size()) < 0;
        });
    found = place != block.end() && CompareBytes(place->Data, place->Size, data, size) == 0;
    return {low, static_cast<std::size_t>(place - block.begin())};
}

int TPathList::IndexOfPlace(const TPlace& place) const {
    return IndexPrefix(place.Block) + static_cast<int>(place.Offset);
}

void TPathList::InsertAt(const TPlace& place, const std::string& text, void* object) {
    if (Total == std::numeric_limits<int>::max())
        throw Kiv_framework::EInvalidOperation("The list is full.");
    if (Blocks.empty()) {
        TBlock first;
        first.reserve(2 * BlockLoad + 1);
        Blocks.push_back(std::move(first));
        IndexValid = false;
    }
    TBlock& block = Blocks[place.Block];
    block.reserve(block.size() + 1); // may throw: nothing changed yet
    auto node = std::make_unique<TNode>(TNode{text, object});
    block.insert(block.begin() + static_cast<std::ptrdiff_t>(place.Offset),
                 TRef{node->Text.data(), node->Text.size(), node.get()});
    node.release();
    ++Total;
    IndexAdd(place.Block, 1);
    if (block.size() > 2 * BlockLoad) {
        try {
            TBlock tail;
            tail.reserve(2 * BlockLoad + 1);
            tail.assign(block.begin() + BlockLoad, block.end());
            Blocks.insert(Blocks.begin() + static_cast<std::ptrdiff_t>(place.Block) + 1,
                          std::move(tail));
        } catch (...) {
            return; // out of memory for the split: the block simply stays large
        }
        TBlock& head = Blocks[place.Block];
        head.erase(head.begin() + BlockLoad, head.end());
        IndexValid = false;
    }
}

int TPathList::Add(const std::string& text, void* object) {
    if (!Sorted) {
        bool stillInOrder = InOrder;
        TPlace end{0, 0};
        if (!Blocks.empty()) {
            const TRef& last = Blocks.back().back();
            stillInOrder =
                stillInOrder && CompareBytes(last.Data, last.Size, text.data(), text.size()) <= 0;
            end = {Blocks.size() - 1, Blocks.back().size()};
            if (end.Offset >= 2 * BlockLoad) {
                TBlock next;
                next.reserve(2 * BlockLoad + 1);
                Blocks.push_back(std::move(next));
                IndexValid = false;
                end = {Blocks.size() - 1, 0};
            }
        }
        InsertAt(end, text, object);
        InOrder = stillInOrder;
        return Total - 1;
    }
    EnsureOrder();
    bool found = false;
    const TPlace place = LowerBound(text, found);
    const int index = IndexOfPlace(place);
    if (found && Duplicates == TDuplicates::dupIgnore)
        return index;
    InsertAt(place, text, object);
    return index;
}

void TPathList::Delete(int index) {
    EnsureOrder();
    CheckIndex(index);
    const TPlace place = PlaceOfIndex(index);
    TBlock& block = Blocks[place.Block];
    delete block[place.Offset].Node;
    block.erase(block.begin() + static_cast<std::ptrdiff_t>(place.Offset));
    --Total;
    if (block.empty()) {
        Blocks.erase(Blocks.begin() + static_cast<std::ptrdiff_t>(place.Block));
        IndexValid = false;
    } else {
        IndexAdd(place.Block, -1);
    }
}

void TPathList::Clear() {
    FreeNodes();
    Blocks.clear();
    Index.clear();
    IndexValid = false;
    InOrder = true;
    Total = 0;
}

const std::string& TPathList::operator[](int index) const {
    EnsureOrder();
    CheckIndex(index);
    const TPlace place = PlaceOfIndex(index);
    return Blocks[place.Block][place.Offset].Node->Text;
}

void* TPathList::Objects(int index) const {
    EnsureOrder();
    CheckIndex(index);
    const TPlace place = PlaceOfIndex(index);
    return Blocks[place.Block][place.Offset].Node->Object;
}

bool TPathList::Find(const std::string& text, int& index) const {
    EnsureOrder();
    bool found = false;
    index = IndexOfPlace(LowerBound(text, found));
    return found;
}

int TPathList::IndexOf(const std::string& text) const {
    if (Sorted) {
        int index = 0;
        return Find(text, index) ? index : -1;
    }
    int index = 0;
    for (const auto& block : Blocks)
        for (const auto& ref : block) {
            if (CompareBytes(ref.Data, ref.Size, text.data(), text.size()) == 0)
                return index;
            ++index;
        }
    return -1;
}

void TPathList::SetCapacity(int capacity) {
    if (capacity > 0)
        Blocks.reserve(static_cast<std::size_t>(capacity) / BlockLoad + 1);
}

std::vector<std::string> TPathList::Lines() const {
    EnsureOrder();
    std::vector<std::string> lines;
    lines.reserve(static_cast<std::size_t>(Total));
    for (const auto& block : Blocks)
        for (const auto& ref : block)
            lines.push_back(ref.Node->Text);
    return lines;
}

} // namespace Kiv_files
