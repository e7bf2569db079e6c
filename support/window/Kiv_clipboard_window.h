// The system clipboard (QClipboard's, of the running application) as a TClipboard.
#pragma once

#include "Kiv_clipboard.h"

namespace Kiv_clipboard {

class TSystemClipboard : public TClipboard {
public:
    bool HasText() const override;
    std::string GetText() const override;
    void SetText(const std::string& text) override;
    // Follows QClipboard::dataChanged; nullptr without a GUI application.
    std::unique_ptr<TClipboardSubscription> Subscribe(std::function<void()> changed) override;
};

} // namespace Kiv_clipboard
