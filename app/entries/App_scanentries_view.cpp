#include "App_scanentries_view.h"

namespace App_scanentries {

using namespace Kiv_listviews;

TScanEntriesView::TScanEntriesView(TScanEntries& entries, TCustomListView& listView)
    : Entries(entries), ListView(listView) {
    Entries.OnAdded.Bind(this, &TScanEntriesView::EntriesAdded);
    Entries.OnRemoved.Bind(this, &TScanEntriesView::EntriesRemoved);
    Entries.OnCleared.Bind(this, &TScanEntriesView::EntriesCleared);
    Entries.OnReordered.Bind(this, &TScanEntriesView::EntriesReordered);
    Entries.OnChanged.Bind(this, &TScanEntriesView::EntryChangedAt);
}

void TScanEntriesView::EntriesAdded(TScanEntries*, const TIntegerDynArray& indexes) {
    if (indexes.Empty())
        return;
    WithUpdate(ListView, [&] {
        InsertItems(ListView, indexes);
        SetSelectedIndexes(ListView, indexes);
        const int last = indexes[indexes.Length() - 1];
        SetItemFocused(ListView, last, true);
        MakeItemVisible(ListView, last, false);
    });
}

void TScanEntriesView::EntriesRemoved(TScanEntries*, const TIntegerDynArray& indexes) {
    if (indexes.Empty())
        return;
    WithUpdate(ListView, [&] { DeleteItems(ListView, indexes); });
}

void TScanEntriesView::EntriesCleared(TScanEntries*) {
    if (ListView.ItemCount() == 0)
        return;
    WithUpdate(ListView, [&] { ListView.SetItemCount(0); });
}

void TScanEntriesView::EntriesReordered(TScanEntries*, const TListReorderRecords& records) {
    if (records.Empty())
        return;
    WithUpdate(ListView, [&] { ReorderItems(ListView, records); });
}

void TScanEntriesView::EntryChangedAt(TScanEntries*, int index) {
    ListView.UpdateItems(index, index);
}

TScanEntriesSelection::TScanEntriesSelection(TScanEntries& entries, TCustomListView& listView)
    : Entries(entries), ListView(listView) {}

int TScanEntriesSelection::SelectedCount() const {
    return ListView.SelectedCount();
}

TIntegerDynArray TScanEntriesSelection::GetSelectedIndices() const {
    return GetSelectedIndexes(ListView);
}

void TScanEntriesSelection::SetSelectedIndices(const TIntegerDynArray& indexes) {
    SetSelectedIndexes(ListView, indexes);
}

void TScanEntriesSelection::SelectAll() {
    if (ListView.ItemCount() == 0)
        return;
    WithUpdate(ListView, [&] { ListView.SelectAll(); });
}

void TScanEntriesSelection::ReverseSelection() {
    if (ListView.ItemCount() == 0)
        return;
    WithUpdate(ListView, [&] { ReverseItemSelection(ListView); });
}

} // namespace App_scanentries
