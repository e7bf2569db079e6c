#include "App_system.h"

#include "Kiv_files.h"
#include "Kiv_strings.h"

#include <unistd.h>

namespace App_system {

namespace {

constexpr const char* CurrentDirectoryKey = "CurrentDirectory";
constexpr char Quote = '"';

} // namespace

void TSystemSettings::Load(App_common::TMemIniFile& iniFile, const std::string& section) {
    const std::string fallback =
        Kiv_strings::QuoteString(Kiv_files::CurrentDirectory().value_or(""), Quote);
    const std::string directory = Kiv_strings::DequoteString(
        iniFile.ReadString(section, CurrentDirectoryKey, fallback), Quote);
    // A folder that is gone, or no folder at all, leaves the current directory as it is.
    if (!directory.empty() && ::chdir(directory.c_str()) != 0)
        return;
}

void TSystemSettings::Save(App_common::TMemIniFile& iniFile, const std::string& section) {
    // With no current directory left to name, the stored one is kept rather than emptied.
    if (const auto directory = Kiv_files::CurrentDirectory())
        iniFile.WriteString(section, CurrentDirectoryKey,
                            Kiv_strings::QuoteString(*directory, Quote));
}

} // namespace App_system
