#pragma once

// frmHelp: the help window, a short fixed instruction text with OK and Cancel, both of
// which close it. It is built afresh for each opening and centres itself as it loads.

#include "window.h"

#include <QDialog>
#include <memory>

namespace Ui {
class frmHelp;
}

class frmHelp : public FocusedButtonDialog {
    Q_OBJECT

  public:
    // Creates the window without an owner and runs its load step.
    frmHelp();
    ~frmHelp() override;

    void Form_Load();
    void OKButton_Click();
    void CancelButton_Click();

    // Puts the text into lblText: its lines are separated by carriage returns, which the
    // label shows as line breaks. Text() gives it back exactly as it was put.
    void SetText(const QString& text);
    QString Text() const { return text_; }

  private:
    std::unique_ptr<Ui::frmHelp> ui;
    QString text_;
};
