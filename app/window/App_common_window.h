// Window helpers shared by the forms: the designs give sizes in pixels at 120 dots per
// inch, and a dialog opens centred over the window it belongs to.
#pragma once

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

} // namespace App_common
