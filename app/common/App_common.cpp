#include "App_common.h"

#include "Kiv_strings.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

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

constexpr const char* HelpPage = "Help/index.html";
constexpr const char* SettingsFile = "Settings.ini";

std::string WithSeparator(std::string path) {
    if (path.empty() || path.back() != '/')
        path += '/';
    return path;
}

bool IsRegularFile(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode);
}

// Whether a file can be created in the folder: as the file system and the user's rights
// say, so a read-only mount counts as not writable even for root.
bool IsWritableFolder(const std::string& directory) {
    return ::access(directory.c_str(), W_OK | X_OK) == 0;
}

std::string Encoded(const QString& path) {
    return QFile::encodeName(path).toStdString();
}

struct TConstants {
    std::string HelpFile;
    std::string SettingsFile;
};

const TConstants& Constants() {
    static const TConstants constants = [] {
        // The configuration folder is named after the program, whatever application and
        // organisation names the QCoreApplication carries.
        const std::string configDirectory =
            Encoded(QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)) + "/" +
            AppTitle;
        const TProgramPaths paths =
            ProgramPaths(Encoded(QCoreApplication::applicationDirPath()), configDirectory);
        return TConstants{paths.HelpFile, paths.SettingsFile};
    }();
    return constants;
}

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

const std::string& HelpFilePath() {
    return Constants().HelpFile;
}

const std::string& SettingsFilePath() {
    return Constants().SettingsFile;
}

TProgramPaths ProgramPaths(const std::string& programDirectory,
                           const std::string& configDirectory) {
    const std::string directory = WithSeparator(programDirectory);
    const std::string beside = directory + HelpPage;
    const std::string installed =
        std::filesystem::path(directory + SORVIK_DATA_FROM_PROGRAM + "/" + HelpPage)
            .lexically_normal()
            .string();
    // An installed program (its help in the data folder, none beside it) never writes into
    // the folder of the programs, not even when run by root.
    const bool isInstalled = !IsRegularFile(beside) && IsRegularFile(installed);
    const bool besideProgram = !isInstalled && IsWritableFolder(directory);
    return {isInstalled ? installed : beside,
            (besideProgram ? directory : WithSeparator(configDirectory)) + SettingsFile};
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
