// Times the choice of free names in the trash: 4,000 files all named Thumbs.db, each in a
// folder of its own, moved to the trash in one operation, against 8,000 files of distinct
// names, each in a folder of its own too, so that only the names differ. Both go into a
// fresh trash inside a temporary home; the best of three runs each, the two kinds taking
// turns.
#include "Kiv_shellfiles.h"
#include "bench_timing.h"

#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace {

constexpr int SameNameFiles = 4'000;
constexpr int DistinctFiles = 8'000;

// Moves without asking and without a window.
class TSilentMonitor : public Kiv_shellfiles::TFileOperationMonitor {
public:
    void Start(int) override {}
    bool Next(int, const std::string&) override { return true; }
    bool SkipAfterError(const std::string& path, const std::string& message) override {
        std::printf("unexpected failure for %s: %s\n", path.c_str(), message.c_str());
        return true;
    }
    void Finish() override {}
};

void MakeFile(const std::string& path) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    (void)::write(fd, "x", 1);
    ::close(fd);
}

// count files, each in a folder of its own below root, named by name(i).
template <typename Name>
std::vector<std::string> MakeFiles(const std::string& root, int count, Name name) {
    std::vector<std::string> paths;
    for (int i = 0; i < count; ++i) {
        const std::string folder = root + "/" + std::to_string(i);
        fs::create_directories(folder);
        paths.push_back(folder + "/" + name(i));
        MakeFile(paths.back());
    }
    return paths;
}

double TimeMove(const std::string& root, const std::vector<std::string>& paths) {
    Kiv_shellfiles::TTrash trash(root + "/home/Trash");
    TSilentMonitor monitor;
    return bench::BestOf(1, [&] { Kiv_shellfiles::RecycleFiles(paths, trash, monitor); });
}

} // namespace

int main() {
    char pattern[] = "/tmp/sorvik-bench-trash-names-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    double same = 1e300;
    double distinct = 1e300;
    for (int run = 0; run < 3; ++run) {
        const std::string sameRoot = root + "/same-" + std::to_string(run);
        const std::string distinctRoot = root + "/distinct-" + std::to_string(run);
        const auto thumbs =
            MakeFiles(sameRoot, SameNameFiles, [](int) { return std::string("Thumbs.db"); });
        const auto photos = MakeFiles(distinctRoot, DistinctFiles,
                                      [](int i) { return "photo-" + std::to_string(i) + ".jpg"; });
        same = std::min(same, TimeMove(sameRoot, thumbs));
        distinct = std::min(distinct, TimeMove(distinctRoot, photos));
        std::error_code ignored;
        fs::remove_all(sameRoot, ignored);
        fs::remove_all(distinctRoot, ignored);
    }
    std::printf("Move to the trash of %d files named Thumbs.db      %.3f s\n", SameNameFiles, same);
    std::printf("Move to the trash of %d files of distinct names    %.3f s\n", DistinctFiles,
                distinct);
    std::printf("Ratio                                              %.2f  (target <= 2)\n",
                same / distinct);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
