// The hash cache: the SHA-256 values of the files that earlier scans read, kept between runs
// so that a scan of files nobody changed reads none of them again. The window and
// sorvik-scan share it: $XDG_CACHE_HOME/Sorvik/hashes.db (~/.cache/Sorvik/hashes.db).
//
// A cached hash stands for a file only while the file is exactly the one it was read from:
// same device, inode, size, last write time, change time and birth time. The change time is
// set by every change and cannot be set back, so a file rewritten with its size and last
// write time put back (touch -r) is a miss; the entry is replaced once the scan has read
// the file again. A hash is kept only when the file's change time lies before the run began
// by more than the file system's clock step: a change made in the same step as the one the
// change time records would leave it as it is.
//
// The database is SQLite, chosen by measurement against LMDB (200,000 keys on this machine's
// two shared cores): LMDB wrote a sorted batch in 0.25 s against 0.6-0.8 s and looked keys
// up in 0.2-0.25 s against 0.3 s (a range scan that SQLite does in 0.08 s serves a large
// batch), but LMDB trusts the pages it maps, so a file that garbage was written into can
// crash the reader, where SQLite reports it as damaged. Both held up under two writing
// processes and a killed writer. SQLite also keeps the file smaller (97 against 116 bytes a
// key) and runs on a network home folder without a lock file of its own.
//
// A cache is used by one thread at a time (the scan's); it writes in the background on a
// thread of its own.
#pragma once

#include "App_scan.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace App_scan {

// $XDG_CACHE_HOME/Sorvik/hashes.db, or ~/.cache/Sorvik/hashes.db when XDG_CACHE_HOME is
// unset or not absolute; empty when no home folder is known.
std::string HashCacheFile();

// What a file's hash is cached under: two files of equal keys are one file, unchanged.
struct THashCacheKey {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::uint64_t LastWriteTime = 0; // 100-ns ticks since 1601, as the facts keep it
    std::uint64_t ChangeTime = 0;    // nanoseconds since 1970
    std::uint64_t CreationTime = 0;  // the birth time as the facts keep it; 0 where unknown
    friend bool operator==(const THashCacheKey&, const THashCacheKey&) = default;
};

// The key of the record's file; nothing when its device and inode or its change time are
// unknown (a record made by hand).
std::optional<THashCacheKey> HashCacheKeyOf(const TScanRecord& record);

// The moments the cache goes by: today's day for the age of its entries, and when the
// run began on the clock of file times, which no read of the run came before.
struct THashCacheTimes {
    std::int64_t Today = 0;       // days since 1970-01-01 UTC
    std::uint64_t ReadsSince = 0; // CLOCK_REALTIME_COARSE in nanoseconds since 1970
    static THashCacheTimes Now();
};

// Whether a change of the file made from readsSince on is sure to give it another change
// time than changeTime. File systems keep times to a step of their own (a nanosecond, ten
// milliseconds on exFAT, two seconds on FAT); the step is taken as at most the largest
// power of ten the time's fraction of a second is a multiple of, doubled.
bool IsSettledChangeTime(std::uint64_t changeTime, std::uint64_t readsSince);

// Entries of files that no scan has seen for this many days are dropped.
constexpr std::int64_t HashCacheKeepDays = 90;
// Hashes remembered are written by a thread of the cache's own in batches of at least this
// many (and half of those written before), or once the first of them waited this long (a
// long scan that is killed keeps most of its work), while the scan goes on; what is left
// at the end, by Flush.
constexpr std::size_t HashCacheBatch = 16384;
constexpr std::chrono::seconds HashCacheFlushInterval(60);

class THashCache final : public TScanHashStore {
public:
    using TWarning = std::function<void(const std::string& message)>;

    // Opens the cache file (empty: the user's, HashCacheFile), making it (mode 0600) and its folder
    // (mode 0700) when missing. A cache that cannot be used is reported through warning, once for
    // the life of the object and always on the thread that uses it, and the object goes on as an
    // empty cache that keeps nothing; a damaged one is emptied.
    THashCache(std::string file, TWarning warning, THashCacheTimes times = THashCacheTimes::Now());
    // Flushes.
    ~THashCache() override;
    THashCache(const THashCache&) = delete;
    THashCache& operator=(const THashCache&) = delete;

    bool IsOpen() const { return static_cast<bool>(Database); }

    int Recall(const TScanRecords& records, const std::vector<int>& indices) override;
    // Keeps the hash when the file's change time is settled (IsSettledChangeTime).
    void Remember(const TScanRecord& record) override;

    // The hash of exactly this key, when the cache holds one.
    bool Find(const THashCacheKey& key, THashText& hash);
    // Keeps the hash, whatever the change time.
    void Store(const THashCacheKey& key, const unsigned char digest[32]);
    // Waits for the batch being written, then writes, in one transaction, the hashes kept
    // since and today's day into the entries found, and once a day drops the entries not
    // seen for HashCacheKeepDays.
    void Flush();
    // Drops every entry; raises App_common::EAppError when the cache cannot be used.
    void Clear();

    // Hashes recalled and remembered so far.
    int Recalled() const { return FRecalled; }
    int Remembered() const { return FRemembered; }

    // Whose change times the cache goes by: unset, those of files on a file system that
    // keeps real ones, asked of the file's path once per device. A test's records made up
    // without files need another answer.
    std::function<bool(const TScanRecord&)> TrustsChangeTime;

    // Lets a test act as the program is killed: called within a flush's transaction after
    // each entry it wrote, with their count.
    std::function<void(std::size_t written)> AfterEntryWritten;

private:
    struct TEntry {
        THashCacheKey Key;
        unsigned char Digest[32];
    };
    struct TFile {
        std::uint64_t Device;
        std::uint64_t Inode;
    };
    // A file wanted, and where its record and key are in the recall.
    struct TWanted {
        std::uint64_t Device;
        std::uint64_t Inode;
        std::size_t At;
    };
    struct TRecall {
        const TScanRecords& Records;
        std::vector<int> Indices;        // of the records wanted
        std::vector<THashCacheKey> Keys; // of their files
        std::vector<TWanted> Wanted;     // by file
        int Found = 0;
    };
    struct TDatabaseClose {
        void operator()(sqlite3* database) const;
    };
    struct TStatementFinalize {
        void operator()(sqlite3_stmt* statement) const;
    };
    using TStatement = std::unique_ptr<sqlite3_stmt, TStatementFinalize>;
    class TTransaction;
    class EFailure;

    void Open();
    void Close();
    void CreateSchema();
    void Execute(const char* sql);
    sqlite3_stmt* Prepare(TStatement& statement, const char* sql);
    EFailure MakeFailure(int code) const;
    [[noreturn]] void Raise(int code) const;
    void Check(int code) const;
    // What a failure means: a damaged cache is emptied, a busy one skipped this time, any
    // other failure ends its use. The first failure that matters is reported.
    void Fail(const EFailure& failure);
    void Warn(const std::string& message);
    void Reset();

    // Recall, for the records of files (whose file systems are asked whether their change
    // times can be trusted) or of keys given as they are (Find).
    int RecallOf(const TScanRecords& records, const std::vector<int>& indices, bool ofFiles);
    // Sets the hashes of the files wanted: by single lookups, or by a look through each
    // device's range of inodes when they are many against the entries.
    void RecallInto(TRecall& recall);
    // Takes the row's entry, of the file of Wanted[first, end), for those of them of its key.
    void Accept(TRecall& recall, std::size_t first, std::size_t end, sqlite3_stmt* row);
    std::int64_t EstimatedEntries();
    bool PruneDue() const;

    // The database belongs to whoever holds Lock: the thread that uses the cache, or the
    // writer while it writes a batch (Writing). Returns once the writer is idle, with the
    // lock held, having reported what the writer's last batch failed with.
    std::unique_lock<std::mutex> WaitForWriter();
    void HandOver();
    void WriteBatches();
    // Writes the entries and the days of the files seen, and prunes when asked; Lock held.
    void Write(std::vector<TEntry>& entries, const std::vector<TFile>& seen, bool prune);

    std::string FFile;
    TWarning Warning;
    THashCacheTimes Times;
    bool Warned = false;
    std::string FailureReason; // why the cache is not open
    int FRecalled = 0;
    int FRemembered = 0;
    std::vector<TEntry> Pending;
    std::size_t HandedOver = 0; // entries handed to the writer so far
    std::chrono::steady_clock::time_point FirstPending;
    std::vector<TFile> Seen; // files recalled that were last seen before today
    std::int64_t PrunedDay = -1;
    // Whether the file system of the record's file keeps a change time that no program can
    // set back and that survives a remount; asked once per device.
    bool KeepsChangeTimes(const TScanRecord& record);
    bool Trusts(const TScanRecord& record) {
        return TrustsChangeTime ? TrustsChangeTime(record) : KeepsChangeTimes(record);
    }
    std::vector<std::pair<std::uint64_t, bool>> FileSystems; // device, KeepsChangeTimes

    // The file opened, so that emptying a damaged cache never removes another file that
    // has taken its name since.
    std::uint64_t OpenedDevice = 0;
    std::uint64_t OpenedInode = 0;

    std::unique_ptr<sqlite3, TDatabaseClose> Database;
    TStatement Lookup, Range, Insert, Touch;

    std::mutex Lock;
    std::condition_variable Changed;         // a batch handed over, written, or Stopping
    std::vector<TEntry> Handed;              // under Lock: the batch the writer is to write
    std::atomic<bool> Writing{false};        // set by the user of the cache, cleared by the writer
    bool Stopping = false;                   // under Lock
    std::unique_ptr<EFailure> WriterFailure; // under Lock
    std::thread Writer;
};

// Empties the cache at file (empty: the user's), as the Options dialog's Forget Hashes does; a
// missing file is empty already. Raises App_common::EAppError "The program could not empty the hash
// cache
// \"%s\" (reason)." when it cannot.
void EmptyHashCache(const std::string& file);

} // namespace App_scan
