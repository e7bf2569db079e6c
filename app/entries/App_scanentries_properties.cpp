#include "App_scanentries_properties.h"

#include "App_common.h"
#include "Kiv_files.h"
#include "Kiv_shellfiles.h"

#include <cstdio>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <vector>

namespace App_scanentries {

namespace {

std::uint64_t Ticks(const statx_timestamp& time) {
    return Kiv_files::FileTimeToUInt64(Kiv_files::UnixTimeToFileTime(time.tv_sec, time.tv_nsec));
}

std::string TimeText(const struct statx& status, unsigned field, const statx_timestamp& time) {
    return (status.stx_mask & field) != 0 ? App_common::FileTimeToText(Ticks(time), true)
                                          : App_common::FileTimeToText(0, true);
}

std::string TypeText(const std::string& path, unsigned mode) {
    try {
        if (S_ISREG(mode))
            return Kiv_shellfiles::GetShellTypeName(path, false);
        if (S_ISDIR(mode))
            return Kiv_shellfiles::GetShellTypeName(path, true);
    } catch (const Kiv_shellfiles::EShellFileError&) {
        return "(Unknown)";
    }
    if (S_ISLNK(mode))
        return "Symbolic link";
    return "Special file";
}

// getpwuid_r and getgrgid_r want a buffer; a name that does not fit is looked up again.
template <typename Record, typename Lookup>
std::string NameOf(unsigned id, Lookup lookup, char* Record::*name) {
    std::vector<char> buffer(1024);
    for (;;) {
        Record record{};
        Record* found = nullptr;
        const int error = lookup(id, &record, buffer.data(), buffer.size(), &found);
        if (error == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 4);
            continue;
        }
        if (error == 0 && found != nullptr)
            return std::string(found->*name) + " (" + std::to_string(id) + ")";
        return std::to_string(id);
    }
}

std::string Directory(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

std::string PermissionsText(unsigned mode) {
    std::string text = "rwxrwxrwx";
    for (int bit = 0; bit < 9; ++bit)
        if ((mode & (0400u >> bit)) == 0)
            text[static_cast<std::size_t>(bit)] = '-';
    const auto special = [&](unsigned flag, std::size_t at, char set, char setWithoutExecute) {
        if ((mode & flag) != 0)
            text[at] = text[at] == 'x' ? set : setWithoutExecute;
    };
    special(S_ISUID, 2, 's', 'S');
    special(S_ISGID, 5, 's', 'S');
    special(S_ISVTX, 8, 't', 'T');
    char octal[8];
    std::snprintf(octal, sizeof octal, "%04o", mode & 07777u);
    return text + " (" + octal + ")";
}

std::vector<TFileProperty> ReadFileProperties(const std::string& path) {
    struct statx status {};
    const unsigned wanted = STATX_BASIC_STATS | STATX_BTIME;
    if (path.find('\0') != std::string::npos ||
        ::statx(AT_FDCWD, path.c_str(), AT_SYMLINK_NOFOLLOW, wanted, &status) != 0)
        throw App_common::EAppError("The program could not show the properties of the file \"" +
                                    path + "\".");
    const std::size_t slash = path.rfind('/');
    return {
        {"Name:", slash == std::string::npos ? path : path.substr(slash + 1)},
        {"Folder:", Directory(path)},
        {"Type:", TypeText(path, status.stx_mode)},
        {"Size:", App_common::SizeToText(status.stx_size) + " bytes"},
        {"Created:", TimeText(status, STATX_BTIME, status.stx_btime)},
        {"Modified:", TimeText(status, STATX_MTIME, status.stx_mtime)},
        {"Accessed:", TimeText(status, STATX_ATIME, status.stx_atime)},
        {"Permissions:", PermissionsText(status.stx_mode)},
        {"Owner:", NameOf<passwd>(status.stx_uid, ::getpwuid_r, &passwd::pw_name)},
        {"Group:", NameOf<group>(status.stx_gid, ::getgrgid_r, &group::gr_name)},
        {"Links:", std::to_string(status.stx_nlink)},
    };
}

} // namespace App_scanentries
