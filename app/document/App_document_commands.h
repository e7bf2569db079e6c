// The document's commands: Scan (find the duplicates among the entries behind the
// progress dialog), Options (the criteria in the options dialog) and Save Results (the
// groups as a text file). Each is a pair of an operation and its Can query.
#pragma once

#include "App_common.h"
#include "App_document.h"
#include "App_scan_dialogs.h"
#include "Kiv_dialogs.h"

#include <string>
#include <vector>

namespace App_document {

class TDocumentCommands : public App_common::TCommands {
public:
    TDocumentCommands(TDocument* document, Kiv_dialogs::TDialogs& dialogs,
                      App_scan::TScanDialogs& scanDialogs);

    // The save dialog's filter index: "FilterIndex" of the section followed by
    // ".SaveResultsDialog".
    void Load(App_common::TMemIniFile& iniFile, const std::string& section) override;
    void Save(App_common::TMemIniFile& iniFile, const std::string& section) override;

    // Runs a scan task behind the modal progress dialog and reports the counts once it
    // completed, after an error box naming the entries it left out because their files are
    // gone (LeftOutText); a cancelled or failed scan ends with the silent abort.
    virtual void Scan();
    virtual bool CanScan() const;
    // The criteria, the remember flag and whether hashes are remembered between scans, in
    // the options dialog; Cancel changes nothing. Its Forget Hashes runs ForgetHashes.
    virtual void EditOptions();
    virtual bool CanEditOptions() const;
    // Empties the hash cache and says so; a cache that cannot be emptied gets the error
    // box, with the reason.
    void ForgetHashes();

    // Writes the groups to the file the user chooses; once written, its folder becomes the
    // current directory.
    void SaveResults();
    bool CanSaveResults() const;

    TDocument* const Document;
    // The save dialog's settings, kept from one use to the next.
    Kiv_dialogs::TSaveFileRequest SaveResultsDialog;
    // The hash cache of the scans and of ForgetHashes; empty: the user's.
    std::string HashCacheFile;

private:
    Kiv_dialogs::TDialogs& Dialogs;
    App_scan::TScanDialogs& ScanDialogs;
};

// What Forget Hashes says once the cache is empty.
extern const char* const HashesForgottenText;
// "%s duplicate files in %s groups were found." with the counts in digit groups.
std::string ScanResultText(int duplicateCount, int groupCount);
// What a scan tells of the entries it left out because their files are gone: their count
// and the messages that name them, one a line, the first ten of them.
std::string LeftOutText(const std::vector<std::string>& messages);

} // namespace App_document
