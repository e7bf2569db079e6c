#include "App_common_settings.h"

#include <QCoreApplication>
#include <QFile>
#include <QStandardPaths>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace App_common {

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

} // namespace

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

} // namespace App_common
