// The results file: one block per duplicate group, in ascending group number, each path
// on its own line in list order, an empty line after each block, CR LF line ends.
#include "App_document.h"
#include "Kiv_strings.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <numeric>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace App_document {

std::string ResultsText(const App_scanentries::TScanEntries& entries, TResultsFormat format) {
    // The members of each group in list order, by a counting sort over the group numbers.
    std::int32_t highest = 0;
    for (int i = 0; i < entries.Count(); ++i)
        highest = std::max(highest, entries.Item(i).Group());
    std::vector<int> start(static_cast<std::size_t>(highest) + 2, 0);
    std::size_t length = 0;
    for (int i = 0; i < entries.Count(); ++i) {
        const App_scanentries::TScanEntry& entry = entries.Item(i);
        if (entry.Group() >= 1) {
            if (format == TResultsFormat::rfLines &&
                entry.Path().find_first_of("\r\n") != std::string::npos)
                throw App_common::EAppError("The program cannot write the path \"" + entry.Path() +
                                            "\" into the results file.");
            ++start[static_cast<std::size_t>(entry.Group()) + 1];
            length += entry.Path().size() + 2;
        }
    }
    std::partial_sum(start.begin(), start.end(), start.begin());
    std::vector<const std::string*> paths(static_cast<std::size_t>(start.back()));
    std::vector<int> next(start.begin(), start.end() - 1);
    for (int i = 0; i < entries.Count(); ++i) {
        const App_scanentries::TScanEntry& entry = entries.Item(i);
        if (entry.Group() >= 1)
            paths[static_cast<std::size_t>(next[static_cast<std::size_t>(entry.Group())]++)] =
                &entry.Path();
    }
    std::string text;
    text.reserve(length + 2 * static_cast<std::size_t>(highest));
    for (std::size_t group = 1; group + 1 < start.size(); ++group) {
        if (start[group] == start[group + 1])
            continue;
        const std::string_view end = format == TResultsFormat::rfNullSeparated
                                         ? std::string_view("\0", 1)
                                         : std::string_view("\r\n");
        for (int k = start[group]; k < start[group + 1]; ++k) {
            const std::string& path = *paths[static_cast<std::size_t>(k)];
            if (format == TResultsFormat::rfTerminal)
                text.append(Kiv_strings::EscapeControlCharacters(path)).append(end);
            else
                text.append(path).append(end);
        }
        text += end;
    }
    return text;
}

namespace {

// The permissions a new file gets: 0666 less the process's umask, read without changing
// it (umask(2) would, for a moment, for every thread).
mode_t NewFileMode() {
    mode_t mask = 022;
    if (std::FILE* status = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, status))
            if (std::sscanf(line, "Umask: %o", &mask) == 1)
                break;
        std::fclose(status);
    }
    return 0666 & ~mask;
}

// The file the name stands for: a symbolic link is replaced by writing to its target.
std::string ResolvedTarget(const std::string& fileName) {
    struct stat info {};
    if (::lstat(fileName.c_str(), &info) != 0 || !S_ISLNK(info.st_mode))
        return fileName;
    std::unique_ptr<char, void (*)(void*)> real(::realpath(fileName.c_str(), nullptr), std::free);
    return real ? std::string(real.get()) : fileName;
}

// The temporary file's name pattern: the target's name with a random suffix, or a short
// name in the same directory when that would be too long for the file system.
std::string TemporaryPattern(const std::string& target) {
    constexpr std::size_t LongestName = 200;
    const std::size_t slash = target.find_last_of('/');
    const std::size_t nameLength =
        slash == std::string::npos ? target.size() : target.size() - slash - 1;
    if (nameLength <= LongestName)
        return target + ".XXXXXX";
    return target.substr(0, slash == std::string::npos ? 0 : slash + 1) + "Sorvik.XXXXXX";
}

// A call that a signal interrupted: tried again, unless the caller was asked to stop.
bool Retry(const std::function<bool()>& interrupted) {
    if (errno != EINTR)
        return false;
    if (interrupted && interrupted())
        Kiv_framework::Abort();
    return true;
}

} // namespace

bool WriteResults(int fd, const std::string& text, const std::function<bool()>& interrupted) {
    std::size_t done = 0;
    while (done < text.size()) {
        // A signal ends a blocked write with part of the text written, not with EINTR:
        // the next write would block again, the interrupt lost.
        if (interrupted && interrupted())
            Kiv_framework::Abort();
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && Retry(interrupted))
            continue;
        if (n == 0)
            errno = ENOSPC; // nothing written, and no reason given
        if (n <= 0)
            return false;
        done += static_cast<std::size_t>(n);
    }
    return true;
}

namespace {

// A failed save, with the system's reason.
class TSaveFailure {
public:
    explicit TSaveFailure(const std::string& fileName) : FileName(fileName) {}
    [[noreturn]] void Raise(int error) const {
        throw App_common::EAppError("The program could not save the results to the file \"" +
                                    FileName + "\" (" + std::strerror(error != 0 ? error : EIO) +
                                    ").");
    }

private:
    const std::string& FileName;
};

// A device, a pipe or a link to nowhere: written in place, as nothing can be renamed over
// it without replacing the thing itself.
void WriteInPlace(const std::string& fileName, const std::string& text, const TSaveFailure& failure,
                  const std::function<bool()>& interrupted) {
    int fd = -1;
    do
        fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    while (fd < 0 && Retry(interrupted));
    if (fd < 0)
        failure.Raise(errno);
    bool written = false;
    try {
        written = WriteResults(fd, text, interrupted);
    } catch (...) {
        ::close(fd);
        throw;
    }
    const int error = written ? 0 : errno;
    if (::close(fd) != 0 && written)
        failure.Raise(errno);
    if (!written)
        failure.Raise(error);
}

} // namespace

void CheckResultsFile(const std::string& fileName) {
    // The rights of the running user as the kernel judges them: root may write anything
    // that is not on a read-only file system, as with the shell.
    const std::string target = ResolvedTarget(fileName);
    struct stat existing {};
    if (::stat(target.c_str(), &existing) != 0 || S_ISDIR(existing.st_mode))
        return; // a new file, or a failure that the write itself reports
    if (::faccessat(AT_FDCWD, target.c_str(), W_OK, AT_EACCESS) != 0 &&
        (errno == EACCES || errno == EPERM || errno == EROFS))
        throw App_common::EAppError(
            "The program cannot write the results over the read-only file \"" + fileName + "\".");
}

void WriteResultsFile(const std::string& fileName, const std::string& text,
                      const std::function<bool()>& interrupted) {
    const TSaveFailure failure(fileName);
    CheckResultsFile(fileName);
    const std::string target = ResolvedTarget(fileName);
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        failure.Raise(EISDIR);
    struct stat link {};
    if ((exists && !S_ISREG(existing.st_mode)) ||
        (!exists && ::lstat(target.c_str(), &link) == 0)) {
        WriteInPlace(target, text, failure, interrupted);
        return;
    }
    // A new file beside the target, renamed over it once complete: a failed or interrupted
    // save leaves the old file as it was, never a truncated one.
    std::string temporary = TemporaryPattern(target);
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0)
        failure.Raise(errno);
    const mode_t mode = exists ? existing.st_mode & 07777 : NewFileMode();
    bool written = false;
    try {
        written =
            ::fchmod(fd, mode) == 0 && WriteResults(fd, text, interrupted) && ::fsync(fd) == 0;
    } catch (...) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw;
    }
    int error = written ? 0 : errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error == 0 && ::rename(temporary.c_str(), target.c_str()) != 0)
        error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        failure.Raise(error);
    }
}

} // namespace App_document
