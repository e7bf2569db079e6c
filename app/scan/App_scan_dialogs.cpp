#include "App_scan_dialogs.h"

namespace App_scan {

TCustomProgressDialog::~TCustomProgressDialog() = default;

void TCustomProgressDialog::DoCancel() {
    OnCancel(this);
}

void TCustomProgressDialog::Reset() {
    SetText(std::string());
    SetProgress(0, 0);
}

TCustomOptionsDialog::~TCustomOptionsDialog() = default;

TScanDialogs::~TScanDialogs() = default;

} // namespace App_scan
