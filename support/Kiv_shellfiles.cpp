#include "Kiv_shellfiles.h"

#include "Kiv_locale.h"

#include <QByteArray>
#include <QFile>
#include <QMimeDatabase>
#include <QMimeType>
#include <QString>
#include <cerrno>
#include <fcntl.h>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Kiv_shellfiles {

namespace {

const char* const NoTypeMessage = "The program could not get the file type.";
const char* const UndeterminedTypeMessage = "The program cannot determine the file type.";

// The current directory; the root where it is gone, which carries the directory flag as
// well as any.
std::string CurrentDirectoryOrRoot() {
    return Kiv_files::CurrentDirectory().value_or("/");
}

// The absolute, normalised form of a path: relative to the current directory, with
// empty, "." and ".." components resolved by the text alone.
std::string ExpandFileName(const std::string& path) {
    const std::string full =
        !path.empty() && path[0] == '/' ? path : CurrentDirectoryOrRoot() + "/" + path;
    // One pass: each component is appended after a "/", "." is skipped and ".." takes the
    // last one back off.
    std::string result;
    result.reserve(full.size());
    std::size_t start = 0;
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos)
            end = full.size();
        const std::string_view part(full.data() + start, end - start);
        if (part == "..")
            result.resize(result.empty() ? 0 : result.rfind('/'));
        else if (!part.empty() && part != ".")
            result.append("/").append(part);
        start = end + 1;
    }
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
    : FTypeName(lookup(CurrentDirectoryOrRoot(), true)) {}

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
    const std::string key = Kiv_locale::UpperFileName(ExtractFileExt(fullPath));
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
