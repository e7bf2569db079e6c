#include "Kiv_listviews.h"

#include <algorithm>
#include <utility>

namespace Kiv_listviews {

namespace {

const char* const InvalidIndexMessage = "The index is invalid to the list view.";

[[noreturn]] void InvalidIndex() {
    throw Kiv_framework::EInvalidOperation(InvalidIndexMessage);
}

void CheckOrdinary(const TCustomListView& listView) {
    if (listView.OwnerData())
        throw Kiv_framework::EInvalidOperation("The list view keeps no rows in owner-data mode.");
}

} // namespace

// ---------------------------------------------------------------------------------------
// TCustomListView

void TCustomListView::SetOwnerData(bool ownerData) {
    if (ownerData == FOwnerData)
        return;
    Clear();
    FOwnerData = ownerData;
}

void TCustomListView::SetItemCount(int count) {
    if (count < 0)
        throw Kiv_framework::ERangeError("The row count cannot be negative.");
    if (!FOwnerData) {
        States.reserve(static_cast<std::size_t>(count));
        Items.reserve(static_cast<std::size_t>(count));
        return;
    }
    ResizeRows(count);
    FlushIfIdle();
}

void TCustomListView::ResizeRows(int count) {
    const int old = ItemCount();
    if (count == old)
        return;
    for (int i = count; i < old; ++i) {
        const unsigned state = States[static_cast<std::size_t>(i)];
        if (state != 0)
            StatesDirty = true;
        if (state & isSelected)
            --FSelectedCount;
    }
    if (FFocusedIndex >= count)
        FFocusedIndex = -1;
    States.resize(static_cast<std::size_t>(count), 0);
    // A list that shrank a lot gives its memory back.
    if (States.capacity() > 2 * States.size() + 65536)
        States.shrink_to_fit();
    FSelectionMark = -1;
    ItemsDirty = true;
    ItemCountChanged();
}

void TCustomListView::Clear() {
    if (ItemCount() == 0)
        return;
    if (!FOwnerData) {
        Items.clear();
        Items.shrink_to_fit();
    }
    ResizeRows(0);
    FlushIfIdle();
}

void TCustomListView::CheckIndex(int index, int limit) const {
    if (index < 0 || index >= limit)
        InvalidIndex();
}

void TCustomListView::InsertItem(int index, const TListItem& item) {
    CheckOrdinary(*this);
    CheckIndex(index, ItemCount() + 1);
    Items.insert(Items.begin() + index, item);
    States.insert(States.begin() + index, 0);
    if (FFocusedIndex >= index)
        ++FFocusedIndex;
    FSelectionMark = -1;
    ItemsDirty = true;
    ItemCountChanged();
    FlushIfIdle();
}

void TCustomListView::DeleteItem(int index) {
    CheckOrdinary(*this);
    CheckIndex(index, ItemCount());
    const unsigned state = States[static_cast<std::size_t>(index)];
    if (state != 0)
        StatesDirty = true;
    if (state & isSelected)
        --FSelectedCount;
    if (FFocusedIndex == index)
        FFocusedIndex = -1;
    else if (FFocusedIndex > index)
        --FFocusedIndex;
    Items.erase(Items.begin() + index);
    States.erase(States.begin() + index);
    FSelectionMark = -1;
    ItemsDirty = true;
    ItemCountChanged();
    FlushIfIdle();
}

const TListItem& TCustomListView::Item(int index) const {
    CheckOrdinary(*this);
    CheckIndex(index, ItemCount());
    return Items[static_cast<std::size_t>(index)];
}

void TCustomListView::SetItem(int index, const TListItem& item) {
    CheckOrdinary(*this);
    CheckIndex(index, ItemCount());
    Items[static_cast<std::size_t>(index)] = item;
    ItemsDirty = true;
    FlushIfIdle();
}

void TCustomListView::GetItemData(int index, TListItem& item) {
    if (!FOwnerData) {
        item = Items[static_cast<std::size_t>(index)];
        return;
    }
    // Cleared in place, so a caller that reuses the record keeps its buffers.
    item.Caption.clear();
    item.SubItems.clear();
    item.ImageIndex = -1;
    item.StateIndex = -1;
    OnData(this, index, item);
}

void TCustomListView::PutState(int index, unsigned state) {
    std::uint8_t& slot = States[static_cast<std::size_t>(index)];
    state &= ItemStateMask;
    if (slot == state)
        return;
    if ((slot ^ state) & isSelected)
        FSelectedCount += (state & isSelected) ? 1 : -1;
    if (state & isFocused) {
        if (FFocusedIndex >= 0 && FFocusedIndex != index)
            States[static_cast<std::size_t>(FFocusedIndex)] &= ~isFocused;
        FFocusedIndex = index;
    } else if (FFocusedIndex == index) {
        FFocusedIndex = -1;
    }
    slot = static_cast<std::uint8_t>(state);
    StatesDirty = true;
}

void TCustomListView::SwapStates(int a, int b) {
    std::uint8_t& first = States[static_cast<std::size_t>(a)];
    std::uint8_t& second = States[static_cast<std::size_t>(b)];
    if (first == second)
        return;
    std::swap(first, second);
    if (FFocusedIndex == a)
        FFocusedIndex = b;
    else if (FFocusedIndex == b)
        FFocusedIndex = a;
    StatesDirty = true;
}

void TCustomListView::SelectAll() {
    if (FSelectedCount == ItemCount())
        return;
    BeginUpdate();
    for (int i = 0; i < ItemCount(); ++i)
        PutState(i, ItemState(i) | isSelected);
    EndUpdate();
}

void TCustomListView::ClearSelection() {
    if (FSelectedCount == 0)
        return;
    BeginUpdate();
    for (int i = 0; i < ItemCount() && FSelectedCount > 0; ++i)
        PutState(i, ItemState(i) & ~isSelected);
    EndUpdate();
}

void TCustomListView::SelectRange(int first, int last, bool exclusive) {
    if (ItemCount() == 0)
        return;
    if (first > last)
        std::swap(first, last);
    first = std::clamp(first, 0, ItemCount() - 1);
    last = std::clamp(last, 0, ItemCount() - 1);
    BeginUpdate();
    if (exclusive) {
        for (int i = 0; i < first; ++i)
            PutState(i, ItemState(i) & ~isSelected);
        for (int i = last + 1; i < ItemCount(); ++i)
            PutState(i, ItemState(i) & ~isSelected);
    }
    for (int i = first; i <= last; ++i)
        PutState(i, ItemState(i) | isSelected);
    EndUpdate();
}

int TCustomListView::SelectionMark() const {
    if (FSelectionMark >= 0 && FSelectionMark < ItemCount())
        return FSelectionMark;
    return FFocusedIndex;
}

void TCustomListView::EndUpdate() {
    if (FUpdateCount == 0)
        return;
    --FUpdateCount;
    FlushIfIdle();
}

void TCustomListView::Flush() {
    if (ColumnsDirty) {
        ColumnsDirty = false;
        ColumnsChanged();
    }
    if (ItemsDirty || StatesDirty) {
        ItemsDirty = false;
        ItemsChanged();
    }
    if (StatesDirty) {
        StatesDirty = false;
        DoChange();
    }
}

const TListColumn& TCustomListView::Column(int index) const {
    if (index < 0 || index >= ColumnCount())
        throw Kiv_framework::ERangeError("List index out of bounds (" + std::to_string(index) +
                                         ")");
    return Columns[static_cast<std::size_t>(index)];
}

void TCustomListView::AddColumn(const TListColumn& column) {
    Columns.push_back(column);
    ColumnsDirty = true;
    FlushIfIdle();
}

void TCustomListView::ClearColumns() {
    if (Columns.empty())
        return;
    Columns.clear();
    ColumnsDirty = true;
    FlushIfIdle();
}

void TCustomListView::SetColumnWidth(int index, int width) {
    Column(index); // checks the index
    Columns[static_cast<std::size_t>(index)].Width = width;
    ColumnsDirty = true;
    FlushIfIdle();
}

void TCustomListView::StoreColumnWidth(int index, int width) {
    if (index >= 0 && index < ColumnCount())
        Columns[static_cast<std::size_t>(index)].Width = width;
}

void TCustomListView::MakeVisible(int index, bool partialOk) {
    ScrollIntoView(index, partialOk);
}

void TCustomListView::UpdateItems(int first, int last) {
    if (Updating()) {
        ItemsDirty = true;
        return;
    }
    first = std::max(first, 0);
    last = std::min(last, ItemCount() - 1);
    if (first <= last)
        ItemRangeChanged(first, last);
}

void TCustomListView::DoChange() {
    OnChange(this);
}

void TCustomListView::DoColumnClick(int column) {
    OnColumnClick(this, column);
}

// ---------------------------------------------------------------------------------------
// The helpers

int CheckItemIndex(const TCustomListView& listView, int index) {
    if (index < 0 || index >= listView.ItemCount())
        InvalidIndex();
    return index;
}

unsigned GetItemState(const TCustomListView& listView, int index) {
    return listView.ItemState(CheckItemIndex(listView, index)) & ItemStateMask;
}

void SetItemState(TCustomListView& listView, int index, unsigned state) {
    listView.WriteItemState(CheckItemIndex(listView, index), state & ItemStateMask);
}

bool IsItemSelected(const TCustomListView& listView, int index) {
    return (GetItemState(listView, index) & isSelected) != 0;
}

void SetItemSelected(TCustomListView& listView, int index, bool selected) {
    const unsigned state = GetItemState(listView, index);
    SetItemState(listView, index, selected ? state | isSelected : state & ~isSelected);
}

void SetItemFocused(TCustomListView& listView, int index, bool focused) {
    const unsigned state = GetItemState(listView, index);
    SetItemState(listView, index, focused ? state | isFocused : state & ~isFocused);
}

void MakeItemVisible(TCustomListView& listView, int index, bool partialOk) {
    listView.MakeVisible(CheckItemIndex(listView, index), partialOk);
}

namespace {

// Two cursors walk down from the ends: each old row's states move to its new place, and
// every inserted row is left without state. Rows in front of the first inserted index
// are not touched.
void InsertOwnerDataRows(TCustomListView& listView, const TIntegerDynArray& indexes) {
    const int oldCount = listView.ItemCount();
    const int inserted = indexes.Length();
    listView.ResizeRows(oldCount + inserted);
    int source = oldCount - 1;
    int next = inserted - 1; // the largest inserted index not yet reached
    for (int target = oldCount + inserted - 1; source < target; --target) {
        if (next >= 0 && target == indexes[next]) {
            --next;
            continue;
        }
        if (source < 0)
            break;
        listView.SwapStates(source, target);
        --source;
    }
}

// Survivors move down over the deleted rows in one pass from the first deleted index.
void DeleteOwnerDataRows(TCustomListView& listView, const TIntegerDynArray& indexes) {
    const int count = listView.ItemCount();
    const int deleted = indexes.Length();
    int focusTarget = -1;
    int passed = 0;
    for (int i = std::max(indexes[0], 0); i < count; ++i) {
        const unsigned state = listView.ItemState(i);
        if (state & isFocused)
            focusTarget = std::clamp(i - passed, -1, count - deleted - 1);
        if (passed < deleted && i == indexes[passed])
            ++passed;
        else
            listView.PutState(i - passed, state);
    }
    listView.ResizeRows(count - passed);
    if (focusTarget >= 0 && focusTarget < listView.ItemCount())
        listView.PutState(focusTarget, listView.ItemState(focusTarget) | isFocused);
}

void CheckRecords(const TCustomListView& listView, const TListReorderRecords& records) {
    const auto outside = [&](int index) { return index < 0 || index >= listView.ItemCount(); };
    for (const auto& record : records)
        if (outside(record.Source) || outside(record.Target))
            throw Kiv_framework::ERangeError("List index out of bounds");
}

} // namespace

int InsertItems(TCustomListView& listView, const TIntegerDynArray& indexes) {
    if (indexes.Empty())
        return 0;
    WithUpdate(listView, [&] {
        if (listView.OwnerData()) {
            InsertOwnerDataRows(listView, indexes);
        } else {
            for (const int index : indexes)
                listView.InsertItem(index);
        }
        listView.SetSelectionMark(-1);
        listView.MarkItemsChanged();
    });
    return indexes.Length();
}

void DeleteItems(TCustomListView& listView, const TIntegerDynArray& indexes) {
    if (indexes.Empty())
        return;
    WithUpdate(listView, [&] {
        if (listView.OwnerData()) {
            DeleteOwnerDataRows(listView, indexes);
        } else {
            for (int k = indexes.Length() - 1; k >= 0; --k)
                listView.DeleteItem(indexes[k]);
        }
        listView.SetSelectionMark(-1);
        listView.MarkItemsChanged();
    });
}

void SwapItems(TCustomListView& listView, int a, int b) {
    CheckItemIndex(listView, a);
    CheckItemIndex(listView, b);
    if (a == b)
        return;
    WithUpdate(listView, [&] {
        if (!listView.OwnerData()) {
            const TListItem temporary = listView.Item(a);
            listView.SetItem(a, listView.Item(b));
            listView.SetItem(b, temporary);
        }
        listView.SwapStates(a, b);
        listView.MarkItemsChanged();
    });
}

void ReorderItems(TCustomListView& listView, const TListReorderRecords& records) {
    if (records.Empty())
        return;
    CheckRecords(listView, records);
    // Every source is read before any target is written, so cycles need no care.
    std::vector<std::uint8_t> states(static_cast<std::size_t>(records.Length()));
    std::vector<TListItem> rows;
    for (int i = 0; i < records.Length(); ++i)
        states[static_cast<std::size_t>(i)] =
            static_cast<std::uint8_t>(listView.ItemState(records[i].Source));
    if (!listView.OwnerData()) {
        rows.reserve(states.size());
        for (const auto& record : records)
            rows.push_back(listView.Item(record.Source));
    }
    WithUpdate(listView, [&] {
        for (int i = 0; i < records.Length(); ++i) {
            if (!rows.empty())
                listView.SetItem(records[i].Target, rows[static_cast<std::size_t>(i)]);
            listView.PutState(records[i].Target, states[static_cast<std::size_t>(i)]);
        }
        listView.SetSelectionMark(-1);
        listView.MarkItemsChanged();
    });
}

TIntegerDynArray GetSelectedIndexes(const TCustomListView& listView) {
    Kiv_dynamicarrays::TIntegerDynArrayBuilder builder;
    const int selected = listView.SelectedCount();
    builder.SetCapacity(selected);
    for (int i = 0; i < listView.ItemCount() && builder.GetCount() < selected; ++i)
        if (listView.ItemState(i) & isSelected)
            builder.Add(i);
    return builder.Extract();
}

void SetSelectedIndexes(TCustomListView& listView, const TIntegerDynArray& indexes) {
    if (indexes.Empty()) {
        listView.ClearSelection();
        return;
    }
    Kiv_dynamicarrays::TBooleanDynArray flags(listView.ItemCount());
    for (const int index : indexes) {
        if (index < 0 || index >= flags.Length())
            Kiv_dynamicarrays::DynArrayOutOfRange(index, flags.Length());
        flags[index] = true;
    }
    WithUpdate(listView, [&] {
        for (int i = 0; i < listView.ItemCount(); ++i) {
            const unsigned state = listView.ItemState(i);
            listView.PutState(i, flags[i] ? state | isSelected : state & ~isSelected);
        }
    });
}

void ReverseItemSelection(TCustomListView& listView) {
    const int count = listView.ItemCount();
    if (count == 0)
        return;
    if (listView.SelectedCount() == 0) {
        listView.SelectAll();
        return;
    }
    if (listView.SelectedCount() == count) {
        listView.ClearSelection();
        return;
    }
    WithUpdate(listView, [&] {
        for (int i = 0; i < count; ++i)
            listView.PutState(i, listView.ItemState(i) ^ isSelected);
    });
}

} // namespace Kiv_listviews
