// The trash for real, in a temporary home: where each file lands, its information file,
// the names it gets, and what stays put when a move cannot be made; and the whole move of
// a list with the user's cancel, skip and stop.
#include "Kiv_shellfiles.h"
#include "TestCapabilities.h"
#include "TestShell.h"
#include "TrashTestSupport.h"

#include <cctype>
#include <fcntl.h>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>

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
    Recycle() {
        Hooks.Moved = [this](const TTrashedFile& file) { Moved.push_back(file); };
    }
    std::vector<TTrashedFile> Moved;
    TRecycleHooks Hooks;
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
    Hooks.Check = [&](const std::string& path, const Kiv_files::TFindData&) {
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
    Hooks.Check = [](const std::string&, const Kiv_files::TFindData&) {
        throw std::runtime_error("out of memory");
    };
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
    const TTrashedFile file{"/a/tab\there", "/trash/files/x", "/trash/info/x.trashinfo", {}, {}};
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
        EXPECT_EQ(error.Message(), "The program could not write the trash log \"" +
                                       (Dir / "blocked.log") + "\" (Is a directory).");
    }
}

// ---------------------------------------------------------------------------------------
// What moves is what was looked at; what comes back is what was moved

TEST_F(HomeTrash, TheMoveTakesTheFileItLookedAtThoughItsFolderIsSwappedForALink) {
    MakeDirs(Dir / "data/album");
    MakeDirs(Dir / "data/elsewhere");
    const std::string listed = File("album/photo", "listed");
    WriteFile(Dir / "data/elsewhere/photo", "never listed");
    TRecycleHooks hooks;
    std::uint64_t seen = 0;
    // Between the look and the move, the folder goes aside and a link to another folder
    // that holds a file of the same name takes its place.
    hooks.Check = [&](const std::string& path, const Kiv_files::TFindData& found) {
        EXPECT_EQ(path, listed);
        seen = found.Inode;
        std::filesystem::rename(Dir / "data/album", Dir / "data/album.away");
        std::filesystem::create_directory_symlink(Dir / "data/elsewhere", Dir / "data/album");
    };
    const TTrashedFile moved = Trash.MoveToTrash(listed, hooks);
    EXPECT_EQ(ReadFile(moved.TrashedPath), "listed");
    EXPECT_EQ(ReadFile(Dir / "data/elsewhere/photo"), "never listed");
    EXPECT_EQ(InfoPath(moved.InfoPath), listed);
    EXPECT_EQ(moved.Trashed.Inode, seen);
}

TEST_F(HomeTrash, AFolderOfThePathThatIsALinkIsNotFollowed) {
    MakeDirs(Dir / "data/real");
    const std::string kept = File("real/file", "kept");
    std::filesystem::create_directory_symlink(Dir / "data/real", Dir / "data/link");
    try {
        Trash.MoveToTrash(Dir / "data/link/file");
        FAIL() << "moved through a link";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not move the file \"" +
                                       (Dir / "data/link/file") + "\" to the trash (\"" +
                                       (Dir / "data/link") + "\" is a symbolic link).");
    }
    EXPECT_EQ(ReadFile(kept), "kept");
    EXPECT_TRUE(Names(Home + "/info").empty());
}

TEST_F(HomeTrash, TheRecordComesBeforeTheMoveAndAFailedRecordMovesNothing) {
    const std::string path = File("a", "A");
    TRecycleHooks hooks;
    bool before = false;
    hooks.Record = [&](const TTrashedFile& file) {
        before = Exists(path) && Exists(file.InfoPath) && !Exists(file.TrashedPath);
        throw ETrashLogError("no room for the record");
    };
    EXPECT_THROW(Trash.MoveToTrash(path, hooks), ETrashLogError);
    EXPECT_TRUE(before);
    EXPECT_EQ(ReadFile(path), "A");
    EXPECT_TRUE(Names(Home + "/info").empty());
    EXPECT_TRUE(Names(Home + "/files").empty());
}

TEST_F(HomeTrash, OnlyTheFileThatWasMovedComesBackWithItsOwnInformationFile) {
    const std::string path = File("report", "mine");
    const TTrashedFile moved = Trash.MoveToTrash(path);
    // The trash is emptied, and another file of that name goes there.
    std::filesystem::remove(moved.TrashedPath);
    std::filesystem::remove(moved.InfoPath);
    MakeDirs(Dir / "data/other");
    const std::string other = Dir / "data/other/report";
    WriteFile(other, "theirs");
    TTrash second(Home);
    const TTrashedFile theirs = second.MoveToTrash(other);
    ASSERT_EQ(theirs.TrashedPath, moved.TrashedPath);
    EXPECT_FALSE(IsInTrash(moved));
    try {
        RestoreFromTrash(moved);
        ADD_FAILURE() << "put another file back";
    } catch (const EShellFileError& error) {
        EXPECT_EQ(error.Message(), "The program could not put the file \"" + path +
                                       "\" back: it is no longer in the trash.");
    }
    EXPECT_FALSE(Exists(path));
    EXPECT_EQ(ReadFile(theirs.TrashedPath), "theirs");
    EXPECT_EQ(InfoPath(theirs.InfoPath), other);

    // The file is its own, but its information file was written anew meanwhile.
    WriteFile(theirs.InfoPath,
              "[Trash Info]\nPath=/somewhere/else\nDeletionDate=2020-01-01T00:00:00\n");
    EXPECT_THROW(RestoreFromTrash(theirs), EShellFileError);
    EXPECT_FALSE(Exists(other));
    EXPECT_TRUE(IsInTrash(theirs));
}

TEST_F(HomeTrash, PuttingBackIsRecordedFirstAndAFailedRecordKeepsTheFileInTheTrash) {
    const std::string path = File("doc", "text");
    const TTrashedFile moved = Trash.MoveToTrash(path);
    TRecycleHooks hooks;
    hooks.Record = [](const TTrashedFile&) { throw ETrashLogError("no room for the record"); };
    EXPECT_THROW(RestoreFromTrash(moved, hooks), ETrashLogError);
    EXPECT_FALSE(Exists(path));
    EXPECT_TRUE(IsInTrash(moved));
    EXPECT_TRUE(Exists(moved.InfoPath));
}

TEST_F(HomeTrash, ManyFilesOfOneNameTakeTheNumbersPastThoseTheTrashHolds) {
    MakeDirs(Home + "/files");
    MakeDirs(Home + "/info");
    WriteFile(Home + "/files/Thumbs.db", "older");
    for (int number = 2; number <= 300; ++number)
        WriteFile(Home + "/info/Thumbs.db." + std::to_string(number) + ".trashinfo",
                  "[Trash Info]\n");
    std::vector<std::string> names;
    for (int folder = 0; folder < 3; ++folder) {
        MakeDirs(Dir / ("data/" + std::to_string(folder)));
        const std::string path =
            File(std::to_string(folder) + "/Thumbs.db", std::to_string(folder));
        names.push_back(Trash.MoveToTrash(path).TrashedPath.substr(Home.size() + 7));
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Thumbs.db.301", "Thumbs.db.302", "Thumbs.db.303"}));
    EXPECT_EQ(ReadFile(Home + "/files/Thumbs.db"), "older");
}

// ---------------------------------------------------------------------------------------
// A move killed between its information file and its rename

class KilledMove : public HomeTrash {
protected:
    // Moves the file in a child process that dies right before the rename, as a program
    // killed at the worst moment.
    void KillWhileMoving(const std::string& path) {
        const pid_t child = ::fork();
        if (child == 0) {
            TTrash trash(Home);
            TRecycleHooks hooks;
            hooks.Record = [](const TTrashedFile&) { ::_exit(0); };
            try {
                trash.MoveToTrash(path, hooks);
            } catch (...) {
            }
            ::_exit(1);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "the child was not killed";
    }
    void MakeForeignLeftover() {
        MakeDirs(Home + "/files");
        MakeDirs(Home + "/info");
        // Another program's information file without its file is none of ours: it stays.
        WriteFile(Home + "/info/foreign.trashinfo",
                  "[Trash Info]\nPath=" + Dir.Path +
                      "/data/photo\nDeletionDate=2020-01-01T00:00:00\n");
    }
};

TEST_F(KilledMove, TheNextStartRemovesTheInformationFileWhoseFileNeverArrived) {
    const std::string path = File("photo", "kept");
    MakeForeignLeftover();
    KillWhileMoving(path);
    ASSERT_EQ(Names(Home + "/info"),
              (std::vector<std::string>{"foreign.trashinfo", "photo.trashinfo"}));
    FinishInterruptedMoves(Home);
    EXPECT_EQ(Names(Home + "/info"), std::vector<std::string>{"foreign.trashinfo"});
    EXPECT_EQ(ReadFile(path), "kept");
    EXPECT_TRUE(Names(PendingMovesFolder(Home)).empty());
}

TEST_F(KilledMove, TheNextMoveRemovesItTooAndTakesTheName) {
    const std::string path = File("photo", "kept");
    KillWhileMoving(path);
    const TTrashedFile moved = Trash.MoveToTrash(path);
    EXPECT_EQ(moved.TrashedPath, Home + "/files/photo");
    EXPECT_EQ(Names(Home + "/info"), std::vector<std::string>{"photo.trashinfo"});
    EXPECT_EQ(InfoPath(moved.InfoPath), path);
}

TEST_F(KilledMove, TheListOfAProgramStillMovingIsLeftAlone) {
    const std::string path = File("photo", "kept");
    KillWhileMoving(path);
    const std::vector<std::string> lists = Names(PendingMovesFolder(Home));
    ASSERT_EQ(lists.size(), 1u);
    // As the program that is moving holds it.
    const int held = ::open((PendingMovesFolder(Home) + "/" + lists[0]).c_str(), O_RDONLY);
    ASSERT_GE(held, 0);
    ASSERT_EQ(::flock(held, LOCK_EX), 0);
    FinishInterruptedMoves(Home);
    EXPECT_EQ(Names(Home + "/info"), std::vector<std::string>{"photo.trashinfo"});
    ::close(held);
    FinishInterruptedMoves(Home);
    EXPECT_TRUE(Names(Home + "/info").empty());
}

// ---------------------------------------------------------------------------------------
// The log

TEST_F(HomeTrash, ALogThatIsNotARegularFileIsRefusedAtOnce) {
    const std::string fifo = Dir / "trash.log";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto expectRefused = [](const std::string& path) {
        TTrashLog log(path);
        try {
            log.Open();
            ADD_FAILURE() << "took " << path;
        } catch (const ETrashLogError& error) {
            EXPECT_EQ(error.Message(), "The program could not write the trash log \"" + path +
                                           "\" (it is not a regular file).");
        }
    };
    // Without a reader a FIFO would hold the program for ever; with one it would take the
    // lines and keep none.
    expectRefused(fifo);
    const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    expectRefused(fifo);
    ::close(reader);
    expectRefused("/dev/full");
}

TEST_F(Recycle, ALogThatStopsTakingLinesStopsTheMoveBeforeTheNextFile) {
    const std::vector<std::string> paths = {File("1"), File("2"), File("3")};
    const std::string logPath = Dir / "trash.log";
    // Earlier lines, so that the log reaches the limit before any other file does.
    WriteFile(logPath, std::string(4000, '#') + "\n");
    TTrashLog log(logPath);
    Hooks.Record = [&](const TTrashedFile& file) { log.Record("moved", file, 7, ""); };
    {
        TFileSizeLimit limit(4001 + 200); // room for one more line
        try {
            RecycleFiles(paths, Trash, Monitor, Hooks);
            ADD_FAILURE() << "the move went on without its record";
        } catch (const ETrashLogError& error) {
            EXPECT_EQ(error.Message(), "The program could not write the trash log \"" + logPath +
                                           "\" (File too large).");
        }
    }
    EXPECT_TRUE(Monitor.Finished);
    EXPECT_TRUE(Monitor.Errors.empty()) << "offered to skip";
    ASSERT_EQ(Moved.size(), 1u);
    EXPECT_FALSE(Exists(paths[0]));
    EXPECT_TRUE(Exists(paths[1]));
    EXPECT_TRUE(Exists(paths[2]));
    EXPECT_EQ(Names(Home + "/info"), std::vector<std::string>{"1.trashinfo"});
    const std::string text = ReadFile(logPath);
    EXPECT_NE(text.find("\tmoved\t" + paths[0] + "\t"), std::string::npos);
    EXPECT_EQ(text.find(paths[1]), std::string::npos);
}
