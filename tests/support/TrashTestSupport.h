// Helpers of the trash tests: a temporary folder with files (those of TestFiles), reading
// back what a trash folder holds, and a file size limit that plays a full disk.
#pragma once

#include "TestFiles.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace TrashTest {

using TestFiles::Names;
using TestFiles::ReadFile;
using TestFiles::TFileSizeLimit;
using TestFiles::TTempDir;
using TestFiles::WriteFile;

inline void MakeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

inline bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

inline unsigned Mode(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777u : 0u;
}

// The Path= value of an information file.
inline std::string InfoPath(const std::string& infoFile) {
    const std::string text = ReadFile(infoFile);
    const std::size_t start = text.find("\nPath=");
    if (start == std::string::npos)
        return {};
    const std::size_t end = text.find('\n', start + 6);
    return text.substr(start + 6, end - start - 6);
}

} // namespace TrashTest
