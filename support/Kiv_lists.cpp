#include "Kiv_lists.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace Kiv_lists {

namespace {

// Emits a move for every position whose item came from elsewhere; counted first so the
// array is sized once.
template <typename IndexOf>
TListReorderRecords MovesOf(int start, int length, IndexOf indexOf) {
    int moves = 0;
    for (int q = 0; q < length; ++q)
        if (indexOf(q) != start + q)
            ++moves;
    TListReorderRecords records(moves);
    int k = 0;
    for (int q = 0; q < length; ++q)
        if (indexOf(q) != start + q)
            records[k++] = {indexOf(q), start + q};
    return records;
}

} // namespace

TListReorderRecords TListAlgorithms::Sort(int count, TCompare compare, void* context) {
    std::vector<TSortRecord> records(static_cast<std::size_t>(std::max(count, 0)));
    for (int i = 0; i < count; ++i)
        records[static_cast<std::size_t>(i)] = {i, compare, context};
    // Ties are broken by the original index, which is exactly the stable order.
    std::sort(records.begin(), records.end(), [](const TSortRecord& a, const TSortRecord& b) {
        const int c = a.Compare(a.Index, b.Index, a.Context);
        return c != 0 ? c < 0 : a.Index < b.Index;
    });
    return MovesOf(0, count, [&](int q) { return records[static_cast<std::size_t>(q)].Index; });
}

TListReorderRecords TListAlgorithms::Reverse(int count) {
    TListReorderRecords records(std::max(count, 0));
    for (int i = 0; i < count; ++i)
        records[i] = {i, count - 1 - i};
    return records;
}

TListReorderRecords TListAlgorithms::Slide(int count,
                                           const Kiv_dynamicarrays::TIntegerDynArray& selected,
                                           int distance) {
    const int n = count;
    if (n == 0 || selected.Length() == 0 || selected.Length() >= n || distance == 0)
        return {};
    const auto [loIt, hiIt] = std::minmax_element(selected.begin(), selected.end());
    const int lo = *loIt;
    const int hi = *hiIt;
    // Widened so that a distance near the int limits cannot overflow.
    int windowStart = lo;
    int windowEnd = hi;
    if (distance < 0)
        windowStart =
            static_cast<int>(std::max<long long>(0, static_cast<long long>(lo) + distance));
    else
        windowEnd =
            static_cast<int>(std::min<long long>(n - 1, static_cast<long long>(hi) + distance));

    const int length = windowEnd - windowStart + 1;
    std::vector<TSlideRecord> window(static_cast<std::size_t>(length));
    for (int q = 0; q < length; ++q)
        window[static_cast<std::size_t>(q)] = {windowStart + q, false};
    for (const int index : selected)
        window[static_cast<std::size_t>(index - windowStart)].Selected = true;

    // Visiting the selected items in the direction of travel, each one stops |d| places
    // on, at the window's end, or next to the selected item placed before it. Placing
    // them by that rule and filling the other places with the unselected items in order
    // gives the same arrangement as moving them one by one, in linear time.
    const long long steps = std::llabs(static_cast<long long>(distance));
    std::vector<TSlideRecord> result(window.size(), TSlideRecord{-1, false});
    if (distance < 0) {
        long long bound = -1;
        for (int p = 0; p < length; ++p)
            if (window[static_cast<std::size_t>(p)].Selected) {
                bound = std::max(static_cast<long long>(p) - steps, bound + 1);
                result[static_cast<std::size_t>(bound)] = window[static_cast<std::size_t>(p)];
            }
    } else {
        long long bound = length;
        for (int p = length - 1; p >= 0; --p)
            if (window[static_cast<std::size_t>(p)].Selected) {
                bound = std::min(static_cast<long long>(p) + steps, bound - 1);
                result[static_cast<std::size_t>(bound)] = window[static_cast<std::size_t>(p)];
            }
    }
    std::size_t free = 0;
    for (const auto& record : window) {
        if (record.Selected)
            continue;
        while (result[free].Selected)
            ++free;
        result[free++] = record;
    }
    return MovesOf(windowStart, static_cast<int>(window.size()),
                   [&](int q) { return result[static_cast<std::size_t>(q)].Index; });
}

} // namespace Kiv_lists
