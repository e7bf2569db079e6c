#include "Kiv_files.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <memory>
#include <pwd.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <system_error>
#include <unistd.h>
#include <utility>
#include <vector>

namespace Kiv_files {

namespace {

const char* const LongPathMessage = "The program could not get the long path of the file.";
const char* const FindMessage = "The program could not find the file.";

constexpr std::int64_t EpochDifference = 11644473600; // seconds from 1601 to 1970
constexpr std::uint64_t TicksPerSecond = 10000000;
constexpr std::uint64_t MaxTicks =
    static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());

bool HasNul(const std::string& path) {
    return path.find('\0') != std::string::npos;
}

// The last component of a path as written: trailing "/" ignored, "/" for the root.
std::string LastComponent(const std::string& path) {
    std::size_t end = path.size();
    while (end > 1 && path[end - 1] == '/')
        --end;
    if (end == 1 && path[0] == '/')
        return "/";
    const std::size_t slash = path.rfind('/', end - 1);
    const std::size_t start = slash == std::string::npos ? 0 : slash + 1;
    return path.substr(start, end - start);
}

void FillRecord(TFindData& record, unsigned mode, std::uint64_t size, const char* name) {
    std::uint32_t attributes = 0;
    if (S_ISDIR(mode))
        attributes |= faDirectory;
    else if (S_ISLNK(mode))
        attributes |= faSymLink;
    else if (!S_ISREG(mode))
        attributes |= faDevice; // socket, FIFO, character or block device
    if ((mode & S_IWUSR) == 0)
        attributes |= faReadOnly;
    if (name[0] == '.')
        attributes |= faHidden;
    record.FileAttributes = attributes;
    if (!S_ISREG(mode))
        size = 0;
    record.FileSizeHigh = static_cast<std::uint32_t>(size >> 32);
    record.FileSizeLow = static_cast<std::uint32_t>(size);
    const std::size_t length = std::min(std::strlen(name), sizeof record.FileName - 1);
    std::memcpy(record.FileName, name, length);
    record.FileName[length] = '\0';
}

// Set once statx has proved missing (old kernel, or a sandbox that refuses it).
std::atomic<bool> StatxMissing{false};

// Fills the record of name relative to directory (or of a path with AT_FDCWD) without
// following a final symbolic link. Returns 0 or the errno of the failure.
int StatAt(int directory, const char* path, const char* name, TFindData& record) {
    const int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
    if (!StatxMissing.load(std::memory_order_relaxed)) {
        struct statx info {};
        const unsigned mask = STATX_TYPE | STATX_MODE | STATX_SIZE | STATX_INO | STATX_ATIME |
                              STATX_MTIME | STATX_CTIME | STATX_BTIME;
        if (statx(directory, path, flags, mask, &info) == 0) {
            FillRecord(record, info.stx_mode, info.stx_size, name);
            record.Device = makedev(info.stx_dev_major, info.stx_dev_minor);
            record.Inode = info.stx_ino;
            if (info.stx_mask & STATX_BTIME)
                record.CreationTime =
                    UnixTimeToFileTime(info.stx_btime.tv_sec, info.stx_btime.tv_nsec);
            if (info.stx_mask & STATX_ATIME)
                record.LastAccessTime =
                    UnixTimeToFileTime(info.stx_atime.tv_sec, info.stx_atime.tv_nsec);
            if (info.stx_mask & STATX_MTIME)
                record.LastWriteTime =
                    UnixTimeToFileTime(info.stx_mtime.tv_sec, info.stx_mtime.tv_nsec);
            if (info.stx_mask & STATX_CTIME)
                record.ChangeTime =
                    UnixTimeToNanoseconds(info.stx_ctime.tv_sec, info.stx_ctime.tv_nsec);
            return 0;
        }
        const int error = errno;
        if (error != ENOSYS && error != EPERM)
            return error;
    }
    struct stat info {};
    if (fstatat(directory, path, &info, flags) != 0)
        return errno;
    StatxMissing.store(true, std::memory_order_relaxed);
    FillRecord(record, info.st_mode, static_cast<std::uint64_t>(info.st_size), name);
    record.Device = info.st_dev;
    record.Inode = info.st_ino;
    record.LastAccessTime =
        UnixTimeToFileTime(info.st_atim.tv_sec, static_cast<std::uint32_t>(info.st_atim.tv_nsec));
    record.LastWriteTime =
        UnixTimeToFileTime(info.st_mtim.tv_sec, static_cast<std::uint32_t>(info.st_mtim.tv_nsec));
    record.ChangeTime = UnixTimeToNanoseconds(info.st_ctim.tv_sec,
                                              static_cast<std::uint32_t>(info.st_ctim.tv_nsec));
    return 0;
}

} // namespace

std::uint64_t FileTimeToUInt64(const TFileTime& time) {
    return (static_cast<std::uint64_t>(time.HighDateTime) << 32) | time.LowDateTime;
}

TFileTime UInt64ToFileTime(std::uint64_t ticks) {
    return {static_cast<std::uint32_t>(ticks), static_cast<std::uint32_t>(ticks >> 32)};
}

TFileTime UnixTimeToFileTime(std::int64_t seconds, std::uint32_t nanoseconds) {
    if (nanoseconds > 999999999)
        nanoseconds = 999999999;
    if (seconds < -EpochDifference)
        return {};
    constexpr std::int64_t MaxSeconds =
        static_cast<std::int64_t>((MaxTicks - 9999999) / TicksPerSecond) - EpochDifference;
    if (seconds > MaxSeconds)
        return UInt64ToFileTime(MaxTicks);
    const auto since1601 = static_cast<std::uint64_t>(seconds + EpochDifference);
    return UInt64ToFileTime(since1601 * TicksPerSecond + nanoseconds / 100);
}

std::uint64_t UnixTimeToNanoseconds(std::int64_t seconds, std::uint32_t nanoseconds) {
    constexpr std::int64_t MaxSeconds =
        static_cast<std::int64_t>(std::numeric_limits<std::uint64_t>::max() / 1000000000) - 1;
    if (seconds < 0 || seconds > MaxSeconds)
        return 0;
    return static_cast<std::uint64_t>(seconds) * 1000000000 + std::min(nanoseconds, 999999999u);
}

// ---------------------------------------------------------------------------------------
// Paths longer than the system takes in one call

namespace {

constexpr int DirectoryFlags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
constexpr int ReadFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

int OpenRetrying(int directory, const char* path, int flags) {
    int descriptor = -1;
    do
        descriptor = ::openat(directory, path, flags);
    while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

// Opens path through its directories one by one (none of them a symbolic link), for a path
// too long for one call.
int OpenByComponents(const std::string& path, int flags) {
    int current = OpenRetrying(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    std::size_t start = 1;
    while (current >= 0) {
        const std::size_t slash = path.find('/', start);
        const std::string component = path.substr(start, slash - start);
        if (slash == std::string::npos) {
            const int file = OpenRetrying(current, component.c_str(), flags);
            const int saved = errno;
            ::close(current);
            errno = saved;
            return file;
        }
        const int next = component.empty()
                             ? ::dup(current)
                             : OpenRetrying(current, component.c_str(),
                                            O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        const int saved = errno;
        ::close(current);
        errno = saved;
        current = next;
        start = slash + 1;
    }
    return -1;
}

// The open directory of the path's last component, with that component's name: for a
// path too long for one call, through its folders one by one (none of them a symbolic
// link). -1 with errno set.
int OpenParent(const std::string& path, std::string& name) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash + 1 == path.size()) {
        errno = ENOENT; // only ever asked for absolute paths of a file
        return -1;
    }
    name = path.substr(slash + 1);
    const std::string parent = slash == 0 ? "/" : path.substr(0, slash);
    constexpr int flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
    return parent.size() < PATH_MAX ? OpenRetrying(AT_FDCWD, parent.c_str(), flags)
                                    : OpenByComponents(parent, flags);
}

// Closes a descriptor when it goes, keeping errno.
class TDescriptor {
public:
    explicit TDescriptor(int descriptor) : Value(descriptor) {}
    ~TDescriptor() {
        if (Value >= 0) {
            const int saved = errno;
            ::close(Value);
            errno = saved;
        }
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return Value; }
    void Reset(int descriptor) {
        TDescriptor old(Value);
        Value = descriptor;
    }

private:
    int Value;
};

std::vector<std::string> Components(const std::string& path) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        if (slash > start)
            parts.push_back(path.substr(start, slash - start));
        start = slash + 1;
    }
    return parts;
}

std::string ReadLinkAt(int directory, const std::string& name, std::size_t size) {
    std::string target(std::max<std::size_t>(size, 64) + 1, '\0');
    for (;;) {
        const ssize_t length = ::readlinkat(directory, name.c_str(), target.data(), target.size());
        if (length < 0)
            return {};
        if (static_cast<std::size_t>(length) < target.size()) {
            target.resize(static_cast<std::size_t>(length));
            return target;
        }
        target.resize(target.size() * 2);
    }
}

// realpath(3) one component at a time through open directories, for a path whose
// resolution is longer than realpath takes: symbolic links followed (at most 40), "."
// and ".." resolved on the way. False with errno set.
bool ResolveByComponents(const std::string& path, std::string& resolved) {
    constexpr int MaxLinks = 40;
    std::vector<std::string> pending = Components(path); // in reverse: the next one last
    std::reverse(pending.begin(), pending.end());
    const bool directoryWanted = path.size() > 1 && path.back() == '/';
    TDescriptor current(OpenRetrying(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (current.Get() < 0)
        return false;
    resolved.clear();
    int links = 0;
    while (!pending.empty()) {
        const std::string name = std::move(pending.back());
        pending.pop_back();
        if (name == ".")
            continue;
        if (name == "..") {
            if (resolved.empty())
                continue; // the root's parent is the root
            resolved.resize(resolved.find_last_of('/'));
            current.Reset(OpenRetrying(current.Get(), "..", O_PATH | O_DIRECTORY | O_CLOEXEC));
            if (current.Get() < 0)
                return false;
            continue;
        }
        struct stat info {};
        if (::fstatat(current.Get(), name.c_str(), &info, AT_SYMLINK_NOFOLLOW) != 0)
            return false;
        if (S_ISLNK(info.st_mode)) {
            if (++links > MaxLinks) {
                errno = ELOOP;
                return false;
            }
            const std::string target =
                ReadLinkAt(current.Get(), name, static_cast<std::size_t>(info.st_size));
            if (target.empty()) {
                errno = ENOENT;
                return false;
            }
            std::vector<std::string> parts = Components(target);
            pending.insert(pending.end(), parts.rbegin(), parts.rend());
            if (target[0] == '/') {
                resolved.clear();
                current.Reset(OpenRetrying(AT_FDCWD, "/", O_PATH | O_DIRECTORY | O_CLOEXEC));
                if (current.Get() < 0)
                    return false;
            }
            continue;
        }
        resolved += '/';
        resolved += name;
        if (pending.empty() && !directoryWanted)
            break;
        if (!S_ISDIR(info.st_mode)) {
            errno = ENOTDIR;
            return false;
        }
        current.Reset(OpenRetrying(current.Get(), name.c_str(),
                                   O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (current.Get() < 0)
            return false;
    }
    if (resolved.empty())
        resolved = "/";
    return true;
}

} // namespace

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    passwd entry{};
    passwd* found = nullptr;
    char buffer[4096];
    if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] == '/')
        return found->pw_dir;
    return {};
}

std::string SystemErrorText(int error) {
    return std::generic_category().message(error);
}

std::optional<std::string> CurrentDirectory() {
    std::string buffer(PATH_MAX, '\0');
    for (;;) {
        if (::getcwd(buffer.data(), buffer.size()) != nullptr)
            return std::string(buffer.c_str());
        if (errno != ERANGE || buffer.size() > (1u << 20))
            return std::nullopt;
        buffer.resize(buffer.size() * 2);
    }
}

bool PathExists(const std::string& path) {
    if (HasNul(path))
        return false;
    struct stat info {};
    return fstatat(AT_FDCWD, path.c_str(), &info, AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT) == 0;
}

bool IsAbsolutePath(const std::string& path) {
    return !path.empty() && path[0] == '/';
}

std::string CheckAbsolutePath(const std::string& path) {
    if (!IsAbsolutePath(path))
        throw EPathError("The path is not in absolute form.");
    return path;
}

std::string GetLongPath(const std::string& path) {
    if (path.empty() || HasNul(path))
        throw EFileError(LongPathMessage);
    std::unique_ptr<char, void (*)(void*)> resolved(
        path.size() < PATH_MAX ? realpath(path.c_str(), nullptr) : nullptr, std::free);
    if (resolved)
        return resolved.get();
    if (path.size() < PATH_MAX && errno != ENAMETOOLONG)
        throw EFileError(LongPathMessage);
    // Too long for realpath, or resolved to more than it takes: one component at a time.
    std::string absolute = path;
    if (path[0] != '/') {
        const std::optional<std::string> current = CurrentDirectory();
        if (!current)
            throw EFileError(LongPathMessage);
        absolute = *current + "/" + path;
    }
    std::string result;
    if (!ResolveByComponents(absolute, result))
        throw EFileError(LongPathMessage);
    return result;
}

int FindDataOf(const std::string& path, TFindData& record) {
    record = TFindData{};
    if (path.empty() || HasNul(path))
        return ENOENT;
    const std::string last = LastComponent(path);
    if (path.size() < PATH_MAX)
        return StatAt(AT_FDCWD, path.c_str(), last.c_str(), record);
    std::string name;
    const TDescriptor parent(OpenParent(path, name));
    if (parent.Get() < 0)
        return errno;
    return StatAt(parent.Get(), name.c_str(), last.c_str(), record);
}

TFindData GetFindData(const std::string& path) {
    TFindData record{};
    if (FindDataOf(path, record) != 0)
        throw EFileError(FindMessage);
    return record;
}

namespace {

void FillState(const struct stat& info, TFileState& state) {
    state.Device = info.st_dev;
    state.Inode = info.st_ino;
    state.Size = static_cast<std::uint64_t>(info.st_size);
    state.Mode = info.st_mode;
    state.WriteSeconds = info.st_mtim.tv_sec;
    state.WriteNanoseconds = static_cast<std::uint32_t>(info.st_mtim.tv_nsec);
    state.ChangeSeconds = info.st_ctim.tv_sec;
    state.ChangeNanoseconds = static_cast<std::uint32_t>(info.st_ctim.tv_nsec);
}

} // namespace

bool TFileState::IsRegular() const {
    return S_ISREG(Mode);
}

std::uint64_t TFileState::LastWriteTime() const {
    return FileTimeToUInt64(UnixTimeToFileTime(WriteSeconds, WriteNanoseconds));
}

std::uint64_t TFileState::ChangeTime() const {
    return UnixTimeToNanoseconds(ChangeSeconds, ChangeNanoseconds);
}

bool GetFileState(int descriptor, TFileState& state) {
    struct stat info {};
    if (::fstat(descriptor, &info) != 0)
        return false;
    FillState(info, state);
    return true;
}

bool GetFileState(const std::string& path, TFileState& state) {
    if (path.empty() || HasNul(path)) {
        errno = ENOENT;
        return false;
    }
    struct stat info {};
    constexpr int flags = AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT;
    if (path.size() < PATH_MAX) {
        if (::fstatat(AT_FDCWD, path.c_str(), &info, flags) != 0)
            return false;
    } else {
        std::string name;
        const TDescriptor parent(OpenParent(path, name));
        if (parent.Get() < 0 || ::fstatat(parent.Get(), name.c_str(), &info, flags) != 0)
            return false;
    }
    FillState(info, state);
    return true;
}

std::uint32_t FindDataAttributes(const TFindData& findData) {
    return findData.FileAttributes;
}

TFileTime FindDataCreationTime(const TFindData& findData) {
    return findData.CreationTime;
}

TFileTime FindDataLastAccessTime(const TFindData& findData) {
    return findData.LastAccessTime;
}

TFileTime FindDataLastWriteTime(const TFindData& findData) {
    return findData.LastWriteTime;
}

std::uint64_t FindDataSize(const TFindData& findData) {
    return (static_cast<std::uint64_t>(findData.FileSizeHigh) << 32) | findData.FileSizeLow;
}

std::string FindDataName(const TFindData& findData) {
    return std::string(findData.FileName, strnlen(findData.FileName, sizeof findData.FileName));
}

std::string ExcludeLeadingChars(const std::string& text, char character) {
    const std::size_t first = text.find_first_not_of(character);
    return first == std::string::npos ? std::string() : text.substr(first);
}

// ---------------------------------------------------------------------------------
// TFileEnumerator

std::string DirectoryPattern(const std::string& directory) {
    if (!directory.empty() && directory.back() == '/')
        return directory + "*";
    return directory + "/*";
}

// ---------------------------------------------------------------------------------------
// Open directories and files

TDirectory::~TDirectory() {
    ::close(FDescriptor);
}

std::shared_ptr<TDirectory> TDirectory::Open(const std::string& path, int& error) {
    if (path.empty() || HasNul(path)) {
        error = ENOENT;
        return nullptr;
    }
    const int descriptor = path.size() < PATH_MAX
                               ? OpenRetrying(AT_FDCWD, path.c_str(), DirectoryFlags)
                               : OpenByComponents(path, DirectoryFlags);
    if (descriptor < 0) {
        error = errno;
        return nullptr;
    }
    error = 0;
    return std::shared_ptr<TDirectory>(new TDirectory(descriptor));
}

std::shared_ptr<TDirectory> TDirectory::OpenChild(const TFindData& record, int& error) const {
    const int descriptor = OpenRetrying(FDescriptor, record.FileName, DirectoryFlags);
    if (descriptor < 0) {
        error = errno;
        return nullptr;
    }
    std::shared_ptr<TDirectory> child(new TDirectory(descriptor));
    struct stat info {};
    if (::fstat(descriptor, &info) != 0) {
        error = errno;
        return nullptr;
    }
    // Replaced since it was listed: not the directory the listing showed.
    if ((record.Inode != 0 || record.Device != 0) &&
        (info.st_dev != record.Device || info.st_ino != record.Inode)) {
        error = ESTALE;
        return nullptr;
    }
    error = 0;
    return child;
}

int OpenForReading(const std::string& path) {
    if (path.empty() || HasNul(path)) {
        errno = ENOENT;
        return -1;
    }
    if (path.size() < PATH_MAX)
        return OpenRetrying(AT_FDCWD, path.c_str(), ReadFlags);
    return OpenByComponents(path, ReadFlags);
}

void RaiseOpenFileLimit() {
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max)
        return;
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

// ---------------------------------------------------------------------------------------
// TFileEnumerator

TFileEnumerator::TFileEnumerator(std::shared_ptr<TDirectory> directory)
    : OpenDirectory(std::move(directory)) {}

TFileEnumerator::TFileEnumerator(const std::string& pattern) : FPattern(pattern) {
    const std::size_t n = FPattern.size();
    if (n >= 2 && FPattern[n - 1] == '*' && FPattern[n - 2] == '/')
        Directory = FPattern.substr(0, n - 1);
    else
        Directory = FPattern;
}

TFileEnumerator::~TFileEnumerator() {
    if (Handle != nullptr)
        closedir(static_cast<DIR*>(Handle));
}

void TFileEnumerator::EndSearch() {
    if (Handle != nullptr) {
        closedir(static_cast<DIR*>(Handle));
        Handle = nullptr;
    }
    State = TState::stFinished;
}

bool TFileEnumerator::Step() {
    DIR* directory = static_cast<DIR*>(Handle);
    for (;;) {
        Record = TFindData{};
        errno = 0;
        const dirent* entry = readdir(directory);
        if (entry == nullptr) {
            EndSearch();
            return false;
        }
        const int error = StatAt(dirfd(directory), entry->d_name, entry->d_name, Record);
        if (error == 0)
            return true;
        if (error != ENOENT) {
            EndSearch();
            return false;
        }
        // Removed between the listing and the lookup: it is no longer there.
    }
}

bool TFileEnumerator::MoveNext() {
    switch (State) {
    case TState::stNotStarted: {
        Record = TFindData{};
        State = TState::stFinished;
        int fd = -1;
        if (OpenDirectory) {
            // A descriptor of its own: closedir closes it, and the listing starts at the
            // beginning also when the directory was listed before.
            fd = OpenRetrying(OpenDirectory->Descriptor(), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        } else {
            if (Directory.empty() || HasNul(Directory))
                return false;
            fd = open(Directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        }
        if (fd < 0)
            return false;
        DIR* directory = fdopendir(fd);
        if (directory == nullptr) {
            close(fd);
            return false;
        }
        Handle = directory;
        State = TState::stSearching;
        return Step();
    }
    case TState::stSearching:
        return Step();
    case TState::stFinished:
        break;
    }
    return false;
}

void TFileEnumerator::Reset() {
    EndSearch();
    State = TState::stNotStarted;
}

} // namespace Kiv_files
