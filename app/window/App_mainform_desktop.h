// The desktop's own services for the main window: the dialogs in front of the window that
// is up, the scan's dialogs, the system clipboard, the desktop's programs and trash, and
// the settings file and help page where the program finds them.
#pragma once

#include "App_mainform.h"

#include <memory>

class QWidget;

namespace App_mainform {

// The Qt dialogs and scan dialogs, the system clipboard, the desktop's programs and trash
// (windows belong to owner), the settings file and the help page where
// App_common_settings finds them.
class TDesktopServices {
public:
    explicit TDesktopServices(QWidget* owner);
    ~TDesktopServices();
    TDesktopServices(const TDesktopServices&) = delete;
    TDesktopServices& operator=(const TDesktopServices&) = delete;

    TMainFormServices Services();

private:
    struct TParts;
    std::unique_ptr<TParts> Parts;
};

} // namespace App_mainform
