// The resident memory a million entries take in the main window, shown (the rows
// selected, the list painted), above the empty window. Offscreen.
#include "App_mainform_program.h"
#include "BenchMain.h"
#include "BenchServices.h"
#include "bench_memory.h"

#include <QApplication>
#include <QLabel>
#include <chrono>
#include <cstdio>
#include <malloc.h>
#include <random>
#include <string>
#include <unistd.h>

namespace {

constexpr int Count = 1'000'000;

const char* const Extensions[] = {"jpeg", "png", "txt", "mp3", "pdf", "cpp", "h", "tar.gz"};

// A path of about 80 bytes; i makes it distinct.
std::string MakePath(int i) {
    char buffer[160];
    std::snprintf(buffer, sizeof buffer,
                  "/home/someone/Pictures/Holidays/%04d-summer/camera-%02d/IMG_%08d_Edited.%s",
                  i / 1000, i % 7, i, Extensions[i % 8]);
    return buffer;
}

App_scanentries::TScanEntryArray MakeEntries(int count, int first, std::mt19937_64& random) {
    App_scanentries::TScanEntryArray batch(count);
    for (int i = 0; i < count; ++i) {
        Kiv_files::TFindData record{};
        const std::uint64_t size = random() % (1ull << 36);
        record.FileSizeHigh = static_cast<std::uint32_t>(size >> 32);
        record.FileSizeLow = static_cast<std::uint32_t>(size);
        record.LastWriteTime = Kiv_files::UInt64ToFileTime(133'000'000'000'000'000ull +
                                                           random() % 1'000'000'000'000ull);
        record.LastAccessTime = record.LastWriteTime;
        batch[i] = new App_scanentries::TScanEntry(MakePath(first + i), record);
    }
    return batch;
}

void Show(App_mainform::TAppMainForm& form) {
    form.repaint();
    QCoreApplication::processEvents();
}

} // namespace

int main(int argc, char** argv) {
    App_mainform::PrepareHeap(); // as the program does before its window
    bench::UseOffscreenPlatform();
    QApplication application(argc, argv);
    bench::TBenchServices services;
    App_mainform::TAppMainForm form(services.Services(), {});
    form.show();
    // Warm the type cache, the fonts and the allocator with a list shown and emptied, so
    // that the figure counts the entries.
    std::mt19937_64 random(1);
    App_scanentries::TScanEntries& entries = form.Objects().Entries();
    entries.Add(MakeEntries(1000, Count, random));
    Show(form);
    entries.Clear();
    Show(form);
    malloc_trim(0);
    const long before = bench::ResidentBytes();
    const auto start = std::chrono::steady_clock::now();
    entries.Add(MakeEntries(Count, 0, random));
    Show(form);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    malloc_trim(0);
    const long after = bench::ResidentBytes();
    std::printf("%d entries made, added and shown in %.3f s (%s)\n", Count, elapsed.count(),
                form.Label1->text().toStdString().c_str());
    std::printf("Resident memory per entry shown in the window  %.0f bytes  (target <= 600)\n",
                static_cast<double>(after - before) / Count);
    return 0;
}
