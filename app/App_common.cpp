#include "App_common.h"

#include "Kiv_strings.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>

namespace App_common {

void TSettingsHandler::Load(TMemIniFile&, const std::string&) {}

void TSettingsHandler::Save(TMemIniFile&, const std::string&) {}

TSettingsHandlers::TSettingsHandlers(std::string fileName) : Path(std::move(fileName)) {}

void TSettingsHandlers::Add(TSettingsHandler* handler, const std::string& name) {
    Handlers.emplace_back(name, handler);
}

void TSettingsHandlers::LoadAll() {
    TMemIniFile iniFile(Path);
    for (const auto& [name, handler] : Handlers)
        handler->Load(iniFile, name);
}

void TSettingsHandlers::SaveAll() {
    TMemIniFile iniFile(Path);
    for (const auto& [name, handler] : Handlers)
        handler->Save(iniFile, name);
    // The configuration folder of an installed program may not exist yet.
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(Path).parent_path(), ignored);
    iniFile.UpdateFile();
}

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

void ShowException(Kiv_dialogs::TDialogs& dialogs, const std::exception& error) {
    if (dynamic_cast<const Kiv_framework::EAbort*>(&error))
        return;
    dialogs.MessageBox(
        {ErrorBoxText(error.what()), AppTitle, Kiv_dialogs::miError, Kiv_dialogs::mbOk});
}

namespace {

struct TConstants {
    std::string About;
    std::string HelpFile;
    std::string SettingsFile;
};

std::string WithSeparator(const QString& directory) {
    std::string path = QFile::encodeName(directory).toStdString();
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

const TConstants& Constants() {
    static const TConstants constants = [] {
        const QString programDirectory = QCoreApplication::applicationDirPath();
        const std::string directory = WithSeparator(programDirectory);
        // An installed program cannot write beside itself: its settings then live in the
        // user's configuration folder, for reading and writing alike.
        std::string settingsDirectory = directory;
        if (!QFileInfo(programDirectory).isWritable())
            settingsDirectory =
                WithSeparator(QStandardPaths::writableLocation(QStandardPaths::AppConfigLocation));
        return TConstants{
            "Sorvik 2.0.0\r\n\r\nCopyright (c) 2026 the Sorvik developers. All rights reserved.",
            directory + "Help/index.html", settingsDirectory + "Settings.ini"};
    }();
    return constants;
}

constexpr std::uint64_t TicksPerSecond = 10'000'000;
// Seconds from 1601-01-01 to 1970-01-01.
constexpr std::int64_t EpochDifference = 11'644'473'600;

} // namespace

const std::string& AboutText() {
    return Constants().About;
}

const std::string& HelpFilePath() {
    return Constants().HelpFile;
}

const std::string& SettingsFilePath() {
    return Constants().SettingsFile;
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
