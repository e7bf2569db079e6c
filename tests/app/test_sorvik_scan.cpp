// sorvik-scan end to end: the program is run as a user would run it.
#include "TestApplication.h"
#include "app/entries/EntriesTestSupport.h"
#include "app/scan/ChangeWhileReadTestSupport.h"

#include <QCoreApplication>
#include <QProcess>
#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <set>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

using EntriesTest::MakeDir;
using EntriesTest::TTempDir;
using EntriesTest::WriteFile;

using namespace Qt::Literals::StringLiterals;
namespace {

using TGroups = std::set<std::set<std::string>>;

struct TResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

// Starts the program with the arguments, UTF-8 texts.
void Start(QProcess& process, const std::string& program,
           const std::vector<std::string>& arguments) {
    QStringList texts;
    for (const std::string& argument : arguments)
        texts.push_back(QString::fromStdString(argument));
    process.start(QString::fromStdString(program), texts);
}

class SorvikScan : public ::testing::Test {
protected:
    static TResult Run(const std::vector<std::string>& arguments,
                       const std::string& directory = "") {
        QProcess process;
        if (!directory.empty())
            process.setWorkingDirectory(QString::fromStdString(directory));
        Start(process, SORVIK_SCAN_PROGRAM, arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return ResultOf(process);
    }

    static TResult ResultOf(QProcess& process) {
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
    }

    // Runs with the hash cache in cacheHome (XDG_CACHE_HOME).
    static TResult RunCaching(const QStringList& arguments, const std::string& cacheHome) {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CACHE_HOME"), QString::fromStdString(cacheHome));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(SORVIK_SCAN_PROGRAM), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return ResultOf(process);
    }

    // What --verbose told: files and bytes read, hashes from the cache; -1 each when it
    // told nothing.
    static std::array<long long, 3> ReadCounts(const std::string& err) {
        const std::string start = "sorvik-scan: ";
        const std::size_t at = err.find(" files read, ");
        const std::size_t line = err.rfind(start, at);
        std::array<long long, 3> counts = {-1, -1, -1};
        if (at == std::string::npos || line == std::string::npos)
            return counts;
        std::string text = err.substr(line + start.size());
        std::erase(text, ',');
        std::sscanf(text.c_str(), "%lld files read %lld bytes; %lld hashes", &counts[0], &counts[1],
                    &counts[2]);
        return counts;
    }

    // Blocks of lines separated by empty lines; line ends CR LF or LF.
    static TGroups ParseGroups(const std::string& text) {
        TGroups groups;
        std::set<std::string> block;
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            std::string line = text.substr(start, end - start);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty()) {
                if (!block.empty())
                    groups.insert(block);
                block.clear();
            } else {
                block.insert(line);
            }
            start = end + 1;
        }
        if (!block.empty())
            groups.insert(block);
        return groups;
    }

    // Originals of random sizes, byte copies, files of another file's size with other
    // bytes, empty files, nested folders and names with blanks.
    void MakeTree(const std::string& root, int files) {
        std::mt19937 random(99);
        std::vector<std::string> contents;
        MakeDir(root);
        for (int i = 0; i < files; ++i) {
            const std::string folder = root + "/dir " + std::to_string(i % 7);
            if (!std::filesystem::exists(folder))
                MakeDir(folder);
            std::string content;
            const unsigned kind = random() % 10;
            if (kind < 3 && !contents.empty()) {
                content = contents[random() % contents.size()];
            } else if (kind == 3 && !contents.empty()) {
                content = std::string(contents[random() % contents.size()].size(), '\0');
                for (auto& c : content)
                    c = static_cast<char>('a' + random() % 26);
            } else if (kind == 4) {
                content = "";
            } else {
                content = std::string(random() % 70000, '\0');
                for (auto& c : content)
                    c = static_cast<char>(random());
            }
            contents.push_back(content);
            WriteFile(folder + "/file " + std::to_string(i) + ".bin", content);
        }
    }

    TestApplication::TTestApplication App;
    TTempDir Dir;
};

} // namespace

TEST_F(SorvikScan, FindsWhatFdupesFindsWhenEveryFileIsPrimary) {
    const std::string root = Dir / "tree";
    MakeTree(root, 300);
    const TResult ours = Run({"--compare", "size,hash", root});
    ASSERT_EQ(ours.ExitCode, 0) << ours.Err;
    QProcess fdupes;
    Start(fdupes, "fdupes", {"-r", "-q", root});
    ASSERT_TRUE(fdupes.waitForFinished(60000));
    const TGroups expected = ParseGroups(fdupes.readAllStandardOutput().toStdString());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ParseGroups(ours.Out), expected);
    EXPECT_NE(ours.Err.find(" duplicate files in "), std::string::npos);
    // Comparing the bytes instead of the hashes finds the same.
    const TResult bytes = Run({"--compare", "size,binaries", root});
    ASSERT_EQ(bytes.ExitCode, 0) << bytes.Err;
    EXPECT_EQ(ParseGroups(bytes.Out), expected);
    // Every line of the results file ends with CR LF, and every block with an empty line.
    EXPECT_EQ(ours.Out.substr(ours.Out.size() - 4), "\r\n\r\n");
}

TEST_F(SorvikScan, SecondaryCopiesAreFoundOnlyNextToPrimaries) {
    MakeDir(Dir / "primary");
    MakeDir(Dir / "secondary");
    WriteFile(Dir / "primary/a", "alpha");
    WriteFile(Dir / "primary/lonely", "nothing like it");
    WriteFile(Dir / "secondary/a copy", "alpha");
    WriteFile(Dir / "secondary/b1", "beta");
    WriteFile(Dir / "secondary/b2", "beta");
    const std::string output = Dir / "results.txt";
    const TResult result =
        Run({"--output", output, "--secondary", Dir / "secondary", Dir / "primary"});
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_TRUE(result.Out.empty());
    std::ifstream file(output, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(file)), {});
    // The secondary paths are listed first, so that a file named both ways ends primary.
    EXPECT_EQ(text, Dir / "secondary/a copy" + "\r\n" + Dir / "primary/a" + "\r\n\r\n");
    EXPECT_EQ(result.Err, "2 duplicate files in 1 groups were found.\n");
}

TEST_F(SorvikScan, RelativePathsAreTakenFromTheCurrentDirectory) {
    WriteFile(Dir / "x", "same");
    WriteFile(Dir / "y", "same");
    const TResult result = Run({"--compare=hash", "."}, Dir.Path);
    ASSERT_EQ(result.ExitCode, 0) << result.Err;
    EXPECT_EQ(ParseGroups(result.Out), (TGroups{{Dir / "x", Dir / "y"}}));

    // A folder whose name is not UTF-8 keeps its bytes (entered through a link, as the
    // test's process takes only UTF-8 names).
    const std::string odd = Dir / "caf\xe9";
    MakeDir(odd);
    WriteFile(odd + "/x", "same");
    WriteFile(odd + "/y", "same");
    ASSERT_EQ(::symlink(odd.c_str(), (Dir / "link").c_str()), 0);
    const TResult oddResult = Run({"--compare=hash", "."}, Dir / "link");
    ASSERT_EQ(oddResult.ExitCode, 0) << oddResult.Err;
    EXPECT_EQ(ParseGroups(oddResult.Out), (TGroups{{odd + "/x", odd + "/y"}}));
}

TEST_F(SorvikScan, ExitCodesAndMessages) {
    const TResult help = Run({"--help"});
    EXPECT_EQ(help.ExitCode, 0);
    EXPECT_NE(help.Out.find("\n  3    done, but files or folders that could not be read"),
              std::string::npos)
        << help.Out;
    const TResult version = Run({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("sorvik-scan ", 0), 0u);
    EXPECT_EQ(Run({}).ExitCode, 2);
    EXPECT_EQ(Run({"--bogus", Dir.Path.c_str()}).ExitCode, 2);
    const TResult badCriterion = Run({"--compare", "size,colour", Dir.Path.c_str()});
    EXPECT_EQ(badCriterion.ExitCode, 2);
    EXPECT_NE(badCriterion.Err.find("Usage: sorvik-scan"), std::string::npos);
    EXPECT_EQ(Run({"--output"}).ExitCode, 2);

    // A path that cannot be taken is named and left out, and the run ends with 3, a
    // partial result; --strict ends the run at it.
    const std::string missing = Dir / "missing";
    const std::string accept =
        "sorvik-scan: The program cannot accept the file \"" + missing + "\".\n";
    const TResult lenient = Run({missing});
    EXPECT_EQ(lenient.ExitCode, 3);
    EXPECT_EQ(lenient.Err, accept + "0 duplicate files in 0 groups were found. 1 file or folder "
                                    "could not be read and was left out.\n");
    const TResult two = Run({missing, missing + "2"});
    EXPECT_EQ(two.ExitCode, 3);
    EXPECT_TRUE(two.Err.ends_with(" 2 files or folders could not be read and were left out.\n"))
        << two.Err;
    const TResult strict = Run({"--strict", missing});
    EXPECT_EQ(strict.ExitCode, 1);
    EXPECT_EQ(strict.Err, accept);
    EXPECT_TRUE(strict.Out.empty());

    // An empty path is no path (it once meant the current directory), an empty criterion
    // no criterion, and what follows "--" is a path even when it looks like a Qt option.
    const TResult empty = Run({"--strict", ""});
    EXPECT_EQ(empty.ExitCode, 1);
    EXPECT_EQ(empty.Err, "sorvik-scan: The program cannot accept the file \"\".\n");
    EXPECT_EQ(Run({"--compare", "size,", Dir.Path.c_str()}).ExitCode, 2);
    EXPECT_EQ(Run({"--compare", ",", Dir.Path.c_str()}).ExitCode, 2);
    // An empty list (an empty shell variable) once compared nothing and reported every
    // file as a copy of the first primary one.
    const TResult noCriterion = Run({"--compare", "", Dir.Path.c_str()});
    EXPECT_EQ(noCriterion.ExitCode, 2);
    EXPECT_EQ(noCriterion.Err.rfind("sorvik-scan: --compare needs at least one criterion\n", 0), 0u)
        << noCriterion.Err;
    EXPECT_EQ(Run({"--compare=", Dir.Path.c_str()}).ExitCode, 2);
    const TResult qtLike = Run({"--strict", "--", "-platform", "offscreen"}, Dir.Path);
    EXPECT_EQ(qtLike.ExitCode, 1);
    EXPECT_EQ(qtLike.Err,
              "sorvik-scan: The program cannot accept the file \"" + (Dir / "-platform") + "\".\n");

    // Only secondary files: nothing to group around.
    MakeDir(Dir / "empty");
    WriteFile(Dir / "s", "s");
    const TResult noPrimary = Run({"--secondary", Dir / "s", Dir / "empty"});
    EXPECT_EQ(noPrimary.ExitCode, 1);
    EXPECT_EQ(noPrimary.Err, "sorvik-scan: Specify primary entries to perform a scan task.\n");
}

TEST_F(SorvikScan, TheHashCacheSparesARescanTheReadingOfUnchangedFiles) {
    const std::string root = Dir / "tree";
    MakeTree(root, 200);
    const std::string last = root + "/dir 3/file 199.bin";
    ScanTest::PassChangeTime(last); // no later change can keep a change time of the tree
    const std::string cache = Dir / "cache";
    const QStringList arguments = {u"--verbose"_s, u"--compare"_s, u"size,hash"_s,
                                   QString::fromStdString(root)};
    const TResult without = RunCaching(QStringList{u"--no-cache"_s} + arguments, cache);
    ASSERT_EQ(without.ExitCode, 0) << without.Err;
    EXPECT_FALSE(std::filesystem::exists(cache)); // --no-cache: not even made
    const auto read = ReadCounts(without.Err);
    ASSERT_GT(read[0], 10) << without.Err;
    EXPECT_EQ(read[2], 0);

    const TResult first = RunCaching(arguments, cache);
    ASSERT_EQ(first.ExitCode, 0) << first.Err;
    EXPECT_EQ(first.Out, without.Out);
    EXPECT_EQ(ReadCounts(first.Err), read);
    struct stat info {};
    ASSERT_EQ(::stat((cache + "/Sorvik/hashes.db").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);

    const TResult again = RunCaching(arguments, cache);
    ASSERT_EQ(again.ExitCode, 0) << again.Err;
    EXPECT_EQ(again.Out, without.Out);
    EXPECT_EQ(ReadCounts(again.Err), (std::array<long long, 3>{0, 0, read[0]})) << again.Err;

    // A copy rewritten with other bytes and its size and last write time put back: read
    // again, and the groups are those of a scan without the cache.
    const TGroups groups = ParseGroups(without.Out);
    std::string changed;
    for (const auto& group : groups)
        if (std::filesystem::file_size(*group.begin()) > 0)
            changed = *group.begin();
    ASSERT_FALSE(changed.empty());
    std::string content = TestFiles::ReadFile(changed);
    content[0] = static_cast<char>(~content[0]);
    ScanTest::RewriteKeepingTimes(changed, content);
    const TResult rescan = RunCaching(arguments, cache);
    ASSERT_EQ(rescan.ExitCode, 0) << rescan.Err;
    EXPECT_EQ(ReadCounts(rescan.Err),
              (std::array<long long, 3>{1, static_cast<long long>(content.size()), read[0] - 1}))
        << rescan.Err;
    const TResult reference = RunCaching(QStringList{u"--no-cache"_s} + arguments, cache);
    EXPECT_EQ(rescan.Out, reference.Out);
    EXPECT_NE(ParseGroups(rescan.Out), groups);
    EXPECT_EQ(rescan.Err.find("hash cache \""), std::string::npos) << rescan.Err;
}

TEST_F(SorvikScan, TwoScansAtOnceShareTheHashCache) {
    const std::string root = Dir / "tree";
    MakeTree(root, 300);
    ScanTest::PassChangeTime(root + "/dir 5/file 299.bin");
    const std::string cache = Dir / "cache";
    const QStringList arguments = {u"--verbose"_s, u"--compare"_s, u"size,hash"_s,
                                   QString::fromStdString(root)};
    const TResult reference = RunCaching(QStringList{u"--no-cache"_s} + arguments, cache);
    ASSERT_EQ(reference.ExitCode, 0);
    QProcess scans[2];
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("XDG_CACHE_HOME"), QString::fromStdString(cache));
    for (QProcess& scan : scans) {
        scan.setProcessEnvironment(environment);
        scan.start(QStringLiteral(SORVIK_SCAN_PROGRAM), arguments);
    }
    for (QProcess& scan : scans) {
        ASSERT_TRUE(scan.waitForFinished(60000));
        const TResult result = ResultOf(scan);
        EXPECT_EQ(result.ExitCode, 0) << result.Err;
        EXPECT_EQ(result.Out, reference.Out);
        EXPECT_EQ(result.Err.find("hash cache \""), std::string::npos) << result.Err;
    }
    const TResult third = RunCaching(arguments, cache);
    EXPECT_EQ(third.Out, reference.Out);
    EXPECT_EQ(ReadCounts(third.Err)[0], 0) << third.Err;
}

TEST_F(SorvikScan, ACacheThatCannotBeUsedIsNamedOnceAndTheScanGoesOn) {
    const std::string root = Dir / "tree";
    MakeTree(root, 100);
    ScanTest::PassChangeTime(root + "/dir 1/file 99.bin");
    const QStringList arguments = {u"--compare"_s, u"size,hash"_s, QString::fromStdString(root)};
    const TResult reference = RunCaching(QStringList{u"--no-cache"_s} + arguments, Dir / "unused");
    const auto warnings = [](const std::string& err) {
        std::size_t count = 0;
        for (std::size_t at = err.find("hash cache"); at != std::string::npos;
             at = err.find("hash cache", at + 1))
            ++count;
        return count;
    };
    // Garbage where the cache should be: emptied, one warning, the scan as without it.
    const std::string cache = Dir / "cache";
    MakeDir(cache);
    MakeDir(cache + "/Sorvik");
    WriteFile(cache + "/Sorvik/hashes.db", std::string(70000, 'g'));
    const TResult damaged = RunCaching(arguments, cache);
    EXPECT_EQ(damaged.ExitCode, 0) << damaged.Err;
    EXPECT_EQ(damaged.Out, reference.Out);
    EXPECT_EQ(warnings(damaged.Err), 1u) << damaged.Err;
    EXPECT_NE(damaged.Err.find("sorvik-scan: The hash cache \"" + cache +
                               "/Sorvik/hashes.db\" was damaged"),
              std::string::npos)
        << damaged.Err;
    const TResult after = RunCaching(arguments, cache);
    EXPECT_EQ(warnings(after.Err), 0u) << after.Err;
    // A cache folder that cannot be made.
    const std::string blocker = Dir / "blocker";
    WriteFile(blocker, "a file");
    const TResult unusable = RunCaching(arguments, blocker);
    EXPECT_EQ(unusable.ExitCode, 0) << unusable.Err;
    EXPECT_EQ(unusable.Out, reference.Out);
    EXPECT_EQ(warnings(unusable.Err), 1u) << unusable.Err;
    EXPECT_NE(unusable.Err.find("sorvik-scan: The program could not use the hash cache \"" +
                                blocker +
                                "/Sorvik/hashes.db\" (Not a directory); the scan goes "
                                "on without it.\n"),
              std::string::npos)
        << unusable.Err;
    // --help tells of it.
    EXPECT_NE(Run({"--help"}).Out.find("  --no-cache "), std::string::npos);
}

// Waits until the process has installed its Ctrl-C handler (its SIGINT is caught).
bool WaitForInterruptHandler(const QProcess& process) {
    const std::string status = "/proc/" + std::to_string(process.processId()) + "/status";
    return TestApplication::ServeUntil([&] {
        std::ifstream in(status);
        for (std::string line; std::getline(in, line);)
            if (line.rfind("SigCgt:", 0) == 0)
                return (std::stoull(line.substr(7), nullptr, 16) >> (SIGINT - 1) & 1) != 0;
        return false;
    });
}

TEST_F(SorvikScan, InterruptCancelsAndWritesNothing) {
    // Two large sparse files of equal size: comparing them byte for byte takes seconds.
    for (const char* file : {"big1", "big2"}) {
        const int fd = ::open((Dir / file).c_str(), O_WRONLY | O_CREAT, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 16LL << 30), 0);
        ::close(fd);
    }
    const std::string output = Dir / "results.txt";
    QProcess process;
    Start(process, SORVIK_SCAN_PROGRAM,
          {"--compare", "binaries", "--output", output, Dir / "big1", Dir / "big2"});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(WaitForInterruptHandler(process));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_FALSE(std::filesystem::exists(output));
}

TEST_F(SorvikScan, AWriteBlockedOnAPipeStillEndsOnCtrlC) {
    // Nobody reads the pipe: the results can never be written, and Ctrl-C must end it.
    WriteFile(Dir / "a", "same");
    WriteFile(Dir / "b", "same");
    const std::string pipe = Dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    QProcess process;
    Start(process, SORVIK_SCAN_PROGRAM, {"--output", pipe, Dir / "a", Dir / "b"});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(WaitForInterruptHandler(process));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitCode(), 130);
    // Nothing went into the pipe.
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0);
    ::close(reader);
}

TEST_F(SorvikScan, AWriteBlockedPartWayOnAPipeStillEndsOnCtrlC) {
    // The results are more than a pipe holds, and its reader reads nothing: the write
    // blocks with part of the text taken. Ctrl-C then ends the write with what it wrote,
    // which once went on to block again.
    const std::string name(150, 'n');
    MakeDir(Dir / "copies");
    for (int i = 0; i < 600; ++i)
        WriteFile(Dir / "copies/" + name + std::to_string(i), "same");
    const std::string pipe = Dir / "pipe";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const int reader = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    QProcess process;
    Start(process, SORVIK_SCAN_PROGRAM, {"--output", pipe, Dir / "copies"});
    ASSERT_TRUE(process.waitForStarted());
    ASSERT_TRUE(WaitForInterruptHandler(process));
    // The pipe full: its one write of all the results is blocked.
    const int capacity = ::fcntl(reader, F_GETPIPE_SZ);
    ASSERT_GT(capacity, 0);
    ASSERT_TRUE(TestApplication::ServeUntil([&] {
        int queued = 0;
        return ::ioctl(reader, FIONREAD, &queued) == 0 && queued >= capacity;
    }));
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    EXPECT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    if (process.state() != QProcess::NotRunning) {
        process.kill();
        process.waitForFinished();
    }
    ::close(reader);
}

TEST_F(SorvikScan, AResultsFileTheUserMayNotWriteIsRefusedBeforeTheScan) {
    // The shell's ">" refuses it; renaming a new file over it once replaced it. As root,
    // run as nobody, in a folder nobody may write to, so that only the file's own
    // permission stands in the way.
    if (::geteuid() == 0 && !std::filesystem::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "running as root without setpriv: every file is writable";
    WriteFile(Dir / "a", "same", 0644);
    WriteFile(Dir / "b", "same", 0644);
    const std::string output = Dir / "results.txt";
    WriteFile(output, "kept", 0444);
    ASSERT_EQ(::chmod(Dir.Path.c_str(), 0777), 0);
    if (::geteuid() == 0) {
        ASSERT_EQ(::chown(output.c_str(), 65534, 65534), 0);
    }
    std::vector<std::string> arguments = {"--output", output, Dir / "a", Dir / "b"};
    std::string program = SORVIK_SCAN_PROGRAM;
    if (::geteuid() == 0) {
        arguments.insert(arguments.begin(),
                         {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = "/usr/bin/setpriv";
    }
    QProcess process;
    Start(process, program, arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 1);
    EXPECT_EQ(process.readAllStandardError().toStdString(),
              "sorvik-scan: The program cannot write the results over the read-only file \"" +
                  output + "\".\n");
    EXPECT_EQ(TestFiles::ReadFile(output), "kept");
    // Nothing new beside it either.
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(Dir.Path),
                            std::filesystem::directory_iterator()),
              3);
}

TEST_F(SorvikScan, APathLongerThanTheSystemTakesIsAcceptedAsAnArgument) {
    // The same files were found by scanning their folders, but refused by name.
    MakeDir(Dir / "one");
    MakeDir(Dir / "two");
    const std::string first = TestFiles::MakeDeepFile(Dir / "one", 4200, "deep");
    const std::string second = TestFiles::MakeDeepFile(Dir / "two", 4200, "deep");
    ASSERT_GT(first.size(), 4096u);
    const TResult named = Run({first, second});
    EXPECT_EQ(named.ExitCode, 0) << named.Err.substr(0, 200);
    EXPECT_EQ(ParseGroups(named.Out), (TGroups{{first, second}}));
    const TResult found = Run({Dir.Path});
    EXPECT_EQ(ParseGroups(found.Out), ParseGroups(named.Out));
}

TEST_F(SorvikScan, TheResultsNeverGoOverAListedFile) {
    WriteFile(Dir / "a", "same");
    WriteFile(Dir / "b", "same");
    for (const std::string& output : {Dir / "a", Dir / "link-to-b"}) {
        if (output == Dir / "link-to-b") {
            ASSERT_EQ(::symlink((Dir / "b").c_str(), output.c_str()), 0);
        }
        const TResult result = Run({"--output", output, Dir.Path.c_str()});
        EXPECT_EQ(result.ExitCode, 1);
        EXPECT_NE(result.Err.find("The program cannot write the results over the listed file"),
                  std::string::npos);
    }
    std::ifstream a(Dir / "a"), b(Dir / "b");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(a), {}), "same");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(b), {}), "same");
}

TEST_F(SorvikScan, ALineBreakInANameNeverMakesTheLinesAmbiguous) {
    // "x\ny" and "x\ny" copies, and a unique "x": in lines the unique x would read as a
    // duplicate. Lines refuse such a path by name; NUL-separated output takes it.
    MakeDir(Dir / "d");
    WriteFile(Dir / "d/x\ny", "same");
    WriteFile(Dir / "d/x\nz", "same");
    WriteFile(Dir / "d/x", "other");
    const TResult lines = Run({"--output", Dir / "out", (Dir / "d").c_str()});
    EXPECT_EQ(lines.ExitCode, 1);
    EXPECT_NE(lines.Err.find("into the results file."), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(Dir / "out"));
    const TResult nul = Run({"--null", (Dir / "d").c_str()});
    ASSERT_EQ(nul.ExitCode, 0) << nul.Err;
    const std::string expected =
        Dir / "d/x\ny" + std::string(1, '\0') + Dir / "d/x\nz" + std::string(2, '\0');
    const std::string other =
        Dir / "d/x\nz" + std::string(1, '\0') + Dir / "d/x\ny" + std::string(2, '\0');
    EXPECT_TRUE(nul.Out == expected || nul.Out == other);
}

TEST_F(SorvikScan, OneFileUnderTwoNamesIsNoDuplicate) {
    // A hard link is the same file: removing "the copy" would remove the only one.
    WriteFile(Dir / "a", "content");
    ASSERT_EQ(::link((Dir / "a").c_str(), (Dir / "b").c_str()), 0);
    const TResult alone = Run({Dir.Path.c_str()});
    ASSERT_EQ(alone.ExitCode, 0) << alone.Err;
    EXPECT_TRUE(ParseGroups(alone.Out).empty());
    // A real copy still groups with one of the two names.
    WriteFile(Dir / "c", "content");
    const TResult copied = Run({Dir.Path.c_str()});
    const TGroups groups = ParseGroups(copied.Out);
    ASSERT_EQ(groups.size(), 1u);
    EXPECT_EQ(groups.begin()->size(), 2u);
    EXPECT_TRUE(groups.begin()->contains(Dir / "c"));
}

TEST_F(SorvikScan, AFolderOrFileThatCannotBeReadIsNamedAndLeftOut) {
    // /proc/self/mem is a regular file of size 0 whose read fails: its hash cannot be had.
    WriteFile(Dir / "empty", "");
    const TResult memory = Run({"/proc/self/mem", (Dir / "empty").c_str()});
    EXPECT_EQ(memory.ExitCode, 3);
    EXPECT_NE(memory.Err.find("could not get the hash value of the file \"/proc/"),
              std::string::npos)
        << memory.Err;
    EXPECT_NE(memory.Err.find("1 file or folder could not be read and was left out."),
              std::string::npos);
    EXPECT_EQ(Run({"--strict", "/proc/self/mem", (Dir / "empty").c_str()}).ExitCode, 1);

    // A folder without permission: as root, run as nobody so that the permission counts.
    if (::geteuid() == 0 && !std::filesystem::exists("/usr/bin/setpriv"))
        GTEST_SKIP() << "running as root without setpriv: no folder can be made unreadable";
    WriteFile(Dir / "one", "same", 0644);
    WriteFile(Dir / "two", "same", 0644);
    MakeDir(Dir / "locked");
    WriteFile(Dir / "locked/inside", "same", 0644);
    ASSERT_EQ(::chmod(Dir.Path.c_str(), 0755), 0);
    ASSERT_EQ(::chmod((Dir / "locked").c_str(), 0), 0);
    std::vector<std::string> arguments = {"--compare", "size,hash", Dir.Path};
    std::string program = SORVIK_SCAN_PROGRAM;
    if (::geteuid() == 0) {
        arguments.insert(arguments.begin(),
                         {"--reuid=65534", "--regid=65534", "--clear-groups", program});
        program = "/usr/bin/setpriv";
    }
    QProcess process;
    Start(process, program, arguments);
    ASSERT_TRUE(process.waitForFinished(60000));
    const std::string err = process.readAllStandardError().toStdString();
    EXPECT_EQ(process.exitCode(), 3) << err;
    EXPECT_NE(err.find("The program could not read the directory \"" + (Dir / "locked") + "\"."),
              std::string::npos)
        << err;
    EXPECT_EQ(ParseGroups(process.readAllStandardOutput().toStdString()),
              (TGroups{{Dir / "one", Dir / "two"}}));
    ASSERT_EQ(::chmod((Dir / "locked").c_str(), 0700), 0);
}

TEST_F(SorvikScan, OneFolderAtTwoMountPointsHoldsNoCopies) {
    // A bind mount shows the same files under a second folder, with the same device and
    // inode: none of them is a copy of itself. Made in a mount namespace of its own, so
    // nothing outlives the test.
    MakeDir(Dir / "a");
    MakeDir(Dir / "b");
    WriteFile(Dir / "a/photo", "picture");
    WriteFile(Dir / "a/notes", "text");
    const QString script =
        QStringLiteral("mount --bind '%1' '%2' && exec '%3' '%1' '%2'")
            .arg(QString::fromStdString(Dir / "a"), QString::fromStdString(Dir / "b"),
                 QStringLiteral(SORVIK_SCAN_PROGRAM));
    QProcess probe;
    Start(probe, "unshare", {"-m", "--propagation", "private", "sh", "-c", "mount --bind / /mnt"});
    if (!probe.waitForFinished(10000) || probe.exitCode() != 0)
        GTEST_SKIP() << "no bind mount can be made here (needs unshare and mount privileges)";
    QProcess process;
    Start(process, "unshare", {"-m", "--propagation", "private", "sh", "-c", script.toStdString()});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
    EXPECT_TRUE(ParseGroups(process.readAllStandardOutput().toStdString()).empty());
}
