#include "App_common_window.h"
#include "App_scan_window.h"
#include "ui_AppOptionsDialog.h"

#include <QCoreApplication>

namespace App_scan {

using App_document::TScanAspect;

namespace {

std::unique_ptr<TAppOptionsDialog> Instance;

void DeleteInstance() {
    Instance.reset();
}

} // namespace

TAppOptionsDialog::TAppOptionsDialog(QWidget* parent)
    : QDialog(parent), Form(std::make_unique<Ui::AppOptionsDialog>()) {
    Form->setupUi(this);
    AspectCheckBoxes = {
        Form->DirectoryCheckBox,    Form->NameCheckBox,          Form->BaseNameCheckBox,
        Form->ExtensionCheckBox,    Form->SizeCheckBox,          Form->TypeCheckBox,
        Form->CreationTimeCheckBox, Form->LastWriteTimeCheckBox, Form->LastAccessTimeCheckBox,
        Form->AttributesCheckBox,   Form->HashCheckBox,          Form->BinariesCheckBox};
    RememberSettingsCheckBox = Form->RememberSettingsCheckBox;
    RememberHashesCheckBox = Form->RememberHashesCheckBox;
    ForgetHashesButton = Form->ForgetHashesButton;
    OkButton = Form->OkButton;
    CancelButton = Form->CancelButton;
    for (QCheckBox* box : AspectCheckBoxes)
        connect(box, &QCheckBox::toggled, this, [this] { UpdateOkButton(); });
    connect(ForgetHashesButton, &QPushButton::clicked, this, [this] { OnForgetHashes(this); });
    connect(OkButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);
    App_common::SetDialogFrame(*this);
    App_common::ScaleDesign(*this);
}

TAppOptionsDialog::~TAppOptionsDialog() = default;

QCheckBox* TAppOptionsDialog::AspectCheckBox(TScanAspect aspect) const {
    return AspectCheckBoxes.at(aspect);
}

bool TAppOptionsDialog::Execute() {
    WriteControls(Options);
    App_common::CenterOnActiveWindow(*this);
    AspectCheckBoxes.front()->setFocus();
    return exec() == Accepted;
}

TScanOptions TAppOptionsDialog::ReadControls() const {
    TScanOptions options = Options;
    for (int k = 0; k < App_document::ScanAspectCount; ++k) {
        const auto aspect = static_cast<TScanAspect>(k);
        if (AspectCheckBoxes[static_cast<std::size_t>(k)]->isChecked())
            options.Aspects.Include(aspect);
        else
            options.Aspects.Exclude(aspect);
    }
    options.RememberSettings = RememberSettingsCheckBox->isChecked();
    options.RememberHashes = RememberHashesCheckBox->isChecked();
    return options;
}

void TAppOptionsDialog::WriteControls(const TScanOptions& options) {
    for (int k = 0; k < App_document::ScanAspectCount; ++k)
        AspectCheckBoxes[static_cast<std::size_t>(k)]->setChecked(
            options.Aspects.Contains(static_cast<TScanAspect>(k)));
    RememberSettingsCheckBox->setChecked(options.RememberSettings);
    RememberHashesCheckBox->setChecked(options.RememberHashes);
    UpdateOkButton();
}

void TAppOptionsDialog::UpdateOkButton() {
    OkButton->setEnabled(!ReadControls().Aspects.Empty());
}

void TAppOptionsDialog::done(int result) {
    Options = ReadControls();
    if (QWidget* focus = focusWidget())
        focus->clearFocus();
    QDialog::done(result);
}

TAppOptionsDialog& AppOptionsDialog() {
    if (!Instance) {
        Instance = std::make_unique<TAppOptionsDialog>();
        qAddPostRoutine(DeleteInstance);
    }
    return *Instance;
}

} // namespace App_scan
