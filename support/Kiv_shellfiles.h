// File types of the shell: the type name the desktop shows for a file, and the cache of
// type names by extension. (The recycle-bin operation, RecycleFiles, joins this unit
// with the trash.)
//
// On Linux a type name is the comment of the freedesktop shared MIME database's type
// (QMimeDatabase), matched by the file name only, in the user's language; directories
// have the comment of inode/directory. Texts are UTF-8 std::string.
#pragma once

#include "Kiv_framework.h"

#include <functional>
#include <memory>
#include <string>

namespace Kiv_shellfiles {

class EShellFileError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

// The shell's type name of the path, taken as a directory when the flag is set, else as
// an ordinary file. Only the name counts (its extension and the glob patterns of the
// MIME database); the file is never opened and need not exist. A name that is not valid
// UTF-8 is matched with replacement characters in place of its invalid bytes (they can
// match only a wildcard of a glob). No type or an empty comment raises EShellFileError
// "The program could not get the file type.".
std::string GetShellTypeName(const std::string& path, bool asDirectory);

// The shell lookup a cache asks: GetShellTypeName unless a test puts its own in.
using TShellTypeNameFunction =
    std::function<std::string(const std::string& path, bool asDirectory)>;

// Type names by extension: one shell lookup per distinct upper-cased extension and one
// for directories, for the cache's lifetime (or until Clear).
class TFileTypeCache {
public:
    class TEntry {
    public:
        // The type name of the path taken as an ordinary file.
        explicit TEntry(const std::string& path,
                        const TShellTypeNameFunction& lookup = GetShellTypeName);
        // The type name of directories, asked with the current directory as carrier.
        explicit TEntry(const TShellTypeNameFunction& lookup = GetShellTypeName);
        virtual ~TEntry() = default;

        const std::string& TypeName() const { return FTypeName; }

    private:
        std::string FTypeName;
    };

    // lookup answers every shell question of this cache (a test's counting stand-in);
    // empty means GetShellTypeName.
    explicit TFileTypeCache(TShellTypeNameFunction lookup = nullptr);
    virtual ~TFileTypeCache();
    TFileTypeCache(const TFileTypeCache&) = delete;
    TFileTypeCache& operator=(const TFileTypeCache&) = delete;

    // The type name of an existing file or directory; a path whose attributes cannot be
    // read raises EShellFileError "The program cannot determine the file type.". A
    // symbolic link to a directory counts as a directory.
    virtual std::string GetTypeName(const std::string& path);
    // The type name of the path taken as an ordinary file, through the extension map.
    // The key is the extension of the absolute path's last component (from its last
    // "." on, the "." included; empty without one, a lone "." for a name ending in a
    // dot), upper-cased by file-name rules (Unicode case mapping for well-formed UTF-8,
    // other bytes kept). A failed lookup leaves the map unchanged.
    virtual std::string GetFileTypeName(const std::string& path);
    virtual std::string GetDirectoryTypeName();
    // Forgets every name; later lookups ask the shell again.
    virtual void Clear();

    // The number of extension keys held.
    int ExtensionCount() const { return Extensions.Count(); }

private:
    TShellTypeNameFunction Lookup;
    // Keys are the upper-cased extensions, objects the owned TEntry objects.
    Kiv_framework::TStringList Extensions;
    std::unique_ptr<TEntry> DirectoryEntry;
};

} // namespace Kiv_shellfiles
