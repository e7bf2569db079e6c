// The properties of one file as the program's own properties window shows them, where no
// file manager can show its own: name, folder, type, size, the three times, permissions,
// owner, group and link count. Read by the file's bytes, so any name will do.
#pragma once

#include <string>
#include <vector>

namespace App_scanentries {

struct TFileProperty {
    std::string Label;
    std::string Text;
    friend bool operator==(const TFileProperty&, const TFileProperty&) = default;
};

// The rows of the window, in order. A file that cannot be read (gone, no access) raises
// EAppError "The program could not show the properties of the file \"%s\".".
std::vector<TFileProperty> ReadFileProperties(const std::string& path);

// "rwxr-x--- (0750)": the nine permission bits (with s, S, t, T for set-user-ID,
// set-group-ID and sticky) and the octal value.
std::string PermissionsText(unsigned mode);

} // namespace App_scanentries
