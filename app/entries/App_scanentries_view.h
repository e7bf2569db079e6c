// The list control's mirror of the entry collection, and the selection as a model.
//
// TScanEntriesView keeps the rows of an owner-data list in step with TScanEntries through
// the collection's five events, so that each row's selection and focus stay with its
// entry. TScanEntriesSelection is what the commands read and set; the selection itself
// lives only in the control's row states.
#pragma once

#include "App_common.h"
#include "App_scanentries.h"
#include "Kiv_listviews.h"

namespace App_scanentries {

class TScanEntriesView : public App_common::TView {
public:
    // Subscribes to the five events of the collection, replacing earlier subscribers. It
    // does not unsubscribe: its owner destroys it only when the collection changes no more.
    TScanEntriesView(TScanEntries& entries, Kiv_listviews::TCustomListView& listView);

    // The new rows become the selection, the last one focused and scrolled fully into view.
    virtual void EntriesAdded(TScanEntries* sender, const TIntegerDynArray& indexes);
    virtual void EntriesRemoved(TScanEntries* sender, const TIntegerDynArray& indexes);
    virtual void EntriesCleared(TScanEntries* sender);
    virtual void EntriesReordered(TScanEntries* sender, const TListReorderRecords& records);
    // Redraws the row.
    virtual void EntryChangedAt(TScanEntries* sender, int index);

private:
    TScanEntries& Entries;
    Kiv_listviews::TCustomListView& ListView;
};

class TScanEntriesSelection : public App_common::TModel {
public:
    TScanEntriesSelection(TScanEntries& entries, Kiv_listviews::TCustomListView& listView);

    int SelectedCount() const;
    // Ascending.
    TIntegerDynArray GetSelectedIndices() const;
    // Exactly these rows become selected; an empty array clears the selection.
    void SetSelectedIndices(const TIntegerDynArray& indexes);
    virtual void SelectAll();
    virtual void ReverseSelection();

private:
    TScanEntries& Entries;
    Kiv_listviews::TCustomListView& ListView;
};

} // namespace App_scanentries
