// Files for the tests of the content matchers and the hash read-ahead: a temporary folder,
// records of its files, random contents and an independent SHA-256.
#pragma once

#include "App_scan.h"
#include "App_scan_reading.h"
#include "TestFiles.h"

#include <atomic>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <openssl/sha.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ScanTest {

using App_scan::TScanRecord;

using TestFiles::AbcDigest;
using TestFiles::EmptyDigest;
using TestFiles::MakeDeepFile;

// A temporary folder that makes the files of the tests.
class TTemporaryFolder : public TestFiles::TTempDir {
public:
    std::string File(const std::string& name, const std::string& content) const {
        const std::string path = *this / name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string Missing(const std::string& name) const { return *this / name; }
};

inline TScanRecord RecordOf(const std::string& path, std::uint64_t size) {
    TScanRecord record;
    record.SetPath(path);
    record.SetSize(size);
    record.Priority = App_scan::spPrimary;
    return record;
}

// The record of a new file, with its device and inode as a listing gives them.
inline TScanRecord FileRecord(const TTemporaryFolder& folder, const std::string& name,
                              const std::string& content) {
    TScanRecord record = RecordOf(folder.File(name, content), content.size());
    struct stat info {};
    if (::stat(record.Path().c_str(), &info) != 0)
        throw std::runtime_error("cannot stat " + record.Path());
    record.SetIdentity(info.st_dev, info.st_ino);
    return record;
}

inline std::string Bytes(std::size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

inline std::string OpenSslDigest(const std::string& bytes) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
    static const char digits[] = "0123456789ABCDEF";
    std::string text;
    for (const unsigned char byte : digest) {
        text += digits[byte >> 4];
        text += digits[byte & 15];
    }
    return text;
}

// Sets a file's times far back, so that any later write moves its last write time even
// within the clock tick of its making.
inline void AgeFile(const std::string& path) {
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    if (::utimensat(AT_FDCWD, path.c_str(), old, AT_SYMLINK_NOFOLLOW) != 0)
        throw std::runtime_error("cannot set the times of " + path);
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

inline int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace ScanTest
