#include "App_help.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace App_help {

namespace {

// The desktop would start the browser on a missing page and report success; a page that
// is not there is a failure here, before anything is launched.
bool IsReadablePage(const std::string& path, std::string& why) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || ::access(path.c_str(), R_OK) != 0) {
        why = std::strerror(errno);
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        why = "it is not a regular file";
        return false;
    }
    return true;
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
    std::string why;
    if (!IsReadablePage(HelpFile, why) || !Opener.OpenDocument(HelpFile, why))
        throw App_common::EAppError("The program could not open the help \"" + HelpFile + "\" (" +
                                    why + ").");
}

void THelpCommands::ShowAbout() {
    if (!CanShowAbout())
        Unavailable();
    Dialogs.MessageBox(
        {App_common::AboutText(), "About Sorvik", Kiv_dialogs::miInformation, Kiv_dialogs::mbOk});
}

} // namespace App_help
