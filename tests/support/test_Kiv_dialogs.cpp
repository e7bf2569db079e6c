#include "Kiv_dialogs.h"

#include <gtest/gtest.h>

using Kiv_dialogs::EDialogError;
using Kiv_dialogs::ParseFilter;

TEST(FileFilter, PairsOfNameAndPatterns) {
    const auto filters = ParseFilter("Text (*.txt)|*.txt|Pictures|*.png;*.jpg;|All (*.*)|*.*");
    ASSERT_EQ(filters.size(), 3u);
    EXPECT_EQ(filters[0].Name, "Text (*.txt)");
    EXPECT_EQ(filters[0].Patterns, std::vector<std::string>{"*.txt"});
    EXPECT_EQ(filters[1].Patterns, (std::vector<std::string>{"*.png", "*.jpg"}));
    EXPECT_EQ(filters[2].Patterns, std::vector<std::string>{"*.*"});
    EXPECT_TRUE(ParseFilter("").empty());
}

TEST(FileFilter, AnOddPartOrNoPatternIsRefused) {
    EXPECT_THROW(ParseFilter("Text (*.txt)"), EDialogError);
    EXPECT_THROW(ParseFilter("Text|*.txt|All"), EDialogError);
    EXPECT_THROW(ParseFilter("Text|;"), EDialogError);
}
