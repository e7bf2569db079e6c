// The trash beside another process that changes the files while they move, played by a
// second thread: whatever it does, only a file that was listed reaches the trash, and its
// information file names the place it was listed at.
#include "Kiv_shellfiles.h"
#include "TestShell.h"
#include "TrashTestSupport.h"

#include <atomic>
#include <cstdio>
#include <gtest/gtest.h>
#include <map>
#include <sys/stat.h>
#include <thread>

using namespace Kiv_shellfiles;
using namespace TrashTest;

namespace {

constexpr int FileCount = 300;

TEST(TrashRaces, AFolderSwappedForALinkInALoopNeverSendsAFileThatWasNotListed) {
    TTempDir dir;
    const std::string album = dir / "album";
    const std::string decoy = dir / "decoy";
    MakeDirs(album);
    MakeDirs(decoy);
    std::vector<std::string> paths;
    std::map<std::string, ino_t> listed;
    for (int i = 0; i < FileCount; ++i) {
        const std::string name = "photo-" + std::to_string(i);
        paths.push_back(album + "/" + name);
        WriteFile(paths.back(), "listed " + name);
        WriteFile(decoy + "/" + name, "never listed " + name);
        struct stat status {};
        ASSERT_EQ(::lstat(paths.back().c_str(), &status), 0);
        listed[paths.back()] = status.st_ino;
    }

    // The other process: the folder goes aside, a link to the decoy takes its place, and
    // back again, over and over.
    std::atomic<bool> stop{false};
    std::atomic<int> swaps{0};
    std::thread swapper([&] {
        const std::string away = album + ".away";
        while (!stop.load()) {
            if (std::rename(album.c_str(), away.c_str()) != 0)
                continue;
            (void)::symlink(decoy.c_str(), album.c_str());
            (void)::unlink(album.c_str());
            (void)std::rename(away.c_str(), album.c_str());
            ++swaps;
        }
    });

    TTrash trash(dir / "home/Trash");
    TestShell::TTestMonitor monitor;
    monitor.SkipAnswers.assign(FileCount, true);
    std::vector<TTrashedFile> moved;
    TRecycleHooks hooks;
    // As the list checks it: the file looked at must be the one listed.
    hooks.Check = [&](const std::string& path, const Kiv_files::TFindData& found) {
        if (found.Inode != listed.at(path))
            throw EShellFileError("The file \"" + path + "\" changed.");
    };
    hooks.Moved = [&](const TTrashedFile& file) { moved.push_back(file); };
    // The swapping is under way before the first file.
    while (swaps.load() < 3)
        std::this_thread::yield();
    const bool completed = RecycleFiles(paths, trash, monitor, hooks);
    stop = true;
    swapper.join();

    EXPECT_TRUE(completed);
    EXPECT_EQ(moved.size() + monitor.Errors.size(), static_cast<std::size_t>(FileCount));
    // The files refused while the link stood move once the other process is done.
    std::vector<std::string> refused;
    for (const std::string& path : monitor.ErrorPaths)
        refused.push_back(path);
    TestShell::TTestMonitor quiet;
    TTrash again(dir / "home/Trash");
    EXPECT_TRUE(RecycleFiles(refused, again, quiet, hooks));
    EXPECT_TRUE(quiet.Errors.empty());

    ASSERT_EQ(moved.size(), static_cast<std::size_t>(FileCount));
    for (const TTrashedFile& file : moved) {
        const std::string name = file.Path.substr(album.size() + 1);
        EXPECT_EQ(ReadFile(file.TrashedPath), "listed " + name) << file.Path;
        EXPECT_EQ(InfoPath(file.InfoPath), file.Path);
    }
    for (int i = 0; i < FileCount; ++i) {
        const std::string name = "photo-" + std::to_string(i);
        EXPECT_EQ(ReadFile(decoy + "/" + name), "never listed " + name);
    }
    // Nothing half done: an information file for every file in the trash, no more.
    EXPECT_EQ(Names(dir / "home/Trash/files").size(), moved.size());
    EXPECT_EQ(Names(dir / "home/Trash/info").size(), moved.size());
}

} // namespace
