// The scanner's command line: what the arguments ask for, and the criteria's words.
#include "App_document_commandline.h"

#include <gtest/gtest.h>

using namespace App_document;

namespace {

TScanCommandLine Parse(const std::vector<std::string>& arguments) {
    return ParseScanCommandLine(arguments, "/home/user");
}

std::string UsageErrorOf(const std::vector<std::string>& arguments) {
    try {
        Parse(arguments);
    } catch (const EUsageError& error) {
        return error.Message();
    }
    return "no error";
}

} // namespace

TEST(ScanCommandLine, CriteriaWordsNameEveryAspectOnce) {
    for (int k = 0; k < ScanAspectCount; ++k) {
        const auto aspect = static_cast<TScanAspect>(k);
        EXPECT_EQ(AspectOfWord(WordOfAspect(aspect)), aspect);
    }
    EXPECT_FALSE(AspectOfWord("Size").has_value()); // words are exact
    EXPECT_FALSE(AspectOfWord("").has_value());
    EXPECT_EQ(Parse({"--compare", "binaries,size", "/x"}).Aspects,
              (TScanAspects{saSize, saBinaries}));
    // No criterion would make every file a copy of the first primary one.
    EXPECT_EQ(UsageErrorOf({"--compare=", "/x"}), "--compare needs at least one criterion");
    EXPECT_EQ(UsageErrorOf({"--compare", "", "/x"}), "--compare needs at least one criterion");
    EXPECT_EQ(Parse({"/x"}).Aspects, DefaultScanAspects);
    EXPECT_EQ(UsageErrorOf({"--compare", "size,", "/x"}), "unknown criterion \"\"");
    EXPECT_EQ(UsageErrorOf({"--compare", ",", "/x"}), "unknown criterion \"\"");
    EXPECT_EQ(UsageErrorOf({"--compare", "size,,hash", "/x"}), "unknown criterion \"\"");
}

TEST(ScanCommandLine, PathsOptionsAndTheEndOfOptions) {
    const TScanCommandLine line = Parse({"a", "--secondary", "../b", "--output=out.txt", "--strict",
                                         "--null", "/c", "-", "--", "--help", "-platform", ""});
    EXPECT_EQ(line.Request, TScanCommandLine::crScan);
    EXPECT_EQ(line.Primary,
              (std::vector<std::string>{"/home/user/a", "/c", "/home/user/-", "/home/user/--help",
                                        "/home/user/-platform", ""}));
    EXPECT_EQ(line.Secondary, std::vector<std::string>{"/home/user/../b"});
    EXPECT_EQ(line.Output, "out.txt");
    EXPECT_TRUE(line.Strict);
    EXPECT_TRUE(line.NullSeparated);
    EXPECT_FALSE(line.NoCache);
    EXPECT_FALSE(line.Verbose);
    const TScanCommandLine cacheless = Parse({"--no-cache", "--verbose", "/x", "--", "--no-cache"});
    EXPECT_TRUE(cacheless.NoCache);
    EXPECT_TRUE(cacheless.Verbose);
    EXPECT_EQ(cacheless.Primary, (std::vector<std::string>{"/x", "/home/user/--no-cache"}));
    EXPECT_EQ(UsageErrorOf({"--no-cache=1", "/x"}), "unknown option \"--no-cache=1\"");
    EXPECT_EQ(Parse({"--version", "--bogus"}).Request, TScanCommandLine::crVersion);
    EXPECT_EQ(Parse({"-h"}).Request, TScanCommandLine::crHelp);
    EXPECT_EQ(UsageErrorOf({}), "no path given");
    EXPECT_EQ(UsageErrorOf({"--output"}), "--output needs a value");
    EXPECT_EQ(UsageErrorOf({"--output=", "/x"}), "--output needs a file name");
    EXPECT_EQ(UsageErrorOf({"--bogus", "/x"}), "unknown option \"--bogus\"");
}

TEST(ScanCommandLine, WithoutACurrentDirectoryRelativePathsStayRelative) {
    // The process's folder was removed: "a" names nothing, and never "/a".
    const TScanCommandLine line = ParseScanCommandLine({"a", "--secondary", "b", "/c"}, "");
    EXPECT_EQ(line.Primary, (std::vector<std::string>{"a", "/c"}));
    EXPECT_EQ(line.Secondary, std::vector<std::string>{"b"});
}
