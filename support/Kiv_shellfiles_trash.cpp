// The freedesktop.org trash in plain POSIX calls, so that every name keeps its exact
// bytes (also one that is not valid UTF-8) and each file costs a handful of system calls.
// Every file is reached through descriptors of its folders, opened from the root without
// following a symbolic link: what is looked at is what moves.
#include "Kiv_shellfiles.h"
#include "Kiv_strings.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>
#include <unordered_map>
#include <utility>

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x00001000U
#endif

namespace Kiv_shellfiles {

namespace {

// Names in a trash folder stay within NAME_MAX with ".trashinfo" appended.
constexpr std::size_t NameMax = 255;
const std::string InfoSuffix = ".trashinfo";
// Enough for any folder that is not being filled on purpose by someone else.
constexpr int MaxNameNumber = 1 << 30;
const std::string PendingPrefix = "trash-";
const std::string PendingSuffix = ".pending";

// An owned file descriptor.
class TFd {
public:
    TFd() = default;
    explicit TFd(int fd) : Fd(fd) {}
    ~TFd() { Reset(); }
    TFd(TFd&& other) noexcept : Fd(std::exchange(other.Fd, -1)) {}
    TFd& operator=(TFd&& other) noexcept {
        if (this != &other) {
            Reset();
            Fd = std::exchange(other.Fd, -1);
        }
        return *this;
    }
    TFd(const TFd&) = delete;
    TFd& operator=(const TFd&) = delete;

    int Get() const { return Fd; }
    bool Valid() const { return Fd >= 0; }
    void Reset(int fd = -1) {
        if (Fd >= 0)
            ::close(Fd);
        Fd = fd;
    }

private:
    int Fd = -1;
};

struct TStat {
    int Error = 0; // errno; 0 when the object was found
    mode_t Mode = 0;
    uid_t Owner = 0;
    std::uint64_t Mount = 0;
};

// The mount, where the kernel tells it (bind mounts of one file system are apart for
// rename(2)), else the device.
std::uint64_t MountOf(const struct statx& buffer) {
    return (buffer.stx_mask & STATX_MNT_ID) != 0
               ? buffer.stx_mnt_id | (std::uint64_t{1} << 63)
               : (std::uint64_t{buffer.stx_dev_major} << 32) | buffer.stx_dev_minor;
}

TStat Stat(const std::string& path, bool follow) {
    struct statx buffer {};
    const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_TYPE | STATX_MODE | STATX_UID | STATX_MNT_ID,
                &buffer) != 0)
        return {errno != 0 ? errno : ENOENT};
    return {0, static_cast<mode_t>(buffer.stx_mode), buffer.stx_uid, MountOf(buffer)};
}

constexpr unsigned FileMask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_INO | STATX_ATIME |
                              STATX_MTIME | STATX_CTIME | STATX_BTIME | STATX_MNT_ID;

// What the folder holds under the name, not following a symbolic link; errno or 0.
int StatAt(int folder, const std::string& name, struct statx& buffer) {
    return ::statx(folder, name.c_str(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, FileMask,
                   &buffer) == 0
               ? 0
               : errno;
}

TFileStamp StampOf(const struct statx& buffer) {
    return {makedev(buffer.stx_dev_major, buffer.stx_dev_minor), buffer.stx_ino, buffer.stx_size,
            Kiv_files::UnixTimeToNanoseconds(buffer.stx_ctime.tv_sec, buffer.stx_ctime.tv_nsec)};
}

TFileStamp StampOf(const struct stat& buffer) {
    return {buffer.st_dev, buffer.st_ino, static_cast<std::uint64_t>(buffer.st_size),
            Kiv_files::UnixTimeToNanoseconds(buffer.st_ctim.tv_sec,
                                             static_cast<std::uint32_t>(buffer.st_ctim.tv_nsec))};
}

// The stamp of what the folder holds under the name; unknown (all 0) when nothing.
TFileStamp StampAt(int folder, const std::string& name) {
    struct statx buffer {};
    return folder >= 0 && StatAt(folder, name, buffer) == 0 ? StampOf(buffer) : TFileStamp{};
}

// The listing record of a regular file, as Kiv_files makes it from the same facts.
Kiv_files::TFindData FindDataOf(const struct statx& buffer, const std::string& name) {
    using namespace Kiv_files;
    TFindData record{};
    std::uint32_t attributes = 0;
    if ((buffer.stx_mode & S_IWUSR) == 0)
        attributes |= faReadOnly;
    if (!name.empty() && name[0] == '.')
        attributes |= faHidden;
    record.FileAttributes = attributes;
    record.FileSizeHigh = static_cast<std::uint32_t>(buffer.stx_size >> 32);
    record.FileSizeLow = static_cast<std::uint32_t>(buffer.stx_size);
    record.Device = makedev(buffer.stx_dev_major, buffer.stx_dev_minor);
    record.Inode = buffer.stx_ino;
    if (buffer.stx_mask & STATX_BTIME)
        record.CreationTime = UnixTimeToFileTime(buffer.stx_btime.tv_sec, buffer.stx_btime.tv_nsec);
    record.LastAccessTime = UnixTimeToFileTime(buffer.stx_atime.tv_sec, buffer.stx_atime.tv_nsec);
    record.LastWriteTime = UnixTimeToFileTime(buffer.stx_mtime.tv_sec, buffer.stx_mtime.tv_nsec);
    record.ChangeTime = UnixTimeToNanoseconds(buffer.stx_ctime.tv_sec, buffer.stx_ctime.tv_nsec);
    const std::size_t length = std::min(name.size(), sizeof record.FileName - 1);
    name.copy(record.FileName, length);
    return record;
}

std::string Reason(int error) {
    return Kiv_files::SystemErrorText(error);
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

std::string Join(const std::string& directory, const std::string& name) {
    return directory == "/" ? "/" + name : directory + "/" + name;
}

const int FolderFlags = O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;

// Why the folder of that name (at path) could not be opened in its parent.
std::string WhyNotOpened(int parent, const std::string& name, const std::string& path, int error) {
    struct stat link {};
    return ::fstatat(parent, name.c_str(), &link, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(link.st_mode)
               ? "\"" + path + "\" is a symbolic link"
               : Reason(error);
}

// The folder at an absolute path as an O_PATH descriptor, reached folder by folder from the
// root without following a symbolic link: the folder that had this path when it was
// reached, whatever is put in its place afterwards. Folders that are missing are made
// with mode 0700 when make is set. An invalid descriptor and why when it cannot be had.
TFd OpenFolder(const std::string& path, std::string& why, bool make = false) {
    if (path.empty() || path[0] != '/') {
        why = "the path is not absolute";
        return {};
    }
    TFd folder(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::size_t start = 1;
    while (folder.Valid() && start < path.size()) {
        std::size_t end = path.find('/', start);
        if (end == std::string::npos)
            end = path.size();
        const std::string name = path.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            why = "its path is not in canonical form";
            return {};
        }
        int next = ::openat(folder.Get(), name.c_str(), FolderFlags);
        if (next < 0 && errno == ENOENT && make &&
            (::mkdirat(folder.Get(), name.c_str(), 0700) == 0 || errno == EEXIST))
            next = ::openat(folder.Get(), name.c_str(), FolderFlags);
        if (next < 0) {
            why = WhyNotOpened(folder.Get(), name, path.substr(0, end), errno);
            return {};
        }
        folder.Reset(next);
    }
    if (!folder.Valid())
        why = Reason(errno);
    return folder;
}

// A folder of the trash: the path may run through links of the user's own making (a home
// on another disk); they are resolved once, and the folder then reached without any.
TFd OpenTrashFolder(const std::string& path, std::string& why) {
    char* resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) {
        why = Reason(errno);
        return {};
    }
    const std::string canonical = resolved;
    std::free(resolved);
    return OpenFolder(canonical, why);
}

// A folder made with mode 0700 where missing; true when it is a folder (not a link) now.
bool EnsureFolder(const std::string& path, bool mustBeOwn) {
    if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST)
        return false;
    const TStat folder = Stat(path, false);
    return folder.Error == 0 && S_ISDIR(folder.Mode) && (!mustBeOwn || folder.Owner == ::getuid());
}

// Every missing folder of the path, from the root down, with mode 0700.
bool EnsureFolders(const std::string& path) {
    const TStat present = Stat(path, true);
    if (present.Error == 0)
        return S_ISDIR(present.Mode);
    if (present.Error != ENOENT || path == "/")
        return false;
    if (!EnsureFolders(Parent(path)))
        return false;
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// The path as a URL path: every byte outside the unreserved characters and "/" escaped.
std::string PercentEncoded(const std::string& path) {
    static const char Hex[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(path.size());
    for (const char character : path) {
        const auto byte = static_cast<unsigned char>(character);
        const bool plain = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9') || byte == '-' || byte == '.' ||
                           byte == '_' || byte == '~' || byte == '/';
        if (plain) {
            result += character;
        } else {
            result += '%';
            result += Hex[byte >> 4];
            result += Hex[byte & 15];
        }
    }
    return result;
}

std::string PercentDecoded(const std::string& text) {
    const auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && digit(text[i + 1]) >= 0 &&
            digit(text[i + 2]) >= 0) {
            result += static_cast<char>(digit(text[i + 1]) * 16 + digit(text[i + 2]));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string DeletionDate() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
    return text;
}

// The name's first bytes that leave room for the suffix and ".trashinfo", cut before a
// UTF-8 continuation byte so that a character is never split.
std::string TrashName(const std::string& name, int number) {
    const std::string suffix = number == 1 ? std::string() : "." + std::to_string(number);
    const std::size_t room = NameMax - InfoSuffix.size() - suffix.size();
    std::size_t length = std::min(name.size(), room);
    while (length > 0 && length < name.size() &&
           (static_cast<unsigned char>(name[length]) & 0xC0) == 0x80)
        --length;
    return name.substr(0, length) + suffix;
}

// Writes the whole text to a new file of the folder; 0 or the errno of the failure (the
// file then removed). The stamp is of the file as written.
int WriteNewFileAt(int folder, const std::string& name, const std::string& text,
                   TFileStamp& stamp) {
    const int fd =
        ::openat(folder, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return errno;
    std::size_t written = 0;
    int error = 0;
    while (error == 0 && written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            error = count < 0 ? errno : ENOSPC;
        else
            written += static_cast<std::size_t>(count);
    }
    struct stat status {};
    if (error == 0 && ::fstat(fd, &status) != 0)
        error = errno;
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        ::unlinkat(folder, name.c_str(), 0);
        return error;
    }
    stamp = StampOf(status);
    return 0;
}

// The rename that never replaces a file; where the file system cannot promise that, the
// target is looked at right before.
int RenameNoReplace(int fromFolder, const std::string& from, int toFolder, const std::string& to) {
    if (::renameat2(fromFolder, from.c_str(), toFolder, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    struct stat present {};
    if (::fstatat(toFolder, to.c_str(), &present, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(fromFolder, from.c_str(), toFolder, to.c_str()) == 0 ? 0 : errno;
}

bool Exists(int folder, const std::string& name) {
    struct stat present {};
    return ::fstatat(folder, name.c_str(), &present, AT_SYMLINK_NOFOLLOW) == 0 || errno != ENOENT;
}

class TMoveError {
public:
    explicit TMoveError(const std::string& path) : Path(path) {}
    [[noreturn]] void Raise(const std::string& reason) const {
        throw EShellFileError("The program could not move the file \"" + Path +
                              "\" to the trash (" + reason + ").");
    }

private:
    const std::string& Path;
};

// ---------------------------------------------------------------------------------------
// The list of pending moves: each information file is named there before it is written,
// so that one whose file never arrived (the program was killed between the two) can be
// found and removed. Each program keeps its own list, locked while it runs.

class TPendingMoves {
public:
    explicit TPendingMoves(std::string folder) : Folder(std::move(folder)) {}
    ~TPendingMoves() {
        // Every information file named here got its file or was removed again.
        if (List.Valid())
            ::unlink(Path.c_str());
    }
    TPendingMoves(const TPendingMoves&) = delete;
    TPendingMoves& operator=(const TPendingMoves&) = delete;

    // Names the information file and the path it will hold; raises ETrashLogError.
    void Add(const std::string& infoPath, const std::string& pathValue) {
        if (!List.Valid())
            Open();
        const std::string line = PercentEncoded(infoPath) + "\t" + pathValue + "\n";
        if (::write(List.Get(), line.data(), line.size()) != static_cast<ssize_t>(line.size()))
            Fail(Reason(errno != 0 ? errno : ENOSPC));
    }

private:
    void Open() {
        Path = Join(Folder, PendingPrefix + std::to_string(::getpid()) + PendingSuffix);
        if (!EnsureFolders(Folder))
            Fail(Reason(errno != 0 ? errno : ENOTDIR));
        List.Reset(::open(Path.c_str(),
                          O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600));
        if (!List.Valid())
            Fail(Reason(errno));
        ::flock(List.Get(), LOCK_EX | LOCK_NB);
    }
    [[noreturn]] void Fail(const std::string& reason) const {
        throw ETrashLogError("The program could not write the list of pending moves \"" +
                             (Path.empty() ? Folder : Path) + "\" (" + reason + ").");
    }

    std::string Folder;
    std::string Path;
    TFd List;
};

std::string ReadAll(int fd) {
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            return text;
        text.append(buffer, static_cast<std::size_t>(count));
    }
}

// Removes the information file of a line of a list when its file never arrived and it
// still holds the path the list names.
void SettlePendingLine(const std::string& line) {
    const std::size_t tab = line.find('\t');
    if (tab == std::string::npos)
        return;
    const std::string infoPath = PercentDecoded(line.substr(0, tab));
    const std::string pathValue = line.substr(tab + 1);
    const std::string infoFolder = Parent(infoPath);
    const std::string infoName = NameOf(infoPath);
    if (NameOf(infoFolder) != "info" || infoName.size() <= InfoSuffix.size() ||
        infoName.compare(infoName.size() - InfoSuffix.size(), InfoSuffix.size(), InfoSuffix) != 0)
        return;
    std::string why;
    const TFd info = OpenTrashFolder(infoFolder, why);
    const TFd files = OpenTrashFolder(Join(Parent(infoFolder), "files"), why);
    if (!info.Valid() || !files.Valid())
        return;
    const std::string trashName = infoName.substr(0, infoName.size() - InfoSuffix.size());
    if (Exists(files.Get(), trashName))
        return; // it arrived
    const TFd file(::openat(info.Get(), infoName.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    if (!file.Valid())
        return;
    const std::string text = ReadAll(file.Get());
    if (text.find("\nPath=" + pathValue + "\n") != std::string::npos)
        ::unlinkat(info.Get(), infoName.c_str(), 0);
}

} // namespace

bool QtKeepsFileName(const std::string& path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

std::string HomeTrashDirectory() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return Join(dataHome, "Trash");
    const std::string home = Kiv_files::HomeFolder();
    return Join(home.empty() ? "/" : home, ".local/share/Trash");
}

std::string PendingMovesFolder(const std::string& homeTrash) {
    // The home trash's folder is the data folder.
    return Join(Parent(homeTrash), "Sorvik");
}

// ---------------------------------------------------------------------------------------
// TTrash

namespace {

// A folder opened on the way to a file, and its path.
struct TFolderLink {
    std::string Path;
    TFd Fd;
};

// A trash folder and its two parts.
struct TTrashFolder {
    std::string Directory; // the trash folder; empty when none can be had
    std::string TopDir;    // empty for the home trash: paths are kept absolute
    std::string Reason;    // why there is none
    TFd Files;
    TFd Info;
    // The number to try first for a name, past those this operation took: a thousand
    // files of one name cost a thousand tries, not half a million.
    std::unordered_map<std::string, int> NextNumber;
};

} // namespace

struct TTrash::TState {
    explicit TState(const std::string& home) : Pending(PendingMovesFolder(home)) {}

    // The folders from the root down to the last file's folder.
    std::vector<TFolderLink> Chain;
    // The trash folder of each file system met so far (by mount).
    std::map<std::uint64_t, TTrashFolder> Folders;
    TPendingMoves Pending;
    bool Settled = false;
};

TTrash::TTrash(std::string homeTrash)
    : Home(std::move(homeTrash)), State(std::make_unique<TState>(Home)) {}

TTrash::~TTrash() = default;

namespace {

std::uint64_t HomeMount(const std::string& home) {
    // The home trash may not exist yet: its file system is that of its nearest folder.
    std::string path = home;
    for (;;) {
        const TStat folder = Stat(path, true);
        if (folder.Error == 0 || path == "/")
            return folder.Mount;
        path = Parent(path);
    }
}

// Opens files/ and info/ of a trash folder that has just been checked.
void OpenParts(TTrashFolder& folder) {
    std::string why;
    folder.Files = OpenTrashFolder(Join(folder.Directory, "files"), why);
    if (folder.Files.Valid())
        folder.Info = OpenTrashFolder(Join(folder.Directory, "info"), why);
    if (!folder.Info.Valid()) {
        folder.Files.Reset();
        folder.Reason =
            "the trash folder \"" + folder.Directory + "\" cannot be opened (" + why + ")";
    }
}

TTrashFolder MakeHomeFolder(const std::string& home) {
    TTrashFolder folder;
    if (!EnsureFolders(home) || !EnsureFolder(Join(home, "files"), false) ||
        !EnsureFolder(Join(home, "info"), false)) {
        folder.Reason = "the trash folder \"" + home + "\" cannot be made";
        return folder;
    }
    folder.Directory = home;
    OpenParts(folder);
    return folder;
}

TTrashFolder MakeTopDirFolder(const std::string& path, std::uint64_t mount) {
    // The top folder of the file's file system: the highest folder above it on the same
    // mount.
    std::string top = Parent(path);
    while (top != "/") {
        const std::string up = Parent(top);
        const TStat folder = Stat(up, true);
        if (folder.Error != 0 || folder.Mount != mount)
            break;
        top = up;
    }
    const std::string uid = std::to_string(::getuid());
    std::string directory;
    // An administrator's shared $topdir/.Trash counts only when sticky and not a link.
    const std::string shared = Join(top, ".Trash");
    const TStat sharedStat = Stat(shared, false);
    if (sharedStat.Error == 0 && S_ISDIR(sharedStat.Mode) && (sharedStat.Mode & S_ISVTX) != 0 &&
        EnsureFolder(Join(shared, uid), true))
        directory = Join(shared, uid);
    else if (EnsureFolder(Join(top, ".Trash-" + uid), true))
        directory = Join(top, ".Trash-" + uid);
    TTrashFolder folder;
    if (directory.empty() || Stat(directory, false).Mount != mount ||
        !EnsureFolder(Join(directory, "files"), true) ||
        !EnsureFolder(Join(directory, "info"), true)) {
        folder.Reason = "no trash folder can be made on the file system of \"" + top + "\"";
        return folder;
    }
    folder.Directory = directory;
    folder.TopDir = top;
    OpenParts(folder);
    return folder;
}

TTrashFolder& FolderFor(std::map<std::uint64_t, TTrashFolder>& folders, const std::string& home,
                        const std::string& path, std::uint64_t mount) {
    if (const auto found = folders.find(mount); found != folders.end())
        return found->second;
    TTrashFolder folder =
        mount == HomeMount(home) ? MakeHomeFolder(home) : MakeTopDirFolder(path, mount);
    return folders.emplace(mount, std::move(folder)).first->second;
}

bool Taken(const TTrashFolder& folder, const std::string& trashName) {
    return Exists(folder.Files.Get(), trashName) ||
           Exists(folder.Info.Get(), trashName + InfoSuffix);
}

// The number to go on with once the first one tried for a name the operation had not met
// is taken: past the run of taken numbers the trash already holds, found by doubling and
// halving (a few looks, however many files of that name the trash holds).
int NumberPastTheTaken(const TTrashFolder& folder, const std::string& name) {
    int taken = 1;
    int free = 2;
    while (free < MaxNameNumber && Taken(folder, TrashName(name, free))) {
        taken = free;
        free = free < MaxNameNumber / 2 ? free * 2 : MaxNameNumber;
    }
    while (free - taken > 1) {
        const int middle = taken + (free - taken) / 2;
        (Taken(folder, TrashName(name, middle)) ? taken : free) = middle;
    }
    return free;
}

// True when folder is path or one of the folders above it.
bool Holds(const std::string& folder, const std::string& path) {
    return folder == "/" || path == folder ||
           (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
            path[folder.size()] == '/');
}

// The parent folder of the path, reached from the folders opened for the file before: the
// files of one folder open it once, those of the next folder only what differs.
int ParentFolder(std::vector<TFolderLink>& chain, const std::string& path, std::string& why) {
    const std::string parent = Parent(path);
    while (!chain.empty() && !Holds(chain.back().Path, parent))
        chain.pop_back();
    if (chain.empty()) {
        TFd root(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
        if (!root.Valid()) {
            why = Reason(errno);
            return -1;
        }
        chain.push_back({"/", std::move(root)});
    }
    std::size_t start = chain.back().Path == "/" ? 1 : chain.back().Path.size() + 1;
    while (start < parent.size()) {
        std::size_t end = parent.find('/', start);
        if (end == std::string::npos)
            end = parent.size();
        const std::string name = parent.substr(start, end - start);
        start = end + 1;
        if (name.empty() || name == ".")
            continue;
        if (name == "..") {
            why = "its path is not in canonical form";
            return -1;
        }
        TFd next(::openat(chain.back().Fd.Get(), name.c_str(), FolderFlags));
        if (!next.Valid()) {
            why = WhyNotOpened(chain.back().Fd.Get(), name, parent.substr(0, end), errno);
            return -1;
        }
        chain.push_back({parent.substr(0, end), std::move(next)});
    }
    return chain.back().Fd.Get();
}

} // namespace

TTrashedFile TTrash::MoveToTrash(const std::string& path, const TRecycleHooks& hooks) {
    const TMoveError error(path);
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        error.Raise("the path is not absolute");
    if (!State->Settled) {
        State->Settled = true;
        FinishInterruptedMoves(Home);
    }
    const std::string name = NameOf(path);
    if (name.empty() || name == "." || name == "..")
        error.Raise("it is not a regular file");
    std::string why;
    // The folders opened for earlier files may have gone since, and others have taken
    // their paths: what cannot be found through them is looked for once more from the root.
    const bool reused = State->Chain.size() > 1;
    // The file that moves, if any does: the one its folder holds under its name now.
    struct statx found {};
    int parent = ParentFolder(State->Chain, path, why);
    int result = parent < 0 ? ENOENT : StatAt(parent, name, found);
    if (result == ENOENT && reused) {
        State->Chain.clear();
        parent = ParentFolder(State->Chain, path, why);
        result = parent < 0 ? ENOENT : StatAt(parent, name, found);
    }
    if (parent < 0)
        error.Raise(why);
    if (result != 0)
        error.Raise(Reason(result));
    if (!S_ISREG(found.stx_mode))
        error.Raise("it is not a regular file");
    if (hooks.Check)
        hooks.Check(path, FindDataOf(found, name));
    TTrashFolder& folder = FolderFor(State->Folders, Home, path, MountOf(found));
    if (!folder.Files.Valid())
        error.Raise(folder.Reason);

    const std::string relative =
        folder.TopDir.empty() ? path
                              : path.substr(folder.TopDir.size() + (folder.TopDir == "/" ? 0 : 1));
    const std::string pathValue = PercentEncoded(relative);
    const std::string info =
        "[Trash Info]\nPath=" + pathValue + "\nDeletionDate=" + DeletionDate() + "\n";
    const std::string files = Join(folder.Directory, "files");
    const std::string infos = Join(folder.Directory, "info");
    const auto next = folder.NextNumber.find(name);
    bool met = next != folder.NextNumber.end();
    int number = met ? next->second : 1;
    // The number was looked at and found free in both parts of the trash.
    bool looked = false;
    // A name taken: the next number to try, far past 1 when the trash holds many.
    const auto taken = [&] {
        looked = !met;
        number = met ? number + 1 : NumberPastTheTaken(folder, name);
        met = true;
    };
    for (;;) {
        if (number > MaxNameNumber)
            error.Raise("the trash holds too many files of that name");
        const std::string trashName = TrashName(name, number);
        TTrashedFile moved{
            path, Join(files, trashName), Join(infos, trashName + InfoSuffix), {}, {}};
        if (!std::exchange(looked, false) && Exists(folder.Files.Get(), trashName)) {
            taken();
            continue;
        }
        // The information file comes first and claims the name (O_EXCL); it is named in
        // the list of pending moves before it exists.
        State->Pending.Add(moved.InfoPath, pathValue);
        const std::string infoName = trashName + InfoSuffix;
        result = WriteNewFileAt(folder.Info.Get(), infoName, info, moved.Info);
        if (result == EEXIST) {
            taken();
            continue;
        }
        if (result != 0)
            error.Raise(Reason(result));
        // The record of the move comes before the move.
        if (hooks.Record) {
            try {
                hooks.Record(moved);
            } catch (...) {
                ::unlinkat(folder.Info.Get(), infoName.c_str(), 0);
                throw;
            }
        }
        result = RenameNoReplace(parent, name, folder.Files.Get(), trashName);
        if (result == 0) {
            moved.Trashed = StampAt(folder.Files.Get(), trashName);
            folder.NextNumber[name] = number + 1;
            return moved;
        }
        ::unlinkat(folder.Info.Get(), infoName.c_str(), 0);
        if (hooks.Record && hooks.Failed)
            hooks.Failed(moved);
        if (result != EEXIST)
            error.Raise(Reason(result));
        taken();
    }
}

void FinishInterruptedMoves(const std::string& homeTrash) {
    const std::string folder = PendingMovesFolder(homeTrash);
    DIR* directory = ::opendir(folder.c_str());
    if (directory == nullptr)
        return;
    std::vector<std::string> lists;
    while (const dirent* item = ::readdir(directory)) {
        const std::string name = item->d_name;
        if (name.size() > PendingPrefix.size() + PendingSuffix.size() &&
            name.compare(0, PendingPrefix.size(), PendingPrefix) == 0 &&
            name.compare(name.size() - PendingSuffix.size(), PendingSuffix.size(), PendingSuffix) ==
                0)
            lists.push_back(Join(folder, name));
    }
    ::closedir(directory);
    for (const std::string& path : lists) {
        const TFd list(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
        struct stat status {};
        // A list still locked belongs to a program that is moving files now.
        if (!list.Valid() || ::fstat(list.Get(), &status) != 0 || !S_ISREG(status.st_mode) ||
            status.st_uid != ::getuid() || ::flock(list.Get(), LOCK_EX | LOCK_NB) != 0)
            continue;
        const std::string text = ReadAll(list.Get());
        std::size_t start = 0;
        while (start < text.size()) {
            std::size_t end = text.find('\n', start);
            if (end == std::string::npos)
                end = text.size();
            SettlePendingLine(text.substr(start, end - start));
            start = end + 1;
        }
        ::unlink(path.c_str());
    }
}

bool RecycleFiles(const std::vector<std::string>& paths, TTrash& trash,
                  TFileOperationMonitor& monitor, const TRecycleHooks& hooks) {
    monitor.Start(static_cast<int>(paths.size()));
    struct TFinish {
        TFileOperationMonitor& Monitor;
        ~TFinish() { Monitor.Finish(); }
    } finish{monitor};
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string& path = paths[i];
        if (!monitor.Next(static_cast<int>(i), path))
            return false;
        TTrashedFile moved;
        try {
            moved = trash.MoveToTrash(path, hooks);
        } catch (const ETrashLogError&) {
            throw; // nothing moves without its record
        } catch (const EShellFileError& error) {
            if (!monitor.SkipAfterError(path, error.Message()))
                return false;
            continue;
        }
        if (hooks.Moved)
            hooks.Moved(moved);
    }
    return true;
}

// ---------------------------------------------------------------------------------------
// Putting back, and the log

TFileStamp RestoreFromTrash(const TTrashedFile& file, const TRecycleHooks& hooks) {
    const auto fail = [&](const std::string& why) {
        throw EShellFileError("The program could not put the file \"" + file.Path + "\" back" +
                              why + ".");
    };
    // Only the file that was moved, with the information file written for it: after the
    // trash was emptied, another file may carry its trash name.
    std::string why;
    const TFd files = OpenTrashFolder(Parent(file.TrashedPath), why);
    const TFd infos = files.Valid() ? OpenTrashFolder(Parent(file.InfoPath), why) : TFd();
    const std::string trashName = NameOf(file.TrashedPath);
    const std::string infoName = NameOf(file.InfoPath);
    if (!infos.Valid() || !file.Trashed.Known() ||
        StampAt(files.Get(), trashName) != file.Trashed ||
        StampAt(infos.Get(), infoName) != file.Info)
        fail(": it is no longer in the trash");
    // Its folder may have gone since: made again, as the user would expect the file back.
    const TFd target = OpenFolder(Parent(file.Path), why, true);
    if (!target.Valid())
        fail(" (" + why + ")");
    const std::string name = NameOf(file.Path);
    if (Exists(target.Get(), name))
        fail(": another file is in its place");
    if (hooks.Record)
        hooks.Record(file);
    const int result = RenameNoReplace(files.Get(), trashName, target.Get(), name);
    if (result != 0 && hooks.Record && hooks.Failed)
        hooks.Failed(file);
    if (result == EEXIST)
        fail(": another file is in its place");
    if (result != 0)
        fail(" (" + Reason(result) + ")");
    const TFileStamp back = StampAt(target.Get(), name);
    ::unlinkat(infos.Get(), infoName.c_str(), 0);
    return back;
}

bool IsInTrash(const TTrashedFile& file) {
    struct statx buffer {};
    return file.Trashed.Known() && StatAt(AT_FDCWD, file.TrashedPath, buffer) == 0 &&
           StampOf(buffer) == file.Trashed;
}

std::string DefaultTrashLogPath() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return Join(dataHome, "Sorvik/trash.log");
    // The home trash's folder is the data folder's "Trash".
    return Join(Parent(HomeTrashDirectory()), "Sorvik/trash.log");
}

TTrashLog::TTrashLog(std::string path) : FPath(std::move(path)) {}

TTrashLog::~TTrashLog() {
    Close();
}

void TTrashLog::Fail(int error) const {
    Fail(Reason(error != 0 ? error : EIO));
}

void TTrashLog::Fail(const std::string& reason) const {
    throw ETrashLogError("The program could not write the trash log \"" + FPath + "\" (" + reason +
                         ").");
}

void TTrashLog::Open() {
    if (Descriptor >= 0)
        return;
    if (!EnsureFolders(Parent(FPath)))
        Fail(errno != 0 ? errno : ENOTDIR);
    // Never waiting for a reader: a FIFO without one is refused, not waited on.
    Descriptor = ::open(FPath.c_str(),
                        O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
    if (Descriptor < 0) {
        const int error = errno;
        const TStat present = Stat(FPath, false);
        if (error == ENXIO ||
            (present.Error == 0 && !S_ISREG(present.Mode) && !S_ISDIR(present.Mode)))
            Fail("it is not a regular file");
        Fail(error);
    }
    struct stat status {};
    const int statResult = ::fstat(Descriptor, &status);
    const int error = errno;
    if (statResult != 0 || !S_ISREG(status.st_mode)) {
        Close();
        if (statResult != 0)
            Fail(error);
        Fail("it is not a regular file");
    }
}

void TTrashLog::Close() {
    if (Descriptor >= 0)
        ::close(Descriptor);
    Descriptor = -1;
}

void TTrashLog::Record(const char* action, const TTrashedFile& file, std::uint64_t size,
                       const std::string& hash) {
    Open();
    char time[32];
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
    ::gmtime_r(&now, &parts);
    std::strftime(time, sizeof time, "%Y-%m-%dT%H:%M:%SZ", &parts);
    const std::string line =
        std::string(time) + "\t" + action + "\t" + Kiv_strings::EscapeControlCharacters(file.Path) +
        "\t" + Kiv_strings::EscapeControlCharacters(file.TrashedPath) + "\t" +
        std::to_string(size) + "\t" + (hash.empty() ? std::string("-") : hash) + "\n";
    // One write of the whole line, so that lines of two programs never mix; the rest of a
    // line cut short is tried only to learn why it was.
    std::size_t written = 0;
    while (written < line.size()) {
        const ssize_t count = ::write(Descriptor, line.data() + written, line.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const int error = count < 0 ? errno : ENOSPC;
            // A line cut short says nothing true: it goes again, unless another program has
            // added to the log meanwhile.
            const off_t end = ::lseek(Descriptor, 0, SEEK_CUR);
            struct stat status {};
            if (written > 0 && end >= 0 && ::fstat(Descriptor, &status) == 0 &&
                status.st_size == end)
                (void)::ftruncate(Descriptor, end - static_cast<off_t>(written));
            Fail(error);
        }
        written += static_cast<std::size_t>(count);
    }
}

} // namespace Kiv_shellfiles
