// The candidate finder of the grouping command: which records a pivot is offered, as far
// as the matchers' key declarations tell without asking them. Internal to the scan unit.
#pragma once

#include "App_scan.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace App_scan {

// Appends a number's bytes to a key.
inline void AppendInteger(std::uint64_t value, std::string& key) {
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// Fingerprints to numbers (0 or more) in a flat open-addressing table, as a scan may put a
// million of them in it. FindOrAdd gives a new fingerprint the number it is given.
class TFingerprintTable {
public:
    TFingerprintTable() { Rehash(16); }

    int Find(std::uint64_t fingerprint) const { return Slots[SlotOf(fingerprint)].Number; }

    int FindOrAdd(std::uint64_t fingerprint, int number) {
        TSlot& slot = Slots[SlotOf(fingerprint)];
        if (slot.Number >= 0)
            return slot.Number;
        slot = {fingerprint, number};
        if (2 * ++Count > Slots.size())
            Rehash(2 * Slots.size());
        return number;
    }

private:
    struct TSlot {
        std::uint64_t Fingerprint = 0;
        int Number = -1; // -1: empty
    };

    // The slot that holds the fingerprint, or the empty one where it would go.
    std::size_t SlotOf(std::uint64_t fingerprint) const {
        std::size_t at = fingerprint & Mask;
        while (Slots[at].Number >= 0 && Slots[at].Fingerprint != fingerprint)
            at = (at + 1) & Mask;
        return at;
    }

    void Rehash(std::size_t size) {
        std::vector<TSlot> old(size);
        old.swap(Slots);
        Mask = size - 1;
        for (const TSlot& slot : old)
            if (slot.Number >= 0)
                Slots[SlotOf(slot.Fingerprint)] = slot;
    }

    std::vector<TSlot> Slots;
    std::size_t Mask = 0;
    std::size_t Count = 0;
};

// Who can equal whom, as far as the matchers' key declarations tell without asking them.
//
// The plain algorithm hands the pivot every ungrouped record, in ascending order. A pair
// that a leading mkDecisive matcher (or an mkExcluding one right after those) tells apart
// gets false from the chain with no effect, so the records are split once into classes by
// their keys, and a pivot is offered only the ungrouped records of its class, still in
// ascending order.
//
// When the hash matcher comes right after those matchers, a class is split further into
// buckets by hash. A pivot with a hash is offered the records with the same hash and those
// with none yet, in one ascending merge; a pivot without one is offered the class in order
// until a call has computed its hash (the first call does). Hashes appear during the run
// only in "open" classes, those with members that had no hash at the start; there every
// hash has its bucket, looked up by (class, hash), so that a record that gets its hash can
// join it. In a closed class a hash that only one member has needs no bucket at all, and
// an open class closes as soon as every member has its hash, which its first pivot's run
// brings about.
//
// Classes and buckets go by 64-bit fingerprints of the keys. Equal keys always meet; a
// collision could only put records with different keys together, whose pairs are then
// offered and answered false, as in the plain algorithm. So only pairs whose keys differ
// are ever left out, each of which matchers without effect would have answered false, and
// every pair offered reaches the chain in the plain algorithm's order. Nothing here reads
// a file or passes a cancel point.
class TCandidateFinder {
public:
    TCandidateFinder(const TScanRecords& records, const TScanMatchers& matchers);

    // Calls visit(m) for each candidate m of the pivot, ascending. The pivot is grouped
    // by the end of its run, which the finder relies on. After visit raises, the finder
    // is not used again.
    void ForEachCandidate(int pivot, const std::function<void(int)>& visit);

    // Builds the split by hash again, before the first ForEachCandidate, once records were
    // given hashes (by the hash cache): they count as hashes the records came with.
    void RebuildHashLevel();

    // The index of the hash matcher when the finder splits classes by hash, or -1.
    int HashLevel() const { return HashMatcher ? HashIndex : -1; }
    // The class of a record: only records of one class are ever offered to each other.
    int ClassOfRecord(int index) const { return ClassOf[index]; }
    // The records whose hashes the run computes unless it ends early, in the order it
    // computes them: in each class with a member still without a hash, all such members
    // when the class's first primary becomes the pivot. A pivot without a hash is computed
    // right after the first member it is paired with.
    std::vector<int> HashPlan() const;

private:
    using TList = std::vector<int>;
    // Numbered by record, class or bucket.
    template <typename T>
    using TNumbered = Kiv_framework::TIntIndexedVector<T>;

    bool Grouped(int index) const { return Records[index].Group >= 0; }
    // Puts the record's hash, if it has one, into Scratch.
    bool HasHash(int index) {
        Scratch.clear();
        return HashMatcher->GetMatchKey(Records[index], Scratch);
    }
    int ClassSize(int cls) const { return ClassStart[cls + 1] - ClassStart[cls]; }
    bool IsOpen(int cls) const { return NoHash[cls] >= 0; }

    void BuildClasses(const std::vector<const TScanMatcher*>& classMatchers);
    void BuildHashLevel();
    void BuildBuckets(int cls);
    // Once every ungrouped member of an open class has its hash, the class is closed: only
    // hashes that two or more of them share keep a bucket.
    void CloseClass(int cls);
    // Files the members in Entries into buckets by their hashes: every hash in an open
    // class (a member that gets its hash later must find its bucket), in a closed class
    // only a hash that two or more share.
    void FileEntries(int cls);
    int NewBucket();
    void AddToBucket(int bucket, int index);
    // The bucket of (class, hash) in an open class, -1 when there is none; add makes one.
    int OpenBucket(int cls, std::uint64_t hash, bool add);

    int NextClassMember(int cls, int cursor, int pivot);
    int NextInBucket(const TList& bucket, std::size_t& position, int pivot) const;
    void VisitClass(int cls, int pivot, const std::function<void(int)>& visit);
    void VisitByHash(int cls, int pivot, const std::function<void(int)>& visit);

    TScanRecords Records;
    const TScanMatcher* HashMatcher = nullptr; // the hash level, when there is one
    int HashIndex = -1;                        // its place in the chain
    TNumbered<int> ClassOf;                    // the class of each record
    TNumbered<int> Members;                    // all records by class, ascending in each
    TNumbered<int> ClassStart;                 // class c is Members[ClassStart[c]..]
    TNumbered<int> ClassLength;                // its live length (compacted, no hash level)
    TNumbered<int> ClassFront;                 // position of its first possibly ungrouped

    // The hash level. BucketOf: the bucket of a record with a hash (-1: none needed);
    // NoHash: per class, the bucket of its members without a hash (-1: a closed class).
    TNumbered<TList> Buckets;
    TNumbered<int> BucketOf;
    TNumbered<int> NoHash;
    TNumbered<std::uint64_t> HashOf; // each record's hash at the start; while building only
    TNumbered<bool> HadHash;         // whether it had one
    TFingerprintTable OpenBuckets;   // (class, hash) -> bucket, in open classes
    std::vector<int> Hashed;         // ungrouped members that got their hash in the current run
    struct TEntry {
        std::uint64_t Hash;
        int Index;
    };
    std::vector<TEntry> Entries; // BuildBuckets' work list
    std::string Scratch;
};

} // namespace App_scan
