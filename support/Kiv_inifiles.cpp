#include "Kiv_inifiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>
#include <utility>

namespace Kiv_inifiles {

namespace {

bool IsBlankOrControl(char c) {
    return static_cast<unsigned char>(c) <= ' ';
}

std::string Trim(const std::string& text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsBlankOrControl(text[first]))
        ++first;
    while (last > first && IsBlankOrControl(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

char LowerAscii(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool SameText(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i]))
            return false;
    return true;
}

std::optional<std::uint64_t> ParseDigits(const std::string& text, std::size_t start, int base) {
    if (start >= text.size())
        return std::nullopt;
    std::uint64_t value = 0;
    for (std::size_t i = start; i < text.size(); ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return std::nullopt;
        value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (value > 0xFFFFFFFFull)
            return std::nullopt;
    }
    return value;
}

void WriteAll(int fd, const std::string& text) {
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            throw std::system_error(errno, std::generic_category());
        done += static_cast<std::size_t>(n);
    }
}

} // namespace

std::optional<std::int32_t> ParseIniInteger(const std::string& text) {
    // Hexadecimal covers the full 32 bits and wraps into the signed range.
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const auto value = ParseDigits(text, 2, 16);
        return value ? std::optional<std::int32_t>(static_cast<std::int32_t>(*value))
                     : std::nullopt;
    }
    if (!text.empty() && text[0] == '$') {
        const auto value = ParseDigits(text, 1, 16);
        return value ? std::optional<std::int32_t>(static_cast<std::int32_t>(*value))
                     : std::nullopt;
    }
    const bool negative = !text.empty() && text[0] == '-';
    const bool sign = negative || (!text.empty() && text[0] == '+');
    const auto value = ParseDigits(text, sign ? 1 : 0, 10);
    if (!value)
        return std::nullopt;
    const std::int64_t signedValue =
        negative ? -static_cast<std::int64_t>(*value) : static_cast<std::int64_t>(*value);
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return std::nullopt;
    return static_cast<std::int32_t>(signedValue);
}

TMemIniFile::TMemIniFile(std::string fileName) : Path(std::move(fileName)) {
    struct stat info {};
    if (::stat(Path.c_str(), &info) != 0)
        return; // a missing file starts empty
    std::ifstream file(Path, std::ios::binary);
    std::ostringstream text;
    if (!file || !(text << file.rdbuf()) || file.bad())
        throw EIniFileError("The program could not read the file \"" + Path + "\".");
    SetText(text.str());
}

void TMemIniFile::SetText(const std::string& text) {
    Sections.clear();
    TSection* current = nullptr;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t stop = text.find_first_of("\r\n", start);
        if (stop == std::string::npos)
            stop = text.size();
        const std::string line = Trim(text.substr(start, stop - start));
        const bool crlf = stop + 1 < text.size() && text[stop] == '\r' && text[stop + 1] == '\n';
        start = stop + (crlf ? 2 : 1);
        if (line.empty() || line[0] == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            // A repeated section name opens a section of its own; lookups find the first.
            Sections.push_back({Trim(line.substr(1, line.size() - 2)), {}});
            current = &Sections.back();
            continue;
        }
        if (!current)
            continue;
        const std::size_t equals = line.find('=');
        if (equals == std::string::npos)
            current->Lines.push_back({false, {}, line});
        else
            current->Lines.push_back(
                {true, Trim(line.substr(0, equals)), Trim(line.substr(equals + 1))});
    }
}

std::string TMemIniFile::GetText() const {
    std::string text;
    for (const auto& section : Sections) {
        text += "[" + section.Name + "]\r\n";
        for (const auto& line : section.Lines)
            text += (line.IsKey ? line.Key + "=" + line.Text : line.Text) + "\r\n";
        text += "\r\n";
    }
    return text;
}

const TMemIniFile::TSection* TMemIniFile::FindSection(const std::string& name) const {
    for (const auto& section : Sections)
        if (SameText(section.Name, name))
            return &section;
    return nullptr;
}

TMemIniFile::TSection* TMemIniFile::FindSection(const std::string& name) {
    return const_cast<TSection*>(std::as_const(*this).FindSection(name));
}

const TMemIniFile::TLine* TMemIniFile::FindKey(const TSection& section, const std::string& key) {
    for (const auto& line : section.Lines)
        if (line.IsKey && SameText(line.Key, key))
            return &line;
    return nullptr;
}

bool TMemIniFile::SectionExists(const std::string& section) const {
    return FindSection(section) != nullptr;
}

bool TMemIniFile::ValueExists(const std::string& section, const std::string& key) const {
    const TSection* found = FindSection(section);
    return found && FindKey(*found, key);
}

std::string TMemIniFile::ReadString(const std::string& section, const std::string& key,
                                    const std::string& defaultValue) const {
    const TSection* found = FindSection(section);
    const TLine* line = found ? FindKey(*found, key) : nullptr;
    return line ? line->Text : defaultValue;
}

void TMemIniFile::WriteString(const std::string& section, const std::string& key,
                              const std::string& value) {
    TSection* found = FindSection(section);
    if (!found) {
        Sections.push_back({section, {}});
        found = &Sections.back();
    }
    if (const TLine* line = FindKey(*found, key)) {
        const_cast<TLine*>(line)->Text = value;
        return;
    }
    found->Lines.push_back({true, key, value});
}

std::int32_t TMemIniFile::ReadInteger(const std::string& section, const std::string& key,
                                      std::int32_t defaultValue) const {
    return ParseIniInteger(ReadString(section, key, "")).value_or(defaultValue);
}

void TMemIniFile::WriteInteger(const std::string& section, const std::string& key,
                               std::int32_t value) {
    WriteString(section, key, std::to_string(value));
}

bool TMemIniFile::ReadBool(const std::string& section, const std::string& key,
                           bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TMemIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TMemIniFile::UpdateFile() const {
    const std::string temporary = Path + ".tmp";
    const std::string failure = "The program could not write the file \"" + Path + "\".";
    const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw EIniFileError(failure);
    try {
        WriteAll(fd, GetText());
        if (::fsync(fd) != 0)
            throw std::system_error(errno, std::generic_category());
    } catch (const std::system_error&) {
        ::close(fd);
        ::unlink(temporary.c_str());
        throw EIniFileError(failure);
    }
    if (::close(fd) != 0 || ::rename(temporary.c_str(), Path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        throw EIniFileError(failure);
    }
}

} // namespace Kiv_inifiles
