#include "Kiv_shellfiles.h"

#include <QByteArray>
#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kiv_shellfiles {

namespace {

const char* const NoTypeMessage = "The program could not get the file type.";
const char* const UndeterminedTypeMessage = "The program cannot determine the file type.";

std::string CurrentDirectory() {
    std::vector<char> buffer(256);
    for (;;) {
        if (getcwd(buffer.data(), buffer.size()) != nullptr)
            return std::string(buffer.data());
        if (errno != ERANGE)
            return "/"; // the working directory is gone; any directory carries the flag
        buffer.resize(buffer.size() * 2);
    }
}

// The absolute, normalised form of a path: relative to the current directory, with
// empty, "." and ".." components resolved by the text alone.
std::string ExpandFileName(const std::string& path) {
    const std::string full =
        !path.empty() && path[0] == '/' ? path : CurrentDirectory() + "/" + path;
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        const std::string part = full.substr(start, end - start);
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        start = end + 1;
    }
    std::string result;
    for (const auto& part : parts)
        result += "/" + part;
    return result.empty() ? "/" : result;
}

// From the last "." of the last component on, the "." included; empty without one.
std::string ExtractFileExt(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    const std::size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    const std::size_t dot = path.rfind('.');
    if (dot == std::string::npos || dot < nameStart)
        return {};
    return path.substr(dot);
}

// Length of the well-formed UTF-8 sequence at text[i], or 0 when the byte there does not
// begin one (Unicode table 3-7: no overlong forms, no surrogates, nothing past U+10FFFF).
std::size_t Utf8SequenceLength(const std::string& text, std::size_t i) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char b0 = byte(i);
    const std::size_t left = text.size() - i;
    if (b0 < 0x80)
        return 1;
    const auto continuation = [&](std::size_t k, unsigned char low, unsigned char high) {
        return byte(k) >= low && byte(k) <= high;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF)
        return left >= 2 && continuation(i + 1, 0x80, 0xBF) ? 2 : 0;
    if (b0 >= 0xE0 && b0 <= 0xEF) {
        if (left < 3)
            return 0;
        const unsigned char low = b0 == 0xE0 ? 0xA0 : 0x80;
        const unsigned char high = b0 == 0xED ? 0x9F : 0xBF;
        return continuation(i + 1, low, high) && continuation(i + 2, 0x80, 0xBF) ? 3 : 0;
    }
    if (b0 >= 0xF0 && b0 <= 0xF4) {
        if (left < 4)
            return 0;
        const unsigned char low = b0 == 0xF0 ? 0x90 : 0x80;
        const unsigned char high = b0 == 0xF4 ? 0x8F : 0xBF;
        return continuation(i + 1, low, high) && continuation(i + 2, 0x80, 0xBF) &&
                       continuation(i + 3, 0x80, 0xBF)
                   ? 4
                   : 0;
    }
    return 0;
}

// The upper-case copy of a file name: well-formed UTF-8 through Qt's Unicode case
// mapping, every other byte unchanged.
std::string UpperFileName(const std::string& text) {
    std::string result;
    result.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const std::size_t runStart = i;
        bool ascii = true;
        std::size_t length = 0;
        while (i < text.size() && (length = Utf8SequenceLength(text, i)) != 0) {
            ascii = ascii && length == 1;
            i += length;
        }
        if (i > runStart) {
            if (ascii) {
                for (std::size_t k = runStart; k < i; ++k) {
                    const char c = text[k];
                    result += c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
                }
            } else {
                const QByteArray upper =
                    QString::fromUtf8(text.data() + runStart, static_cast<qsizetype>(i - runStart))
                        .toUpper()
                        .toUtf8();
                result.append(upper.constData(), static_cast<std::size_t>(upper.size()));
            }
        }
        if (i < text.size())
            result += text[i++]; // a byte of no well-formed sequence
    }
    return result;
}

} // namespace

std::string GetShellTypeName(const std::string& path, bool asDirectory) {
    const QMimeDatabase database;
    const QMimeType type =
        asDirectory
            ? database.mimeTypeForName(QStringLiteral("inode/directory"))
            : database.mimeTypeForFile(
                  QFile::decodeName(QByteArray(path.data(), static_cast<qsizetype>(path.size()))),
                  QMimeDatabase::MatchExtension);
    if (!type.isValid())
        throw EShellFileError(NoTypeMessage);
    const QString comment = type.comment();
    if (comment.isEmpty())
        throw EShellFileError(NoTypeMessage);
    return comment.toStdString();
}

TFileTypeCache::TEntry::TEntry(const std::string& path, const TShellTypeNameFunction& lookup)
    : FTypeName(lookup(path, false)) {}

TFileTypeCache::TEntry::TEntry(const TShellTypeNameFunction& lookup)
    : FTypeName(lookup(CurrentDirectory(), true)) {}

TFileTypeCache::TFileTypeCache(TShellTypeNameFunction lookup)
    : Lookup(lookup ? std::move(lookup) : TShellTypeNameFunction(GetShellTypeName)) {
    Extensions.Sorted = true;
    Extensions.Duplicates = Kiv_framework::TStringList::TDuplicates::dupIgnore;
}

TFileTypeCache::~TFileTypeCache() {
    TFileTypeCache::Clear();
}

std::string TFileTypeCache::GetTypeName(const std::string& path) {
    struct stat info {};
    if (path.find('\0') != std::string::npos ||
        fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
        throw EShellFileError(UndeterminedTypeMessage);
    bool directory = S_ISDIR(info.st_mode);
    if (S_ISLNK(info.st_mode)) {
        struct stat target {};
        directory = stat(path.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    }
    return directory ? GetDirectoryTypeName() : GetFileTypeName(path);
}

std::string TFileTypeCache::GetFileTypeName(const std::string& path) {
    const std::string fullPath = ExpandFileName(path);
    const std::string key = UpperFileName(ExtractFileExt(fullPath));
    int index = 0;
    if (Extensions.Find(key, index))
        return static_cast<const TEntry*>(Extensions.Objects(index))->TypeName();
    auto entry = std::make_unique<TEntry>(fullPath, Lookup);
    Extensions.Add(key, entry.get());
    return entry.release()->TypeName();
}

std::string TFileTypeCache::GetDirectoryTypeName() {
    if (!DirectoryEntry)
        DirectoryEntry = std::make_unique<TEntry>(Lookup);
    return DirectoryEntry->TypeName();
}

void TFileTypeCache::Clear() {
    DirectoryEntry.reset();
    for (int i = 0; i < Extensions.Count(); ++i)
        delete static_cast<TEntry*>(Extensions.Objects(i));
    Extensions.Clear();
}

} // namespace Kiv_shellfiles
