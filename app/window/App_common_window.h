// Window helpers shared by the forms: the designs give sizes in pixels at 120 dots per
// inch, a dialog opens centred over the window it belongs to, and the busy cursor.
#pragma once

#include <memory>

class QWidget;

namespace App_common {

// The factor from design pixels to the screen's: its logical resolution over 120.
double DesignScale(const QWidget& form);
// Scales the form's design sizes to the screen: the fixed and minimum sizes of the form
// and its widgets, and the margins, spacings and spacers of its layouts.
void ScaleDesign(QWidget& form);
// A fixed dialog frame: a caption with a close box, no minimise or maximise box.
void SetDialogFrame(QWidget& dialog);
// Centres a dialog over the active window (or the screen without one) and makes it that
// window's transient, so the window manager keeps it in front.
void CenterOnActiveWindow(QWidget& dialog);

// The busy cursor while an action runs. It gives way to the normal cursor while a modal
// window (a question, a file dialog, the scan's progress) is up, so the user never points
// at a button with an hourglass, and it is gone, whatever happened, when this ends.
class TBusyCursor {
public:
    TBusyCursor();
    ~TBusyCursor();
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;

private:
    class TFilter;
    std::unique_ptr<TFilter> Filter;
};

} // namespace App_common
