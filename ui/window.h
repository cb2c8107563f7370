#pragma once

// What every window of the program shares: its place on the screen, the dialogs' frame,
// and Enter on a focused button.

#include <QSize>

class QDialog;
class QKeyEvent;
class QWidget;

// Moves the window to the middle of its screen, as each window does in its load step.
void CentreOnScreen(QWidget& window);

// A dialog with a title bar, a system menu and a close box, no minimise or maximise
// button, of a fixed size.
void SetUpDialog(QDialog& dialog, QSize size);

// Enter on a focused push button presses it. True when the key was taken.
bool PressFocusedButton(const QWidget& window, const QKeyEvent& event);
