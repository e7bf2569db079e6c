#include "App_help.h"

#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace App_help {

namespace {

// The desktop would start the browser on a missing page and report success; a page that
// is not there is a failure here, before anything is launched.
bool IsReadablePage(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
           ::access(path.c_str(), R_OK) == 0;
}

} // namespace

THelpCommands::THelpCommands(Kiv_dialogs::TDialogs& dialogs, TDocumentOpener& opener,
                             std::string helpFilePath)
    : Dialogs(dialogs), Opener(opener), HelpFile(std::move(helpFilePath)) {}

bool THelpCommands::CanOpenHelp() const {
    return true;
}

bool THelpCommands::CanShowAbout() const {
    return true;
}

void THelpCommands::OpenHelp() {
    if (!CanOpenHelp())
        Unavailable();
    if (Dialogs.MessageBox({"Do you want to open the offline help?", App_common::AppTitle,
                            Kiv_dialogs::miQuestion, Kiv_dialogs::mbYesNo}) != Kiv_dialogs::mrYes)
        Kiv_framework::Abort();
    if (!IsReadablePage(HelpFile) || !Opener.OpenDocument(HelpFile))
        throw App_common::EAppError("The program could not open the help.");
}

void THelpCommands::ShowAbout() {
    if (!CanShowAbout())
        Unavailable();
    Dialogs.MessageBox(
        {App_common::AboutText(), "About Sorvik", Kiv_dialogs::miInformation, Kiv_dialogs::mbOk});
}

} // namespace App_help
