// The hash cache on real files and a real database: a hash is taken only for exactly the
// file it was read from; a scan with the cache finds what one without it finds, reading
// only what changed; a cache that is damaged, cannot be written, is written by two programs
// at once or by a program killed half-way never fails a scan nor makes a false group.
#include "App_scan_hashcache.h"
#include "ChangeWhileReadTestSupport.h"
#include "ScanFilesTestSupport.h"
#include "ScanReference.h"

#include <algorithm>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sqlite3.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace App_scan;
using ScanTest::OpenSslSha256;
using ScanTest::RewriteKeepingTimes;
using ScanTest::TTemporaryFolder;

namespace {

constexpr std::uint64_t Second = 1'000'000'000;

// The files, once the clock of file times has passed their change times: hashes of them
// are kept.
std::vector<std::string> Settled(std::vector<std::string> paths) {
    for (const std::string& path : paths)
        ScanTest::PassChangeTime(path);
    return paths;
}

// A cache in the test's folder, its warnings collected.
struct TCache {
    explicit TCache(const TTemporaryFolder& folder, THashCacheTimes times = THashCacheTimes::Now())
        : File(folder / "cache/Sorvik/hashes.db"),
          Cache(std::make_unique<THashCache>(
              File, [this](const std::string& message) { Warnings.push_back(message); }, times)) {}

    void Reopen(THashCacheTimes times = THashCacheTimes::Now()) {
        Cache.reset();
        Cache = std::make_unique<THashCache>(
            File, [this](const std::string& message) { Warnings.push_back(message); }, times);
        if (MadeUp)
            TrustMadeUpRecords();
    }
    // For records made up by the test: they have no file whose file system could be asked.
    void TrustMadeUpRecords() {
        MadeUp = true;
        Cache->TrustsChangeTime = [](const TScanRecord&) { return true; };
    }

    THashCache* operator->() const { return Cache.get(); }

    std::string File;
    std::vector<std::string> Warnings;
    std::unique_ptr<THashCache> Cache;
    bool MadeUp = false;
};

THashCacheKey SomeKey(std::uint64_t inode) {
    return {2049,
            inode,
            4096,
            133'000'000'000'000'000 + inode,
            1'700'000'000'123'456'789 + inode,
            132'000'000'000'000'000 + inode};
}

// Records of the files of SomeKey(0 .. count - 1), none with a hash, and all their indices.
struct TKeyedRecords {
    explicit TKeyedRecords(std::uint64_t count) : Records(static_cast<int>(count)) {
        for (std::uint64_t inode = 0; inode < count; ++inode) {
            const THashCacheKey key = SomeKey(inode);
            TScanRecord& record = Records[static_cast<int>(inode)];
            record.SetIdentity(key.Device, key.Inode);
            record.SetSize(key.Size);
            record.SetLastWriteTime(key.LastWriteTime);
            record.SetChangeTime(key.ChangeTime);
            record.SetCreationTime(key.CreationTime);
            Indices.push_back(static_cast<int>(inode));
        }
    }
    TScanRecords Records;
    std::vector<int> Indices;
};

struct TDigest {
    unsigned char Bytes[32];
};

TDigest DigestOf(const std::string& text) {
    const THashText hash(OpenSslSha256(text));
    TDigest digest{};
    std::copy(hash.Digest(), hash.Digest() + 32, digest.Bytes);
    return digest;
}

// The record of a file as the list makes it: every fact read from the file system.
TScanRecord ListedRecord(const std::string& path) {
    TFileFacts::TFields fields;
    fields.Path = path;
    SetListedNumbers(fields, Kiv_files::GetFindData(path));
    return TScanRecord(TFileFacts::Make(std::move(fields)), {}, spPrimary);
}

// The bytes the scans of this process read from files while body runs.
template <typename Body>
std::uint64_t BytesReadBy(Body body) {
    const std::uint64_t before = ReadTotals().Bytes;
    body();
    return ReadTotals().Bytes - before;
}

// A scan by size and hash (or bytes) of primary files listed now, with the store (or none);
// returns the groups.
std::vector<int> Scan(const std::vector<std::string>& paths, TScanHashStore* store,
                      bool binaries = false) {
    TScanRecords records(static_cast<int>(paths.size()));
    for (std::size_t i = 0; i < paths.size(); ++i)
        records[static_cast<int>(i)] = ListedRecord(paths[i]);
    auto* matchers = new TScanMatchers;
    matchers->Add(new TScanSizeMatcher);
    if (binaries)
        matchers->Add(new TScanBinariesMatcher);
    else
        matchers->Add(new TScanHashMatcher);
    TScanCommand command(records, matchers);
    command.HashStore = store;
    command.Execute();
    return ScanTest::GroupsOf(records);
}

// Runs body in a child process and returns its exit status; the child's failed
// expectations are its own, so body reports through the status.
int InChild(const std::function<int()>& body) {
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(body());
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// The entries of the inode, counted in the file as it is, without the cache.
int EntriesOf(const std::string& file, std::uint64_t inode) {
    sqlite3* database = nullptr;
    int count = -1;
    if (sqlite3_open_v2(file.c_str(), &database, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
        const std::string sql = "SELECT count(*) FROM hashes WHERE inode=" + std::to_string(inode);
        sqlite3_exec(
            database, sql.c_str(),
            [](void* out, int, char** values, char**) {
                *static_cast<int*>(out) = std::atoi(values[0]);
                return 0;
            },
            &count, nullptr);
    }
    sqlite3_close(database);
    return count;
}

void Overwrite(const std::string& file, off_t offset, const std::string& bytes) {
    const int descriptor = ::open(file.c_str(), O_WRONLY);
    ASSERT_GE(descriptor, 0);
    ASSERT_EQ(::pwrite(descriptor, bytes.data(), bytes.size(), offset),
              static_cast<ssize_t>(bytes.size()));
    ::close(descriptor);
}

} // namespace

TEST(HashCache, TakesAHashOnlyForExactlyTheKeyItWasStoredFor) {
    TTemporaryFolder folder;
    TCache cache(folder);
    const THashCacheKey key = SomeKey(10);
    const TDigest digest = DigestOf("abc");
    cache->Store(key, digest.Bytes);
    cache->Flush();
    cache.Reopen();
    THashText hash;
    ASSERT_TRUE(cache->Find(key, hash));
    EXPECT_EQ(hash, OpenSslSha256("abc"));
    // Each part of the key alone makes another file, or the same file changed.
    const std::vector<std::pair<const char*, void (*)(THashCacheKey&)>> misses = {
        {"inode", [](THashCacheKey& k) { ++k.Inode; }},
        {"device", [](THashCacheKey& k) { ++k.Device; }},
        {"size", [](THashCacheKey& k) { ++k.Size; }},
        {"last write time", [](THashCacheKey& k) { ++k.LastWriteTime; }},
        {"change time", [](THashCacheKey& k) { ++k.ChangeTime; }},
        {"birth time", [](THashCacheKey& k) { ++k.CreationTime; }},
        {"birth time unknown", [](THashCacheKey& k) { k.CreationTime = 0; }},
    };
    for (const auto& [what, change] : misses) {
        THashCacheKey other = key;
        change(other);
        THashText missed;
        EXPECT_FALSE(cache->Find(other, missed)) << what;
        EXPECT_TRUE(missed.empty()) << what;
    }
    // A new hash for the file replaces the one it had.
    THashCacheKey changed = key;
    changed.ChangeTime += 5;
    cache->Store(changed, DigestOf("abd").Bytes);
    cache->Flush();
    EXPECT_FALSE(cache->Find(key, hash));
    ASSERT_TRUE(cache->Find(changed, hash));
    EXPECT_EQ(hash, OpenSslSha256("abd"));
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, RecordsWithoutIdentityOrChangeTimeAreNeverLookedUpNorKept) {
    TScanRecord record;
    record.SetSize(3);
    record.SetChangeTime(1'700'000'000'000'000'001);
    EXPECT_FALSE(HashCacheKeyOf(record)); // no device and inode
    record.SetIdentity(1, 2);
    record.SetChangeTime(0);
    EXPECT_FALSE(HashCacheKeyOf(record)); // no change time
    record.SetChangeTime(1'700'000'000'000'000'001);
    ASSERT_TRUE(HashCacheKeyOf(record));
    EXPECT_EQ(HashCacheKeyOf(record)->Inode, 2u);
}

TEST(HashCache, KeepsOnlyHashesOfFilesWhoseChangeTimeNoLaterChangeCanRepeat) {
    // A change within the file system's clock step of the one the change time records would
    // leave it as it is; the step is read off the time's last digits.
    const std::uint64_t fine = 1'700'000'000 * Second + 123'456'789;
    EXPECT_FALSE(IsSettledChangeTime(fine, fine));
    EXPECT_FALSE(IsSettledChangeTime(fine, fine + 1));
    EXPECT_TRUE(IsSettledChangeTime(fine, fine + 2));
    EXPECT_FALSE(IsSettledChangeTime(fine + 10, fine));               // from the future
    const std::uint64_t exFat = 1'700'000'000 * Second + 120'000'000; // ten milliseconds
    EXPECT_FALSE(IsSettledChangeTime(exFat, exFat + 19'999'999));
    EXPECT_TRUE(IsSettledChangeTime(exFat, exFat + 20'000'000));
    const std::uint64_t whole = 1'700'000'000 * Second; // seconds, or FAT's two seconds
    EXPECT_FALSE(IsSettledChangeTime(whole, whole + 2 * Second - 1));
    EXPECT_TRUE(IsSettledChangeTime(whole, whole + 2 * Second));

    TTemporaryFolder folder;
    const std::string path = folder.File("a", "content");
    TScanRecord record = ListedRecord(path);
    record.Hash = OpenSslSha256("content");
    THashCacheTimes times = THashCacheTimes::Now();
    times.ReadsSince = record.ChangeTime(); // the run began in the step the file changed in
    TCache early(folder, times);
    early->Remember(record);
    early->Flush();
    EXPECT_EQ(early->Remembered(), 0);
    times.ReadsSince = record.ChangeTime() + 2 * Second;
    early.Reopen(times);
    early->Remember(record);
    early->Flush();
    EXPECT_EQ(early->Remembered(), 1);
    THashText hash;
    EXPECT_TRUE(early->Find(*HashCacheKeyOf(record), hash));
}

TEST(HashCache, ARescanOfUnchangedFilesReadsNothingAndFindsTheSameGroups) {
    TTemporaryFolder folder;
    const std::vector<std::string> paths = Settled(
        {folder.File("a", "copy"), folder.File("b", "copy"), folder.File("c", "COPY"),
         folder.File("d", std::string(100'000, 'x')), folder.File("e", std::string(100'000, 'x'))});
    TCache cache(folder);
    std::vector<int> first;
    EXPECT_EQ(BytesReadBy([&] { first = Scan(paths, cache.Cache.get()); }), 200'012u);
    EXPECT_EQ(first, (std::vector<int>{1, 1, 0, 2, 2}));
    EXPECT_EQ(cache->Remembered(), 5);
    cache.Reopen();
    std::vector<int> again;
    EXPECT_EQ(BytesReadBy([&] { again = Scan(paths, cache.Cache.get()); }), 0u);
    EXPECT_EQ(again, first);
    EXPECT_EQ(cache->Recalled(), 5);
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, AFileRewrittenWithItsSizeAndLastWriteTimePutBackIsReadAgain) {
    TTemporaryFolder folder;
    const std::vector<std::string> paths =
        Settled({folder.File("a", "same"), folder.File("b", "same"), folder.File("c", "other")});
    TCache cache(folder);
    EXPECT_EQ(Scan(paths, cache.Cache.get()), (std::vector<int>{1, 1, 0}));
    // b now holds what c holds: of its key only the change time differs, so the cache
    // must not vouch for it, and b is read (4 bytes) and no longer a copy of a.
    RewriteKeepingTimes(paths[1], "SAME");
    ScanTest::PassChangeTime(paths[1]);
    cache.Reopen();
    std::vector<int> groups;
    EXPECT_EQ(BytesReadBy([&] { groups = Scan(paths, cache.Cache.get()); }), 4u);
    EXPECT_EQ(groups, (std::vector<int>{0, 0, 0}));
    EXPECT_EQ(groups, Scan(paths, nullptr));
    // The entry was replaced: the next scan reads nothing and still finds no copy.
    cache.Reopen();
    EXPECT_EQ(BytesReadBy([&] { groups = Scan(paths, cache.Cache.get()); }), 0u);
    EXPECT_EQ(groups, (std::vector<int>{0, 0, 0}));
    // A file replaced by another under its name (another inode) is read too.
    ScanTest::RenameOver(paths[2], "same");
    ScanTest::PassChangeTime(paths[2]);
    cache.Reopen();
    EXPECT_EQ(BytesReadBy([&] { groups = Scan(paths, cache.Cache.get()); }), 4u);
    EXPECT_EQ(groups, (std::vector<int>{1, 0, 1}));
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, TheByteComparisonNeverAsksTheCache) {
    // A store that vouches for everything: were it asked, the comparison would go wrong.
    class TLiar : public TScanHashStore {
    public:
        int Recall(const TScanRecords& records, const std::vector<int>& indices) override {
            for (const int index : indices)
                records[index].Hash = OpenSslSha256("anything");
            Asked += static_cast<int>(indices.size());
            return static_cast<int>(indices.size());
        }
        void Remember(const TScanRecord&) override { ++Told; }
        int Asked = 0;
        int Told = 0;
    } liar;
    TTemporaryFolder folder;
    const std::vector<std::string> paths = {folder.File("a", "one"), folder.File("b", "two")};
    std::vector<int> groups;
    EXPECT_EQ(BytesReadBy([&] { groups = Scan(paths, &liar, true); }), 6u);
    EXPECT_EQ(groups, (std::vector<int>{0, 0}));
    EXPECT_EQ(liar.Asked, 0);
    EXPECT_EQ(liar.Told, 0);
    // Behind the hash, whose cached values the liar makes equal, the bytes still decide.
    TScanRecords records(2);
    for (int i = 0; i < 2; ++i)
        records[i] = ListedRecord(paths[static_cast<std::size_t>(i)]);
    auto* matchers = new TScanMatchers;
    matchers->Add(new TScanSizeMatcher);
    matchers->Add(new TScanHashMatcher);
    matchers->Add(new TScanBinariesMatcher);
    TScanCommand command(records, matchers);
    command.HashStore = &liar;
    command.Execute();
    EXPECT_GT(liar.Asked, 0);
    EXPECT_EQ(ScanTest::GroupsOf(records), (std::vector<int>{0, 0}));
}

TEST(HashCache, IsMadeForTheUserAloneWhereTheEnvironmentSays) {
    TTemporaryFolder folder;
    {
        TCache cache(folder);
        cache->Store(SomeKey(1), DigestOf("x").Bytes);
        cache->Flush();
        struct stat info {};
        ASSERT_EQ(::stat((folder / "cache/Sorvik").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        ASSERT_EQ(::stat((folder / "cache").c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, 0700u);
        // The log and its index, while the cache is open, as the file itself.
        for (const char* suffix : {"", "-wal", "-shm"}) {
            ASSERT_EQ(::stat((cache.File + suffix).c_str(), &info), 0) << suffix;
            EXPECT_EQ(info.st_mode & 07777, 0600u) << suffix;
        }
    }
    const char* before = std::getenv("XDG_CACHE_HOME");
    const std::string saved = before ? before : "";
    ::setenv("XDG_CACHE_HOME", "/somewhere/cache", 1);
    EXPECT_EQ(HashCacheFile(), "/somewhere/cache/Sorvik/hashes.db");
    ::setenv("XDG_CACHE_HOME", "relative/cache", 1); // not absolute: ignored
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') {
        EXPECT_EQ(HashCacheFile(), std::string(home) + "/.cache/Sorvik/hashes.db");
    }
    ::setenv("XDG_CACHE_HOME", saved.c_str(), 1);
}

TEST(HashCache, ACacheThatCannotBeOpenedWarnsOnceAndTheScanGoesOnWithoutIt) {
    TTemporaryFolder folder;
    const std::string blocker = folder.File("file", "not a folder");
    const std::vector<std::string> paths = Settled({folder.File("a", "x"), folder.File("b", "x")});
    std::vector<std::string> warnings;
    THashCache cache(blocker + "/Sorvik/hashes.db",
                     [&](const std::string& message) { warnings.push_back(message); });
    EXPECT_FALSE(cache.IsOpen());
    EXPECT_EQ(Scan(paths, &cache), (std::vector<int>{1, 1}));
    EXPECT_EQ(Scan(paths, &cache), (std::vector<int>{1, 1}));
    cache.Flush();
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "The program could not use the hash cache \"" + blocker +
                               "/Sorvik/hashes.db\" (Not a directory); the scan goes on without "
                               "it.");
    EXPECT_THROW(cache.Clear(), App_common::EAppError);
}

TEST(HashCache, AnotherProgramsDatabaseInItsPlaceIsLeftAsItIs) {
    TTemporaryFolder folder;
    const std::string file = folder / "cache/Sorvik/hashes.db";
    std::filesystem::create_directories(folder / "cache/Sorvik");
    sqlite3* other = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &other), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(other, "CREATE TABLE notes(text TEXT); INSERT INTO notes VALUES('mine')",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(other);
    const std::string before = TestFiles::ReadFile(file);
    std::vector<std::string> warnings;
    {
        THashCache cache(file, [&](const std::string& message) { warnings.push_back(message); });
        EXPECT_FALSE(cache.IsOpen());
    }
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], "The program could not use the hash cache \"" + file +
                               "\" (it is not a hash cache of this program); the scan goes on "
                               "without it.");
    EXPECT_EQ(TestFiles::ReadFile(file), before);
}

TEST(HashCache, AFileIsTakenOnlyOnTheFileSystemItsRecordNames) {
    TTemporaryFolder folder;
    const std::string path = folder.File("a", "x");
    ScanTest::PassChangeTime(path);
    TCache cache(folder);
    TScanRecord listed = ListedRecord(path);
    listed.Hash = THashText(OpenSslSha256("x"));
    // The record names another device than the file's now: nothing of it is kept.
    TScanRecord elsewhere = listed;
    elsewhere.SetIdentity(listed.Device() + 1, listed.Inode());
    cache->Remember(elsewhere);
    EXPECT_EQ(cache->Remembered(), 0);
    cache->Remember(listed);
    EXPECT_EQ(cache->Remembered(), 1);
    cache->Flush();
    TScanRecords records(2);
    records[0] = elsewhere;
    records[1] = listed;
    records[0].Hash = records[1].Hash = THashText();
    EXPECT_EQ(cache->Recall(records, {0, 1}), 1);
    EXPECT_TRUE(records[0].Hash.empty());
    EXPECT_EQ(records[1].Hash, OpenSslSha256("x"));
}

TEST(HashCache, AFileOfGarbageIsTakenForDamagedEmptiedAndReplaced) {
    TTemporaryFolder folder;
    const std::vector<std::string> paths =
        Settled({folder.File("a", "x"), folder.File("b", "x"), folder.File("c", "y")});
    TCache cache(folder);
    Scan(paths, cache.Cache.get());
    cache.Cache.reset();
    std::ofstream(cache.File, std::ios::binary | std::ios::trunc) << ScanTest::Bytes(100'000, 7);
    cache.Reopen();
    ASSERT_EQ(cache.Warnings.size(), 1u);
    EXPECT_EQ(cache.Warnings[0], "The hash cache \"" + cache.File +
                                     "\" was damaged (file is not a database); the program "
                                     "emptied it, and the scan goes on without the hashes it "
                                     "held.");
    std::vector<int> groups;
    EXPECT_EQ(BytesReadBy([&] { groups = Scan(paths, cache.Cache.get()); }), 3u);
    EXPECT_EQ(groups, (std::vector<int>{1, 1, 0}));
    // The new cache works.
    cache.Reopen();
    EXPECT_EQ(BytesReadBy([&] { groups = Scan(paths, cache.Cache.get()); }), 0u);
    EXPECT_EQ(groups, (std::vector<int>{1, 1, 0}));
    EXPECT_EQ(cache.Warnings.size(), 1u);
}

TEST(HashCache, GarbageWrittenIntoTheMiddleNeverGivesAWrongHash) {
    TTemporaryFolder folder;
    TCache cache(folder);
    constexpr int Count = 3000;
    for (int i = 0; i < Count; ++i)
        cache->Store(SomeKey(static_cast<std::uint64_t>(i)), DigestOf(std::to_string(i)).Bytes);
    cache.Cache.reset(); // flushed, and the log folded into the file
    struct stat info {};
    ASSERT_EQ(::stat(cache.File.c_str(), &info), 0);
    ASSERT_GT(info.st_size, 65536);
    // Garbage over a page in the middle, where entries lie.
    Overwrite(cache.File, info.st_size / 2, ScanTest::Bytes(20'000, 3));
    cache.Reopen();
    int found = 0;
    for (int i = 0; i < Count; ++i) {
        THashText hash;
        if (!cache->Find(SomeKey(static_cast<std::uint64_t>(i)), hash))
            continue;
        ++found;
        EXPECT_EQ(hash, OpenSslSha256(std::to_string(i))) << i;
    }
    EXPECT_LE(cache.Warnings.size(), 1u);
    EXPECT_LT(found, Count); // the garbage was seen for what it is
}

TEST(HashCache, AnEntryWhoseBytesChangedFailsItsCheckValue) {
    TTemporaryFolder folder;
    TCache cache(folder);
    cache->Store(SomeKey(1), DigestOf("one").Bytes);
    cache->Store(SomeKey(2), DigestOf("two").Bytes);
    cache.Cache.reset();
    // As a damaged sector might: one hash's bytes changed, the entry's form intact.
    sqlite3* database = nullptr;
    ASSERT_EQ(sqlite3_open(cache.File.c_str(), &database), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(database, "UPDATE hashes SET sha256=zeroblob(32) WHERE inode=2", nullptr,
                           nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(database);
    cache.Reopen();
    THashText hash;
    EXPECT_FALSE(cache->Find(SomeKey(2), hash));
    ASSERT_EQ(cache.Warnings.size(), 1u);
    EXPECT_NE(cache.Warnings[0].find("does not match its check value"), std::string::npos);
    // Nothing of a damaged cache is trusted any more: it was emptied.
    EXPECT_FALSE(cache->Find(SomeKey(1), hash));
}

TEST(HashCache, AFileThatCannotGrowWarnsOnceAndTheScanGoesOn) {
    // A full disk, played by a limit on the size of the files the process writes.
    TTemporaryFolder folder;
    std::vector<std::string> made;
    for (int i = 0; i < 200; ++i)
        made.push_back(folder.File("f" + std::to_string(i), "same"));
    const std::vector<std::string> paths = Settled(std::move(made));
    const int status = InChild([&] {
        std::vector<std::string> warnings;
        THashCache cache(folder / "cache/Sorvik/hashes.db",
                         [&](const std::string& message) { warnings.push_back(message); });
        ::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{16384, 16384};
        if (!cache.IsOpen() || ::setrlimit(RLIMIT_FSIZE, &limit) != 0)
            return 10;
        const std::vector<int> groups = Scan(paths, &cache);
        cache.Flush();
        if (std::count(groups.begin(), groups.end(), 1) != 200)
            return 11;
        if (warnings.size() != 1 ||
            warnings[0].rfind("The program could not use the hash cache", 0) != 0)
            return 12;
        return 0;
    });
    EXPECT_EQ(status, 0);
    // What was written before stays usable.
    TCache cache(folder);
    EXPECT_TRUE(cache->IsOpen());
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, AReadOnlyFolderWarnsOnceAndTheScanGoesOn) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "the superuser may write into any folder";
    TTemporaryFolder folder;
    const std::vector<std::string> paths = {folder.File("a", "x"), folder.File("b", "x")};
    TestFiles::MakeDir(folder / "cache");
    ASSERT_EQ(::chmod((folder / "cache").c_str(), 0500), 0);
    std::vector<std::string> warnings;
    {
        THashCache cache(folder / "cache/Sorvik/hashes.db",
                         [&](const std::string& message) { warnings.push_back(message); });
        EXPECT_EQ(Scan(paths, &cache), (std::vector<int>{1, 1}));
    }
    ::chmod((folder / "cache").c_str(), 0700);
    EXPECT_EQ(warnings.size(), 1u);
}

TEST(HashCache, AProgramKilledWhileWritingLeavesAUsableCache) {
    TTemporaryFolder folder;
    const std::string file = folder / "cache/Sorvik/hashes.db";
    {
        THashCache cache(file, nullptr);
        for (std::uint64_t i = 0; i < 100; ++i)
            cache.Store(SomeKey(i), DigestOf(std::to_string(i)).Bytes);
    }
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        THashCache cache(file, nullptr);
        // Killed right here, half-way through the transaction of a flush.
        cache.AfterEntryWritten = [&](std::size_t written) {
            if (written == 2500) {
                const char byte = 1;
                [[maybe_unused]] const auto sent = ::write(ready[1], &byte, 1);
                for (;;)
                    ::pause();
            }
        };
        for (std::uint64_t i = 1000; i < 6000; ++i)
            cache.Store(SomeKey(i), DigestOf(std::to_string(i)).Bytes);
        cache.Flush();
        ::_exit(1);
    }
    char byte = 0;
    ASSERT_EQ(::read(ready[0], &byte, 1), 1);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    ::close(ready[0]);
    ::close(ready[1]);
    std::vector<std::string> warnings;
    THashCache cache(file, [&](const std::string& message) { warnings.push_back(message); });
    cache.TrustsChangeTime = [](const TScanRecord&) { return true; }; // made-up records
    THashText hash;
    for (std::uint64_t i = 0; i < 100; ++i) {
        ASSERT_TRUE(cache.Find(SomeKey(i), hash)) << i;
        EXPECT_EQ(hash, OpenSslSha256(std::to_string(i)));
    }
    EXPECT_FALSE(cache.Find(SomeKey(1000), hash)); // the killed transaction left nothing
    cache.Store(SomeKey(7000), DigestOf("after").Bytes);
    cache.Flush();
    EXPECT_TRUE(cache.Find(SomeKey(7000), hash));
    EXPECT_TRUE(warnings.empty());
}

TEST(HashCache, TwoProgramsWritingAndReadingAtOnceShareIt) {
    TTemporaryFolder folder;
    const std::string file = folder / "cache/Sorvik/hashes.db";
    constexpr std::uint64_t PerProgram = 20'000;
    int go[2];
    ASSERT_EQ(::pipe(go), 0);
    pid_t children[2];
    for (std::uint64_t k = 0; k < 2; ++k) {
        children[k] = ::fork();
        if (children[k] == 0) {
            char byte = 0;
            if (::read(go[0], &byte, 1) != 1)
                ::_exit(10);
            int warnings = 0;
            THashCache cache(file, [&](const std::string&) { ++warnings; });
            THashText hash;
            for (std::uint64_t i = 0; i < PerProgram; ++i) {
                const std::uint64_t inode = k * PerProgram + i;
                cache.Store(SomeKey(inode), DigestOf(std::to_string(inode)).Bytes);
                if (i % 1000 == 999) {
                    cache.Flush();
                    if (!cache.Find(SomeKey(inode), hash))
                        ::_exit(11);
                }
            }
            cache.Flush();
            ::_exit(warnings == 0 ? 0 : 12);
        }
    }
    // Both start together: the cache is made by whichever comes first.
    ASSERT_EQ(::write(go[1], "gg", 2), 2);
    for (const pid_t child : children) {
        int status = 0;
        ::waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 0);
    }
    ::close(go[0]);
    ::close(go[1]);
    TCache cache(folder);
    cache.TrustMadeUpRecords();
    TKeyedRecords keyed(2 * PerProgram);
    TScanRecords& records = keyed.Records;
    const std::vector<int>& indices = keyed.Indices;
    EXPECT_EQ(cache->Recall(records, indices), static_cast<int>(2 * PerProgram));
    EXPECT_EQ(records[12345].Hash, OpenSslSha256("12345"));
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, WritesLargeBatchesOnItsOwnThreadWhileTheScanGoesOn) {
    TTemporaryFolder folder;
    TCache cache(folder);
    cache.TrustMadeUpRecords();
    const std::size_t count = 3 * HashCacheBatch + 17;
    for (std::size_t i = 0; i < count; ++i)
        cache->Store(SomeKey(i), DigestOf(std::to_string(i % 97)).Bytes);
    cache->Flush();
    TKeyedRecords keyed(count);
    TScanRecords& records = keyed.Records;
    const std::vector<int>& indices = keyed.Indices;
    // Most, and a few: a look through the range, and single lookups.
    EXPECT_EQ(cache->Recall(records, indices), static_cast<int>(count));
    EXPECT_EQ(records[100].Hash, OpenSslSha256(std::to_string(100 % 97)));
    TScanRecords few(3);
    few[0] = records[5];
    few[1] = records[static_cast<int>(count - 1)];
    few[2] = records[77];
    few[0].Hash = few[1].Hash = few[2].Hash = THashText();
    EXPECT_EQ(cache->Recall(few, {0, 1, 2}), 3);
    EXPECT_EQ(few[1].Hash, OpenSslSha256(std::to_string((count - 1) % 97)));
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, DropsTheEntriesOfFilesNotSeenForNinetyDays) {
    TTemporaryFolder folder;
    THashCacheTimes times = THashCacheTimes::Now();
    const std::int64_t day = times.Today;
    TCache cache(folder, times);
    cache->Store(SomeKey(1), DigestOf("seen again").Bytes);
    cache->Store(SomeKey(2), DigestOf("never seen again").Bytes);
    cache->Flush();
    // Sixty days later a scan finds the first file: it is seen on that day.
    times.Today = day + 60;
    cache.Reopen(times);
    THashText hash;
    EXPECT_TRUE(cache->Find(SomeKey(1), hash));
    cache->Flush();
    // Ninety days after the first scan the second file's entry goes; the first one's stays
    // until ninety days after it was seen.
    const auto entries = [&](std::uint64_t inode) {
        return EntriesOf(cache.File, inode); // without seeing them
    };
    times.Today = day + HashCacheKeepDays;
    cache.Reopen(times);
    cache->Flush();
    EXPECT_EQ(entries(1), 1);
    EXPECT_EQ(entries(2), 0);
    times.Today = day + 60 + HashCacheKeepDays - 1;
    cache.Reopen(times);
    cache->Flush();
    EXPECT_EQ(entries(1), 1);
    times.Today = day + 60 + HashCacheKeepDays;
    cache.Reopen(times);
    cache->Flush();
    EXPECT_EQ(entries(1), 0);
    EXPECT_TRUE(cache.Warnings.empty());
}

TEST(HashCache, EmptyingDropsEveryEntryAndLeavesAMissingCacheMissing) {
    TTemporaryFolder folder;
    const std::string file = folder / "cache/Sorvik/hashes.db";
    EmptyHashCache(file);
    EXPECT_FALSE(std::filesystem::exists(file));
    {
        THashCache cache(file, nullptr);
        cache.Store(SomeKey(1), DigestOf("x").Bytes);
    }
    EmptyHashCache(file);
    EXPECT_EQ(EntriesOf(file, 1), 0);
    // A damaged one is emptied too.
    std::ofstream(file, std::ios::binary | std::ios::trunc) << ScanTest::Bytes(5000, 1);
    EXPECT_NO_THROW(EmptyHashCache(file));
    EXPECT_EQ(EntriesOf(file, 1), 0);
    // One that cannot be reached says why.
    const std::string blocker = folder.File("blocker", "");
    const std::string message = TestFiles::MessageOf<App_common::EAppError>(
        [&] { EmptyHashCache(blocker + "/hashes.db"); });
    EXPECT_EQ(message, "The program could not empty the hash cache \"" + blocker +
                           "/hashes.db\" (Not a directory).");
}
