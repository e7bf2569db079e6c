// The trash for real, in a temporary home: where each file lands, its information file,
// the names it gets, and what stays put when a move cannot be made; and the whole move of
// a list with the user's cancel, skip and stop.
#include "Kiv_shellfiles.h"
#include "TestCapabilities.h"
#include "TestShell.h"
#include "TrashTestSupport.h"

#include <cctype>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace Kiv_shellfiles;
using namespace TrashTest;
using TestShell::TTestMonitor;

namespace {

// "YYYY-MM-DDThh:mm:ss" and the line end.
bool IsLocalDateTime(const std::string& text) {
    const std::string shape = "dddd-dd-ddTdd:dd:dd\n";
    if (text.size() != shape.size())
        return false;
    for (std::size_t i = 0; i < shape.size(); ++i)
        if (shape[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(text[i]))
                            : text[i] != shape[i])
            return false;
    return true;
}

class HomeTrash : public ::testing::Test {
protected:
    HomeTrash() { MakeDirs(Dir / "data"); }

    std::string File(const std::string& name, const std::string& content = "content") {
        const std::string path = Dir / "data/" + name;
        WriteFile(path, content);
        return path;
    }

    TTempDir Dir;
    // Not there yet: the first move makes it.
    const std::string Home = Dir / "home/.local/share/Trash";
    TTrash Trash{Home};
};

TEST_F(HomeTrash, FileLandsInFilesWithItsInformationFile) {
    const std::string path = File("a b%.txt", "the bytes");
    const TTrashedFile moved = Trash.MoveToTrash(path);

    EXPECT_EQ(moved.Path, path);
    EXPECT_EQ(moved.TrashedPath, Home + "/files/a b%.txt");
    EXPECT_EQ(moved.InfoPath, Home + "/info/a b%.txt.trashinfo");
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(ReadFile(moved.TrashedPath), "the bytes");
    const std::string info = ReadFile(moved.InfoPath);
    const std::string head = "[Trash Info]\nPath=" + Dir.Path + "/data/a%20b%25.txt\nDeletionDate=";
    ASSERT_EQ(info.substr(0, head.size()), head);
    EXPECT_TRUE(IsLocalDateTime(info.substr(head.size()))) << info;
    // Made private, as the trash of one user must be.
    EXPECT_EQ(Mode(Home), 0700u);
    EXPECT_EQ(Mode(Home + "/files"), 0700u);
    EXPECT_EQ(Mode(Home + "/info"), 0700u);
    EXPECT_EQ(Mode(moved.InfoPath), 0600u);
}

TEST_F(HomeTrash, SameNameTwiceGetsANumberAndNeitherIsLost) {
    MakeDirs(Dir / "data/other");
    const std::string first = File("same.txt", "1");
    const std::string second = Dir / "data/other/same.txt";
    WriteFile(second, "2");

    const TTrashedFile one = Trash.MoveToTrash(first);
    const TTrashedFile two = Trash.MoveToTrash(second);
    EXPECT_EQ(one.TrashedPath, Home + "/files/same.txt");
    EXPECT_EQ(two.TrashedPath, Home + "/files/same.txt.2");
    EXPECT_EQ(two.InfoPath, Home + "/info/same.txt.2.trashinfo");
    EXPECT_EQ(ReadFile(one.TrashedPath), "1");
    EXPECT_EQ(ReadFile(two.TrashedPath), "2");
    EXPECT_EQ(InfoPath(one.InfoPath), first);
    EXPECT_EQ(InfoPath(two.InfoPath), second);
}

TEST_F(HomeTrash, LeftoversInTheTrashAreNeitherReplacedNorReused) {
    // A file without information (another program's half-done move) and an information
    // file without its file.
    MakeDirs(Home + "/files");
    MakeDirs(Home + "/info");
    WriteFile(Home + "/files/x", "older");
    WriteFile(Home + "/info/x.2.trashinfo", "[Trash Info]\n");

    const TTrashedFile moved = Trash.MoveToTrash(File("x", "newer"));
    EXPECT_EQ(moved.TrashedPath, Home + "/files/x.3");
    EXPECT_EQ(ReadFile(Home + "/files/x"), "older");
    EXPECT_EQ(ReadFile(Home + "/info/x.2.trashinfo"), "[Trash Info]\n");
    EXPECT_EQ(Names(Home + "/info"), (std::vector<std::string>{"x.2.trashinfo", "x.3.trashinfo"}));
}

TEST_F(HomeTrash, NameThatIsNotUtf8KeepsItsBytes) {
    const std::string path = File("caf\xE9.txt", "latin-1");
    const TTrashedFile moved = Trash.MoveToTrash(path);
    EXPECT_EQ(moved.TrashedPath, Home + "/files/caf\xE9.txt");
    EXPECT_EQ(ReadFile(moved.TrashedPath), "latin-1");
    EXPECT_EQ(InfoPath(moved.InfoPath), Dir.Path + "/data/caf%E9.txt");
}

TEST_F(HomeTrash, LongNameIsShortenedInTheTrashOnACharacterBoundary) {
    // 120 two-byte characters: 240 bytes, leaving no room for ".trashinfo".
    std::string name;
    for (int i = 0; i < 120; ++i)
        name += "\xC3\xA4";
    const std::string path = File(name);
    const TTrashedFile moved = Trash.MoveToTrash(path);

    const std::string trashName = moved.TrashedPath.substr(Home.size() + 7);
    EXPECT_LE(trashName.size() + 10, 255u);
    EXPECT_EQ(trashName.size() % 2, 0u) << "a character was split";
    EXPECT_EQ(name.compare(0, trashName.size(), trashName), 0);
    EXPECT_TRUE(Exists(moved.TrashedPath));
    EXPECT_EQ(InfoPath(moved.InfoPath).size(), (Dir.Path + "/data/").size() + 240u * 3);
}

TEST_F(HomeTrash, FileThatCannotBeMovedStaysAndLeavesNothingBehind) {
    const std::string missing = Dir / "data/missing.txt";
    try {
        Trash.MoveToTrash(missing);
        FAIL() << "moved a missing file";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not move the file \"" + missing +
                                       "\" to the trash (No such file or directory).");
    }

    MakeDirs(Dir / "data/folder");
    ASSERT_EQ(::mkfifo((Dir / "data/pipe").c_str(), 0644), 0);
    for (const std::string& special : {Dir / "data/folder", Dir / "data/pipe"}) {
        try {
            Trash.MoveToTrash(special);
            FAIL() << "moved " << special;
        } catch (const EShellFileError& error) {
            EXPECT_EQ(error.Message(), "The program could not move the file \"" + special +
                                           "\" to the trash (it is not a regular file).");
        }
        EXPECT_TRUE(Exists(special));
    }
    EXPECT_TRUE(Names(Home + "/info").empty());
    EXPECT_THROW(Trash.MoveToTrash("relative.txt"), EShellFileError);
}

TEST_F(HomeTrash, ReadOnlyFolderRefusesTheMoveAndKeepsTheFile) {
    const std::string path = File("kept.txt", "kept");
    Trash.MoveToTrash(File("made-the-trash.txt")); // the trash exists before the refusal
    ASSERT_EQ(::chmod((Dir / "data").c_str(), 0555), 0);
    TestCapabilities::TWithoutFileOverride asAnyUser;
    try {
        Trash.MoveToTrash(path);
        FAIL() << "moved out of a read-only folder";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not move the file \"" + path +
                                       "\" to the trash (Permission denied).");
    }
    EXPECT_EQ(ReadFile(path), "kept");
    // The information file written before the refused move is gone again.
    EXPECT_EQ(Names(Home + "/info"), std::vector<std::string>{"made-the-trash.txt.trashinfo"});
    EXPECT_EQ(Names(Home + "/files"), std::vector<std::string>{"made-the-trash.txt"});
}

TEST_F(HomeTrash, TrashThatCannotBeMadeRefusesEveryFile) {
    WriteFile(Dir / "home-file", "not a folder");
    TTrash trash(Dir / "home-file/Trash");
    const std::string path = File("kept.txt");
    try {
        trash.MoveToTrash(path);
        FAIL() << "moved into a trash under a file";
    } catch (const EShellFileError& error) {
        EXPECT_NE(error.Message().find("\"" + path + "\""), std::string::npos);
        EXPECT_NE(error.Message().find("cannot be made"), std::string::npos);
    }
    EXPECT_TRUE(Exists(path));
}

// ---------------------------------------------------------------------------------------
// A list of files

class Recycle : public HomeTrash {
protected:
    std::vector<TTrashedFile> Moved;
    TRecycleHooks Hooks{nullptr, [this](const TTrashedFile& file) { Moved.push_back(file); }};
    TTestMonitor Monitor;
};

TEST_F(Recycle, SkippedFileStaysAndTheRestMoves) {
    const std::vector<std::string> paths = {File("1"), Dir / "data/gone", File("3")};
    Monitor.SkipAnswers = {true};
    EXPECT_TRUE(RecycleFiles(paths, Trash, Monitor, Hooks));

    EXPECT_EQ(Monitor.Started, 3);
    EXPECT_EQ(Monitor.Visited, paths);
    EXPECT_EQ(Monitor.ErrorPaths, std::vector<std::string>{paths[1]});
    EXPECT_TRUE(Monitor.Finished);
    ASSERT_EQ(Moved.size(), 2u);
    EXPECT_EQ(Moved[0].Path, paths[0]);
    EXPECT_EQ(Moved[0].TrashedPath, Home + "/files/1");
    EXPECT_EQ(Moved[1].Path, paths[2]);
    EXPECT_EQ(Moved[1].InfoPath, Home + "/info/3.trashinfo");
    EXPECT_FALSE(Exists(paths[0]));
    EXPECT_FALSE(Exists(paths[2]));
}

TEST_F(Recycle, StopAfterAnErrorIsAnAbortAndTriesNothingMore) {
    const std::vector<std::string> paths = {File("1"), Dir / "data/gone", File("3")};
    Monitor.SkipAnswers = {false};
    EXPECT_FALSE(RecycleFiles(paths, Trash, Monitor, Hooks));
    EXPECT_FALSE(Exists(paths[0]));
    EXPECT_TRUE(Exists(paths[2]));
    EXPECT_EQ(Moved.size(), 1u);
    EXPECT_TRUE(Monitor.Finished);
}

TEST_F(Recycle, CancelIsAnAbortAndKeepsTheFilesNotYetMoved) {
    const std::vector<std::string> paths = {File("1"), File("2"), File("3")};
    Monitor.CancelAt = 1;
    EXPECT_FALSE(RecycleFiles(paths, Trash, Monitor, Hooks));
    EXPECT_FALSE(Exists(paths[0]));
    EXPECT_TRUE(Exists(paths[1]));
    EXPECT_TRUE(Exists(paths[2]));
    EXPECT_TRUE(Monitor.Finished);
}

TEST_F(Recycle, CheckBeforeTheMoveIsOfferedLikeAFailedMove) {
    const std::vector<std::string> paths = {File("1"), File("2")};
    Hooks.BeforeMove = [&](const std::string& path) {
        if (path == paths[0])
            throw EShellFileError("The file \"" + path + "\" changed.");
    };
    Monitor.SkipAnswers = {true};
    EXPECT_TRUE(RecycleFiles(paths, Trash, Monitor, Hooks));
    EXPECT_EQ(Monitor.Errors, std::vector<std::string>{"The file \"" + paths[0] + "\" changed."});
    EXPECT_TRUE(Exists(paths[0]));
    EXPECT_FALSE(Exists(paths[1]));
    EXPECT_EQ(Names(Home + "/info"), std::vector<std::string>{"2.trashinfo"});
}

TEST_F(Recycle, ErrorOutsideTheMoveEndsTheOperationWithTheMonitorFinished) {
    const std::vector<std::string> paths = {File("1"), File("2")};
    Hooks.BeforeMove = [](const std::string&) { throw std::runtime_error("out of memory"); };
    EXPECT_THROW(RecycleFiles(paths, Trash, Monitor, Hooks), std::runtime_error);
    EXPECT_TRUE(Monitor.Finished);
    EXPECT_TRUE(Exists(paths[0]));
}

TEST(HomeTrashDirectory, FollowsXdgDataHomeThenHome) {
    const std::string savedData = std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_DATA_HOME", "/x/data", 1);
    EXPECT_EQ(HomeTrashDirectory(), "/x/data/Trash");
    ::setenv("XDG_DATA_HOME", "relative", 1); // not absolute: ignored
    ::setenv("HOME", "/home/anna", 1);
    EXPECT_EQ(HomeTrashDirectory(), "/home/anna/.local/share/Trash");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(HomeTrashDirectory(), "/home/anna/.local/share/Trash");
    if (!savedData.empty())
        ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
    ::setenv("HOME", savedHome.c_str(), 1);
}

TEST(QtKeepsFileName, OnlyValidUtf8) {
    EXPECT_TRUE(QtKeepsFileName("/tmp/caf\xC3\xA9.txt"));
    EXPECT_TRUE(QtKeepsFileName("/tmp/plain"));
    EXPECT_FALSE(QtKeepsFileName("/tmp/caf\xE9.txt"));
    EXPECT_FALSE(QtKeepsFileName("/tmp/\xED\xA0\x80")); // an encoded surrogate
}

} // namespace

TEST_F(HomeTrash, PutBackWhereItWasNeverOverAnotherFile) {
    MakeDirs(Dir / "data/deep/er");
    const std::string path = File("deep/er/photo", "the picture");
    const TTrashedFile moved = Trash.MoveToTrash(path);
    ASSERT_TRUE(IsInTrash(moved));
    // Its folder went meanwhile: made again.
    std::filesystem::remove_all(Dir / "data/deep");
    RestoreFromTrash(moved);
    EXPECT_EQ(ReadFile(path), "the picture");
    EXPECT_FALSE(Exists(moved.InfoPath));
    EXPECT_FALSE(IsInTrash(moved));

    // Another file in its place: it stays, and so does the trashed one.
    const TTrashedFile again = Trash.MoveToTrash(path);
    WriteFile(path, "a newer file");
    try {
        RestoreFromTrash(again);
        ADD_FAILURE() << "put back over another file";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not put the file \"" + path +
                                       "\" back: another file is in its place.");
    }
    EXPECT_EQ(ReadFile(path), "a newer file");
    EXPECT_TRUE(IsInTrash(again));
    EXPECT_TRUE(Exists(again.InfoPath));
}

TEST_F(HomeTrash, TheLogRecordsEachFileOnALineAndRefusesToBeLost) {
    TTrashLog log(Dir / "share/Sorvik/trash.log");
    const TTrashedFile file{"/a/tab\there", "/trash/files/x", "/trash/info/x.trashinfo"};
    log.Record("moved", file, 1234, "");
    log.Record("restored", file, 1234, "ABC");
    log.Close();
    const std::string text = ReadFile(Dir / "share/Sorvik/trash.log");
    const std::size_t first = text.find('\n');
    ASSERT_NE(first, std::string::npos);
    EXPECT_EQ(text.substr(20, first - 20), "\tmoved\t/a/tab\\there\t/trash/files/x\t1234\t-");
    EXPECT_EQ(text.substr(first + 21), "\trestored\t/a/tab\\there\t/trash/files/x\t1234\tABC\n");
    EXPECT_TRUE(IsLocalDateTime(text.substr(0, 19) + "\n")) << text; // and a Z for UTC
    EXPECT_EQ(text[19], 'Z');
    // A log that cannot be opened says so by its path.
    MakeDirs(Dir / "blocked.log");
    TTrashLog blocked(Dir / "blocked.log");
    try {
        blocked.Open();
        ADD_FAILURE() << "a folder taken for the log";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(),
                  "The program could not write the trash log \"" + (Dir / "blocked.log") + "\".");
    }
}
