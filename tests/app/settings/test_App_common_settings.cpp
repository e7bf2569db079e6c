// The settings file: the registry that reads and writes it, and where it lies.
#include "App_common_settings.h"
#include "Kiv_strings.h"
#include "TestApplication.h"
#include "TestFiles.h"

#include <QCoreApplication>
#include <QFile>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using namespace App_common;

namespace {

// A handler that keeps one integer under one key, the way the real ones do.
class TNumberHandler : public TSettingsHandler {
public:
    TNumberHandler(std::string key, int value) : Key(std::move(key)), Value(value) {}
    void Load(TMemIniFile& ini, const std::string& section) override {
        Value = ini.ReadInteger(section, Key, Value);
        ++Loads;
    }
    void Save(TMemIniFile& ini, const std::string& section) override {
        ini.WriteInteger(section, Key, Value);
    }
    std::string Key;
    int Value;
    int Loads = 0;
};

class TFailingHandler : public TSettingsHandler {
public:
    void Load(TMemIniFile&, const std::string&) override { throw EAppError("load failed"); }
    void Save(TMemIniFile&, const std::string&) override { throw EAppError("save failed"); }
};

class Settings : public ::testing::Test {
protected:
    TestFiles::TTempDir Temporary;
    std::string Folder = Temporary.Path;
    std::string Path = Folder + "/Settings.ini";
    std::string ReadFile() const { return TestFiles::ReadFile(Path); }
};

} // namespace

TEST(Constants, PathsLieBesideTheProgramOrInTheConfigurationFolder) {
    TestApplication::TTestApplication app;
    const std::string programDirectory =
        QFile::encodeName(QCoreApplication::applicationDirPath()).toStdString() + "/";
    EXPECT_EQ(HelpFilePath(), programDirectory + "Help/index.html");
    // The test program's folder is writable, so the settings stay beside it.
    EXPECT_EQ(SettingsFilePath(), programDirectory + "Settings.ini");
}

TEST_F(Settings, SaveAllWritesSectionsInRegistrationOrderAndLoadAllReadsThem) {
    TNumberHandler first("Left", 10);
    TNumberHandler second("FilterIndex", 1);
    TSettingsHandler silent;
    {
        TSettingsHandlers handlers(Path);
        handlers.Add(&first, "ViewSettings.Form");
        handlers.Add(&silent, "DocumentEntriesView");
        handlers.Add(&second, "DocumentCommands.SaveResultsDialog");
        handlers.LoadAll();
        EXPECT_FALSE(std::filesystem::exists(Path));
        handlers.SaveAll();
    }
    EXPECT_EQ(ReadFile(), "[ViewSettings.Form]\r\nLeft=10\r\n\r\n"
                          "[DocumentCommands.SaveResultsDialog]\r\nFilterIndex=1\r\n\r\n");

    TNumberHandler reloaded("left", 0);
    TSettingsHandlers handlers(Path);
    handlers.Add(&reloaded, "viewsettings.form");
    handlers.Add(&reloaded, "viewsettings.form");
    handlers.LoadAll();
    EXPECT_EQ(reloaded.Value, 10);
    EXPECT_EQ(reloaded.Loads, 2);
}

TEST_F(Settings, AFailingHandlerStopsTheLoopAndNothingIsWritten) {
    std::ofstream(Path, std::ios::binary) << "[A]\r\nLeft=5\r\n";
    TNumberHandler before("Left", 1);
    TFailingHandler failing;
    TNumberHandler after("Left", 1);
    TSettingsHandlers handlers(Path);
    handlers.Add(&before, "A");
    handlers.Add(&failing, "B");
    handlers.Add(&after, "A");
    EXPECT_THROW(handlers.LoadAll(), EAppError);
    EXPECT_EQ(before.Value, 5);
    EXPECT_EQ(after.Loads, 0);
    before.Value = 6;
    EXPECT_THROW(handlers.SaveAll(), EAppError);
    EXPECT_EQ(ReadFile(), "[A]\r\nLeft=5\r\n");
}

TEST_F(Settings, QuotedDirectoryKeepsBlanksAtItsEndsThroughTheFile) {
    const std::string directory = "  /home/me/My \"odd\" dir  ";
    {
        TMemIniFile ini(Path);
        ini.WriteString("SystemSettings", "CurrentDirectory",
                        Kiv_strings::QuoteString(directory, '"'));
        ini.UpdateFile();
    }
    EXPECT_EQ(ReadFile(),
              "[SystemSettings]\r\nCurrentDirectory=\"  /home/me/My \"\"odd\"\" dir  \"\r\n\r\n");
    const TMemIniFile ini(Path);
    EXPECT_EQ(
        Kiv_strings::DequoteString(ini.ReadString("SystemSettings", "CurrentDirectory", ""), '"'),
        directory);
}

TEST_F(Settings, SaveAllCreatesAMissingConfigurationFolder) {
    const std::string nested = Folder + "/config/sorvik/Settings.ini";
    TNumberHandler handler("Top", 3);
    TSettingsHandlers handlers(nested);
    handlers.Add(&handler, "ViewSettings.Form");
    handlers.SaveAll();
    EXPECT_TRUE(std::filesystem::exists(nested));
}
