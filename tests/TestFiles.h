// What many tests share: a temporary folder with real files, reading and writing them, the
// current directory kept, the message of an error a call raises, and the reference SHA-256
// values.
#pragma once

#include "Kiv_framework.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace TestFiles {

// A fresh folder under the system's temporary directory, in canonical form (the trash
// reaches folders without following symbolic links), removed with everything in it; the
// folders a test left without permissions are opened again first.
class TTempDir {
public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvik-test-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        char* real = ::realpath(pattern.c_str(), nullptr);
        Path = real != nullptr ? real : pattern;
        std::free(real);
    }
    ~TTempDir() {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(Path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->is_directory(error) && !it->is_symlink(error))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(Path, error);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string operator/(const std::string& name) const { return Path + "/" + name; }

    std::string Path;
};

// Writes the file whole, making the folders on its way where they are missing, and gives
// it the mode.
inline void WriteFile(const std::string& path, const std::string& content = "x",
                      mode_t mode = 0644) {
    const std::filesystem::path parent = std::filesystem::path(path).parent_path();
    if (!parent.empty())
        std::filesystem::create_directories(parent);
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

inline std::string ReadFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), {}};
}

inline void MakeDir(const std::string& path) {
    if (::mkdir(path.c_str(), 0755) != 0)
        throw std::runtime_error("cannot create " + path);
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

// Puts the process's current directory back when the test ends (the root when there was
// none at the start).
class TCurrentDirectoryGuard {
public:
    TCurrentDirectoryGuard() {
        char* path = ::getcwd(nullptr, 0);
        Saved = path != nullptr ? path : "/";
        std::free(path);
    }
    ~TCurrentDirectoryGuard() {
        if (::chdir(Saved.c_str()) != 0)
            ADD_FAILURE() << "cannot return to " << Saved;
    }
    TCurrentDirectoryGuard(const TCurrentDirectoryGuard&) = delete;
    TCurrentDirectoryGuard& operator=(const TCurrentDirectoryGuard&) = delete;

    // The current directory at the start.
    const std::string& Path() const { return Saved; }

private:
    std::string Saved;
};

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

// The message of the Error that body raises; fails the test when it raises nothing or
// something else.
template <typename Error = Kiv_framework::Exception, typename Body>
std::string MessageOf(Body body) {
    try {
        body();
    } catch (const Error& error) {
        return error.what();
    } catch (const std::exception& error) {
        ADD_FAILURE() << "unexpected error: " << error.what();
        return {};
    } catch (...) {
        ADD_FAILURE() << "something that is no exception was raised";
        return {};
    }
    ADD_FAILURE() << "no error raised";
    return {};
}

// SHA-256 of no bytes and of "abc" (FIPS 180-4), as hash texts.
inline const std::string EmptyDigest =
    "E3B0C44298FC1C149AFBF4C8996FB92427AE41E4649B934CA495991B7852B855";
inline const std::string AbcDigest =
    "BA7816BF8F01CFEA414140DE5DAE2223B00361A396177A9CB410FF61F20015AD";

} // namespace TestFiles
