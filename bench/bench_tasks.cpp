// The hand-over between a worker and the main thread: the round trip of one Synchronize
// to a main thread waiting in its event loop (a scan makes one to start and one to end),
// and the rate of queued calls (a scan queues one or two per entry).
#include "Kiv_tasks.h"

#include <QCoreApplication>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace {

class TRoundTripTask : public Kiv_tasks::TTask {
public:
    explicit TRoundTripTask(int calls) : Samples(static_cast<std::size_t>(calls)) {}

    void Execute() override {
        int counter = 0;
        for (auto& sample : Samples) {
            const auto start = std::chrono::steady_clock::now();
            Synchronize(&counter, [](void* argument) { ++*static_cast<int*>(argument); });
            sample =
                std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start)
                    .count();
        }
    }

    std::vector<double> Samples;
};

// Queues calls as a scan does, and notes on the main thread the longest time between two
// deliveries (how live a list that follows the work is).
class TQueueTask : public Kiv_tasks::TTask {
public:
    explicit TQueueTask(int calls) : Calls(calls) {}

    void Execute() override {
        for (int i = 0; i < Calls; ++i)
            Queue([this] {
                const auto now = std::chrono::steady_clock::now();
                if (Delivered > 0)
                    LongestPause = std::max(LongestPause, now - LastDelivery);
                LastDelivery = now;
                ++Delivered;
            });
    }

    int Calls;
    int Delivered = 0;
    std::chrono::steady_clock::time_point LastDelivery;
    std::chrono::steady_clock::duration LongestPause{};
};

// The longest time between two turns of the event loop, seen by a timer due every
// millisecond.
class TLoopWatch {
public:
    TLoopWatch() {
        QObject::connect(&Timer, &QTimer::timeout, [this] {
            const auto now = std::chrono::steady_clock::now();
            if (Turns++ > 0)
                LongestGap = std::max(LongestGap, now - Last);
            Last = now;
        });
        Timer.start(1);
    }
    double LongestGapMs() const {
        return std::chrono::duration<double, std::milli>(LongestGap).count();
    }

private:
    QTimer Timer;
    int Turns = 0;
    std::chrono::steady_clock::time_point Last;
    std::chrono::steady_clock::duration LongestGap{};
};

double Percentile(std::vector<double> values, double fraction) {
    const auto k = static_cast<std::size_t>(fraction * static_cast<double>(values.size() - 1));
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int calls = 50'000;
    TRoundTripTask task(calls);
    task.OnFinish = [](Kiv_tasks::TTask*) { QCoreApplication::quit(); };
    const auto start = std::chrono::steady_clock::now();
    task.Start();
    QCoreApplication::exec();
    const std::chrono::duration<double> total = std::chrono::steady_clock::now() - start;
    std::printf("Synchronize round trip over %d calls: median %.1f us, 90th percentile %.1f us, "
                "%.0f calls/s overall\n",
                calls, Percentile(task.Samples, 0.5), Percentile(task.Samples, 0.9),
                calls / total.count());

    const int queued = 2'000'000;
    TQueueTask queueTask(queued);
    queueTask.OnFinish = [](Kiv_tasks::TTask*) { QCoreApplication::quit(); };
    const TLoopWatch watch;
    const auto queueStart = std::chrono::steady_clock::now();
    queueTask.Start();
    QCoreApplication::exec();
    const std::chrono::duration<double> queueTotal = std::chrono::steady_clock::now() - queueStart;
    std::printf("Queue: %d calls delivered in %.3f s, %.0f calls/s; longest time between two "
                "deliveries %.1f ms, between two turns of the event loop %.1f ms\n",
                queueTask.Delivered, queueTotal.count(), queueTask.Delivered / queueTotal.count(),
                std::chrono::duration<double, std::milli>(queueTask.LongestPause).count(),
                watch.LongestGapMs());
    return queueTask.Delivered == queued ? 0 : 1;
}
