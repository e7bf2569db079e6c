// Times the list reorderings on large lists: the sort with a cheap compare, and the
// reverse and slide, which must stay linear.
#include "Kiv_lists.h"
#include "bench_timing.h"

#include <cstdio>
#include <numeric>
#include <random>
#include <vector>

using Kiv_dynamicarrays::TIntegerDynArray;
using Kiv_lists::TListAlgorithms;

namespace {

int CompareInts(int a, int b, void* context) {
    const auto& values = *static_cast<const std::vector<int>*>(context);
    return values[a] < values[b] ? -1 : (values[a] > values[b] ? 1 : 0);
}

// Every other item selected: the most moves a slide can make.
TIntegerDynArray AlternateSelection(int count) {
    TIntegerDynArray selected(count / 2);
    for (int i = 0; i < selected.Length(); ++i)
        selected[i] = 2 * i + 1;
    return selected;
}

} // namespace

int main() {
    std::mt19937 random(42);
    const int count = 1'000'000;
    std::vector<int> values(count);
    for (auto& value : values)
        value = static_cast<int>(random() % 100'000);

    int moves = 0;
    const double sort = bench::BestOf(
        3, [&] { moves = TListAlgorithms::Sort(count, CompareInts, &values).Length(); });
    std::printf("Sort of %d items (random keys, %d moves): %.3f s (target <= 0.5 s)\n", count,
                moves, sort);

    for (const int n : {250'000, 500'000, 1'000'000}) {
        const TIntegerDynArray selected = AlternateSelection(n);
        const double reverse = bench::BestOf(3, [&] { (void)TListAlgorithms::Reverse(n); });
        const double up = bench::BestOf(3, [&] { (void)TListAlgorithms::Slide(n, selected, -1); });
        const double down = bench::BestOf(3, [&] { (void)TListAlgorithms::Slide(n, selected, 1); });
        std::printf("n = %7d: Reverse %.4f s, Slide up %.4f s, Slide down %.4f s "
                    "(half the items selected)\n",
                    n, reverse, up, down);
    }
    return 0;
}
