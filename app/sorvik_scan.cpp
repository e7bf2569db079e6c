// sorvik-scan: the duplicate scan for scripts and terminals. It drives the same document,
// add, scan task and results file as the window, without one. Unlike the window, it names
// a file or folder it cannot read and goes on without it, unless --strict is given.
#include "App_common.h"
#include "App_document.h"
#include "App_document_commandline.h"
#include "App_scanentries.h"
#include "App_scantasks.h"
#include "Kiv_files.h"
#include "Kiv_memory.h"
#include "Kiv_strings.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using App_document::TScanCommandLine;

constexpr int ExitError = 1;
constexpr int ExitUsage = 2;
// Done, with files or folders left out: a partial result, as GNU tools report one.
constexpr int ExitLeftOut = 3;
constexpr int ExitInterrupted = 130;
constexpr std::size_t HeapReserveBytes = std::size_t{256} << 20;

// Ctrl-C: the handler only notes it and writes a byte; the add and the writing of the
// results check the note, the scan's main loop reads the byte and asks the task to stop.
// No SA_RESTART: an open or write blocked on a pipe nobody reads returns, and ends.
int InterruptPipe[2] = {-1, -1};
volatile std::sig_atomic_t InterruptRequested = 0;

void OnInterrupt(int) {
    InterruptRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(InterruptPipe[1], &byte, 1);
}

bool Interrupted() {
    return InterruptRequested != 0;
}

void InstallInterruptHandler() {
    if (::pipe2(InterruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        throw App_common::EAppError("The program could not start.");
    struct sigaction action {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = 0;
    ::sigaction(SIGINT, &action, nullptr);
}

// Messages on standard error; names in them are escaped while it is a terminal.
void Report(const std::string& message) {
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    std::fprintf(stderr, "sorvik-scan: %s\n",
                 terminal ? Kiv_strings::EscapeControlCharacters(message).c_str()
                          : message.c_str());
}

// Status and a progress bar on standard error while it is a terminal, redrawn at most
// every 50 ms so that drawing never slows the scan down.
class TTerminalProgress {
public:
    TTerminalProgress() : Enabled(::isatty(STDERR_FILENO) == 1) {}

    bool IsEnabled() const { return Enabled; }

    void SetStatus(const std::string& text) {
        Status = Kiv_strings::EscapeControlCharacters(text);
        Draw();
    }
    void SetProgress(int position, int count) {
        Position = position;
        Count = count;
        Draw();
    }
    // Clears the line, so that a message can be written on it.
    void Clear() {
        if (Drawn)
            std::fputs("\r\033[K", stderr);
        Drawn = false;
    }

private:
    void Draw() {
        const auto now = std::chrono::steady_clock::now();
        if (Drawn && now - LastDraw < std::chrono::milliseconds(50))
            return;
        LastDraw = now;
        Drawn = true;
        winsize size{};
        const int columns =
            ::ioctl(STDERR_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_col > 0 ? size.ws_col : 80;
        constexpr int BarWidth = 20;
        const int filled =
            Count > 0 ? static_cast<int>(static_cast<long long>(Position) * BarWidth / Count) : 0;
        std::string line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
                           std::string(static_cast<std::size_t>(BarWidth - filled), '.') + "] " +
                           App_common::CountToText(Position) + "/" +
                           App_common::CountToText(Count) + " " + Status;
        if (static_cast<int>(line.size()) > columns - 1)
            line.resize(static_cast<std::size_t>(std::max(columns - 1, 0)));
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
    }

    bool Enabled;
    bool Drawn = false;
    std::chrono::steady_clock::time_point LastDraw;
    std::string Status;
    int Position = 0;
    int Count = 0;
};

struct TOutcome {
    bool Finished = false;
    bool Interrupted = false;
    std::optional<std::string> Error;
    int LeftOut = 0;
    int HashesRecalled = 0;
};

TOutcome RunScan(App_document::TDocument& document, bool strict) {
    TOutcome outcome;
    TTerminalProgress progress;
    auto* task = new App_scantasks::TScanTask(&document); // deletes itself when finished
    task->FreeOnTerminate = true;
    // The entries were made from the files moments ago, and every file read is checked
    // against them when it is opened and once it is read.
    task->RefreshFacts = false;
    // Status and progress only for a terminal: nobody else would see them.
    if (progress.IsEnabled()) {
        task->OnStatus = [&](App_scantasks::TScanTask*, const std::string& text) {
            progress.SetStatus(text);
        };
        task->OnProgress = [&](Kiv_tasks::TTask*, int position, int count) {
            progress.SetProgress(position, count);
        };
    }
    if (!strict)
        task->OnFileLeftOut = [&](App_scantasks::TScanTask*, const std::string& message) {
            progress.Clear();
            Report(message);
            ++outcome.LeftOut;
        };
    // A cache that cannot be used costs time, never the scan.
    task->OnHashCacheWarning = [&](App_scantasks::TScanTask*, const std::string& message) {
        progress.Clear();
        Report(message);
    };
    task->OnException = [&](Kiv_tasks::TTask*, const Kiv_framework::Exception& error) {
        outcome.Error = error.Message();
    };
    task->OnFinish = [&](Kiv_tasks::TTask*) {
        outcome.Finished = true;
        outcome.HashesRecalled = task->HashesRecalled;
        QCoreApplication::quit();
    };

    QSocketNotifier interrupt(InterruptPipe[0], QSocketNotifier::Read);
    QObject::connect(&interrupt, &QSocketNotifier::activated, [&] {
        char byte = 0;
        [[maybe_unused]] const auto ignored = ::read(InterruptPipe[0], &byte, 1);
        if (!outcome.Finished && !outcome.Interrupted) {
            outcome.Interrupted = true;
            task->Cancel();
        }
    });
    task->Start();
    QCoreApplication::exec();
    progress.Clear();
    return outcome;
}

// The results never go over a file of the list: that would destroy the file the user is
// looking for copies of. Links are followed, as the write would follow them.
void CheckOutputIsNotListed(const App_scanentries::TScanEntries& entries,
                            const std::string& output) {
    struct stat info {};
    if (::stat(output.c_str(), &info) != 0)
        return;
    for (int i = 0; i < entries.Count(); ++i) {
        const App_scanentries::TScanEntry& entry = entries.Item(i);
        const App_scan::TScanRecord record = entry.GetRecord();
        if (record.Device() == info.st_dev && record.Inode() == info.st_ino)
            throw App_common::EAppError(
                "The program cannot write the results over the listed file \"" + entry.Path() +
                "\".");
    }
}

void WriteResults(const App_scanentries::TScanEntries& entries, const TScanCommandLine& line) {
    using App_document::TResultsFormat;
    if (line.Output) {
        App_document::WriteResultsFile(
            *line.Output,
            App_document::ResultsText(entries, line.NullSeparated ? TResultsFormat::rfNullSeparated
                                                                  : TResultsFormat::rfLines),
            Interrupted);
        return;
    }
    const bool terminal = ::isatty(STDOUT_FILENO) == 1;
    const std::string text =
        App_document::ResultsText(entries, line.NullSeparated ? TResultsFormat::rfNullSeparated
                                           : terminal         ? TResultsFormat::rfTerminal
                                                              : TResultsFormat::rfLines);
    // Standard output may be a pipe nobody reads: Ctrl-C still ends the write.
    if (!App_document::WriteResults(STDOUT_FILENO, text, Interrupted))
        throw App_common::EAppError("The program could not write the results.");
}

// What --verbose tells: the contents read, and the hashes that were not read thanks to
// the cache.
std::string ReadText(int hashesRecalled) {
    const App_scan::TReadTotals totals = App_scan::ReadTotals();
    return App_common::SizeToText(totals.Files) + " files read, " +
           App_common::SizeToText(totals.Bytes) + " bytes; " +
           App_common::CountToText(hashesRecalled) + " hashes from the hash cache.";
}

int Scan(const TScanCommandLine& line) {
    App_document::TDocument document;
    document.SetAspects(line.Aspects);
    document.RememberHashes = !line.NoCache;
    int hashesRecalled = 0;
    App_scanentries::TScanEntries& entries = document.Entries();
    int leftOut = 0;
    const auto skip = [&](const std::string& message) {
        Report(message);
        ++leftOut;
    };
    const std::function<void(const std::string&)> onSkip =
        line.Strict ? std::function<void(const std::string&)>() : skip;
    // Before the work, not after it: a results file the user may not write is refused.
    if (line.Output)
        App_document::CheckResultsFile(*line.Output);
    // Secondary paths first, so that a file named both ways ends up primary.
    for (const auto& [paths, priority] : {std::pair{&line.Secondary, App_scan::spSecondary},
                                          std::pair{&line.Primary, App_scan::spPrimary}}) {
        App_scanentries::AddPathsToList(entries, Kiv_dynamicarrays::VectorToArray(*paths), priority,
                                        onSkip, Interrupted);
    }
    if (line.Output)
        CheckOutputIsNotListed(entries, *line.Output);
    if (entries.Count() > 0) {
        if (entries.CountPriority(App_scan::spPrimary) == 0)
            throw App_common::EAppError("Specify primary entries to perform a scan task.");
        const TOutcome outcome = RunScan(document, line.Strict);
        if (outcome.Interrupted)
            return ExitInterrupted;
        if (outcome.Error)
            throw App_common::EAppError(*outcome.Error);
        // A completed scan leaves every entry with its final group.
        if (entries.CountGroup(-1) > 0)
            throw App_common::EAppError("The scan did not complete.");
        leftOut += outcome.LeftOut;
        hashesRecalled = outcome.HashesRecalled;
    }
    WriteResults(entries, line);
    std::string summary = App_common::CountToText(entries.GetDuplicateCount()) +
                          " duplicate files in " +
                          App_common::CountToText(entries.GetGroupCount()) + " groups were found.";
    if (leftOut == 1)
        summary += " 1 file or folder could not be read and was left out.";
    else if (leftOut > 1)
        summary += " " + App_common::CountToText(leftOut) +
                   " files or folders could not be read and were left out.";
    std::fprintf(stderr, "%s\n", summary.c_str());
    if (line.Verbose)
        Report(ReadText(hashesRecalled));
    return leftOut > 0 ? ExitLeftOut : 0;
}

} // namespace

int main(int argc, char** argv) {
    // The entries are made on this thread: a heap on huge pages spares it most of the page
    // faults of a big tree (a fifth of a rescan's time in a virtual machine).
    (void)Kiv_memory::ReserveLargePageHeap(HeapReserveBytes);
    // Qt sees no argument: a path such as "-platform" after "--" is the user's, not Qt's.
    int qtArgc = 1;
    QCoreApplication application(qtArgc, argv);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        const TScanCommandLine line = App_document::ParseScanCommandLine(
            arguments, Kiv_files::CurrentDirectory().value_or(""));
        if (line.Request == TScanCommandLine::crHelp) {
            std::fputs(App_document::ScanUsageText, stdout);
            return 0;
        }
        if (line.Request == TScanCommandLine::crVersion) {
            std::printf("sorvik-scan %s\n", SORVIK_VERSION);
            return 0;
        }
        InstallInterruptHandler();
        return Scan(line);
    } catch (const Kiv_framework::EAbort&) {
        return ExitInterrupted; // the only silent abort here is Ctrl-C
    } catch (const App_document::EUsageError& error) {
        std::fprintf(stderr, "sorvik-scan: %s\n%s", error.what(), App_document::ScanUsageText);
        return ExitUsage;
    } catch (const Kiv_framework::Exception& error) {
        Report(error.Message());
        return ExitError;
    }
}
