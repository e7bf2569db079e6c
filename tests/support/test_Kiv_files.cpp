#include "Kiv_files.h"
#include "Kiv_strings.h"
#include "TestFiles.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>
#include <random>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <vector>

using namespace Kiv_files;
namespace fs = std::filesystem;

namespace {

using TestFiles::TTempDir;
using TestFiles::WriteFile;

void MakeDir(const std::string& path, mode_t mode = 0755) {
    ASSERT_EQ(mkdir(path.c_str(), mode), 0) << path;
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

void MakeSocket(const std::string& path) {
    const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(fd, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    close(fd);
}

std::uint64_t Ticks(std::int64_t seconds, std::int64_t nanoseconds) {
    return static_cast<std::uint64_t>(seconds + 11644473600LL) * 10000000ULL +
           static_cast<std::uint64_t>(nanoseconds / 100);
}

// Every record of a listing by name; fails the test when a name comes twice.
std::map<std::string, TFindData> ListAll(TFileEnumerator& enumerator) {
    std::map<std::string, TFindData> records;
    while (enumerator.MoveNext()) {
        const TFindData record = enumerator.Current();
        const bool added = records.emplace(FindDataName(record), record).second;
        EXPECT_TRUE(added) << "listed twice: " << FindDataName(record);
    }
    return records;
}

std::set<std::string> Names(const std::map<std::string, TFindData>& records) {
    std::set<std::string> names;
    for (const auto& [name, record] : records)
        names.insert(name);
    return names;
}

int OpenDescriptorCount() {
    int count = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

} // namespace

// ---------------------------------------------------------------------------------
// Path forms

TEST(AbsolutePath, BeginsWithSlash) {
    EXPECT_TRUE(IsAbsolutePath("/"));
    EXPECT_TRUE(IsAbsolutePath("/home/user/a.txt"));
    EXPECT_TRUE(IsAbsolutePath("//double"));
    EXPECT_FALSE(IsAbsolutePath(""));
    EXPECT_FALSE(IsAbsolutePath("a/b.txt"));
    EXPECT_FALSE(IsAbsolutePath("./a"));
    EXPECT_FALSE(IsAbsolutePath("../a"));
    EXPECT_FALSE(IsAbsolutePath("~/a"));
    EXPECT_FALSE(IsAbsolutePath("C:\\data\\a.txt"));
    EXPECT_FALSE(IsAbsolutePath(" /a"));
}

TEST(AbsolutePath, CheckReturnsThePathOrRaisesPathError) {
    EXPECT_EQ(CheckAbsolutePath("/a/b"), "/a/b");
    // "*" and "?" are plain name characters: no pattern check.
    EXPECT_EQ(CheckAbsolutePath("/a/file?.txt"), "/a/file?.txt");
    EXPECT_EQ(CheckAbsolutePath("/a/*"), "/a/*");
    try {
        CheckAbsolutePath("a/b.txt");
        FAIL() << "no error";
    } catch (const EPathError& error) {
        EXPECT_EQ(error.Message(), "The path is not in absolute form.");
    }
    EXPECT_THROW(CheckAbsolutePath(""), EPathError);
    // EPathError is a kind of EFileError, which the entry producer catches.
    EXPECT_THROW(CheckAbsolutePath("x"), EFileError);
}

// ---------------------------------------------------------------------------------
// Existence

TEST(PathExists, FilesDirectoriesAndLinks) {
    TTempDir dir;
    WriteFile(dir / "a.txt");
    MakeDir(dir / "sub");
    ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "dangling").c_str()), 0);
    EXPECT_TRUE(PathExists(dir / "a.txt"));
    EXPECT_TRUE(PathExists(dir / "sub"));
    EXPECT_TRUE(PathExists(dir.Path));
    EXPECT_TRUE(PathExists(dir / "dangling")); // the link itself is there
    EXPECT_FALSE(PathExists(dir / "gone"));
    EXPECT_FALSE(PathExists(""));
    // A NUL ends no path early: the text names no file, not the existing a.txt.
    EXPECT_FALSE(PathExists(dir / std::string("a.txt\0.bak", 10)));
    EXPECT_FALSE(PathExists(dir / "file?*.txt"));
    WriteFile(dir / "file?*.txt");
    EXPECT_TRUE(PathExists(dir / "file?*.txt"));
}

// ---------------------------------------------------------------------------------
// Long path

TEST(GetLongPath, ResolvesLinksDotsAndDoubleDots) {
    TTempDir dir;
    MakeDir(dir / "real");
    MakeDir(dir / "real/sub");
    WriteFile(dir / "real/sub/file.txt");
    ASSERT_EQ(symlink((dir / "real").c_str(), (dir / "link").c_str()), 0);
    ASSERT_EQ(symlink("file.txt", (dir / "real/sub/filelink").c_str()), 0);

    const std::string canonical = dir / "real/sub/file.txt";
    EXPECT_EQ(GetLongPath(canonical), canonical);
    EXPECT_EQ(GetLongPath(dir / "link/sub/file.txt"), canonical);
    EXPECT_EQ(GetLongPath(dir / "real/./sub/../sub/./file.txt"), canonical);
    EXPECT_EQ(GetLongPath(dir / "link/sub/filelink"), canonical);
    EXPECT_EQ(GetLongPath(dir.Path + "//real///sub//file.txt"), canonical);
    EXPECT_EQ(GetLongPath(dir / "link/sub/.."), dir / "real");
    EXPECT_EQ(GetLongPath(dir / "real/sub/"), dir / "real/sub");
    EXPECT_EQ(GetLongPath("/"), "/");
}

TEST(GetLongPath, RelativePathsResolveAgainstTheCurrentDirectory) {
    TTempDir dir;
    WriteFile(dir / "a.txt");
    MakeDir(dir / "sub");
    const std::string saved = fs::current_path().string();
    ASSERT_EQ(chdir(dir.Path.c_str()), 0);
    std::string plain;
    std::string dotted;
    EXPECT_NO_THROW(plain = GetLongPath("a.txt"));
    EXPECT_NO_THROW(dotted = GetLongPath("./sub/../a.txt"));
    // ".." after a component that does not exist is no path (it is not removed as text).
    EXPECT_THROW(GetLongPath("missing/../a.txt"), EFileError);
    ASSERT_EQ(chdir(saved.c_str()), 0);
    EXPECT_EQ(plain, dir / "a.txt");
    EXPECT_EQ(dotted, dir / "a.txt");
}

TEST(GetLongPath, FailsForMissingPathsWithItsOwnMessage) {
    TTempDir dir;
    WriteFile(dir / "a.txt");
    ASSERT_EQ(symlink((dir / "gone").c_str(), (dir / "dangling").c_str()), 0);
    const std::vector<std::string> bad = {
        dir / "missing.txt",
        dir / "missing/a.txt",
        dir / "dangling",
        dir / "a.txt/", // a file is no directory
        dir / "a.txt/x",
        "",
        dir / std::string("a.txt\0z", 7), // never the shorter name before the NUL
    };
    for (const auto& path : bad) {
        try {
            GetLongPath(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const EFileError& error) {
            EXPECT_EQ(error.Message(), "The program could not get the long path of the file.");
        }
    }
}

// A deep folder (its path longer than the system takes in one call) with a file "deep"
// holding "deep content" and, beside it, a folder "sub", a link "link" to "deep" and a
// link "out" to the absolute path of a short file "short" in root.
struct TDeepTree {
    explicit TDeepTree(const TTempDir& dir) {
        File = TestFiles::MakeDeepFile(dir.Path, 4200, "deep content");
        Folder = File.substr(0, File.size() - 5);
        Short = dir / "short";
        WriteFile(Short, "short");
        int error = 0;
        const auto folder = TDirectory::Open(Folder, error);
        if (!folder || ::mkdirat(folder->Descriptor(), "sub", 0755) != 0 ||
            ::symlinkat("deep", folder->Descriptor(), "link") != 0 ||
            ::symlinkat(Short.c_str(), folder->Descriptor(), "out") != 0)
            throw std::runtime_error("cannot fill the deep folder");
    }
    std::string File, Folder, Short;
};

TEST(GetLongPath, APathLongerThanTheSystemTakesIsResolvedComponentByComponent) {
    TTempDir dir;
    const TDeepTree tree(dir);
    ASSERT_GT(tree.File.size(), std::size_t{PATH_MAX});
    EXPECT_EQ(GetLongPath(tree.File), tree.File);
    EXPECT_EQ(GetLongPath(tree.Folder + "/./sub/../sub//..///deep"), tree.File);
    EXPECT_EQ(GetLongPath(tree.Folder + "/link"), tree.File);
    // An absolute link starts again at the root.
    EXPECT_EQ(GetLongPath(tree.Folder + "/out"), tree.Short);
    EXPECT_EQ(GetLongPath(tree.Folder + "/sub/"), tree.Folder + "/sub");
    // Relative to the current directory.
    const std::string saved = fs::current_path().string();
    ASSERT_EQ(::chdir(dir.Path.c_str()), 0);
    std::string relative;
    EXPECT_NO_THROW(relative = GetLongPath(tree.File.substr(dir.Path.size() + 1)));
    ASSERT_EQ(::chdir(saved.c_str()), 0);
    EXPECT_EQ(relative, tree.File);
    for (const std::string& bad : {tree.Folder + "/missing", tree.Folder + "/deep/",
                                   tree.Folder + "/deep/x", tree.Folder + "/missing/../deep"})
        EXPECT_THROW(GetLongPath(bad), EFileError) << bad.substr(bad.size() - 20);
}

TEST(HomeFolder, AnAbsoluteHomeVariableElseTheUserDatabase) {
    const char* saved = std::getenv("HOME");
    const std::string before = saved ? saved : "";
    ASSERT_EQ(::setenv("HOME", "/somewhere/else", 1), 0);
    EXPECT_EQ(Kiv_files::HomeFolder(), "/somewhere/else");
    // A relative one names nothing: the user database answers.
    ASSERT_EQ(::setenv("HOME", "relative", 1), 0);
    const std::string fallback = Kiv_files::HomeFolder();
    EXPECT_NE(fallback, "relative");
    EXPECT_TRUE(fallback.empty() || fallback.front() == '/');
    if (saved)
        ::setenv("HOME", before.c_str(), 1);
    else
        ::unsetenv("HOME");
}

TEST(CurrentDirectory, OfAnyLengthAndNothingOnceItIsGone) {
    TTempDir dir;
    const TDeepTree tree(dir);
    const TestFiles::TCurrentDirectoryGuard guard;
    ASSERT_EQ(::chdir(dir.Path.c_str()), 0);
    EXPECT_EQ(CurrentDirectory(), dir.Path);
    // Longer than the system takes in one call: entered folder by folder.
    for (std::size_t start = dir.Path.size() + 1; start < tree.Folder.size();) {
        const std::size_t end = std::min(tree.Folder.find('/', start), tree.Folder.size());
        ASSERT_EQ(::chdir(tree.Folder.substr(start, end - start).c_str()), 0);
        start = end + 1;
    }
    ASSERT_GT(tree.Folder.size(), std::size_t{PATH_MAX});
    EXPECT_EQ(CurrentDirectory(), tree.Folder);
    // Removed while it is the current directory: no answer.
    MakeDir(dir / "gone");
    ASSERT_EQ(::chdir((dir / "gone").c_str()), 0);
    ASSERT_EQ(::rmdir((dir / "gone").c_str()), 0);
    EXPECT_EQ(CurrentDirectory(), std::nullopt);
}

// ---------------------------------------------------------------------------------
// Single records

TEST(GetFindData, FileRecordHasSizeTimesAndName) {
    TTempDir dir;
    const std::string path = dir / "a.txt";
    WriteFile(path, "hello world");
    const timespec times[2] = {{1000000000, 123456789}, {1234567890, 500000000}}; // atime, mtime
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    const TFindData record = GetFindData(path);
    EXPECT_EQ(FindDataAttributes(record), 0u);
    EXPECT_EQ(FindDataSize(record), 11u);
    EXPECT_EQ(FindDataName(record), "a.txt");
    EXPECT_EQ(FileTimeToUInt64(FindDataLastAccessTime(record)), Ticks(1000000000, 123456789));
    EXPECT_EQ(FileTimeToUInt64(FindDataLastWriteTime(record)), Ticks(1234567890, 500000000));
    EXPECT_EQ(FindDataLastWriteTime(record).LowDateTime, record.LastWriteTime.LowDateTime);
    EXPECT_EQ(FindDataLastWriteTime(record).HighDateTime, record.LastWriteTime.HighDateTime);
}

TEST(GetFindData, CreationTimeIsTheBirthTimeOrZero) {
    TTempDir dir;
    const std::string path = dir / "born.txt";
    WriteFile(path);
    struct statx info {};
    ASSERT_EQ(statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, STATX_BTIME, &info), 0);
    const TFindData record = GetFindData(path);
    if (info.stx_mask & STATX_BTIME) {
        EXPECT_EQ(FileTimeToUInt64(FindDataCreationTime(record)),
                  Ticks(info.stx_btime.tv_sec, info.stx_btime.tv_nsec));
        EXPECT_NE(FileTimeToUInt64(FindDataCreationTime(record)), 0u);
    } else {
        EXPECT_EQ(FileTimeToUInt64(FindDataCreationTime(record)), 0u);
    }
}

// The change time is what a rewrite with its last write time set back cannot hide.
TEST(GetFindData, ChangeTimeIsTheNanosecondCtimeAndMovesWithAnyChange) {
    TTempDir dir;
    const std::string path = dir / "c.txt";
    WriteFile(path, "one");
    struct stat info {};
    ASSERT_EQ(stat(path.c_str(), &info), 0);
    const TFindData before = GetFindData(path);
    EXPECT_EQ(before.ChangeTime, static_cast<std::uint64_t>(info.st_ctim.tv_sec) * 1000000000ULL +
                                     static_cast<std::uint64_t>(info.st_ctim.tv_nsec));
    EXPECT_NE(before.ChangeTime, 0u);

    // Rewritten at the same size, last write time put back: only the change time tells.
    const timespec setBack[2] = {info.st_atim, info.st_mtim};
    std::uint64_t after = before.ChangeTime;
    // The kernel stamps change times from a coarse clock: rewrite until a tick has passed.
    for (int attempt = 0; attempt < 1000000 && after == before.ChangeTime; ++attempt) {
        WriteFile(path, "two");
        ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), setBack, 0), 0);
        after = GetFindData(path).ChangeTime;
    }
    const TFindData changed = GetFindData(path);
    EXPECT_EQ(FindDataSize(changed), FindDataSize(before));
    EXPECT_EQ(FileTimeToUInt64(FindDataLastWriteTime(changed)),
              FileTimeToUInt64(FindDataLastWriteTime(before)));
    EXPECT_NE(after, before.ChangeTime);

    TFileEnumerator enumerator(dir / "*");
    const auto records = ListAll(enumerator);
    EXPECT_EQ(records.at("c.txt").ChangeTime, after);
}

TEST(FileTime, UnixTimeToNanoseconds) {
    EXPECT_EQ(UnixTimeToNanoseconds(0, 0), 0u);
    EXPECT_EQ(UnixTimeToNanoseconds(1, 5), 1000000005u);
    EXPECT_EQ(UnixTimeToNanoseconds(-1, 0), 0u);
    EXPECT_EQ(UnixTimeToNanoseconds(2, 2000000000u), 2999999999u);
    EXPECT_EQ(UnixTimeToNanoseconds(INT64_MAX, 0), 0u);
    EXPECT_EQ(UnixTimeToNanoseconds(18446744072, 999999999u), 18446744072999999999ULL);
}

TEST(GetFindData, DirectoryRecordHasTheDirectoryBit) {
    TTempDir dir;
    MakeDir(dir / "sub");
    for (const std::string& path : {dir / "sub", dir / "sub/", dir / "sub//"}) {
        const TFindData record = GetFindData(path);
        EXPECT_EQ(FindDataAttributes(record), faDirectory) << path;
        EXPECT_EQ(FindDataName(record), "sub") << path;
        EXPECT_EQ(FindDataSize(record), 0u);
    }
    EXPECT_EQ(FindDataAttributes(GetFindData("/")) & faDirectory, faDirectory);
    EXPECT_EQ(FindDataName(GetFindData("/")), "/");
}

TEST(GetFindData, MissingPathRaisesFileError) {
    TTempDir dir;
    WriteFile(dir / "a.txt");
    for (const std::string& path :
         {dir / "missing", dir / "a.txt/", std::string(), dir / std::string("a.txt\0", 6)}) {
        try {
            GetFindData(path);
            ADD_FAILURE() << "no error for " << path;
        } catch (const EFileError& error) {
            EXPECT_EQ(error.Message(), "The program could not find the file.");
        }
    }
}

TEST(GetFindData, APathLongerThanTheSystemTakesIsLookedUpThroughItsFolders) {
    TTempDir dir;
    const TDeepTree tree(dir);
    const TFindData file = GetFindData(tree.File);
    EXPECT_EQ(FindDataName(file), "deep");
    EXPECT_EQ(FindDataSize(file), 12u);
    EXPECT_NE(file.Inode, 0u);
    EXPECT_NE(file.ChangeTime, 0u);
    // The link itself, not followed.
    EXPECT_NE(FindDataAttributes(GetFindData(tree.Folder + "/link")) & faSymLink, 0u);
    TFindData missing;
    EXPECT_EQ(FindDataOf(tree.Folder + "/missing", missing), ENOENT);
    EXPECT_THROW(GetFindData(tree.Folder + "/missing"), EFileError);
}

TEST(FileState, TheOpenFileAndItsPathAgreeUntilEitherChanges) {
    TTempDir dir;
    const TDeepTree tree(dir);
    for (const std::string& path : {tree.Short, tree.File}) {
        const int fd = OpenForReading(path);
        ASSERT_GE(fd, 0);
        TFileState opened, named;
        ASSERT_TRUE(GetFileState(fd, opened));
        ASSERT_TRUE(GetFileState(path, named));
        EXPECT_EQ(opened, named);
        EXPECT_TRUE(opened.IsRegular());
        const TFindData record = GetFindData(path);
        EXPECT_EQ(opened.LastWriteTime(), FileTimeToUInt64(FindDataLastWriteTime(record)));
        EXPECT_EQ(opened.ChangeTime(), record.ChangeTime);
        ::close(fd);
    }
    TFileState link;
    ASSERT_TRUE(GetFileState(tree.Folder + "/link", link));
    EXPECT_FALSE(link.IsRegular());
    EXPECT_FALSE(GetFileState(dir / "missing", link));
    EXPECT_EQ(errno, ENOENT);

    // Written in place: the last write time moves (set far back first, so that the write
    // cannot fall into the same clock tick).
    const std::string path = dir / "file";
    WriteFile(path, "before");
    const timespec old[2] = {{1000000000, 0}, {1000000000, 0}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), old, 0), 0);
    const int fd = OpenForReading(path);
    ASSERT_GE(fd, 0);
    TFileState before, after;
    ASSERT_TRUE(GetFileState(fd, before));
    const int writer = ::open(path.c_str(), O_WRONLY);
    ASSERT_EQ(::pwrite(writer, "B", 1, 0), 1);
    ::close(writer);
    ASSERT_TRUE(GetFileState(fd, after));
    EXPECT_NE(before, after);
    EXPECT_EQ(before.Size, after.Size);
    // Another file renamed over the name: the path names another inode.
    WriteFile(dir / "other", "before");
    ASSERT_EQ(::rename((dir / "other").c_str(), path.c_str()), 0);
    TFileState named;
    ASSERT_TRUE(GetFileState(path, named));
    EXPECT_NE(named.Inode, after.Inode);
    ::close(fd);
}

TEST(GetFindData, LinksAndSpecialFilesCarryTheirMarkers) {
    TTempDir dir;
    MakeDir(dir / "sub");
    WriteFile(dir / "a.txt", "abc");
    ASSERT_EQ(symlink("sub", (dir / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink("a.txt", (dir / "filelink").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    MakeSocket(dir / "sock");

    // A link is not followed: no directory bit even when it points at one.
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "dirlink")), faSymLink);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "filelink")), faSymLink);
    EXPECT_EQ(FindDataSize(GetFindData(dir / "filelink")), 0u);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "fifo")), faDevice);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "sock")) & ~faReadOnly, faDevice);
    EXPECT_EQ(FindDataAttributes(GetFindData("/dev/null")) & faDevice, faDevice);
    EXPECT_EQ(FindDataSize(GetFindData("/dev/null")), 0u);
}

TEST(GetFindData, SizesAboveFourGibibytes) {
    TTempDir dir;
    const std::string path = dir / "big.bin";
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(fd, 0);
    const off_t size = (5LL << 30) + 7; // sparse: no blocks are written
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
    const TFindData record = GetFindData(path);
    EXPECT_EQ(FindDataSize(record), static_cast<std::uint64_t>(size));
    EXPECT_EQ(record.FileSizeHigh, 1u);
    EXPECT_EQ(record.FileSizeLow, (1u << 30) + 7);
}

TEST(FindData, SizeJoinsTheHalves) {
    TFindData record{};
    record.FileSizeHigh = 1;
    record.FileSizeLow = 0;
    EXPECT_EQ(FindDataSize(record), 4294967296ULL);
    record.FileSizeHigh = 0xFFFFFFFF;
    record.FileSizeLow = 0xFFFFFFFF;
    EXPECT_EQ(FindDataSize(record), 0xFFFFFFFFFFFFFFFFULL);
}

TEST(FindData, AttributeMask) {
    TTempDir dir;
    WriteFile(dir / "plain", "x", 0644);
    WriteFile(dir / ".hidden", "x", 0644);
    WriteFile(dir / "readonly", "x", 0444);
    WriteFile(dir / ".both", "x", 0400);
    WriteFile(dir / "ownerwrite", "x", 0200);
    WriteFile(dir / "otherswrite", "x", 0466); // group and others may write, the owner not
    MakeDir(dir / ".hiddendir");
    MakeDir(dir / "readonlydir", 0555);
    // Tests run as root, who may write anyway: the bits follow the mode, not access().
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "plain")), 0u);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / ".hidden")), faHidden);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "readonly")), faReadOnly);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / ".both")), faReadOnly | faHidden);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "ownerwrite")), 0u);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "otherswrite")), faReadOnly);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / ".hiddendir")), faDirectory | faHidden);
    EXPECT_EQ(FindDataAttributes(GetFindData(dir / "readonlydir")), faDirectory | faReadOnly);
    chmod((dir / "readonlydir").c_str(), 0755);
    // No system, archive or normal bit ever.
    for (const char* name : {"plain", ".hidden", "readonly", ".both"})
        EXPECT_EQ(FindDataAttributes(GetFindData(dir / name)) & (faSystem | faArchive | faNormal),
                  0u);
}

TEST(FileTime, UnixTimeConversion) {
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(0, 0)), 116444736000000000ULL);
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(1, 999)), 116444736010000009ULL);
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(-11644473600LL, 0)), 0u);
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(-11644473601LL, 0)), 0u); // before 1601
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(-1, 0)), 116444735990000000ULL);
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(INT64_MAX, 0)),
              static_cast<std::uint64_t>(INT64_MAX));
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(INT64_MIN, 0)), 0u);
    // The last second that fits, and the first that does not.
    const std::int64_t last = 922337203684LL - 11644473600LL;
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(last, 999999999)), 9223372036849999999ULL);
    EXPECT_EQ(FileTimeToUInt64(UnixTimeToFileTime(last + 1, 0)),
              static_cast<std::uint64_t>(INT64_MAX));
    const TFileTime t = UInt64ToFileTime(0x0123456789ABCDEFULL);
    EXPECT_EQ(t.LowDateTime, 0x89ABCDEFu);
    EXPECT_EQ(t.HighDateTime, 0x01234567u);
    EXPECT_EQ(FileTimeToUInt64(t), 0x0123456789ABCDEFULL);
}

// ---------------------------------------------------------------------------------
// Enumeration

TEST(FileEnumerator, PatternHelper) {
    EXPECT_EQ(DirectoryPattern("/a/b"), "/a/b/*");
    EXPECT_EQ(DirectoryPattern("/a/b/"), "/a/b/*");
    EXPECT_EQ(DirectoryPattern("/"), "/*");
    TFileEnumerator enumerator("/a/*");
    EXPECT_EQ(enumerator.Pattern(), "/a/*");
}

TEST(FileEnumerator, ListsEveryNameOnceWithDotAndDotDot) {
    TTempDir dir;
    const std::string special = std::string("st*r?q\xff\xfe") + ".txt";
    WriteFile(dir / "a.txt", "12345");
    WriteFile(dir / "B.TXT");
    WriteFile(dir / "b.txt");
    WriteFile(dir / ".hidden");
    WriteFile(dir / special, "123");
    WriteFile(dir / "*");
    MakeDir(dir / "sub");
    WriteFile(dir / "sub/inner.txt"); // no recursion: not listed
    ASSERT_EQ(symlink("a.txt", (dir / "filelink").c_str()), 0);
    ASSERT_EQ(symlink("sub", (dir / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere", (dir / "dangling").c_str()), 0);
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0644), 0);
    MakeSocket(dir / "sock");

    TFileEnumerator enumerator(DirectoryPattern(dir.Path));
    const auto records = ListAll(enumerator);
    const std::set<std::string> expected = {".",       "..",       "a.txt", "B.TXT", "b.txt",
                                            ".hidden", special,    "*",     "sub",   "filelink",
                                            "dirlink", "dangling", "fifo",  "sock"};
    EXPECT_EQ(Names(records), expected);

    EXPECT_EQ(FindDataAttributes(records.at(".")), faDirectory | faHidden);
    EXPECT_EQ(FindDataAttributes(records.at("..")) & faDirectory, faDirectory);
    EXPECT_EQ(FindDataAttributes(records.at("a.txt")), 0u);
    EXPECT_EQ(FindDataSize(records.at("a.txt")), 5u);
    EXPECT_EQ(FindDataAttributes(records.at(".hidden")), faHidden);
    EXPECT_EQ(FindDataAttributes(records.at("sub")), faDirectory);
    EXPECT_EQ(FindDataAttributes(records.at("filelink")), faSymLink);
    EXPECT_EQ(FindDataAttributes(records.at("dirlink")), faSymLink); // never followed
    EXPECT_EQ(FindDataAttributes(records.at("dangling")), faSymLink);
    EXPECT_EQ(FindDataAttributes(records.at("fifo")), faDevice);
    EXPECT_EQ(FindDataAttributes(records.at("sock")) & faDevice, faDevice);

    // The name with "*", "?" and bytes that are no UTF-8 arrives byte for byte.
    const TFindData& odd = records.at(special);
    EXPECT_EQ(std::string(odd.FileName), special);
    EXPECT_EQ(FindDataSize(odd), 3u);
    EXPECT_EQ(FindDataAttributes(odd), 0u);
}

TEST(FileEnumerator, RecordTimesMatchTheSingleLookup) {
    TTempDir dir;
    WriteFile(dir / "t.txt");
    const timespec times[2] = {{1500000000, 100}, {1600000000, 987654321}};
    ASSERT_EQ(utimensat(AT_FDCWD, (dir / "t.txt").c_str(), times, 0), 0);
    TFileEnumerator enumerator(DirectoryPattern(dir.Path));
    const auto records = ListAll(enumerator);
    const TFindData listed = records.at("t.txt");
    const TFindData single = GetFindData(dir / "t.txt");
    EXPECT_EQ(FileTimeToUInt64(FindDataLastWriteTime(listed)), Ticks(1600000000, 987654321));
    EXPECT_EQ(FileTimeToUInt64(FindDataLastAccessTime(listed)), Ticks(1500000000, 100));
    EXPECT_EQ(FindDataCreationTime(listed), FindDataCreationTime(single));
    EXPECT_EQ(FindDataAttributes(listed), FindDataAttributes(single));
}

TEST(FileEnumerator, EmptyDirectoryHoldsOnlyTheDotEntries) {
    TTempDir dir;
    TFileEnumerator enumerator(DirectoryPattern(dir.Path));
    EXPECT_EQ(Names(ListAll(enumerator)), (std::set<std::string>{".", ".."}));
    EXPECT_FALSE(enumerator.MoveNext());
    EXPECT_FALSE(enumerator.MoveNext());
}

TEST(FileEnumerator, MissingOrNonDirectoryEndsAtOnce) {
    TTempDir dir;
    WriteFile(dir / "file.txt");
    for (const std::string& pattern :
         {DirectoryPattern(dir / "missing"), DirectoryPattern(dir / "file.txt"), std::string("/*/"),
          std::string("*"), std::string(), dir.Path + std::string("\0/*", 3)}) {
        TFileEnumerator enumerator(pattern);
        EXPECT_FALSE(enumerator.MoveNext()) << pattern;
        EXPECT_FALSE(enumerator.MoveNext()) << pattern;
        enumerator.Reset();
        EXPECT_FALSE(enumerator.MoveNext()) << pattern;
    }
}

TEST(FileEnumerator, ResetStartsAgain) {
    TTempDir dir;
    for (int i = 0; i < 50; ++i)
        WriteFile(dir / ("f" + std::to_string(i)));
    TFileEnumerator enumerator(DirectoryPattern(dir.Path));
    const auto first = Names(ListAll(enumerator));
    EXPECT_EQ(first.size(), 52u);
    EXPECT_FALSE(enumerator.MoveNext()); // finished stays finished
    enumerator.Reset();
    EXPECT_EQ(Names(ListAll(enumerator)), first);
    // Reset in the middle of a listing.
    enumerator.Reset();
    for (int i = 0; i < 10; ++i)
        ASSERT_TRUE(enumerator.MoveNext());
    enumerator.Reset();
    EXPECT_EQ(Names(ListAll(enumerator)), first);
    // A listing started afresh sees a file created since.
    WriteFile(dir / "later");
    enumerator.Reset();
    EXPECT_EQ(Names(ListAll(enumerator)).count("later"), 1u);
}

TEST(FileEnumerator, PatternForms) {
    TTempDir dir;
    WriteFile(dir / "a");
    MakeDir(dir / "*");
    WriteFile(dir / "*/inside");
    const std::set<std::string> top = {".", "..", "a", "*"};
    for (const std::string& pattern : {dir.Path + "/*", dir.Path, dir.Path + "/"}) {
        TFileEnumerator enumerator(pattern);
        EXPECT_EQ(Names(ListAll(enumerator)), top) << pattern;
    }
    // Only the final "/*" asks for the listing: a directory named "*" is listed like any other.
    TFileEnumerator star(dir.Path + "/*/*");
    EXPECT_EQ(Names(ListAll(star)), (std::set<std::string>{".", "..", "inside"}));
    // "*.txt" is no wildcard either: here it names a directory that does not exist.
    TFileEnumerator txt(dir.Path + "/*.txt");
    EXPECT_FALSE(txt.MoveNext());
    // The root.
    TFileEnumerator root("/*");
    const auto names = Names(ListAll(root));
    EXPECT_EQ(names.count("."), 1u);
    EXPECT_EQ(names.count(".."), 1u);
    EXPECT_GE(names.size(), 3u);
}

TEST(FileEnumerator, CurrentIsACopy) {
    TTempDir dir;
    WriteFile(dir / "only");
    TFileEnumerator enumerator(DirectoryPattern(dir.Path));
    ASSERT_TRUE(enumerator.MoveNext());
    TFindData copy = enumerator.Current();
    const std::string name = FindDataName(copy);
    copy.FileName[0] = '#';
    copy.FileAttributes = 0xFFFF;
    EXPECT_EQ(FindDataName(enumerator.Current()), name);
    EXPECT_NE(FindDataAttributes(enumerator.Current()), 0xFFFFu);
}

TEST(FileEnumerator, ClosesTheDirectoryInEveryState) {
    TTempDir dir;
    for (int i = 0; i < 5; ++i)
        WriteFile(dir / ("f" + std::to_string(i)));
    const int before = OpenDescriptorCount();
    {
        TFileEnumerator enumerator(DirectoryPattern(dir.Path));
        ASSERT_TRUE(enumerator.MoveNext());
        EXPECT_EQ(OpenDescriptorCount(), before + 1);
    } // destroyed while searching
    EXPECT_EQ(OpenDescriptorCount(), before);
    {
        TFileEnumerator enumerator(DirectoryPattern(dir.Path));
        ListAll(enumerator); // finished: closed at the end
        EXPECT_EQ(OpenDescriptorCount(), before);
        enumerator.Reset();
        ASSERT_TRUE(enumerator.MoveNext());
        enumerator.Reset(); // reset while searching
        EXPECT_EQ(OpenDescriptorCount(), before);
    }
    { TFileEnumerator neverStarted(DirectoryPattern(dir.Path)); }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

// ---------------------------------------------------------------------------------
// ExcludeLeadingChars

TEST(ExcludeLeadingChars, RemovesOnlyLeadingOccurrences) {
    EXPECT_EQ(ExcludeLeadingChars("..txt", '.'), "txt");
    EXPECT_EQ(ExcludeLeadingChars("txt", '.'), "txt");
    EXPECT_EQ(ExcludeLeadingChars("", '.'), "");
    EXPECT_EQ(ExcludeLeadingChars("....", '.'), "");
    EXPECT_EQ(ExcludeLeadingChars(".a.b.", '.'), "a.b.");
    // Compared as file names, which on Linux means byte for byte.
    EXPECT_EQ(ExcludeLeadingChars("aaA", 'a'), "A");
    EXPECT_EQ(ExcludeLeadingChars("Aaa", 'a'), "Aaa");
}

// ---------------------------------------------------------------------------------
// TPathList

namespace {

TPathList SortedIgnoringDuplicates() {
    TPathList list;
    list.Sorted = true;
    list.Duplicates = TPathList::TDuplicates::dupIgnore;
    return list;
}

void* Tag(int n) {
    return reinterpret_cast<void*>(static_cast<std::intptr_t>(n));
}

} // namespace

TEST(PathList, CaseCountsLikeTheFileSystem) {
    TPathList list = SortedIgnoringDuplicates();
    EXPECT_TRUE(Kiv_strings::AddIfAbsent(list, "/a/read.me", Tag(1)));
    EXPECT_TRUE(Kiv_strings::AddIfAbsent(list, "/a/Read.me", Tag(2)));
    EXPECT_FALSE(Kiv_strings::AddIfAbsent(list, "/a/read.me", Tag(3)));
    EXPECT_FALSE(Kiv_strings::AddIfAbsent(list, "/a/Read.me", Tag(4)));
    ASSERT_EQ(list.Count(), 2);
    // Byte order: "R" (0x52) before "r" (0x72).
    EXPECT_EQ(list[0], "/a/Read.me");
    EXPECT_EQ(list[1], "/a/read.me");
    // The first one added stays, with its object.
    EXPECT_EQ(list.Objects(0), Tag(2));
    EXPECT_EQ(list.Objects(1), Tag(1));
    int index = -1;
    EXPECT_TRUE(list.Find("/a/read.me", index));
    EXPECT_EQ(index, 1);
    EXPECT_FALSE(list.Find("/a/READ.ME", index));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(list.IndexOf("/a/READ.ME"), -1);
    // The base's CaseSensitive field changes nothing.
    list.CaseSensitive = false;
    EXPECT_TRUE(Kiv_strings::AddIfAbsent(list, "/a/READ.ME"));
    EXPECT_EQ(list.Count(), 3);
}

TEST(PathList, ByteOrderOfNonAsciiNames) {
    TPathList list = SortedIgnoringDuplicates();
    list.Add("/a/\xff");
    list.Add("/a/\xc3\xa4"); // ä
    list.Add("/a/z");
    list.Add("/a/\xc3\x84"); // Ä: another name than ä
    EXPECT_EQ(list.Lines(),
              (std::vector<std::string>{"/a/z", "/a/\xc3\x84", "/a/\xc3\xa4", "/a/\xff"}));
}

TEST(PathList, AddReturnsTheIndex) {
    TPathList list = SortedIgnoringDuplicates();
    EXPECT_EQ(list.Add("/m"), 0);
    EXPECT_EQ(list.Add("/z"), 1);
    EXPECT_EQ(list.Add("/a"), 0);
    EXPECT_EQ(list.Add("/m"), 1); // ignored duplicate: the index of the line there
    EXPECT_EQ(list.Count(), 3);
    TPathList plain;
    EXPECT_EQ(plain.Add("/z"), 0);
    EXPECT_EQ(plain.Add("/a"), 1);
    EXPECT_EQ(plain.Add("/a"), 2); // an unsorted list takes duplicates
    EXPECT_EQ(plain.IndexOf("/a"), 1);
    EXPECT_EQ(plain.Lines(), (std::vector<std::string>{"/z", "/a", "/a"}));
}

TEST(PathList, AcceptsDuplicatesWhenAsked) {
    TPathList list;
    list.Sorted = true;
    list.Add("/b", Tag(1));
    list.Add("/a");
    list.Add("/b", Tag(2));
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"/a", "/b", "/b"}));
    int index = 0;
    EXPECT_TRUE(list.Find("/b", index));
    EXPECT_EQ(index, 1); // the first of the equal lines
}

TEST(PathList, BecomesSortedOnDemand) {
    TPathList list;
    list.Add("/c", Tag(3));
    list.Add("/a", Tag(1));
    list.Add("/b", Tag(2));
    list.Add("/a", Tag(4));
    EXPECT_EQ(list[0], "/c");
    list.Sorted = true; // as the collection does: fill, then sort, then search
    int index = -1;
    EXPECT_TRUE(list.Find("/b", index));
    EXPECT_EQ(index, 2);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"/a", "/a", "/b", "/c"}));
    EXPECT_EQ(list.Objects(0), Tag(1)); // stable: equal lines keep their order
    EXPECT_EQ(list.Objects(1), Tag(4));
    list.Delete(2);
    EXPECT_FALSE(list.Find("/b", index));
    EXPECT_EQ(list.Count(), 3);

    TPathList explicitSort;
    explicitSort.Add("/y");
    explicitSort.Add("/x");
    explicitSort.Sort();
    EXPECT_EQ(explicitSort.Lines(), (std::vector<std::string>{"/x", "/y"}));
}

TEST(PathList, IndexChecksAndClear) {
    TPathList list = SortedIgnoringDuplicates();
    EXPECT_THROW(list[0], Kiv_framework::ERangeError);
    list.Add("/a");
    EXPECT_THROW(list[1], Kiv_framework::ERangeError);
    EXPECT_THROW(list[-1], Kiv_framework::ERangeError);
    EXPECT_THROW(list.Objects(1), Kiv_framework::ERangeError);
    EXPECT_THROW(list.Delete(1), Kiv_framework::ERangeError);
    list.SetCapacity(1000);
    list.Clear();
    EXPECT_EQ(list.Count(), 0);
    int index = -1;
    EXPECT_FALSE(list.Find("/a", index));
    EXPECT_EQ(index, 0);
    EXPECT_EQ(list.Add("/b"), 0);
}

TEST(PathList, CopiesAreIndependent) {
    TPathList list = SortedIgnoringDuplicates();
    for (int i = 0; i < 2000; ++i)
        list.Add("/p/" + std::to_string(i));
    TPathList copy = list;
    copy.Delete(0);
    copy.Add("/new");
    EXPECT_EQ(list.Count(), 2000);
    EXPECT_EQ(copy.Count(), 2000);
    EXPECT_EQ(list.IndexOf("/new"), -1);
    EXPECT_NE(copy.IndexOf("/new"), -1);
}

// The same operations on the framework's plain string list (case-sensitive) give the same
// results; many lines, so that the blocks split and empty again.
TEST(PathList, SortedListMatchesTheFrameworkList) {
    std::mt19937 random(12345);
    TPathList list = SortedIgnoringDuplicates();
    Kiv_framework::TStringList reference;
    reference.Sorted = true;
    reference.CaseSensitive = true;
    reference.Duplicates = Kiv_framework::TStringList::TDuplicates::dupIgnore;
    const auto randomPath = [&] {
        return "/data/" + std::to_string(random() % 6000) + (random() % 2 ? "/A" : "/a");
    };
    for (int step = 0; step < 30000; ++step) {
        const unsigned op = random() % 10;
        if (op < 6) {
            const std::string path = randomPath();
            void* object = Tag(step);
            ASSERT_EQ(list.Add(path, object), reference.Add(path, object)) << step;
        } else if (op < 8 && reference.Count() > 0) {
            const int index = static_cast<int>(random() % static_cast<unsigned>(reference.Count()));
            list.Delete(index);
            reference.Delete(index);
        } else {
            const std::string path = randomPath();
            int a = -1;
            int b = -2;
            ASSERT_EQ(list.Find(path, a), reference.Find(path, b)) << step;
            ASSERT_EQ(a, b) << step;
            ASSERT_EQ(list.IndexOf(path), reference.IndexOf(path)) << step;
        }
        ASSERT_EQ(list.Count(), reference.Count()) << step;
        if (reference.Count() > 0 && step % 97 == 0) {
            const int index = static_cast<int>(random() % static_cast<unsigned>(reference.Count()));
            ASSERT_EQ(list[index], reference[index]);
            ASSERT_EQ(list.Objects(index), reference.Objects(index));
        }
    }
    EXPECT_EQ(list.Lines(), reference.Lines());
    // Delete everything from the front, then from the back.
    while (reference.Count() > 0) {
        const int index = reference.Count() % 2 ? 0 : reference.Count() - 1;
        list.Delete(index);
        reference.Delete(index);
        ASSERT_EQ(list.Count(), reference.Count());
    }
    EXPECT_EQ(list.Add("/again"), 0);
}

TEST(PathList, UnsortedListMatchesTheFrameworkList) {
    std::mt19937 random(777);
    TPathList list;
    Kiv_framework::TStringList reference;
    reference.CaseSensitive = true;
    for (int step = 0; step < 20000; ++step) {
        const unsigned op = random() % 10;
        const std::string path = "/u/" + std::to_string(random() % 3000);
        if (op < 6) {
            ASSERT_EQ(list.Add(path, Tag(step)), reference.Add(path, Tag(step)));
        } else if (op < 7 && reference.Count() > 0) {
            const int index = static_cast<int>(random() % static_cast<unsigned>(reference.Count()));
            list.Delete(index);
            reference.Delete(index);
        } else if (op < 8) {
            ASSERT_EQ(list.IndexOf(path), reference.IndexOf(path));
        } else if (reference.Count() > 0) {
            const int index = static_cast<int>(random() % static_cast<unsigned>(reference.Count()));
            ASSERT_EQ(list[index], reference[index]);
            ASSERT_EQ(list.Objects(index), reference.Objects(index));
        }
    }
    EXPECT_EQ(list.Lines(), reference.Lines());
    // Sorting afterwards gives the sorted lines.
    std::vector<std::string> sorted = reference.Lines();
    std::stable_sort(sorted.begin(), sorted.end());
    list.Sorted = true;
    EXPECT_EQ(list.Lines(), sorted);
}

TEST(PathList, WorksThroughAReferenceToTheFrameworkList) {
    TPathList paths;
    paths.Sorted = true;
    paths.Duplicates = Kiv_framework::TStringList::TDuplicates::dupIgnore;
    Kiv_framework::TStringList& list = paths;
    list.Add("/b");
    list.Add("/a");
    list.Add("/b");
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "/a");
    int index = -1;
    EXPECT_TRUE(list.Find("/b", index));
    EXPECT_EQ(index, 1);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"/a", "/b"}));
}
