#include "App_scan_finder.h"

#include "Kiv_hash.h"

#include <algorithm>
#include <string_view>

namespace App_scan {

namespace {

std::uint64_t Fingerprint(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

} // namespace

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
    if (HashMatcher)
        BuildHashLevel();
}

void TCandidateFinder::RebuildHashLevel() {
    if (!HashMatcher)
        return;
    Buckets.clear();
    OpenBuckets = TFingerprintTable();
    BuildHashLevel();
}

void TCandidateFinder::BuildHashLevel() {
    // The hashes are read once, in record order: the classes visit the records in an
    // order that the memory does not like.
    const auto count = static_cast<std::size_t>(Records.Length());
    HashOf.assign(count, 0);
    HadHash.assign(count, false);
    for (int i = 0; i < Records.Length(); ++i)
        if (ClassSize(ClassOf[i]) >= 2 && HasHash(i)) {
            HadHash[i] = true;
            HashOf[i] = Fingerprint(Scratch);
        }
    BucketOf.assign(count, -1);
    NoHash.assign(ClassLength.size(), -1);
    for (int c = 0; c < static_cast<int>(ClassLength.size()); ++c)
        if (ClassSize(c) >= 2) // a class of one offers its pivot nothing
            BuildBuckets(c);
    // Only the buckets needed the fingerprints; the scan's peak memory need not hold them.
    std::vector<std::uint64_t>().swap(HashOf);
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
    TNumbered<bool> planned(ClassLength.size(), false);
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
    const std::uint64_t key = Kiv_hash::Mix64(static_cast<std::uint64_t>(cls), hash);
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

} // namespace App_scan
