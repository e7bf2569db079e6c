// Helpers of the trash tests: a temporary folder with files, and reading back what a
// trash folder holds.
#pragma once

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

class TTempDir {
public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kiv_trash_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        // Canonical: the trash reaches folders without following symbolic links.
        char* real = ::realpath(pattern.c_str(), nullptr);
        Path = real != nullptr ? real : pattern;
        std::free(real);
    }
    ~TTempDir() {
        std::error_code error;
        // Folders a test left without permissions are opened again first.
        for (auto it = std::filesystem::recursive_directory_iterator(Path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->is_directory(error) && !it->is_symlink(error))
                ::chmod(it->path().c_str(), 0755);
        std::filesystem::remove_all(Path, error);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string operator/(const std::string& name) const { return Path + "/" + name; }

    std::string Path;
};

inline void WriteFile(const std::string& path, const std::string& content) {
    std::ofstream file(path, std::ios::binary);
    file << content;
    if (!file)
        throw std::runtime_error("cannot write " + path);
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

inline void MakeDirs(const std::string& path) {
    std::filesystem::create_directories(path);
}

inline bool Exists(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0;
}

// The names in a folder, sorted; none when it does not exist.
inline std::vector<std::string> Names(const std::string& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

inline unsigned Mode(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777u : 0u;
}

// Lets this process write files only up to the given size while it lives, as a full disk
// would; a write beyond fails (EFBIG) instead of raising SIGXFSZ.
class TFileSizeLimit {
public:
    explicit TFileSizeLimit(rlim_t bytes) {
        ::getrlimit(RLIMIT_FSIZE, &Saved);
        PreviousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit = Saved;
        limit.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &limit);
    }
    ~TFileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &Saved);
        std::signal(SIGXFSZ, PreviousHandler);
    }
    TFileSizeLimit(const TFileSizeLimit&) = delete;
    TFileSizeLimit& operator=(const TFileSizeLimit&) = delete;

private:
    rlimit Saved{};
    void (*PreviousHandler)(int);
};

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
