// Times the entry collection with a million entries (the sorts by name and by size, the
// removal of half of them at scattered places, the add of a batch), the memory an entry
// takes, and the producer over a generated tree of 100,000 files against find(1) on the
// same tree in the same run.
#include "App_scanentries.h"
#include "bench_memory.h"
#include "bench_timing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <malloc.h>
#include <numeric>
#include <random>
#include <string>
#include <unistd.h>
#include <vector>

using namespace App_scanentries;

namespace {

constexpr int Count = 1'000'000;

double Seconds(const std::function<void()>& body) {
    return bench::BestOf(1, body);
}

const char* const Extensions[] = {"jpeg", "png", "txt", "mp3", "pdf", "cpp", "h", "tar.gz"};

// A path of about 80 bytes; i makes it distinct.
std::string MakePath(int i) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer,
                  "/home/someone/Pictures/Holidays/%04d-summer/camera-%02d/IMG_%08d_Edited.%s",
                  i / 1000, i % 7, static_cast<int>((static_cast<long long>(i) * 7919) % Count),
                  Extensions[i % 8]);
    return buffer;
}

Kiv_files::TFindData MakeRecord(std::mt19937_64& random) {
    Kiv_files::TFindData record{};
    const std::uint64_t size = random() % (1ull << 36);
    record.FileSizeHigh = static_cast<std::uint32_t>(size >> 32);
    record.FileSizeLow = static_cast<std::uint32_t>(size);
    record.LastWriteTime =
        Kiv_files::UInt64ToFileTime(133'000'000'000'000'000ull + random() % 1'000'000'000'000ull);
    record.LastAccessTime = record.LastWriteTime;
    record.FileAttributes = 0x20;
    return record;
}

TScanEntryArray MakeEntries(int count, int first, std::mt19937_64& random) {
    TScanEntryArray batch(count);
    for (int i = 0; i < count; ++i)
        batch[i] = new TScanEntry(MakePath(first + i), MakeRecord(random));
    return batch;
}

// A random order of the list, applied through Reorder (not timed).
void Shuffle(TScanEntries& entries, unsigned seed) {
    std::vector<int> order(static_cast<std::size_t>(entries.Count()));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(seed));
    Kiv_lists::TListReorderRecords records(entries.Count());
    for (int i = 0; i < entries.Count(); ++i)
        records[i] = {order[static_cast<std::size_t>(i)], i};
    entries.Reorder(records);
}

void BenchCollection() {
    std::mt19937_64 random(1);
    // Warm the type cache and the allocator so that the memory figure counts the entries.
    {
        TScanEntries warm;
        warm.Add(MakeEntries(1000, Count, random));
    }
    malloc_trim(0);
    const long before = bench::ResidentBytes();
    TScanEntryArray batch;
    const double make = Seconds([&] { batch = MakeEntries(Count, 0, random); });
    double pathBytes = 0;
    for (const TScanEntry* entry : batch)
        pathBytes += static_cast<double>(entry->Path().size());
    TScanEntries entries;
    const double add = Seconds([&] { entries.Add(batch); });
    batch = TScanEntryArray();
    const long after = bench::ResidentBytes();
    std::printf("%d entries, paths of %.1f bytes on average; building them took %.3f s\n", Count,
                pathBytes / Count, make);
    std::printf("Add of a batch of %d (empty list)            %.3f s  (target <= 1 s)\n", Count,
                add);
    std::printf("Resident memory per entry                    %.0f bytes  (target <= 600)\n",
                static_cast<double>(after - before) / Count);

    // A second batch of a million into the full list: every path checked against it, 1000
    // of them already listed (replaced).
    {
        TScanEntryArray more(Count);
        for (int i = 0; i < Count; ++i)
            more[i] = new TScanEntry(MakePath(i < 1000 ? i * 997 : Count + i), MakeRecord(random));
        const double addMore = Seconds([&] { entries.Add(more); });
        std::printf("Add of a batch of %d (list of %d, 1000 replaced) %.3f s\n", Count, Count,
                    addMore);
        TIntegerDynArray last(Count - 1000);
        for (int i = 0; i < last.Length(); ++i)
            last[i] = Count + i;
        entries.Remove(last);
        if (entries.Count() != Count)
            std::printf("unexpected count %d\n", entries.Count());
    }

    Shuffle(entries, 2);
    const double byName = Seconds([&] { entries.SortByName(); });
    std::printf("SortByName of %d (shuffled)                 %.3f s  (target <= 3 s)\n", Count,
                byName);
    Shuffle(entries, 3);
    const double bySize = Seconds([&] { entries.SortBySize(); });
    std::printf("SortBySize of %d (shuffled)                 %.3f s  (target <= 0.5 s)\n", Count,
                bySize);
    Shuffle(entries, 4);
    const double byPath = Seconds([&] { entries.SortByPath(); });
    std::printf("SortByPath of %d (shuffled)                 %.3f s\n", Count, byPath);
    Shuffle(entries, 5);
    const double byDirectory = Seconds([&] { entries.SortByDirectory(); });
    std::printf("SortByDirectory of %d (shuffled)            %.3f s\n", Count, byDirectory);
    Shuffle(entries, 6);
    const double byExtension = Seconds([&] { entries.SortByExtension(); });
    std::printf("SortByExtension of %d (shuffled)            %.3f s\n", Count, byExtension);
    Shuffle(entries, 7);
    const double byGroup = Seconds([&] { entries.SortByGroup(); });
    std::printf("SortByGroup of %d (shuffled, all ungrouped) %.3f s\n", Count, byGroup);

    // Half the entries at scattered places.
    std::vector<int> chosen(static_cast<std::size_t>(Count));
    std::iota(chosen.begin(), chosen.end(), 0);
    std::shuffle(chosen.begin(), chosen.end(), std::mt19937(8));
    chosen.resize(Count / 2);
    std::sort(chosen.begin(), chosen.end());
    const TIntegerDynArray indexes = Kiv_dynamicarrays::VectorToArray(std::move(chosen));
    const double remove = Seconds([&] { entries.Remove(indexes); });
    std::printf("Remove of %d scattered indexes              %.3f s  (target <= 0.2 s)\n",
                Count / 2, remove);
    const double clear = Seconds([&] { entries.Clear(); });
    std::printf("Clear of %d                                 %.3f s\n", Count / 2, clear);
}

// ---------------------------------------------------------------------------------------
// The producer against find(1)

void MakeTree(const std::string& root, int files) {
    // 100 folders in two levels, files spread over them, with a few extensions.
    std::vector<std::string> folders;
    for (int a = 0; a < 10; ++a) {
        const std::string top = root + "/dir" + std::to_string(a);
        std::filesystem::create_directory(top);
        for (int b = 0; b < 10; ++b) {
            folders.push_back(top + "/sub" + std::to_string(b));
            std::filesystem::create_directory(folders.back());
        }
    }
    for (int i = 0; i < files; ++i) {
        const std::string path = folders[static_cast<std::size_t>(i) % folders.size()] + "/file_" +
                                 std::to_string(i) + "." + Extensions[i % 8];
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror(path.c_str());
            std::exit(1);
        }
        if (i % 3 == 0 && write(fd, "content", 7) != 7)
            std::exit(1);
        close(fd);
    }
}

void BenchProducer() {
    const int files = 100'000;
    std::string pattern =
        (std::filesystem::temp_directory_path() / "sorvik_bench_entries_XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        return;
    }
    const std::string root = pattern;
    MakeTree(root, files);

    const std::string command = "find '" + root + "' -type f -printf '%s %T@ %p\\n' > /dev/null";
    if (std::system(command.c_str()) != 0) // warms the caches
        std::printf("find failed\n");
    const double find = bench::BestOf(3, [&] {
        if (std::system(command.c_str()) != 0)
            std::printf("find failed\n");
    });

    // One path (built by the unit's own routine: g++ 12 at -O3 reports a false
    // use-after-free where DynamicArray<std::string>::SetLength is inlined).
    const DynamicArray<std::string> input = Kiv_dynamicarrays::TextToLines(root);
    int produced = 0;
    const double produce = bench::BestOf(3, [&] {
        TScanEntries entries;
        TScanEntryProducer producer(input);
        while (producer.Step()) {
        }
        entries.Add(producer.GetEntries());
        producer.Release();
        produced = entries.Count();
    });
    std::printf("Producer over a tree of %d files (%d entries)   %.3f s\n", files, produced,
                produce);
    std::printf("find -type f -printf on the same tree           %.3f s\n", find);
    std::printf("Producer / find                                 %.2f  (target <= 3)\n",
                produce / find);

    std::error_code error;
    std::filesystem::remove_all(root, error);
}

} // namespace

int main() {
    BenchCollection();
    malloc_trim(0);
    BenchProducer();
    return 0;
}
