// The placement of a real window: TCustomForm for a top-level widget, on its normal
// (restored) geometry. Left, Top, Right and Bottom are x, y, x + width and y + height.
#pragma once

#include "Kiv_forms.h"

#include <QPointer>
#include <QWidget>

namespace Kiv_forms {

class TWidgetForm : public TCustomForm {
public:
    explicit TWidgetForm(QWidget& widget) : Widget(&widget) {}

    // False for a widget that is gone or is not a window.
    bool GetWindowPlacement(TWindowPlacement& placement) const override;
    // The normal bounds are set without leaving a maximised, minimised or full-screen
    // state; the show command then sets the state.
    bool SetWindowPlacement(const TWindowPlacement& placement) override;

private:
    QPointer<QWidget> Widget;
};

} // namespace Kiv_forms
