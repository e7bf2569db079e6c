// Byte-for-byte comparison without comparing every pair: the files that a scan may compare
// with each other are read once, chunk by chunk, and split by content as they go. Every
// pairwise question of the binaries matcher is then answered from that split, with the
// same cancel points and errors as reading the two files side by side. Internal to the
// scan unit.
#pragma once

#include "App_scan.h"
#include "App_scan_reading.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace App_scan {

class TScanContentPartition {
public:
    // The chunks of one block held in memory at once, at most; a larger block is told apart
    // by the chunks' hashes first, and the bytes of equal hashes are read again.
    static constexpr std::uint64_t DefaultBufferBudget = 16 << 20;
    // A block keeps its files open while it has at most this many members; a larger one
    // opens each file for each read.
    static constexpr std::size_t DefaultMaxOpenFiles = 256;

    // setOf: for each record, the number of its set, the records the scan may compare with
    // each other (of one size), or -1. cancelled: safe to call from any thread; true once
    // the scan's cancel points would stop it, which ends the reading of a set early.
    TScanContentPartition(const TScanRecords& records, const std::vector<int>& setOf,
                          std::function<bool()> cancelled,
                          std::uint64_t bufferBudget = DefaultBufferBudget,
                          std::size_t maxOpenFiles = DefaultMaxOpenFiles);
    ~TScanContentPartition();
    TScanContentPartition(const TScanContentPartition&) = delete;
    TScanContentPartition& operator=(const TScanContentPartition&) = delete;

    // For A and B of one size: reads their set when it is not read yet, then passes the
    // cancel points and raises the error that comparing the two files chunk by chunk would
    // (A's open, B's open; per chunk: the cancel point, A's read, B's read, the bytes; at
    // the end, whether A and then B grew or changed while they were read), and sets equal.
    // False when the caller is to compare them itself (not in one set, or the reading of
    // the set was stopped by a cancel).
    bool Answer(const TScanRecord& A, const TScanRecord& B, TScanMatcher& matcher, bool& equal);

    // For a pivot whose questions all reach this partition (the matchers before it decide by
    // the keys that made the sets): reads its set when it is not read yet, and gives in
    // ascending order the ungrouped members that Answer could answer other than false:
    // those equal to the pivot to the end, and those whose read failed. Every other question
    // would be answered false with no effect, so it need not be asked. False when the
    // caller is to offer every candidate: the pivot's own read failed (its error comes with
    // its first question), or a cancel stopped the reading.
    bool Candidates(int pivot, std::vector<int>& candidates);

private:
    static constexpr std::uint32_t Never = 0xFFFFFFFF;
    // A block of the split: the members that were equal up to the chunk it was made at.
    struct TNode {
        int Parent = -1;
        std::uint32_t Chunk = 0; // the chunk at which it was split off its parent
        std::uint32_t Depth = 0;
    };
    struct TMember {
        int Leaf = -1;                // the last block it belongs to
        std::uint32_t Failed = Never; // the chunk whose read failed or found the file short
        TReadEnd FailedAs = TReadEnd::reDone;
        TReadEnd Opened = TReadEnd::reDone; // could not be opened, or not the file listed
        TReadEnd AtEnd =
            TReadEnd::reDone; // equal to the end: it grew or changed, or the check failed
        bool Read = false;    // its set has been read
        // Its leaf's parent and chunk, copied once the set is read: most pairs part where
        // their leaves were split off one block, answered without looking at the nodes.
        int LeafParent = -1;
        std::uint32_t LeafChunk = 0;
    };

    // Members whose read failed (or that could not be opened) sort before the others,
    // which sort by leaf.
    int SortKey(int member) const {
        const TMember& state = State[member];
        return state.Opened != TReadEnd::reDone || state.Failed != Never ? -1 : state.Leaf;
    }
    // The record's index in the scan's records, or -1 for a record of another array.
    int IndexOf(const TScanRecord& record) const {
        const std::less<const TScanRecord*> before;
        if (before(&record, First) || !before(&record, First + Count))
            return -1;
        return static_cast<int>(&record - First);
    }
    // Reads the set and splits it; false when a cancel stopped it.
    bool ReadSet(int set);
    int NewNode(int parent, std::uint32_t chunk);
    // The first chunk at which a and b are no longer in one block; Never when they are
    // equal to the end.
    std::uint32_t Divergence(int a, int b) const;

    class TSetReader;

    const TScanRecord* First = nullptr;
    int Count = 0;
    // Numbered by record or set.
    template <typename T>
    using TNumbered = Kiv_framework::TIntIndexedVector<T>;

    TNumbered<int> SetOf;
    TNumbered<int> SetStart;  // set s is Members[SetStart[s] .. SetStart[s + 1])
    TNumbered<int> Members;   // record indices by set, ascending in each; by SortKey
                              // and index once the set is read
    TNumbered<TMember> State; // per record
    std::vector<TNode> Nodes;
    std::function<bool()> Cancelled;
    std::uint64_t BufferBudget;
    std::size_t MaxOpenFiles;
};

} // namespace App_scan
