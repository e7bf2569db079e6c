// The results file: one block per duplicate group, in ascending group number, each path
// on its own line in list order, an empty line after each block, CR LF line ends.
#include "App_document.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>
#include <vector>

namespace App_document {

std::string ResultsText(const App_scanentries::TScanEntries& entries) {
    std::int32_t highest = 0;
    for (int i = 0; i < entries.Count(); ++i)
        highest = std::max(highest, entries.Item(i).Group());
    std::vector<std::vector<const std::string*>> groups(static_cast<std::size_t>(highest) + 1);
    for (int i = 0; i < entries.Count(); ++i) {
        const App_scanentries::TScanEntry& entry = entries.Item(i);
        if (entry.Group() >= 1)
            groups[static_cast<std::size_t>(entry.Group())].push_back(&entry.Path());
    }
    std::string text;
    for (std::size_t group = 1; group < groups.size(); ++group) {
        if (groups[group].empty())
            continue;
        for (const std::string* path : groups[group])
            text += *path + "\r\n";
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
