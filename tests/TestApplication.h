// The Qt application object of a test, and serving its event loop until something holds.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QPointer>
#include <QThread>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace TestApplication {

class TTestApplication : public QCoreApplication {
public:
    TTestApplication() : QCoreApplication(Argc, Argv) {}

private:
    // QCoreApplication keeps references to these for its whole life.
    static inline int Argc = 1;
    static inline char Name[] = "sorvik-test";
    static inline char* Argv[] = {Name, nullptr};
};

// Serves events until done() holds or the time runs out; tells whether it holds.
inline bool ServeUntil(const std::function<bool()>& done, int milliseconds = 20000) {
    QElapsedTimer timer;
    timer.start();
    while (!done() && timer.elapsed() < milliseconds)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    return done();
}

// Serves events until every watched thread object has deleted itself.
inline bool ServeUntilGone(const std::vector<QPointer<QThread>>& threads,
                           int milliseconds = 20000) {
    const auto gone = [&] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        for (const auto& thread : threads)
            if (thread)
                return false;
        return true;
    };
    return ServeUntil(gone, milliseconds);
}

// The threads of this process that run a QThread of the program's own (a scan task's):
// a finished task leaves none behind.
inline int TaskThreadCount() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/task")) {
        std::ifstream comm(entry.path() / "comm");
        std::string name;
        std::getline(comm, name);
        count += name == "QThread" ? 1 : 0;
    }
    return count;
}

} // namespace TestApplication
