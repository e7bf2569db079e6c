// Times the path list with a million paths (the entry producer's seen set and the
// collection's look-ups) against the framework's plain sorted string list, and the file
// enumerator over a folder of 100,000 files against find(1) on the same folder.
#include "Kiv_files.h"
#include "Kiv_strings.h"
#include "bench_timing.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <random>
#include <string>
#include <unistd.h>
#include <unordered_set>
#include <vector>

using Kiv_files::TFileEnumerator;
using Kiv_files::TPathList;

namespace {

// count distinct paths of about 80 bytes, in a shuffled order (as directory listings of
// many folders would give them).
std::vector<std::string> MakePaths(int count, unsigned seed) {
    std::vector<std::string> paths;
    paths.reserve(static_cast<std::size_t>(count));
    char buffer[160];
    for (int i = 0; i < count; ++i) {
        std::snprintf(
            buffer, sizeof buffer,
            "/home/someone/Pictures/Holidays/%04d-summer/camera-%02d/IMG_%08d_edited.jpeg",
            i / 1000, i % 7, i);
        paths.emplace_back(buffer);
    }
    std::shuffle(paths.begin(), paths.end(), std::mt19937(seed));
    return paths;
}

double Average(const std::vector<std::string>& paths) {
    double total = 0;
    for (const auto& path : paths)
        total += static_cast<double>(path.size());
    return total / static_cast<double>(paths.size());
}

template <typename List>
void MakeSeenSet(List& list) {
    list.Sorted = true;
    list.Duplicates = List::TDuplicates::dupIgnore;
}

void BenchPathList() {
    const int count = 1'000'000;
    const std::vector<std::string> paths = MakePaths(count, 1);
    const std::vector<std::string> absent = MakePaths(count, 2);
    std::vector<std::string> missing;
    missing.reserve(absent.size());
    for (const auto& path : absent)
        missing.push_back(path + ".bak");
    std::printf("%d distinct paths, %.1f bytes on average\n", count, Average(paths));

    // The producer's seen set: every path added once through AddIfAbsent.
    int grew = 0;
    TPathList seen;
    const double add = bench::BestOf(3, [&] {
        seen = TPathList();
        MakeSeenSet(seen);
        seen.SetCapacity(count);
        grew = 0;
        for (const auto& path : paths)
            grew += Kiv_strings::AddIfAbsent(seen, path) ? 1 : 0;
    });
    std::printf(
        "TPathList sorted, duplicates ignored: %d adds (all new)       %.3f s  (%.0f ns each)\n",
        grew, add, add * 1e9 / count);

    int again = 0;
    const double duplicates = bench::BestOf(3, [&] {
        again = 0;
        for (const auto& path : paths)
            again += Kiv_strings::AddIfAbsent(seen, path) ? 1 : 0;
    });
    std::printf("TPathList: %d adds of present paths (%d grew)            %.3f s  (%.0f ns each)\n",
                count, again, duplicates, duplicates * 1e9 / count);

    int hits = 0;
    const double findPresent = bench::BestOf(3, [&] {
        hits = 0;
        int index = 0;
        for (const auto& path : paths)
            hits += seen.Find(path, index) ? 1 : 0;
    });
    int misses = 0;
    const double findAbsent = bench::BestOf(3, [&] {
        misses = 0;
        int index = 0;
        for (const auto& path : missing)
            misses += seen.Find(path, index) ? 0 : 1;
    });
    std::printf("TPathList: Find of %d present paths (%d found)        %.3f s  (%.0f ns each)\n",
                count, hits, findPresent, findPresent * 1e9 / count);
    std::printf("TPathList: Find of %d absent paths (%d not found)     %.3f s  (%.0f ns each)\n",
                count, misses, findAbsent, findAbsent * 1e9 / count);

    long long checksum = 0;
    const double access = bench::BestOf(3, [&] {
        checksum = 0;
        for (int i = 0; i < count; ++i)
            checksum += static_cast<long long>(seen[i].size());
    });
    std::printf("TPathList: item access by index, %d items               %.3f s  (%.0f ns each)\n",
                count, access, access * 1e9 / count);

    // The collection's FindSamePaths: fill unsorted, sort, then find and delete every hit.
    int deleted = 0;
    const double samePaths = bench::BestOf(3, [&] {
        TPathList list;
        list.SetCapacity(count);
        for (const auto& path : paths)
            list.Add(path);
        list.Sorted = true;
        deleted = 0;
        int index = 0;
        for (const auto& path : absent) // another order than the one added
            if (list.Find(path, index)) {
                list.Delete(index);
                ++deleted;
            }
    });
    std::printf(
        "TPathList: fill unsorted, sort, find and delete each of %d  %.3f s  (%d deleted)\n", count,
        samePaths, deleted);

    // Yardsticks on the same paths: the least a comparison search costs on this machine (a
    // sorted array, no inserts at all) and a hash set, which keeps no order.
    std::vector<std::string> sortedCopy = paths;
    std::sort(sortedCopy.begin(), sortedCopy.end());
    int arrayHits = 0;
    const double arrayFind = bench::BestOf(3, [&] {
        arrayHits = 0;
        for (const auto& path : paths)
            arrayHits += std::binary_search(sortedCopy.begin(), sortedCopy.end(), path) ? 1 : 0;
    });
    std::unordered_set<std::string> hashed;
    const double hashAdd = bench::BestOf(1, [&] {
        hashed.clear();
        hashed.reserve(paths.size());
        for (const auto& path : paths)
            hashed.insert(path);
    });
    std::printf("yardsticks: binary search of a sorted std::vector %.0f ns each (%d found); "
                "std::unordered_set insert %.0f ns each\n",
                arrayFind * 1e9 / count, arrayHits, hashAdd * 1e9 / count);

    // The framework's plain sorted list moves the rest of the list on every insert.
    double plain100k = 0;
    for (const int n : {25'000, 50'000, 100'000}) {
        const std::vector<std::string> some(paths.begin(), paths.begin() + n);
        const double plain = bench::BestOf(1, [&] {
            Kiv_framework::TStringList list;
            MakeSeenSet(list);
            list.CaseSensitive = true;
            list.SetCapacity(n);
            for (const auto& path : some)
                Kiv_strings::AddIfAbsent(list, path);
        });
        const double ours = bench::BestOf(3, [&] {
            TPathList list;
            MakeSeenSet(list);
            list.SetCapacity(n);
            for (const auto& path : some)
                Kiv_strings::AddIfAbsent(list, path);
        });
        std::printf("n = %7d adds: framework TStringList %.3f s, TPathList %.4f s\n", n, plain,
                    ours);
        plain100k = plain;
    }
    std::printf(
        "(the framework list grows with the square of n: 1,000,000 adds would take about %.0f s)\n",
        plain100k * 100);
}

void BenchEnumerator() {
    const int count = 100'000;
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::string directory = (base / "bench_files_XXXXXX").string();
    if (mkdtemp(directory.data()) == nullptr) {
        std::perror("mkdtemp");
        return;
    }
    for (int i = 0; i < count; ++i) {
        const std::string path = directory + "/file_" + std::to_string(i) + ".dat";
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0) {
            std::perror("open");
            break;
        }
        if (i % 10 == 0 && write(fd, "data", 4) != 4)
            std::perror("write");
        close(fd);
    }

    int files = 0;
    unsigned long long bytes = 0;
    const double ours = bench::BestOf(5, [&] {
        TFileEnumerator enumerator(Kiv_files::DirectoryPattern(directory));
        files = 0;
        bytes = 0;
        while (enumerator.MoveNext()) {
            const Kiv_files::TFindData record = enumerator.Current();
            if ((Kiv_files::FindDataAttributes(record) & Kiv_files::faDirectory) == 0) {
                ++files;
                bytes += Kiv_files::FindDataSize(record);
            }
        }
    });
    const std::string command =
        "find '" + directory + "' -type f -printf '%s %T@ %p\\n' > /dev/null";
    int status = 0;
    const double find = bench::BestOf(5, [&] { status = std::system(command.c_str()); });
    std::printf(
        "TFileEnumerator over %d files (%d files, %llu bytes seen)  %.3f s  (%.0f ns each)\n",
        count, files, bytes, ours, ours * 1e9 / count);
    std::printf(
        "find -type f -printf '%%s %%T@ %%p\\n' > /dev/null, same folder   %.3f s  (exit %d)\n",
        find, status);

    std::error_code error;
    std::filesystem::remove_all(directory, error);
}

} // namespace

int main() {
    BenchPathList();
    BenchEnumerator();
    return 0;
}
