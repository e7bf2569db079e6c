// Every test program keeps the program's caches in a temporary folder of its own, never in
// the user's: XDG_CACHE_HOME is set before the first test runs (and so for every program a
// test starts), and the folder goes when the test program ends.
#include "TestFiles.h"

#include <cstdlib>

namespace {

struct TCacheHome {
    TCacheHome() { ::setenv("XDG_CACHE_HOME", Folder.Path.c_str(), 1); }

    TestFiles::TTempDir Folder;
};

const TCacheHome CacheHome;

} // namespace
