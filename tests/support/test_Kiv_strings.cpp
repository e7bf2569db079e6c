#include "Kiv_strings.h"
#include "TestFiles.h"

#include <cstdint>
#include <gtest/gtest.h>
#include <limits>
#include <random>

using namespace Kiv_strings;

using TestFiles::MessageOf;

namespace {} // namespace

TEST(Quoting, QuotesAndDoublesInnerQuotes) {
    EXPECT_EQ(QuoteString("/home/me/My Files", '"'), "\"/home/me/My Files\"");
    EXPECT_EQ(QuoteString("say \"hi\"", '"'), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(QuoteString("", '"'), "\"\"");
    EXPECT_EQ(MessageOf<EStringError>([] { QuoteString("x", '\0'); }),
              "The program cannot quote the string.");
}

TEST(Quoting, DequoteTakesOnlyTheQuotedPart) {
    EXPECT_EQ(DequoteString("\"a\"\"b\" tail\"", '"'), "a\"b");
    EXPECT_EQ(DequoteString("\"open \"\"end", '"'), "open \"end");
    EXPECT_EQ(DequoteString(std::string("\"ab\0cd\"", 7), '"'), "ab");
    EXPECT_EQ(DequoteString("\"\"", '"'), "");
    const std::string failure = "The program cannot dequote the string.";
    EXPECT_EQ(MessageOf<EStringError>([] { DequoteString("", '"'); }), failure);
    EXPECT_EQ(MessageOf<EStringError>([] { DequoteString("x\"y\"", '"'); }), failure);
    EXPECT_EQ(MessageOf<EStringError>([] { DequoteString("\"y\"", '\0'); }), failure);
}

TEST(Quoting, DequoteInvertsQuoteForRandomTexts) {
    std::mt19937 random(3);
    const std::string alphabet = "ab \" \xC3\xA4/.";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        for (unsigned i = random() % 12; i > 0; --i)
            text += alphabet[random() % alphabet.size()];
        ASSERT_EQ(DequoteString(QuoteString(text, '"'), '"'), text);
    }
}

TEST(Grouping, GroupsOfThreeWithComma) {
    EXPECT_EQ(IntToGroupedStr(0, 3, ","), "0");
    EXPECT_EQ(IntToGroupedStr(999, 3, ","), "999");
    EXPECT_EQ(IntToGroupedStr(1000, 3, ","), "1,000");
    EXPECT_EQ(IntToGroupedStr(100000, 3, ","), "100,000");
    EXPECT_EQ(IntToGroupedStr(1234567, 3, ","), "1,234,567");
    EXPECT_EQ(IntToGroupedStr(std::numeric_limits<std::int32_t>::max(), 3, ","), "2,147,483,647");
    EXPECT_EQ(Int64ToGroupedStr(-1234567, 3, ","), "-1,234,567");
    EXPECT_EQ(UInt64ToGroupedStr(std::numeric_limits<std::uint64_t>::max(), 3, ","),
              "18,446,744,073,709,551,615");
    EXPECT_EQ(UInt64ToGroupedStr(123456, 2, "."), "12.34.56");
}

TEST(AddIfAbsent, TellsWhetherTheListGrew) {
    Kiv_framework::TStringList sorted;
    sorted.Sorted = true;
    sorted.Duplicates = Kiv_framework::TStringList::TDuplicates::dupIgnore;
    EXPECT_TRUE(AddIfAbsent(sorted, "Read.me"));
    EXPECT_FALSE(AddIfAbsent(sorted, "READ.ME"));
    EXPECT_TRUE(AddIfAbsent(sorted, "a"));
    EXPECT_EQ(sorted.Lines(), (std::vector<std::string>{"a", "Read.me"}));

    Kiv_framework::TStringList plain;
    EXPECT_TRUE(AddIfAbsent(plain, "x"));
    EXPECT_TRUE(AddIfAbsent(plain, "x"));
    EXPECT_EQ(plain.Count(), 2);
}
