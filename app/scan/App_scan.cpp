#include "App_scan.h"

#include "App_common.h"
#include "App_scan_binaries.h"
#include "App_scan_finder.h"
#include "App_scan_reading.h"
#include "Kiv_hash.h"
#include "Kiv_locale.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_set>
#include <utility>

namespace App_scan {

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

bool TScanMatcher::Reading(void (*read)(void*), void* context) {
    try {
        read(context);
        return true;
    } catch (const EScanFileError& error) {
        if (!OnFileError)
            throw;
        LeftOut.insert(error.Record);
        OnFileError(this, error.Message());
        return false;
    }
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
    if (!record.Hash.empty())
        return record;
    if (!(ReadAhead && ReadAhead->Take(record, *this)))
        ComputeHash(record);
    // Only a hash read from the file that the record's facts describe gets here: a file
    // that failed or changed raised above.
    if (HashStore)
        HashStore->Remember(record);
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
    // point, A's read, B's read and the bytes; at the end, that neither file grew or
    // changed while it was read.
    TReadOnlyFile fileA(A);
    RaiseReadEnd(fileA.State(), OpenErrorMessage, A);
    TReadOnlyFile fileB(B);
    RaiseReadEnd(fileB.State(), OpenErrorMessage, B);
    for (std::uint64_t offset = 0; offset < A.Size();) {
        CheckContinue();
        const auto chunk =
            static_cast<std::size_t>(std::min<std::uint64_t>(ReadChunkSize, A.Size() - offset));
        RaiseReadEnd(fileA.ReadExactAt(Buffer1.get(), chunk, offset), ReadErrorMessage, A);
        RaiseReadEnd(fileB.ReadExactAt(Buffer2.get(), chunk, offset), ReadErrorMessage, B);
        if (std::memcmp(Buffer1.get(), Buffer2.get(), chunk) != 0)
            return false;
        offset += chunk;
    }
    RaiseReadEnd(fileA.EndsUnchangedAt(A.Size()), ReadErrorMessage, A);
    RaiseReadEnd(fileB.EndsUnchangedAt(B.Size()), ReadErrorMessage, B);
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

namespace {

// The files of the group being formed, by device and inode: a record that is the same file
// as one of them stays out of it. Asked for every pair offered, so a small group is looked
// through directly; a large one is also kept in a set.
class TGroupFiles {
public:
    void Start(const TScanRecord& pivot) {
        Few.clear();
        Many.clear();
        Add(pivot);
    }
    // Records whose identity is unknown are never the same file as another.
    bool Contains(const TScanRecord& record) const {
        if (!Known(record))
            return false;
        const TFile file{record.Device(), record.Inode()};
        if (!Many.empty())
            return Many.contains(file);
        return std::find(Few.begin(), Few.end(), file) != Few.end();
    }
    void Add(const TScanRecord& record) {
        if (!Known(record))
            return;
        const TFile file{record.Device(), record.Inode()};
        if (Many.empty() && Few.size() < FewFiles) {
            Few.push_back(file);
            return;
        }
        if (Many.empty())
            Many.insert(Few.begin(), Few.end());
        Many.insert(file);
    }

private:
    using TFile = std::pair<std::uint64_t, std::uint64_t>;
    struct THash {
        std::size_t operator()(const TFile& file) const {
            return std::hash<std::uint64_t>()(file.first * 0x9E3779B97F4A7C15ull ^ file.second);
        }
    };
    static constexpr std::size_t FewFiles = 16;
    static bool Known(const TScanRecord& record) {
        return record.Device() != 0 || record.Inode() != 0;
    }

    std::vector<TFile> Few;
    std::unordered_set<TFile, THash> Many;
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

// The hash store for one run, attached to the real hash matcher while the run lasts: it
// hears of every hash the matcher reads.
class THashStoreScope {
public:
    THashStoreScope(TScanMatchers& matchers, TScanHashStore* store) {
        if (!store)
            return;
        for (int i = 0; i < matchers.Count() && !Matcher; ++i)
            Matcher = dynamic_cast<TScanHashMatcher*>(&matchers[i]);
        if (Matcher)
            Matcher->SetHashStore(store);
    }
    ~THashStoreScope() {
        if (Matcher)
            Matcher->SetHashStore(nullptr);
    }
    THashStoreScope(const THashStoreScope&) = delete;
    THashStoreScope& operator=(const THashStoreScope&) = delete;

private:
    TScanHashMatcher* Matcher = nullptr;
};

// With a store, the hashes the run would read are asked of it first; those it gives count
// as hashes the records came in with, and the classes they close offer nothing to read.
void RecallHashes(TCandidateFinder& finder, const TScanRecords& records, TScanHashStore* store) {
    if (!store || finder.HashLevel() < 0)
        return;
    const std::vector<int> plan = finder.HashPlan();
    if (!plan.empty() && store->Recall(records, plan) > 0)
        finder.RebuildHashLevel();
}

// The content partition for one run, attached to the real binaries matcher while the run
// lasts. Its sets are the records of one class and one size: no other pair can reach
// the matcher's reading.
class TPartitionScope {
public:
    TPartitionScope(const TCandidateFinder& finder, TScanMatchers& matchers,
                    const TScanRecords& records, const std::function<bool()>& cancelled) {
        // With only deciding matchers before it, the finder's classes are keyed by all of
        // them and the matcher's sizes: within a class, the bytes alone answer.
        bool decidedBefore = true;
        for (int k = 0; k < matchers.Count() && !Matcher; ++k) {
            Matcher = dynamic_cast<TScanBinariesMatcher*>(&matchers[k]);
            if (!Matcher)
                decidedBefore = decidedBefore && matchers[k].KeyKind() == TMatchKeyKind::mkDecisive;
        }
        if (!Matcher)
            return;
        Partition =
            std::make_unique<TScanContentPartition>(records, SetsOf(finder, records), cancelled);
        Matcher->SetPartition(Partition.get());
        Decides = decidedBefore;
    }

    // Offers the pivot the candidates the split of its set names, in place of every
    // candidate of its class (the others would be answered false with no effect); false
    // when the finder is to offer them.
    bool ForEachCandidate(int pivot, const std::function<void(int)>& visit) {
        if (!Decides || !Partition->Candidates(pivot, Offered))
            return false;
        for (const int m : Offered)
            visit(m);
        return true;
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
    bool Decides = false;
    std::vector<int> Offered;
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
    if (RefreshFacts)
        RefreshRecords();
    ResetGroups();
    AssignGroups();
}

namespace {

// Files between two cancel points of the refresh: some milliseconds of lookups.
constexpr int RefreshStride = 256;
const char* const GoneMessage = "The program cannot find the file \"%s\".";

std::string FileMessage(const char* format, const std::string& path) {
    std::string message = format;
    message.replace(message.find("%s"), 2, path);
    return message;
}

} // namespace

void TScanCommand::RefreshRecords() {
    const int count = FRecords.Length();
    LeftOut.assign(static_cast<std::size_t>(count), false);
    LeftOutCount = 0;
    // The lookups, in strides, by this thread and as many helpers as read hashes ahead:
    // each waits on the file system, not on the others. Then the events, in record order.
    constexpr std::uint8_t NotLookedAt = 0xFF;
    std::vector<std::uint8_t> checks(static_cast<std::size_t>(count), NotLookedAt);
    std::atomic<int> next{0};
    std::atomic<bool> stop{false};
    const auto lookUp = [&] {
        for (;;) {
            if (stop.load(std::memory_order_relaxed) || (IsCancelled && IsCancelled()))
                return;
            const int start = next.fetch_add(RefreshStride);
            if (start >= count)
                return;
            for (int i = start; i < std::min(start + RefreshStride, count); ++i)
                checks[static_cast<std::size_t>(i)] =
                    static_cast<std::uint8_t>(ReadFactsAgain(FRecords[i]));
        }
    };
    {
        std::vector<std::jthread> helpers;
        const int helperCount = count > RefreshStride ? HashReadAhead.Threads : 0;
        for (int t = 0; t < helperCount; ++t) {
            try {
                helpers.emplace_back(lookUp);
            } catch (const std::system_error&) {
                break; // fewer helpers: this thread looks up the rest
            }
        }
        try {
            lookUp();
        } catch (...) {
            stop = true;
            throw;
        }
    } // the helpers are done
    for (int i = 0; i < count; ++i) {
        if (i % RefreshStride == 0)
            CheckContinue();
        TScanRecord& record = FRecords[i];
        std::uint8_t& looked = checks[static_cast<std::size_t>(i)];
        if (looked == NotLookedAt) // the lookups stopped for a cancel that did not come
            looked = static_cast<std::uint8_t>(ReadFactsAgain(record));
        const auto check = static_cast<TFactsCheck>(looked);
        if (check == TFactsCheck::fcSame)
            continue;
        record.Group = -1;
        if (check == TFactsCheck::fcRenewed) {
            OnFactsRenewed(this, i, record);
            continue;
        }
        LeftOut[static_cast<std::size_t>(i)] = true;
        ++LeftOutCount;
        record.Hash = THashText();
        OnFactsRenewed(this, i, record);
        OnFileLeftOut(this, i, record,
                      FileMessage(check == TFactsCheck::fcGone ? GoneMessage : ReadErrorMessage,
                                  record.Path()));
        DoProgress(LeftOutCount, count);
    }
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
    if (LeftOutCount == 0) {
        AssignGroupsOf(FRecords, {}, 0);
        return;
    }
    // The records left out take no part: the others are grouped as a list of their own,
    // and every event names a record by its index in the whole list.
    std::vector<int> places;
    for (int i = 0; i < FRecords.Length(); ++i)
        if (!IsLeftOut(i))
            places.push_back(i);
    TScanRecords taking(static_cast<int>(places.size()));
    for (std::size_t k = 0; k < places.size(); ++k)
        taking[static_cast<int>(k)] = FRecords[places[k]];
    const auto copyBack = [&] {
        for (std::size_t k = 0; k < places.size(); ++k) {
            FRecords[places[k]].Group = taking[static_cast<int>(k)].Group;
            FRecords[places[k]].Hash = taking[static_cast<int>(k)].Hash;
        }
    };
    try {
        AssignGroupsOf(taking, places, LeftOutCount);
    } catch (...) {
        copyBack();
        throw;
    }
    copyBack();
}

void TScanCommand::AssignGroupsOf(const TScanRecords& records, const std::vector<int>& places,
                                  int position) {
    const int count = records.Length();
    const int total = FRecords.Length();
    const auto place = [&](int index) {
        return places.empty() ? index : places[static_cast<std::size_t>(index)];
    };
    int nextGroup = 1;
    int low = 0;
    int high = count - 1;
    TCandidateFinder finder(records, *FMatchers);
    RecallHashes(finder, records, HashStore);
    const THashStoreScope store(*FMatchers, HashStore);
    const TReadAheadScope readAhead(finder, *FMatchers, records, HashReadAhead, IsCancelled);
    TPartitionScope partition(finder, *FMatchers, records, IsCancelled);
    const auto assign = [&](int index, TScanRecord& record, int group) {
        record.Group = group;
        DoRecordChanged(place(index), record);
        ++position;
        DoProgress(position, total);
    };

    TGroupFiles groupFiles;
    for (int index = 0; index <= high; ++index) {
        CheckContinue();
        TScanRecord& pivot = records[index];
        if (pivot.Priority != spPrimary || pivot.Group >= 0)
            continue;
        DoMatching(place(index), pivot);
        groupFiles.Start(pivot);
        while (low < high && records[low].Group >= 0)
            ++low;
        while (high > low && records[high].Group >= 0)
            --high;
        // Every ungrouped record lies in low..high. The finder offers, in ascending order,
        // those of them that the chain could answer true for or would act upon.
        const auto visit = [&](int m) {
            TScanRecord& candidate = records[m];
            // One file under two names is no copy of itself: removing "the copy" would
            // remove the only one. The matchers are not asked.
            if (groupFiles.Contains(candidate) || !FMatchers->Match(pivot, candidate))
                return;
            if (pivot.Group < 0)
                assign(index, pivot, nextGroup);
            assign(m, candidate, nextGroup);
            groupFiles.Add(candidate);
        };
        if (!partition.ForEachCandidate(index, visit))
            finder.ForEachCandidate(index, visit);
        if (pivot.Group < 0)
            assign(index, pivot, 0);
        else
            ++nextGroup;
        DoMatched(place(index), pivot);
    }

    for (int k = low; k <= high; ++k) {
        CheckContinue();
        if (records[k].Group < 0)
            assign(k, records[k], 0);
    }
}

} // namespace App_scan
