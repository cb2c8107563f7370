#include "window.h"

#include <QDialog>
#include <QKeyEvent>
#include <QPushButton>
#include <QScreen>

void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        const QRect area = screen->geometry();
        const QSize size = window.frameGeometry().size();
        window.move(area.x() + (area.width() - size.width()) / 2,
                    area.y() + (area.height() - size.height()) / 2);
    }
}

void SetUpDialog(QDialog& dialog, QSize size) {
    dialog.setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    dialog.setFixedSize(size);
}

bool PressFocusedButton(const QWidget& window, const QKeyEvent& event) {
    if (event.key() != Qt::Key_Return && event.key() != Qt::Key_Enter)
        return false;
    auto* focused = qobject_cast<QPushButton*>(window.focusWidget());
    if (focused == nullptr || !focused->isEnabled())
        return false;
    focused->click();
    return true;
}
