// The window's add of a big tree, offscreen: the drop command of the main window (the
// producer on the add's worker behind the progress dialog) against the producer alone on
// the same tree, and the longest time the main thread's event loop went without a turn
// during the window's add (a 1 ms timer). The tree, 1,000 folders of 1,000 empty files, is
// made on the first run and kept. Usage: mainform_add TREE [RUNS]
#include "App_mainform_program.h"
#include "BenchEventLoop.h"
#include "BenchMain.h"
#include "BenchServices.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <thread>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

constexpr int Folders = 1000;
constexpr int FilesPerFolder = 1000;

void MakeTree(const std::filesystem::path& tree) {
    if (std::filesystem::exists(tree.string() + ".complete"))
        return;
    std::filesystem::remove_all(tree);
    for (int folder = 0; folder < Folders; ++folder) {
        const std::filesystem::path path = tree / ("d" + std::to_string(folder));
        std::filesystem::create_directories(path);
        for (int file = 0; file < FilesPerFolder; ++file) {
            const std::string name = (path / ("f" + std::to_string(file))).string();
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            if (fd >= 0)
                ::close(fd);
        }
    }
    const int fd =
        ::open((tree.string() + ".complete").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0)
        ::close(fd);
}

// On a thread of its own, as the add's task runs it: a new thread allocates from an arena
// of its own, and a million entries made on the main thread would reuse the memory that
// the runs before freed there (0.5 s less, a gain the window's add never sees).
double ProducerAlone(const std::string& tree) {
    std::chrono::duration<double> elapsed{};
    int count = 0;
    std::thread([&] {
        const auto start = Clock::now();
        App_scanentries::TScanEntryProducer producer(Kiv_dynamicarrays::TextToLines(tree));
        while (producer.Step()) {
        }
        count = producer.GetEntries().Length();
        elapsed = Clock::now() - start;
    }).join();
    std::printf("mainform_add: producer alone %.3f s, %d files\n", elapsed.count(), count);
    return elapsed.count();
}

int Measure(const std::string& tree, int runs) {
    MakeTree(tree);
    bench::TBenchServices services;
    bench::TEventLoopGaps gaps;
    double producer = 1e300;
    double window = 1e300;
    qint64 worstGap = 0;
    for (int run = 0; run < runs; ++run) {
        producer = std::min(producer, ProducerAlone(tree));
        App_mainform::TAppMainForm form(services.Services(), {});
        form.show();
        QCoreApplication::processEvents();
        gaps.Start();
        const auto start = Clock::now();
        form.DropPaths({tree});
        const std::chrono::duration<double> elapsed = Clock::now() - start;
        // The gap that ends with the add ends at the loop's next turn.
        for (const int seen = gaps.Count; gaps.Count == seen;)
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        gaps.Stop();
        window = std::min(window, elapsed.count());
        worstGap = std::max(worstGap, gaps.Longest);
        std::printf("mainform_add: run %d window %.3f s, %d entries, longest event-loop gap "
                    "%.1f ms\n",
                    run + 1, elapsed.count(), form.Objects().Entries().Count(),
                    static_cast<double>(gaps.Longest) / 1e6);
        bench::LetTheTaskGo();
        // Unique entries close without a question.
        for (int i = 0; i < form.Objects().Entries().Count(); ++i)
            form.Objects().Entries().Item(i).SetGroup(0);
    }
    std::printf("mainform_add: best window %.3f s, producer alone %.3f s, ratio %.2f, longest "
                "event-loop gap %.1f ms\n",
                window, producer, window / producer, static_cast<double>(worstGap) / 1e6);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    App_mainform::PrepareHeap(); // as the program does before its window
    return bench::TreeMain(argc, argv, "mainform_add", Measure);
}
