// The list control as the program's models and views see it, and the operations that
// keep it in step with a model by row index: the state bits of one row, the selection as
// an index array, and rows inserted, deleted and permuted.
//
// TCustomListView holds what the control knows without a screen: the row count, four
// state bits per row (one byte a row, the truth for the selection and the focus), the
// stored rows of ordinary mode, the columns, the update bracket and the events. The
// window (Kiv_listviews_window) derives from it and only shows it, so everything here
// runs and is tested without a display.
#pragma once

#include "Kiv_dynamicarrays.h"
#include "Kiv_framework.h"
#include "Kiv_lists.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Kiv_listviews {

using Kiv_dynamicarrays::TIntegerDynArray;
using Kiv_lists::TListReorderRecords;

// The state bits of a row.
enum TItemState : unsigned {
    isFocused = 1,
    isSelected = 2,
    isCut = 4,
    isDropHilited = 8,
};

constexpr unsigned ItemStateMask = 15;

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

struct TListColumn {
    std::string Caption;
    TAlignment Alignment = taLeftJustify;
    int Width = 50;
    friend bool operator==(const TListColumn&, const TListColumn&) = default;
};

// The texts and images of a row: the first column's text, the texts of the others in
// order, the small image and the state image (-1: none).
struct TListItem {
    std::string Caption;
    std::vector<std::string> SubItems;
    int ImageIndex = -1;
    int StateIndex = -1;
    // The row's background band, 0 or 1, alternating between runs of related rows; -1 for
    // the plain background.
    int Band = -1;
    friend bool operator==(const TListItem&, const TListItem&) = default;
};

class TCustomListView {
public:
    using TDataEvent = Kiv_framework::TEvent<TCustomListView*, int, TListItem&>;
    using TChangeEvent = Kiv_framework::TEvent<TCustomListView*>;
    using TColumnClickEvent = Kiv_framework::TEvent<TCustomListView*, int>;

    TCustomListView() = default;
    virtual ~TCustomListView() = default;
    TCustomListView(const TCustomListView&) = delete;
    TCustomListView& operator=(const TCustomListView&) = delete;

    // Owner-data mode (the default): the control keeps only the row count and the states
    // and asks OnData for a row's texts and images. Ordinary mode: it stores its rows.
    // Switching drops every row.
    bool OwnerData() const { return FOwnerData; }
    void SetOwnerData(bool ownerData);

    int ItemCount() const { return static_cast<int>(States.size()); }
    // Owner-data mode: rows past the new count go with their states; new rows at the end
    // have none. Ordinary mode: only reserves room, as rows come through InsertItem.
    void SetItemCount(int count);
    // Every row goes, in both modes.
    void Clear();

    // Ordinary mode: the stored rows. The index is checked (EInvalidOperation).
    void InsertItem(int index, const TListItem& item = {});
    void DeleteItem(int index);
    const TListItem& Item(int index) const;
    void SetItem(int index, const TListItem& item);

    // The texts and images of a row: OnData in owner-data mode (an empty row without a
    // handler), the stored row otherwise. The index is taken on trust.
    void GetItemData(int index, TListItem& item);

    // Row states. The index is taken on trust: the helpers below check it.
    unsigned ItemState(int index) const { return States[static_cast<std::size_t>(index)]; }
    // Replaces the four bits of a row. One row at most has the focus: focusing a row
    // takes it from the row that had it.
    void WriteItemState(int index, unsigned state) {
        PutState(index, state);
        FlushIfIdle();
    }
    int SelectedCount() const { return FSelectedCount; }
    // The row with the focused bit, -1 when none.
    int FocusedIndex() const { return FFocusedIndex; }
    void SelectAll();
    void ClearSelection();
    // Selects the rows from first to last (either order); exclusive clears every other.
    void SelectRange(int first, int last, bool exclusive);
    // The row a Shift+click or Shift+arrow extends from (-1: the focused row).
    int SelectionMark() const;
    void SetSelectionMark(int index) { FSelectionMark = index; }

    // Changes inside the bracket are shown, and reported through OnChange, once, when
    // the outermost bracket closes. Outside a bracket every change is at once.
    void BeginUpdate() { ++FUpdateCount; }
    void EndUpdate();
    bool Updating() const { return FUpdateCount > 0; }

    int ColumnCount() const { return static_cast<int>(Columns.size()); }
    const TListColumn& Column(int index) const;
    void AddColumn(const TListColumn& column);
    void ClearColumns();
    // The width of a column now, also after the user dragged it.
    int ColumnWidth(int index) const { return Column(index).Width; }
    void SetColumnWidth(int index, int width);

    // Scrolls the row into view; with partialOk off the whole row must become visible.
    void MakeVisible(int index, bool partialOk);
    // Redraws the rows first to last (after their data changed).
    void UpdateItems(int first, int last);

    virtual void DoChange();
    virtual void DoColumnClick(int column);

    TDataEvent OnData;
    // Row states changed (selection, focus, cut, drop highlight): once per operation, or
    // once per update bracket.
    TChangeEvent OnChange;
    TColumnClickEvent OnColumnClick;

    // For the bulk operations of the helpers: the primitives without the flush, valid
    // only inside an update bracket.
    void PutState(int index, unsigned state);
    void SwapStates(int a, int b);
    void MarkItemsChanged() { ItemsDirty = true; }
    // Owner-data mode: the row count, without touching the rows below it.
    void ResizeRows(int count);

protected:
    // What a window shows of the control; nothing without one.
    // The row count changed: called at once, also inside an update bracket.
    virtual void ItemCountChanged() {}
    // Rows changed their texts, images or states: redraw them (when a bracket closes).
    virtual void ItemsChanged() {}
    virtual void ItemRangeChanged(int /*first*/, int /*last*/) {}
    virtual void ColumnsChanged() {}
    virtual void ScrollIntoView(int /*index*/, bool /*partialOk*/) {}

    // A width the user gave a column in the window: stored without a columns change.
    void StoreColumnWidth(int index, int width);

private:
    void CheckIndex(int index, int limit) const;
    void FlushIfIdle() {
        if (FUpdateCount == 0)
            Flush();
    }
    void Flush();

    bool FOwnerData = true;
    std::vector<std::uint8_t> States;
    std::vector<TListItem> Items; // ordinary mode only, parallel to States
    std::vector<TListColumn> Columns;
    int FSelectedCount = 0;
    int FFocusedIndex = -1;
    int FSelectionMark = -1;
    int FUpdateCount = 0;
    bool StatesDirty = false;
    bool ItemsDirty = false;
    bool ColumnsDirty = false;
};

// The helpers. Per-row operations raise EInvalidOperation "The index is invalid to the
// list view." for an index outside the rows; the structural ones take their indexes on
// trust (they come from the model that changed).
int CheckItemIndex(const TCustomListView& listView, int index);
unsigned GetItemState(const TCustomListView& listView, int index);
void SetItemState(TCustomListView& listView, int index, unsigned state);
bool IsItemSelected(const TCustomListView& listView, int index);
void SetItemSelected(TCustomListView& listView, int index, bool selected);
void SetItemFocused(TCustomListView& listView, int index, bool focused);
void MakeItemVisible(TCustomListView& listView, int index, bool partialOk);
// Rows appear at the given ascending final indexes, without state; the others keep
// theirs. Returns the number of rows inserted.
int InsertItems(TCustomListView& listView, const TIntegerDynArray& indexes);
// The rows at the ascending indexes go; the others keep their states. A focused row that
// goes hands the focus to the row that takes its place, or to the new last row.
void DeleteItems(TCustomListView& listView, const TIntegerDynArray& indexes);
void SwapItems(TCustomListView& listView, int a, int b);
// Applies the moves as one permutation: every source is read before a target is written.
void ReorderItems(TCustomListView& listView, const TListReorderRecords& records);
TIntegerDynArray GetSelectedIndexes(const TCustomListView& listView);
// Exactly these rows become selected; an index outside the rows raises
// Kiv_framework::ERangeError (DynArrayOutOfRange) before any row changes.
void SetSelectedIndexes(TCustomListView& listView, const TIntegerDynArray& indexes);
void ReverseItemSelection(TCustomListView& listView);

// Runs body inside the control's update bracket; the bracket closes also when body
// raises, and the error passes on.
template <typename Body>
void WithUpdate(TCustomListView& listView, Body body) {
    listView.BeginUpdate();
    try {
        body();
    } catch (...) {
        listView.EndUpdate();
        throw;
    }
    listView.EndUpdate();
}

} // namespace Kiv_listviews
