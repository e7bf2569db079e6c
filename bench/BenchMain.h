// What the mains of the window benchmarks share: Qt's offscreen platform, the arguments
// TREE [RUNS], and the scan task's thread let go between two runs.
#pragma once

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

namespace bench {

// The benchmarks draw their windows without a display unless the caller chose a platform.
// Called before the application object is made.
inline void UseOffscreenPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

struct TTreeRuns {
    std::string Tree;
    int Runs = 3;
};

// NAME TREE [RUNS]: the tree and the number of runs (3 unless given); nothing, with the
// usage on standard error, without a tree.
inline std::optional<TTreeRuns> TreeRuns(int argc, char** argv, const char* name) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TREE [RUNS]\n", name);
        return std::nullopt;
    }
    return TTreeRuns{argv[1], argc > 2 ? std::max(1, std::atoi(argv[2])) : 3};
}

// The scan task's thread object deletes itself from the event loop: it goes before the
// next run.
inline void LetTheTaskGo() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace bench
