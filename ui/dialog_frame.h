#pragma once
// What the setup dialogs share beyond their window flags: opening centred on
// the screen, and a "?" button for help where the title bar shows none.

#include "ui/help_window.h"

class QAbstractButton;
class QWidget;

namespace quillon {

// Places `window` so that its frame is centred on the available area of its
// parent's screen (the primary screen without a parent). Called before every
// showing, so the dialog opens centred each time whatever the window manager
// did with the last position.
void CentreOnScreen(QWidget* window);

// A small "?" button on `form` that opens `help` at the help context of the
// control with the focus, as F1 does. It takes no focus itself, so the
// control asked about keeps it. X11 window managers show no help button in
// the title bar; this one is always there.
QAbstractButton* MakeHelpButton(QWidget* form, HelpCallback help);

}  // namespace quillon
