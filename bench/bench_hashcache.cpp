// The hash cache on 200,000 files: keeping their hashes in an empty cache (the first scan),
// closing it, recalling them all in a new process with the file's pages out of memory (the
// rescan), recalling a few thousand, replacing them all, two processes keeping 100,000 each
// at once, and the file's size per entry. Medians of five runs. The cache lives in a
// temporary folder, never the user's.
#include "App_scan_hashcache.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

using App_scan::THashCache;
using App_scan::THashCacheKey;
using App_scan::THashCacheTimes;
using Clock = std::chrono::steady_clock;

constexpr int Files = 200'000;
constexpr int Runs = 5;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

struct TFile {
    THashCacheKey Key;
    unsigned char Digest[32];
};

// Files of one device, their inodes in an order unrelated to the order of keeping, as the
// scan reads them by size.
std::vector<TFile> MakeFiles(unsigned seed, std::uint64_t firstInode) {
    std::mt19937_64 random(seed);
    std::vector<TFile> files(Files);
    for (int i = 0; i < Files; ++i) {
        TFile& file = files[static_cast<std::size_t>(i)];
        file.Key = {2049,
                    firstInode + static_cast<std::uint64_t>(i) * 3,
                    random() % 1'000'000,
                    133'000'000'000'000'000ull + (random() >> 20),
                    1'700'000'000'000'000'000ull + (random() >> 12),
                    133'000'000'000'000'000ull + (random() >> 20)};
        for (unsigned char& byte : file.Digest)
            byte = static_cast<unsigned char>(random());
    }
    std::shuffle(files.begin(), files.end(), random);
    return files;
}

App_scan::TScanRecords RecordsOf(const std::vector<TFile>& files, std::size_t count) {
    App_scan::TScanRecords records(static_cast<int>(count));
    for (std::size_t i = 0; i < count; ++i) {
        App_scan::TScanRecord& record = records[static_cast<int>(i)];
        const THashCacheKey& key = files[i].Key;
        record.SetIdentity(key.Device, key.Inode);
        record.SetSize(key.Size);
        record.SetLastWriteTime(key.LastWriteTime);
        record.SetChangeTime(key.ChangeTime);
        record.SetCreationTime(key.CreationTime);
    }
    return records;
}

void Keep(const std::string& file, const std::vector<TFile>& files, std::size_t from,
          std::size_t to) {
    THashCache cache(file, [](const std::string& message) {
        std::fprintf(stderr, "bench_hashcache: %s\n", message.c_str());
    });
    for (std::size_t i = from; i < to; ++i)
        cache.Store(files[i].Key, files[i].Digest);
}

// Seconds to open the cache and recall count files in a new process, the file's pages
// dropped first when cold.
double RecallInChild(const std::string& file, const std::vector<TFile>& files, std::size_t count,
                     int& found, bool cold = true) {
    int channel[2];
    if (::pipe(channel) != 0)
        return -1;
    const pid_t child = ::fork();
    if (child == 0) {
        for (const char* suffix : {"", "-wal", "-shm"}) {
            if (!cold)
                break;
            const int descriptor = ::open((file + suffix).c_str(), O_RDONLY | O_CLOEXEC);
            if (descriptor >= 0) {
                ::posix_fadvise(descriptor, 0, 0, POSIX_FADV_DONTNEED);
                ::close(descriptor);
            }
        }
        App_scan::TScanRecords records = RecordsOf(files, count);
        std::vector<int> indices(count);
        for (std::size_t i = 0; i < count; ++i)
            indices[i] = static_cast<int>(i);
        const auto start = Clock::now();
        THashCache cache(file, nullptr);
        const int recalled = cache.Recall(records, indices);
        const double result[2] = {Since(start), static_cast<double>(recalled)};
        [[maybe_unused]] const auto written = ::write(channel[1], result, sizeof result);
        ::_exit(0);
    }
    double result[2] = {-1, 0};
    [[maybe_unused]] const auto read = ::read(channel[0], result, sizeof result);
    ::waitpid(child, nullptr, 0);
    ::close(channel[0]);
    ::close(channel[1]);
    found = static_cast<int>(result[1]);
    return result[0];
}

void Remove(const std::string& file) {
    for (const char* suffix : {"", "-wal", "-shm"})
        ::unlink((file + suffix).c_str());
}

} // namespace

int main() {
    char pattern[] = "/tmp/sorvik-bench-hashcache-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const std::string folder = pattern;
    const std::string file = folder + "/Sorvik/hashes.db";
    const std::vector<TFile> files = MakeFiles(1, 1'000'000);
    const std::vector<TFile> others = MakeFiles(2, 5'000'000);

    std::vector<double> keep, close, recall, recallWarm, recallFew, replace, together;
    int found = 0, foundFew = 0;
    double bytes = 0;
    for (int run = 0; run < Runs; ++run) {
        Remove(file);
        {
            auto start = Clock::now();
            std::optional<THashCache> cache(std::in_place, file, nullptr);
            for (const TFile& entry : files)
                cache->Store(entry.Key, entry.Digest);
            cache->Flush();
            keep.push_back(Since(start));
            start = Clock::now();
            cache.reset();
            close.push_back(Since(start));
        }
        struct stat info {};
        if (::stat(file.c_str(), &info) == 0)
            bytes = static_cast<double>(info.st_size);
        recall.push_back(RecallInChild(file, files, files.size(), found));
        recallWarm.push_back(RecallInChild(file, files, files.size(), found, false));
        recallFew.push_back(RecallInChild(file, files, 2'000, foundFew));
        auto start = Clock::now();
        Keep(file, files, 0, files.size());
        replace.push_back(Since(start));
        // Two processes keep 100,000 new files each, at once.
        start = Clock::now();
        pid_t children[2];
        for (int k = 0; k < 2; ++k) {
            children[k] = ::fork();
            if (children[k] == 0) {
                const auto from = static_cast<std::size_t>(k) * 100'000;
                Keep(file, others, from, from + 100'000);
                ::_exit(0);
            }
        }
        for (const pid_t child : children)
            ::waitpid(child, nullptr, 0);
        together.push_back(Since(start));
    }
    int bothKept = 0;
    RecallInChild(file, others, others.size(), bothKept);
    std::printf("hash cache, %d files, medians of %d runs:\n", Files, Runs);
    std::printf("  keep all in an empty cache (one transaction): %.3f s, then close: %.3f s\n",
                Median(keep), Median(close));
    std::printf("  recall all, new process, pages dropped: %.3f s (%d found)\n", Median(recall),
                found);
    std::printf("  recall all, new process, pages in memory: %.3f s\n", Median(recallWarm));
    std::printf("  recall 2,000 of them, new process, pages dropped: %.3f s (%d found)\n",
                Median(recallFew), foundFew);
    std::printf("  replace all (open, keep, close): %.3f s\n", Median(replace));
    std::printf("  two processes keeping 100,000 new files each at once: %.3f s, %d of 200,000 "
                "kept\n",
                Median(together), bothKept);
    std::printf("  file: %.1f MB, %.0f bytes per file\n", bytes / 1e6, bytes / Files);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
