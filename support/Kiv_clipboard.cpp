#include "Kiv_clipboard.h"

namespace Kiv_clipboard {

void TClipboardWatcher::SetActive(bool active) {
    if (active == Active())
        return;
    if (!active) {
        Subscription.reset();
        return;
    }
    Subscription = Clipboard.Subscribe([this] { DoChange(); });
    if (!Subscription)
        throw EClipboardError(
            "The program could not add the window to the clipboard viewer chain.");
}

void TClipboardWatcher::DoChange() {
    OnChange(this);
}

} // namespace Kiv_clipboard
