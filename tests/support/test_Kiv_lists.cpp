#include "Kiv_lists.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <string>
#include <vector>

using namespace Kiv_lists;
using Kiv_dynamicarrays::TIntegerDynArray;

namespace {

using Moves = std::vector<TListReorderRecord>;

Moves ToMoves(const TListReorderRecords& records) {
    return {records.begin(), records.end()};
}

int CompareStrings(int a, int b, void* context) {
    const auto& items = *static_cast<std::vector<std::string>*>(context);
    return items[a].compare(items[b]);
}

int CompareFirstChar(int a, int b, void* context) {
    const auto& items = *static_cast<std::vector<std::string>*>(context);
    return items[a][0] - items[b][0];
}

template <typename T>
std::vector<T> Applied(std::vector<T> items, const TListReorderRecords& records) {
    ReorderList(items, records);
    return items;
}

// The slide exactly as described: each selected record is moved one list move at a time.
Moves ReferenceSlide(int n, const std::vector<int>& selection, int d) {
    if (n == 0 || selection.empty() || static_cast<int>(selection.size()) == n || d == 0)
        return {};
    const int lo = *std::min_element(selection.begin(), selection.end());
    const int hi = *std::max_element(selection.begin(), selection.end());
    const int start = d < 0 ? std::max(0, lo + d) : lo;
    const int end = d > 0 ? std::min(n - 1, hi + d) : hi;
    std::vector<std::pair<int, bool>> window;
    for (int i = start; i <= end; ++i)
        window.push_back({i, std::find(selection.begin(), selection.end(), i) != selection.end()});
    const int dir = d < 0 ? -1 : 1;
    const int last = static_cast<int>(window.size()) - 1;
    for (int k = 0; k <= hi - lo; ++k) {
        const int p = d < 0 ? lo - start + k : hi - start - k;
        if (!window[p].second)
            continue;
        int t = p;
        for (int steps = 0; steps < std::abs(d); ++steps) {
            const int next = t + dir;
            if (next < 0 || next > last || window[next].second)
                break;
            t = next;
        }
        const auto moved = window[p];
        window.erase(window.begin() + p);
        window.insert(window.begin() + t, moved);
    }
    Moves moves;
    for (int q = 0; q <= last; ++q)
        if (window[q].first != start + q)
            moves.push_back({window[q].first, start + q});
    return moves;
}

} // namespace

TEST(ListSort, EmitsOnlyTheMovesOfAStableSort) {
    std::vector<std::string> sorted{"a", "b", "c"};
    EXPECT_TRUE(ToMoves(TListAlgorithms::Sort(3, CompareStrings, &sorted)).empty());
    std::vector<std::string> equal{"x1", "x2", "x3"};
    EXPECT_TRUE(ToMoves(TListAlgorithms::Sort(3, CompareFirstChar, &equal)).empty());

    std::vector<std::string> items{"b1", "a1", "b2", "a2"};
    const auto moves = TListAlgorithms::Sort(4, CompareFirstChar, &items);
    EXPECT_EQ(Applied(items, moves), (std::vector<std::string>{"a1", "a2", "b1", "b2"}));
    EXPECT_EQ(ToMoves(moves), (Moves{{1, 0}, {3, 1}, {0, 2}, {2, 3}}));
    EXPECT_TRUE(ToMoves(TListAlgorithms::Sort(0, CompareStrings, &items)).empty());
}

TEST(ListSort, MatchesStdStableSortOnRandomData) {
    std::mt19937 random(7);
    for (int round = 0; round < 50; ++round) {
        std::vector<std::string> items(random() % 200);
        for (auto& item : items)
            item = std::string(1, static_cast<char>('a' + random() % 5)) + std::to_string(random());
        std::vector<std::string> expected = items;
        std::stable_sort(expected.begin(), expected.end(),
                         [](const auto& a, const auto& b) { return a[0] < b[0]; });
        const auto moves =
            TListAlgorithms::Sort(static_cast<int>(items.size()), CompareFirstChar, &items);
        EXPECT_EQ(Applied(items, moves), expected);
        for (const auto& move : moves)
            EXPECT_NE(move.Source, move.Target);
    }
}

TEST(ListReverse, EmitsEveryPosition) {
    EXPECT_EQ(ToMoves(TListAlgorithms::Reverse(3)), (Moves{{0, 2}, {1, 1}, {2, 0}}));
    EXPECT_TRUE(ToMoves(TListAlgorithms::Reverse(0)).empty());
    EXPECT_EQ(Applied(std::vector<int>{1, 2, 3, 4}, TListAlgorithms::Reverse(4)),
              (std::vector<int>{4, 3, 2, 1}));
}

TEST(ListSlide, DocumentedExamples) {
    EXPECT_EQ(ToMoves(TListAlgorithms::Slide(5, TIntegerDynArray{0, 2}, -1)),
              (Moves{{2, 1}, {1, 2}}));
    EXPECT_TRUE(ToMoves(TListAlgorithms::Slide(5, TIntegerDynArray{3, 4}, 1)).empty());
    EXPECT_TRUE(ToMoves(TListAlgorithms::Slide(3, TIntegerDynArray{0, 1, 2}, 1)).empty());
    EXPECT_EQ(ToMoves(TListAlgorithms::Slide(4, TIntegerDynArray{1, 2}, -1)),
              (Moves{{1, 0}, {2, 1}, {0, 2}}));
    EXPECT_TRUE(ToMoves(TListAlgorithms::Slide(4, TIntegerDynArray{1}, 0)).empty());
    EXPECT_TRUE(ToMoves(TListAlgorithms::Slide(0, TIntegerDynArray{}, 1)).empty());
    // Far distances stop at the ends without overflowing.
    EXPECT_EQ(ToMoves(TListAlgorithms::Slide(3, TIntegerDynArray{2}, -2147483647 - 1)),
              (Moves{{2, 0}, {0, 1}, {1, 2}}));
    EXPECT_EQ(ToMoves(TListAlgorithms::Slide(3, TIntegerDynArray{0}, 2147483647)),
              (Moves{{1, 0}, {2, 1}, {0, 2}}));
}

TEST(ListSlide, MatchesOneByOneMovesOnRandomSelections) {
    std::mt19937 random(11);
    for (int round = 0; round < 3000; ++round) {
        const int n = 1 + static_cast<int>(random() % 12);
        std::vector<int> selection;
        for (int i = 0; i < n; ++i)
            if (random() % 3 == 0)
                selection.push_back(i);
        const int d = static_cast<int>(random() % 11) - 5;
        const TIntegerDynArray selected = Kiv_dynamicarrays::VectorToArray(selection);
        ASSERT_EQ(ToMoves(TListAlgorithms::Slide(n, selected, d)), ReferenceSlide(n, selection, d))
            << "n=" << n << " d=" << d;
    }
}

TEST(ReorderList, HandlesCyclesAndLeavesOtherItems) {
    std::vector<std::string> items{"a", "b", "c", "d"};
    const TListReorderRecords cycle{{0, 1}, {1, 2}, {2, 0}};
    EXPECT_EQ(Applied(items, cycle), (std::vector<std::string>{"c", "a", "b", "d"}));
    const TListReorderRecords bad{{1, 0}, {0, 7}};
    EXPECT_THROW(ReorderList(items, bad), Kiv_framework::ERangeError);
    EXPECT_EQ(items, (std::vector<std::string>{"a", "b", "c", "d"}));

    std::vector<std::unique_ptr<int>> owned;
    for (int i = 0; i < 3; ++i)
        owned.push_back(std::make_unique<int>(i));
    ReorderList(owned, TListAlgorithms::Reverse(3));
    EXPECT_EQ(*owned[0], 2);
    EXPECT_EQ(*owned[2], 0);
}
