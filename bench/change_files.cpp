// Changes files as a user's program might behind a scan's back: the first bytes of each
// file named on standard input (one path a line) are inverted, and its last access and
// last write times are put back, so that only the change time tells. Prints the number of
// files changed and their total size. Usage: change_files < LIST
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fcntl.h>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main() {
    std::uint64_t count = 0;
    std::uint64_t bytes = 0;
    std::string path;
    while (std::getline(std::cin, path)) {
        if (!path.empty() && path.back() == '\r')
            path.pop_back();
        if (path.empty())
            continue;
        const int descriptor = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
        struct stat info {};
        if (descriptor < 0 || ::fstat(descriptor, &info) != 0) {
            std::fprintf(stderr, "change_files: cannot open %s\n", path.c_str());
            return 1;
        }
        unsigned char head[8] = {};
        const auto length = static_cast<std::size_t>(std::min<off_t>(info.st_size, sizeof head));
        bool done = ::pread(descriptor, head, length, 0) == static_cast<ssize_t>(length);
        for (unsigned char& byte : head)
            byte = static_cast<unsigned char>(~byte);
        done = done && ::pwrite(descriptor, head, length, 0) == static_cast<ssize_t>(length);
        const timespec times[2] = {info.st_atim, info.st_mtim};
        done = done && ::futimens(descriptor, times) == 0;
        ::close(descriptor);
        if (!done) {
            std::fprintf(stderr, "change_files: cannot change %s\n", path.c_str());
            return 1;
        }
        ++count;
        bytes += static_cast<std::uint64_t>(info.st_size);
    }
    std::printf("%llu %llu\n", static_cast<unsigned long long>(count),
                static_cast<unsigned long long>(bytes));
    return 0;
}
