// Shows one of the program's dialogs as a user would see it, for looking at it under a
// display (tools that take screenshots): show_dialog progress|options|error|save
#include "App_common.h"
#include "App_scan_window.h"
#include "Kiv_dialogs_window.h"

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    const char* which = argc > 1 ? argv[1] : "";
    Kiv_dialogs::TQtDialogs dialogs;
    if (std::strcmp(which, "progress") == 0) {
        App_scan::TAppProgressDialog& dialog = App_scan::AppProgressDialog();
        dialog.SetCaption("Scan");
        dialog.Reset();
        dialog.SetText("Matching \"Tom & Jerry - The Complete Collection, Disc 1 of 4 "
                       "(Remastered)_with_a_name_that_never_seems_to_end_at_all.mkv\"...");
        dialog.SetProgress(1234, 5000);
        dialog.show();
    } else if (std::strcmp(which, "options") == 0) {
        App_scan::TAppOptionsDialog& dialog = App_scan::AppOptionsDialog();
        dialog.WriteControls({App_document::DefaultScanAspects, true, true});
        dialog.show();
    } else if (std::strcmp(which, "error") == 0) {
        QTimer::singleShot(0, [&] {
            App_common::ShowException(
                dialogs, App_common::EAppError("The program could not save the results to the "
                                               "file \"/home/user/Sorvik Results.txt\""));
            QApplication::quit();
        });
    } else if (std::strcmp(which, "save") == 0) {
        QTimer::singleShot(0, [&] {
            Kiv_dialogs::TSaveFileRequest request{"Save Results",
                                                  "Text (*.txt)|*.txt|All (*.*)|*.*",
                                                  1,
                                                  "txt",
                                                  true,
                                                  "Sorvik Results.txt",
                                                  ""};
            dialogs.SaveFile(request);
            QApplication::quit();
        });
    } else {
        std::fputs("usage: show_dialog progress|options|error|save\n", stderr);
        return 2;
    }
    return application.exec();
}
