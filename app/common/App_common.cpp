#include "App_common.h"

#include "Kiv_strings.h"

#include <cstdio>
#include <ctime>
#include <limits>

namespace App_common {

void TSettingsHandler::Load(TMemIniFile&, const std::string&) {}

void TSettingsHandler::Save(TMemIniFile&, const std::string&) {}

void TCommands::Unavailable() {
    throw EAppError("The feature is unavailable.");
}

std::string SetToFlagString(std::uint32_t members, int memberCount) {
    std::string text(static_cast<std::size_t>(memberCount), '0');
    for (int k = 0; k < memberCount; ++k)
        if (members & (1u << k))
            text[static_cast<std::size_t>(k)] = '1';
    return text;
}

std::uint32_t FlagStringToSet(const std::string& text, int memberCount) {
    std::uint32_t members = 0;
    for (int k = 0; k < memberCount; ++k)
        if (Kiv_framework::CharAt(text, static_cast<std::size_t>(k) + 1) != '0')
            members |= 1u << k;
    return members;
}

const char* const AppTitle = "Sorvik";

std::string ErrorBoxText(const std::string& message) {
    if (!message.empty() && static_cast<unsigned char>(message.back()) > '.')
        return message + ".";
    return message;
}

void Confirm(Kiv_dialogs::TDialogs& dialogs, const std::string& question, bool noByDefault) {
    Kiv_dialogs::TMessageRequest request{question, AppTitle, Kiv_dialogs::miWarning,
                                         Kiv_dialogs::mbYesNo};
    if (noByDefault)
        request.DefaultButton = 1;
    if (dialogs.MessageBox(request) != Kiv_dialogs::mrYes)
        Kiv_framework::Abort();
}

void ShowException(Kiv_dialogs::TDialogs& dialogs, const std::exception& error) {
    if (dynamic_cast<const Kiv_framework::EAbort*>(&error))
        return;
    dialogs.MessageBox(
        {ErrorBoxText(error.what()), AppTitle, Kiv_dialogs::miError, Kiv_dialogs::mbOk});
}

namespace {

constexpr std::uint64_t TicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t EpochDifference = 11'644'473'600;

} // namespace

const char* const AppVersion = SORVIK_VERSION;

const std::string& AboutText() {
    static const std::string text =
        std::string(AppTitle) + " " + AppVersion +
        "\r\n\r\nCopyright (c) 2026 the Sorvik developers. All rights reserved.";
    return text;
}

std::string FileTimeToText(std::uint64_t fileTime, bool toLocal) {
    if (fileTime == 0)
        return "(Unknown)";
    // Beyond this the platform's calendar conversion of file times fails too.
    if (fileTime > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return "(Error)";
    const std::time_t seconds =
        static_cast<std::time_t>(fileTime / TicksPerSecond) - EpochDifference;
    std::tm fields{};
    if ((toLocal ? ::localtime_r(&seconds, &fields) : ::gmtime_r(&seconds, &fields)) == nullptr)
        return "(Error)";
    // Before the start of file time after the shift to local time: no valid local time.
    if (toLocal && static_cast<std::int64_t>(fileTime / TicksPerSecond) + fields.tm_gmtoff < 0)
        return "(Error)";
    char text[64];
    std::snprintf(text, sizeof text, "%04u-%02u-%02u %02u:%02u:%02u.%07llu",
                  static_cast<unsigned>(fields.tm_year + 1900),
                  static_cast<unsigned>(fields.tm_mon + 1), static_cast<unsigned>(fields.tm_mday),
                  static_cast<unsigned>(fields.tm_hour), static_cast<unsigned>(fields.tm_min),
                  static_cast<unsigned>(fields.tm_sec),
                  static_cast<unsigned long long>(fileTime % TicksPerSecond));
    return text;
}

std::string CountToText(std::int32_t count) {
    return Kiv_strings::IntToGroupedStr(count, 3, ",");
}

std::string SizeToText(std::uint64_t size) {
    return Kiv_strings::UInt64ToGroupedStr(size, 3, ",");
}

} // namespace App_common
