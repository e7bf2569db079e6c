#include "Kiv_forms_window.h"

namespace Kiv_forms {

namespace {

constexpr Qt::WindowStates SpecialStates =
    Qt::WindowMaximized | Qt::WindowMinimized | Qt::WindowFullScreen;

Qt::WindowStates StateOf(std::uint32_t showCommand, Qt::WindowStates current) {
    switch (showCommand) {
    case swShowMaximized:
        return (current & ~SpecialStates) | Qt::WindowMaximized;
    case swShowMinimized:
        return (current & ~SpecialStates) | Qt::WindowMinimized;
    default:
        return current & ~SpecialStates;
    }
}

} // namespace

bool TWidgetForm::GetWindowPlacement(TWindowPlacement& placement) const {
    if (!Widget || !Widget->isWindow() || placement.Length != WindowPlacementLength)
        return false;
    const Qt::WindowStates state = Widget->windowState();
    placement.Flags = 0;
    placement.ShowCmd = (state & Qt::WindowMinimized)   ? swShowMinimized
                        : (state & Qt::WindowMaximized) ? swShowMaximized
                                                        : swShowNormal;
    placement.MinPosition = TPoint{-1, -1};
    placement.MaxPosition = TPoint{-1, -1};
    // A window never shown in the normal state has no normal geometry of its own yet.
    QRect normal = (state & SpecialStates) ? Widget->normalGeometry() : Widget->geometry();
    if (!normal.isValid())
        normal = Widget->geometry();
    placement.NormalPosition =
        TRect{normal.x(), normal.y(), normal.x() + normal.width(), normal.y() + normal.height()};
    return true;
}

bool TWidgetForm::SetWindowPlacement(const TWindowPlacement& placement) {
    if (!Widget || !Widget->isWindow() || placement.Length != WindowPlacementLength)
        return false;
    const TRect& rect = placement.NormalPosition;
    const QRect normal(rect.Left, rect.Top, rect.Right - rect.Left, rect.Bottom - rect.Top);
    const Qt::WindowStates state = Widget->windowState();
    // The bounds it has already are not set again: a window that nothing placed yet is
    // left for the window manager to place, instead of being pinned to where Qt put it.
    const QRect current = (state & SpecialStates) ? Widget->normalGeometry() : Widget->geometry();
    if (normal != current) {
        // Qt sets the restored bounds only in the normal state.
        if (state & SpecialStates)
            Widget->setWindowState(state & ~SpecialStates);
        Widget->setGeometry(normal);
    }
    const Qt::WindowStates wanted = StateOf(placement.ShowCmd, state);
    if (Widget->windowState() != wanted)
        Widget->setWindowState(wanted);
    return true;
}

} // namespace Kiv_forms
