#include "Kiv_shelllibrary.h"

#include <optional>
#include <string_view>

namespace Kiv_shelllibrary {

void TDroppedFiles::Finish() {
    Handle.reset();
}

bool TDroppedFiles::IsFinished() const {
    return Handle == nullptr;
}

void TDroppedFiles::CheckNotFinished() const {
    if (IsFinished())
        throw EFileDropError("The file drop operation is already finished.");
}

int TDroppedFiles::Count() const {
    CheckNotFinished();
    return static_cast<int>(Handle->size());
}

std::string TDroppedFiles::FilePath(int index) const {
    CheckNotFinished();
    if (index < 0 || index >= Count())
        throw EFileDropError("The program cannot get the path of a dropped file.");
    return (*Handle)[static_cast<std::size_t>(index)];
}

namespace {

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Percent escapes become bytes; a broken escape makes the URI unreadable, and so does an
// escaped NUL, which no path can hold.
std::optional<std::string> PercentDecoded(std::string_view text) {
    std::string result;
    result.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            result += text[i];
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        const int high = HexValue(text[i + 1]);
        const int low = HexValue(text[i + 2]);
        if (high < 0 || low < 0 || (high == 0 && low == 0))
            return std::nullopt;
        result += static_cast<char>(high * 16 + low);
        i += 2;
    }
    return result;
}

std::string_view Trimmed(std::string_view line) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!line.empty() && blank(line.front()))
        line.remove_prefix(1);
    while (!line.empty() && blank(line.back()))
        line.remove_suffix(1);
    return line;
}

// The path of a local file: URI, none for anything else.
std::optional<std::string> LocalPath(std::string_view uri) {
    if (!StartsWithNoCase(uri, "file:") || uri.find('\0') != std::string_view::npos)
        return std::nullopt;
    std::string_view rest = uri.substr(5);
    if (rest.substr(0, 2) == "//") {
        rest.remove_prefix(2);
        const std::size_t slash = rest.find('/');
        if (slash == std::string_view::npos)
            return std::nullopt;
        const std::string_view host = rest.substr(0, slash);
        if (!host.empty() && !(host.size() == 9 && StartsWithNoCase(host, "localhost")))
            return std::nullopt;
        rest.remove_prefix(slash);
    }
    if (rest.empty() || rest.front() != '/')
        return std::nullopt;
    // A query or fragment is no part of a file's path.
    if (rest.find_first_of("?#") != std::string_view::npos)
        return std::nullopt;
    return PercentDecoded(rest);
}

} // namespace

std::vector<std::string> FilePathsOfUriList(const std::string& text) {
    std::vector<std::string> paths;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t end = rest.find('\n');
        const std::string_view line = Trimmed(rest.substr(0, end));
        rest.remove_prefix(end == std::string_view::npos ? rest.size() : end + 1);
        if (line.empty() || line.front() == '#')
            continue;
        if (auto path = LocalPath(line))
            paths.push_back(std::move(*path));
    }
    return paths;
}

} // namespace Kiv_shelllibrary
