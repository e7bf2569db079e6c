#include "Kiv_locale.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Kiv_locale;

TEST(LowerFileName, LowersAsciiLetters) {
    EXPECT_EQ(LowerFileName("Report.TXT"), "report.txt");
    EXPECT_EQ(LowerFileName("/Home/User/A-Z_09"), "/home/user/a-z_09");
    EXPECT_EQ(LowerFileName(""), "");
}

TEST(LowerFileName, LowersNonAsciiLetters) {
    EXPECT_EQ(LowerFileName("ÄBC.txt"), "äbc.txt");
    EXPECT_EQ(LowerFileName("ÖÜÉÑ"), "öüéñ");
    EXPECT_EQ(LowerFileName("ΣΟΦΙΑ"), "σοφια");                       // Greek
    EXPECT_EQ(LowerFileName("МОСКВА"), "москва");                     // Cyrillic
    EXPECT_EQ(LowerFileName("\xF0\x90\x90\x80"), "\xF0\x90\x90\xA8"); // U+10400 -> U+10428
    EXPECT_EQ(LowerFileName("日本語.TXT"), "日本語.txt");             // no case: unchanged
}

TEST(LowerFileName, KeepsBytesOfInvalidSequences) {
    // A lone continuation byte, a truncated sequence, overlong forms, a surrogate, a code
    // point past U+10FFFF and bytes that never start a sequence: each byte stays, the
    // letters around them are lowered. (Octal escapes: a hex escape would swallow the
    // letter after it.)
    EXPECT_EQ(LowerFileName("A\200B"), "a\200b");
    EXPECT_EQ(LowerFileName("X\303"), "x\303");
    EXPECT_EQ(LowerFileName("\303A"), "\303a");
    EXPECT_EQ(LowerFileName("\342\202Ä"), "\342\202ä");
    EXPECT_EQ(LowerFileName("\300\301Q"), "\300\301q");
    EXPECT_EQ(LowerFileName("\xE0\x80\x80"), "\xE0\x80\x80");
    EXPECT_EQ(LowerFileName("\xED\xA0\x80"), "\xED\xA0\x80");
    EXPECT_EQ(LowerFileName("\xF4\x90\x80\x80"), "\xF4\x90\x80\x80");
    EXPECT_EQ(LowerFileName("\377\376Z"), "\377\376z");
    const std::string withNul("A\0B", 3);
    EXPECT_EQ(LowerFileName(withNul), std::string("a\0b", 3));
}

TEST(UpperFileName, UppersByTheSameRules) {
    EXPECT_EQ(UpperFileName("archive.tar.gz"), "ARCHIVE.TAR.GZ");
    EXPECT_EQ(UpperFileName("\xC3\xA4"
                            "bc.txt"),
              "\xC3\x84"
              "BC.TXT"); // äbc.txt
    // A byte of no well-formed sequence stays; the letters around it still change.
    EXPECT_EQ(UpperFileName("a\xFF"
                            "b\xC3"),
              "A\xFF"
              "B\xC3");
    EXPECT_EQ(UpperFileName(""), "");
    EXPECT_EQ(LowerFileName(UpperFileName("Mixed.Case")), "mixed.case");
}

TEST(AppendLowerFileName, AppendsToWhatIsThere) {
    std::string out = "key:";
    AppendLowerFileName("ÄB", out);
    EXPECT_EQ(out, "key:äb");
}

TEST(SameFileName, IgnoresLetterCase) {
    EXPECT_TRUE(SameFileName("Report.TXT", "report.txt"));
    EXPECT_TRUE(SameFileName("ÄBC.txt", "äbc.txt"));
    EXPECT_TRUE(SameFileName("/Home/Ä", "/home/ä"));
    EXPECT_TRUE(SameFileName("", ""));
    EXPECT_FALSE(SameFileName("report.txt", "report.txt "));
    EXPECT_FALSE(SameFileName("abc", "abd"));
    EXPECT_FALSE(SameFileName("äbc.txt", "abc.txt")); // a letter, not its base letter
    EXPECT_FALSE(SameFileName("a", ""));
}

TEST(SameFileName, ComparesInvalidBytesExactly) {
    EXPECT_TRUE(SameFileName("A\xFF.txt", "a\xFF.TXT"));
    EXPECT_FALSE(SameFileName("a\xFF.txt", "a\xFE.txt"));
    // A replacement character is not the invalid byte it would be shown as.
    EXPECT_FALSE(SameFileName("a\xFF", "a\xEF\xBF\xBD"));
    // The bytes of an invalid sequence are not lowered as if they were Latin-1.
    EXPECT_FALSE(SameFileName("\xC4", "\xE4"));
}

TEST(SameFileName, IsSymmetric) {
    const std::vector<std::string> names = {"a", "A", "ä", "Ä", "a\xFF", "A\xFF", "", "ab"};
    for (const auto& a : names)
        for (const auto& b : names)
            EXPECT_EQ(SameFileName(a, b), SameFileName(b, a)) << a << " / " << b;
}

TEST(SameFileName, AgreesWithLowerFileName) {
    const std::vector<std::string> names = {"Report.TXT", "report.txt", "ÄBC",   "äbc", "x\xC3",
                                            "X\xC3",      "ΣΟΦΙΑ",      "σοφια", "abc"};
    for (const auto& a : names)
        for (const auto& b : names)
            EXPECT_EQ(SameFileName(a, b), LowerFileName(a) == LowerFileName(b)) << a << " / " << b;
}

TEST(CompareText, IsCaseSensitive) {
    EXPECT_EQ(CompareText("Text Document", "Text Document"), 0);
    EXPECT_NE(CompareText("Text Document", "text document"), 0);
    EXPECT_LT(CompareText("apple", "banana"), 0);
    EXPECT_GT(CompareText("banana", "apple"), 0);
}

TEST(TCollationKey, OrdersAsCompareText) {
    const std::vector<std::string> texts = {"banana", "Apple", "apple", "cherry", "Äpfel",
                                            "a\xFF",  "",      "10",    "9",      "zebra"};
    for (const auto& a : texts)
        for (const auto& b : texts) {
            const int byText = CompareText(a, b);
            const int byKey = TCollationKey(a).Compare(TCollationKey(b));
            EXPECT_EQ(byText < 0, byKey < 0) << a << " / " << b;
            EXPECT_EQ(byText == 0, byKey == 0) << a << " / " << b;
        }
}

TEST(TCollationKey, SortsAListByKeysComputedOnce) {
    std::vector<std::string> texts = {"delta", "Alpha", "charlie", "bravo", "alpha"};
    std::vector<std::pair<TCollationKey, std::string>> keyed;
    for (const auto& text : texts)
        keyed.emplace_back(TCollationKey(text), text);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    for (std::size_t k = 1; k < keyed.size(); ++k)
        EXPECT_LE(CompareText(keyed[k - 1].second, keyed[k].second), 0);
    EXPECT_EQ(keyed.back().second, "delta");
}
