// The trash of a second file system: a tmpfs mounted inside a mount namespace of the test's
// own (gone with the process), so the files never cross to the home trash. Where the test
// may not mount (not root, no namespaces), every test here is skipped with the reason.
#include "Kiv_shellfiles.h"
#include "TrashTestSupport.h"

#include <cerrno>
#include <cstring>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

using namespace Kiv_shellfiles;
using namespace TrashTest;

namespace {

// Why no file system can be mounted here; empty when one can.
std::string& MountRefusal() {
    static std::string reason = [] {
        if (::unshare(CLONE_NEWNS) != 0)
            return "cannot make a mount namespace: " + std::string(std::strerror(errno));
        if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            return "cannot make the mounts private: " + std::string(std::strerror(errno));
        return std::string();
    }();
    return reason;
}

class SecondFileSystem : public ::testing::Test {
protected:
    void SetUp() override {
        if (!MountRefusal().empty())
            GTEST_SKIP() << "no second file system: " << MountRefusal();
        MakeDirs(Top);
        if (::mount("tmpfs", Top.c_str(), "tmpfs", 0, "size=16m") != 0)
            GTEST_SKIP() << "no second file system: cannot mount a tmpfs: " << std::strerror(errno);
        Mounted = true;
        MakeDirs(Top + "/sub");
        MakeDirs(Dir / "home");
    }
    void TearDown() override {
        if (Mounted)
            ::umount2(Top.c_str(), MNT_DETACH);
    }

    TTempDir Dir;
    const std::string Top = Dir / "mnt";
    const std::string Home = Dir / "home/Trash";
    bool Mounted = false;
};

TEST_F(SecondFileSystem, FileGoesToTheTrashOfItsOwnFileSystem) {
    const std::string path = Top + "/sub/report.txt";
    WriteFile(path, "report");
    TTrash trash(Home);
    const TTrashedFile moved = trash.MoveToTrash(path);

    const std::string folder = Top + "/.Trash-" + std::to_string(::getuid());
    EXPECT_EQ(moved.TrashedPath, folder + "/files/report.txt");
    EXPECT_EQ(moved.InfoPath, folder + "/info/report.txt.trashinfo");
    EXPECT_EQ(ReadFile(moved.TrashedPath), "report");
    // Relative to the top folder, so the file can go back wherever the disk is mounted.
    EXPECT_EQ(InfoPath(moved.InfoPath), "sub/report.txt");
    EXPECT_EQ(Mode(folder), 0700u);
    EXPECT_FALSE(Exists(Home)) << "the home trash was touched";
}

TEST_F(SecondFileSystem, AdministratorsStickyTrashHasAFolderPerUser) {
    MakeDirs(Top + "/.Trash");
    ASSERT_EQ(::chmod((Top + "/.Trash").c_str(), 01777), 0);
    WriteFile(Top + "/a", "a");
    TTrash trash(Home);
    const TTrashedFile moved = trash.MoveToTrash(Top + "/a");
    EXPECT_EQ(moved.TrashedPath, Top + "/.Trash/" + std::to_string(::getuid()) + "/files/a");
    EXPECT_EQ(InfoPath(moved.InfoPath), "a");
}

TEST_F(SecondFileSystem, SharedTrashWithoutStickyBitIsPassedOver) {
    MakeDirs(Top + "/.Trash");
    ASSERT_EQ(::chmod((Top + "/.Trash").c_str(), 0777), 0);
    WriteFile(Top + "/a", "a");
    TTrash trash(Home);
    EXPECT_EQ(trash.MoveToTrash(Top + "/a").TrashedPath,
              Top + "/.Trash-" + std::to_string(::getuid()) + "/files/a");
    EXPECT_TRUE(Names(Top + "/.Trash").empty());
}

TEST_F(SecondFileSystem, TrashFolderThatIsALinkIsRefusedAndTheFileStays) {
    MakeDirs(Top + "/elsewhere");
    ASSERT_EQ(::symlink("elsewhere", (Top + "/.Trash-" + std::to_string(::getuid())).c_str()), 0);
    WriteFile(Top + "/a", "a");
    TTrash trash(Home);
    try {
        trash.MoveToTrash(Top + "/a");
        FAIL() << "moved into a linked trash";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not move the file \"" + Top +
                                       "/a\" to the trash (no trash folder can be made on the "
                                       "file system of \"" +
                                       Top + "\").");
    }
    EXPECT_EQ(ReadFile(Top + "/a"), "a");
    EXPECT_TRUE(Names(Top + "/elsewhere").empty());
}

TEST_F(SecondFileSystem, FilesOfBothFileSystemsInOneListGoToTheirOwnTrash) {
    MakeDirs(Dir / "data");
    WriteFile(Dir / "data/home-side", "h");
    WriteFile(Top + "/disk-side", "d");
    TTrash trash(Home);
    EXPECT_EQ(trash.MoveToTrash(Dir / "data/home-side").TrashedPath, Home + "/files/home-side");
    EXPECT_EQ(trash.MoveToTrash(Top + "/disk-side").TrashedPath,
              Top + "/.Trash-" + std::to_string(::getuid()) + "/files/disk-side");
    EXPECT_EQ(InfoPath(Home + "/info/home-side.trashinfo"), Dir / "data/home-side");
}

} // namespace
