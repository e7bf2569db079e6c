#include "Kiv_shellfiles.h"
#include "TestFiles.h"

#include <QMimeDatabase>
#include <QMimeType>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

using namespace Kiv_shellfiles;
namespace fs = std::filesystem;

namespace {

using TestFiles::TTempDir;

void Touch(const std::string& path) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    close(fd);
}

std::string Comment(const char* mimeType) {
    return QMimeDatabase().mimeTypeForName(QString::fromLatin1(mimeType)).comment().toStdString();
}

// A stand-in shell that records every question and answers with a text made of it:
// "dir" for directories, "type of " plus the path's last dot-part otherwise.
struct TCountingShell {
    std::vector<std::pair<std::string, bool>> Calls;
    bool Fail = false;

    TShellTypeNameFunction Function() {
        return [this](const std::string& path, bool asDirectory) -> std::string {
            Calls.emplace_back(path, asDirectory);
            if (Fail)
                throw EShellFileError("The program could not get the file type.");
            if (asDirectory)
                return "dir";
            const auto slash = path.rfind('/');
            const auto dot = path.rfind('.');
            return "type of " + (dot == std::string::npos || dot < slash ? std::string("(none)")
                                                                         : path.substr(dot));
        };
    }
    int FileCalls() const {
        int n = 0;
        for (const auto& call : Calls)
            n += call.second ? 0 : 1;
        return n;
    }
    int DirectoryCalls() const { return static_cast<int>(Calls.size()) - FileCalls(); }
};

std::string CurrentDirectory() {
    return fs::current_path().string();
}

} // namespace

// ---------------------------------------------------------------------------------
// The real shell: the shared MIME database

TEST(ShellTypeName, TextFileGivesThePlainTextComment) {
    const std::string name = GetShellTypeName("/nowhere/readme.txt", false);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name, Comment("text/plain"));
    // Only the name counts: no such file is needed, and case does not change the glob.
    EXPECT_EQ(GetShellTypeName("/nowhere/README.TXT", false), name);
    EXPECT_EQ(GetShellTypeName("relative.txt", false), name);
}

TEST(ShellTypeName, DirectoriesGiveTheFolderComment) {
    const std::string name = GetShellTypeName("/", true);
    EXPECT_FALSE(name.empty());
    EXPECT_EQ(name, Comment("inode/directory"));
    EXPECT_EQ(GetShellTypeName("/nowhere/at/all.txt", true), name);
}

TEST(ShellTypeName, OtherNames) {
    EXPECT_EQ(GetShellTypeName("/x/photo.png", false), Comment("image/png"));
    // No known extension: the default type's comment, never an empty text.
    EXPECT_EQ(GetShellTypeName("/x/no-extension-here", false), Comment("application/octet-stream"));
    EXPECT_FALSE(GetShellTypeName("/x/name.", false).empty());
    // A name that is not UTF-8 is matched with replacement characters for its bad bytes.
    EXPECT_EQ(GetShellTypeName(std::string("/x/caf\xe9.txt"), false), Comment("text/plain"));
    EXPECT_EQ(GetShellTypeName(std::string("/\xff\xfe/a.txt"), false), Comment("text/plain"));
}

TEST(ShellTypeName, ARealCacheUsesTheDatabase) {
    TTempDir dir;
    Touch(dir / "a.txt");
    TFileTypeCache cache;
    EXPECT_EQ(cache.GetTypeName(dir / "a.txt"), Comment("text/plain"));
    EXPECT_EQ(cache.GetTypeName(dir.Path), Comment("inode/directory"));
}

// ---------------------------------------------------------------------------------
// The cache, with a counting stand-in shell

TEST(FileTypeCache, OneLookupPerUpperCasedExtension) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    EXPECT_EQ(cache.GetFileTypeName("/d/a.txt"), "type of .txt");
    EXPECT_EQ(cache.GetFileTypeName("/e/B.TXT"), "type of .txt"); // the first path fixed it
    EXPECT_EQ(cache.GetFileTypeName("/f/c.Txt"), "type of .txt");
    EXPECT_EQ(shell.FileCalls(), 1);
    ASSERT_EQ(shell.Calls.size(), 1u);
    EXPECT_EQ(shell.Calls[0].first, "/d/a.txt");
    EXPECT_FALSE(shell.Calls[0].second);
    EXPECT_EQ(cache.GetFileTypeName("/d/x.png"), "type of .png");
    EXPECT_EQ(cache.GetFileTypeName("/d/y.PNG"), "type of .png");
    EXPECT_EQ(shell.FileCalls(), 2);
    EXPECT_EQ(cache.ExtensionCount(), 2);
}

TEST(FileTypeCache, NoExtensionAndALoneDotAreTwoKeys) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    EXPECT_EQ(cache.GetFileTypeName("/d/Makefile"), "type of (none)");
    EXPECT_EQ(cache.GetFileTypeName("/d/README"), "type of (none)");
    EXPECT_EQ(cache.GetFileTypeName("/d.dir/plain"),
              "type of (none)"); // a dot of the directory counts not
    EXPECT_EQ(shell.FileCalls(), 1);
    EXPECT_EQ(cache.GetFileTypeName("/d/ends."), "type of .");
    EXPECT_EQ(cache.GetFileTypeName("/d/other."), "type of .");
    EXPECT_EQ(shell.FileCalls(), 2);
    EXPECT_EQ(cache.ExtensionCount(), 2);
}

TEST(FileTypeCache, KeyIsTheLastExtensionOfTheName) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    cache.GetFileTypeName("/d/archive.tar.gz");
    cache.GetFileTypeName("/d/other.GZ");
    cache.GetFileTypeName("/d/.bashrc");
    cache.GetFileTypeName("/d/x.BashRC");
    EXPECT_EQ(shell.FileCalls(), 2);
    // Upper-casing follows Unicode for UTF-8 names (ä and Ä share a key) and keeps other
    // bytes as they are.
    cache.GetFileTypeName("/d/x.\xc3\xa4");
    cache.GetFileTypeName("/d/y.\xc3\x84");
    EXPECT_EQ(shell.FileCalls(), 3);
    cache.GetFileTypeName(std::string("/d/x.\xff"
                                      "a"));
    cache.GetFileTypeName(std::string("/d/y.\xff"
                                      "A"));
    EXPECT_EQ(shell.FileCalls(), 4);
    cache.GetFileTypeName(std::string("/d/y.\xfe"
                                      "A"));
    EXPECT_EQ(shell.FileCalls(), 5);
    EXPECT_EQ(cache.ExtensionCount(), 5);
}

TEST(FileTypeCache, RelativePathsAreMadeAbsolute) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    cache.GetFileTypeName("sub/../rel.txt");
    ASSERT_EQ(shell.Calls.size(), 1u);
    const std::string cwd = CurrentDirectory();
    EXPECT_EQ(shell.Calls[0].first, (cwd == "/" ? std::string() : cwd) + "/rel.txt");
    cache.GetFileTypeName("/abs/./x/../more.TXT");
    EXPECT_EQ(shell.FileCalls(), 1);
    cache.GetFileTypeName("/abs/./x/../more.md");
    EXPECT_EQ(shell.Calls.back().first, "/abs/more.md");
}

TEST(FileTypeCache, MissingFilesStillGetTheirExtensionsName) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    EXPECT_EQ(cache.GetFileTypeName("/no/such/dir/file.pdf"), "type of .pdf");
    TFileTypeCache real;
    EXPECT_EQ(real.GetFileTypeName("/no/such/dir/file.txt"), Comment("text/plain"));
}

TEST(FileTypeCache, DirectoriesDoNotTouchTheMap) {
    TTempDir dir;
    fs::create_directory(dir / "sub.txt");
    Touch(dir / "file.txt");
    ASSERT_EQ(symlink("sub.txt", (dir / "dirlink").c_str()), 0);
    ASSERT_EQ(symlink("nowhere.txt", (dir / "dangling.txt").c_str()), 0);
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    EXPECT_EQ(cache.GetTypeName(dir / "sub.txt"), "dir");
    EXPECT_EQ(cache.GetTypeName(dir.Path), "dir");
    EXPECT_EQ(cache.GetTypeName(dir / "dirlink"), "dir"); // a link to a directory
    EXPECT_EQ(cache.GetDirectoryTypeName(), "dir");
    EXPECT_EQ(shell.DirectoryCalls(), 1);
    EXPECT_EQ(shell.FileCalls(), 0);
    EXPECT_EQ(cache.ExtensionCount(), 0);
    // The directory question carries the current directory.
    EXPECT_EQ(shell.Calls[0].first, CurrentDirectory());
    // Files go through the map.
    EXPECT_EQ(cache.GetTypeName(dir / "file.txt"), "type of .txt");
    EXPECT_EQ(cache.GetTypeName(dir / "dangling.txt"), "type of .txt"); // exists, as a link
    EXPECT_EQ(shell.FileCalls(), 1);
}

TEST(FileTypeCache, MissingPathCannotBeDetermined) {
    TTempDir dir;
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    for (const std::string& path :
         {dir / "missing.txt", std::string(), dir / std::string("x\0y", 3)}) {
        try {
            cache.GetTypeName(path);
            ADD_FAILURE() << "no error";
        } catch (const EShellFileError& error) {
            EXPECT_EQ(error.Message(), "The program cannot determine the file type.");
        }
    }
    EXPECT_TRUE(shell.Calls.empty());
}

TEST(FileTypeCache, ClearAsksAgain) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    cache.GetFileTypeName("/a.txt");
    cache.GetDirectoryTypeName();
    cache.Clear();
    EXPECT_EQ(cache.ExtensionCount(), 0);
    cache.GetFileTypeName("/b.TXT");
    cache.GetDirectoryTypeName();
    EXPECT_EQ(shell.FileCalls(), 2);
    EXPECT_EQ(shell.DirectoryCalls(), 2);
    EXPECT_EQ(shell.Calls[2].first, "/b.TXT");
}

TEST(FileTypeCache, AFailedLookupLeavesTheCacheAsItWas) {
    TCountingShell shell;
    TFileTypeCache cache(shell.Function());
    cache.GetFileTypeName("/a.txt");
    shell.Fail = true;
    try {
        cache.GetFileTypeName("/a.png");
        FAIL() << "no error";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not get the file type.");
    }
    EXPECT_THROW(cache.GetDirectoryTypeName(), EShellFileError);
    EXPECT_EQ(cache.ExtensionCount(), 1);
    EXPECT_EQ(cache.GetFileTypeName("/b.TXT"), "type of .txt"); // still known, not asked
    EXPECT_EQ(shell.FileCalls(), 2);
    shell.Fail = false;
    EXPECT_EQ(cache.GetFileTypeName("/a.png"), "type of .png"); // asked again
    EXPECT_EQ(cache.GetDirectoryTypeName(), "dir");
    EXPECT_EQ(shell.FileCalls(), 3);
    EXPECT_EQ(cache.ExtensionCount(), 2);
}

TEST(FileTypeCache, EntriesAskTheShell) {
    TCountingShell shell;
    const TFileTypeCache::TEntry file("/x/y.odt", shell.Function());
    EXPECT_EQ(file.TypeName(), "type of .odt");
    const TFileTypeCache::TEntry directory(shell.Function());
    EXPECT_EQ(directory.TypeName(), "dir");
    EXPECT_EQ(shell.Calls.size(), 2u);
    const TFileTypeCache::TEntry real("/x/y.txt");
    EXPECT_EQ(real.TypeName(), Comment("text/plain"));
    const TFileTypeCache::TEntry realDirectory;
    EXPECT_EQ(realDirectory.TypeName(), Comment("inode/directory"));
}
