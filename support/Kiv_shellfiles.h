// File types and file operations of the shell: the type name the desktop shows for a
// file and the cache of type names by extension; the freedesktop.org trash and the move
// of a list of files into it (RecycleFiles); the desktop's programs that open a file,
// show its folder and its properties (TShell, the Qt one in Kiv_shellfiles_window).
//
// On Linux a type name is the comment of the freedesktop shared MIME database's type
// (QMimeDatabase), matched by the file name only, in the user's language; directories
// have the comment of inode/directory. Texts are UTF-8 std::string.
#pragma once

#include "Kiv_files.h"
#include "Kiv_framework.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

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

// True when Qt names the file with the same bytes (QFile::decodeName and encodeName give
// them back): a name that is not valid UTF-8 must never reach a Qt call, which would act
// on another name.
bool QtKeepsFileName(const std::string& path);

// ---------------------------------------------------------------------------------------
// The trash, in the freedesktop.org layout (files/ and info/ under a trash folder)

// Which file, and whether it can have changed: device and inode, size, and the change
// time (ctime, nanoseconds since 1970), which every write, rename and change of attributes
// sets and no program can set back. All 0 when unknown.
struct TFileStamp {
    std::uint64_t Device = 0;
    std::uint64_t Inode = 0;
    std::uint64_t Size = 0;
    std::uint64_t ChangeTime = 0;
    friend bool operator==(const TFileStamp&, const TFileStamp&) = default;
    bool Known() const { return Device != 0 || Inode != 0; }
};

// Where a trashed file went.
struct TTrashedFile {
    std::string Path;        // where the file was
    std::string TrashedPath; // the file now: <trash>/files/<name>
    std::string InfoPath;    // its information file: <trash>/info/<name>.trashinfo
    TFileStamp Trashed;      // the file in the trash, right after the move
    TFileStamp Info;         // its information file as it was written
};

// A record of the trash (the log, the list of pending moves) could not be written: the
// operation stops at once, as nothing may move without its record.
class ETrashLogError : public EShellFileError {
public:
    using EShellFileError::EShellFileError;
};

// Calls around each move (and each putting back), for whoever needs more than the move.
struct TRecycleHooks {
    // Right before the file moves, with what its folder (reached folder by folder, no
    // symbolic link followed) holds under its name; that very file moves afterwards, or
    // none. An EShellFileError it raises keeps the file where it is and is offered to the
    // user like a failed move (skip or stop).
    std::function<void(const std::string& path, const Kiv_files::TFindData& found)> Check;
    // Records the move (or the putting back) before it is made; what it raises stops the
    // operation with nothing moved.
    std::function<void(const TTrashedFile& file)> Record;
    // The recorded move could not be made after all. Raises nothing.
    std::function<void(const TTrashedFile& file)> Failed;
    // Told where each moved file went, right after its move.
    std::function<void(const TTrashedFile& file)> Moved;
};

// The user's home trash: $XDG_DATA_HOME/Trash, or ~/.local/share/Trash when that variable
// is unset or not absolute.
std::string HomeTrashDirectory();

// Moves files into the trash the desktop's file managers share. A file on the file
// system of the home trash goes there, with its absolute path in its information file; a
// file on another file system goes to that file system's own trash, $topdir/.Trash/$uid
// (where an administrator made $topdir/.Trash, sticky and no link) or $topdir/.Trash-$uid,
// with its path relative to $topdir. Nothing is ever copied: a file that cannot be
// renamed into a trash stays where it is.
//
// Each move works on descriptors: the file's folder is opened folder by folder from the
// root without following a symbolic link, the file is looked at through it and renamed
// from it, so the file that moves is the one that was looked at. Its information file is
// written first, under a name listed beforehand in a list of pending moves beside the
// home trash (Sorvik/trash-<pid>.pending in the data folder); a move killed before its
// rename leaves an information file without its file, which the next operation (or the
// next start, FinishInterruptedMoves) removes.
class TTrash {
public:
    // homeTrash is made (with its parents) when a file first needs it.
    explicit TTrash(std::string homeTrash = HomeTrashDirectory());
    virtual ~TTrash();
    TTrash(const TTrash&) = delete;
    TTrash& operator=(const TTrash&) = delete;

    // Moves one regular file. The information file is written whole before the move and
    // removed again when the move fails, so nothing is lost and nothing is left behind.
    // Failure raises EShellFileError "The program could not move the file \"%s\" to the
    // trash (reason)." with the path and the reason. Check, Record and Failed of the hooks
    // are called as they say; Moved is not.
    virtual TTrashedFile MoveToTrash(const std::string& path, const TRecycleHooks& hooks = {});

    const std::string& HomeTrash() const { return Home; }

private:
    struct TState;

    std::string Home;
    std::unique_ptr<TState> State;
};

// Removes the information files that moves killed before their rename left behind (the
// lists of pending moves of programs that are no longer running) and those lists. Raises
// nothing: what cannot be tidied now is tidied another time.
void FinishInterruptedMoves(const std::string& homeTrash = HomeTrashDirectory());
// Where the lists of pending moves of the trash are kept: Sorvik/ in the trash's data
// folder.
std::string PendingMovesFolder(const std::string& homeTrash);

// Puts a trashed file back where it was, making its folder again where it is gone, never
// over another file, and removes its information file; only while the file under the
// trash name is still the one that was moved (device, inode, size, change time) and its
// information file the one written for it. Record and Failed of the hooks are called
// around the rename. Raises EShellFileError naming the file: "The program could not put
// the file \"%s\" back: another file is in its place.", "... back: it is no longer in
// the trash." or, for any other failure, "The program could not put the file \"%s\" back
// (reason).". Returns the file put back as it was right after the rename, looked at
// through its folder (not known when it was gone at once).
TFileStamp RestoreFromTrash(const TTrashedFile& file, const TRecycleHooks& hooks = {});
// True while the file the trash took is still there under its trash name, unchanged.
bool IsInTrash(const TTrashedFile& file);

// The record of every file the program moved to the trash or put back, one line each, so
// that a user can always find what went where: the time (UTC), "moved", "restored" or
// "failed" (the act of the line before for that file did not happen), the path the file
// had, its path in the trash, its size in bytes and its hash text ("-" where none is
// known), separated by tabs; control characters and backslashes in the paths escaped.
// Each line is written before its act.
class TTrashLog {
public:
    explicit TTrashLog(std::string path);
    ~TTrashLog();
    TTrashLog(const TTrashLog&) = delete;
    TTrashLog& operator=(const TTrashLog&) = delete;

    // Opens the log for adding lines, making its folder where missing. Only a regular file
    // is taken (a FIFO is refused at once, never waited on). Raises ETrashLogError "The
    // program could not write the trash log \"%s\" (reason)." when it cannot.
    void Open();
    // Adds one line (Open first); raises like Open when the whole line cannot be written.
    void Record(const char* action, const TTrashedFile& file, std::uint64_t size,
                const std::string& hash);
    void Close();
    const std::string& Path() const { return FPath; }

private:
    [[noreturn]] void Fail(int error) const;
    [[noreturn]] void Fail(const std::string& reason) const;

    std::string FPath;
    int Descriptor = -1;
};

// $XDG_DATA_HOME/Sorvik/trash.log, or ~/.local/share/Sorvik/trash.log.
std::string DefaultTrashLogPath();

// What the user sees while files move to the trash.
class TFileOperationMonitor {
public:
    virtual ~TFileOperationMonitor() = default;
    // Before the first file, with the number of files.
    virtual void Start(int count) = 0;
    // Before each file; false when the user cancelled.
    virtual bool Next(int index, const std::string& path) = 0;
    // A file could not be moved: true to skip it and go on, false to stop.
    virtual bool SkipAfterError(const std::string& path, const std::string& message) = 0;
    // After the last file, also when the operation stopped early. Raises nothing.
    virtual void Finish() = 0;
};

// Moves the files, in order, to the trash; true when the user aborted no part of it,
// false when they cancelled or chose to stop after an error (the files before stay in
// the trash, those after are not tried). A file that cannot be moved stays where it is.
// An ETrashLogError ends the operation at once and passes on.
bool RecycleFiles(const std::vector<std::string>& paths, TTrash& trash,
                  TFileOperationMonitor& monitor, const TRecycleHooks& hooks = {});

// ---------------------------------------------------------------------------------------
// The desktop's programs

// Each operation tells whether the desktop took the request, and where it did not, why
// (in words that follow "could not ... (" in a message); a name Qt would change is
// refused without anything happening.
class TShell {
public:
    virtual ~TShell() = default;
    // The default program of the file's type opens it.
    virtual bool OpenFile(const std::string& path, std::string& why) = 0;
    // The file manager shows the file's folder, the file selected where it can.
    virtual bool ExploreFile(const std::string& path, std::string& why) = 0;
    // A window shows the file's properties.
    virtual bool ShowFileProperties(const std::string& path, std::string& why) = 0;
    // RecycleFiles into the user's trash, with the progress and the questions shown.
    virtual bool RecycleFiles(const std::vector<std::string>& paths,
                              const TRecycleHooks& hooks = {}) = 0;
    // Where the record of the moves goes (a test's shell keeps it with its own trash).
    virtual std::string TrashLogPath() const { return DefaultTrashLogPath(); }
    // Tidies what killed moves left in the user's trash (FinishInterruptedMoves).
    virtual void FinishInterruptedMoves() { Kiv_shellfiles::FinishInterruptedMoves(); }
};

} // namespace Kiv_shellfiles
