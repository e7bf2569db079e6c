// Times the commands on the entry list with the real list control shown on Qt's offscreen
// platform: AddDirectoryEntries of a 100,000-file tree against the producer alone on the
// same tree; Delete, SelectFirstInGroup, SetPriorityToPrimary and RemoveAllUnique on a
// million entries; MoveToRecycleBin of 10,000 files against `gio trash` on 10,000 other
// files of the same sizes, both into a trash inside a temporary home (best of three runs;
// the argument "trash" runs only that, five times).
#include "App_scanentries_commands.h"
#include "App_scanentries_view.h"
#include "BenchDialogs.h"
#include "BenchMain.h"
#include "Kiv_listviews_window.h"
#include "Kiv_shellfiles_window.h"
#include "bench_timing.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <optional>
#include <random>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

using namespace App_scanentries;
namespace fs = std::filesystem;

namespace {

constexpr int TreeFiles = 100'000;
constexpr int ListCount = 1'000'000;
constexpr int TrashFiles = 10'000;

class TNoClipboard : public Kiv_clipboard::TClipboard {
public:
    bool HasText() const override { return false; }
    std::string GetText() const override { return {}; }
    void SetText(const std::string&) override {}
    std::unique_ptr<Kiv_clipboard::TClipboardSubscription>
    Subscribe(std::function<void()>) override {
        return std::make_unique<Kiv_clipboard::TClipboardSubscription>();
    }
};

// The list as the main window will have it: the control on screen with a row text per
// column, its view and selection, and the commands over them.
struct TListWindow {
    TListWindow() {
        for (const char* caption : {"Path", "Size", "Group"})
            List.AddColumn({caption, Kiv_listviews::taLeftJustify, 200});
        List.OnData = [this](Kiv_listviews::TCustomListView*, int row,
                             Kiv_listviews::TListItem& item) {
            const TScanEntry& entry = Entries.Item(row);
            item.Caption = PathText(entry);
            item.SubItems = {SizeText(entry), GroupText(entry)};
        };
        List.resize(900, 600);
        List.show();
        QApplication::processEvents();
    }
    // Until the control has painted what the command left.
    static void Settle() {
        QApplication::sendPostedEvents();
        QApplication::processEvents();
    }

    TScanEntries Entries;
    Kiv_listviews::TListView List;
    TScanEntriesView View{Entries, List};
    TScanEntriesSelection Selection{Entries, List};
    TNoClipboard Clipboard;
    bench::TAnsweringDialogs Dialogs;
    Kiv_shellfiles::TQtShell Shell{&List};
    TScanEntriesCommands Commands{Entries, Selection, Clipboard, Dialogs, Shell};
};

void MakeFile(const std::string& path, std::size_t size) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0) {
        std::perror(path.c_str());
        std::exit(1);
    }
    if (size > 0 && ::ftruncate(fd, static_cast<off_t>(size)) != 0)
        std::perror(path.c_str());
    ::close(fd);
}

void BenchAddDirectory(const std::string& root) {
    const std::string tree = root + "/tree";
    fs::create_directories(tree);
    for (int folder = 0; folder < 100; ++folder) {
        const std::string path = tree + "/folder-" + std::to_string(folder);
        fs::create_directory(path);
        for (int file = 0; file < TreeFiles / 100; ++file)
            MakeFile(path + "/file-" + std::to_string(file) + (file % 3 == 0 ? ".jpg" : ".txt"), 0);
    }
    const Kiv_dynamicarrays::TStringDynArray paths({tree});
    TListWindow window;
    window.Dialogs.Folder = tree;
    double producer = 1e300;
    double command = 1e300;
    for (int run = 0; run < 3; ++run) {
        std::unique_ptr<TScanEntryProducer> production;
        producer = std::min(producer, bench::BestOf(1, [&] {
                                production = std::make_unique<TScanEntryProducer>(paths);
                                while (production->Step()) {
                                }
                                (void)production->GetEntries();
                            }));
        production.reset(); // its entries go with it, untimed like the list's Clear
        command = std::min(command, bench::BestOf(1, [&] {
                               window.Commands.AddDirectoryEntries();
                               TListWindow::Settle();
                           }));
        if (window.Entries.Count() != TreeFiles)
            std::printf("unexpected count %d\n", window.Entries.Count());
        window.Entries.Clear();
        TListWindow::Settle();
    }
    std::printf("AddDirectoryEntries of %d files, list on screen  %.3f s\n", TreeFiles, command);
    std::printf("Producer alone on the same tree                  %.3f s\n", producer);
    std::printf("Ratio                                            %.2f  (target <= 1.5)\n",
                command / producer);
}

std::string ListPath(int i) {
    char buffer[128];
    std::snprintf(buffer, sizeof buffer, "/home/someone/Pictures/%04d/IMG_%08d.jpg", i / 1000, i);
    return buffer;
}

// A million entries, every other one unique and the rest in groups of two.
void Fill(TListWindow& window) {
    std::mt19937_64 random(7);
    TScanEntryArray batch(ListCount);
    for (int i = 0; i < ListCount; ++i) {
        Kiv_files::TFindData record{};
        record.FileSizeLow = static_cast<std::uint32_t>(random() % 100'000'000);
        auto* entry = new TScanEntry(ListPath(i), record);
        entry->SetGroup(i % 2 == 0 ? 0 : 1 + i / 4);
        batch[i] = entry;
    }
    window.Entries.Add(batch);
    TListWindow::Settle();
}

template <typename Prepare, typename Body>
double Timed(TListWindow& window, Prepare prepare, Body body) {
    window.Entries.Clear();
    Fill(window);
    prepare();
    TListWindow::Settle();
    return bench::BestOf(1, [&] {
        body();
        TListWindow::Settle();
    });
}

void BenchMillion() {
    TListWindow window;
    auto& commands = window.Commands;
    auto selectEveryOther = [&] {
        Kiv_dynamicarrays::TIntegerDynArrayBuilder builder;
        builder.SetCapacity(ListCount / 2);
        for (int i = 1; i < ListCount; i += 2)
            builder.Add(i);
        window.Selection.SetSelectedIndices(builder.Extract());
    };
    const double remove = Timed(window, selectEveryOther, [&] { commands.Delete(); });
    std::printf("Delete of %d of %d entries              %.3f s  (target <= 0.5 s)\n",
                ListCount / 2, ListCount, remove);
    const double first = Timed(
        window, [&] { commands.SortBySize(); }, [&] { commands.SelectFirstInGroup(); });
    std::printf("SelectFirstInGroup on %d entries (sorted by size) %.3f s  (target <= 0.5 s)\n",
                ListCount, first);
    const double primary = Timed(
        window, [&] { commands.SelectAll(); }, [&] { commands.SetPriorityToPrimary(); });
    std::printf("SetPriorityToPrimary of %d entries          %.3f s  (target <= 0.5 s)\n",
                ListCount, primary);
    const double unique = Timed(
        window, [] {}, [&] { commands.RemoveAllUnique(); });
    std::printf("RemoveAllUnique (%d of %d)                %.3f s  (target <= 0.5 s)\n",
                ListCount / 2, ListCount, unique);
}

// The user and system time this process has taken so far.
double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& time) { return time.tv_sec + time.tv_usec / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double RunGioTrash(const std::vector<std::string>& files) {
    std::vector<char*> argv = {const_cast<char*>("gio"), const_cast<char*>("trash")};
    for (const std::string& file : files)
        argv.push_back(const_cast<char*>(file.c_str()));
    argv.push_back(nullptr);
    int status = -1;
    const double seconds = bench::BestOf(1, [&] {
        pid_t child = 0;
        if (::posix_spawnp(&child, "gio", nullptr, nullptr, argv.data(), environ) != 0) {
            std::printf("gio cannot be started (Debian libglib2.0-bin)\n");
            return;
        }
        ::waitpid(child, &status, 0);
    });
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? seconds : -1;
}

void BenchTrash(const std::string& root, int runs) {
    // Both trashes live in a temporary home, never the user's; each run has a fresh one,
    // with fresh files of the same sizes, and takes its turn with gio.
    double gio = 1e300;
    double command = 1e300;
    double cpu = 1e300; // user and system time: what the move costs beside busy processes
    long trashed = 0;
    for (int run = 0; run < runs; ++run) {
        const std::string base = root + "/trash-" + std::to_string(run);
        const std::string home = base + "/home";
        fs::create_directories(home + "/.local/share");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
        ::setenv("GIO_USE_VFS", "local", 1);
        std::mt19937 random(3);
        std::vector<std::string> ours;
        std::vector<std::string> theirs;
        for (const char* side : {"ours", "theirs"})
            fs::create_directories(base + "/" + side);
        for (int i = 0; i < TrashFiles; ++i) {
            const std::size_t size = random() % 8192;
            ours.push_back(base + "/ours/photo-" + std::to_string(i) + ".jpg");
            theirs.push_back(base + "/theirs/photo-" + std::to_string(i) + ".jpg");
            MakeFile(ours.back(), size);
            MakeFile(theirs.back(), size);
        }
        const double gioRun = RunGioTrash(theirs);
        gio = gioRun < 0 ? -1 : std::min(gio, gioRun);

        TListWindow window;
        AddPathsToList(window.Entries, Kiv_dynamicarrays::VectorToArray(ours));
        window.Commands.SelectAll();
        TListWindow::Settle();
        const double cpuBefore = CpuSeconds();
        command = std::min(command, bench::BestOf(1, [&] {
                               window.Commands.MoveToRecycleBin();
                               TListWindow::Settle();
                           }));
        cpu = std::min(cpu, CpuSeconds() - cpuBefore);
        if (window.Entries.Count() != 0)
            std::printf("unexpected: %d entries left\n", window.Entries.Count());
        trashed = std::distance(fs::directory_iterator(home + "/.local/share/Trash/files"),
                                fs::directory_iterator{});
        std::error_code ignored;
        fs::remove_all(base, ignored);
    }
    std::printf("MoveToRecycleBin of %d files, list on screen  %.3f s  (best of %d)\n", TrashFiles,
                command, runs);
    std::printf("  its processor time (user and system)          %.3f s\n", cpu);
    if (gio < 0) {
        std::printf("gio trash failed: no comparison\n");
        return;
    }
    std::printf("gio trash of %d files of the same sizes        %.3f s\n", TrashFiles, gio);
    std::printf("Ratio                                            %.2f  (target <= 2)\n",
                command / gio);
    std::printf("Files in the last temporary trash: %ld (of %d)\n", trashed, 2 * TrashFiles);
}

// A list of pairs of copies, as a scan leaves them (each pair a group, with its hash),
// the first of each pair selected: the files of the given folder.
void FillPairs(TListWindow& window, const std::string& folder, std::mt19937& random) {
    fs::create_directories(folder);
    std::vector<std::string> all;
    for (int i = 0; i < TrashFiles; ++i) {
        const std::size_t size = random() % 8192;
        for (const char* name : {"/a-", "/b-"}) {
            all.push_back(folder + name + std::to_string(i));
            MakeFile(all.back(), size);
        }
    }
    const Kiv_dynamicarrays::TStringDynArray paths = Kiv_dynamicarrays::VectorToArray(all);
    AddPathsToList(window.Entries, paths);
    TIntegerDynArray first(TrashFiles);
    for (int i = 0; i < window.Entries.Count(); ++i) {
        window.Entries.Item(i).SetGroup(i / 2 + 1);
        window.Entries.Item(i).Hash = std::string(64, 'A');
        if (i % 2 == 0)
            first[i / 2] = i;
    }
    window.Selection.SetSelectedIndices(first);
    TListWindow::Settle();
}

// What the checks before a move cost: the command, which looks at the copy that stays of
// every group, at each file and its copy right before it moves, and records each move,
// against the same move without them (the trash, then the entries of the moved files out
// of the list), on two lists of pairs of copies of the same sizes.
void BenchTrashChecks(const std::string& root) {
    // Each run into a trash of its own in a fresh home, and the two kinds taking turns:
    // a trash folder that already holds many files costs every later move more.
    const auto freshHome = [&](int run) {
        const std::string home = root + "/home-" + std::to_string(run);
        fs::create_directories(home + "/.local/share");
        ::setenv("HOME", home.c_str(), 1);
        ::setenv("XDG_DATA_HOME", (home + "/.local/share").c_str(), 1);
    };
    double checked = 1e9, plain = 1e9;
    for (int run = 0; run < 4; ++run) {
        const bool withChecks = run == 1 || run == 2; // plain, checked, checked, plain
        std::mt19937 sizes(5);
        TListWindow window;
        FillPairs(window, root + "/pairs-" + std::to_string(run), sizes);
        freshHome(run);
        const double seconds = bench::BestOf(1, [&] {
            if (withChecks) {
                window.Commands.MoveToRecycleBin();
            } else {
                const TIntegerDynArray selected = window.Selection.GetSelectedIndices();
                std::vector<std::string> paths;
                for (const int index : selected)
                    paths.push_back(window.Entries.Item(index).Path());
                window.Shell.RecycleFiles(paths);
                Kiv_dynamicarrays::TIntegerDynArrayBuilder gone;
                for (std::size_t k = 0; k < paths.size(); ++k)
                    if (!Kiv_files::PathExists(paths[k]))
                        gone.Add(selected[static_cast<int>(k)]);
                window.Entries.Remove(gone.Extract());
            }
            TListWindow::Settle();
        });
        (withChecks ? checked : plain) = std::min(withChecks ? checked : plain, seconds);
    }
    std::printf("MoveToRecycleBin of %d files with a copy each    %.3f s\n", TrashFiles, checked);
    std::printf("the same move without the checks and the record  %.3f s\n", plain);
    std::printf("Ratio                                            %.2f  (target <= 1.1)\n",
                checked / plain);
}

} // namespace

int main(int argc, char** argv) {
    bench::UseOffscreenPlatform();
    QApplication application(argc, argv);
    char pattern[] = "/tmp/sorvik-bench-commands-XXXXXX";
    if (::mkdtemp(pattern) == nullptr)
        return 1;
    const std::string root = pattern;
    // "trash" runs the move to the trash alone, five times.
    const bool trashOnly = argc > 1 && std::string(argv[1]) == "trash";
    if (!trashOnly) {
        BenchAddDirectory(root);
        BenchMillion();
    }
    BenchTrash(root, trashOnly ? 5 : 3);
    if (!trashOnly)
        BenchTrashChecks(root);
    std::error_code ignored;
    fs::remove_all(root, ignored);
    return 0;
}
