// sorvik-scan: the duplicate scan for scripts and terminals. It drives the same document,
// entry producer, scan task and results file as the window, without one.
#include "App_common.h"
#include "App_document.h"
#include "App_scanentries.h"
#include "App_scantasks.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QSocketNotifier>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>
#include <string>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace {

using App_document::TScanAspect;
using App_document::TScanAspects;

constexpr int ExitError = 1;
constexpr int ExitUsage = 2;
constexpr int ExitInterrupted = 130;

const char* const UsageText =
    "Usage: sorvik-scan [--compare LIST] [--output FILE] [--secondary PATH]... PATH...\n"
    "Finds duplicate files. Every PATH (a file, or a directory and all files below it) is\n"
    "added as a primary entry, every --secondary PATH as secondary entries; a group forms\n"
    "only around a primary file. The groups are written as the results file: one full path\n"
    "a line, an empty line after each group.\n"
    "\n"
    "  --compare LIST    criteria, separated by commas, out of: directory, name, basename,\n"
    "                    extension, size, type, creation, write, access, attributes, hash,\n"
    "                    binaries (default: size,type,hash)\n"
    "  --output FILE     write the results to FILE instead of standard output\n"
    "  --secondary PATH  add the files of PATH as secondary entries\n"
    "  --help            show this text\n"
    "  --version         show the version\n"
    "\n"
    "Exit status: 0 done, 1 error, 2 bad usage, 130 interrupted (nothing written).\n";

struct TCriterion {
    const char* Word;
    TScanAspect Aspect;
};

constexpr TCriterion Criteria[] = {
    {"directory", App_document::saDirectory},
    {"name", App_document::saName},
    {"basename", App_document::saBaseName},
    {"extension", App_document::saExtension},
    {"size", App_document::saSize},
    {"type", App_document::saType},
    {"creation", App_document::saCreationTime},
    {"write", App_document::saLastWriteTime},
    {"access", App_document::saLastAccessTime},
    {"attributes", App_document::saAttributes},
    {"hash", App_document::saHash},
    {"binaries", App_document::saBinaries},
};

struct TOptions {
    TScanAspects Aspects = App_document::DefaultScanAspects;
    std::optional<std::string> Output;
    std::vector<std::string> Primary;
    std::vector<std::string> Secondary;
};

class EUsage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

std::optional<TScanAspect> CriterionOf(const std::string& word) {
    for (const TCriterion& criterion : Criteria)
        if (word == criterion.Word)
            return criterion.Aspect;
    return std::nullopt;
}

// An empty list is the empty set: every primary file then takes all the others.
TScanAspects ParseCriteria(const std::string& list) {
    TScanAspects aspects;
    std::size_t start = 0;
    while (start < list.size()) {
        const std::size_t comma = std::min(list.find(',', start), list.size());
        const std::string word = list.substr(start, comma - start);
        const auto aspect = CriterionOf(word);
        if (!aspect)
            throw EUsage("unknown criterion \"" + word + "\"");
        aspects.Include(*aspect);
        start = comma + 1;
    }
    return aspects;
}

std::string AbsolutePath(const std::string& path) {
    if (!path.empty() && path[0] == '/')
        return path;
    std::string directory = QFile::encodeName(QDir::currentPath()).toStdString();
    if (directory.empty() || directory.back() != '/')
        directory += '/';
    return directory + path;
}

// Returns nothing when the program is to end at once with the given exit code.
std::optional<TOptions> ParseArguments(const std::vector<std::string>& arguments, int& exitCode) {
    TOptions options;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string& argument = arguments[i];
        const auto value = [&](const char* option) -> std::string {
            const std::string prefix = std::string(option) + "=";
            if (argument.rfind(prefix, 0) == 0)
                return argument.substr(prefix.size());
            if (i + 1 >= arguments.size())
                throw EUsage(std::string(option) + " needs a value");
            return arguments[++i];
        };
        const auto is = [&](const char* option) {
            return argument == option || argument.rfind(std::string(option) + "=", 0) == 0;
        };
        if (optionsEnded || argument.empty() || argument[0] != '-' || argument == "-") {
            options.Primary.push_back(AbsolutePath(argument));
        } else if (argument == "--") {
            optionsEnded = true;
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(UsageText, stdout);
            exitCode = 0;
            return std::nullopt;
        } else if (argument == "--version") {
            std::printf("sorvik-scan %s\n", SORVIK_VERSION);
            exitCode = 0;
            return std::nullopt;
        } else if (is("--compare")) {
            options.Aspects = ParseCriteria(value("--compare"));
        } else if (is("--output")) {
            options.Output = value("--output");
        } else if (is("--secondary")) {
            options.Secondary.push_back(AbsolutePath(value("--secondary")));
        } else {
            throw EUsage("unknown option \"" + argument + "\"");
        }
    }
    if (options.Primary.empty())
        throw EUsage("no path given");
    return options;
}

// Ctrl-C: the handler only notes it and writes a byte; the add checks the note between
// its steps, the scan's main loop reads the byte and asks the task to stop.
int InterruptPipe[2] = {-1, -1};
volatile std::sig_atomic_t InterruptRequested = 0;

class EInterrupted : public std::runtime_error {
public:
    EInterrupted() : std::runtime_error("interrupted") {}
};

void OnInterrupt(int) {
    InterruptRequested = 1;
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(InterruptPipe[1], &byte, 1);
}

// The same add as the window's: all or nothing, a listed path replaced by the new entry.
void AddPaths(App_scanentries::TScanEntries& entries, const std::vector<std::string>& paths,
              App_scan::TScanPriority priority) {
    if (paths.empty())
        return;
    Kiv_dynamicarrays::TStringDynArray input(static_cast<int>(paths.size()));
    std::copy(paths.begin(), paths.end(), input.begin());
    App_scanentries::TScanEntryProducer producer(input);
    while (producer.Step())
        if (InterruptRequested)
            throw EInterrupted();
    const auto produced = producer.GetEntries();
    for (App_scanentries::TScanEntry* entry : produced)
        entry->Priority = priority;
    entries.Add(produced);
    producer.Release();
}

// Status and a progress bar on standard error while it is a terminal, redrawn at most
// every 50 ms so that drawing never slows the scan down.
class TTerminalProgress {
public:
    TTerminalProgress() : Enabled(::isatty(STDERR_FILENO) == 1) {}

    bool IsEnabled() const { return Enabled; }

    void SetStatus(const std::string& text) {
        Status = text;
        Draw();
    }
    void SetProgress(int position, int count) {
        Position = position;
        Count = count;
        Draw();
    }
    void Finish() {
        if (Drawn)
            std::fputs("\r\033[K", stderr);
    }

private:
    // Called only while standard error is a terminal: the scan listens only then.
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
};

TOutcome RunScan(App_document::TDocument& document) {
    TOutcome outcome;
    TTerminalProgress progress;
    auto* task = new App_scantasks::TScanTask(&document); // deletes itself when finished
    task->FreeOnTerminate = true;
    // Status and progress only for a terminal: without a listener the worker does not
    // stop to hand them over, which makes a scan from a script faster.
    if (progress.IsEnabled()) {
        task->OnStatus = [&](App_scantasks::TScanTask*, const std::string& text) {
            progress.SetStatus(text);
        };
        task->OnProgress = [&](Kiv_tasks::TTask*, int position, int count) {
            progress.SetProgress(position, count);
        };
    }
    task->OnException = [&](Kiv_tasks::TTask*, const Kiv_framework::Exception& error) {
        outcome.Error = error.Message();
    };
    task->OnFinish = [&](Kiv_tasks::TTask*) {
        outcome.Finished = true;
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
    progress.Finish();
    return outcome;
}

void WriteResults(const App_scanentries::TScanEntries& entries,
                  const std::optional<std::string>& output) {
    const std::string text = App_document::ResultsText(entries);
    if (output) {
        App_document::WriteResultsFile(*output, text);
        return;
    }
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        throw App_common::EAppError("The program could not write the results.");
}

int Scan(const TOptions& options) {
    App_document::TDocument document;
    document.SetAspects(options.Aspects);
    // Secondary paths first, so that a file named both ways ends up primary.
    AddPaths(document.Entries(), options.Secondary, App_scan::spSecondary);
    AddPaths(document.Entries(), options.Primary, App_scan::spPrimary);
    App_scanentries::TScanEntries& entries = document.Entries();
    if (entries.Count() > 0) {
        if (entries.CountPriority(App_scan::spPrimary) == 0)
            throw App_common::EAppError("Specify primary entries to perform a scan task.");
        const TOutcome outcome = RunScan(document);
        if (outcome.Interrupted)
            return ExitInterrupted;
        if (outcome.Error)
            throw App_common::EAppError(*outcome.Error);
        // A completed scan leaves every entry with its final group.
        if (entries.CountGroup(-1) > 0)
            throw App_common::EAppError("The scan did not complete.");
    }
    WriteResults(entries, options.Output);
    std::fprintf(stderr, "%s duplicate files in %s groups were found.\n",
                 App_common::CountToText(entries.GetDuplicateCount()).c_str(),
                 App_common::CountToText(entries.GetGroupCount()).c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    std::vector<std::string> arguments(argv + 1, argv + argc);
    try {
        int exitCode = 0;
        const auto options = ParseArguments(arguments, exitCode);
        if (!options)
            return exitCode;
        if (::pipe2(InterruptPipe, O_CLOEXEC | O_NONBLOCK) != 0)
            throw App_common::EAppError("The program could not start.");
        std::signal(SIGINT, OnInterrupt);
        return Scan(*options);
    } catch (const EInterrupted&) {
        return ExitInterrupted;
    } catch (const EUsage& error) {
        std::fprintf(stderr, "sorvik-scan: %s\n%s", error.what(), UsageText);
        return ExitUsage;
    } catch (const Kiv_framework::Exception& error) {
        std::fprintf(stderr, "sorvik-scan: %s\n", error.what());
        return ExitError;
    }
}
