// The settings file: the registry that reads it once at start and writes it once at close,
// every registered handler under its own section, and where the file lies (beside the
// program, or in the user's configuration folder) with the help page that a program finds
// the same way.
#pragma once

#include "App_common.h"

#include <string>
#include <utility>
#include <vector>

namespace App_common {

// The registry of handlers, in registration order. It does not own them.
class TSettingsHandlers {
public:
    explicit TSettingsHandlers(std::string fileName);
    virtual ~TSettingsHandlers() = default;

    virtual void Add(TSettingsHandler* handler, const std::string& name);
    // Reads the file once; the file is not written.
    virtual void LoadAll();
    // Reads the file, lets every handler write its keys and writes the file back whole;
    // a handler that fails leaves the file as it was.
    virtual void SaveAll();

    const std::string& FileName() const { return Path; }

private:
    std::string Path;
    std::vector<std::pair<std::string, TSettingsHandler*>> Handlers;
};

// The running program's help page and settings file, computed once from its executable's
// folder (a QCoreApplication must exist).
const std::string& HelpFilePath();
const std::string& SettingsFilePath();

// Where a program in programDirectory finds its help page and keeps its settings.
// The help page lies beside the program (the build, an unpacked folder) or, for an
// installed program, in its data folder (bin/../share/sorvik/Help). The settings file
// lies beside the program when that folder is writable and the program is not installed;
// otherwise in configDirectory, for reading and writing alike.
struct TProgramPaths {
    std::string HelpFile;
    std::string SettingsFile;
};
TProgramPaths ProgramPaths(const std::string& programDirectory, const std::string& configDirectory);

} // namespace App_common
