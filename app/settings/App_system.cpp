#include "App_system.h"

#include "Kiv_strings.h"

#include <cstdlib>
#include <optional>
#include <unistd.h>

namespace App_system {

namespace {

constexpr const char* CurrentDirectoryKey = "CurrentDirectory";
constexpr char Quote = '"';

// Nothing when the current directory has been removed since it was entered.
std::optional<std::string> CurrentDirectory() {
    char* text = ::getcwd(nullptr, 0);
    if (text == nullptr)
        return std::nullopt;
    std::string directory(text);
    std::free(text);
    return directory;
}

} // namespace

void TSystemSettings::Load(App_common::TMemIniFile& iniFile, const std::string& section) {
    const std::string fallback = Kiv_strings::QuoteString(CurrentDirectory().value_or(""), Quote);
    const std::string directory = Kiv_strings::DequoteString(
        iniFile.ReadString(section, CurrentDirectoryKey, fallback), Quote);
    // A folder that is gone, or no folder at all, leaves the current directory as it is.
    if (!directory.empty() && ::chdir(directory.c_str()) != 0)
        return;
}

void TSystemSettings::Save(App_common::TMemIniFile& iniFile, const std::string& section) {
    // With no current directory left to name, the stored one is kept rather than emptied.
    if (const auto directory = CurrentDirectory())
        iniFile.WriteString(section, CurrentDirectoryKey,
                            Kiv_strings::QuoteString(*directory, Quote));
}

} // namespace App_system
