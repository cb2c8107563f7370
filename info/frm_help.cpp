#include "frm_help.h"

#include "ui_frmHelp.h"
#include "window.h"

#include <QKeyEvent>

frmHelp::frmHelp() : ui(std::make_unique<Ui::frmHelp>()) {
    ui->setupUi(this);
    SetUpDialog(*this, QSize(402, 213));

    connect(ui->OKButton, &QPushButton::clicked, this, &frmHelp::OKButton_Click);
    connect(ui->CancelButton, &QPushButton::clicked, this, &frmHelp::CancelButton_Click);

    Form_Load();
}

frmHelp::~frmHelp() = default;

void frmHelp::Form_Load() {
    CentreOnScreen(*this);
}

void frmHelp::OKButton_Click() {
    close();
}

void frmHelp::CancelButton_Click() {
    close();
}

void frmHelp::SetText(const QString& text) {
    text_ = text;
    // A label draws a carriage return as a blank; only a line feed breaks the line here.
    QString shown = text;
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    ui->lblText->setText(shown);
    FitText(*ui->lblText);
}

