// The results file: one block per duplicate group, in ascending group number, each path
// on its own line in list order, an empty line after each block, CR LF line ends.
#include "App_document.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <numeric>
#include <unistd.h>
#include <vector>

namespace App_document {

std::string ResultsText(const App_scanentries::TScanEntries& entries) {
    // The members of each group in list order, by a counting sort over the group numbers.
    std::int32_t highest = 0;
    for (int i = 0; i < entries.Count(); ++i)
        highest = std::max(highest, entries.Item(i).Group());
    std::vector<int> start(static_cast<std::size_t>(highest) + 2, 0);
    std::size_t length = 0;
    for (int i = 0; i < entries.Count(); ++i) {
        const App_scanentries::TScanEntry& entry = entries.Item(i);
        if (entry.Group() >= 1) {
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
        for (int k = start[group]; k < start[group + 1]; ++k)
            text.append(*paths[static_cast<std::size_t>(k)]).append("\r\n");
        text += "\r\n";
    }
    return text;
}

void WriteResultsFile(const std::string& fileName, const std::string& text) {
    const std::string failure =
        "The program could not save the results to the file \"" + fileName + "\".";
    const int fd = ::open(fileName.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw App_common::EAppError(failure);
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            ::close(fd);
            throw App_common::EAppError(failure);
        }
        done += static_cast<std::size_t>(n);
    }
    if (::close(fd) != 0)
        throw App_common::EAppError(failure);
}

} // namespace App_document
