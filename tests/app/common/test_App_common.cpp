// The application frame: texts, flag strings, the unavailable command, the constants and
// the error box.
#include "App_common.h"
#include "TestDialogs.h"

#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>
#include <limits>
#include <string>

using namespace App_common;

namespace {

constexpr std::uint64_t Ticks = 10'000'000;
constexpr std::int64_t Epoch = 11'644'473'600;

std::uint64_t FileTimeOf(int year, int month, int day, int hour, int minute, int second,
                         std::uint64_t fraction) {
    std::tm fields{};
    fields.tm_year = year - 1900;
    fields.tm_mon = month - 1;
    fields.tm_mday = day;
    fields.tm_hour = hour;
    fields.tm_min = minute;
    fields.tm_sec = second;
    return static_cast<std::uint64_t>(::timegm(&fields) + Epoch) * Ticks + fraction;
}

class TimeZone {
public:
    explicit TimeZone(const char* zone) {
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    ~TimeZone() {
        ::unsetenv("TZ");
        ::tzset();
    }
};

class TSampleCommands : public TCommands {
public:
    bool CanRun() const { return Enabled; }
    void Run() {
        if (!CanRun())
            Unavailable();
        ++Runs;
    }
    bool Enabled = false;
    int Runs = 0;
};

} // namespace

TEST(FileTimeToText, UnknownErrorAndSevenDigitFraction) {
    TimeZone zone("UTC0");
    EXPECT_EQ(FileTimeToText(0, true), "(Unknown)");
    EXPECT_EQ(FileTimeToText(0, false), "(Unknown)");
    EXPECT_EQ(FileTimeToText(std::numeric_limits<std::uint64_t>::max(), true), "(Error)");
    EXPECT_EQ(FileTimeToText(FileTimeOf(2012, 3, 4, 5, 6, 7, 1234567), true),
              "2012-03-04 05:06:07.1234567");
    EXPECT_EQ(FileTimeToText(FileTimeOf(2024, 2, 29, 12, 0, 0, 0), false),
              "2024-02-29 12:00:00.0000000");
    EXPECT_EQ(FileTimeToText(1, false), "1601-01-01 00:00:00.0000001");
}

TEST(FileTimeToText, ConvertsToTheSystemTimeZone) {
    TimeZone zone("CET-1");
    const auto noonUtc = FileTimeOf(2020, 6, 1, 12, 0, 0, 42);
    EXPECT_EQ(FileTimeToText(noonUtc, true), "2020-06-01 13:00:00.0000042");
    EXPECT_EQ(FileTimeToText(noonUtc, false), "2020-06-01 12:00:00.0000042");
    TimeZone west("EST5");
    // One tick after the start of file time lies before it in a zone west of Greenwich.
    EXPECT_EQ(FileTimeToText(1, true), "(Error)");
}

TEST(TextRoutines, CountsAndSizesAreGroupedWithCommas) {
    EXPECT_EQ(CountToText(0), "0");
    EXPECT_EQ(CountToText(100000), "100,000");
    EXPECT_EQ(SizeToText(1234567), "1,234,567");
    EXPECT_EQ(SizeToText(std::numeric_limits<std::uint64_t>::max()), "18,446,744,073,709,551,615");
}

TEST(FlagStrings, OneCharacterPerMemberInEnumerationOrder) {
    // Size, Type and Hash of the twelve criteria.
    const std::uint32_t start = (1u << 4) | (1u << 5) | (1u << 10);
    EXPECT_EQ(SetToFlagString(start, 12), "000011000010");
    EXPECT_EQ(FlagStringToSet("000011000010", 12), start);
    EXPECT_EQ(FlagStringToSet("x0000000000?", 12), 1u | (1u << 11));
    EXPECT_EQ(FlagStringToSet("1111111111111111", 12), 0xFFFu);
    EXPECT_EQ(FlagStringToSet("01100000000011", 14), FlagStringToSet("011000000000111", 14));
    EXPECT_THROW(FlagStringToSet("0", 14), Kiv_framework::ERangeError);
    EXPECT_THROW(FlagStringToSet("", 12), Kiv_framework::ERangeError);
}

TEST(Commands, UnavailableCommandRaisesAndChangesNothing) {
    TSampleCommands commands;
    try {
        commands.Run();
        FAIL() << "no error";
    } catch (const EAppError& error) {
        EXPECT_STREQ(error.what(), "The feature is unavailable.");
    }
    EXPECT_EQ(commands.Runs, 0);
    commands.Enabled = true;
    commands.Run();
    EXPECT_EQ(commands.Runs, 1);
}

TEST(Constants, TheVersionIsTheBuildsAndTheAboutBoxNamesIt) {
    // The about box names the version the build was made as, and nothing else does.
    EXPECT_STREQ(AppVersion, PROJECT_VERSION_TEXT);
    const std::string about = AboutText();
    const std::string head = std::string("Sorvik ") + PROJECT_VERSION_TEXT + "\r\n\r\n";
    EXPECT_EQ(about.substr(0, head.size()), head);
    EXPECT_GT(about.size(), head.size());
    EXPECT_EQ(about.find("\r\n", head.size()), std::string::npos);
    EXPECT_EQ(std::string(AppTitle), "Sorvik");
}

TEST(ErrorBox, ErrorIconOneOkCaptionSorvikAndAFullStopAfterLettersOnly) {
    TestDialogs::TTestDialogs dialogs;
    App_common::ShowException(dialogs, App_common::EAppError("The file is gone"));
    App_common::ShowException(dialogs, Kiv_framework::Exception("It failed."));
    App_common::ShowException(dialogs, Kiv_framework::ERangeError());
    App_common::ShowException(dialogs, std::runtime_error("Gone?"));
    App_common::ShowException(dialogs, std::runtime_error("Broken ("));
    ASSERT_EQ(dialogs.Messages.size(), 5u);
    for (const auto& box : dialogs.Messages) {
        EXPECT_EQ(box.Caption, "Sorvik");
        EXPECT_EQ(box.Icon, Kiv_dialogs::miError);
        EXPECT_EQ(box.Buttons, Kiv_dialogs::mbOk);
    }
    EXPECT_EQ(dialogs.Messages[0].Text, "The file is gone.");
    EXPECT_EQ(dialogs.Messages[1].Text, "It failed.");
    EXPECT_EQ(dialogs.Messages[2].Text, "Range check error.");
    // "?" sorts after "." and "(" before it.
    EXPECT_EQ(dialogs.Messages[3].Text, "Gone?.");
    EXPECT_EQ(dialogs.Messages[4].Text, "Broken (");
    EXPECT_EQ(App_common::ErrorBoxText(""), "");
    // A name that ends in a byte of a multi-byte character still gets its full stop.
    EXPECT_EQ(App_common::ErrorBoxText("The file \"\xc3\xa4"), "The file \"\xc3\xa4.");
}

TEST(ErrorBox, ASilentAbortShowsNothing) {
    TestDialogs::TTestDialogs dialogs;
    App_common::ShowException(dialogs, Kiv_framework::EAbort());
    try {
        Kiv_framework::Abort();
    } catch (const std::exception& error) {
        App_common::ShowException(dialogs, error);
    }
    EXPECT_TRUE(dialogs.Messages.empty());
}

TEST(Question, OnlyYesGoesOnAndNoCanBeTheDefault) {
    TestDialogs::TTestDialogs dialogs;
    dialogs.AnswerMessage(Kiv_dialogs::mrYes);
    App_common::Confirm(dialogs, "Do you want to go on?");
    for (const Kiv_dialogs::TModalResult answer : {Kiv_dialogs::mrNo, Kiv_dialogs::mrCancel}) {
        dialogs.AnswerMessage(answer);
        EXPECT_THROW(App_common::Confirm(dialogs, "Do you want to lose it?", true),
                     Kiv_framework::EAbort);
    }
    ASSERT_EQ(dialogs.Messages.size(), 3u);
    for (const auto& box : dialogs.Messages) {
        EXPECT_EQ(box.Caption, "Sorvik");
        EXPECT_EQ(box.Icon, Kiv_dialogs::miWarning);
        EXPECT_EQ(box.Buttons, Kiv_dialogs::mbYesNo);
    }
    EXPECT_EQ(dialogs.Messages[0].Text, "Do you want to go on?");
    EXPECT_EQ(dialogs.Messages[0].DefaultButton, 0);
    EXPECT_EQ(dialogs.Messages[1].DefaultButton, 1);
}
