#include "App_common_settings.h"
#include "App_system.h"
#include "Kiv_strings.h"
#include "TestFiles.h"

#include <filesystem>
#include <gtest/gtest.h>

using App_common::TMemIniFile;
using App_system::TSystemSettings;
using TestFiles::ReadFile;
using TestFiles::TTempDir;
using TestFiles::WriteFile;

namespace {

std::string Current() {
    return std::filesystem::current_path().string();
}

class SystemSettings : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(Start);
        std::filesystem::current_path(Start);
    }

    // A whole start-up and close of the program, as far as these settings go.
    void LoadAll() {
        App_common::TSettingsHandlers handlers(SettingsFile);
        handlers.Add(&Settings, "SystemSettings");
        handlers.LoadAll();
    }
    void SaveAll() {
        App_common::TSettingsHandlers handlers(SettingsFile);
        handlers.Add(&Settings, "SystemSettings");
        handlers.SaveAll();
    }
    void Store(const std::string& value) {
        WriteFile(SettingsFile, "[SystemSettings]\r\nCurrentDirectory=" + value + "\r\n");
    }

    TestFiles::TCurrentDirectoryGuard Guard;
    TTempDir Folder;
    std::string Start = Folder / "start";
    std::string SettingsFile = Folder / "Settings.ini";
    TSystemSettings Settings;
};

} // namespace

TEST_F(SystemSettings, TheCurrentDirectoryComesBackQuotedWithBlanksAndQuotesKept) {
    const std::string used = Folder / "used \"old\" photos ";
    std::filesystem::create_directories(used);
    std::filesystem::current_path(used);
    SaveAll();
    EXPECT_EQ(ReadFile(SettingsFile), "[SystemSettings]\r\nCurrentDirectory=" +
                                          Kiv_strings::QuoteString(used, '"') + "\r\n\r\n");

    std::filesystem::current_path(Start);
    LoadAll();
    EXPECT_EQ(Current(), used);
}

TEST_F(SystemSettings, AStoredFolderThatIsGoneOrNoFolderIsIgnoredSilently) {
    const std::string gone = Folder / "gone";
    std::filesystem::create_directories(gone);
    Store(Kiv_strings::QuoteString(gone, '"'));
    std::filesystem::remove(gone);
    LoadAll();
    EXPECT_EQ(Current(), Start);

    WriteFile(Folder / "a file", "x");
    Store(Kiv_strings::QuoteString(Folder / "a file", '"'));
    LoadAll();
    Store("\"\"");
    LoadAll();
    EXPECT_EQ(Current(), Start);

    // At close the directory of the moment is written over the stale one.
    SaveAll();
    TMemIniFile ini(SettingsFile);
    EXPECT_EQ(ini.ReadString("SystemSettings", "CurrentDirectory", ""),
              Kiv_strings::QuoteString(Start, '"'));
}

TEST_F(SystemSettings, NoStoredValueLeavesTheCurrentDirectory) {
    LoadAll();
    EXPECT_EQ(Current(), Start);
    WriteFile(SettingsFile, "[Document]\r\nRememberSettings=1\r\n");
    LoadAll();
    EXPECT_EQ(Current(), Start);
}

TEST_F(SystemSettings, AnUnquotedValueStopsLoadingWithTheDequoteError) {
    Store(Folder.Path);
    try {
        LoadAll();
        FAIL() << "no error";
    } catch (const Kiv_strings::EStringError& error) {
        EXPECT_STREQ(error.what(), "The program cannot dequote the string.");
    }
    EXPECT_EQ(Current(), Start);
}

TEST_F(SystemSettings, AClosingWithoutACurrentDirectoryKeepsTheStoredOne) {
    const std::string stored = Kiv_strings::QuoteString(Folder / "earlier", '"');
    Store(stored);
    const std::string removed = Folder / "removed";
    std::filesystem::create_directories(removed);
    std::filesystem::current_path(removed);
    std::filesystem::remove(removed);
    SaveAll();
    TMemIniFile ini(SettingsFile);
    EXPECT_EQ(ini.ReadString("SystemSettings", "CurrentDirectory", ""), stored);
}
