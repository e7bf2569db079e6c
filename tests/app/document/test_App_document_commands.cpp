#include "App_common_settings.h"
#include "App_document_commands.h"
#include "App_scan_hashcache.h"
#include "App_scan_window.h"
#include "TestApplication.h"
#include "TestDialogs.h"
#include "TestWindowApplication.h"
#include "app/entries/EntriesTestSupport.h"
#include "app/scan/ChangeWhileReadTestSupport.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTimer>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

using App_document::TDocument;
using App_document::TDocumentCommands;
using App_scan::TCustomProgressDialog;
using EntriesTest::AppErrorOf;
using EntriesTest::TTempDir;
using EntriesTest::WriteFile;
using Kiv_dialogs::TMessageRequest;
using TestFiles::ReadFile;

namespace {

// The program's progress dialog behind a probe that records what the scan showed and
// can press Cancel on the real dialog when the first status arrives.
class TProgressProbe : public TCustomProgressDialog {
public:
    TProgressProbe() {
        Real.OnCancel = [this](TCustomProgressDialog*) { DoCancel(); };
    }
    ~TProgressProbe() override { Real.OnCancel.Clear(); }

    Kiv_dialogs::TModalResult Execute() override {
        ++Executions;
        // The user's Cancel as the dialog comes up: before the main thread has served the
        // worker anything, so the scan cannot have ended yet.
        if (CancelAtOnce)
            DoCancel();
        return Real.Execute();
    }
    void Finish() override {
        VisibleAtFinish = Real.isVisible();
        Real.Finish();
    }
    void SetProgress(int position, int max) override {
        Progress.emplace_back(position, max);
        Real.SetProgress(position, max);
    }
    bool IsComplete() const override { return ClaimComplete || Real.IsComplete(); }
    void SetText(const std::string& text) override {
        Texts.push_back(text);
        Real.SetText(text);
    }
    void SetCaption(const std::string& caption) override { Real.SetCaption(caption); }

    App_scan::TAppProgressDialog& Real = App_scan::AppProgressDialog();
    bool CancelAtOnce = false;
    // As if the last progress had been reported before the failure.
    bool ClaimComplete = false;
    int Executions = 0;
    bool VisibleAtFinish = false;
    std::vector<std::string> Texts;
    std::vector<std::pair<int, int>> Progress;
};

class TProbeScanDialogs : public App_scan::TScanDialogs {
public:
    TCustomProgressDialog& ProgressDialog() override { return Probe; }
    App_scan::TCustomOptionsDialog& OptionsDialog() override {
        return App_scan::AppOptionsDialog();
    }
    TProgressProbe Probe;
};

class DocumentCommands : public ::testing::Test {
protected:
    // A save enters the folder of its file: the process's current directory comes back.
    TestFiles::TCurrentDirectoryGuard KeepFolder;

    void TearDown() override {
        // The scan's thread object deletes itself from the event loop once its thread ended.
        EXPECT_TRUE(TestApplication::ServeUntil([&] {
            QCoreApplication::sendPostedEvents();
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            return TestApplication::TaskThreadCount() == 0;
        }));
        QCoreApplication::sendPostedEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(Dialogs.AllAnswered());
    }

    void Add(const std::vector<std::string>& paths, App_scan::TScanPriority priority) {
        EntriesTest::AddFiles(Document.Entries(), paths, priority);
    }

    std::vector<std::int32_t> Groups() const { return EntriesTest::GroupsOf(Document.Entries()); }

    // Three copies of one content, two of another and one unique file, all primary.
    void AddSixFiles() {
        for (const char* name : {"a1", "a2", "a3"})
            WriteFile(Dir / name, "alpha");
        for (const char* name : {"b1", "b2"})
            WriteFile(Dir / name, "bravo");
        WriteFile(Dir / "c", "charlie");
        Add({Dir / "a1", Dir / "b1", Dir / "c", Dir / "a2", Dir / "b2", Dir / "a3"},
            App_scan::spPrimary);
    }

    TestApplication::TTestWindowApplication App;
    TTempDir Dir;
    TDocument Document;
    TestDialogs::TTestDialogs Dialogs;
    TProbeScanDialogs ScanDialogs;
    TDocumentCommands Commands{&Document, Dialogs, ScanDialogs};
};

} // namespace

TEST_F(DocumentCommands, AnEmptyListDisablesScanAndSaveResults) {
    EXPECT_FALSE(Commands.CanScan());
    EXPECT_FALSE(Commands.CanSaveResults());
    EXPECT_TRUE(Commands.CanEditOptions());
    EXPECT_EQ(AppErrorOf([&] { Commands.Scan(); }), "The feature is unavailable.");
    EXPECT_EQ(AppErrorOf([&] { Commands.SaveResults(); }), "The feature is unavailable.");
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_TRUE(Dialogs.SaveRequests.empty());
    EXPECT_EQ(ScanDialogs.Probe.Executions, 0);
}

TEST_F(DocumentCommands, SecondaryEntriesOnlyAskForPrimaryOnesAndStartNothing) {
    WriteFile(Dir / "a", "same");
    WriteFile(Dir / "b", "same");
    Add({Dir / "a", Dir / "b"}, App_scan::spSecondary);
    EXPECT_TRUE(Commands.CanScan());
    EXPECT_THROW(Commands.Scan(), Kiv_framework::EAbort);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Text, "Specify primary entries to perform a scan task.");
    EXPECT_EQ(Dialogs.Messages[0].Caption, "Sorvik");
    EXPECT_EQ(Dialogs.Messages[0].Icon, Kiv_dialogs::miInformation);
    EXPECT_EQ(Dialogs.Messages[0].Buttons, Kiv_dialogs::mbOk);
    EXPECT_EQ(ScanDialogs.Probe.Executions, 0);
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{-1, -1}));
}

TEST_F(DocumentCommands, ScanRunsBehindTheProgressDialogAndReportsTheCounts) {
    AddSixFiles();
    App_scan::TAppScanDialogs realDialogs;
    TDocumentCommands commands(&Document, Dialogs, realDialogs);
    commands.Scan();
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 2, 0, 1, 2, 1}));
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Text, "5 duplicate files in 2 groups were found.");
    EXPECT_EQ(Dialogs.Messages[0].Caption, "Scan");
    EXPECT_EQ(Dialogs.Messages[0].Icon, Kiv_dialogs::miInformation);
    EXPECT_EQ(Dialogs.Messages[0].Buttons, Kiv_dialogs::mbOk);
    const App_scan::TAppProgressDialog& dialog = App_scan::AppProgressDialog();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(dialog.windowTitle(), u"Scan"_s);
    EXPECT_TRUE(dialog.IsComplete());
    EXPECT_EQ(App_document::ScanResultText(1234, 1001),
              "1,234 duplicate files in 1,001 groups were found.");
}

TEST_F(DocumentCommands, TheDialogShowsStatusAndProgressAndFinishClosesIt) {
    AddSixFiles();
    Commands.Scan();
    TProgressProbe& probe = ScanDialogs.Probe;
    EXPECT_EQ(probe.Executions, 1);
    EXPECT_TRUE(probe.VisibleAtFinish);
    // Reset first: an empty text and 0 of 0.
    ASSERT_FALSE(probe.Texts.empty());
    EXPECT_EQ(probe.Texts.front(), "");
    EXPECT_EQ(probe.Progress.front(), std::make_pair(0, 0));
    // A newer status may replace an older one on its way; the last one always arrives.
    for (std::size_t k = 1; k < probe.Texts.size(); ++k)
        EXPECT_TRUE(probe.Texts[k].starts_with("Match")) << probe.Texts[k];
    EXPECT_EQ(probe.Texts.back(), "Matched \"c\"");
    EXPECT_EQ(probe.Progress.back(), std::make_pair(6, 6));
    EXPECT_EQ(Dialogs.Messages.size(), 1u);
}

TEST_F(DocumentCommands, ACancelledScanEndsWithoutTheFinalMessage) {
    AddSixFiles();
    ScanDialogs.Probe.CancelAtOnce = true;
    EXPECT_THROW(Commands.Scan(), Kiv_framework::EAbort);
    EXPECT_TRUE(Dialogs.Messages.empty());
    EXPECT_TRUE(ScanDialogs.Probe.VisibleAtFinish);
    EXPECT_FALSE(ScanDialogs.Probe.Real.isVisible());
    EXPECT_FALSE(ScanDialogs.Probe.IsComplete());
}

TEST_F(DocumentCommands, AFailedScanShowsOneErrorBoxAndNoFinalMessage) {
    WriteFile(Dir / "a", "same");
    WriteFile(Dir / "b", "same");
    ScanTest::AgeFile(Dir / "b");
    Add({Dir / "a", Dir / "b"}, App_scan::spPrimary);
    // Written to while it is read: its content is no content it has.
    const ScanTest::TChangeWhileRead changer(Dir / "b", 1,
                                             [&] { ScanTest::RewriteFirstByte(Dir / "b"); });
    bool dialogUp = false;
    Dialogs.OnMessage = [&](const TMessageRequest&) {
        dialogUp = ScanDialogs.Probe.Real.isVisible();
    };
    EXPECT_THROW(Commands.Scan(), Kiv_framework::EAbort);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Caption, "Sorvik");
    EXPECT_EQ(Dialogs.Messages[0].Icon, Kiv_dialogs::miError);
    EXPECT_EQ(Dialogs.Messages[0].Text,
              "The file \"" + Dir / "b" + "\" changed after it was added to the list.");
    // Shown while the scan still ran behind its dialog.
    EXPECT_TRUE(dialogUp);
}

TEST_F(DocumentCommands, AFailureAfterTheLastProgressIsNotReportedAsAResult) {
    WriteFile(Dir / "a", "same");
    WriteFile(Dir / "b", "same");
    ScanTest::AgeFile(Dir / "b");
    Add({Dir / "a", Dir / "b"}, App_scan::spPrimary);
    const ScanTest::TChangeWhileRead changer(Dir / "b", 1,
                                             [&] { ScanTest::RewriteFirstByte(Dir / "b"); });
    ScanDialogs.Probe.ClaimComplete = true;
    EXPECT_THROW(Commands.Scan(), Kiv_framework::EAbort);
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(Dialogs.Messages[0].Icon, Kiv_dialogs::miError);
}

TEST_F(DocumentCommands, FilesGoneSinceTheyWereAddedAreNamedAndLeftOutOfTheGroups) {
    AddSixFiles();
    std::filesystem::remove(Dir / "a2");
    std::filesystem::remove(Dir / "c");
    Commands.Scan();
    // Not grouped: the remaining copies of a still are.
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 2, -1, -1, 2, 1}));
    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[0].Text, "2 files were left out of the groups:\n"
                                        "The program cannot find the file \"" +
                                            Dir / "c" +
                                            "\".\n"
                                            "The program cannot find the file \"" +
                                            Dir / "a2" + "\".");
    EXPECT_EQ(Dialogs.Messages[0].Caption, "Sorvik");
    EXPECT_EQ(Dialogs.Messages[0].Icon, Kiv_dialogs::miError);
    EXPECT_EQ(Dialogs.Messages[1].Text, "4 duplicate files in 2 groups were found.");

    EXPECT_EQ(App_document::LeftOutText({"The program cannot find the file \"x\ny\"."}),
              "1 file was left out of the groups:\n"
              "The program cannot find the file \"x\\ny\".");
    const std::vector<std::string> many(12, "Gone.");
    EXPECT_EQ(App_document::LeftOutText(many), "12 files were left out of the groups:\nGone.\n"
                                               "Gone.\nGone.\nGone.\nGone.\nGone.\nGone.\nGone."
                                               "\nGone.\nGone.\n2 more are not shown.");
    EXPECT_TRUE(App_document::LeftOutText({"a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k"})
                    .ends_with("\nj\n1 more is not shown."));
}

TEST_F(DocumentCommands, CancelledOptionsLeaveTheDocumentAndShowItsValuesNextTime) {
    App_scan::TAppOptionsDialog& dialog = App_scan::AppOptionsDialog();
    int changes = 0;
    Document.OnChange = [&](TDocument*) { ++changes; };
    QTimer::singleShot(0, [&] {
        dialog.AspectCheckBox(App_document::saSize)->click();
        dialog.AspectCheckBox(App_document::saName)->click();
        dialog.RememberSettingsCheckBox->click();
        dialog.CancelButton->click();
    });
    EXPECT_THROW(Commands.EditOptions(), Kiv_framework::EAbort);
    EXPECT_EQ(Document.GetAspects(), App_document::DefaultScanAspects);
    EXPECT_FALSE(Document.RememberSettings);
    EXPECT_EQ(changes, 0);

    bool sizeShown = false;
    bool nameShown = true;
    QTimer::singleShot(0, [&] {
        sizeShown = dialog.AspectCheckBox(App_document::saSize)->isChecked();
        nameShown = dialog.AspectCheckBox(App_document::saName)->isChecked();
        dialog.reject();
    });
    EXPECT_THROW(Commands.EditOptions(), Kiv_framework::EAbort);
    EXPECT_TRUE(sizeShown);
    EXPECT_FALSE(nameShown);
}

TEST_F(DocumentCommands, OkWithOnlyTheRememberFlagChangedChangesOnlyThat) {
    App_scan::TAppOptionsDialog& dialog = App_scan::AppOptionsDialog();
    int changes = 0;
    Document.OnChange = [&](TDocument*) { ++changes; };
    QTimer::singleShot(0, [&] {
        dialog.RememberSettingsCheckBox->click();
        dialog.OkButton->click();
    });
    Commands.EditOptions();
    EXPECT_TRUE(Document.RememberSettings);
    EXPECT_EQ(Document.GetAspects(), App_document::DefaultScanAspects);
    EXPECT_EQ(changes, 0);

    QTimer::singleShot(0, [&] {
        dialog.AspectCheckBox(App_document::saBinaries)->click();
        dialog.OkButton->click();
    });
    Commands.EditOptions();
    EXPECT_EQ(Document.GetAspects(), App_document::DefaultScanAspects +
                                         App_document::TScanAspects{App_document::saBinaries});
    EXPECT_EQ(changes, 1);
}

namespace {

// How many of the entries' files the hash cache at file holds a hash of.
int CachedOf(const std::string& file, const App_scanentries::TScanEntries& entries) {
    App_scan::TScanRecords records(entries.Count());
    std::vector<int> indices;
    for (int i = 0; i < entries.Count(); ++i) {
        records[i] = entries.Item(i).GetRecord();
        records[i].Hash = App_scan::THashText();
        indices.push_back(i);
    }
    App_scan::THashCache cache(file, nullptr);
    return cache.Recall(records, indices);
}

} // namespace

TEST_F(DocumentCommands, TheOptionsDialogSetsWhetherHashesAreRemembered) {
    App_scan::TAppOptionsDialog& dialog = App_scan::AppOptionsDialog();
    bool shown = false;
    QTimer::singleShot(0, [&] {
        shown = dialog.RememberHashesCheckBox->isChecked();
        dialog.RememberHashesCheckBox->click();
        dialog.CancelButton->click();
    });
    EXPECT_THROW(Commands.EditOptions(), Kiv_framework::EAbort);
    EXPECT_TRUE(shown);
    EXPECT_TRUE(Document.RememberHashes);
    QTimer::singleShot(0, [&] {
        dialog.RememberHashesCheckBox->click();
        dialog.OkButton->click();
    });
    Commands.EditOptions();
    EXPECT_FALSE(Document.RememberHashes);
    EXPECT_FALSE(static_cast<bool>(dialog.OnForgetHashes)); // not left to a later run

    // Off, a scan neither reads nor writes the cache: it is not even made.
    Commands.HashCacheFile = Dir / "cache/Sorvik/hashes.db";
    AddSixFiles();
    Commands.Scan();
    EXPECT_FALSE(std::filesystem::exists(Dir / "cache"));
}

TEST_F(DocumentCommands, ForgetHashesEmptiesTheCacheAndSaysSo) {
    const std::string cache = Dir / "cache/Sorvik/hashes.db";
    Commands.HashCacheFile = cache;
    AddSixFiles();
    ScanTest::PassChangeTime(Dir / "c"); // the last one made: none can be newer
    Commands.Scan();
    ASSERT_EQ(Dialogs.Messages.size(), 1u);
    EXPECT_EQ(CachedOf(cache, Document.Entries()), 5); // the unique one is never read
    App_scan::TAppOptionsDialog& dialog = App_scan::AppOptionsDialog();
    QTimer::singleShot(0, [&] {
        dialog.ForgetHashesButton->click();
        EXPECT_TRUE(dialog.isVisible());
        dialog.CancelButton->click();
    });
    EXPECT_THROW(Commands.EditOptions(), Kiv_framework::EAbort);
    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[1].Text, App_document::HashesForgottenText);
    EXPECT_EQ(Dialogs.Messages[1].Icon, Kiv_dialogs::miInformation);
    EXPECT_EQ(CachedOf(cache, Document.Entries()), 0);

    // A cache that cannot be reached: the error box says why, and the dialog goes on.
    const std::string blocker = Dir / "blocker";
    WriteFile(blocker, "a file");
    Commands.HashCacheFile = blocker + "/hashes.db";
    QTimer::singleShot(0, [&] {
        dialog.ForgetHashesButton->click();
        EXPECT_TRUE(dialog.isVisible());
        dialog.CancelButton->click();
    });
    EXPECT_THROW(Commands.EditOptions(), Kiv_framework::EAbort);
    ASSERT_EQ(Dialogs.Messages.size(), 3u);
    EXPECT_EQ(Dialogs.Messages[2].Text, "The program could not empty the hash cache \"" + blocker +
                                            "/hashes.db\" (Not a directory).");
    EXPECT_EQ(Dialogs.Messages[2].Icon, Kiv_dialogs::miError);
}

TEST_F(DocumentCommands, ACacheThatCannotBeUsedIsToldOnceAfterTheScan) {
    const std::string blocker = Dir / "blocker";
    WriteFile(blocker, "a file");
    Commands.HashCacheFile = blocker + "/Sorvik/hashes.db";
    AddSixFiles();
    Commands.Scan();
    EXPECT_EQ(Groups(), (std::vector<std::int32_t>{1, 2, 0, 1, 2, 1}));
    ASSERT_EQ(Dialogs.Messages.size(), 2u);
    EXPECT_EQ(Dialogs.Messages[0].Text, "The program could not use the hash cache \"" + blocker +
                                            "/Sorvik/hashes.db\" (Not a directory); the scan "
                                            "goes on without it.");
    EXPECT_EQ(Dialogs.Messages[0].Icon, Kiv_dialogs::miWarning);
    EXPECT_EQ(Dialogs.Messages[1].Text, "5 duplicate files in 2 groups were found.");
}

TEST_F(DocumentCommands, SaveResultsWritesTheGroupsThroughTheDesignedDialog) {
    AddSixFiles();
    // Before any scan: an empty file.
    const std::string path = Dir / "results.txt";
    Dialogs.AnswerSave(path);
    Commands.SaveResults();
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(ReadFile(path), "");
    ASSERT_EQ(Dialogs.SaveRequests.size(), 1u);
    const Kiv_dialogs::TSaveFileRequest& request = Dialogs.SaveRequests[0];
    EXPECT_EQ(request.Title, "Save Results");
    EXPECT_EQ(request.DefaultExt, "txt");
    EXPECT_EQ(request.Filter, "Text (*.txt)|*.txt|All (*.*)|*.*");
    EXPECT_EQ(request.FilterIndex, 1);
    EXPECT_TRUE(request.OverwritePrompt);
    EXPECT_EQ(request.FileName, "Sorvik Results.txt");
    EXPECT_EQ(request.InitialDir, "");

    // Groups 1 and 3, no 2 (its entries were removed, say).
    const std::int32_t groups[] = {3, 1, 0, 1, 3, -1};
    for (int i = 0; i < Document.Entries().Count(); ++i)
        Document.Entries().Item(i).SetGroup(groups[i]);
    Dialogs.AnswerSave(path, 2);
    Commands.SaveResults();
    EXPECT_EQ(ReadFile(path), Dir / "b1" + "\r\n" + Dir / "a2" + "\r\n\r\n" + Dir / "a1" + "\r\n" +
                                  Dir / "b2" + "\r\n\r\n");
    // The name is offered afresh each time; the filter the user chose is kept.
    EXPECT_EQ(Dialogs.SaveRequests[1].FileName, "Sorvik Results.txt");
    EXPECT_EQ(Commands.SaveResultsDialog.FilterIndex, 2);

    Dialogs.AnswerSave(std::nullopt);
    EXPECT_THROW(Commands.SaveResults(), Kiv_framework::EAbort);
}

TEST_F(DocumentCommands, AFailedSaveSaysWhyKeepsTheOldFileAndIsNoFolderToRemember) {
    AddSixFiles();
    const std::string missing = Dir / "no folder/results.txt";
    Dialogs.AnswerSave(missing);
    EXPECT_EQ(AppErrorOf([&] { Commands.SaveResults(); }),
              "The program could not save the results to the file \"" + missing +
                  "\" (No such file or directory).");
    // A folder in the way of the file: nothing of it is touched.
    std::filesystem::create_directory(Dir / "taken");
    WriteFile(Dir / "taken/inside", "kept");
    Dialogs.AnswerSave(Dir / "taken");
    EXPECT_EQ(AppErrorOf([&] { Commands.SaveResults(); }),
              "The program could not save the results to the file \"" + Dir / "taken" +
                  "\" (Is a directory).");
    EXPECT_EQ(ReadFile(Dir / "taken/inside"), "kept");
    EXPECT_FALSE(std::filesystem::exists(missing));
    // The file dialogs open where they did: a folder that refused the save is not entered.
    EXPECT_EQ(std::filesystem::current_path().string(), KeepFolder.Path());

    // A save that succeeds makes its folder the current directory.
    std::filesystem::create_directory(Dir / "out");
    Dialogs.AnswerSave(Dir / "out/results.txt");
    Commands.SaveResults();
    EXPECT_EQ(std::filesystem::current_path().string(), Dir / "out");
}

TEST_F(DocumentCommands, TheFilterIndexSurvivesSavingAndLoadingTheSettings) {
    const std::string settings = Dir / "Settings.ini";
    Commands.SaveResultsDialog.FilterIndex = 2;
    App_common::TSettingsHandlers handlers(settings);
    handlers.Add(&Document, "Document");
    handlers.Add(&Commands, "DocumentCommands");
    handlers.SaveAll();
    EXPECT_NE(ReadFile(settings).find("[DocumentCommands.SaveResultsDialog]\r\nFilterIndex=2\r\n"),
              std::string::npos);

    TDocumentCommands fresh(&Document, Dialogs, ScanDialogs);
    EXPECT_EQ(fresh.SaveResultsDialog.FilterIndex, 1);
    App_common::TSettingsHandlers loading(settings);
    loading.Add(&fresh, "DocumentCommands");
    loading.LoadAll();
    EXPECT_EQ(fresh.SaveResultsDialog.FilterIndex, 2);

    // A value that is no number leaves the dialog's own index.
    std::ofstream(settings) << "[DocumentCommands.SaveResultsDialog]\r\nFilterIndex=abc\r\n";
    loading.LoadAll();
    EXPECT_EQ(fresh.SaveResultsDialog.FilterIndex, 2);
}
