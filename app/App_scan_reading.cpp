#include "App_scan_reading.h"

#include "App_common.h"
#include "Kiv_hash.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace App_scan {

const char* const HashErrorMessage = "The program could not get the hash value of the file \"%s\".";

namespace {

// A scan thread that waits spins this long before it sleeps: most waits are for a small
// file and end sooner than a wake-up would.
constexpr std::chrono::microseconds WaitSpin(20);
// A sleeping scan thread looks at the cancel flag this often.
constexpr std::chrono::milliseconds WaitSlice(1);

} // namespace

// ---------------------------------------------------------------------------------------
// TReadOnlyFile, HashFile

TReadOnlyFile::TReadOnlyFile(const std::string& path) {
    // A path with a NUL byte would name another file to the system: refuse it.
    if (path.find('\0') != std::string::npos)
        return;
    do
        Descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    while (Descriptor < 0 && errno == EINTR);
}

TReadOnlyFile::~TReadOnlyFile() {
    if (Descriptor >= 0)
        ::close(Descriptor);
}

long TReadOnlyFile::ReadSome(unsigned char* buffer, std::size_t size) {
    ssize_t count = 0;
    do
        count = ::read(Descriptor, buffer, size);
    while (count < 0 && errno == EINTR);
    return static_cast<long>(count);
}

bool TReadOnlyFile::ReadExact(unsigned char* buffer, std::size_t size) {
    while (size > 0) {
        const long count = ReadSome(buffer, size);
        if (count <= 0)
            return false;
        buffer += count;
        size -= static_cast<std::size_t>(count);
    }
    return true;
}

void RaiseFileError(const char* format, const std::string& path) {
    std::string message = format;
    message.replace(message.find("%s"), 2, path);
    throw App_common::EAppError(message);
}

THashEnd HashFile(const std::string& path, unsigned char* buffer,
                  const std::function<bool()>& proceed, std::string& hash, int& reads) {
    reads = 0;
    TReadOnlyFile file(path);
    if (!file.IsOpen())
        return THashEnd::heFailed;
    Kiv_hash::TSha256HashFunction function;
    for (;;) {
        if (!proceed())
            return THashEnd::heStopped;
        ++reads;
        const long count = file.ReadSome(buffer, ReadChunkSize);
        if (count < 0)
            return THashEnd::heFailed;
        if (count == 0)
            break;
        function.Update(buffer, static_cast<std::int32_t>(count));
    }
    hash = function.TakeValue();
    return THashEnd::heDone;
}

// ---------------------------------------------------------------------------------------
// TScanHashReadAhead

TScanHashReadAhead::TScanHashReadAhead(const TScanRecords& records, const std::vector<int>& plan,
                                       int threadCount, bool ahead, std::function<bool()> cancelled,
                                       std::uint64_t batchCost)
    : First(records.begin()), Count(records.Length()),
      SlotOf(static_cast<std::size_t>(records.Length()), -1),
      Slots(std::make_unique<TSlot[]>(plan.size())), SlotCount(plan.size()),
      Cost(plan.size() + 1, 0), BatchCost(batchCost), Ahead(ahead), Cancelled(std::move(cancelled)),
      Buffer(std::make_unique<unsigned char[]>(ReadChunkSize)) {
    for (std::size_t k = 0; k < plan.size(); ++k) {
        const TScanRecord& record = records[plan[k]];
        Slots[k].Path = &record.Path;
        SlotOf[static_cast<std::size_t>(plan[k])] = static_cast<int>(k);
        Cost[k + 1] = Cost[k] + record.Size + ReadAheadFileCost;
    }
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

bool TScanHashReadAhead::Claim(TSlot& slot) {
    std::uint8_t expected = stWaiting;
    return slot.State.compare_exchange_strong(expected, stReading);
}

TScanHashReadAhead::TSlot* TScanHashReadAhead::ClaimNext() {
    std::size_t k = Next.load();
    for (;;) {
        if (k >= std::min(Target.load(), SlotCount))
            return nullptr;
        if (!Next.compare_exchange_weak(k, k + 1))
            continue; // k holds the new value
        if (Claim(Slots[k]))
            return &Slots[k];
        ++k; // taken by the scan's thread meanwhile
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

void TScanHashReadAhead::Read(TSlot& slot, unsigned char* buffer) {
    std::string hash;
    int reads = 0;
    const THashEnd end = HashFile(
        *slot.Path, buffer,
        [this] { return !Stop.load(std::memory_order_relaxed) && !IsCancelled(); }, hash, reads);
    std::uint8_t state = stWaiting; // stopped: the scan's thread computes it if it gets there
    if (end != THashEnd::heStopped) {
        slot.Hash = std::move(hash);
        slot.Reads = reads;
        state = end == THashEnd::heDone ? stDone : stFailed;
    }
    slot.State.store(state);
    if (Waiters.load() > 0) {
        std::lock_guard<std::mutex> lock(Lock);
        Finished.notify_all();
    }
}

void TScanHashReadAhead::Work() {
    const auto buffer = std::make_unique<unsigned char[]>(ReadChunkSize);
    for (;;) {
        if (TSlot* slot = ClaimNext()) {
            Read(*slot, buffer.get());
            continue;
        }
        std::unique_lock<std::mutex> lock(Lock);
        Extended.wait(lock, [this] { return Stop || Next.load() < Target.load(); });
        if (Stop)
            return;
    }
}

void TScanHashReadAhead::WaitWhileReading(TSlot& slot) {
    const auto spinUntil = std::chrono::steady_clock::now() + WaitSpin;
    while (slot.State.load(std::memory_order_acquire) == stReading &&
           std::chrono::steady_clock::now() < spinUntil)
        Kiv_framework::SpinPause();
    Waiters.fetch_add(1);
    {
        std::unique_lock<std::mutex> lock(Lock);
        Finished.wait_for(lock, WaitSlice, [&] { return slot.State.load() != stReading; });
    }
    Waiters.fetch_sub(1);
}

bool TScanHashReadAhead::Take(TScanRecord& record, TScanMatcher& matcher) {
    const std::less<const TScanRecord*> before;
    if (before(&record, First) || !before(&record, First + Count))
        return false;
    const int at = SlotOf[static_cast<std::size_t>(&record - First)];
    if (at < 0)
        return false;
    TSlot& slot = Slots[at];
    std::uint8_t state = slot.State.load();
    if (Ahead || state == stWaiting || state == stReading)
        Extend(static_cast<std::size_t>(at));
    if (state == stWaiting || state == stReading) {
        // Not ready: this thread computes the batch with the others, its own slot first.
        if (Claim(slot))
            Read(slot, Buffer.get());
        while (TSlot* other = ClaimNext()) {
            if (IsCancelled())
                matcher.CheckContinue(); // where computing it in place would have stopped
            Read(*other, Buffer.get());
        }
        state = slot.State.load();
        while (state == stReading) {
            if (IsCancelled())
                matcher.CheckContinue();
            WaitWhileReading(slot);
            state = slot.State.load();
        }
    }
    if (state != stDone && state != stFailed) {
        // Stopped by a cancel half-way: the caller computes it and meets the cancel point.
        slot.State.store(stTaken);
        return false;
    }
    for (int k = 0; k < slot.Reads; ++k)
        matcher.CheckContinue();
    slot.State.store(stTaken);
    if (state == stFailed)
        RaiseFileError(HashErrorMessage, record.Path);
    record.Hash = std::move(slot.Hash);
    return true;
}

} // namespace App_scan
