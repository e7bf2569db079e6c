#include "Kiv_dialogs.h"

namespace Kiv_dialogs {

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return parts;
        start = end + 1;
    }
}

} // namespace

std::vector<TFileFilter> ParseFilter(const std::string& filter) {
    std::vector<TFileFilter> filters;
    if (filter.empty())
        return filters;
    const std::vector<std::string> parts = Split(filter, '|');
    if (parts.size() % 2 != 0)
        throw EDialogError("The program cannot use the file filter \"" + filter + "\".");
    for (std::size_t i = 0; i < parts.size(); i += 2) {
        TFileFilter entry{parts[i], {}};
        for (const std::string& pattern : Split(parts[i + 1], ';'))
            if (!pattern.empty())
                entry.Patterns.push_back(pattern);
        if (entry.Patterns.empty())
            throw EDialogError("The program cannot use the file filter \"" + filter + "\".");
        filters.push_back(std::move(entry));
    }
    return filters;
}

} // namespace Kiv_dialogs
