// The application frame: the settings registry, the bases of models, views and command
// sets, the user-facing error, the application constants and the text routines.
#pragma once

#include "Kiv_dialogs.h"
#include "Kiv_framework.h"
#include "Kiv_inifiles.h"

#include <cstdint>
#include <exception>
#include <string>
#include <utility>
#include <vector>

namespace App_common {

using Kiv_inifiles::TMemIniFile;

// The one error the application raises for failures the user must read.
class EAppError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

// Everything that keeps settings between runs; the section is its registration name.
class TSettingsHandler {
public:
    virtual ~TSettingsHandler() = default;
    virtual void Load(TMemIniFile& iniFile, const std::string& section);
    virtual void Save(TMemIniFile& iniFile, const std::string& section);
};

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

class TModel : public TSettingsHandler {};

class TView : public TSettingsHandler {};

class TCommands : public TSettingsHandler {
public:
    // Raised by a command whose query says it cannot run now.
    [[noreturn]] virtual void Unavailable();
};

// A set over an enumeration of memberCount members (bit k for member k) as stored in the
// settings file: one character per member in enumeration order, "1" or "0".
std::string SetToFlagString(std::uint32_t members, int memberCount);
// Character k+1 stands for member k; any character but "0" is a member; characters past
// the last member are ignored. A shorter text raises Kiv_framework::ERangeError.
std::uint32_t FlagStringToSet(const std::string& text, int memberCount);

// Application constants. The version is the build's project version; the two paths are
// computed once from the running executable's folder (a QCoreApplication must exist).
extern const char* const AppTitle;
extern const char* const AppVersion;
// "Sorvik <version>", an empty line and the notice of ownership, joined by CR LF.
const std::string& AboutText();
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

// The application's error box: the error's message with a full stop appended when its
// last character sorts after ".", the error icon, one OK button and the caption "Sorvik".
// A silent abort (EAbort) shows nothing.
void ShowException(Kiv_dialogs::TDialogs& dialogs, const std::exception& error);
std::string ErrorBoxText(const std::string& message);

// "(Unknown)" for 0, "(Error)" when the time cannot be converted, otherwise
// "YYYY-MM-DD hh:mm:ss.fffffff".
std::string FileTimeToText(std::uint64_t fileTime, bool toLocal);
std::string CountToText(std::int32_t count);
std::string SizeToText(std::uint64_t size);

} // namespace App_common
