// Paths and file enumeration: existence and form checks, the canonical ("long") form of
// a path, the directory-entry record of one file, the path list and the enumerator over
// the names of a directory. Plain POSIX; no Qt.
//
// On Linux:
// - a path is absolute when it begins with "/";
// - "*" and "?" are ordinary name characters, so there are no pattern checks;
// - GetLongPath is realpath(3): symbolic links, "." and ".." resolved;
// - path identity is case-sensitive: /a/Read.me and /a/read.me are two files;
// - the directory-entry record is TFindData below, filled from statx(2) without
//   following symbolic links.
//
// A path holding a NUL character names no file here: every operation treats it as a
// path that does not exist, so that nothing acts on the shorter name before the NUL.
#pragma once

#include "Kiv_framework.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace Kiv_files {

// Attribute bits of a TFindData. faSystem, faArchive and faNormal exist for the
// callers' masks; Linux never sets them.
constexpr std::uint32_t faReadOnly = 0x01;  // the owner has no write permission
constexpr std::uint32_t faHidden = 0x02;    // the name begins with "."
constexpr std::uint32_t faSystem = 0x04;    // never set on Linux
constexpr std::uint32_t faDirectory = 0x10; // a directory (never for a symbolic link)
constexpr std::uint32_t faArchive = 0x20;   // never set on Linux
constexpr std::uint32_t faDevice = 0x40;    // a socket, FIFO, character or block device
constexpr std::uint32_t faNormal = 0x80;    // never set on Linux
constexpr std::uint32_t faSymLink = 0x400;  // a symbolic link (not followed)

// A file time: 100-ns ticks since 1601-01-01 00:00 UTC in two 32-bit halves, low first.
// 0 means unknown.
struct TFileTime {
    std::uint32_t LowDateTime = 0;
    std::uint32_t HighDateTime = 0;
    friend bool operator==(const TFileTime&, const TFileTime&) = default;
};

std::uint64_t FileTimeToUInt64(const TFileTime& time);
TFileTime UInt64ToFileTime(std::uint64_t ticks);
// The file time of a Unix time (seconds and nanoseconds since 1970-01-01 UTC); a time
// before 1601 gives 0, one past the largest signed 64-bit tick count gives that count.
TFileTime UnixTimeToFileTime(std::int64_t seconds, std::uint32_t nanoseconds);
// Nanoseconds since 1970-01-01 UTC; a time before 1970 or past 2554 gives 0 (unknown).
std::uint64_t UnixTimeToNanoseconds(std::int64_t seconds, std::uint32_t nanoseconds);

// The directory-entry record, with the members of Windows' WIN32_FIND_DATAA that the
// program reads, in that order. Trivially copyable; copying allocates nothing.
struct TFindData {
    std::uint32_t FileAttributes = 0;
    TFileTime CreationTime;         // birth time where the file system reports it, else 0
    TFileTime LastAccessTime;       // atime
    TFileTime LastWriteTime;        // mtime
    std::uint32_t FileSizeHigh = 0; // size of a regular file; 0 for every other kind
    std::uint32_t FileSizeLow = 0;
    // Which file it is: two records of one device and inode are the same file, under
    // whatever names. 0 and 0 when unknown.
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    // ctime: nanoseconds since 1970-01-01 UTC, 0 when unknown. No program can set it
    // back, so an equal change time proves the file untouched where size and last
    // write time (which `touch -d` sets) cannot.
    std::uint64_t ChangeTime = 0;
    char FileName[256] = {}; // NAME_MAX + 1: the name's exact bytes, NUL-terminated
};

class EFileError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

// A path whose form is not acceptable (not absolute).
class EPathError : public EFileError {
public:
    using EFileError::EFileError;
};

// True when the path names an existing file system object of any kind (not following a
// final symbolic link, so a dangling link exists too).
bool PathExists(const std::string& path);
// True when the path begins with "/".
bool IsAbsolutePath(const std::string& path);
// The path unchanged when it is absolute; else EPathError "The path is not in absolute
// form.".
std::string CheckAbsolutePath(const std::string& path);
// The process's current directory, of any length; nothing when it has none (it was
// removed since it was entered, or cannot be read).
std::optional<std::string> CurrentDirectory();
// The user's home folder: $HOME when absolute, else the user database's; empty when
// neither is known.
std::string HomeFolder();
// The system's text of an errno value; unlike strerror, safe beside other threads.
std::string SystemErrorText(int error);
// The canonical form of an existing path (realpath(3)); a missing path or any other
// failure raises EFileError "The program could not get the long path of the file.". A
// path longer than the system takes in one call is resolved one component at a time.
std::string GetLongPath(const std::string& path);
// The record of one existing object, the path itself (a final symbolic link is not
// followed); its name is the path's last component. A missing path raises EFileError
// "The program could not find the file.". A path longer than the system takes in one call
// is looked up through its folders, none of them a symbolic link.
TFindData GetFindData(const std::string& path);
// As GetFindData, without raising: 0, or the errno of the failure.
int FindDataOf(const std::string& path, TFindData& record);

// What a file is and when it last changed, as stat(2) tells it: two states taken of one
// file are equal while it is the same file, neither written nor changed in any other way
// (its change time moves with every change, and no program can set it back).
struct TFileState {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::uint32_t Mode = 0;
    std::int64_t WriteSeconds = 0; // mtime
    std::uint32_t WriteNanoseconds = 0;
    std::int64_t ChangeSeconds = 0; // ctime
    std::uint32_t ChangeNanoseconds = 0;
    friend bool operator==(const TFileState&, const TFileState&) = default;

    bool IsRegular() const;
    // The last write time as a file time, the change time in nanoseconds since 1970, as
    // TFindData holds them.
    std::uint64_t LastWriteTime() const;
    std::uint64_t ChangeTime() const;
};

// The state of an open file; false with errno set.
bool GetFileState(int descriptor, TFileState& state);
// The state of what the path names now, a final symbolic link not followed; false with
// errno set. A path longer than the system takes in one call is looked up through its
// folders, none of them a symbolic link.
bool GetFileState(const std::string& path, TFileState& state);

std::uint32_t FindDataAttributes(const TFindData& findData);
TFileTime FindDataCreationTime(const TFindData& findData);
TFileTime FindDataLastAccessTime(const TFindData& findData);
TFileTime FindDataLastWriteTime(const TFindData& findData);
std::uint64_t FindDataSize(const TFindData& findData);
std::string FindDataName(const TFindData& findData);

// The text without all of its leading occurrences of the character (compared as a
// one-character file name: on Linux, byte for byte).
std::string ExcludeLeadingChars(const std::string& text, char character);

// A string list ordered and compared by path identity: on Linux byte for byte, so case
// counts (/a/Read.me and /a/read.me are two paths). The CaseSensitive field of the base
// is not consulted.
//
// Each line lives in a node of its own that never moves; the list order is kept in
// blocks of a few hundred small references to the nodes, with a position index (a
// Fenwick tree) over the block sizes. So a sorted Add moves at most one block of
// references, never the rest of the list, and Add, Find, Delete and item access take
// logarithmic time. The behaviour is the framework string list's, with two refinements:
// - a list whose Sorted field is true is always in sorted order: lines added while it
//   was unsorted are sorted (stably) by the first operation that needs the order, as
//   setting Sorted does in Delphi's TStringList (Sort does it at once);
// - with dupAccept, a line equal to present ones goes before them (Find gives the first
//   of equal lines).
// The operations below override the base's, so a TPathList also works through a
// reference to the base (whose own storage stays empty).
class TPathList : public Kiv_framework::TStringList {
public:
    TPathList() = default;
    ~TPathList() override;
    TPathList(const TPathList& other);
    TPathList& operator=(const TPathList& other);
    TPathList(TPathList&& other) noexcept;
    TPathList& operator=(TPathList&& other) noexcept;

    int Count() const override { return Total; }
    const std::string& operator[](int index) const override;
    void* Objects(int index) const override;

    // Returns the index of the line; a duplicate ignored by a sorted list returns the
    // index of the line already there.
    int Add(const std::string& text, void* object = nullptr) override;
    void Delete(int index) override;
    void Clear() override;
    int IndexOf(const std::string& text) const override;
    // Binary search: true when found, index of the (first equal) line or of the place
    // it would go.
    bool Find(const std::string& text, int& index) const override;
    void SetCapacity(int capacity) override;
    std::vector<std::string> Lines() const override;
    // Sorts the lines now (stable), whatever Sorted says.
    void Sort();

protected:
    // Byte-wise (unsigned) comparison: case-sensitive, like the file system. Final: the
    // blocks compare the bytes directly, in the same order.
    int CompareStrings(const std::string& a, const std::string& b) const final;

private:
    struct TNode {
        std::string Text;
        void* Object;
    };
    // What a block holds: the node and its text's bytes (stable while the node lives).
    struct TRef {
        const char* Data;
        std::size_t Size;
        TNode* Node;
    };
    using TBlock = std::vector<TRef>;

    // Block of the position and place in it.
    struct TPlace {
        std::size_t Block;
        std::size_t Offset;
    };

    void CheckIndex(int index) const;
    void EnsureOrder() const;
    void SortItems() const;
    void RebuildIndex() const;
    void IndexAdd(std::size_t block, int delta) const;
    int IndexPrefix(std::size_t block) const; // lines in the blocks before block
    TPlace PlaceOfIndex(int index) const;
    // First place whose line is not less than text; Found tells whether it equals.
    TPlace LowerBound(const std::string& text, bool& found) const;
    int IndexOfPlace(const TPlace& place) const;
    void InsertAt(const TPlace& place, const std::string& text, void* object);
    void CopyFrom(const TPathList& other);
    void FreeNodes() noexcept;

    // Mutable: a sorted list puts itself in order on first need, also in const access.
    mutable std::vector<TBlock> Blocks;
    mutable std::vector<int> Index; // Fenwick tree over the block sizes
    mutable bool IndexValid = false;
    mutable bool InOrder = true; // the lines are in sorted order
    int Total = 0;
};

// An open directory. What is listed or opened through it is in that directory, whatever
// its path names meanwhile: a directory is never found again by its path, so a symbolic
// link put in the place of one of its parents leads nowhere, and a path longer than the
// system takes in one call is no obstacle.
class TDirectory {
public:
    ~TDirectory();
    TDirectory(const TDirectory&) = delete;
    TDirectory& operator=(const TDirectory&) = delete;

    // The directory at path, a final symbolic link not followed; nullptr with the errno of
    // the failure.
    static std::shared_ptr<TDirectory> Open(const std::string& path, int& error);
    // The subdirectory of this one listed as record, a symbolic link not followed;
    // nullptr with the errno of the failure, ESTALE when what has the name now is another
    // directory than the one listed.
    std::shared_ptr<TDirectory> OpenChild(const TFindData& record, int& error) const;

    int Descriptor() const { return FDescriptor; }

private:
    explicit TDirectory(int descriptor) : FDescriptor(descriptor) {}
    int FDescriptor;
};

// Opens a file for reading as the content matchers do: read-only, a final symbolic link
// not followed, without blocking on a FIFO or a device, and through the path's
// directories one by one when the path is longer than the system takes in one call. The
// descriptor, or -1 with errno set.
int OpenForReading(const std::string& path);

// Lets the process hold as many open files as the system allows it: a listing holds a
// directory open while directories below it wait for theirs.
void RaiseOpenFileLimit();

// A forward-only listing of the names of one directory.
//
// The pattern on Linux is a directory path followed by "/*" (DirectoryPattern builds
// it): the listing holds every name of that directory, "." and ".." included, in the
// order readdir(3) yields them, unsorted and unfiltered. The final "*" asks for every
// name; it is no wildcard match, and "*" and "?" anywhere else are plain name
// characters. A pattern that does not end in "/*" is taken whole as the directory path.
// A missing or unreadable directory (or a path that is no directory) makes the first
// MoveNext return false, like a failed start.
//
// Every name is looked up with statx(2) (fstatat(2) where statx is missing) relative
// to the open directory, never following a symbolic link. A name removed between the
// listing and the lookup is skipped; any other failed lookup ends the listing like a
// failed step.
class TFileEnumerator {
public:
    explicit TFileEnumerator(const std::string& pattern);
    // Lists the open directory (its pattern is empty).
    explicit TFileEnumerator(std::shared_ptr<TDirectory> directory);
    virtual ~TFileEnumerator();
    TFileEnumerator(const TFileEnumerator&) = delete;
    TFileEnumerator& operator=(const TFileEnumerator&) = delete;

    virtual bool MoveNext();
    // Ends any open listing; the next MoveNext starts again from the beginning.
    virtual void Reset();

    // A copy of the current record; meaningful only after a MoveNext that returned true.
    TFindData Current() const { return Record; }
    const std::string& Pattern() const { return FPattern; }

private:
    enum class TState { stNotStarted, stSearching, stFinished };

    bool Step();
    void EndSearch();

    std::string FPattern;
    std::string Directory;
    std::shared_ptr<TDirectory> OpenDirectory; // listed instead of Directory when set
    void* Handle = nullptr;                    // the open DIR of <dirent.h>
    TState State = TState::stNotStarted;
    TFindData Record;
};

// The enumerator pattern that lists every name of a directory: the directory with a
// trailing "/" ensured, followed by "*".
std::string DirectoryPattern(const std::string& directory);

} // namespace Kiv_files
