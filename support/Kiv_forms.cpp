#include "Kiv_forms.h"

#include <QMetaObject>
#include <QObject>

namespace Kiv_forms {

TUpdateNotifier::TUpdateNotifier() : Receiver(std::make_unique<QObject>()) {}

TUpdateNotifier::~TUpdateNotifier() = default;

void TUpdateNotifier::DoUpdate() {
    OnUpdate(this);
}

void TUpdateNotifier::RequestUpdate() {
    if (IsPending)
        return;
    // Destroying the receiver drops a flush still queued for it.
    QMetaObject::invokeMethod(
        Receiver.get(), [this] { Flush(); }, Qt::QueuedConnection);
    IsPending = true;
}

void TUpdateNotifier::Flush() {
    if (!IsPending)
        return;
    IsPending = false;
    DoUpdate();
}

void TUpdateNotifier::UpdateNow() {
    RequestUpdate();
    Flush();
}

} // namespace Kiv_forms
