// Files for the tests of the content matchers and the hash read-ahead: a temporary folder,
// records of its files, random contents and an independent SHA-256.
#pragma once

#include "App_scan.h"

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <openssl/sha.h>
#include <random>
#include <stdexcept>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace ScanTest {

using App_scan::TScanRecord;

inline const std::string EmptyDigest =
    "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
inline const std::string AbcDigest =
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

class TTemporaryFolder {
public:
    TTemporaryFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvik-scan-XXXXXX").string();
        if (!::mkdtemp(pattern.data()))
            throw std::runtime_error("mkdtemp failed");
        Path = pattern;
    }
    ~TTemporaryFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    std::string File(const std::string& name, const std::string& content) const {
        const std::string path = Path + "/" + name;
        std::ofstream(path, std::ios::binary) << content;
        return path;
    }
    std::string Missing(const std::string& name) const { return Path + "/" + name; }

    std::string Path;
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

// Makes a file with content below folders of 200-character names, so that its path is at
// least length long (longer than the system takes in one call), folder by folder from the
// current directory, which is restored. Returns the file's path.
inline std::string MakeDeepFile(const std::string& root, std::size_t length,
                                const std::string& content) {
    const int start = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (start < 0 || ::chdir(root.c_str()) != 0)
        throw std::runtime_error("cannot enter " + root);
    std::string path = root;
    const std::string name(200, 'd');
    while (path.size() < length) {
        if (::mkdir(name.c_str(), 0700) != 0 || ::chdir(name.c_str()) != 0)
            throw std::runtime_error("cannot make a deep folder");
        path += "/" + name;
    }
    std::ofstream("deep", std::ios::binary) << content;
    const bool back = ::fchdir(start) == 0;
    ::close(start);
    if (!back)
        throw std::runtime_error("cannot return to the current directory");
    return path + "/deep";
}

inline int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace ScanTest
