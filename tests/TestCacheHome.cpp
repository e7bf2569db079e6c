// Every test program keeps the program's caches in a temporary folder of its own, never in
// the user's: XDG_CACHE_HOME is set before the first test runs (and so for every program a
// test starts), and the folder goes when the test program ends.
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace {

class TCacheHome {
public:
    TCacheHome() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "sorvik-test-cache-XXXXXX").string();
        if (::mkdtemp(pattern.data()) == nullptr)
            throw std::runtime_error("mkdtemp failed");
        Path = pattern;
        ::setenv("XDG_CACHE_HOME", Path.c_str(), 1);
    }
    ~TCacheHome() {
        std::error_code ignored;
        std::filesystem::remove_all(Path, ignored);
    }
    TCacheHome(const TCacheHome&) = delete;
    TCacheHome& operator=(const TCacheHome&) = delete;

private:
    std::string Path;
};

const TCacheHome CacheHome;

} // namespace
