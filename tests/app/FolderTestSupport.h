// Temporary folders and files of the frame's tests, without the entry list.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace FolderTest {

// A fresh folder under the system's temporary directory, in canonical form, removed with
// everything in it (write permission is given back first).
class TTempDir {
public:
    TTempDir() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvik_frame_XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        Path = std::filesystem::canonical(pattern).string();
    }
    ~TTempDir() {
        std::error_code error;
        for (auto it = std::filesystem::recursive_directory_iterator(Path, error);
             !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error))
            if (it->is_directory(error))
                std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, error);
        std::filesystem::remove_all(Path, error);
    }
    TTempDir(const TTempDir&) = delete;
    TTempDir& operator=(const TTempDir&) = delete;

    std::string operator/(const std::string& name) const { return Path + "/" + name; }

    std::string Path;
};

inline void WriteText(const std::string& path, const std::string& text) {
    std::filesystem::create_directories(std::filesystem::path(path).parent_path());
    std::ofstream file(path, std::ios::binary);
    file << text;
    if (!file.flush())
        throw std::runtime_error("cannot write " + path);
}

inline std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
}

// Restores the process's current directory when the test ends.
class TCurrentDirectoryGuard {
public:
    TCurrentDirectoryGuard() : Saved(std::filesystem::current_path()) {}
    ~TCurrentDirectoryGuard() {
        std::error_code ignored;
        std::filesystem::current_path(Saved, ignored);
    }
    TCurrentDirectoryGuard(const TCurrentDirectoryGuard&) = delete;
    TCurrentDirectoryGuard& operator=(const TCurrentDirectoryGuard&) = delete;

private:
    std::filesystem::path Saved;
};

} // namespace FolderTest
