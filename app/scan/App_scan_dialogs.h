// What the document's commands need of the scan's two dialogs, so that the commands stay
// testable without a display: the progress dialog shown while a scan runs and the options
// dialog of the comparison criteria. TAppProgressDialog and TAppOptionsDialog (the window
// unit) are the real ones.
#pragma once

#include "App_document.h"
#include "Kiv_dialogs.h"
#include "Kiv_framework.h"

#include <string>

namespace App_scan {

// The choices of the options dialog.
struct TScanOptions {
    App_document::TScanAspects Aspects;
    bool RememberSettings = false;
    bool RememberHashes = false; // "Remember hashes between scans"

    friend bool operator==(const TScanOptions&, const TScanOptions&) = default;
};

// The modal window of a running scan. Only Finish closes it: every other way of closing
// asks OnCancel to stop the task and leaves it open.
class TCustomProgressDialog {
public:
    virtual ~TCustomProgressDialog();

    // Calls OnCancel with the dialog as sender, when it is set.
    virtual void DoCancel();
    // Shows the dialog modally; returns the result it closed with (mrOk after Finish).
    virtual Kiv_dialogs::TModalResult Execute() = 0;
    virtual void Finish() = 0;
    // Sets the maximum first, then the position.
    virtual void SetProgress(int position, int max) = 0;
    // True when the maximum is above 0 and the position equals it.
    virtual bool IsComplete() const = 0;
    // An empty text and progress 0 of 0.
    virtual void Reset();
    virtual void SetText(const std::string& text) = 0;
    virtual void SetCaption(const std::string& caption) = 0;

    Kiv_framework::TEvent<TCustomProgressDialog*> OnCancel;
};

// The modal dialog of the comparison criteria; it knows nothing of the document.
class TCustomOptionsDialog {
public:
    virtual ~TCustomOptionsDialog();

    TScanOptions GetOptions() const { return Options; }
    // Replaces the stored options; the controls are not touched.
    void SetOptions(const TScanOptions& options) { Options = options; }
    // Shows the stored options; true when the user closed it with OK. Every way of
    // closing stores what the controls show.
    virtual bool Execute() = 0;

    // Forget Hashes was pressed: the hash cache is to be emptied now, whatever the dialog
    // ends with. The handler reports what became of it itself.
    Kiv_framework::TEvent<TCustomOptionsDialog*> OnForgetHashes;

protected:
    TScanOptions Options;
};

// Gives the scan's dialogs, each created on first use and kept until the program ends.
class TScanDialogs {
public:
    virtual ~TScanDialogs();
    virtual TCustomProgressDialog& ProgressDialog() = 0;
    virtual TCustomOptionsDialog& OptionsDialog() = 0;
};

} // namespace App_scan
