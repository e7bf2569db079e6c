// The system settings: the process's current directory, remembered between runs, so that
// the folder chooser and the file dialogs open where the user worked last.
#pragma once

#include "App_common.h"

#include <string>

namespace App_system {

class TSystemSettings : public App_common::TModel {
public:
    // Reads "CurrentDirectory" (quoted, inner quotes doubled) with the current directory as
    // default and enters it. A folder that no longer exists is ignored silently; a value
    // that does not begin with a double quote raises Kiv_strings::EStringError.
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override;
    // Writes the current directory, quoted, as "CurrentDirectory".
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override;
};

} // namespace App_system
