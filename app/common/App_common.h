// The application frame: the base of everything that keeps settings, the bases of models,
// views and command sets, the user-facing error, the application constants and the text
// routines. The settings file itself is written by App_common_settings (settings/).
#pragma once

#include "Kiv_dialogs.h"
#include "Kiv_framework.h"
#include "Kiv_inifiles.h"

#include <cstdint>
#include <exception>
#include <string>

namespace App_common {

using Kiv_inifiles::TMemIniFile;

// The one error the application raises for failures the user must read.
class EAppError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

// Everything that keeps settings between runs; the section is its registration name in
// the registry (TSettingsHandlers, App_common_settings).
class TSettingsHandler {
public:
    virtual ~TSettingsHandler() = default;
    virtual void Load(TMemIniFile& iniFile, const std::string& section);
    virtual void Save(TMemIniFile& iniFile, const std::string& section);
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

// Application constants. The version is the build's project version. The settings file
// and the help page are found in App_common_settings.
extern const char* const AppTitle;
extern const char* const AppVersion;
// "Sorvik <version>", an empty line and the notice of ownership, joined by CR LF.
const std::string& AboutText();

// The application's question: Yes and No with the warning icon, No the default button
// when noByDefault. Any answer but Yes ends with the silent abort (EAbort).
void Confirm(Kiv_dialogs::TDialogs& dialogs, const std::string& question, bool noByDefault = false);

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
