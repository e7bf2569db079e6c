#include "App_scan.h"

#include "App_common.h"
#include "App_scan_binaries.h"
#include "App_scan_reading.h"
#include "Kiv_hash.h"
#include "Kiv_locale.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <utility>

namespace App_scan {

namespace {

void AppendInteger(std::uint64_t value, std::string& key) {
    key.append(reinterpret_cast<const char*>(&value), sizeof value);
}

} // namespace

// ---------------------------------------------------------------------------------------
// TScanMatcher and the metadata matchers

void TScanMatcher::CheckContinue() {
    if (!QueryContinue())
        Kiv_framework::Abort();
}

bool TScanMatcher::QueryContinue() {
    bool continueScan = true;
    OnQueryContinue(this, continueScan);
    return continueScan;
}

bool TScanMatcher::Reading(const std::function<void()>& read) {
    try {
        read();
        return true;
    } catch (const EScanFileError& error) {
        if (!OnFileError)
            throw;
        LeftOut.insert(error.Record);
        OnFileError(this, error.Message());
        return false;
    }
}

bool TScanMatcher::IsLeftOut(const TScanRecord& record) const {
    return LeftOut.contains(&record);
}

TMatchKeyKind TScanMatcher::KeyKind() const {
    return TMatchKeyKind::mkNone;
}

bool TScanMatcher::GetMatchKey(const TScanRecord&, std::string&) const {
    return false;
}

// Each metadata matcher is a pure function of one field, and its key is that field in the
// form its equality compares: lowered for the four name criteria, as it is otherwise.
#define SORVIK_METADATA_MATCHER(Class, Equal, Key)                                                 \
    bool Class::Match(TScanRecord& A, TScanRecord& B) {                                            \
        return Equal;                                                                              \
    }                                                                                              \
    TMatchKeyKind Class::KeyKind() const {                                                         \
        return TMatchKeyKind::mkDecisive;                                                          \
    }                                                                                              \
    bool Class::GetMatchKey(const TScanRecord& record, std::string& key) const {                   \
        Key;                                                                                       \
        return true;                                                                               \
    }

SORVIK_METADATA_MATCHER(TScanDirectoryMatcher,
                        Kiv_locale::SameFileName(A.Directory(), B.Directory()),
                        Kiv_locale::AppendLowerFileName(record.Directory(), key))
SORVIK_METADATA_MATCHER(TScanNameMatcher, Kiv_locale::SameFileName(A.Name(), B.Name()),
                        Kiv_locale::AppendLowerFileName(record.Name(), key))
SORVIK_METADATA_MATCHER(TScanBaseNameMatcher, Kiv_locale::SameFileName(A.BaseName(), B.BaseName()),
                        Kiv_locale::AppendLowerFileName(record.BaseName(), key))
SORVIK_METADATA_MATCHER(TScanExtensionMatcher,
                        Kiv_locale::SameFileName(A.Extension(), B.Extension()),
                        Kiv_locale::AppendLowerFileName(record.Extension(), key))
SORVIK_METADATA_MATCHER(TScanSizeMatcher, A.Size() == B.Size(), AppendInteger(record.Size(), key))
// Type names are compared case-sensitively: exact byte equality.
SORVIK_METADATA_MATCHER(TScanTypeMatcher, A.Type() == B.Type(), key += record.Type())
SORVIK_METADATA_MATCHER(TScanCreationTimeMatcher, A.CreationTime() == B.CreationTime(),
                        AppendInteger(record.CreationTime(), key))
SORVIK_METADATA_MATCHER(TScanLastWriteTimeMatcher, A.LastWriteTime() == B.LastWriteTime(),
                        AppendInteger(record.LastWriteTime(), key))
SORVIK_METADATA_MATCHER(TScanLastAccessTimeMatcher, A.LastAccessTime() == B.LastAccessTime(),
                        AppendInteger(record.LastAccessTime(), key))
SORVIK_METADATA_MATCHER(TScanAttributesMatcher, A.Attributes() == B.Attributes(),
                        AppendInteger(record.Attributes(), key))

#undef SORVIK_METADATA_MATCHER

// ---------------------------------------------------------------------------------------
// The content matchers

namespace {

Kiv_autopointers::TAutoArray<unsigned char> NewReadBuffer() {
    return std::make_unique<unsigned char[]>(ReadChunkSize);
}

} // namespace

TScanHashMatcher::TScanHashMatcher() : Buffer(NewReadBuffer()) {}

TScanHashMatcher::~TScanHashMatcher() = default;

bool TScanHashMatcher::Match(TScanRecord& A, TScanRecord& B) {
    if (IsLeftOut(A) || IsLeftOut(B))
        return false;
    // The candidate first.
    return Reading([&] { EnsureHash(B); }) && Reading([&] { EnsureHash(A); }) && A.Hash == B.Hash;
}

// Two records that both carry a hash are compared by their texts alone: no file is read
// and no cancel point is passed. A record without one has no key until it is computed.
TMatchKeyKind TScanHashMatcher::KeyKind() const {
    return TMatchKeyKind::mkDecisiveWhenKnown;
}

bool TScanHashMatcher::GetMatchKey(const TScanRecord& record, std::string& key) const {
    if (record.Hash.empty())
        return false;
    record.Hash.AppendKey(key);
    return true;
}

TScanRecord& TScanHashMatcher::EnsureHash(TScanRecord& record) {
    if (record.Hash.empty() && !(ReadAhead && ReadAhead->Take(record, *this)))
        ComputeHash(record);
    return record;
}

void TScanHashMatcher::SetReadAhead(TScanHashReadAhead* readAhead) {
    ReadAhead = readAhead;
}

void TScanHashMatcher::ComputeHash(TScanRecord& record) {
    THashText hash;
    int reads = 0;
    const auto check = [this] {
        CheckContinue();
        return true;
    };
    // A read that fails is an error, never the end of the file: a failure must not pass
    // for the hash of a shorter file. Nor may a file that changed since it was listed.
    const THashEnd end = HashFile(record, Buffer.get(), check, hash, reads);
    if (end == THashEnd::heChanged)
        RaiseFileError(ChangedErrorMessage, record);
    if (end != THashEnd::heDone)
        RaiseFileError(HashErrorMessage, record);
    record.Hash = std::move(hash);
}

TScanBinariesMatcher::TScanBinariesMatcher() : Buffer1(NewReadBuffer()), Buffer2(NewReadBuffer()) {}

TScanBinariesMatcher::~TScanBinariesMatcher() = default;

bool TScanBinariesMatcher::Match(TScanRecord& A, TScanRecord& B) {
    if (A.Size() != B.Size() || IsLeftOut(A) || IsLeftOut(B))
        return false;
    bool equal = false;
    return Reading([&] { equal = Compare(A, B); }) && equal;
}

bool TScanBinariesMatcher::Compare(TScanRecord& A, TScanRecord& B) {
    bool equal = false;
    if (Partition && Partition->Answer(A, B, *this, equal))
        return equal;
    // Each file opened and checked to be the one listed, A first; then per chunk a cancel
    // point, A's read, B's read and the bytes; at the end, that neither file grew.
    TReadOnlyFile fileA(A);
    RaiseReadEnd(fileA.State(), OpenErrorMessage, A);
    TReadOnlyFile fileB(B);
    RaiseReadEnd(fileB.State(), OpenErrorMessage, B);
    for (std::uint64_t offset = 0; offset < A.Size();) {
        CheckContinue();
        const auto chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(ReadChunkSize, A.Size() - offset));
        RaiseReadEnd(fileA.ReadExact(Buffer1.get(), chunk), ReadErrorMessage, A);
        RaiseReadEnd(fileB.ReadExact(Buffer2.get(), chunk), ReadErrorMessage, B);
        if (std::memcmp(Buffer1.get(), Buffer2.get(), chunk) != 0)
            return false;
        offset += chunk;
    }
    RaiseReadEnd(fileA.EndsAt(A.Size()), ReadErrorMessage, A);
    RaiseReadEnd(fileB.EndsAt(B.Size()), ReadErrorMessage, B);
    return true;
}

// Files of different sizes are told apart without opening anything; equal sizes need the
// bytes.
TMatchKeyKind TScanBinariesMatcher::KeyKind() const {
    return TMatchKeyKind::mkExcluding;
}

bool TScanBinariesMatcher::GetMatchKey(const TScanRecord& record, std::string& key) const {
    AppendInteger(record.Size(), key);
    return true;
}

// ---------------------------------------------------------------------------------------
// TScanMatchers

int TScanMatchers::Add(TScanMatcher* matcher) {
    Kiv_autopointers::TAutoPointer<TScanMatcher> owned(matcher);
    Items.push_back(std::move(owned));
    return Count() - 1;
}

bool TScanMatchers::Match(TScanRecord& A, TScanRecord& B) {
    for (const auto& matcher : Items)
        if (!matcher->Match(A, B))
            return false;
    return true;
}

// ---------------------------------------------------------------------------------------
// The candidate finder

namespace {

std::uint64_t Fingerprint(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

// One fingerprint of two (splitmix64's finaliser over their mix).
std::uint64_t Combine(std::uint64_t a, std::uint64_t b) {
    std::uint64_t x = a + 0x9E3779B97F4A7C15ull * (b + 1);
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
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

    // The index of the hash matcher when the finder splits classes by hash, or -1.
    int HashLevel() const { return HashMatcher ? HashIndex : -1; }
    // The class of a record: only records of one class are ever offered to each other.
    int ClassOfRecord(int index) const { return ClassOf[static_cast<std::size_t>(index)]; }
    // The records whose hashes the run computes unless it ends early, in the order it
    // computes them: in each class with a member still without a hash, all such members
    // when the class's first primary becomes the pivot. A pivot without a hash is computed
    // right after the first member it is paired with.
    std::vector<int> HashPlan() const;

private:
    using TList = std::vector<int>;

    bool Grouped(int index) const { return Records[index].Group >= 0; }
    // Puts the record's hash, if it has one, into Scratch.
    bool HasHash(int index) {
        Scratch.clear();
        return HashMatcher->GetMatchKey(Records[index], Scratch);
    }
    int ClassSize(int cls) const { return ClassStart[cls + 1] - ClassStart[cls]; }
    bool IsOpen(int cls) const { return NoHash[cls] >= 0; }

    void BuildClasses(const std::vector<const TScanMatcher*>& classMatchers);
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
    std::vector<int> ClassOf;                  // the class of each record
    std::vector<int> Members;                  // all records by class, ascending in each
    std::vector<int> ClassStart;               // class c is Members[ClassStart[c]..]
    std::vector<int> ClassLength;              // its live length (compacted, no hash level)
    std::vector<int> ClassFront;               // position of its first possibly ungrouped

    // The hash level. BucketOf: the bucket of a record with a hash (-1: none needed);
    // NoHash: per class, the bucket of its members without a hash (-1: a closed class).
    std::vector<TList> Buckets;
    std::vector<int> BucketOf;
    std::vector<int> NoHash;
    std::vector<std::uint64_t> HashOf; // fingerprint of each record's hash at the start
    std::vector<bool> HadHash;         // whether it had one
    TFingerprintTable OpenBuckets;     // (class, hash) -> bucket, in open classes
    std::vector<int> Hashed;           // ungrouped members that got their hash in the current run
    struct TEntry {
        std::uint64_t Hash;
        int Index;
    };
    std::vector<TEntry> Entries; // BuildBuckets' work list
    std::string Scratch;
};

TCandidateFinder::TCandidateFinder(const TScanRecords& records, const TScanMatchers& matchers)
    : Records(records) {
    std::vector<const TScanMatcher*> classMatchers;
    int next = 0;
    while (next < matchers.Count() && matchers[next].KeyKind() == TMatchKeyKind::mkDecisive)
        classMatchers.push_back(&matchers[next++]);
    if (next < matchers.Count()) {
        if (matchers[next].KeyKind() == TMatchKeyKind::mkExcluding)
            classMatchers.push_back(&matchers[next]);
        else if (matchers[next].KeyKind() == TMatchKeyKind::mkDecisiveWhenKnown) {
            HashMatcher = &matchers[next];
            HashIndex = next;
        }
    }
    BuildClasses(classMatchers);
    if (HashMatcher) {
        // The hashes are read once, in record order: the classes visit the records in an
        // order that the memory does not like.
        const auto count = static_cast<std::size_t>(records.Length());
        HashOf.assign(count, 0);
        HadHash.assign(count, false);
        for (int i = 0; i < records.Length(); ++i)
            if (ClassSize(ClassOf[i]) >= 2 && HasHash(i)) {
                HadHash[i] = true;
                HashOf[i] = Fingerprint(Scratch);
            }
        BucketOf.assign(count, -1);
        NoHash.assign(ClassLength.size(), -1);
        for (int c = 0; c < static_cast<int>(ClassLength.size()); ++c)
            if (ClassSize(c) >= 2) // a class of one offers its pivot nothing
                BuildBuckets(c);
    }
}

void TCandidateFinder::BuildClasses(const std::vector<const TScanMatcher*>& classMatchers) {
    // Classes, numbered in the order of their first records; one class without matchers.
    const int count = Records.Length();
    ClassOf.assign(static_cast<std::size_t>(count), 0);
    int classCount = count > 0 ? 1 : 0;
    if (!classMatchers.empty()) {
        classCount = 0;
        TFingerprintTable classNumbers;
        std::string key, part;
        for (int i = 0; i < count; ++i) {
            key.clear();
            for (const TScanMatcher* matcher : classMatchers) {
                part.clear();
                matcher->GetMatchKey(Records[i], part);
                AppendInteger(part.size(), key); // each key framed by its length
                key += part;
            }
            ClassOf[i] = classNumbers.FindOrAdd(Fingerprint(key), classCount);
            if (ClassOf[i] == classCount)
                ++classCount;
        }
    }
    // The members of each class in ascending order (a counting sort).
    ClassStart.assign(static_cast<std::size_t>(classCount) + 1, 0);
    for (const int cls : ClassOf)
        ++ClassStart[cls + 1];
    for (int c = 0; c < classCount; ++c)
        ClassStart[c + 1] += ClassStart[c];
    ClassFront.assign(ClassStart.begin(), ClassStart.end() - 1);
    Members.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        Members[ClassFront[ClassOf[i]]++] = i;
    ClassFront.assign(ClassStart.begin(), ClassStart.end() - 1);
    ClassLength.resize(static_cast<std::size_t>(classCount));
    for (int c = 0; c < classCount; ++c)
        ClassLength[c] = ClassSize(c);
}

std::vector<int> TCandidateFinder::HashPlan() const {
    std::vector<int> plan;
    if (!HashMatcher)
        return plan;
    std::vector<bool> planned(ClassLength.size(), false);
    for (int pivot = 0; pivot < Records.Length(); ++pivot) {
        const int cls = ClassOf[pivot];
        if (Records[pivot].Priority != spPrimary || planned[cls] || ClassSize(cls) < 2 ||
            !IsOpen(cls))
            continue;
        planned[cls] = true;
        bool pivotDue = !HadHash[pivot];
        for (int k = ClassStart[cls]; k < ClassStart[cls + 1]; ++k) {
            const int m = Members[k];
            if (m == pivot)
                continue;
            if (!HadHash[m])
                plan.push_back(m);
            if (pivotDue) {
                plan.push_back(pivot);
                pivotDue = false;
            }
        }
    }
    return plan;
}

int TCandidateFinder::NewBucket() {
    Buckets.emplace_back();
    return static_cast<int>(Buckets.size()) - 1;
}

// Buckets stay ascending also when a fingerprint collision makes two hashes (or classes)
// share one: then the index is inserted in its place instead of appended.
void TCandidateFinder::AddToBucket(int bucket, int index) {
    TList& list = Buckets[bucket];
    list.insert(std::upper_bound(list.begin(), list.end(), index), index);
}

int TCandidateFinder::OpenBucket(int cls, std::uint64_t hash, bool add) {
    const std::uint64_t key = Combine(static_cast<std::uint64_t>(cls), hash);
    if (!add)
        return OpenBuckets.Find(key);
    const int bucket = OpenBuckets.FindOrAdd(key, static_cast<int>(Buckets.size()));
    if (bucket == static_cast<int>(Buckets.size()))
        NewBucket();
    return bucket;
}

void TCandidateFinder::BuildBuckets(int cls) {
    Entries.clear();
    for (int k = ClassStart[cls]; k < ClassStart[cls + 1]; ++k) {
        const int i = Members[k];
        if (HadHash[i]) {
            Entries.push_back({HashOf[i], i});
        } else {
            if (NoHash[cls] < 0)
                NoHash[cls] = NewBucket();
            AddToBucket(NoHash[cls], i);
        }
    }
    FileEntries(cls);
}

void TCandidateFinder::CloseClass(int cls) {
    Entries.clear();
    for (int k = ClassStart[cls]; k < ClassStart[cls + 1]; ++k) {
        const int m = Members[k];
        if (BucketOf[m] >= 0) {
            TList().swap(Buckets[BucketOf[m]]);
            BucketOf[m] = -1;
        }
        if (!Grouped(m) && HasHash(m))
            Entries.push_back({Fingerprint(Scratch), m});
    }
    TList().swap(Buckets[NoHash[cls]]);
    NoHash[cls] = -1;
    FileEntries(cls);
}

void TCandidateFinder::FileEntries(int cls) {
    // Sorted by hash and then by index: the members of one hash lie together, in
    // ascending order.
    std::sort(Entries.begin(), Entries.end(), [](const TEntry& a, const TEntry& b) {
        return a.Hash != b.Hash ? a.Hash < b.Hash : a.Index < b.Index;
    });
    for (std::size_t run = 0; run < Entries.size();) {
        std::size_t end = run + 1;
        while (end < Entries.size() && Entries[end].Hash == Entries[run].Hash)
            ++end;
        if (IsOpen(cls) || end - run >= 2) {
            const int bucket = IsOpen(cls) ? OpenBucket(cls, Entries[run].Hash, true) : NewBucket();
            for (std::size_t k = run; k < end; ++k) {
                AddToBucket(bucket, Entries[k].Index);
                BucketOf[Entries[k].Index] = bucket;
            }
        }
        run = end;
    }
}

void TCandidateFinder::ForEachCandidate(int pivot, const std::function<void(int)>& visit) {
    const int cls = ClassOf[pivot];
    if (ClassSize(cls) < 2)
        return; // the pivot alone
    if (!HashMatcher)
        VisitClass(cls, pivot, visit);
    else if (IsOpen(cls) || BucketOf[pivot] >= 0)
        VisitByHash(cls, pivot, visit);
    // else: a closed class, where no other member has the pivot's hash
}

void TCandidateFinder::VisitClass(int cls, int pivot, const std::function<void(int)>& visit) {
    // The class is compacted on the way, so that no later run walks past grouped records:
    // they drop out, and so does the pivot, grouped by the end of this run.
    int* const members = Members.data() + ClassStart[cls];
    const int length = ClassLength[cls];
    int kept = 0;
    for (int k = 0; k < length; ++k) {
        const int m = members[k];
        if (m == pivot || Grouped(m))
            continue;
        visit(m);
        if (!Grouped(m))
            members[kept++] = m;
    }
    ClassLength[cls] = kept;
}

// The first ungrouped class member after cursor (-1: from the start) that is not the pivot,
// or -1. Used only with a hash level, where the class itself is not compacted: a front
// position skips the grouped members at its start for good.
int TCandidateFinder::NextClassMember(int cls, int cursor, int pivot) {
    const auto end = Members.begin() + ClassStart[cls + 1];
    int& front = ClassFront[cls];
    while (Members.begin() + front < end && Grouped(Members[front]))
        ++front;
    auto at = std::upper_bound(Members.begin() + front, end, cursor);
    while (at < end && (*at == pivot || Grouped(*at)))
        ++at;
    return at < end ? *at : -1;
}

// The bucket's next candidate from position on, or -1.
int TCandidateFinder::NextInBucket(const TList& bucket, std::size_t& position, int pivot) const {
    for (; position < bucket.size(); ++position) {
        const int m = bucket[position];
        if (m != pivot && !Grouped(m))
            return m;
    }
    return -1;
}

void TCandidateFinder::VisitByHash(int cls, int pivot, const std::function<void(int)>& visit) {
    const bool open = IsOpen(cls);
    Hashed.clear();
    const auto call = [&](int m) {
        const bool hadHash = !open || BucketOf[m] >= 0 || HasHash(m);
        visit(m);
        if (!hadHash && !Grouped(m) && HasHash(m))
            Hashed.push_back(m);
    };
    // A pivot without a hash (only in an open class): the class in order, until a call has
    // computed it.
    int cursor = -1;
    int same = BucketOf[pivot];
    if (same < 0) {
        while (!HasHash(pivot)) {
            const int m = NextClassMember(cls, cursor, pivot);
            if (m < 0)
                break;
            call(m);
            cursor = m;
        }
        if (HasHash(pivot))
            same = OpenBucket(cls, Fingerprint(Scratch), false);
    }
    // The members with the pivot's hash and those with none yet, merged in ascending order.
    // No bucket changes during the run: Hashed is filed afterwards.
    const int none = NoHash[cls];
    const auto after = [cursor](const TList& bucket) {
        return static_cast<std::size_t>(std::upper_bound(bucket.begin(), bucket.end(), cursor) -
                                        bucket.begin());
    };
    if (same >= 0 || (none >= 0 && HasHash(pivot))) {
        std::size_t atSame = same >= 0 ? after(Buckets[same]) : 0;
        std::size_t atNone = none >= 0 ? after(Buckets[none]) : 0;
        for (;;) {
            const int withSame = same >= 0 ? NextInBucket(Buckets[same], atSame, pivot) : -1;
            const int withNone = none >= 0 ? NextInBucket(Buckets[none], atNone, pivot) : -1;
            if (withSame < 0 && withNone < 0)
                break;
            const int m = withSame < 0   ? withNone
                          : withNone < 0 ? withSame
                                         : std::min(withSame, withNone);
            call(m);
            if (m == withSame)
                ++atSame;
            if (m == withNone)
                ++atNone;
        }
    }
    // Grouped records and the pivot drop out; a record that got its hash moves from the
    // no-hash bucket to its hash's bucket.
    if (same >= 0)
        std::erase_if(Buckets[same], [&](int m) { return m == pivot || Grouped(m); });
    if (none >= 0) {
        std::erase_if(Buckets[none], [&](int m) { return m == pivot || Grouped(m) || HasHash(m); });
        if (Buckets[none].empty()) {
            CloseClass(cls);
            return;
        }
    }
    for (const int m : Hashed) {
        HasHash(m);
        const int bucket = OpenBucket(cls, Fingerprint(Scratch), true);
        AddToBucket(bucket, m);
        BucketOf[m] = bucket;
    }
}

// The files of the group being formed, by device and inode: a record that is the same file
// as one of them stays out of it.
class TGroupFiles {
public:
    void Start(const TScanRecord& pivot) {
        Files.clear();
        Add(pivot);
    }
    // False when the record is the same file as one already in the group; records whose
    // identity is unknown are always taken.
    bool Add(const TScanRecord& record) {
        if (record.Device() == 0 && record.Inode() == 0)
            return true;
        return Files.insert({record.Device(), record.Inode()}).second;
    }
    void Remove(const TScanRecord& record) { Files.erase({record.Device(), record.Inode()}); }

private:
    struct THash {
        std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& file) const {
            return std::hash<std::uint64_t>()(file.first * 0x9E3779B97F4A7C15ull ^ file.second);
        }
    };
    std::unordered_set<std::pair<std::uint64_t, std::uint64_t>, THash> Files;
};

// The read-ahead for one run, attached to the real hash matcher while the run lasts.
class TReadAheadScope {
public:
    TReadAheadScope(const TCandidateFinder& finder, TScanMatchers& matchers,
                    const TScanRecords& records, TScanCommand::THashReadAhead options,
                    const std::function<bool()>& cancelled) {
        if (options.Threads <= 0 || finder.HashLevel() < 0)
            return;
        Matcher = dynamic_cast<TScanHashMatcher*>(&matchers[finder.HashLevel()]);
        if (!Matcher)
            return; // a matcher of another kind, which may not be read ahead of
        const std::vector<int> plan = finder.HashPlan();
        if (plan.empty())
            return;
        ReadAhead = std::make_unique<TScanHashReadAhead>(records, plan, options.Threads,
                                                         options.Ahead, cancelled);
        Matcher->SetReadAhead(ReadAhead.get());
    }
    ~TReadAheadScope() {
        if (ReadAhead)
            Matcher->SetReadAhead(nullptr);
    }
    TReadAheadScope(const TReadAheadScope&) = delete;
    TReadAheadScope& operator=(const TReadAheadScope&) = delete;

private:
    TScanHashMatcher* Matcher = nullptr;
    std::unique_ptr<TScanHashReadAhead> ReadAhead;
};

// The content partition for one run, attached to the real binaries matcher while the run
// lasts. Its sets are the records of one class and one size: no other pair can reach
// the matcher's reading.
class TPartitionScope {
public:
    TPartitionScope(const TCandidateFinder& finder, TScanMatchers& matchers,
                    const TScanRecords& records, const std::function<bool()>& cancelled) {
        for (int i = 0; i < matchers.Count() && !Matcher; ++i)
            Matcher = dynamic_cast<TScanBinariesMatcher*>(&matchers[i]);
        if (!Matcher)
            return;
        Partition =
            std::make_unique<TScanContentPartition>(records, SetsOf(finder, records), cancelled);
        Matcher->SetPartition(Partition.get());
    }
    ~TPartitionScope() {
        if (Matcher)
            Matcher->SetPartition(nullptr);
    }
    TPartitionScope(const TPartitionScope&) = delete;
    TPartitionScope& operator=(const TPartitionScope&) = delete;

private:
    // Numbers the (class, size) pairs shared by two records or more; -1 for the others.
    static std::vector<int> SetsOf(const TCandidateFinder& finder, const TScanRecords& records) {
        const auto count = static_cast<std::size_t>(records.Length());
        std::vector<int> order(count);
        for (std::size_t i = 0; i < count; ++i)
            order[i] = static_cast<int>(i);
        const auto key = [&](int i) {
            return std::make_pair(finder.ClassOfRecord(i), records[i].Size());
        };
        std::sort(order.begin(), order.end(),
                  [&](int a, int b) { return key(a) != key(b) ? key(a) < key(b) : a < b; });
        std::vector<int> setOf(count, -1);
        int sets = 0;
        for (std::size_t run = 0; run < count;) {
            std::size_t end = run + 1;
            while (end < count && key(order[end]) == key(order[run]))
                ++end;
            if (end - run >= 2) {
                for (std::size_t k = run; k < end; ++k)
                    setOf[static_cast<std::size_t>(order[k])] = sets;
                ++sets;
            }
            run = end;
        }
        return setOf;
    }

    TScanBinariesMatcher* Matcher = nullptr;
    std::unique_ptr<TScanContentPartition> Partition;
};

} // namespace

// ---------------------------------------------------------------------------------------
// TScanCommand

TScanCommand::THashReadAhead TScanCommand::DefaultHashReadAhead() {
    // Measured on two cores: two threads keeping ahead beat one, and beat working in
    // batches, idle and beside busy processes alike (the scan's thread waits for nothing
    // but a full queue, so nothing is gained by pausing them).
    const int processors = static_cast<int>(std::thread::hardware_concurrency());
    return {std::clamp(processors - 1, 2, 3), true};
}

TScanCommand::TScanCommand(TScanRecords records, TScanMatchers* matchers)
    : FRecords(std::move(records)), FMatchers(matchers) {}

TScanCommand::~TScanCommand() = default;

void TScanCommand::CheckContinue() {
    if (!QueryContinue())
        Kiv_framework::Abort();
}

void TScanCommand::DoMatching(int index, TScanRecord& record) {
    OnMatching(this, index, record);
}

void TScanCommand::DoMatched(int index, TScanRecord& record) {
    OnMatched(this, index, record);
}

void TScanCommand::DoRecordChanged(int index, TScanRecord& record) {
    OnRecordChanged(this, index, record);
}

void TScanCommand::DoProgress(int position, int count) {
    OnProgress(this, position, count);
}

bool TScanCommand::QueryContinue() {
    bool continueScan = true;
    OnQueryContinue(this, continueScan);
    return continueScan;
}

void TScanCommand::Execute() {
    ResetGroups();
    AssignGroups();
}

void TScanCommand::ResetGroups() {
    for (int i = 0; i < FRecords.Length(); ++i) {
        TScanRecord& record = FRecords[i];
        if (record.Group >= 0) {
            record.Group = -1;
            DoRecordChanged(i, record);
        }
    }
}

void TScanCommand::AssignGroups() {
    const int count = FRecords.Length();
    int position = 0;
    int nextGroup = 1;
    int low = 0;
    int high = count - 1;
    TCandidateFinder finder(FRecords, *FMatchers);
    const TReadAheadScope readAhead(finder, *FMatchers, FRecords, HashReadAhead, IsCancelled);
    const TPartitionScope partition(finder, *FMatchers, FRecords, IsCancelled);
    const auto assign = [&](int index, TScanRecord& record, int group) {
        record.Group = group;
        DoRecordChanged(index, record);
        ++position;
        DoProgress(position, count);
    };

    TGroupFiles groupFiles;
    for (int index = 0; index <= high; ++index) {
        CheckContinue();
        TScanRecord& pivot = FRecords[index];
        if (pivot.Priority != spPrimary || pivot.Group >= 0)
            continue;
        DoMatching(index, pivot);
        groupFiles.Start(pivot);
        while (low < high && FRecords[low].Group >= 0)
            ++low;
        while (high > low && FRecords[high].Group >= 0)
            --high;
        // Every ungrouped record lies in low..high. The finder offers, in ascending order,
        // those of them that the chain could answer true for or would act upon.
        finder.ForEachCandidate(index, [&](int m) {
            TScanRecord& candidate = FRecords[m];
            // One file under two names is no copy of itself: removing "the copy" would
            // remove the only one. The matchers are not asked.
            if (!groupFiles.Add(candidate))
                return;
            if (!FMatchers->Match(pivot, candidate)) {
                groupFiles.Remove(candidate);
                return;
            }
            if (pivot.Group < 0)
                assign(index, pivot, nextGroup);
            assign(m, candidate, nextGroup);
        });
        if (pivot.Group < 0)
            assign(index, pivot, 0);
        else
            ++nextGroup;
        DoMatched(index, pivot);
    }

    for (int k = low; k <= high; ++k) {
        CheckContinue();
        if (FRecords[k].Group < 0)
            assign(k, FRecords[k], 0);
    }
}

} // namespace App_scan
