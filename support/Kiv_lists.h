// Reorderings of an indexed list expressed as moves, so that a model and the list view
// that mirrors it apply the same change in place.
#pragma once

#include "Kiv_dynamicarrays.h"

#include <vector>

namespace Kiv_lists {

struct TListReorderRecord {
    int Source; // index before the reorder
    int Target; // index after it
    friend bool operator==(const TListReorderRecord&, const TListReorderRecord&) = default;
};

using TListReorderRecords = Kiv_dynamicarrays::DynamicArray<TListReorderRecord>;

class TListAlgorithms {
public:
    using TCompare = int (*)(int index1, int index2, void* context);

    struct TSortRecord {
        int Index;
        TCompare Compare;
        void* Context;
    };

    struct TSlideRecord {
        int Index;
        bool Selected;
    };

    // The moves of the stable sort of items 0 to count - 1.
    static TListReorderRecords Sort(int count, TCompare compare, void* context);
    // Every position, including the middle one of an odd count.
    static TListReorderRecords Reverse(int count);
    // Moves the selected items by distance places, never past an end or past a selected
    // item that could not move.
    static TListReorderRecords Slide(int count, const Kiv_dynamicarrays::TIntegerDynArray& selected,
                                     int distance);
};

// Gather then scatter, so cycles of moves need no care. Every index is checked before
// anything moves, so a bad move list leaves the list as it was. Owning lists hold
// std::unique_ptr items, which move without destroying anything.
template <typename T>
void ReorderList(std::vector<T>& list, const TListReorderRecords& records) {
    const auto outside = [&](int index) {
        return index < 0 || static_cast<std::size_t>(index) >= list.size();
    };
    for (const auto& record : records)
        if (outside(record.Source) || outside(record.Target))
            throw Kiv_framework::ERangeError("List index out of bounds");
    std::vector<T> gathered;
    gathered.reserve(static_cast<std::size_t>(records.Length()));
    for (const auto& record : records)
        gathered.push_back(std::move(list[static_cast<std::size_t>(record.Source)]));
    std::size_t next = 0;
    for (const auto& record : records)
        list[static_cast<std::size_t>(record.Target)] = std::move(gathered[next++]);
}

} // namespace Kiv_lists
