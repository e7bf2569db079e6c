// The Scan command as a user runs it: the real task behind the real progress dialog, on
// the offscreen platform, from the call of Scan to its final message. A timer firing
// every millisecond meanwhile measures how long the main thread's event loop goes
// without a turn. Usage: scan_dialog TREE [RUNS]
#include "App_document_commands.h"
#include "App_scan_window.h"
#include "BenchDialogs.h"
#include "BenchEventLoop.h"
#include "BenchMain.h"

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

void AddTree(App_document::TDocument& document, const std::string& tree) {
    // Built by the unit's own routine: g++ 12 at -O3 reports a false use-after-free where
    // DynamicArray<std::string>::SetLength is inlined.
    const Kiv_dynamicarrays::TStringDynArray input = Kiv_dynamicarrays::TextToLines(tree);
    App_scanentries::AddPathsToList(document.Entries(), input, App_scan::spPrimary);
}

// A scan keeps the hashes it computed in the entries, and the next one reuses them: each
// run starts from entries as freshly added.
void ForgetResults(App_scanentries::TScanEntries& entries) {
    for (int i = 0; i < entries.Count(); ++i) {
        App_scanentries::TScanEntry& entry = entries.Item(i);
        entry.Hash = decltype(entry.Hash)();
        entry.SetGroup(-1);
    }
}

int Measure(const std::string& tree, int runs) {
    App_document::TDocument document;
    document.SetAspects({App_document::saSize, App_document::saHash});
    // Every run reads the files, as jdupes does: the hash cache has a benchmark of its own.
    document.RememberHashes = false;
    AddTree(document, tree);

    bench::TAnsweringDialogs dialogs;
    App_scan::TAppScanDialogs scanDialogs;
    App_document::TDocumentCommands commands(&document, dialogs, scanDialogs);

    bench::TEventLoopGaps gaps;

    double best = 1e300;
    qint64 worstGap = 0;
    for (int run = 0; run < runs; ++run) {
        ForgetResults(document.Entries());
        gaps.Start();
        const Clock::time_point start = Clock::now();
        commands.Scan();
        gaps.Stop();
        const std::chrono::duration<double> elapsed = dialogs.LastMessageAt - start;
        best = std::min(best, elapsed.count());
        worstGap = std::max(worstGap, gaps.Longest);
        std::printf("scan_dialog: run %d %.3f s, longest event-loop gap %.1f ms\n", run + 1,
                    elapsed.count(), static_cast<double>(gaps.Longest) / 1e6);
        bench::LetTheTaskGo();
    }
    std::printf("scan_dialog: %s\n", dialogs.LastMessage.c_str());
    std::printf("scan_dialog: best %.3f s of %d runs, longest event-loop gap %.1f ms\n", best, runs,
                static_cast<double>(worstGap) / 1e6);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    return bench::TreeMain(argc, argv, "scan_dialog", Measure);
}
