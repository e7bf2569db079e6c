// What the mains of the window benchmarks share: Qt's offscreen platform, the main of a
// benchmark on a tree, and the scan task's thread let go between two runs.
#pragma once

#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>

namespace bench {

// The benchmarks draw their windows without a display unless the caller chose a platform.
// Called before the application object is made.
inline void UseOffscreenPlatform() {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
}

// The main of a benchmark on a tree, NAME TREE [RUNS]: body is given the tree and the number
// of runs (3 unless given) inside an application object on the offscreen platform; without
// a tree the usage goes to standard error and the status is 2.
inline int TreeMain(int argc, char** argv, const char* name,
                    const std::function<int(const std::string& tree, int runs)>& body) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s TREE [RUNS]\n", name);
        return 2;
    }
    const std::string tree = argv[1];
    const int runs = argc > 2 ? std::max(1, std::atoi(argv[2])) : 3;
    UseOffscreenPlatform();
    QApplication application(argc, argv);
    return body(tree, runs);
}

// The scan task's thread object deletes itself from the event loop: it goes before the
// next run.
inline void LetTheTaskGo() {
    QCoreApplication::sendPostedEvents();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
}

} // namespace bench
