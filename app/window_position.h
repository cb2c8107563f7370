#pragma once

#include <QScreen>
#include <QWidget>

// Moves the window to the middle of its screen, as each window does in its load step.
inline void CentreOnScreen(QWidget& window) {
    if (const QScreen* screen = window.screen()) {
        const QRect area = screen->geometry();
        const QSize size = window.frameGeometry().size();
        window.move(area.x() + (area.width() - size.width()) / 2,
                    area.y() + (area.height() - size.height()) / 2);
    }
}
