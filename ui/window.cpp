#include "window.h"

#include <QDialog>
#include <QKeyEvent>
#include <QLabel>
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
    FitTexts(dialog);
}

bool NeedsMoreRoom(const QWidget& widget) {
    if (const auto* label = qobject_cast<const QLabel*>(&widget)) {
        if (label->text().isEmpty() || !label->pixmap().isNull())
            return false;
        const QRect room = label->contentsRect();
        const QRect needed = label->fontMetrics().boundingRect(
            QRect(QPoint(), QSize(100000, 100000)),
            static_cast<int>(label->alignment()) | Qt::TextShowMnemonic, label->text());
        return needed.width() > room.width() || needed.height() > room.height();
    }
    if (const auto* button = qobject_cast<const QAbstractButton*>(&widget))
        return !button->text().isEmpty() && button->sizeHint().width() > button->width();
    return false;
}

void FitText(QWidget& widget) {
    QFont font = widget.font();
    while (NeedsMoreRoom(widget) && font.pointSizeF() > 6) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
        widget.setFont(font);
    }
}

void FitTexts(QWidget& window) {
    for (QWidget* widget : window.findChildren<QWidget*>())
        FitText(*widget);
}

void FocusedButtonDialog::keyPressEvent(QKeyEvent* event) {
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && focused != nullptr &&
        focused->isEnabled()) {
        focused->click();
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        event->ignore();
        return;
    }
    QDialog::keyPressEvent(event);
}
