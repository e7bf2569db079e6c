// The scan's dialogs as windows: the progress dialog of a running scan and the options
// dialog of the comparison criteria, laid out by the forms AppProgressDialog.ui and
// AppOptionsDialog.ui.
#pragma once

#include "App_scan_dialogs.h"

#include <QDialog>
#include <array>
#include <memory>
#include <string>

class QCheckBox;
class QLabel;
class QProgressBar;
class QPushButton;

namespace Ui {
class AppProgressDialog;
class AppOptionsDialog;
} // namespace Ui

namespace App_scan {

class TAppProgressDialog : public QDialog, public TCustomProgressDialog {
public:
    explicit TAppProgressDialog(QWidget* parent = nullptr);
    ~TAppProgressDialog() override;

    // Focus on Button1, then modal until Finish closes it.
    Kiv_dialogs::TModalResult Execute() override;
    // Closes the dialog with the result OK, also while a cancel request is pending.
    void Finish() override;
    void SetProgress(int position, int max) override;
    bool IsComplete() const override;
    // Shown as written, ampersands too; a word too long for a line breaks anywhere. The
    // label shows it from the event loop's next turn on.
    void SetText(const std::string& text) override;
    const std::string& GetText() const { return Text; }
    void SetCaption(const std::string& caption) override;

    // Asked whenever something tries to close the dialog (Cancel, Escape, the close box,
    // Finish): only the result OK may close it; anything else sends one cancel request.
    void FormCloseQuery(QObject* sender, bool& canClose);

    QLabel* Label1;
    QProgressBar* ProgressBar1;
    QPushButton* Button1;

protected:
    void done(int result) override;

private:
    void ShowText();

    std::unique_ptr<Ui::AppProgressDialog> Form;
    Kiv_dialogs::TModalResult ModalResult = Kiv_dialogs::mrNone;
    std::string Text;
    bool TextPending = false;
};

// The program's one progress dialog, created on first use and deleted with the
// application object.
TAppProgressDialog& AppProgressDialog();

class TAppOptionsDialog : public QDialog, public TCustomOptionsDialog {
public:
    explicit TAppOptionsDialog(QWidget* parent = nullptr);
    ~TAppOptionsDialog() override;

    // Shows the stored options with the focus on the first check box; true for OK.
    bool Execute() override;
    // The stored options with the criteria and the remember flag as the controls show.
    TScanOptions ReadControls() const;
    void WriteControls(const TScanOptions& options);
    // OK is enabled exactly while a criterion is checked.
    void UpdateOkButton();

    QCheckBox* AspectCheckBox(App_document::TScanAspect aspect) const;
    QCheckBox* RememberSettingsCheckBox;
    QCheckBox* RememberHashesCheckBox;
    QPushButton* ForgetHashesButton;
    QPushButton* OkButton;
    QPushButton* CancelButton;

protected:
    // Every way of closing stores what the controls show first.
    void done(int result) override;

private:
    std::unique_ptr<Ui::AppOptionsDialog> Form;
    std::array<QCheckBox*, App_document::ScanAspectCount> AspectCheckBoxes;
};

// The program's one options dialog, created on first use and deleted with the
// application object.
TAppOptionsDialog& AppOptionsDialog();

// The scan's dialogs for the document's commands: the program's own two.
class TAppScanDialogs : public TScanDialogs {
public:
    TCustomProgressDialog& ProgressDialog() override { return AppProgressDialog(); }
    TCustomOptionsDialog& OptionsDialog() override { return AppOptionsDialog(); }
};

} // namespace App_scan
