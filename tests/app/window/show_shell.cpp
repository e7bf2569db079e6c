// Brings up one window of the desktop actions for a look at it (screenshots under Xvfb),
// not run by ctest:
//   show_shell properties PATH   the own properties window of the file
//   show_shell progress          the progress window of a move to the trash, part-way
//   show_shell error             the question after a file that cannot be moved
#include "App_scanentries_window.h"
#include "Kiv_shellfiles_window.h"

#include <QApplication>
#include <QProgressDialog>
#include <QTimer>
#include <cstdio>
#include <string>

using namespace Qt::Literals::StringLiterals;

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationDisplayName(u"Sorvik"_s);
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "properties" && argc > 2) {
        if (!App_scanentries::ShowFilePropertiesWindow(argv[2], nullptr)) {
            std::fprintf(stderr, "cannot read %s\n", argv[2]);
            return 1;
        }
        return application.exec();
    }
    Kiv_shellfiles::TQtFileOperationMonitor monitor(nullptr, 0);
    if (mode == "progress") {
        monitor.Start(1200);
        for (int i = 0; i < 480; ++i)
            monitor.Next(i, "/home/anna/Pictures/2019/IMG_" + std::to_string(4000 + i) + ".jpg");
        // The last label is drawn: the window is left as the move would show it.
        QTimer::singleShot(100,
                           [&] { monitor.Next(480, "/home/anna/Pictures/2019/beach (copy).jpg"); });
        return application.exec();
    }
    if (mode == "error") {
        monitor.SkipAfterError("/mnt/backup/old/beach (copy).jpg",
                               "The program could not move the file \"/mnt/backup/old/beach "
                               "(copy).jpg\" to the trash (Permission denied).");
        return 0;
    }
    std::fprintf(stderr, "usage: show_shell properties PATH | progress | error\n");
    return 2;
}
