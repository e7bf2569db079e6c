// Makes a folder tree for the duplicate-scan benchmark: file sizes log-normal around
// 8 KiB up to 4 MiB, a share of byte-for-byte copies of earlier files and a share of files
// with another file's size but other bytes.
//
//   make_tree DIR [FILES] [SEED] [--median BYTES] [--distinct-size BYTES] [--per-folder N]
// FILES defaults to 50,000 and the median size to 8 KiB. --distinct-size makes every file
// that many bytes long and different from every other one (the worst case of comparing
// contents). The files lie N to a folder (default 100), ten folders to a parent.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr double CopyShare = 0.20;
constexpr double SameSizeShare = 0.05;
constexpr std::uint64_t MaxSize = 4u << 20;
int FilesPerFolder = 100;

struct TFile {
    std::string Path;
    std::uint64_t Size;
};

// Fast bytes: incompressible enough that no file system folds them, cheap to make.
void FillRandom(std::vector<char>& buffer, std::uint64_t& state) {
    for (std::size_t i = 0; i + 8 <= buffer.size(); i += 8) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        std::memcpy(&buffer[i], &state, 8);
    }
}

void WriteRandomFile(const std::string& path, std::uint64_t size, std::uint64_t& state) {
    std::ofstream out(path, std::ios::binary);
    std::vector<char> buffer(1 << 16);
    for (std::uint64_t left = size; left > 0;) {
        FillRandom(buffer, state);
        const std::uint64_t chunk = std::min<std::uint64_t>(left, buffer.size());
        out.write(buffer.data(), static_cast<std::streamsize>(chunk));
        left -= chunk;
    }
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

std::string PathOf(const std::filesystem::path& root, int index) {
    const auto folder = root / ("d" + std::to_string(index / (FilesPerFolder * 10))) /
                        ("e" + std::to_string(index / FilesPerFolder));
    std::filesystem::create_directories(folder);
    return (folder / ("f" + std::to_string(index) + ".bin")).string();
}

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> positional;
    double median = 8192.0;
    std::uint64_t distinctSize = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--median" && i + 1 < argc)
            median = std::atof(argv[++i]);
        else if (argument == "--distinct-size" && i + 1 < argc)
            distinctSize = std::strtoull(argv[++i], nullptr, 10);
        else if (argument == "--per-folder" && i + 1 < argc)
            FilesPerFolder = std::max(1, std::atoi(argv[++i]));
        else
            positional.push_back(argument);
    }
    if (positional.empty() || median < 1) {
        std::fprintf(stderr, "usage: make_tree DIR [FILES] [SEED] [--median BYTES] "
                             "[--distinct-size BYTES] [--per-folder N]\n");
        return 2;
    }
    const std::filesystem::path root = positional[0];
    const int count = positional.size() > 1 ? std::atoi(positional[1].c_str()) : 50'000;
    std::mt19937_64 random(positional.size() > 2 ? std::strtoull(positional[2].c_str(), nullptr, 10)
                                                 : 2026);
    std::uint64_t state = random() | 1;
    if (distinctSize > 0) {
        for (int i = 0; i < count; ++i)
            WriteRandomFile(PathOf(root, i), distinctSize, state);
        std::printf("make_tree: %d distinct files of %llu bytes\n", count,
                    static_cast<unsigned long long>(distinctSize));
        return 0;
    }
    // Sigma 1.6 puts the mean near four times the median: with 8 KiB, 50,000 files make
    // ~1.6 GB.
    std::lognormal_distribution<double> sizes(std::log(median), 1.6);
    std::uniform_real_distribution<double> share(0.0, 1.0);

    std::vector<TFile> made;
    made.reserve(static_cast<std::size_t>(count));
    std::uint64_t total = 0;
    int copies = 0;
    int sameSize = 0;
    for (int i = 0; i < count; ++i) {
        const std::string path = PathOf(root, i);
        const double kind = share(random);
        if (!made.empty() && kind < CopyShare) {
            const TFile& source = made[random() % made.size()];
            std::filesystem::copy_file(source.Path, path,
                                       std::filesystem::copy_options::overwrite_existing);
            made.push_back({path, source.Size});
            ++copies;
        } else {
            std::uint64_t size =
                std::min<std::uint64_t>(MaxSize, static_cast<std::uint64_t>(sizes(random)) + 1);
            if (!made.empty() && kind < CopyShare + SameSizeShare) {
                size = made[random() % made.size()].Size;
                ++sameSize;
            }
            WriteRandomFile(path, size, state);
            made.push_back({path, size});
        }
        total += made.back().Size;
    }
    std::printf("make_tree: %d files, %.2f GB, %d copies, %d of another file's size\n", count,
                static_cast<double>(total) / 1e9, copies, sameSize);
    return 0;
}
