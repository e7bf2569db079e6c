// What the main window's tests share: the services of a test (dialogs that answer as the
// test queued, an in-memory clipboard, a desktop that records, a trash folder and a
// settings file of the test's own), scan dialogs whose options dialog only counts, and
// the current directory put back after each test (the settings move it).
#pragma once

#include "App_mainform.h"
#include "TestDialogs.h"
#include "TestDocumentOpener.h"
#include "TestShell.h"
#include "app/entries/EntriesTestSupport.h"

#include <cctype>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unistd.h>
#include <vector>

namespace MainFormTest {

// The options dialog of a test: counts its runs and answers as told.
class TTestOptionsDialog : public App_scan::TCustomOptionsDialog {
public:
    bool Execute() override {
        ++Runs;
        return Answer;
    }
    int Runs = 0;
    bool Answer = false;
};

// The progress dialog comes from progressDialog (the program's own in window tests); a
// headless test never scans.
class TTestScanDialogs : public App_scan::TScanDialogs {
public:
    explicit TTestScanDialogs(std::function<App_scan::TCustomProgressDialog&()> progressDialog = {})
        : Progress(std::move(progressDialog)) {}

    App_scan::TCustomProgressDialog& ProgressDialog() override {
        if (!Progress)
            throw std::logic_error("this test has no progress dialog");
        return Progress();
    }
    App_scan::TCustomOptionsDialog& OptionsDialog() override { return Options; }

    TTestOptionsDialog Options;

private:
    std::function<App_scan::TCustomProgressDialog&()> Progress;
};

// The test's desktop, which also tells when a file is opened (as the command runs).
class TProbeShell : public TestShell::TTestShell {
public:
    using TTestShell::TTestShell;
    bool OpenFile(const std::string& path, std::string& why) override {
        if (OnOpen)
            OnOpen();
        return TTestShell::OpenFile(path, why);
    }
    std::function<void()> OnOpen;
};

// Everything outside the program that the main window reaches, as a test has it.
struct TTestServices {
    explicit TTestServices(std::function<App_scan::TCustomProgressDialog&()> progress = {})
        : ScanDialogs(std::move(progress)), Shell(Dir / "trash") {}

    App_mainform::TMainFormServices Services() {
        return {Dialogs, ScanDialogs, Clipboard, Shell, Opener, SettingsFile(), HelpFile()};
    }
    std::string SettingsFile() const { return Dir / "Settings.ini"; }
    std::string HelpFile() const { return Dir / "Help/index.html"; }

    TestFiles::TCurrentDirectoryGuard CurrentDirectory;
    EntriesTest::TTempDir Dir;
    TestDialogs::TTestDialogs Dialogs;
    TTestScanDialogs ScanDialogs;
    TestShell::TTestClipboard Clipboard;
    TProbeShell Shell;
    TestDocumentOpener::TTestDocumentOpener Opener;
};

// Adds entries made up from the paths (nothing on disk is read), as one add.
// The access key of a caption: the character after a single "&", lowered; 0 for none.
inline char AccessKey(std::string_view caption) {
    for (std::size_t i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != '&')
            continue;
        if (caption[i + 1] != '&')
            return static_cast<char>(std::tolower(static_cast<unsigned char>(caption[i + 1])));
        ++i; // "&&" shows an ampersand
    }
    return 0;
}

inline void AddMadeUp(App_scanentries::TScanEntries& entries, const std::vector<std::string>& paths,
                      std::uint64_t size = 0) {
    App_scanentries::TScanEntryArray batch(static_cast<int>(paths.size()));
    for (std::size_t i = 0; i < paths.size(); ++i)
        batch[static_cast<int>(i)] = EntriesTest::Entry(paths[i], size + i, 0x20).release();
    entries.Add(batch);
}

inline std::vector<std::string> PathsOf(const App_scanentries::TScanEntries& entries) {
    std::vector<std::string> paths;
    for (int i = 0; i < entries.Count(); ++i)
        paths.push_back(entries.Item(i).Path());
    return paths;
}

} // namespace MainFormTest
