// The desktop's side of the help commands: the default program for a document.
#pragma once

#include "App_help.h"

namespace App_help {

// Opens the file with the desktop's default handler (xdg-open behind
// QDesktopServices::openUrl). A path whose bytes Qt's file-name codec would not give
// back unchanged is refused, so that no other file is ever opened in its place.
class TDesktopDocumentOpener : public TDocumentOpener {
public:
    bool OpenDocument(const std::string& path, std::string& why) override;
};

} // namespace App_help
