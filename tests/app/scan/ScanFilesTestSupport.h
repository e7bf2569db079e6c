// Files for the tests of the content matchers and the hash read-ahead: a temporary folder,
// records of its files, random contents and an independent SHA-256.
#pragma once

#include "App_scan.h"
#include "ChangeWhileReadTestSupport.h"
#include "OpenSslSha256.h"
#include "TestFiles.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
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
// OpenSSL's digest, an independent reference.
using Reference::OpenSslSha256;

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

inline int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace ScanTest
