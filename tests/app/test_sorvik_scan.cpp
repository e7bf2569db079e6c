// sorvik-scan end to end: the program is run as a user would run it.
#include "EntriesTestSupport.h"
#include "TestApplication.h"

#include <QCoreApplication>
#include <QProcess>
#include <chrono>
#include <csignal>
#include <fstream>
#include <gtest/gtest.h>
#include <random>
#include <set>
#include <thread>

using EntriesTest::MakeDir;
using EntriesTest::TTempDir;
using EntriesTest::WriteFile;

namespace {

using TGroups = std::set<std::set<std::string>>;

struct TResult {
    int ExitCode = -1;
    std::string Out;
    std::string Err;
};

class SorvikScan : public ::testing::Test {
protected:
    static TResult Run(const QStringList& arguments, const std::string& directory = "") {
        QProcess process;
        if (!directory.empty())
            process.setWorkingDirectory(QString::fromStdString(directory));
        process.start(QStringLiteral(SORVIK_SCAN_PROGRAM), arguments);
        EXPECT_TRUE(process.waitForFinished(60000));
        return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
                process.readAllStandardOutput().toStdString(),
                process.readAllStandardError().toStdString()};
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
    const TResult ours = Run({"--compare", "size,hash", QString::fromStdString(root)});
    ASSERT_EQ(ours.ExitCode, 0) << ours.Err;
    QProcess fdupes;
    fdupes.start("fdupes", {"-r", "-q", QString::fromStdString(root)});
    ASSERT_TRUE(fdupes.waitForFinished(60000));
    const TGroups expected = ParseGroups(fdupes.readAllStandardOutput().toStdString());
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(ParseGroups(ours.Out), expected);
    EXPECT_NE(ours.Err.find(" duplicate files in "), std::string::npos);
    // Comparing the bytes instead of the hashes finds the same.
    const TResult bytes = Run({"--compare", "size,binaries", QString::fromStdString(root)});
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
        Run({"--output", QString::fromStdString(output), "--secondary",
             QString::fromStdString(Dir / "secondary"), QString::fromStdString(Dir / "primary")});
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
}

TEST_F(SorvikScan, ExitCodesAndMessages) {
    EXPECT_EQ(Run({"--help"}).ExitCode, 0);
    const TResult version = Run({"--version"});
    EXPECT_EQ(version.ExitCode, 0);
    EXPECT_EQ(version.Out.rfind("sorvik-scan ", 0), 0u);
    EXPECT_EQ(Run({}).ExitCode, 2);
    EXPECT_EQ(Run({"--bogus", Dir.Path.c_str()}).ExitCode, 2);
    const TResult badCriterion = Run({"--compare", "size,colour", Dir.Path.c_str()});
    EXPECT_EQ(badCriterion.ExitCode, 2);
    EXPECT_NE(badCriterion.Err.find("Usage: sorvik-scan"), std::string::npos);
    EXPECT_EQ(Run({"--output"}).ExitCode, 2);

    const std::string missing = Dir / "missing";
    const TResult error = Run({QString::fromStdString(missing)});
    EXPECT_EQ(error.ExitCode, 1);
    EXPECT_EQ(error.Err, "sorvik-scan: The program cannot accept the file \"" + missing + "\".\n");
    EXPECT_TRUE(error.Out.empty());

    // Only secondary files: nothing to group around.
    MakeDir(Dir / "empty");
    WriteFile(Dir / "s", "s");
    const TResult noPrimary = Run(
        {"--secondary", QString::fromStdString(Dir / "s"), QString::fromStdString(Dir / "empty")});
    EXPECT_EQ(noPrimary.ExitCode, 1);
    EXPECT_EQ(noPrimary.Err, "sorvik-scan: Specify primary entries to perform a scan task.\n");
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
    process.start(QStringLiteral(SORVIK_SCAN_PROGRAM),
                  {"--compare", "binaries", "--output", QString::fromStdString(output),
                   QString::fromStdString(Dir / "big1"), QString::fromStdString(Dir / "big2")});
    ASSERT_TRUE(process.waitForStarted());
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    ASSERT_EQ(process.state(), QProcess::Running);
    ::kill(static_cast<pid_t>(process.processId()), SIGINT);
    ASSERT_TRUE(process.waitForFinished(30000));
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(process.exitCode(), 130);
    EXPECT_FALSE(std::filesystem::exists(output));
}
