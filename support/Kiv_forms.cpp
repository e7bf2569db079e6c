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

TWindowPlacement GetFormPlacement(const TCustomForm& form) {
    TWindowPlacement placement;
    placement.Length = WindowPlacementLength;
    if (!form.GetWindowPlacement(placement))
        throw Kiv_framework::EInvalidOperation(
            "The program could not get the placement of the form.");
    return placement;
}

void SetFormPlacement(TCustomForm& form, const TWindowPlacement& placement) {
    if (!form.SetWindowPlacement(placement))
        throw Kiv_framework::EInvalidOperation(
            "The program could not set the placement of the form.");
}

TRect GetFormNormalRect(const TCustomForm& form) {
    return GetFormPlacement(form).NormalPosition;
}

void SetFormNormalRect(TCustomForm& form, const TRect& rect) {
    TWindowPlacement placement = GetFormPlacement(form);
    placement.NormalPosition = rect;
    SetFormPlacement(form, placement);
}

} // namespace Kiv_forms
