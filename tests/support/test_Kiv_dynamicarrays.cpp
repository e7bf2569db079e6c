#include "Kiv_dynamicarrays.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Kiv_dynamicarrays;

namespace {

std::vector<std::string> ToVector(const TStringDynArray& array) {
    return {array.begin(), array.end()};
}

using Lines = std::vector<std::string>;

} // namespace

TEST(DynamicArray, CopiesShareOneBufferUntilResized) {
    TIntegerDynArray a{1, 2, 3};
    TIntegerDynArray b = a;
    b[1] = 20;
    EXPECT_EQ(a[1], 20);
    EXPECT_TRUE(a.SharesBufferWith(b));

    b.SetLength(4);
    b[0] = 10;
    EXPECT_EQ(a[0], 1);
    EXPECT_EQ((std::vector<int>{b.begin(), b.end()}), (std::vector<int>{10, 20, 3, 0}));

    TIntegerDynArray c = a.Copy();
    c[2] = 30;
    EXPECT_EQ(a[2], 3);
    EXPECT_THROW(a.At(3), Kiv_framework::ERangeError);
    EXPECT_THROW(a.At(-1), Kiv_framework::ERangeError);
}

TEST(DynamicArrayBuilder, GrowsByHalfFromEight) {
    TDynamicArrayBuilder<int> builder;
    std::vector<int> capacities;
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(builder.Add(i * 7), i);
        if (capacities.empty() || capacities.back() != builder.Capacity())
            capacities.push_back(builder.Capacity());
    }
    EXPECT_EQ(capacities, (std::vector<int>{8, 12, 18, 27, 40, 60, 90, 135}));
    const auto values = builder.Extract();
    ASSERT_EQ(values.Length(), 100);
    EXPECT_EQ(values[99], 693);
    EXPECT_EQ(builder.Count, 0);
    EXPECT_EQ(builder.Capacity(), 0);
}

TEST(DynamicArrayBuilder, SetCapacityBelowCountFailsAndChangesNothing) {
    TDynamicArrayBuilder<int> builder;
    builder.SetCapacity(3);
    for (int v : {5, 6, 7})
        builder.Add(v);
    try {
        builder.SetCapacity(2);
        FAIL() << "no error";
    } catch (const EDynamicArrayError& error) {
        EXPECT_STREQ(error.what(), "The program cannot set the capacity.");
    }
    EXPECT_EQ(builder.Count, 3);
    EXPECT_EQ(builder.Capacity(), 3);
    const auto values = builder.Extract();
    EXPECT_EQ((std::vector<int>{values.begin(), values.end()}), (std::vector<int>{5, 6, 7}));
}

TEST(DynamicArrayBuilder, ClearKeepsCapacityOnlyWhenEmpty) {
    TDynamicArrayBuilder<int> builder;
    builder.SetCapacity(10);
    builder.Clear();
    EXPECT_EQ(builder.Capacity(), 10);
    builder.Add(1);
    builder.Clear();
    EXPECT_EQ(builder.Capacity(), 0);
    EXPECT_EQ(TDynamicArrayBuilder<int>().Extract().Length(), 0);
}

TEST(StringArrays, TextToLinesSplitsAtEveryKindOfBreak) {
    EXPECT_EQ(ToVector(TextToLines("x\r\ny\n")), (Lines{"x", "y"}));
    EXPECT_EQ(ToVector(TextToLines("\r\n\r\n")), (Lines{"", ""}));
    EXPECT_EQ(ToVector(TextToLines("a\rb\n\nc")), (Lines{"a", "b", "", "c"}));
    EXPECT_EQ(ToVector(TextToLines("a\n\rb")), (Lines{"a", "", "b"}));
    EXPECT_EQ(ToVector(TextToLines("")), Lines{});
    EXPECT_EQ(ToVector(TextToLines(std::string("a\nb\0c\nd", 7))), (Lines{"a", "b"}));
    EXPECT_EQ(ToVector(TextToLines("  \n")), (Lines{"  "}));
}

TEST(StringArrays, DropEmptyLinesKeepsBlanksAndOrder) {
    const TStringDynArray lines{"a", "", "", "b", ""};
    EXPECT_EQ(ToVector(DropEmptyLines(lines)), (Lines{"a", "b"}));
    EXPECT_EQ(ToVector(DropEmptyLines(TStringDynArray{" ", "", "c"})), (Lines{" ", "c"}));
    EXPECT_EQ(lines.Length(), 5);
}

TEST(StringArrays, StringListRoundTrip) {
    Kiv_framework::TStringList list{"one", "two"};
    const auto array = StringsToArray(list);
    EXPECT_EQ(ToVector(array), (Lines{"one", "two"}));
    ArrayToStrings(TStringDynArray{"x", "y", "z"}, list);
    EXPECT_EQ(list.Lines(), (Lines{"x", "y", "z"}));
}
