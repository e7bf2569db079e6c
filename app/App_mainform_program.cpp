#include "App_mainform_program.h"

#include "Kiv_dialogs_window.h"
#include "Kiv_files.h"
#include "Kiv_memory.h"

#include <QApplication>
#include <QIcon>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace App_mainform {

namespace {

// --help and --version need no display: they are answered before Qt starts.
bool AnswersAtOnce(int argc, char** argv, int& status) {
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--")
            return false;
        if (argument == "--help" || argument == "--version") {
            std::fputs((argument == "--help" ? UsageText() : VersionText()).c_str(), stdout);
            status = std::fflush(stdout) == 0 ? 0 : 1;
            return true;
        }
    }
    return false;
}

void ShowStartError(const std::exception& error) {
    Kiv_dialogs::TQtDialogs dialogs;
    App_common::ShowException(dialogs, error);
}

} // namespace

void PrepareHeap() {
    constexpr std::size_t ReserveBytes = std::size_t{128} << 20;
    (void)Kiv_memory::ReserveLargePageHeap(ReserveBytes);
}

int RunProgram(int argc, char** argv, const std::function<void(TAppMainForm&)>& afterStart) {
    int status = 0;
    if (AnswersAtOnce(argc, argv, status))
        return status;
    PrepareHeap();
    QApplication application(argc, argv); // takes Qt's own options out of argv
    QGuiApplication::setDesktopFileName(QStringLiteral("sorvik"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/sorvik.svg")));
    const TCommandLine line = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                               Kiv_files::CurrentDirectory().value_or(""));
    if (line.Kind == TCommandLine::ckError) {
        std::fprintf(stderr, "sorvik: %s\nTry 'sorvik --help' for more information.\n",
                     line.Error.c_str());
        return 2;
    }
    try {
        TAppMainForm form(line.Paths);
        if (afterStart)
            form.OnCommandLineDone = [&form, &afterStart] { afterStart(form); };
        form.show();
        return application.exec();
    } catch (const std::exception& error) {
        ShowStartError(error);
    } catch (...) {
        ShowStartError(Kiv_framework::Exception(""));
    }
    return 1;
}

} // namespace App_mainform
