// Reading files for the content matchers: the read-only file, the hash of one file, and
// the read-ahead that computes the hashes a scan will ask for on threads of its own.
// Internal to the scan unit.
#pragma once

#include "App_common.h"
#include "App_scan.h"
#include "Kiv_files.h"

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace App_scan {

// What reading a file came to.
enum class TReadEnd : std::uint8_t {
    reDone,
    reFailed,  // the file could not be opened, or a read failed (never taken for the end)
    reChanged, // not the file that was listed: another file, another kind, another size
};

// The file of a record, open for reading: "open for reading with writers denied" is a
// plain read-only open on Linux, which cannot deny other writers. It is opened without
// following a final symbolic link and without blocking on a FIFO or a device, and checked
// to be what was listed before anything is read: a regular file, the same device and
// inode, size, last write time and change time where the record knows them. As Linux
// cannot keep writers out, a reader asks StillAsOpened once it has read what it needs.
// Closed when the holder goes.
class TReadOnlyFile {
public:
    explicit TReadOnlyFile(const TScanRecord& record);
    ~TReadOnlyFile();
    TReadOnlyFile(const TReadOnlyFile&) = delete;
    TReadOnlyFile& operator=(const TReadOnlyFile&) = delete;

    // reDone when the file is open and is the one listed.
    TReadEnd State() const { return FState; }

    // Reads up to size bytes: the count delivered, 0 at the end of the file, -1 when the
    // read failed.
    long ReadSome(unsigned char* buffer, std::size_t size);
    // Reads exactly size bytes at an offset: reChanged when the file ends first (it shrank
    // since it was listed).
    TReadEnd ReadExactAt(unsigned char* buffer, std::size_t size, std::uint64_t offset);
    // Whether the file ends at offset: reChanged when something follows (it grew).
    TReadEnd EndsAt(std::uint64_t offset);
    // Whether what was read is what the path names now, unchanged: its path still names
    // the open file, and its size, last write time and change time are as they were when
    // it was opened. reChanged when not (also when the path names nothing now), reFailed
    // when the path cannot be looked up.
    TReadEnd StillAsOpened() const;
    // EndsAt, then StillAsOpened: what a reader of the whole file asks at its end.
    TReadEnd EndsUnchangedAt(std::uint64_t offset);

private:
    void Observe(std::uint64_t offset) const;

    const std::string* Path;
    int Descriptor = -1;
    TReadEnd FState = TReadEnd::reFailed;
    Kiv_files::TFileState Opened;
    std::uint64_t Offset = 0; // where ReadSome goes on
};

// Lets a test act as another process between two reads of a file's content.
class TReadObserver {
public:
    virtual ~TReadObserver() = default;
    // Called on the reading thread right after a read of the file at path delivered bytes,
    // with how far the file has been read; may change the file. Calls for different files
    // may come from several threads at once.
    virtual void AfterRead(const std::string& path, std::uint64_t offset) = 0;
};

// Sets the observer of every read of the scan (nullptr: none); it must stay alive until
// it is replaced. For tests.
void SetReadObserver(TReadObserver* observer);

extern const char* const HashErrorMessage;
extern const char* const OpenErrorMessage;
extern const char* const ReadErrorMessage;
extern const char* const ChangedErrorMessage;

// A file of the scan that cannot be read or is not the one listed; the message names it.
class EScanFileError : public App_common::EAppError {
public:
    EScanFileError(const std::string& message, const TScanRecord& record)
        : EAppError(message), Record(&record) {}
    const TScanRecord* Record;
};

// Raises EScanFileError with the format's "%s" replaced by the record's path.
[[noreturn]] void RaiseFileError(const char* format, const TScanRecord& record);
// Raises what the end of a read of the record means: reFailed with failedFormat,
// reChanged with ChangedErrorMessage; nothing for reDone. Inline: the byte comparison asks
// it for every pair, almost always of reDone.
[[noreturn]] void RaiseReadFailure(TReadEnd end, const char* failedFormat,
                                   const TScanRecord& record);
inline void RaiseReadEnd(TReadEnd end, const char* failedFormat, const TScanRecord& record) {
    if (end != TReadEnd::reDone)
        RaiseReadFailure(end, failedFormat, record);
}

enum class THashEnd : std::uint8_t { heDone, heFailed, heChanged, heStopped };

// Hashes the record's file, read in chunks of ReadChunkSize bytes into buffer until its
// end, which must come after exactly the listed size: a read that delivers less than it
// asked for at that size is the end. Before every read it asks proceed, which may raise,
// or answer false to stop; reads counts the reads it allowed. Done leaves the hash text in
// hash; Failed means that the file could not be opened, a read failed (never taken for
// the end) or its path could not be looked up, Changed that it is not the file listed
// (TReadOnlyFile), ended before or after the listed size, or changed while it was read
// (StillAsOpened).
THashEnd HashFile(const TScanRecord& record, unsigned char* buffer,
                  const std::function<bool()>& proceed, THashText& hash, int& reads);

// Computes the hashes that the scan will ask the hash matcher for, on threads of its own
// and on the scan's thread, in the order the scan will ask; the matcher takes them from
// here instead of reading the files itself. The scan sees nothing of it but the time: a
// hash taken from here passes the same cancel points as computing it in place would have
// (each read's check is made when it is taken), and a file that fails raises the same
// error at the same moment.
//
// The work goes in batches. When the scan asks for a hash that is not ready, the scan's
// thread and the threads compute the next batch together, while the main thread, which
// has no call to serve, sleeps; then the scan hands its results over to the main thread
// one by one, and the threads sleep. On a machine with no core to spare, a thread that
// hashed on during the hand-over would only take turns with the two threads that serve
// it. With cores to spare, the threads stay a batch ahead.
// A batch: about this much work, counting each file's bytes and ReadAheadFileCost for
// opening it. Some milliseconds, so that the hand-over comes in steps too small to see.
constexpr std::uint64_t ReadAheadBatchCost = 32 << 20;
constexpr std::uint64_t ReadAheadFileCost = 16 << 10;

class TScanHashReadAhead {
public:
    // plan: record indices in the order the scan will need their hashes. cancelled: safe
    // to call from any thread; true once the scan's own cancel points would stop it. The
    // threads then stop at once, and a waiting scan thread goes to its next cancel point.
    // ahead: the threads stay a batch ahead instead of working in batches with the scan.
    // batchCost: the size of a batch (see ReadAheadBatchCost). ringSize: see
    // DefaultRingSize; a power of two.
    TScanHashReadAhead(const TScanRecords& records, const std::vector<int>& plan, int threadCount,
                       bool ahead, std::function<bool()> cancelled,
                       std::uint64_t batchCost = ReadAheadBatchCost,
                       std::size_t ringSize = DefaultRingSize);
    // Stops the threads and waits for them.
    ~TScanHashReadAhead();
    TScanHashReadAhead(const TScanHashReadAhead&) = delete;
    TScanHashReadAhead& operator=(const TScanHashReadAhead&) = delete;

    // On the scan's thread, for a record without a hash: sets its Hash from here and
    // answers true (or raises what computing it would have raised), or answers false when
    // the caller is to compute it itself (the record is not planned, was passed over, is
    // far ahead, or a cancel stopped the work on it).
    bool Take(TScanRecord& record, TScanMatcher& matcher);

    // The planned hashes held at once: a batch is far smaller. The results wait in a ring
    // of this many places, so the memory does not grow with the plan.
    static constexpr std::size_t DefaultRingSize = 4096;

private:
    enum TState : std::uint8_t { stWaiting, stReading, stDone, stFailed, stChanged };
    // One place of the ring: the slot whose number its tag holds, with that slot's state.
    struct TPlace {
        std::atomic<std::uint64_t> Tag{0};
        THashText Hash; // written by the thread that read it, before Tag
        int Reads = 0;
    };
    static std::uint64_t TagOf(std::size_t slot, TState state) { return slot << 3 | state; }
    static TState StateOf(std::uint64_t tag) { return static_cast<TState>(tag & 7); }
    TPlace& PlaceOf(std::size_t slot) { return Ring[slot & (RingSize - 1)]; }

    bool Claim(std::size_t slot);
    // The next waiting slot below Limit, claimed; false when there is none.
    bool ClaimNext(std::size_t& slot);
    // The threads stop before this slot: the batch's end, within the ring.
    std::size_t Limit() const;
    // Lets the threads work up to one batch after slot at.
    void Extend(std::size_t at);
    // Computes the slot; a slot stopped half-way is handed back as waiting.
    void Read(std::size_t slot, unsigned char* buffer);
    // The scan's thread: gives the place of the oldest slot, Base, to slot Base + RingSize,
    // once no thread reads it.
    void ReleaseBase();
    void Work();
    void WaitWhileReading(std::size_t slot);
    bool IsCancelled() const { return Cancelled && Cancelled(); }

    const TScanRecord* First = nullptr;
    int Count = 0;
    std::vector<int> Plan;   // slot -> record index
    std::vector<int> SlotOf; // record index -> slot, -1 when not planned
    std::size_t RingSize;
    std::unique_ptr<TPlace[]> Ring;
    std::size_t SlotCount = 0;
    std::vector<std::uint64_t> Cost; // Cost[k]: the work of slots 0..k-1, in bytes
    std::uint64_t BatchCost = 0;
    bool Ahead = false;                 // the threads stay a batch ahead
    std::atomic<std::size_t> Base{0};   // the slots before it are done with
    std::atomic<std::size_t> Next{0};   // the first slot the threads have not looked at
    std::atomic<std::size_t> Target{0}; // the threads stop before this slot
    std::atomic<bool> Stop{false};
    std::function<bool()> Cancelled;

    std::mutex Lock;
    std::condition_variable Finished; // a slot left the reading state
    std::condition_variable Extended; // Target or Base moved, or Stop
    std::atomic<int> Waiters{0};

    std::unique_ptr<unsigned char[]> Buffer; // the scan thread's
    std::vector<std::thread> Threads;
};

} // namespace App_scan
