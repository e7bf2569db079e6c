// The entry list: the file entry with its fields, text forms, image indexes and sort
// comparisons, the producer that turns path texts into entries and the ordered, owning
// entry collection with its five change events.
//
// Linux rules:
// - "/" is the separator: Directory is the path up to its last "/", without that "/"
//   unless it is the root ("/x" gives "/"); Name is the rest;
// - path identity (FindSamePaths, the producer's seen set) is byte for byte, so
//   /t/Read.me and /t/read.me are two entries; the name comparisons of the sorts stay
//   case-insensitive (Kiv_locale);
// - "*" and "?" are ordinary name characters: there is no pattern check;
// - symbolic links, sockets, FIFOs and devices in a listing give no entry; one given
//   directly that is neither a regular file nor a directory is refused.
#pragma once

#include "App_common.h"
#include "App_scan.h"
#include "Kiv_dynamicarrays.h"
#include "Kiv_files.h"
#include "Kiv_framework.h"
#include "Kiv_lists.h"

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace App_scanentries {

using App_scan::spPrimary;
using App_scan::spSecondary;
using App_scan::TScanPriority;
using App_scan::TScanRecord;
using Kiv_dynamicarrays::DynamicArray;
using Kiv_dynamicarrays::TIntegerDynArray;
using Kiv_files::TFileTime;
using Kiv_files::TFindData;
using Kiv_lists::TListReorderRecords;

// ---------------------------------------------------------------------------------------
// Scan entry

// The attribute bits an entry keeps: read-only, hidden, system, archive.
constexpr std::uint32_t EntryAttributeMask = App_scan::FactsAttributeMask;

// One file of the list. Everything but Priority, Hash and Group is captured at
// construction; a scan reads it again (SetFacts) before it compares anything.
//
// Memory: those fields are TFileFacts, shared with every scan record taken from the
// entry (a record costs a reference, not a copy); Directory, Name and BaseName are parts
// of Path, and the extension and type texts are shared by all entries that have them.
class TScanEntry {
public:
    // Fills the fields in table order from the path and the record's attribute bits,
    // times and size (never its name). Hash starts empty, Priority at spSecondary, Group
    // at -1. Raises whatever the file-type lookup raises (nothing is left behind).
    TScanEntry(const std::string& path, const TFindData& findData);
    virtual ~TScanEntry() = default;
    TScanEntry(const TScanEntry&) = delete;
    TScanEntry& operator=(const TScanEntry&) = delete;

    // The fourteen fields, by value, in order; nothing is converted, and the unchanging
    // ones are shared, not copied.
    virtual TScanRecord GetRecord() const;

    const std::string& Path() const { return Facts->Path(); }
    // The views stay valid while the entry lives.
    std::string_view Directory() const { return Facts->Directory(); }
    std::string_view Name() const { return Facts->Name(); }
    std::string_view BaseName() const { return Facts->BaseName(); }
    const std::string& Extension() const { return Facts->Extension(); }
    std::uint64_t Size() const { return Facts->Size(); }
    const std::string& Type() const { return Facts->Type(); }
    TFileTime CreationTime() const { return Kiv_files::UInt64ToFileTime(Facts->CreationTime()); }
    TFileTime LastWriteTime() const { return Kiv_files::UInt64ToFileTime(Facts->LastWriteTime()); }
    TFileTime LastAccessTime() const {
        return Kiv_files::UInt64ToFileTime(Facts->LastAccessTime());
    }
    std::uint32_t Attributes() const { return Facts->Attributes(); }
    // Which file it is (0 and 0 when unknown): one file under two names has the same.
    std::uint64_t Device() const { return Facts->Device(); }
    std::uint64_t Inode() const { return Facts->Inode(); }
    // ctime in nanoseconds since 1970 as listed; 0 when unknown.
    std::uint64_t ChangeTime() const { return Facts->ChangeTime(); }
    std::int32_t Group() const { return FGroup; }

    // Stores the group; any negative value is stored as -1.
    void SetGroup(std::int32_t group);
    // Takes the facts of its file read again (a scan's); facts of another path raise
    // EAppError and change nothing.
    void SetFacts(const App_scan::TFileFactsRef& facts);
    const App_scan::TFileFactsRef& SharedFacts() const { return Facts; }

    // Plain writable fields: the priority commands and the scan's write-back assign them.
    App_scan::THashText Hash;
    TScanPriority Priority = spSecondary;

private:
    std::int32_t FGroup = -1;
    App_scan::TFileFactsRef Facts;
};

// 0 for spPrimary, 1 for spSecondary; any other value raises EAppError "The program
// cannot accept the priority.".
int PriorityOrdinal(TScanPriority priority);

// The process-wide image indexes, assigned once by the main window at start.
extern int PrimaryImageIndex;
extern int SecondaryImageIndex;
extern int UngroupedImageIndex;
extern int UniqueImageIndex;
extern int GroupedImageIndex;

// Text forms, one per field.
std::string PathText(const TScanEntry& entry);
std::string DirectoryText(const TScanEntry& entry);
std::string NameText(const TScanEntry& entry);
std::string BaseNameText(const TScanEntry& entry);
std::string ExtensionText(const TScanEntry& entry);
std::string SizeText(const TScanEntry& entry);
std::string TypeText(const TScanEntry& entry);
std::string CreationTimeText(const TScanEntry& entry);
std::string LastWriteTimeText(const TScanEntry& entry);
std::string LastAccessTimeText(const TScanEntry& entry);
std::string AttributesText(const TScanEntry& entry);
std::string HashText(const TScanEntry& entry);
std::string PriorityText(const TScanEntry& entry);
std::string GroupText(const TScanEntry& entry);

int PriorityImageIndex(const TScanEntry& entry);
int GroupImageIndex(const TScanEntry& entry);

// Comparisons: negative, 0 or positive for a before, equal to or after b.
int ComparePath(const TScanEntry& a, const TScanEntry& b);
int CompareDirectory(const TScanEntry& a, const TScanEntry& b);
int CompareName(const TScanEntry& a, const TScanEntry& b);
int CompareBaseName(const TScanEntry& a, const TScanEntry& b);
int CompareExtension(const TScanEntry& a, const TScanEntry& b);
int CompareSize(const TScanEntry& a, const TScanEntry& b);
int CompareType(const TScanEntry& a, const TScanEntry& b);
int CompareCreationTime(const TScanEntry& a, const TScanEntry& b);
int CompareLastWriteTime(const TScanEntry& a, const TScanEntry& b);
int CompareLastAccessTime(const TScanEntry& a, const TScanEntry& b);
int CompareAttributes(const TScanEntry& a, const TScanEntry& b);
int CompareHash(const TScanEntry& a, const TScanEntry& b);
int ComparePriority(const TScanEntry& a, const TScanEntry& b);
int CompareGroup(const TScanEntry& a, const TScanEntry& b);

using TScanEntryArray = DynamicArray<TScanEntry*>;

// Entries made on a worker thread, with what adding them to an empty list needs: the list
// then takes the batch's own vector and index list, and the main thread writes no memory
// of its own for them (for a million entries, 12 MB of fresh pages in one turn of its
// event loop).
struct TScanEntryBatch {
    TScanEntryBatch() = default;
    explicit TScanEntryBatch(std::vector<std::unique_ptr<TScanEntry>> entries);

    std::vector<std::unique_ptr<TScanEntry>> Entries;
    // 0, 1, ..., the last index of Entries, as the constructor makes it; an empty list
    // raises its added event with it.
    TIntegerDynArray Indexes;
};

// ---------------------------------------------------------------------------------------
// Entry producer

// Turns path texts into new entries, one path or one directory per Step: every given
// path first, in the order given, then the directories found, breadth first. Every path
// is taken once per production. Destroying the producer without Release destroys every
// entry produced so far, so a failed add leaves nothing behind.
class TListingReadAhead;

class TScanEntryProducer {
public:
    explicit TScanEntryProducer(const DynamicArray<std::string>& paths);
    virtual ~TScanEntryProducer();
    TScanEntryProducer(const TScanEntryProducer&) = delete;
    TScanEntryProducer& operator=(const TScanEntryProducer&) = delete;

    // One unit of work; false when nothing is left. Errors leave at once:
    // EAppError "The program cannot accept the file \"%s\"." (a bad, vanished or
    // unacceptable given path, as it was given), "The program cannot find the file
    // \"%s\"." (a directory that is gone) and "The program could not read the directory
    // \"%s\"." (one that is there but cannot be listed) - unless OnSkip is set.
    virtual bool Step();

    // When set, a path or directory that cannot be taken is reported through it with its
    // message and left out, and the production goes on (the command line's way; the
    // window's add is all or nothing).
    std::function<void(const std::string& message)> OnSkip;
    int SkippedCount() const { return Skipped; }
    // Gives up the produced entries without destroying them.
    virtual void Release();
    // Hands the produced entries over, owned and of the priority, for the list's AddBatch;
    // the producer keeps none.
    TScanEntryBatch TakeBatch(TScanPriority priority);
    // The produced entries in production order (still owned by the producer until
    // Release).
    TScanEntryArray GetEntries() const;

    int ProducedCount() const { return static_cast<int>(ProducedEntries.size()); }
    // The path or folder the last step took, for a progress report.
    const std::string& Reading() const { return FReading; }

private:
    std::string FReading;
    void AddPath(const std::string& text);
    // Runs one step, handing its error to OnSkip when that is set.
    void Skipping(const std::function<void()>& step);
    void AddDirectory(const std::string& directory);
    // A given directory has no parent; a found one is opened through its parent.
    void QueueDirectory(const std::string& directory, std::shared_ptr<Kiv_files::TDirectory> parent,
                        const TFindData& record);

    std::deque<std::string> PendingPaths;
    std::deque<std::string> PendingDirectories;
    // Lists the pending directories ahead, on a thread of its own; made with the first.
    std::unique_ptr<TListingReadAhead> ReadAhead;
    // The paths given and the directories met: every path is taken once per production.
    Kiv_files::TPathList SeenPaths;
    std::vector<std::unique_ptr<TScanEntry>> ProducedEntries;
    int GivenFiles = 0; // given paths that were files
    int Skipped = 0;
};

// ---------------------------------------------------------------------------------------
// Entry collection

// The ordered, owning entry list. Every change is reported after it is complete through
// one of the five events, each with at most one subscriber.
class TScanEntries : public App_common::TModel {
public:
    using TIndexesEvent = Kiv_framework::TEvent<TScanEntries*, const TIntegerDynArray&>;
    using TClearedEvent = Kiv_framework::TEvent<TScanEntries*>;
    using TReorderedEvent = Kiv_framework::TEvent<TScanEntries*, const TListReorderRecords&>;
    using TChangedEvent = Kiv_framework::TEvent<TScanEntries*, int>;

    TScanEntries() = default;
    ~TScanEntries() override = default; // destroys the entries, raises nothing
    TScanEntries(const TScanEntries&) = delete;
    TScanEntries& operator=(const TScanEntries&) = delete;

    int Count() const { return static_cast<int>(Entries.size()); }
    // An index outside 0..Count - 1 raises Kiv_framework::ERangeError.
    TScanEntry& Item(int index) const;

    virtual void DoAdded(const TIntegerDynArray& indexes);
    virtual void DoRemoved(const TIntegerDynArray& indexes);
    virtual void DoCleared();
    virtual void DoReordered(const TListReorderRecords& records);
    virtual void DoChanged(int index);

    // Appends the new entries (nothing for an empty batch) after removing the present
    // entries that have the path of a new one, then raises OnAdded with the new indexes.
    // Ownership of the entries passes when they are appended: an error raised before
    // (by the removal or its OnRemoved subscriber, or a failed allocation) leaves them
    // with the caller; an error of the OnAdded subscriber comes after it passed.
    virtual void Add(const TScanEntryArray& entries);
    // Add for a batch, whose entries are owned by the list afterwards (by the batch still,
    // after an error raised before they were appended). Into an empty list the batch's
    // vector and index list are taken as they are.
    void AddBatch(TScanEntryBatch&& batch);
    // Destroys the entries at the ascending, duplicate-free indexes (one pass), then
    // raises OnRemoved with them. A bad index raises ERangeError before anything changes.
    virtual void Remove(const TIntegerDynArray& indexes);
    virtual void Clear();
    // Stable ascending sorts by one key (the Compare functions above); each key is
    // computed once per sort.
    virtual void SortByPath();
    virtual void SortByDirectory();
    virtual void SortByName();
    virtual void SortByBaseName();
    virtual void SortByExtension();
    virtual void SortBySize();
    virtual void SortByType();
    virtual void SortByCreationTime();
    virtual void SortByLastWriteTime();
    virtual void SortByLastAccessTime();
    virtual void SortByAttributes();
    virtual void SortByHash();
    virtual void SortByPriority();
    virtual void SortByGroup();
    virtual void ReverseOrder();
    virtual void MoveUp(const TIntegerDynArray& indexes);
    virtual void MoveDown(const TIntegerDynArray& indexes);
    // Applies the moves and raises OnReordered; nothing for an empty move list.
    virtual void Reorder(const TListReorderRecords& records);
    // The index of that very object, -1 when absent.
    virtual int IndexOf(const TScanEntry* entry) const;
    // Ascending indexes of present entries whose Path equals (byte for byte) the Path of
    // a new entry.
    virtual TIntegerDynArray FindSamePaths(const TScanEntryArray& entries) const;
    virtual TIntegerDynArray GetDuplicateIndices() const;
    virtual TIntegerDynArray GetUniqueIndices() const;
    virtual int GetDuplicateCount() const;
    virtual int GetUniqueCount() const;
    virtual int GetGroupCount() const;
    virtual int CountPriority(TScanPriority priority) const;
    // A negative group counts the ungrouped entries (-1).
    virtual int CountGroup(std::int32_t group) const;
    virtual void EntryChanged(int index);
    // Counts every add, removal, clearing and entry change (not a reorder): what was
    // worked out from the entries, such as which groups are in the list, holds while it
    // stays the same.
    std::uint64_t ChangeCount() const { return FChangeCount; }

    TIndexesEvent OnAdded;
    TIndexesEvent OnRemoved;
    TClearedEvent OnCleared;
    TReorderedEvent OnReordered;
    TChangedEvent OnChanged;

private:
    // Sorts by per-entry keys that order exactly as the key's comparison does.
    void SortByKeys(const std::vector<std::uint64_t>& keys);
    // Add's work; changedHands (which must not raise) runs once the list owns the entries.
    void Append(const TScanEntryArray& entries, const std::function<void()>& changedHands);
    TIntegerDynArray IndicesWhere(int count, bool (*test)(const TScanEntry&)) const;

    std::vector<std::unique_ptr<TScanEntry>> Entries;
    std::uint64_t FChangeCount = 0;
};

// Turns paths into entries and appends them to the list, all or nothing: a failure leaves
// the list as it was. Directories give every regular file beneath them. The entries get
// the priority. With onSkip set, paths and directories that cannot be taken are reported
// through it and left out instead (returns how many); interrupted is asked between the
// steps and ends the add with EAbort when it answers true.
int AddPathsToList(TScanEntries& entries, const DynamicArray<std::string>& paths,
                   TScanPriority priority = spSecondary,
                   const std::function<void(const std::string&)>& onSkip = nullptr,
                   const std::function<bool()>& interrupted = nullptr);

} // namespace App_scanentries
