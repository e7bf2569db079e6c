#include "App_scan_hashcache.h"

#include "App_common.h"
#include "Kiv_files.h"
#include "Kiv_hash.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace App_scan {

namespace {

// "SRVK": marks the file as this program's hash cache.
constexpr int ApplicationId = 0x5352564B;
constexpr int SchemaVersion = 1;
// How long a write waits for another program's: its transactions take a second at most.
constexpr int BusyMilliseconds = 10000;
// A single lookup costs about four entries of a look through a range.
constexpr std::size_t LookupCost = 4;
// SQLite's pages hold about one entry per this many bytes.
constexpr std::int64_t BytesPerEntry = 100;

const char* const SchemaSql =
    "CREATE TABLE hashes(device INTEGER NOT NULL, inode INTEGER NOT NULL,"
    " size INTEGER NOT NULL, mtime INTEGER NOT NULL, ctime INTEGER NOT NULL,"
    " btime INTEGER NOT NULL, sha256 BLOB NOT NULL, checkvalue INTEGER NOT NULL,"
    " seen INTEGER NOT NULL, PRIMARY KEY(device, inode)) WITHOUT ROWID;"
    "CREATE TABLE meta(name TEXT PRIMARY KEY, value INTEGER NOT NULL) WITHOUT ROWID;"
    "PRAGMA application_id=1397904971;"
    "PRAGMA user_version=1;";
static_assert(ApplicationId == 1397904971);

// The columns that both lookups give, from inode on.
const char* const LookupSql = "SELECT inode, size, mtime, ctime, btime, sha256, checkvalue, seen"
                              " FROM hashes WHERE device=?1 AND inode=?2";
const char* const RangeSql = "SELECT inode, size, mtime, ctime, btime, sha256, checkvalue, seen"
                             " FROM hashes WHERE device=?1 AND inode BETWEEN ?2 AND ?3"
                             " ORDER BY inode";
const char* const InsertSql =
    "INSERT OR REPLACE INTO hashes VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9)";
const char* const TouchSql = "UPDATE hashes SET seen=?3 WHERE device=?1 AND inode=?2 AND seen<?3";

// SQLite keeps signed 64-bit numbers; the bits go in and come out unchanged.
sqlite3_int64 Signed(std::uint64_t value) {
    return static_cast<sqlite3_int64>(value);
}
std::uint64_t Unsigned(sqlite3_int64 value) {
    return static_cast<std::uint64_t>(value);
}

// The order of the primary key: device, then inode, as signed numbers.
bool FileBefore(std::uint64_t deviceA, std::uint64_t inodeA, std::uint64_t deviceB,
                std::uint64_t inodeB) {
    return std::pair(Signed(deviceA), Signed(inodeA)) < std::pair(Signed(deviceB), Signed(inodeB));
}

// Written beside each entry: an entry whose bytes were damaged fails it, and is never
// taken for a hash. A damaged file is no attack, so a fast mix of the parts will do.
std::uint64_t CheckValue(const THashCacheKey& key, const unsigned char digest[32]) {
    constexpr std::uint64_t Prime = 0x100000001B3ull;
    std::uint64_t value = static_cast<std::uint64_t>(ApplicationId);
    for (const std::uint64_t part :
         {key.Device, key.Inode, key.Size, key.LastWriteTime, key.ChangeTime, key.CreationTime})
        value = (value ^ part) * Prime + (value >> 29);
    for (std::size_t at = 0; at < 32; at += 8) {
        std::uint64_t word = 0;
        std::memcpy(&word, digest + at, sizeof word);
        value = (value ^ word) * Prime + (value >> 29);
    }
    return Kiv_hash::Mix64(value, 0);
}

std::string Quoted(const std::string& file) {
    return "\"" + file + "\"";
}

// Makes the folder and those above it that are missing, each for the user alone.
void MakeFolders(const std::string& folder, std::string& reason) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) {
            reason = Kiv_files::SystemErrorText(errno);
            return;
        }
        if (slash == std::string::npos)
            return;
    }
}

// The file systems known to keep a real change time: set by every change, never set back,
// and kept on disk. FAT and exFAT keep none (after a remount it is made from the other
// times), nor can a network or FUSE file system be trusted to: their files are read anew.
bool KeepsRealChangeTimes(std::uint64_t type) {
    switch (type) {
    case 0xEF53:     // ext2, ext3, ext4
    case 0x58465342: // XFS
    case 0x9123683E: // Btrfs
    case 0x01021994: // tmpfs
    case 0xF2F52010: // F2FS
    case 0x2FC12FC1: // ZFS
    case 0xCA451A4E: // bcachefs
    case 0x52654973: // ReiserFS
    case 0x3153464A: // JFS
    case 0x794C7630: // overlayfs
        return true;
    default:
        return false;
    }
}

} // namespace

// ---------------------------------------------------------------------------------------
// Where and when

std::string HashCacheFile() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/Sorvik/hashes.db";
    const std::string folder = Kiv_files::HomeFolder();
    return folder.empty() ? std::string() : folder + "/.cache/Sorvik/hashes.db";
}

std::optional<THashCacheKey> HashCacheKeyOf(const TScanRecord& record) {
    if ((record.Device() == 0 && record.Inode() == 0) || record.ChangeTime() == 0)
        return std::nullopt;
    return THashCacheKey{record.Device(),        record.Inode(),      record.Size(),
                         record.LastWriteTime(), record.ChangeTime(), record.CreationTime()};
}

THashCacheTimes THashCacheTimes::Now() {
    timespec real{};
    timespec coarse{};
    ::clock_gettime(CLOCK_REALTIME, &real);
    ::clock_gettime(CLOCK_REALTIME_COARSE, &coarse);
    THashCacheTimes times;
    times.Today = real.tv_sec / 86400;
    if (coarse.tv_sec > 0)
        times.ReadsSince = static_cast<std::uint64_t>(coarse.tv_sec) * 1'000'000'000u +
                           static_cast<std::uint64_t>(coarse.tv_nsec);
    return times;
}

bool IsSettledChangeTime(std::uint64_t changeTime, std::uint64_t readsSince) {
    constexpr std::uint64_t Second = 1'000'000'000;
    const std::uint64_t fraction = changeTime % Second;
    std::uint64_t step = 1;
    while (step < Second && fraction % (step * 10) == 0)
        step *= 10;
    return changeTime <= readsSince && readsSince - changeTime >= 2 * step;
}

// ---------------------------------------------------------------------------------------
// THashCache: failures

class THashCache::EFailure {
public:
    enum TKind { fkDamaged, fkBusy, fkOther };
    EFailure(TKind kind, std::string reason) : Kind(kind), Reason(std::move(reason)) {}
    TKind Kind;
    std::string Reason;
};

void THashCache::TDatabaseClose::operator()(sqlite3* database) const {
    sqlite3_close_v2(database);
}

void THashCache::TStatementFinalize::operator()(sqlite3_stmt* statement) const {
    sqlite3_finalize(statement);
}

THashCache::EFailure THashCache::MakeFailure(int code) const {
    const int primary = code & 0xFF;
    const std::string reason =
        Database ? sqlite3_errmsg(Database.get()) : std::string(sqlite3_errstr(code));
    if (primary == SQLITE_CORRUPT || primary == SQLITE_NOTADB)
        return EFailure(EFailure::fkDamaged, reason);
    if (primary == SQLITE_BUSY || primary == SQLITE_LOCKED)
        return EFailure(EFailure::fkBusy, reason);
    return EFailure(EFailure::fkOther, reason);
}

void THashCache::Raise(int code) const {
    throw MakeFailure(code);
}

void THashCache::Check(int code) const {
    if (code != SQLITE_OK)
        Raise(code);
}

void THashCache::Warn(const std::string& message) {
    if (Warned)
        return;
    Warned = true;
    if (Warning)
        Warning(message);
}

void THashCache::Fail(const EFailure& failure) {
    // Another program held the cache longer than a write waits: this time without it.
    if (failure.Kind == EFailure::fkBusy)
        return;
    FailureReason = failure.Reason;
    if (failure.Kind == EFailure::fkDamaged) {
        Warn("The hash cache " + Quoted(FFile) + " was damaged (" + failure.Reason +
             "); the program emptied it, and the scan goes on without the hashes it held.");
        Reset();
        return;
    }
    Warn("The program could not use the hash cache " + Quoted(FFile) + " (" + failure.Reason +
         "); the scan goes on without it.");
    Close();
}

// Nothing of a damaged cache can be trusted, and nothing in it is worth more than the time
// to read the files again: a new one takes its place.
void THashCache::Reset() {
    struct stat now {};
    const bool same =
        ::stat(FFile.c_str(), &now) == 0 && now.st_dev == OpenedDevice && now.st_ino == OpenedInode;
    Close();
    if (same)
        for (const char* suffix : {"", "-wal", "-shm", "-journal"})
            ::unlink((FFile + suffix).c_str());
    try {
        Open();
    } catch (const EFailure& failure) {
        FailureReason = failure.Reason;
        Close();
    }
}

// ---------------------------------------------------------------------------------------
// THashCache: opening

class THashCache::TTransaction {
public:
    TTransaction(THashCache& cache, const char* begin) : Cache(cache) { Cache.Execute(begin); }
    ~TTransaction() {
        if (!Done && Cache.Database)
            sqlite3_exec(Cache.Database.get(), "ROLLBACK", nullptr, nullptr, nullptr);
    }
    TTransaction(const TTransaction&) = delete;
    TTransaction& operator=(const TTransaction&) = delete;

    void Commit() {
        Cache.Execute("COMMIT");
        Done = true;
    }

private:
    THashCache& Cache;
    bool Done = false;
};

namespace {

// A statement in use: reset and unbound before, reset after (so that it holds no lock).
class TUse {
public:
    explicit TUse(sqlite3_stmt* statement) : Statement(statement) {
        sqlite3_reset(Statement);
        sqlite3_clear_bindings(Statement);
    }
    ~TUse() { sqlite3_reset(Statement); }
    TUse(const TUse&) = delete;
    TUse& operator=(const TUse&) = delete;

private:
    sqlite3_stmt* Statement;
};

} // namespace

THashCache::THashCache(std::string file, TWarning warning, THashCacheTimes times)
    : FFile(file.empty() ? HashCacheFile() : std::move(file)), Warning(std::move(warning)),
      Times(times) {
    try {
        Open();
    } catch (const EFailure& failure) {
        Fail(failure.Kind == EFailure::fkBusy ? EFailure(EFailure::fkOther, failure.Reason)
                                              : failure);
    }
}

THashCache::~THashCache() {
    Flush();
    if (!Writer.joinable())
        return;
    {
        const std::lock_guard<std::mutex> lock(Lock);
        Stopping = true;
    }
    Changed.notify_all();
    Writer.join();
}

void THashCache::Execute(const char* sql) {
    Check(sqlite3_exec(Database.get(), sql, nullptr, nullptr, nullptr));
}

sqlite3_stmt* THashCache::Prepare(TStatement& statement, const char* sql) {
    if (!statement) {
        sqlite3_stmt* made = nullptr;
        const int code =
            sqlite3_prepare_v3(Database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &made, nullptr);
        statement.reset(made);
        Check(code);
    }
    return statement.get();
}

void THashCache::Close() {
    Lookup.reset();
    Range.reset();
    Insert.reset();
    Touch.reset();
    Database.reset();
}

void THashCache::Open() {
    if (FFile.empty())
        throw EFailure(EFailure::fkOther, "no home folder is known");
    const std::size_t slash = FFile.rfind('/');
    std::string reason;
    if (slash != std::string::npos && slash > 0)
        MakeFolders(FFile.substr(0, slash), reason);
    if (!reason.empty())
        throw EFailure(EFailure::fkOther, reason);
    // Made here, for the user alone: SQLite gives its journal files the same mode.
    const int made =
        ::open(FFile.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (made >= 0) {
        ::fchmod(made, 0600);
        ::close(made);
    } else if (errno != EEXIST) {
        throw EFailure(EFailure::fkOther, Kiv_files::SystemErrorText(errno));
    }
    sqlite3* database = nullptr;
    const int code = sqlite3_open_v2(
        FFile.c_str(), &database,
        SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX, nullptr);
    Database.reset(database);
    Check(code);
    struct stat opened {};
    if (::stat(FFile.c_str(), &opened) == 0) {
        OpenedDevice = opened.st_dev;
        OpenedInode = opened.st_ino;
    }
    sqlite3_busy_timeout(database, BusyMilliseconds);
    // The file is data, never code: no schema of it may run anything.
    sqlite3_db_config(database, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(database, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    CreateSchema();
    // Write-ahead log: readers never wait for a writer, and a writer killed half-way leaves
    // the file as it was. A file system without shared memory keeps the rollback journal,
    // which is as safe, and slower.
    sqlite3_exec(database, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    // Safe when the program is killed at any point; the power failing may cost the last
    // transactions, never the file.
    Execute("PRAGMA synchronous=NORMAL");
    // Writes and long looks go through the file in order: a small cache does.
    Execute("PRAGMA cache_size=-4096");
}

namespace {

std::int64_t ReadInteger(sqlite3* database, const char* sql, int& code) {
    sqlite3_stmt* statement = nullptr;
    code = sqlite3_prepare_v2(database, sql, -1, &statement, nullptr);
    std::int64_t value = -1;
    if (code == SQLITE_OK) {
        code = sqlite3_step(statement);
        if (code == SQLITE_ROW) {
            value = sqlite3_column_int64(statement, 0);
            code = SQLITE_OK;
        } else if (code == SQLITE_DONE) {
            code = SQLITE_OK;
        }
    }
    sqlite3_finalize(statement);
    return value;
}

} // namespace

void THashCache::CreateSchema() {
    int code = SQLITE_OK;
    const auto read = [&](const char* sql) {
        const std::int64_t value = ReadInteger(Database.get(), sql, code);
        Check(code);
        return value;
    };
    std::int64_t application = read("PRAGMA application_id");
    std::int64_t version = read("PRAGMA user_version");
    // Either one unset may be a new file that another program is making between the two
    // reads: only both read in one transaction tell.
    if (application == 0 || version == 0) {
        // New: made by whichever program comes first. Large pages: a scan looks through
        // long runs of entries.
        Execute("PRAGMA page_size=16384");
        TTransaction transaction(*this, "BEGIN IMMEDIATE");
        // Only a file without tables is new: another program's database stays as it is.
        if (read("SELECT count(*) FROM sqlite_master") == 0)
            Execute(SchemaSql);
        transaction.Commit();
        application = read("PRAGMA application_id");
        version = read("PRAGMA user_version");
    }
    if (application == ApplicationId && version > SchemaVersion)
        throw EFailure(EFailure::fkOther, "it was made by a newer version of the program");
    // Another program's file is never emptied: the cache is only not used.
    if (application != ApplicationId)
        throw EFailure(EFailure::fkOther, "it is not a hash cache of this program");
    if (version != SchemaVersion)
        throw EFailure(EFailure::fkDamaged, "it is not a hash cache of this version");
    PrunedDay = read("SELECT value FROM meta WHERE name='pruned'");
}

// ---------------------------------------------------------------------------------------
// THashCache: recalling

std::int64_t THashCache::EstimatedEntries() {
    int code = SQLITE_OK;
    const std::int64_t pages = ReadInteger(Database.get(), "PRAGMA page_count", code);
    Check(code);
    const std::int64_t pageSize = ReadInteger(Database.get(), "PRAGMA page_size", code);
    Check(code);
    return pages * pageSize / BytesPerEntry;
}

void THashCache::Accept(TRecall& recall, std::size_t first, std::size_t end, sqlite3_stmt* row) {
    const THashCacheKey key{recall.Wanted[first].Device,
                            Unsigned(sqlite3_column_int64(row, 0)),
                            Unsigned(sqlite3_column_int64(row, 1)),
                            Unsigned(sqlite3_column_int64(row, 2)),
                            Unsigned(sqlite3_column_int64(row, 3)),
                            Unsigned(sqlite3_column_int64(row, 4))};
    const void* blob = sqlite3_column_blob(row, 5);
    unsigned char digest[32];
    if (!blob || sqlite3_column_bytes(row, 5) != sizeof digest)
        throw EFailure(EFailure::fkDamaged, "an entry has no hash");
    std::memcpy(digest, blob, sizeof digest);
    if (CheckValue(key, digest) != Unsigned(sqlite3_column_int64(row, 6)))
        throw EFailure(EFailure::fkDamaged, "an entry does not match its check value");
    bool taken = false;
    for (std::size_t k = first; k < end; ++k) {
        const std::size_t at = recall.Wanted[k].At;
        if (recall.Keys[at] != key)
            continue;
        recall.Records[recall.Indices[at]].Hash = THashText::FromDigest(digest);
        ++recall.Found;
        taken = true;
    }
    if (taken && sqlite3_column_int64(row, 7) < Times.Today)
        Seen.push_back({key.Device, key.Inode});
}

void THashCache::RecallInto(TRecall& recall) {
    const std::vector<TWanted>& wanted = recall.Wanted;
    const bool lookups = static_cast<std::int64_t>(wanted.size() * LookupCost) < EstimatedEntries();
    for (std::size_t device = 0; device < wanted.size();) {
        std::size_t deviceEnd = device;
        while (deviceEnd < wanted.size() && wanted[deviceEnd].Device == wanted[device].Device)
            ++deviceEnd;
        // The wanted entries of one file lie together: [file, fileEnd(file)).
        const auto fileEnd = [&](std::size_t file) {
            std::size_t end = file + 1;
            while (end < deviceEnd && wanted[end].Inode == wanted[file].Inode)
                ++end;
            return end;
        };
        if (lookups) {
            sqlite3_stmt* lookup = Prepare(Lookup, LookupSql);
            for (std::size_t file = device; file < deviceEnd;) {
                const std::size_t end = fileEnd(file);
                const TUse use(lookup);
                sqlite3_bind_int64(lookup, 1, Signed(wanted[file].Device));
                sqlite3_bind_int64(lookup, 2, Signed(wanted[file].Inode));
                const int code = sqlite3_step(lookup);
                if (code == SQLITE_ROW)
                    Accept(recall, file, end, lookup);
                else if (code != SQLITE_DONE)
                    Raise(code);
                file = end;
            }
        } else {
            sqlite3_stmt* range = Prepare(Range, RangeSql);
            const TUse use(range);
            sqlite3_bind_int64(range, 1, Signed(wanted[device].Device));
            sqlite3_bind_int64(range, 2, Signed(wanted[device].Inode));
            sqlite3_bind_int64(range, 3, Signed(wanted[deviceEnd - 1].Inode));
            std::size_t file = device;
            for (;;) {
                const int code = sqlite3_step(range);
                if (code == SQLITE_DONE)
                    break;
                if (code != SQLITE_ROW)
                    Raise(code);
                const sqlite3_int64 inode = sqlite3_column_int64(range, 0);
                while (file < deviceEnd && Signed(wanted[file].Inode) < inode)
                    file = fileEnd(file);
                if (file == deviceEnd)
                    break;
                if (Signed(wanted[file].Inode) == inode)
                    Accept(recall, file, fileEnd(file), range);
            }
        }
        device = deviceEnd;
    }
}

int THashCache::Recall(const TScanRecords& records, const std::vector<int>& indices) {
    return RecallOf(records, indices, true);
}

int THashCache::RecallOf(const TScanRecords& records, const std::vector<int>& indices,
                         bool ofFiles) {
    const std::unique_lock<std::mutex> lock = WaitForWriter();
    if (!IsOpen() || indices.empty())
        return 0;
    // An empty cache (the first scan) has nothing to look up.
    int code = SQLITE_OK;
    const bool empty = ReadInteger(Database.get(), "SELECT 1 FROM hashes LIMIT 1", code) != 1;
    if (code != SQLITE_OK || empty) {
        if (code != SQLITE_OK)
            Fail(MakeFailure(code));
        return 0;
    }
    TRecall recall{records, {}, {}, {}, 0};
    // In the records' order, which is the order their facts lie in memory.
    std::vector<int> ordered(indices);
    std::sort(ordered.begin(), ordered.end());
    recall.Indices.reserve(indices.size());
    recall.Keys.reserve(indices.size());
    recall.Wanted.reserve(indices.size());
    for (const int index : ordered)
        if (const auto key = HashCacheKeyOf(records[index]);
            key && (!ofFiles || Trusts(records[index]))) {
            recall.Wanted.push_back({key->Device, key->Inode, recall.Keys.size()});
            recall.Indices.push_back(index);
            recall.Keys.push_back(*key);
        }
    if (recall.Wanted.empty())
        return 0;
    std::sort(recall.Wanted.begin(), recall.Wanted.end(), [](const TWanted& a, const TWanted& b) {
        return FileBefore(a.Device, a.Inode, b.Device, b.Inode);
    });
    try {
        TTransaction transaction(*this, "BEGIN");
        RecallInto(recall);
        transaction.Commit();
    } catch (const EFailure& failure) {
        Fail(failure); // the hashes set before passed their checks
    }
    FRecalled += recall.Found;
    return recall.Found;
}

bool THashCache::Find(const THashCacheKey& key, THashText& hash) {
    TScanRecord record;
    record.SetIdentity(key.Device, key.Inode);
    record.SetSize(key.Size);
    record.SetLastWriteTime(key.LastWriteTime);
    record.SetChangeTime(key.ChangeTime);
    record.SetCreationTime(key.CreationTime);
    TScanRecords records(1);
    records[0] = record;
    if (RecallOf(records, {0}, false) == 0)
        return false;
    hash = records[0].Hash;
    return true;
}

// ---------------------------------------------------------------------------------------
// THashCache: remembering

bool THashCache::KeepsChangeTimes(const TScanRecord& record) {
    for (const auto& [device, keeps] : FileSystems)
        if (device == record.Device())
            return keeps;
    // Both asked of one open file, tied to the record's device by its own: a path that
    // names a file of another file system by now is not taken, and nothing is memorised
    // for it.
    const int fd = ::open(record.Path().c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct statfs system {};
    struct stat file {};
    const bool asked = ::fstatfs(fd, &system) == 0 && ::fstat(fd, &file) == 0;
    ::close(fd);
    if (!asked || file.st_dev != record.Device())
        return false;
    const bool keeps = KeepsRealChangeTimes(static_cast<std::uint64_t>(system.f_type));
    FileSystems.emplace_back(record.Device(), keeps);
    return keeps;
}

void THashCache::Remember(const TScanRecord& record) {
    if (!IsOpen())
        return;
    const auto key = HashCacheKeyOf(record);
    const unsigned char* digest = record.Hash.Digest();
    if (!key || !digest || !IsSettledChangeTime(key->ChangeTime, Times.ReadsSince) ||
        !Trusts(record))
        return;
    Store(*key, digest);
    ++FRemembered;
}

void THashCache::Store(const THashCacheKey& key, const unsigned char digest[32]) {
    if (Pending.empty())
        FirstPending = std::chrono::steady_clock::now();
    TEntry entry{key, {}};
    std::memcpy(entry.Digest, digest, sizeof entry.Digest);
    Pending.push_back(entry);
    // Each batch rewrites most pages of a file it spreads over: batches grow with what was
    // written, so that their number grows with its logarithm.
    if (Pending.size() >= std::max(HashCacheBatch, HandedOver / 2) ||
        (Pending.size() % 64 == 0 &&
         std::chrono::steady_clock::now() - FirstPending >= HashCacheFlushInterval))
        HandOver();
}

std::unique_lock<std::mutex> THashCache::WaitForWriter() {
    std::unique_lock<std::mutex> lock(Lock);
    Changed.wait(lock, [this] { return !Writing.load(); });
    if (WriterFailure) {
        const EFailure failure = *WriterFailure;
        WriterFailure.reset();
        Fail(failure);
    }
    return lock;
}

void THashCache::HandOver() {
    // The writer still writes the batch before: this one grows meanwhile.
    if (Writing.load())
        return;
    std::unique_lock<std::mutex> lock = WaitForWriter();
    if (!IsOpen()) {
        Pending.clear();
        return;
    }
    if (!Writer.joinable()) {
        try {
            Writer = std::thread([this] { WriteBatches(); });
        } catch (const std::system_error&) {
            // No thread to spare: the scan writes the batch itself.
            try {
                std::vector<TEntry> entries;
                entries.swap(Pending);
                Write(entries, {}, false);
            } catch (const EFailure& failure) {
                Fail(failure);
            }
            return;
        }
    }
    HandedOver += Pending.size();
    Handed.swap(Pending);
    Pending.clear();
    Writing = true;
    lock.unlock();
    Changed.notify_all();
}

void THashCache::WriteBatches() {
    std::unique_lock<std::mutex> lock(Lock);
    for (;;) {
        Changed.wait(lock, [this] { return Writing.load() || Stopping; });
        if (!Writing.load())
            return;
        std::vector<TEntry> entries;
        entries.swap(Handed);
        try {
            Write(entries, {}, false);
        } catch (const EFailure& failure) {
            WriterFailure = std::make_unique<EFailure>(failure);
        }
        Writing = false;
        Changed.notify_all();
    }
}

bool THashCache::PruneDue() const {
    return PrunedDay < Times.Today;
}

void THashCache::Write(std::vector<TEntry>& entries, const std::vector<TFile>& seen, bool prune) {
    // In the order of the key, which writes each page of the file once; of one file the
    // last kept.
    std::stable_sort(entries.begin(), entries.end(), [](const TEntry& a, const TEntry& b) {
        return FileBefore(a.Key.Device, a.Key.Inode, b.Key.Device, b.Key.Inode);
    });
    TTransaction transaction(*this, "BEGIN IMMEDIATE");
    sqlite3_stmt* insert = Prepare(Insert, InsertSql);
    std::size_t written = 0;
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const TEntry& entry = entries[k];
        if (k + 1 < entries.size() && entries[k + 1].Key.Device == entry.Key.Device &&
            entries[k + 1].Key.Inode == entry.Key.Inode)
            continue;
        const TUse use(insert);
        const THashCacheKey& key = entry.Key;
        sqlite3_bind_int64(insert, 1, Signed(key.Device));
        sqlite3_bind_int64(insert, 2, Signed(key.Inode));
        sqlite3_bind_int64(insert, 3, Signed(key.Size));
        sqlite3_bind_int64(insert, 4, Signed(key.LastWriteTime));
        sqlite3_bind_int64(insert, 5, Signed(key.ChangeTime));
        sqlite3_bind_int64(insert, 6, Signed(key.CreationTime));
        sqlite3_bind_blob(insert, 7, entry.Digest, sizeof entry.Digest, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 8, Signed(CheckValue(key, entry.Digest)));
        sqlite3_bind_int64(insert, 9, Times.Today);
        const int code = sqlite3_step(insert);
        if (code != SQLITE_DONE)
            Raise(code);
        if (AfterEntryWritten)
            AfterEntryWritten(++written);
    }
    if (!seen.empty()) {
        sqlite3_stmt* touch = Prepare(Touch, TouchSql);
        for (const TFile& file : seen) {
            const TUse use(touch);
            sqlite3_bind_int64(touch, 1, Signed(file.Device));
            sqlite3_bind_int64(touch, 2, Signed(file.Inode));
            sqlite3_bind_int64(touch, 3, Times.Today);
            const int code = sqlite3_step(touch);
            if (code != SQLITE_DONE)
                Raise(code);
        }
    }
    if (prune) {
        const std::string sql =
            "DELETE FROM hashes WHERE seen<=" + std::to_string(Times.Today - HashCacheKeepDays) +
            ";INSERT OR REPLACE INTO meta VALUES('pruned'," + std::to_string(Times.Today) + ")";
        Execute(sql.c_str());
    }
    transaction.Commit();
    if (prune)
        PrunedDay = Times.Today;
}

void THashCache::Flush() {
    const std::unique_lock<std::mutex> lock = WaitForWriter();
    std::vector<TEntry> entries;
    entries.swap(Pending);
    std::vector<TFile> seen;
    seen.swap(Seen);
    if (!IsOpen() || (entries.empty() && seen.empty() && !PruneDue()))
        return;
    try {
        Write(entries, seen, PruneDue());
    } catch (const EFailure& failure) {
        Fail(failure);
    }
}

void THashCache::Clear() {
    const std::unique_lock<std::mutex> lock = WaitForWriter();
    Pending.clear();
    Seen.clear();
    const auto fail = [this](const std::string& reason) {
        throw App_common::EAppError("The program could not empty the hash cache " + Quoted(FFile) +
                                    " (" + reason + ").");
    };
    if (!IsOpen())
        fail(FailureReason);
    try {
        TTransaction transaction(*this, "BEGIN IMMEDIATE");
        Execute("DELETE FROM hashes");
        transaction.Commit();
    } catch (const EFailure& failure) {
        fail(failure.Reason);
    }
    // Gives the space back; another program reading the cache may keep it from doing so
    // this time, which costs nothing but the space.
    sqlite3_exec(Database.get(), "VACUUM", nullptr, nullptr, nullptr);
}

void EmptyHashCache(const std::string& given) {
    const std::string file = given.empty() ? HashCacheFile() : given;
    struct stat info {};
    if (file.empty() || (::lstat(file.c_str(), &info) != 0 && errno == ENOENT))
        return;
    THashCache cache(file, nullptr);
    cache.Clear();
}

} // namespace App_scan
