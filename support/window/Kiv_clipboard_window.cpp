#include "Kiv_clipboard_window.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace Kiv_clipboard {

namespace {

QClipboard* SystemClipboard() {
    return qobject_cast<QGuiApplication*>(QCoreApplication::instance())
               ? QGuiApplication::clipboard()
               : nullptr;
}

// The connection lives in a receiver of its own, so it ends with the subscription and
// the change is delivered on the receiver's (the main) thread.
class TQtSubscription : public TClipboardSubscription {
public:
    TQtSubscription(QClipboard& clipboard, std::function<void()> changed) {
        QObject::connect(&clipboard, &QClipboard::dataChanged, &Receiver, std::move(changed));
    }

private:
    QObject Receiver;
};

} // namespace

bool TSystemClipboard::HasText() const {
    const QClipboard* clipboard = SystemClipboard();
    const QMimeData* data = clipboard ? clipboard->mimeData() : nullptr;
    return data && data->hasText();
}

std::string TSystemClipboard::GetText() const {
    const QClipboard* clipboard = SystemClipboard();
    return clipboard ? clipboard->text().toStdString() : std::string();
}

void TSystemClipboard::SetText(const std::string& text) {
    if (QClipboard* clipboard = SystemClipboard())
        clipboard->setText(QString::fromStdString(text));
}

std::unique_ptr<TClipboardSubscription> TSystemClipboard::Subscribe(std::function<void()> changed) {
    QClipboard* clipboard = SystemClipboard();
    if (!clipboard)
        return nullptr;
    return std::make_unique<TQtSubscription>(*clipboard, std::move(changed));
}

} // namespace Kiv_clipboard
