// The user's whole path in the main window, offscreen: the tree added (as a drop or the
// command line), everything selected and made primary, a scan by size and SHA-256 behind
// the real progress dialog, the results saved. The window repaints after each step, as it
// would for the user. Usage: mainform_path TREE [RUNS]
#include "App_mainform_window.h"
#include "BenchMain.h"
#include "BenchServices.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

namespace {

void Step(App_mainform::TAppMainForm& form, const char* action) {
    form.Perform(form.Action(action));
    QCoreApplication::processEvents();
}

int Measure(const std::string& tree, int runs) {
    bench::TBenchServices services;
    double best = 1e300;
    for (int run = 0; run < runs; ++run) {
        App_mainform::TAppMainForm form(services.Services(), {});
        form.show();
        QCoreApplication::processEvents();
        const auto start = std::chrono::steady_clock::now();
        form.DropPaths({tree});
        QCoreApplication::processEvents();
        Step(form, "Action27");
        Step(form, "Action2C1");
        form.Objects().Document.SetAspects({App_document::saSize, App_document::saHash});
        // Every run reads the files, as jdupes does: the hash cache is measured apart.
        form.Objects().Document.RememberHashes = false;
        Step(form, "Action11");
        const std::string counts = services.Dialogs.LastMessage;
        Step(form, "Action13");
        const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
        best = std::min(best, elapsed.count());
        std::printf(
            "mainform_path: run %d %.3f s, %d entries, %s, results %llu bytes\n", run + 1,
            elapsed.count(), form.Objects().Entries().Count(), counts.c_str(),
            static_cast<unsigned long long>(std::filesystem::file_size(services.Dialogs.SaveAs)));
        bench::LetTheTaskGo();
    }
    std::printf("mainform_path: best %.3f s of %d runs\n", best, runs);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::TreeMain(argc, argv, "mainform_path", Measure);
}
