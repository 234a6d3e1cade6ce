#pragma once
// Dialogs are as wide as their fields need, which can leave the title bar too narrow for the
// title: the window manager then elides it ("Select Co…tion Port").
#include <QString>

class QDialog;

namespace kvx {

// The width a title bar needs to show title whole: the text in the title-bar font, bold as
// most window managers draw it, plus room for the window icon and the frame's buttons.
int titleBarWidth(const QString& title);

// Raises the dialog's minimum width to titleBarWidth(windowTitle()), never beyond the width of
// the screen's work area, and never below what its layout needs. Call after setWindowTitle.
void ensureTitleFits(QDialog* dialog);

}  // namespace kvx
