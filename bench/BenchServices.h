// The services of the main window in a benchmark: every box answers OK, the save dialog
// answers with a file of the benchmark's, the desktop is never asked, and the settings file
// lies in a folder of the benchmark's. The scan's dialogs are the program's own.
#pragma once

#include "App_mainform.h"
#include "App_scan_window.h"
#include "BenchDialogs.h"
#include "Kiv_clipboard_window.h"

#include <filesystem>
#include <string>
#include <unistd.h>

namespace bench {

class TNoShell : public Kiv_shellfiles::TShell {
public:
    bool OpenFile(const std::string&, std::string&) override { return false; }
    bool ExploreFile(const std::string&, std::string&) override { return false; }
    bool ShowFileProperties(const std::string&, std::string&) override { return false; }
    bool RecycleFiles(const std::vector<std::string>&,
                      const Kiv_shellfiles::TRecycleHooks&) override {
        return false;
    }
    void FinishInterruptedMoves() override {}
};

class TNoOpener : public App_help::TDocumentOpener {
public:
    bool OpenDocument(const std::string&, std::string&) override { return false; }
};

// A folder of this process's own under the temporary directory, made now.
inline std::filesystem::path BenchFolder() {
    const std::filesystem::path folder = std::filesystem::temp_directory_path() /
                                         ("sorvik-bench-mainform-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    return folder;
}

struct TBenchServices {
    TBenchServices() : Folder(BenchFolder()), Dialogs((Folder / "results.txt").string()) {}
    ~TBenchServices() {
        std::error_code ignored;
        std::filesystem::remove_all(Folder, ignored);
    }
    App_mainform::TMainFormServices Services() {
        return {Dialogs,
                ScanDialogs,
                Clipboard,
                Shell,
                Opener,
                (Folder / "Settings.ini").string(),
                (Folder / "Help/index.html").string()};
    }

    std::filesystem::path Folder;
    TAnsweringDialogs Dialogs;
    App_scan::TAppScanDialogs ScanDialogs;
    Kiv_clipboard::TSystemClipboard Clipboard;
    TNoShell Shell;
    TNoOpener Opener;
};

} // namespace bench
