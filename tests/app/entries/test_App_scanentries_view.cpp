// The entries view and selection on the real list control (offscreen).
#include "App_scanentries_view.h"
#include "EntriesTestSupport.h"
#include "Kiv_listviews_window.h"
#include "TestWindowApplication.h"

#include <QApplication>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

using namespace App_scanentries;
using namespace EntriesTest;
using namespace Kiv_listviews;

namespace {

constexpr unsigned F = isFocused;
constexpr unsigned S = isSelected;

std::vector<int> ToVector(const TIntegerDynArray& values) {
    return std::vector<int>(values.begin(), values.end());
}

TIntegerDynArray ToArray(const std::vector<int>& values) {
    return Kiv_dynamicarrays::VectorToArray(values);
}

class EntriesViewTest : public ::testing::Test {
protected:
    EntriesViewTest() : View(Entries, List), Selection(Entries, List) {
        List.OnData = [this](TCustomListView*, int row, TListItem& item) {
            if (row >= Entries.Count())
                return;
            const TScanEntry& entry = Entries.Item(row);
            item.Caption = NameText(entry);
            item.SubItems = {GroupText(entry)};
        };
        List.AddColumn({"Name", taLeftJustify, 100});
        List.AddColumn({"Group", taRightJustify, 60});
        List.resize(240, 110); // a few rows: adds must scroll
        List.show();
        List.OnChange = [this](TCustomListView*) { ++Changes; };
    }

    // Adds entries named n0, n1, ... with the given sizes, in one batch.
    void Add(const std::vector<std::uint64_t>& sizes) {
        TScanEntryArray batch(static_cast<int>(sizes.size()));
        for (std::size_t i = 0; i < sizes.size(); ++i)
            batch[static_cast<int>(i)] = Entry("/d/n" + std::to_string(Next++), sizes[i]).release();
        Entries.Add(batch);
    }

    std::vector<unsigned> States() const {
        std::vector<unsigned> states;
        for (int i = 0; i < List.ItemCount(); ++i)
            states.push_back(GetItemState(List, i));
        return states;
    }

    bool FullyVisible(int row) const { return List.viewport()->rect().contains(List.RowRect(row)); }

    TestApplication::TTestWindowApplication App;
    TScanEntries Entries;
    TListView List;
    TScanEntriesView View;
    TScanEntriesSelection Selection;
    int Next = 0;
    int Changes = 0;
};

TEST_F(EntriesViewTest, AddedEntriesAreSelectedAndTheLastFocusedInView) {
    Add({1, 2, 3, 4, 5});
    Selection.SetSelectedIndices(TIntegerDynArray({0, 2}));
    Changes = 0;
    Add({6, 7, 8});
    EXPECT_EQ(List.ItemCount(), 8);
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, 0, 0, 0, S, S, S | F}));
    EXPECT_EQ(Selection.SelectedCount(), 3);
    EXPECT_TRUE(FullyVisible(7));
    EXPECT_EQ(Changes, 1); // one bracket
    // The rows show their own entries.
    EXPECT_EQ(List.model()->data(List.model()->index(6, 0)).toString(), QStringLiteral("n6"));
}

TEST_F(EntriesViewTest, ReaddingAListedFileReplacesItsRow) {
    Add({1, 2, 3});
    SetItemState(List, 1, S | isCut);
    TScanEntryArray again({Entry("/d/n1", 9).release()});
    Entries.Add(again);
    EXPECT_EQ(List.ItemCount(), 3);
    EXPECT_EQ(States(), (std::vector<unsigned>{0, 0, S | F}));
    EXPECT_EQ(Entries.Item(2).Size(), 9u);
}

TEST_F(EntriesViewTest, SortsAndMovesKeepTheSelectionWithTheEntries) {
    Add({50, 10, 40, 20, 30});
    const TScanEntry* first = &Entries.Item(0);
    const TScanEntry* fourth = &Entries.Item(3);
    Selection.SetSelectedIndices(TIntegerDynArray({0, 3}));
    SetItemFocused(List, 3, true);
    Entries.SortBySize();
    const std::vector<int> selected = ToVector(Selection.GetSelectedIndices());
    ASSERT_EQ(selected.size(), 2u);
    EXPECT_EQ(&Entries.Item(selected[0]), fourth);
    EXPECT_EQ(&Entries.Item(selected[1]), first);
    EXPECT_EQ(&Entries.Item(List.FocusedIndex()), fourth);

    Entries.MoveDown(Selection.GetSelectedIndices());
    Entries.ReverseOrder();
    EXPECT_EQ(Selection.SelectedCount(), 2);
    for (const int index : ToVector(Selection.GetSelectedIndices()))
        EXPECT_TRUE(&Entries.Item(index) == first || &Entries.Item(index) == fourth);
}

TEST_F(EntriesViewTest, RemovingAndClearing) {
    Add({1, 2, 3, 4});
    Selection.SetSelectedIndices(TIntegerDynArray({1, 2}));
    Entries.Remove(Selection.GetSelectedIndices());
    EXPECT_EQ(List.ItemCount(), 2);
    EXPECT_EQ(Selection.SelectedCount(), 0);
    EXPECT_EQ(List.FocusedIndex(), 1); // the last added row was focused and stays so

    Entries.Clear();
    EXPECT_EQ(List.ItemCount(), 0);
    EXPECT_EQ(List.model()->rowCount(), 0);
    Changes = 0;
    View.EntriesCleared(&Entries); // nothing left to clear
    EXPECT_EQ(Changes, 0);
}

TEST_F(EntriesViewTest, SelectAllAndReverseSelection) {
    Selection.SelectAll();
    Selection.ReverseSelection();
    EXPECT_EQ(Changes, 0); // an empty list: nothing, no error

    Add({1, 2, 3});
    Selection.SetSelectedIndices(TIntegerDynArray());
    Selection.ReverseSelection();
    EXPECT_EQ(ToVector(Selection.GetSelectedIndices()), (std::vector<int>{0, 1, 2}));
    Selection.ReverseSelection();
    EXPECT_EQ(Selection.SelectedCount(), 0);
    Selection.SetSelectedIndices(TIntegerDynArray({1}));
    Selection.ReverseSelection();
    EXPECT_EQ(ToVector(Selection.GetSelectedIndices()), (std::vector<int>{0, 2}));
    Selection.SelectAll();
    EXPECT_EQ(Selection.SelectedCount(), 3);
}

TEST_F(EntriesViewTest, AChangedEntryIsShownAnew) {
    Add({1, 2});
    const QAbstractItemModel& model = *List.model();
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral(""));
    Entries.Item(1).SetGroup(4);
    Entries.EntryChanged(1);
    EXPECT_EQ(model.data(model.index(1, 1)).toString(), QStringLiteral("4"));
    List.viewport()->repaint();
}

// Random adds, removals, sorts, moves, clears and selections: the control's row states
// always equal a plain model that keeps each entry's state with the entry.
TEST_F(EntriesViewTest, RowStatesFollowTheirEntries) {
    std::mt19937 random(11);
    std::map<const TScanEntry*, unsigned> model;
    const auto pick = [&](int count) {
        std::vector<int> picked;
        for (int i = 0; i < count; ++i)
            if (random() % 3 == 0)
                picked.push_back(i);
        return picked;
    };
    for (int step = 0; step < 400; ++step) {
        const int count = Entries.Count();
        const int kind = static_cast<int>(random() % 9);
        if (kind == 0 || count == 0) {
            // New files, one of them sometimes already listed (replaced).
            std::vector<std::uint64_t> sizes(1 + random() % 4);
            for (auto& size : sizes)
                size = random() % 50;
            TScanEntryArray batch(static_cast<int>(sizes.size()));
            for (std::size_t i = 0; i < sizes.size(); ++i) {
                const bool again = count > 0 && random() % 4 == 0;
                const std::string path =
                    again ? Entries.Item(static_cast<int>(random() % count)).Path()
                          : "/d/n" + std::to_string(Next++);
                batch[static_cast<int>(i)] = Entry(path, sizes[i]).release();
            }
            std::set<std::string> paths;
            bool unique = true;
            for (const TScanEntry* entry : batch)
                unique = paths.insert(entry->Path()).second && unique;
            if (!unique) {
                for (const TScanEntry* entry : batch)
                    delete entry;
                continue;
            }
            Entries.Add(batch);
            std::map<const TScanEntry*, unsigned> next;
            for (int i = 0; i < Entries.Count(); ++i) {
                const TScanEntry* entry = &Entries.Item(i);
                const auto found = model.find(entry);
                next[entry] = found == model.end() ? S : found->second & ~(S | F);
            }
            next[batch[batch.Length() - 1]] |= F;
            model = next;
        } else if (kind == 1) {
            const std::vector<int> removed = pick(count);
            int focused = -1;
            for (int i = 0; i < count; ++i)
                if (model[&Entries.Item(i)] & F)
                    focused = i;
            bool focusGoes = false;
            int before = 0;
            for (const int index : removed) {
                focusGoes = focusGoes || index == focused;
                before += index < focused ? 1 : 0;
                model.erase(&Entries.Item(index));
            }
            Entries.Remove(ToArray(removed));
            if (focusGoes && Entries.Count() > 0)
                model[&Entries.Item(std::min(focused - before, Entries.Count() - 1))] |= F;
        } else if (kind == 2) {
            switch (random() % 5) {
            case 0:
                Entries.SortBySize();
                break;
            case 1:
                Entries.SortByName();
                break;
            case 2:
                Entries.ReverseOrder();
                break;
            case 3:
                Entries.MoveUp(ToArray(pick(count)));
                break;
            default:
                Entries.MoveDown(ToArray(pick(count)));
                break;
            }
        } else if (kind == 3 && random() % 4 == 0) {
            Entries.Clear();
            model.clear();
        } else if (kind == 4) {
            const std::vector<int> selected = pick(count);
            Selection.SetSelectedIndices(ToArray(selected));
            for (auto& entry : model)
                entry.second &= ~S;
            for (const int index : selected)
                model[&Entries.Item(index)] |= S;
        } else if (kind == 5) {
            int selected = 0;
            for (const auto& entry : model)
                selected += (entry.second & S) ? 1 : 0;
            Selection.ReverseSelection();
            for (auto& entry : model)
                entry.second = selected == 0       ? entry.second | S
                               : selected == count ? entry.second & ~S
                                                   : entry.second ^ S;
        } else {
            // A state written directly: a focus, a cut mark.
            const int row = static_cast<int>(random() % count);
            const unsigned state = random() % 16;
            SetItemState(List, row, state);
            if (state & F)
                for (auto& entry : model)
                    entry.second &= ~F;
            model[&Entries.Item(row)] = state;
        }
        ASSERT_EQ(List.ItemCount(), Entries.Count()) << "step " << step;
        ASSERT_EQ(List.model()->rowCount(), Entries.Count());
        for (int i = 0; i < Entries.Count(); ++i)
            ASSERT_EQ(GetItemState(List, i), model[&Entries.Item(i)])
                << "step " << step << " kind " << kind << " row " << i;
    }
}

} // namespace
