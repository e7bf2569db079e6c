// Helpers of the entry-list tests: temporary folders with real files, and entries built
// from records the test makes up.
#pragma once

#include "App_scanentries.h"
#include "TestFiles.h"

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

using TestFiles::MakeDir;
using TestFiles::TTempDir;
using TestFiles::WriteFile;

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
    App_scanentries::TScanEntryProducer producer(Kiv_dynamicarrays::VectorToArray(paths));
    while (producer.Step()) {
    }
    std::vector<std::string> result;
    for (const App_scanentries::TScanEntry* entry : producer.GetEntries())
        result.push_back(entry->Path());
    return result;
}

// Adds the files or folders to the list as entries of the priority, as the window does.
inline void AddFiles(App_scanentries::TScanEntries& entries, const std::vector<std::string>& paths,
                     App_scan::TScanPriority priority) {
    App_scanentries::AddPathsToList(entries, Kiv_dynamicarrays::VectorToArray(paths), priority);
}

// The group of every entry, in list order.
inline std::vector<std::int32_t> GroupsOf(const App_scanentries::TScanEntries& entries) {
    std::vector<std::int32_t> groups;
    for (int i = 0; i < entries.Count(); ++i)
        groups.push_back(entries.Item(i).Group());
    return groups;
}

// The message of the EAppError that body raises.
template <typename Body>
std::string AppErrorOf(Body body) {
    return TestFiles::MessageOf<App_common::EAppError>(body);
}

} // namespace EntriesTest
