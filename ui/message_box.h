#pragma once

// Every message box of the program goes through here, so tests can answer them without a
// box on screen and see exactly what would have been shown.

#include <QString>
#include <functional>

class MessageBox {
  public:
    enum class Buttons { Ok, OkCancel };
    enum class Icon { None, Critical, Exclamation, Information };
    enum class Answer { Ok, Cancel };

    struct Request {
        QString text;
        QString title;
        Buttons buttons = Buttons::Ok;
        Icon icon = Icon::None;
    };

    // Shows the box modally, without an owner window, OK being the default button; Esc
    // and the close box answer Cancel (or OK where OK is the only button).
    static Answer Show(const QString& text, const QString& title, Buttons buttons, Icon icon);

    // While an answerer is set, no box is shown: the answerer gets each request instead.
    using Answerer = std::function<Answer(const Request&)>;
    static void SetAnswerer(Answerer answerer);
};

// The title of every box that has no title of its own, and of the main window.
inline const QString kProgramTitle = QStringLiteral("reririDuruv");
