#include "message_box.h"

#include <QMessageBox>
#include <QPushButton>

namespace {
MessageBox::Answerer answerer;
}

void MessageBox::SetAnswerer(Answerer newAnswerer) {
    answerer = std::move(newAnswerer);
}

MessageBox::Answer MessageBox::Show(const QString& text, const QString& title, Buttons buttons,
                                    Icon icon) {
    if (answerer)
        return answerer(Request{text, title, buttons, icon});

    QMessageBox box;
    box.setWindowTitle(title);
    box.setText(text);
    switch (icon) {
    case Icon::None:
        box.setIcon(QMessageBox::NoIcon);
        break;
    case Icon::Critical:
        box.setIcon(QMessageBox::Critical);
        break;
    case Icon::Exclamation:
        box.setIcon(QMessageBox::Warning);
        break;
    case Icon::Information:
        box.setIcon(QMessageBox::Information);
        break;
    }
    QPushButton* ok = box.addButton(QMessageBox::Ok);
    QPushButton* cancel =
        buttons == Buttons::OkCancel ? box.addButton(QMessageBox::Cancel) : nullptr;
    box.setDefaultButton(ok);
    box.setEscapeButton(cancel != nullptr ? cancel : ok);
    box.exec();
    return box.clickedButton() == ok ? Answer::Ok : Answer::Cancel;
}
