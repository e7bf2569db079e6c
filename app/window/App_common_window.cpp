#include "App_common_window.h"

#include <QApplication>
#include <QEvent>
#include <QLayout>
#include <QPointer>
#include <QScreen>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <cmath>
#include <vector>

namespace App_common {

namespace {

constexpr double DesignDpi = 120.0;

int Scaled(int value, double factor) {
    return static_cast<int>(std::lround(value * factor));
}

QSize Scaled(QSize size, double factor) {
    // 0 and QWIDGETSIZE_MAX mean "none" and stay as they are.
    const auto scale = [factor](int value) {
        return value == 0 || value == QWIDGETSIZE_MAX ? value : Scaled(value, factor);
    };
    return {scale(size.width()), scale(size.height())};
}

void ScaleLayout(QLayout& layout, double factor) {
    const QMargins margins = layout.contentsMargins();
    layout.setContentsMargins(Scaled(margins.left(), factor), Scaled(margins.top(), factor),
                              Scaled(margins.right(), factor), Scaled(margins.bottom(), factor));
    if (layout.spacing() > 0)
        layout.setSpacing(Scaled(layout.spacing(), factor));
    if (auto* grid = qobject_cast<QGridLayout*>(&layout)) {
        if (grid->horizontalSpacing() > 0)
            grid->setHorizontalSpacing(Scaled(grid->horizontalSpacing(), factor));
        if (grid->verticalSpacing() > 0)
            grid->setVerticalSpacing(Scaled(grid->verticalSpacing(), factor));
    }
    for (int i = 0; i < layout.count(); ++i) {
        QLayoutItem* item = layout.itemAt(i);
        if (QSpacerItem* spacer = item->spacerItem()) {
            const QSizePolicy policy = spacer->sizePolicy();
            const QSize hint = Scaled(spacer->sizeHint(), factor);
            spacer->changeSize(hint.width(), hint.height(), policy.horizontalPolicy(),
                               policy.verticalPolicy());
        } else if (QLayout* inner = item->layout()) {
            ScaleLayout(*inner, factor);
        }
    }
    layout.invalidate();
}

bool IsModalWindow(const QWidget& widget) {
    return widget.isWindow() && widget.windowModality() != Qt::NonModal;
}

void ScaleWidget(QWidget& widget, double factor) {
    widget.setMinimumSize(Scaled(widget.minimumSize(), factor));
    widget.setMaximumSize(Scaled(widget.maximumSize(), factor));
}

} // namespace

double DesignScale(const QWidget& form) {
    return form.logicalDpiY() / DesignDpi;
}

void ScaleDesign(QWidget& form) {
    const double factor = DesignScale(form);
    ScaleWidget(form, factor);
    for (QWidget* child : form.findChildren<QWidget*>())
        ScaleWidget(*child, factor);
    if (form.layout())
        ScaleLayout(*form.layout(), factor);
    for (QWidget* child : form.findChildren<QWidget*>())
        if (child->layout())
            ScaleLayout(*child->layout(), factor);
}

void SetDialogFrame(QWidget& dialog) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint);
}

void CenterOnActiveWindow(QWidget& dialog) {
    QWidget* owner = QApplication::activeWindow();
    if (owner == &dialog)
        return;
    dialog.adjustSize();
    QRect area;
    if (owner) {
        dialog.winId(); // the native window, to hand to the window manager
        if (dialog.windowHandle() && owner->windowHandle())
            dialog.windowHandle()->setTransientParent(owner->windowHandle());
        area = owner->frameGeometry();
    } else if (const QScreen* screen = QApplication::primaryScreen()) {
        area = screen->availableGeometry();
    }
    if (area.isValid())
        dialog.move(area.center() - QPoint(dialog.width() / 2, dialog.height() / 2));
}

// Watches every window that comes up while the cursor is busy: a modal one gets the normal
// cursor until it goes again.
class TBusyCursor::TFilter : public QObject {
public:
    ~TFilter() override {
        for (; Lifted > 0; --Lifted)
            QApplication::restoreOverrideCursor();
    }

    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show)
            Lift(watched);
        else if (event->type() == QEvent::Hide)
            Restore(watched);
        return false;
    }

private:
    void Lift(QObject* watched) {
        auto* widget = qobject_cast<QWidget*>(watched);
        if (!widget || !IsModalWindow(*widget) || Tracked(widget) != Windows.end())
            return;
        QApplication::setOverrideCursor(Qt::ArrowCursor);
        Windows.emplace_back(widget);
        ++Lifted;
    }
    void Restore(QObject* watched) {
        const auto found = Tracked(watched);
        if (found == Windows.end())
            return;
        Windows.erase(found);
        QApplication::restoreOverrideCursor();
        --Lifted;
    }
    std::vector<QPointer<QWidget>>::iterator Tracked(const QObject* watched) {
        return std::find_if(Windows.begin(), Windows.end(),
                            [watched](const QPointer<QWidget>& w) { return w == watched; });
    }

    std::vector<QPointer<QWidget>> Windows;
    int Lifted = 0;
};

TBusyCursor::TBusyCursor() {
    QApplication::setOverrideCursor(Qt::WaitCursor);
    Filter = std::make_unique<TFilter>();
    qApp->installEventFilter(Filter.get());
}

TBusyCursor::~TBusyCursor() {
    qApp->removeEventFilter(Filter.get());
    Filter.reset();
    QApplication::restoreOverrideCursor();
}

} // namespace App_common
