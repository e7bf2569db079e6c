#include "App_document_commands.h"

#include "App_scan_hashcache.h"
#include "App_scantasks.h"
#include "Kiv_strings.h"

#include <memory>
#include <unistd.h>

namespace App_document {

using Kiv_dialogs::TMessageRequest;

TDocumentCommands::TDocumentCommands(TDocument* document, Kiv_dialogs::TDialogs& dialogs,
                                     App_scan::TScanDialogs& scanDialogs)
    : Document(document), Dialogs(dialogs), ScanDialogs(scanDialogs) {
    SaveResultsDialog.Title = "Save Results";
    SaveResultsDialog.DefaultExt = "txt";
    SaveResultsDialog.Filter = "Text (*.txt)|*.txt|All (*.*)|*.*";
    SaveResultsDialog.FilterIndex = 1;
    SaveResultsDialog.OverwritePrompt = true;
}

void TDocumentCommands::Load(App_common::TMemIniFile& iniFile, const std::string& section) {
    SaveResultsDialog.FilterIndex = iniFile.ReadInteger(
        section + ".SaveResultsDialog", "FilterIndex", SaveResultsDialog.FilterIndex);
}

void TDocumentCommands::Save(App_common::TMemIniFile& iniFile, const std::string& section) {
    iniFile.WriteInteger(section + ".SaveResultsDialog", "FilterIndex",
                         SaveResultsDialog.FilterIndex);
}

bool TDocumentCommands::CanScan() const {
    return Document->Entries().Count() > 0;
}

void TDocumentCommands::Scan() {
    if (!CanScan())
        Unavailable();
    const App_scanentries::TScanEntries& entries = Document->Entries();
    if (entries.CountPriority(App_scan::spPrimary) == 0) {
        Dialogs.MessageBox(TMessageRequest{"Specify primary entries to perform a scan task.",
                                           App_common::AppTitle, Kiv_dialogs::miInformation,
                                           Kiv_dialogs::mbOk});
        Kiv_framework::Abort();
    }
    auto task = std::make_unique<App_scantasks::TScanTask>(Document);
    App_scan::TCustomProgressDialog& dialog = ScanDialogs.ProgressDialog();
    dialog.SetCaption("Scan");
    dialog.Reset();
    App_scantasks::TScanTask* const running = task.get();
    dialog.OnCancel = [running](App_scan::TCustomProgressDialog* sender) {
        running->CancelClick(sender);
    };
    task->FreeOnTerminate = true;
    task->OnStatus = [&dialog](App_scantasks::TScanTask*, const std::string& text) {
        dialog.SetText(text);
    };
    task->OnProgress = [&dialog](Kiv_tasks::TTask*, int position, int count) {
        dialog.SetProgress(position, count);
    };
    // The task deletes itself after this: the dialog must not reach it any more.
    task->OnFinish = [&dialog](Kiv_tasks::TTask*) {
        dialog.OnCancel.Clear();
        dialog.Finish();
    };
    // Entries whose files are gone: named once the scan is over, before its counts.
    std::vector<std::string> leftOut;
    task->OnEntryLeftOut = [&leftOut](App_scantasks::TScanTask*, const std::string& message) {
        leftOut.push_back(message);
    };
    // A hash cache that cannot be used: told once the scan is over, which went on without.
    std::string cacheWarning;
    task->HashCacheFile = HashCacheFile;
    task->OnHashCacheWarning = [&cacheWarning](App_scantasks::TScanTask*,
                                               const std::string& message) {
        cacheWarning = message;
    };
    // A failure after the last progress report must not be reported as a found result.
    bool failed = false;
    task->OnException = [this, &failed](Kiv_tasks::TTask*, const Kiv_framework::Exception& error) {
        failed = true;
        App_common::ShowException(Dialogs, error);
    };
    try {
        task->Start();
    } catch (...) {
        dialog.OnCancel.Clear();
        throw;
    }
    (void)task.release(); // it deletes itself when it has ended
    dialog.Execute();
    if (!dialog.IsComplete() || failed)
        Kiv_framework::Abort();
    OnScanComplete(this);
    if (!cacheWarning.empty())
        Dialogs.MessageBox(TMessageRequest{cacheWarning, App_common::AppTitle,
                                           Kiv_dialogs::miWarning, Kiv_dialogs::mbOk});
    if (!leftOut.empty())
        Dialogs.MessageBox(TMessageRequest{LeftOutText(leftOut), App_common::AppTitle,
                                           Kiv_dialogs::miError, Kiv_dialogs::mbOk});
    Dialogs.MessageBox(
        TMessageRequest{ScanResultText(entries.GetDuplicateCount(), entries.GetGroupCount()),
                        "Scan", Kiv_dialogs::miInformation, Kiv_dialogs::mbOk});
}

bool TDocumentCommands::CanEditOptions() const {
    return true;
}

void TDocumentCommands::EditOptions() {
    if (!CanEditOptions())
        Unavailable();
    App_scan::TCustomOptionsDialog& dialog = ScanDialogs.OptionsDialog();
    dialog.SetOptions(
        {Document->GetAspects(), Document->RememberSettings, Document->RememberHashes});
    // The dialog lives on, this command set may not: the handler goes with the run.
    dialog.OnForgetHashes = [this](App_scan::TCustomOptionsDialog*) {
        try {
            ForgetHashes();
        } catch (const std::exception& error) {
            App_common::ShowException(Dialogs, error);
        }
    };
    bool accepted = false;
    try {
        accepted = dialog.Execute();
    } catch (...) {
        dialog.OnForgetHashes.Clear();
        throw;
    }
    dialog.OnForgetHashes.Clear();
    if (!accepted)
        Kiv_framework::Abort();
    const App_scan::TScanOptions options = dialog.GetOptions();
    Document->SetAspects(options.Aspects);
    Document->RememberSettings = options.RememberSettings;
    Document->RememberHashes = options.RememberHashes;
}

void TDocumentCommands::ForgetHashes() {
    App_scan::EmptyHashCache(HashCacheFile);
    Dialogs.MessageBox(TMessageRequest{HashesForgottenText, App_common::AppTitle,
                                       Kiv_dialogs::miInformation, Kiv_dialogs::mbOk});
}

bool TDocumentCommands::CanSaveResults() const {
    return Document->Entries().Count() > 0;
}

void TDocumentCommands::SaveResults() {
    if (!CanSaveResults())
        Unavailable();
    SaveResultsDialog.FileName = "Sorvik Results.txt";
    const auto fileName = Dialogs.SaveFile(SaveResultsDialog);
    if (!fileName)
        Kiv_framework::Abort();
    WriteResultsFile(*fileName, ResultsText(Document->Entries()));
    // The folder of a saved file is where the next file dialog opens (and where the next
    // run starts); a folder that refused the save is not.
    const std::size_t slash = fileName->find_last_of('/');
    if (slash != std::string::npos)
        (void)::chdir(slash == 0 ? "/" : fileName->substr(0, slash).c_str());
}

std::string LeftOutText(const std::vector<std::string>& messages) {
    constexpr std::size_t Shown = 10;
    const auto count = static_cast<std::int32_t>(messages.size());
    std::string text = count == 1
                           ? std::string("1 file was left out of the groups:")
                           : App_common::CountToText(count) + " files were left out of the groups:";
    for (std::size_t k = 0; k < messages.size() && k < Shown; ++k)
        text += "\n" + Kiv_strings::EscapeControlCharacters(messages[k]);
    if (messages.size() > Shown) {
        const auto more = static_cast<std::int32_t>(messages.size() - Shown);
        text += more == 1 ? std::string("\n1 more is not shown.")
                          : "\n" + App_common::CountToText(more) + " more are not shown.";
    }
    return text;
}

const char* const HashesForgottenText =
    "The hashes of earlier scans were forgotten: the next scan reads every file it compares by "
    "hash.";

std::string ScanResultText(int duplicateCount, int groupCount) {
    return App_common::CountToText(duplicateCount) + " duplicate files in " +
           App_common::CountToText(groupCount) + " groups were found.";
}

} // namespace App_document
