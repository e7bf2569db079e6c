// Clipboard watching: TClipboardWatcher raises OnChange after every change of the
// clipboard's content. The clipboard itself is behind TClipboard, so that whatever owns a
// watcher stays testable without a display; Kiv_clipboard_window gives the system's.
#pragma once

#include "Kiv_framework.h"

#include <functional>
#include <memory>
#include <string>

namespace Kiv_clipboard {

class EClipboardError : public Kiv_framework::Exception {
public:
    using Exception::Exception;
};

// While it lives, the clipboard reports its changes to the function it was made with.
class TClipboardSubscription {
public:
    virtual ~TClipboardSubscription() = default;
};

// The clipboard as the program uses it: plain text, and notification of changes.
class TClipboard {
public:
    virtual ~TClipboard() = default;
    virtual bool HasText() const = 0;
    virtual std::string GetText() const = 0;
    virtual void SetText(const std::string& text) = 0;
    // Calls changed on the main thread after every change of the content; nullptr when
    // the clipboard cannot report changes.
    virtual std::unique_ptr<TClipboardSubscription> Subscribe(std::function<void()> changed) = 0;
};

class TClipboardWatcher {
public:
    // Inactive at first. The clipboard is not owned.
    explicit TClipboardWatcher(TClipboard& clipboard) : Clipboard(clipboard) {}
    // Deactivates.
    virtual ~TClipboardWatcher() = default;
    TClipboardWatcher(const TClipboardWatcher&) = delete;
    TClipboardWatcher& operator=(const TClipboardWatcher&) = delete;

    bool Active() const { return Subscription != nullptr; }
    // Joins or leaves the clipboard's change notification; nothing when the state already
    // matches. Joining raises EClipboardError "The program could not add the window to
    // the clipboard viewer chain." when the clipboard refuses, and stays inactive.
    void SetActive(bool active);
    virtual void DoChange();

    Kiv_framework::TEvent<TClipboardWatcher*> OnChange;

private:
    TClipboard& Clipboard;
    std::unique_ptr<TClipboardSubscription> Subscription;
};

} // namespace Kiv_clipboard
