#include "App_mainform_desktop.h"

#include "App_help_window.h"
#include "App_scan_window.h"
#include "App_scanentries_window.h"
#include "Kiv_clipboard_window.h"
#include "Kiv_dialogs_window.h"
#include "Kiv_shellfiles_window.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <optional>
#include <string>
#include <unistd.h>
#include <vector>

namespace App_mainform {

namespace {

// The folder of a chosen file becomes the current directory, where the next file dialog
// opens and which the next run starts in, as the desktop's file dialogs do (a saved file's
// folder only once the save succeeded: the save command enters it).
void EnterFolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos)
        return;
    const std::string folder = slash == 0 ? std::string("/") : path.substr(0, slash);
    (void)::chdir(folder.c_str());
}

// The boxes and file dialogs of the window: in front of the modal window that is up (the
// scan's progress), else centred over the main window, also while it is not the active one.
class TWindowDialogs : public Kiv_dialogs::TDialogs {
public:
    explicit TWindowDialogs(QWidget* window) : Window(window) {}

    Kiv_dialogs::TModalResult MessageBox(const Kiv_dialogs::TMessageRequest& request) override {
        return Owned().MessageBox(request);
    }
    std::optional<std::vector<std::string>>
    OpenFiles(Kiv_dialogs::TOpenFileRequest& request) override {
        auto files = Owned().OpenFiles(request);
        if (files && !files->empty())
            EnterFolderOf(files->front());
        return files;
    }
    // The folder of a saved file is entered by the command once the save succeeded.
    std::optional<std::string> SaveFile(Kiv_dialogs::TSaveFileRequest& request) override {
        return Owned().SaveFile(request);
    }
    std::optional<std::string> SelectFolder(const Kiv_dialogs::TFolderRequest& request) override {
        return Owned().SelectFolder(request);
    }

private:
    Kiv_dialogs::TQtDialogs Owned() const {
        QWidget* modal = QApplication::activeModalWidget();
        return Kiv_dialogs::TQtDialogs(modal ? modal : Window.data());
    }

    QPointer<QWidget> Window;
};

} // namespace

struct TDesktopServices::TParts {
    explicit TParts(QWidget* owner)
        : Dialogs(owner), Shell(owner, [owner = QPointer<QWidget>(owner)](const std::string& path) {
              return App_scanentries::ShowFilePropertiesWindow(path, owner);
          }) {}

    TWindowDialogs Dialogs;
    App_scan::TAppScanDialogs ScanDialogs;
    Kiv_clipboard::TSystemClipboard Clipboard;
    Kiv_shellfiles::TQtShell Shell;
    App_help::TDesktopDocumentOpener Opener;
};

TDesktopServices::TDesktopServices(QWidget* owner) : Parts(std::make_unique<TParts>(owner)) {}

TDesktopServices::~TDesktopServices() = default;

TMainFormServices TDesktopServices::Services() {
    return {Parts->Dialogs,
            Parts->ScanDialogs,
            Parts->Clipboard,
            Parts->Shell,
            Parts->Opener,
            App_common::SettingsFilePath(),
            App_common::HelpFilePath()};
}

} // namespace App_mainform
