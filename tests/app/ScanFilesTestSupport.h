// Files for the tests of the content matchers and the hash read-ahead: a temporary folder,
// records of its files, random contents and an independent SHA-256.
#pragma once

#include "App_scan.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <openssl/sha.h>
#include <random>
#include <stdexcept>
#include <string>

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

inline TScanRecord FileRecord(const TTemporaryFolder& folder, const std::string& name,
                              const std::string& content) {
    return RecordOf(folder.File(name, content), content.size());
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

inline int OpenDescriptors() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace ScanTest
