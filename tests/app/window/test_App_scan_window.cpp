#include "App_scan_window.h"
#include "TestWindowApplication.h"

#include <QCheckBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>
#include <set>

using namespace Qt::Literals::StringLiterals;

using App_document::TScanAspects;
using App_scan::TAppOptionsDialog;
using App_scan::TAppProgressDialog;
using App_scan::TScanOptions;

namespace {

// Runs body inside the dialog's modal loop, once it is shown.
void WhileShown(QDialog& dialog, std::function<void()> body) {
    QTimer::singleShot(0, &dialog, [&dialog, body = std::move(body)] {
        EXPECT_TRUE(dialog.isVisible());
        body();
    });
}

class Dialogs : public ::testing::Test {
protected:
    TestApplication::TTestWindowApplication App;
};

} // namespace

TEST_F(Dialogs, ProgressDialogStaysOpenOnEveryCancelAndOnlyFinishClosesIt) {
    TAppProgressDialog dialog;
    int cancels = 0;
    dialog.OnCancel = [&](App_scan::TCustomProgressDialog* sender) {
        EXPECT_EQ(sender, &dialog);
        ++cancels;
    };
    WhileShown(dialog, [&] {
        EXPECT_EQ(dialog.focusWidget(), dialog.Button1);
        dialog.Button1->click();
        EXPECT_EQ(cancels, 1);
        QTest::keyClick(&dialog, Qt::Key_Escape);
        EXPECT_EQ(cancels, 2);
        // The default button is Cancel too.
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_EQ(cancels, 3);
        // The close box.
        EXPECT_FALSE(dialog.close());
        EXPECT_EQ(cancels, 4);
        EXPECT_TRUE(dialog.isVisible());
        // A cancel request is pending; Finish closes the dialog all the same.
        dialog.Finish();
    });
    EXPECT_EQ(dialog.Execute(), Kiv_dialogs::mrOk);
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(cancels, 4);

    // Kept for the next use: shown and closed again.
    // The last of many statuses given just before Finish stays on the label.
    WhileShown(dialog, [&] {
        dialog.SetText("Matching \"a\"...");
        dialog.SetText("Matched \"a\"");
        dialog.Finish();
    });
    EXPECT_EQ(dialog.Execute(), Kiv_dialogs::mrOk);
    EXPECT_EQ(cancels, 4);
    EXPECT_EQ(dialog.Label1->text(), u"Matched \"a\""_s);
}

TEST_F(Dialogs, ProgressIsCompleteOnlyWhenThePositionReachesAMaximumAboveZero) {
    TAppProgressDialog dialog;
    dialog.SetText("Matching");
    dialog.SetProgress(2, 4);
    dialog.Reset();
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(dialog.Label1->text(), u""_s);
    EXPECT_FALSE(dialog.IsComplete());
    dialog.SetProgress(3, 5);
    EXPECT_EQ(dialog.ProgressBar1->value(), 3);
    EXPECT_FALSE(dialog.IsComplete());
    dialog.SetProgress(5, 5);
    EXPECT_TRUE(dialog.IsComplete());
    // A larger position than the old maximum, and a smaller maximum than the old position:
    // the maximum is set first, so the bar shows the position either way.
    dialog.SetProgress(8, 10);
    EXPECT_EQ(dialog.ProgressBar1->value(), 8);
    dialog.SetProgress(2, 4);
    EXPECT_EQ(dialog.ProgressBar1->value(), 2);
    EXPECT_EQ(dialog.ProgressBar1->maximum(), 4);
    dialog.SetProgress(0, 0);
    EXPECT_FALSE(dialog.IsComplete());
}

TEST_F(Dialogs, ProgressTextShowsAmpersandsAndMarkupAsWrittenAndWraps) {
    TAppProgressDialog dialog;
    dialog.SetText("Matching \"Tom & Jerry <b>.avi\"...");
    EXPECT_EQ(dialog.GetText(), "Matching \"Tom & Jerry <b>.avi\"...");
    // The label follows at the event loop's next turn.
    QCoreApplication::sendPostedEvents();
    EXPECT_EQ(dialog.Label1->text(), u"Matching \"Tom & Jerry <b>.avi\"..."_s);
    EXPECT_EQ(dialog.Label1->textFormat(), Qt::PlainText);
    EXPECT_TRUE(dialog.Label1->wordWrap());
    // A name longer than a line may break anywhere; the characters stay as they are.
    const std::string name(300, 'n');
    dialog.SetText("Matching \"" + name + "\"...");
    QCoreApplication::sendPostedEvents();
    QString shown = dialog.Label1->text();
    EXPECT_GT(shown.size(), 300);
    shown.remove(QChar(0x200B));
    EXPECT_EQ(shown.toStdString(), "Matching \"" + name + "\"...");
    dialog.SetCaption("Scan");
    EXPECT_EQ(dialog.windowTitle(), u"Scan"_s);
}

TEST_F(Dialogs, ProgressDialogIsTheOneGlobalInstance) {
    TAppProgressDialog& first = App_scan::AppProgressDialog();
    EXPECT_EQ(&first, &App_scan::AppProgressDialog());
    EXPECT_EQ(first.windowTitle(), u"Progress"_s);
    EXPECT_EQ(first.Button1->text(), u"Cancel"_s);
    EXPECT_TRUE(first.Button1->isDefault());
}

TEST_F(Dialogs, OptionsCheckBoxesFollowTheAspectOrderInThreeColumns) {
    TAppOptionsDialog dialog;
    const char* const captions[] = {
        "&Directory",      "&Name",          "&Base name",       "&Extension",        "&Size",
        "&Type",           "&Creation time", "&Last write time", "Last &access time", "Att&ributes",
        "&Hash (SHA-256)", "B&inaries"};
    dialog.show();
    for (int k = 0; k < App_document::ScanAspectCount; ++k) {
        const QCheckBox* box = dialog.AspectCheckBox(static_cast<App_document::TScanAspect>(k));
        EXPECT_EQ(box->text(), QString::fromUtf8(captions[k]));
        // Row by row, three to a row.
        if (k % 3 > 0) {
            const QCheckBox* left =
                dialog.AspectCheckBox(static_cast<App_document::TScanAspect>(k - 1));
            EXPECT_EQ(box->y(), left->y());
            EXPECT_GT(box->x(), left->x() + left->width() - 1);
        }
        if (k >= 3) {
            const QCheckBox* above =
                dialog.AspectCheckBox(static_cast<App_document::TScanAspect>(k - 3));
            EXPECT_EQ(box->x(), above->x());
            EXPECT_GT(box->y(), above->y());
        }
        // Tab order: each box leads to the next, the last to "Re&member the settings".
        const QWidget* next =
            k + 1 < App_document::ScanAspectCount
                ? dialog.AspectCheckBox(static_cast<App_document::TScanAspect>(k + 1))
                : dialog.RememberSettingsCheckBox;
        EXPECT_EQ(box->nextInFocusChain(), next);
    }
    EXPECT_EQ(dialog.RememberSettingsCheckBox->text(), u"Re&member the settings"_s);
    EXPECT_EQ(dialog.RememberHashesCheckBox->text(), u"Remember hashes bet&ween scans"_s);
    EXPECT_EQ(dialog.ForgetHashesButton->text(), u"&Forget Hashes"_s);
    // Below the settings, the hashes; in the row of OK and Cancel, on the left, Forget.
    EXPECT_EQ(dialog.RememberSettingsCheckBox->nextInFocusChain(), dialog.RememberHashesCheckBox);
    EXPECT_EQ(dialog.RememberHashesCheckBox->nextInFocusChain(), dialog.ForgetHashesButton);
    EXPECT_EQ(dialog.ForgetHashesButton->nextInFocusChain(), dialog.OkButton);
    EXPECT_GT(dialog.RememberHashesCheckBox->y(), dialog.RememberSettingsCheckBox->y());
    EXPECT_EQ(dialog.ForgetHashesButton->y(), dialog.OkButton->y());
    EXPECT_LT(dialog.ForgetHashesButton->x(), dialog.OkButton->x());
    EXPECT_FALSE(dialog.ForgetHashesButton->autoDefault());
    EXPECT_EQ(dialog.windowTitle(), u"Options"_s);
    EXPECT_TRUE(dialog.OkButton->isDefault());
    EXPECT_LT(dialog.OkButton->x(), dialog.CancelButton->x());
}

TEST_F(Dialogs, EachCriterionTellsInItsTooltipWhatTwoFilesMustShare) {
    TAppOptionsDialog dialog;
    const char* const shared[] = {"same folder",
                                  "names are the same",
                                  "without the extension",
                                  "extensions",
                                  "size",
                                  "type",
                                  "created",
                                  "last written",
                                  "last read",
                                  "attributes",
                                  "SHA-256",
                                  "byte for byte"};
    std::set<QString> tips;
    for (int k = 0; k < App_document::ScanAspectCount; ++k) {
        const QString tip =
            dialog.AspectCheckBox(static_cast<App_document::TScanAspect>(k))->toolTip();
        EXPECT_TRUE(tip.startsWith(u"Two files are copies only when"_s)) << k;
        EXPECT_TRUE(tip.contains(QString::fromUtf8(shared[k]))) << tip.toStdString();
        tips.insert(tip);
    }
    EXPECT_EQ(tips.size(), static_cast<std::size_t>(App_document::ScanAspectCount));
}

TEST_F(Dialogs, ADelayedProgressShowsOnlyAfterItsDelayAndNotAtAllWhenFinishedFirst) {
    TAppProgressDialog dialog;
    // Finished before the delay ran out: never shown.
    int shows = 0;
    const TestApplication::TEventCounter showCounter(dialog, QEvent::Show, shows);
    QTimer::singleShot(0, &dialog, [&dialog] { dialog.Finish(); });
    EXPECT_EQ(dialog.ExecuteDelayed(3'600'000), Kiv_dialogs::mrOk);
    EXPECT_EQ(shows, 0);
    // Past its delay it is shown, modal, and Cancel only asks.
    int cancels = 0;
    dialog.OnCancel = [&cancels](App_scan::TCustomProgressDialog*) { ++cancels; };
    TestApplication::WhenReady([&] { return dialog.isVisible(); },
                               [&] {
                                   EXPECT_TRUE(dialog.isModal());
                                   // The user's own input, not a programmatic click: it must get
                                   // through once shown.
                                   QTest::mouseClick(dialog.Button1, Qt::LeftButton);
                                   EXPECT_TRUE(dialog.isVisible());
                                   QTest::keyClick(&dialog, Qt::Key_Escape);
                                   EXPECT_TRUE(dialog.isVisible());
                                   dialog.Finish();
                               });
    EXPECT_EQ(dialog.ExecuteDelayed(1), Kiv_dialogs::mrOk);
    EXPECT_EQ(shows, 1);
    EXPECT_EQ(cancels, 2);
    EXPECT_FALSE(dialog.isVisible());
}

TEST_F(Dialogs, ForgetHashesAsksItsHandlerAndLeavesTheDialogOpen) {
    TAppOptionsDialog dialog;
    int asked = 0;
    dialog.OnForgetHashes = [&](App_scan::TCustomOptionsDialog* sender) {
        EXPECT_EQ(sender, &dialog);
        ++asked;
    };
    dialog.SetOptions({{App_document::saSize}, false, true});
    WhileShown(dialog, [&] {
        EXPECT_TRUE(dialog.RememberHashesCheckBox->isChecked());
        dialog.ForgetHashesButton->click();
        EXPECT_EQ(asked, 1);
        EXPECT_TRUE(dialog.isVisible());
        dialog.RememberHashesCheckBox->click();
        dialog.OkButton->click();
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.GetOptions(), (TScanOptions{{App_document::saSize}, false, false}));
}

TEST_F(Dialogs, OkIsDisabledExactlyWhileNoCriterionIsChecked) {
    TAppOptionsDialog dialog;
    dialog.SetOptions({{App_document::saSize, App_document::saHash}, false});
    WhileShown(dialog, [&] {
        EXPECT_EQ(dialog.focusWidget(), dialog.AspectCheckBox(App_document::saDirectory));
        EXPECT_TRUE(dialog.OkButton->isEnabled());
        dialog.AspectCheckBox(App_document::saSize)->click();
        EXPECT_TRUE(dialog.OkButton->isEnabled());
        dialog.AspectCheckBox(App_document::saHash)->click();
        EXPECT_FALSE(dialog.OkButton->isEnabled());
        // Enter does not reach a disabled OK.
        QTest::keyClick(&dialog, Qt::Key_Return);
        EXPECT_TRUE(dialog.isVisible());
        dialog.AspectCheckBox(App_document::saName)->click();
        EXPECT_TRUE(dialog.OkButton->isEnabled());
        dialog.OkButton->click();
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.GetOptions(), (TScanOptions{{App_document::saName}, false}));

    // Options with no criterion open with OK disabled.
    dialog.SetOptions({TScanAspects(), true});
    WhileShown(dialog, [&] {
        EXPECT_FALSE(dialog.OkButton->isEnabled());
        EXPECT_TRUE(dialog.RememberSettingsCheckBox->isChecked());
        dialog.CancelButton->click();
    });
    EXPECT_FALSE(dialog.Execute());
}

TEST_F(Dialogs, EveryWayOfClosingStoresWhatTheControlsShow) {
    TAppOptionsDialog dialog;
    const TScanOptions start{{App_document::saSize}, false};
    const std::function<void()> closings[] = {
        [&] { dialog.CancelButton->click(); },
        [&] { QTest::keyClick(&dialog, Qt::Key_Escape); },
        [&] { dialog.close(); },
    };
    for (const auto& closeIt : closings) {
        dialog.SetOptions(start);
        WhileShown(dialog, [&] {
            dialog.AspectCheckBox(App_document::saBinaries)->click();
            dialog.RememberSettingsCheckBox->click();
            dialog.RememberHashesCheckBox->click();
            closeIt();
        });
        EXPECT_FALSE(dialog.Execute());
        EXPECT_EQ(dialog.GetOptions(),
                  (TScanOptions{{App_document::saSize, App_document::saBinaries}, true, true}));
    }
    // The next opening shows the stored options, not the controls left from before.
    dialog.SetOptions(start);
    WhileShown(dialog, [&] {
        EXPECT_FALSE(dialog.AspectCheckBox(App_document::saBinaries)->isChecked());
        EXPECT_FALSE(dialog.RememberSettingsCheckBox->isChecked());
        EXPECT_FALSE(dialog.RememberHashesCheckBox->isChecked());
        QTest::keyClick(&dialog, Qt::Key_Return);
    });
    EXPECT_TRUE(dialog.Execute());
    EXPECT_EQ(dialog.GetOptions(), start);
}

TEST_F(Dialogs, FormsScaleFromTheDesignResolution) {
    TAppOptionsDialog options;
    TAppProgressDialog progress;
    options.adjustSize();
    progress.adjustSize();
    const double scale = progress.logicalDpiY() / 120.0;
    // The progress bar keeps its design width of 421 and Cancel its 121, scaled.
    EXPECT_EQ(progress.ProgressBar1->width(), qRound(421 * scale));
    EXPECT_GE(progress.Button1->width(), qRound(121 * scale));
    EXPECT_GE(options.OkButton->width(), qRound(121 * scale));
    EXPECT_GE(options.width(), qRound(581 * scale));
    // Fixed size: not resizable.
    EXPECT_EQ(options.minimumSize(), options.maximumSize());
    EXPECT_EQ(progress.minimumSize(), progress.maximumSize());
}
