// Another process at work on a file the scan reads: changes made in place or by renaming
// over it, and an observer of the scan's reads that makes one between two reads.
#pragma once

#include "App_scan_reading.h"

#include <atomic>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace ScanTest {

// Sets a file's times far back, so that any later write moves its last write time even
// within the clock tick of its making.
inline void AgeFile(const std::string& path) {
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the times of " + path);
}

// Returns once the clock of file times has moved past the file's change time. Then the
// next change of the file gets another change time also on a kernel that keeps file times
// only to its clock tick (newer ones give a change after a look a finer time anyway).
inline void PassChangeTime(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0)
        throw std::runtime_error("cannot look at " + path);
    timespec now{};
    do
        ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    while (now.tv_sec < info.st_ctim.tv_sec ||
           (now.tv_sec == info.st_ctim.tv_sec && now.tv_nsec <= info.st_ctim.tv_nsec));
}

// What another process does to a file while the scan reads it.
inline void RewriteFirstByte(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR);
    unsigned char byte = 0;
    const bool done =
        fd >= 0 && ::pread(fd, &byte, 1, 0) == 1 && (byte ^= 0xFF, ::pwrite(fd, &byte, 1, 0) == 1);
    if (fd >= 0)
        ::close(fd);
    if (!done)
        throw std::runtime_error("cannot rewrite " + path);
}

// Writes new bytes of the same length into the file and puts its last access and write
// times back, as touch -r does: only the change time tells.
inline void RewriteKeepingTimes(const std::string& path, const std::string& content) {
    struct stat before {};
    if (::stat(path.c_str(), &before) != 0)
        throw std::runtime_error("cannot look at " + path);
    PassChangeTime(path);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
    const timespec times[2] = {before.st_atim, before.st_mtim};
    struct stat after {};
    if (::utimensat(AT_FDCWD, path.c_str(), times, 0) != 0 || ::stat(path.c_str(), &after) != 0)
        throw std::runtime_error("cannot put the times of " + path + " back");
    if (after.st_size != before.st_size || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec)
        throw std::runtime_error("the size or last write time of " + path + " changed");
}

inline void RenameOver(const std::string& path, const std::string& content) {
    const std::string other = path + ".new";
    std::ofstream(other, std::ios::binary) << content;
    if (::rename(other.c_str(), path.c_str()) != 0)
        throw std::runtime_error("cannot rename over " + path);
}

inline void Append(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::app) << bytes;
}

// Plays another process: right after a read of the file at path has reached offset, it
// changes the file, once, on whichever thread reads it. Watches every read of the scan
// while it lives.
class TChangeWhileRead : public App_scan::TReadObserver {
public:
    TChangeWhileRead(std::string path, std::uint64_t offset, std::function<void()> change)
        : Path(std::move(path)), Offset(offset), Change(std::move(change)) {
        App_scan::SetReadObserver(this);
    }
    ~TChangeWhileRead() override { App_scan::SetReadObserver(nullptr); }
    TChangeWhileRead(const TChangeWhileRead&) = delete;
    TChangeWhileRead& operator=(const TChangeWhileRead&) = delete;

    void AfterRead(const std::string& path, std::uint64_t offset) override {
        if (path == Path && offset >= Offset && !Done.exchange(true))
            Change();
    }
    bool Changed() const { return Done; }

private:
    const std::string Path;
    const std::uint64_t Offset;
    const std::function<void()> Change;
    std::atomic<bool> Done{false};
};

} // namespace ScanTest
