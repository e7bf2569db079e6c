// The freedesktop.org trash in plain POSIX calls, so that every name keeps its exact
// bytes (also one that is not valid UTF-8) and each file costs a handful of system calls.
#include "Kiv_shellfiles.h"
#include "Kiv_strings.h"

#include <QByteArray>
#include <QFile>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <system_error>
#include <unistd.h>

#ifndef STATX_MNT_ID
#define STATX_MNT_ID 0x00001000U
#endif

namespace Kiv_shellfiles {

namespace {

// Names in a trash folder stay within NAME_MAX with ".trashinfo" appended.
constexpr std::size_t NameMax = 255;
const std::string InfoSuffix = ".trashinfo";
// Enough for any folder that is not being filled on purpose by someone else.
constexpr int MaxNameTries = 100000;

struct TStat {
    int Error = 0; // errno; 0 when the object was found
    mode_t Mode = 0;
    uid_t Owner = 0;
    std::uint64_t Mount = 0;
};

TStat Stat(const std::string& path, bool follow) {
    struct statx buffer {};
    const int flags = follow ? 0 : AT_SYMLINK_NOFOLLOW;
    if (::statx(AT_FDCWD, path.c_str(), flags, STATX_TYPE | STATX_MODE | STATX_UID | STATX_MNT_ID,
                &buffer) != 0)
        return {errno != 0 ? errno : ENOENT};
    // The mount, where the kernel tells it (bind mounts of one file system are apart for
    // rename(2)), else the device.
    const std::uint64_t mount =
        (buffer.stx_mask & STATX_MNT_ID) != 0
            ? buffer.stx_mnt_id | (std::uint64_t{1} << 63)
            : (std::uint64_t{buffer.stx_dev_major} << 32) | buffer.stx_dev_minor;
    return {0, static_cast<mode_t>(buffer.stx_mode), buffer.stx_uid, mount};
}

std::string Reason(int error) {
    return std::generic_category().message(error);
}

std::string Parent(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

std::string Join(const std::string& directory, const std::string& name) {
    return directory == "/" ? "/" + name : directory + "/" + name;
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

// Writes the whole text to a new file; false (errno set, the file removed) on failure.
bool WriteNewFile(const std::string& path, const std::string& text) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0)
        return false;
    std::size_t written = 0;
    while (written < text.size()) {
        const ssize_t count = ::write(fd, text.data() + written, text.size() - written);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0) {
            const int error = count < 0 ? errno : ENOSPC;
            ::close(fd);
            ::unlink(path.c_str());
            errno = error;
            return false;
        }
        written += static_cast<std::size_t>(count);
    }
    if (::close(fd) != 0) {
        const int error = errno;
        ::unlink(path.c_str());
        errno = error;
        return false;
    }
    return true;
}

// The rename that never replaces a file; where the file system cannot promise that, the
// caller has just seen that the target is free.
int RenameNoReplace(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return errno;
    return ::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
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

} // namespace

bool QtKeepsFileName(const std::string& path) {
    const QByteArray bytes(path.data(), static_cast<qsizetype>(path.size()));
    return QFile::encodeName(QFile::decodeName(bytes)) == bytes;
}

std::string HomeTrashDirectory() {
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome != nullptr && dataHome[0] == '/')
        return Join(dataHome, "Trash");
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable != nullptr && variable[0] == '/')
        home = variable;
    else if (const passwd* user = ::getpwuid(::getuid()); user != nullptr && user->pw_dir)
        home = user->pw_dir;
    else
        home = "/";
    return Join(home, ".local/share/Trash");
}

TTrash::TTrash(std::string homeTrash) : Home(std::move(homeTrash)) {}

std::uint64_t TTrash::HomeMount() const {
    // The home trash may not exist yet: its file system is that of its nearest folder.
    std::string path = Home;
    for (;;) {
        const TStat folder = Stat(path, true);
        if (folder.Error == 0 || path == "/")
            return folder.Mount;
        path = Parent(path);
    }
}

TTrash::TTrashFolder TTrash::MakeHomeFolder() const {
    if (!EnsureFolders(Home) || !EnsureFolder(Join(Home, "files"), false) ||
        !EnsureFolder(Join(Home, "info"), false))
        return {{}, {}, "the trash folder \"" + Home + "\" cannot be made"};
    return {Home, {}, {}};
}

TTrash::TTrashFolder TTrash::MakeTopDirFolder(const std::string& path, std::uint64_t mount) const {
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
    std::string folder;
    // An administrator's shared $topdir/.Trash counts only when sticky and not a link.
    const std::string shared = Join(top, ".Trash");
    const TStat sharedStat = Stat(shared, false);
    if (sharedStat.Error == 0 && S_ISDIR(sharedStat.Mode) && (sharedStat.Mode & S_ISVTX) != 0 &&
        EnsureFolder(Join(shared, uid), true))
        folder = Join(shared, uid);
    else if (EnsureFolder(Join(top, ".Trash-" + uid), true))
        folder = Join(top, ".Trash-" + uid);
    if (folder.empty() || Stat(folder, false).Mount != mount ||
        !EnsureFolder(Join(folder, "files"), true) || !EnsureFolder(Join(folder, "info"), true))
        return {{}, {}, "no trash folder can be made on the file system of \"" + top + "\""};
    return {folder, top, {}};
}

const TTrash::TTrashFolder& TTrash::FolderFor(const std::string& path, std::uint64_t mount) {
    if (const auto found = Folders.find(mount); found != Folders.end())
        return found->second;
    TTrashFolder folder = mount == HomeMount() ? MakeHomeFolder() : MakeTopDirFolder(path, mount);
    return Folders.emplace(mount, std::move(folder)).first->second;
}

TTrashedFile TTrash::MoveToTrash(const std::string& path) {
    const TMoveError error(path);
    if (path.empty() || path[0] != '/' || path.find('\0') != std::string::npos)
        error.Raise("the path is not absolute");
    const TStat file = Stat(path, false);
    if (file.Error != 0)
        error.Raise(Reason(file.Error));
    if (!S_ISREG(file.Mode))
        error.Raise("it is not a regular file");
    const TTrashFolder& folder = FolderFor(path, file.Mount);
    if (folder.Directory.empty())
        error.Raise(folder.Reason);

    const std::string relative =
        folder.TopDir.empty() ? path
                              : path.substr(folder.TopDir.size() + (folder.TopDir == "/" ? 0 : 1));
    const std::string info = "[Trash Info]\nPath=" + PercentEncoded(relative) +
                             "\nDeletionDate=" + DeletionDate() + "\n";
    const std::string name = path.substr(path.rfind('/') + 1);
    const std::string files = Join(folder.Directory, "files");
    const std::string infos = Join(folder.Directory, "info");
    for (int number = 1; number <= MaxNameTries; ++number) {
        const std::string trashName = TrashName(name, number);
        TTrashedFile moved{path, Join(files, trashName), Join(infos, trashName + InfoSuffix)};
        // The information file comes first and claims the name (O_EXCL).
        if (!WriteNewFile(moved.InfoPath, info)) {
            if (errno == EEXIST)
                continue;
            error.Raise(Reason(errno));
        }
        struct stat present {};
        const int result = ::lstat(moved.TrashedPath.c_str(), &present) == 0
                               ? EEXIST
                               : RenameNoReplace(path, moved.TrashedPath);
        if (result == 0)
            return moved;
        ::unlink(moved.InfoPath.c_str());
        if (result != EEXIST)
            error.Raise(Reason(result));
    }
    error.Raise("the trash holds too many files of that name");
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
            if (hooks.BeforeMove)
                hooks.BeforeMove(path);
            moved = trash.MoveToTrash(path);
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

void RestoreFromTrash(const TTrashedFile& file) {
    const auto fail = [&](const std::string& why) {
        throw EShellFileError("The program could not put the file \"" + file.Path + "\" back" +
                              why + ".");
    };
    if (Stat(file.Path, false).Error != ENOENT)
        fail(": another file is in its place");
    // Its folder may have gone since: made again, as the user would expect the file back.
    if (!EnsureFolders(Parent(file.Path)))
        fail(" (" + Reason(errno != 0 ? errno : ENOTDIR) + ")");
    const int result = RenameNoReplace(file.TrashedPath, file.Path);
    if (result == EEXIST)
        fail(": another file is in its place");
    if (result != 0)
        fail(" (" + Reason(result) + ")");
    ::unlink(file.InfoPath.c_str());
}

bool IsInTrash(const TTrashedFile& file) {
    return Stat(file.TrashedPath, false).Error == 0;
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

void TTrashLog::Fail() const {
    throw EShellFileError("The program could not write the trash log \"" + FPath + "\".");
}

void TTrashLog::Open() {
    if (Descriptor >= 0)
        return;
    if (!EnsureFolders(Parent(FPath)))
        Fail();
    Descriptor =
        ::open(FPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (Descriptor < 0)
        Fail();
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
    // One write of the whole line: lines of two programs never mix.
    if (::write(Descriptor, line.data(), line.size()) != static_cast<ssize_t>(line.size()))
        Fail();
}

} // namespace Kiv_shellfiles
