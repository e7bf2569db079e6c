// The event loop's turns, for the benchmarks of the window: the longest time between two
// firings of a 1 ms timer while measuring.
#pragma once

#include <QElapsedTimer>
#include <QTimer>
#include <algorithm>

namespace bench {

class TEventLoopGaps {
public:
    TEventLoopGaps() {
        Turns.setTimerType(Qt::PreciseTimer);
        Turns.setInterval(1);
        QObject::connect(&Turns, &QTimer::timeout, [this] {
            if (Measuring)
                Longest = std::max(Longest, SinceLastTurn.nsecsElapsed());
            Measuring = true;
            ++Count;
            SinceLastTurn.restart();
        });
    }
    void Start() {
        Longest = 0;
        Measuring = false;
        Turns.start();
    }
    void Stop() { Turns.stop(); }
    // The longest gap since Start, in nanoseconds.
    qint64 Longest = 0;
    // Turns seen so far.
    int Count = 0;

private:
    QElapsedTimer SinceLastTurn;
    bool Measuring = false;
    QTimer Turns;
};

} // namespace bench
