// The hand-over between a worker and the main thread: the round trip of one Synchronize
// to a main thread waiting in its event loop (a scan makes one to start and one to end),
// and the rate of queued calls (a scan queues one or two per entry).
#include "Kiv_tasks.h"

#include <QCoreApplication>
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

class TQueueTask : public Kiv_tasks::TTask {
public:
    explicit TQueueTask(int calls) : Calls(calls) {}

    void Execute() override {
        for (int i = 0; i < Calls; ++i)
            Queue([this] { ++Delivered; });
    }

    int Calls;
    int Delivered = 0;
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
    const auto queueStart = std::chrono::steady_clock::now();
    queueTask.Start();
    QCoreApplication::exec();
    const std::chrono::duration<double> queueTotal = std::chrono::steady_clock::now() - queueStart;
    std::printf("Queue: %d calls delivered in %.3f s, %.0f calls/s\n", queueTask.Delivered,
                queueTotal.count(), queueTask.Delivered / queueTotal.count());
    return queueTask.Delivered == queued ? 0 : 1;
}
