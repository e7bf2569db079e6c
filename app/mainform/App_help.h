// The help commands: the offline help page and the about box. The page is handed to the
// desktop's default program for HTML through a small opener interface, so that the
// commands stay testable without launching anything.
#pragma once

#include "App_common.h"
#include "Kiv_dialogs.h"

#include <string>

namespace App_help {

// Hands a local file to the desktop's default program for its type without waiting for
// it; tells whether that program could be started, and where not, why.
class TDocumentOpener {
public:
    virtual ~TDocumentOpener() = default;
    virtual bool OpenDocument(const std::string& path, std::string& why) = 0;
};

class THelpCommands : public App_common::TCommands {
public:
    // helpFilePath is the page that OpenHelp opens, App_common::HelpFilePath() in the
    // program. The dialogs and the opener are not owned.
    THelpCommands(Kiv_dialogs::TDialogs& dialogs, TDocumentOpener& opener,
                  std::string helpFilePath);

    // Asks "Do you want to open the offline help?"; any answer but Yes aborts silently. A
    // help page that is missing or cannot be opened raises "The program could not open the
    // help \"%s\" (reason)." with the page's path and the reason.
    virtual void OpenHelp();
    virtual bool CanOpenHelp() const;
    // The about text in a box captioned "About Sorvik".
    virtual void ShowAbout();
    virtual bool CanShowAbout() const;

    const std::string& HelpFilePath() const { return HelpFile; }

private:
    Kiv_dialogs::TDialogs& Dialogs;
    TDocumentOpener& Opener;
    std::string HelpFile;
};

} // namespace App_help
