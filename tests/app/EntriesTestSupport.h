// Helpers of the entry-list tests: temporary folders with real files, and entries built
// from records the test makes up.
#pragma once

#include "App_scanentries.h"

#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <memory>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace EntriesTest {

// A fresh folder under the system's temporary directory, in canonical form, removed with
// everything in it.
class TTempDir {
public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvik_entries_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        char* real = ::realpath(pattern.c_str(), nullptr);
        Path = real;
        std::free(real);
    }
    ~TTempDir() {
        std::error_code error;
        std::filesystem::remove_all(Path, error);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string operator/(const std::string& name) const { return Path + "/" + name; }

    std::string Path;
};

inline void WriteFile(const std::string& path, const std::string& content = "x",
                      mode_t mode = 0644) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, mode);
    if (fd < 0)
        throw std::runtime_error("cannot create " + path);
    const bool written =
        ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    const bool moded = ::fchmod(fd, mode) == 0;
    ::close(fd);
    if (!written || !moded)
        throw std::runtime_error("cannot write " + path);
}

inline void MakeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot create " + path);
}

// A made-up directory-entry record.
inline Kiv_files::TFindData Record(std::uint64_t size = 0, std::uint32_t attributes = 0,
                                   std::uint64_t creation = 0, std::uint64_t lastWrite = 0,
                                   std::uint64_t lastAccess = 0) {
    Kiv_files::TFindData record{};
    record.FileAttributes = attributes;
    record.FileSizeHigh = static_cast<std::uint32_t>(size >> 32);
    record.FileSizeLow = static_cast<std::uint32_t>(size);
    record.CreationTime = Kiv_files::UInt64ToFileTime(creation);
    record.LastWriteTime = Kiv_files::UInt64ToFileTime(lastWrite);
    record.LastAccessTime = Kiv_files::UInt64ToFileTime(lastAccess);
    return record;
}

inline std::unique_ptr<App_scanentries::TScanEntry>
Entry(const std::string& path, std::uint64_t size = 0, std::uint32_t attributes = 0) {
    return std::make_unique<App_scanentries::TScanEntry>(path, Record(size, attributes));
}

// Runs a producer to its end and gives the paths of its entries in production order.
inline std::vector<std::string> Produce(const std::vector<std::string>& paths) {
    Kiv_dynamicarrays::DynamicArray<std::string> input(static_cast<int>(paths.size()));
    std::copy(paths.begin(), paths.end(), input.begin());
    App_scanentries::TScanEntryProducer producer(input);
    while (producer.Step()) {
    }
    std::vector<std::string> result;
    for (const App_scanentries::TScanEntry* entry : producer.GetEntries())
        result.push_back(entry->Path());
    return result;
}

// The message of the EAppError that body raises; fails the test when it raises nothing or
// something else.
template <typename Body>
std::string AppErrorOf(Body body) {
    try {
        body();
    } catch (const App_common::EAppError& error) {
        return error.Message();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return {};
    }
    ADD_FAILURE() << "no error raised";
    return {};
}

} // namespace EntriesTest
