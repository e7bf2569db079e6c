#include "Kiv_framework.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using namespace Kiv_framework;

namespace {

struct TReceiver {
    void Changed(int* sender, int value) { Calls.push_back(*sender + value); }
    std::vector<int> Calls;
};

TStringList SortedIgnoringDuplicates(bool caseSensitive) {
    TStringList list;
    list.Sorted = true;
    list.CaseSensitive = caseSensitive;
    list.Duplicates = TStringList::TDuplicates::dupIgnore;
    return list;
}

} // namespace

TEST(Event, HoldsOneSubscriberAndDoesNothingWhenEmpty) {
    TEvent<int*, int> event;
    int sender = 10;
    EXPECT_FALSE(event);
    event(&sender, 1); // an empty slot is a no-op

    TReceiver first;
    TReceiver second;
    event.Bind(&first, &TReceiver::Changed);
    event(&sender, 1);
    event.Bind(&second, &TReceiver::Changed);
    event(&sender, 2);
    EXPECT_EQ(first.Calls, std::vector<int>{11});
    EXPECT_EQ(second.Calls, std::vector<int>{12});

    int lambdaCalls = 0;
    event = [&](int*, int) { ++lambdaCalls; };
    event(&sender, 0);
    EXPECT_EQ(lambdaCalls, 1);
    event.Clear();
    EXPECT_FALSE(event);
}

TEST(CharAt, IsOneBasedAndBoundsChecked) {
    EXPECT_EQ(CharAt("abc", 1), 'a');
    EXPECT_EQ(CharAt("abc", 3), 'c');
    EXPECT_THROW(CharAt("abc", 0), ERangeError);
    EXPECT_THROW(CharAt("abc", 4), ERangeError);
    EXPECT_THROW(Abort(), EAbort);
}

TEST(ToSize, AnIntIndexIsTakenAsItIsAndANegativeOneIsRefused) {
    EXPECT_EQ(ToSize(0), 0u);
    EXPECT_EQ(ToSize(2147483647), 2147483647u);
    EXPECT_THROW(ToSize(-1), ERangeError);

    TIntIndexedVector<int> numbers(std::vector<int>{10, 20, 30});
    numbers[1] = 21;
    EXPECT_EQ(numbers[std::size_t{1}], 21);
    const TIntIndexedVector<int>& fixed = numbers;
    EXPECT_EQ(fixed[2], 30);
    EXPECT_THROW((void)fixed[-1], ERangeError);
    TIntIndexedVector<bool> flags(3, false);
    flags[2] = true;
    EXPECT_EQ(flags, (std::vector<bool>{false, false, true}));
    EXPECT_THROW(flags[-3] = true, ERangeError);
}

TEST(StringList, SortedListKeepsOrderAndFindsLines) {
    TStringList list = SortedIgnoringDuplicates(false);
    int marker = 0;
    for (const char* text : {"delta", "Alpha", "charlie", "bravo", "ALPHA"})
        list.Add(text, &marker);
    EXPECT_EQ(list.Lines(), (std::vector<std::string>{"Alpha", "bravo", "charlie", "delta"}));
    int index = -1;
    EXPECT_TRUE(list.Find("CHARLIE", index));
    EXPECT_EQ(index, 2);
    EXPECT_FALSE(list.Find("beta", index));
    EXPECT_EQ(index, 1); // where it would go
    EXPECT_EQ(list.IndexOf("DELTA"), 3);
    EXPECT_EQ(list.Objects(0), &marker);
    list.Delete(0);
    EXPECT_EQ(list.IndexOf("alpha"), -1);
    EXPECT_THROW(list.Delete(5), ERangeError);
    EXPECT_THROW(list[-1], ERangeError);

    TStringList exact = SortedIgnoringDuplicates(true);
    exact.Add("b");
    exact.Add("B");
    exact.Add("b");
    EXPECT_EQ(exact.Lines(), (std::vector<std::string>{"B", "b"}));
}

TEST(StringList, UnsortedListAcceptsDuplicatesInOrder) {
    TStringList list{"x", "a", "x"};
    EXPECT_EQ(list.Count(), 3);
    EXPECT_EQ(list.IndexOf("X"), 0);
    EXPECT_EQ(list.Add("a"), 3);
}
