// The platform's standard dialogs as one small interface: message boxes, the open and
// save file dialogs and the folder picker. Commands receive it, so that they stay
// testable without a display; the Qt implementation lives in Kiv_dialogs_window.
#pragma once

#include "Kiv_framework.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace Kiv_dialogs {

class EDialogError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

enum TMessageIcon { miNone, miInformation, miWarning, miError, miQuestion };

// The buttons of a message box, in the order they are offered.
enum TMessageButtons {
    mbOk,
    mbOkCancel,
    mbYesNo,
    mbYesNoCancel,
    mbRetryCancel,
    mbAbortRetryIgnore,
};

// The button that closed a dialog; mrCancel also when a box was closed without a button.
enum TModalResult { mrNone, mrOk, mrCancel, mrAbort, mrRetry, mrIgnore, mrYes, mrNo };

struct TMessageRequest {
    std::string Text;
    std::string Caption;
    TMessageIcon Icon = miNone;
    TMessageButtons Buttons = mbOk;
    // The default button (what Enter answers), by its place among the buttons: 0 the first.
    int DefaultButton = 0;
};

// A filter list in the form "Name|pattern|Name|pattern": a name shown to the user and
// its patterns, separated by ";" ("Text (*.txt)|*.txt|All (*.*)|*.*").
struct TFileFilter {
    std::string Name;
    std::vector<std::string> Patterns;
};
// A text with an odd number of parts, or an empty pattern list, raises EDialogError.
std::vector<TFileFilter> ParseFilter(const std::string& filter);

struct TOpenFileRequest {
    std::string Title;
    std::string Filter;
    // 1-based index of the chosen filter; the dialog stores the user's choice back.
    int FilterIndex = 1;
    bool AllowMultiSelect = false;
    bool FileMustExist = true;
    // Empty: the current directory.
    std::string InitialDir;
};

struct TSaveFileRequest {
    std::string Title;
    std::string Filter;
    int FilterIndex = 1;
    // Appended, with a full stop, to a name typed without extension.
    std::string DefaultExt;
    // Asks before an existing file is chosen.
    bool OverwritePrompt = true;
    // The name the dialog opens with; empty for none.
    std::string FileName;
    std::string InitialDir;
};

struct TFolderRequest {
    std::string Title;
    std::string InitialDir;
};

class TDialogs {
public:
    virtual ~TDialogs() = default;

    // Shows the box modally and returns the button pressed.
    virtual TModalResult MessageBox(const TMessageRequest& request) = 0;
    // The chosen files as full paths, in the file system's bytes; nothing when the user
    // cancelled. The filter index the user left is stored back into the request.
    virtual std::optional<std::vector<std::string>> OpenFiles(TOpenFileRequest& request) = 0;
    // The chosen file, with the default extension applied; nothing when cancelled.
    virtual std::optional<std::string> SaveFile(TSaveFileRequest& request) = 0;
    virtual std::optional<std::string> SelectFolder(const TFolderRequest& request) = 0;
};

} // namespace Kiv_dialogs
