#pragma once

// What every window of the program shares: its place on the screen, the dialogs' frame,
// and Enter on a focused button.

#include <QDialog>
#include <QSize>

// Moves the window to the middle of its screen, as each window does in its load step.
void CentreOnScreen(QWidget& window);

// A dialog with a title bar, a system menu and a close box, no minimise or maximise
// button, of a fixed size, its texts fitted.
void SetUpDialog(QDialog& dialog, QSize size);

// True when the label's or button's text needs more room than the widget has: a label's
// lines are as the text breaks them, none broken by wrapping.
bool NeedsMoreRoom(const QWidget& widget);
// Sets the widget's text in a smaller font, half a point at a time, until it fits; the
// windows keep their designed sizes at any desktop font.
void FitText(QWidget& widget);
// FitText for every label and button of window.
void FitTexts(QWidget& window);

// A dialog with neither a default nor a cancel button: Esc does nothing, and Enter presses
// the button that has the focus.
class FocusedButtonDialog : public QDialog {
  protected:
    void keyPressEvent(QKeyEvent* event) override;
};
