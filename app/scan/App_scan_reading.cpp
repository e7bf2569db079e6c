#include "App_scan_reading.h"

#include "App_common.h"
#include "Kiv_files.h"
#include "Kiv_hash.h"

#include <algorithm>
#include <bit>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace App_scan {

const char* const HashErrorMessage = "The program could not get the hash value of the file \"%s\".";
const char* const OpenErrorMessage = "The program could not open the file \"%s\".";
const char* const ReadErrorMessage = "The program could not read the file \"%s\".";
const char* const ChangedErrorMessage = "The file \"%s\" changed after it was added to the list.";

namespace {

// A scan thread that waits spins this long before it sleeps: most waits are for a small
// file and end sooner than a wake-up would.
constexpr std::chrono::microseconds WaitSpin(20);
// A sleeping scan thread looks at the cancel flag this often.
constexpr std::chrono::milliseconds WaitSlice(1);

} // namespace

// ---------------------------------------------------------------------------------------
// TReadOnlyFile, HashFile

namespace {

std::atomic<TReadObserver*> ReadObserver{nullptr};
std::atomic<std::uint64_t> FilesRead{0};
std::atomic<std::uint64_t> BytesRead{0};

void CountRead(ssize_t count) {
    if (count > 0)
        BytesRead.fetch_add(static_cast<std::uint64_t>(count), std::memory_order_relaxed);
}

// Whether the open file is the one the record lists, as far as the record knows it.
bool IsListed(const TScanRecord& record, const Kiv_files::TFileState& state) {
    const bool identityKnown = record.Device() != 0 || record.Inode() != 0;
    return state.IsRegular() && state.Size == record.Size() &&
           (!identityKnown || (state.Device == record.Device() && state.Inode == record.Inode())) &&
           (record.LastWriteTime() == 0 || state.LastWriteTime() == record.LastWriteTime()) &&
           (record.ChangeTime() == 0 || state.ChangeTime() == record.ChangeTime());
}

} // namespace

void SetReadObserver(TReadObserver* observer) {
    ReadObserver.store(observer, std::memory_order_release);
}

TReadTotals ReadTotals() {
    return {FilesRead.load(std::memory_order_relaxed), BytesRead.load(std::memory_order_relaxed)};
}

TReadOnlyFile::TReadOnlyFile(const TScanRecord& record) : Path(&record.Path()) {
    Descriptor = Kiv_files::OpenForReading(record.Path());
    if (Descriptor < 0) {
        // A symbolic link where a file was listed is another file, not a failure to read.
        FState = errno == ELOOP ? TReadEnd::reChanged : TReadEnd::reFailed;
        return;
    }
    FilesRead.fetch_add(1, std::memory_order_relaxed);
    if (!Kiv_files::GetFileState(Descriptor, Opened)) {
        FState = TReadEnd::reFailed;
        return;
    }
    FState = IsListed(record, Opened) ? TReadEnd::reDone : TReadEnd::reChanged;
}

TReadOnlyFile::~TReadOnlyFile() {
    if (Descriptor >= 0)
        ::close(Descriptor);
}

void TReadOnlyFile::Observe(std::uint64_t offset) const {
    if (TReadObserver* observer = ReadObserver.load(std::memory_order_acquire))
        observer->AfterRead(*Path, offset);
}

long TReadOnlyFile::ReadSome(unsigned char* buffer, std::size_t size) {
    ssize_t count = 0;
    do
        count = ::read(Descriptor, buffer, size);
    while (count < 0 && errno == EINTR);
    CountRead(count);
    if (count > 0) {
        Offset += static_cast<std::uint64_t>(count);
        Observe(Offset);
    }
    return static_cast<long>(count);
}

TReadEnd TReadOnlyFile::ReadExactAt(unsigned char* buffer, std::size_t size, std::uint64_t offset) {
    while (size > 0) {
        ssize_t count = 0;
        do
            count = ::pread(Descriptor, buffer, size, static_cast<off_t>(offset));
        while (count < 0 && errno == EINTR);
        if (count < 0)
            return TReadEnd::reFailed;
        if (count == 0)
            return TReadEnd::reChanged;
        CountRead(count);
        buffer += count;
        size -= static_cast<std::size_t>(count);
        offset += static_cast<std::uint64_t>(count);
        Observe(offset);
    }
    return TReadEnd::reDone;
}

TReadEnd TReadOnlyFile::EndsAt(std::uint64_t offset) {
    unsigned char byte = 0;
    ssize_t count = 0;
    do
        count = ::pread(Descriptor, &byte, 1, static_cast<off_t>(offset));
    while (count < 0 && errno == EINTR);
    if (count < 0)
        return TReadEnd::reFailed;
    CountRead(count);
    return count == 0 ? TReadEnd::reDone : TReadEnd::reChanged;
}

TReadEnd TReadOnlyFile::EndsUnchangedAt(std::uint64_t offset) {
    const TReadEnd end = EndsAt(offset);
    return end == TReadEnd::reDone ? StillAsOpened() : end;
}

TReadEnd TReadOnlyFile::StillAsOpened() const {
    // One look at the path tells both: when it names the open file, what it tells of the
    // file is what the descriptor would.
    Kiv_files::TFileState now;
    if (!Kiv_files::GetFileState(*Path, now))
        return errno == ENOENT || errno == ENOTDIR ? TReadEnd::reChanged : TReadEnd::reFailed;
    return now == Opened ? TReadEnd::reDone : TReadEnd::reChanged;
}

void RaiseFileError(const char* format, const TScanRecord& record) {
    std::string message = format;
    message.replace(message.find("%s"), 2, record.Path());
    throw EScanFileError(message, record);
}

void RaiseReadFailure(TReadEnd end, const char* failedFormat, const TScanRecord& record) {
    RaiseFileError(end == TReadEnd::reChanged ? ChangedErrorMessage : failedFormat, record);
}

THashEnd HashFile(const TScanRecord& record, unsigned char* buffer,
                  const std::function<bool()>& proceed, THashText& hash, int& reads) {
    reads = 0;
    TReadOnlyFile file(record);
    if (file.State() != TReadEnd::reDone)
        return file.State() == TReadEnd::reChanged ? THashEnd::heChanged : THashEnd::heFailed;
    Kiv_hash::TSha256HashFunction function;
    std::uint64_t total = 0;
    for (;;) {
        if (!proceed())
            return THashEnd::heStopped;
        ++reads;
        const long count = file.ReadSome(buffer, ReadChunkSize);
        if (count < 0)
            return THashEnd::heFailed;
        if (count == 0)
            break;
        total += static_cast<std::uint64_t>(count);
        if (total > record.Size())
            return THashEnd::heChanged; // it grew: what was listed is not what is read
        function.Update(buffer, static_cast<std::int32_t>(count));
        // Less than asked for, at the listed size: the end, without a read to find it. A
        // file that grew meanwhile has another size now, which the check below sees.
        if (total == record.Size() && count < ReadChunkSize)
            break;
    }
    if (total != record.Size())
        return THashEnd::heChanged; // it shrank
    // Written to, or replaced under its name, while it was read: the hash is of no file
    // that is there now.
    const TReadEnd after = file.StillAsOpened();
    if (after != TReadEnd::reDone)
        return after == TReadEnd::reChanged ? THashEnd::heChanged : THashEnd::heFailed;
    unsigned char digest[32];
    function.GetDigest(digest);
    hash = THashText::FromDigest(digest);
    return THashEnd::heDone;
}

// ---------------------------------------------------------------------------------------
// The facts of a file, read again

void SetListedNumbers(TFileFacts::TFields& fields, const Kiv_files::TFindData& listing) {
    fields.Size = Kiv_files::FindDataSize(listing);
    fields.CreationTime = Kiv_files::FileTimeToUInt64(Kiv_files::FindDataCreationTime(listing));
    fields.LastWriteTime = Kiv_files::FileTimeToUInt64(Kiv_files::FindDataLastWriteTime(listing));
    fields.LastAccessTime = Kiv_files::FileTimeToUInt64(Kiv_files::FindDataLastAccessTime(listing));
    fields.Attributes = Kiv_files::FindDataAttributes(listing) & FactsAttributeMask;
    fields.Device = listing.Device;
    fields.Inode = listing.Inode;
    fields.ChangeTime = listing.ChangeTime;
}

TFactsCheck ReadFactsAgain(TScanRecord& record) {
    Kiv_files::TFindData listing;
    const int error = Kiv_files::FindDataOf(record.Path(), listing);
    if (error != 0)
        return error == ENOENT || error == ENOTDIR ? TFactsCheck::fcGone : TFactsCheck::fcUnknown;
    constexpr std::uint32_t notAFile =
        Kiv_files::faDirectory | Kiv_files::faSymLink | Kiv_files::faDevice;
    if (Kiv_files::FindDataAttributes(listing) & notAFile)
        return TFactsCheck::fcGone;
    const TFileFacts& facts = *record.SharedFacts();
    TFileFacts::TFields numbers;
    SetListedNumbers(numbers, listing);
    const bool sameContent = numbers.ChangeTime != 0 && (numbers.Device | numbers.Inode) != 0 &&
                             numbers.Device == facts.Device() && numbers.Inode == facts.Inode() &&
                             numbers.Size == facts.Size() &&
                             numbers.LastWriteTime == facts.LastWriteTime() &&
                             numbers.ChangeTime == facts.ChangeTime();
    const bool sameFacts = sameContent && numbers.CreationTime == facts.CreationTime() &&
                           numbers.LastAccessTime == facts.LastAccessTime() &&
                           numbers.Attributes == facts.Attributes();
    if (sameFacts)
        return TFactsCheck::fcSame;
    record.SetFacts(facts.Renewed(numbers));
    if (!sameContent)
        record.Hash = THashText();
    return TFactsCheck::fcRenewed;
}

// ---------------------------------------------------------------------------------------
// TScanHashReadAhead

TScanHashReadAhead::TScanHashReadAhead(const TScanRecords& records, const std::vector<int>& plan,
                                       int threadCount, bool ahead, std::function<bool()> cancelled,
                                       std::uint64_t batchCost, std::size_t ringSize)
    : First(records.begin()), Count(records.Length()), Plan(plan),
      SlotOf(static_cast<std::size_t>(records.Length()), -1), RingSize(std::bit_ceil(ringSize)),
      Ring(std::make_unique<TPlace[]>(RingSize)), SlotCount(plan.size()), Cost(plan.size() + 1, 0),
      BatchCost(batchCost), Ahead(ahead), Cancelled(std::move(cancelled)),
      Buffer(std::make_unique<unsigned char[]>(ReadChunkSize)) {
    for (std::size_t k = 0; k < plan.size(); ++k) {
        SlotOf[static_cast<std::size_t>(plan[k])] = static_cast<int>(k);
        Cost[k + 1] = Cost[k] + records[plan[k]].Size() + ReadAheadFileCost;
    }
    for (std::size_t place = 0; place < RingSize; ++place)
        Ring[place].Tag.store(TagOf(place, stWaiting), std::memory_order_relaxed);
    for (int t = 0; t < threadCount; ++t) {
        try {
            Threads.emplace_back([this] { Work(); });
        } catch (const std::system_error&) {
            break; // fewer threads: the scan's own thread still does its share
        }
    }
}

TScanHashReadAhead::~TScanHashReadAhead() {
    Stop = true;
    {
        std::lock_guard<std::mutex> lock(Lock);
        Extended.notify_all();
    }
    for (std::thread& thread : Threads)
        thread.join();
}

bool TScanHashReadAhead::Claim(std::size_t slot) {
    std::uint64_t expected = TagOf(slot, stWaiting);
    return PlaceOf(slot).Tag.compare_exchange_strong(expected, TagOf(slot, stReading));
}

std::size_t TScanHashReadAhead::Limit() const {
    return std::min({Target.load(), SlotCount, Base.load() + RingSize});
}

bool TScanHashReadAhead::ClaimNext(std::size_t& slot) {
    std::size_t k = Next.load();
    for (;;) {
        if (k >= Limit())
            return false;
        if (!Next.compare_exchange_weak(k, k + 1))
            continue; // k holds the new value
        if (Claim(k)) {
            slot = k;
            return true;
        }
        ++k; // taken by the scan's thread meanwhile, or already done with
    }
}

void TScanHashReadAhead::Extend(std::size_t at) {
    const auto end = std::upper_bound(Cost.begin() + static_cast<std::ptrdiff_t>(at) + 1,
                                      Cost.end(), Cost[at] + BatchCost);
    const std::size_t target =
        std::clamp(static_cast<std::size_t>(end - Cost.begin()) - 1, at + 1, SlotCount);
    const std::size_t previous = Target.load();
    if (target <= previous)
        return;
    Target.store(target);
    // Threads sleep only once they have reached the old target; while they are short of
    // it (keeping a batch ahead, every take moves it), no wake-up is needed.
    if (Next.load() < previous)
        return;
    std::lock_guard<std::mutex> lock(Lock);
    Extended.notify_all();
}

void TScanHashReadAhead::Read(std::size_t slot, unsigned char* buffer) {
    TPlace& place = PlaceOf(slot);
    THashText hash;
    int reads = 0;
    const THashEnd end = HashFile(
        First[Plan[slot]], buffer,
        [this] { return !Stop.load(std::memory_order_relaxed) && !IsCancelled(); }, hash, reads);
    TState state = stWaiting; // stopped: the scan's thread computes it if it gets there
    if (end != THashEnd::heStopped) {
        place.Hash = std::move(hash);
        place.Reads = reads;
        state = end == THashEnd::heDone      ? stDone
                : end == THashEnd::heChanged ? stChanged
                                             : stFailed;
    }
    place.Tag.store(TagOf(slot, state));
    if (Waiters.load() > 0) {
        std::lock_guard<std::mutex> lock(Lock);
        Finished.notify_all();
    }
}

void TScanHashReadAhead::Work() {
    const auto buffer = std::make_unique<unsigned char[]>(ReadChunkSize);
    for (;;) {
        std::size_t slot = 0;
        if (ClaimNext(slot)) {
            Read(slot, buffer.get());
            continue;
        }
        std::unique_lock<std::mutex> lock(Lock);
        Extended.wait(lock, [this] { return Stop || Next.load() < Limit(); });
        if (Stop)
            return;
    }
}

void TScanHashReadAhead::WaitWhileReading(std::size_t slot) {
    const std::atomic<std::uint64_t>& tag = PlaceOf(slot).Tag;
    const std::uint64_t reading = TagOf(slot, stReading);
    const auto spinUntil = std::chrono::steady_clock::now() + WaitSpin;
    while (tag.load(std::memory_order_acquire) == reading &&
           std::chrono::steady_clock::now() < spinUntil)
        Kiv_framework::SpinPause();
    Waiters.fetch_add(1);
    {
        std::unique_lock<std::mutex> lock(Lock);
        Finished.wait_for(lock, WaitSlice, [&] { return tag.load() != reading; });
    }
    Waiters.fetch_sub(1);
}

void TScanHashReadAhead::ReleaseBase() {
    const std::size_t slot = Base.load();
    while (PlaceOf(slot).Tag.load() == TagOf(slot, stReading))
        WaitWhileReading(slot);
    TPlace& place = PlaceOf(slot);
    place.Hash = THashText();
    place.Reads = 0;
    // The place is the next lap's before the window lets any thread claim it.
    place.Tag.store(TagOf(slot + RingSize, stWaiting));
    Base.store(slot + 1);
    // Threads asleep at the ring's end may go on now.
    if (Next.load() >= slot + RingSize) {
        std::lock_guard<std::mutex> lock(Lock);
        Extended.notify_all();
    }
}

bool TScanHashReadAhead::Take(TScanRecord& record, TScanMatcher& matcher) {
    const std::less<const TScanRecord*> before;
    if (before(&record, First) || !before(&record, First + Count))
        return false;
    const int planned = SlotOf[static_cast<std::size_t>(&record - First)];
    if (planned < 0)
        return false;
    const auto at = static_cast<std::size_t>(planned);
    if (at < Base.load() || at >= Base.load() + RingSize)
        return false; // passed over, or asked far out of order: the caller's to compute
    // The slots before it will not be asked for (the plan is the order of asking).
    while (Base.load() < at)
        ReleaseBase();
    TPlace& place = PlaceOf(at);
    TState state = StateOf(place.Tag.load());
    if (Ahead || state == stWaiting || state == stReading)
        Extend(at);
    if (state == stWaiting || state == stReading) {
        // Not ready: this thread computes the batch with the others, its own slot first.
        if (Claim(at))
            Read(at, Buffer.get());
        std::size_t other = 0;
        while (ClaimNext(other)) {
            if (IsCancelled())
                matcher.CheckContinue(); // where computing it in place would have stopped
            Read(other, Buffer.get());
        }
        state = StateOf(place.Tag.load());
        while (state == stReading) {
            if (IsCancelled())
                matcher.CheckContinue();
            WaitWhileReading(at);
            state = StateOf(place.Tag.load());
        }
    }
    if (state != stDone && state != stFailed && state != stChanged) {
        // Stopped by a cancel half-way: the caller computes it and meets the cancel point.
        ReleaseBase();
        return false;
    }
    const int reads = place.Reads;
    THashText hash = std::move(place.Hash);
    ReleaseBase();
    for (int k = 0; k < reads; ++k)
        matcher.CheckContinue();
    if (state == stFailed)
        RaiseFileError(HashErrorMessage, record);
    if (state == stChanged)
        RaiseFileError(ChangedErrorMessage, record);
    record.Hash = std::move(hash);
    return true;
}

} // namespace App_scan
