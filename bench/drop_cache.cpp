// Empties the page cache of every regular file below the paths given, without root: each
// file is opened and its cached pages are let go (posix_fadvise DONTNEED). Folders and
// inodes stay cached; the next read of a file's bytes goes to the disk.
//   drop_cache PATH...
#include <cstdio>
#include <fcntl.h>
#include <ftw.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

int Dropped = 0;
int Failed = 0;

int Drop(const char* path, const struct stat* info, int type, FTW*) {
    if (type != FTW_F || !S_ISREG(info->st_mode))
        return 0;
    const int file = ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NOATIME);
    const int fallback = file < 0 ? ::open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC) : file;
    if (fallback < 0 || ::posix_fadvise(fallback, 0, 0, POSIX_FADV_DONTNEED) != 0)
        ++Failed;
    else
        ++Dropped;
    if (fallback >= 0)
        ::close(fallback);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: drop_cache PATH...\n");
        return 2;
    }
    for (int i = 1; i < argc; ++i)
        if (::nftw(argv[i], Drop, 64, FTW_PHYS) != 0) {
            std::perror(argv[i]);
            return 1;
        }
    std::printf("drop_cache: %d files let go, %d failed\n", Dropped, Failed);
    return Failed > 0 ? 1 : 0;
}
