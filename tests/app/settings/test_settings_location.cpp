// Where the program keeps its settings and finds its help, with real programs in real
// folders: beside the program when it may write there, otherwise in the user's
// configuration folder, and never beside an installed program.
#include "App_common_settings.h"
#include "TestApplication.h"
#include "TestFiles.h"

#include <QProcess>
#include <filesystem>
#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using App_common::ProgramPaths;
using TestFiles::TTempDir;
using TestFiles::WriteFile;
namespace fs = std::filesystem;

namespace {

// Root may write anywhere; the program then runs as this user, so that a folder without
// write permission is one it cannot write to.
constexpr uid_t Nobody = 65534;

struct TRun {
    int ExitCode = -1;
    std::string HelpFile;
    std::string SettingsFile;
    std::string Value;
    std::string Errors;
};

class SettingsLocation : public ::testing::Test {
protected:
    void SetUp() override {
        // Everyone may pass through the arrangement and create the configuration folder.
        fs::permissions(Root.Path,
                        fs::perms::all & ~fs::perms::others_write & ~fs::perms::group_write);
        fs::create_directories(Config);
        fs::permissions(Config, fs::perms::all);
    }

    // A copy of the probe program at path, executable by everyone.
    static void Install(const std::string& path) {
        fs::create_directories(fs::path(path).parent_path());
        fs::copy_file(SETTINGS_LOCATION_PROGRAM, path);
        fs::permissions(path, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }

    // A folder the program's user may write to, or not.
    static void SetWritable(const std::string& directory, bool writable) {
        fs::permissions(directory, writable ? fs::perms::all
                                            : fs::perms::owner_read | fs::perms::owner_exec |
                                                  fs::perms::group_read | fs::perms::group_exec |
                                                  fs::perms::others_read | fs::perms::others_exec);
    }

    TRun Run(const std::string& program, const std::vector<std::string>& arguments) {
        QProcess process;
        auto environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("XDG_CONFIG_HOME"), QString::fromStdString(Config));
        process.setProcessEnvironment(environment);
        if (::geteuid() == 0)
            process.setChildProcessModifier([] {
                if (::setgroups(0, nullptr) != 0 || ::setgid(Nobody) != 0 || ::setuid(Nobody) != 0)
                    ::_exit(125);
            });
        QStringList texts;
        for (const std::string& argument : arguments)
            texts.push_back(QString::fromStdString(argument));
        process.start(QString::fromStdString(program), texts);
        EXPECT_TRUE(process.waitForFinished(60000));
        TRun run;
        run.ExitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
        const QStringList lines = QString::fromUtf8(process.readAllStandardOutput()).split(u'\n');
        if (lines.size() >= 3) {
            run.HelpFile = lines[0].toStdString();
            run.SettingsFile = lines[1].toStdString();
            run.Value = lines[2].toStdString();
        }
        run.Errors = process.readAllStandardError().toStdString();
        return run;
    }

    // Saves a value and reads it back in a second run; both runs must agree on the file.
    void ExpectRoundTrip(const std::string& program, const std::string& settingsFile) {
        const TRun saved = Run(program, {"save", "42 blue"});
        ASSERT_EQ(saved.ExitCode, 0) << saved.Errors;
        EXPECT_EQ(saved.SettingsFile, settingsFile);
        EXPECT_TRUE(fs::exists(settingsFile));
        const TRun loaded = Run(program, {"load"});
        ASSERT_EQ(loaded.ExitCode, 0) << loaded.Errors;
        EXPECT_EQ(loaded.SettingsFile, settingsFile);
        EXPECT_EQ(loaded.Value, "42 blue");
    }

    TestApplication::TTestApplication App;
    TTempDir Root;
    std::string Config = Root / "config";
    std::string UserConfigFile = Config + "/Sorvik/Settings.ini";
};

} // namespace

TEST_F(SettingsLocation, AProgramInAWritableFolderKeepsItsSettingsBesideItself) {
    const std::string folder = Root / "portable";
    Install(folder + "/sorvik");
    WriteFile(folder + "/Help/index.html", "help");
    SetWritable(folder, true);
    ExpectRoundTrip(folder + "/sorvik", folder + "/Settings.ini");
    EXPECT_FALSE(fs::exists(UserConfigFile));
    EXPECT_EQ(Run(folder + "/sorvik", {"load"}).HelpFile, folder + "/Help/index.html");
}

TEST_F(SettingsLocation, AProgramInAReadOnlyFolderKeepsThemInTheUsersConfiguration) {
    const std::string folder = Root / "read-only";
    Install(folder + "/sorvik");
    WriteFile(folder + "/Help/index.html", "help");
    SetWritable(folder, false);
    ExpectRoundTrip(folder + "/sorvik", UserConfigFile);
    EXPECT_FALSE(fs::exists(folder + "/Settings.ini"));
}

TEST_F(SettingsLocation, AnInstalledProgramFindsItsDataFolderAndNeverWritesBesideItself) {
    const std::string prefix = Root / "usr";
    Install(prefix + "/bin/sorvik");
    WriteFile(prefix + "/share/sorvik/Help/index.html", "help");
    // Writable, as bin/ is for root or for a program installed into the user's home.
    SetWritable(prefix + "/bin", true);
    ExpectRoundTrip(prefix + "/bin/sorvik", UserConfigFile);
    EXPECT_FALSE(fs::exists(prefix + "/bin/Settings.ini"));
    EXPECT_EQ(Run(prefix + "/bin/sorvik", {"load"}).HelpFile,
              prefix + "/share/sorvik/Help/index.html");
}

TEST_F(SettingsLocation, AnUnwritableConfigurationFolderIsReportedAndNothingIsLost) {
    const std::string folder = Root / "read-only";
    Install(folder + "/sorvik");
    SetWritable(folder, false);
    fs::create_directories(Config + "/Sorvik");
    WriteFile(UserConfigFile, "[Probe]\r\nValue=kept\r\n");
    SetWritable(Config + "/Sorvik", false);
    const TRun saved = Run(folder + "/sorvik", {"save", "new"});
    EXPECT_EQ(saved.ExitCode, 1);
    EXPECT_FALSE(saved.Errors.empty());
    EXPECT_EQ(TestFiles::ReadFile(UserConfigFile), "[Probe]\r\nValue=kept\r\n");
    EXPECT_EQ(Run(folder + "/sorvik", {"load"}).Value, "kept");
}

TEST(ProgramPaths, HelpBesideTheProgramWinsOverAnInstalledCopy) {
    TTempDir root;
    const std::string bin = root / "usr/bin";
    fs::create_directories(bin);
    WriteFile(root / "usr/share/sorvik/Help/index.html", "installed");
    WriteFile(bin + "/Help/index.html", "beside");
    const auto paths = ProgramPaths(bin, root / "config");
    EXPECT_EQ(paths.HelpFile, bin + "/Help/index.html");
    EXPECT_EQ(paths.SettingsFile, bin + "/Settings.ini");
}

TEST(ProgramPaths, WithoutAnyHelpPageTheProgramIsNotTakenForInstalled) {
    TTempDir root;
    // The page the help command will then report missing.
    const auto paths = ProgramPaths(root.Path + "/", root / "config");
    EXPECT_EQ(paths.HelpFile, root / "Help/index.html");
    EXPECT_EQ(paths.SettingsFile, root / "Settings.ini");
}
