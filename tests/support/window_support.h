#pragma once

// What the window tests share: message boxes answered and recorded, a modal window acted
// on while its handler waits, a settings store of the test's own, and lookups by name.

#include "message_box.h"
#include "support.h"

#include <QApplication>
#include <QListWidget>
#include <QTimer>
#include <functional>

namespace window_testing {

// Answers message boxes from a queue (OK once it is empty) and records every box asked for.
struct BoxRecorder {
    QList<MessageBox::Request> shown;
    QList<MessageBox::Answer> answers;

    BoxRecorder() {
        MessageBox::SetAnswerer([this](const MessageBox::Request& request) {
            shown.append(request);
            return answers.isEmpty() ? MessageBox::Answer::Ok : answers.takeFirst();
        });
    }
    ~BoxRecorder() { MessageBox::SetAnswerer(nullptr); }
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;

    QStringList texts() const {
        QStringList result;
        for (const auto& request : shown)
            result << request.text;
        return result;
    }
};

// Calls trigger, which shows a modal window and waits for it, and runs act on that window
// meanwhile; act must close it. False when no modal window showed.
inline bool WithModal(const std::function<void()>& trigger,
                      const std::function<void(QWidget*)>& act) {
    bool acted = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll.stop();
            acted = true;
            act(modal);
        }
    });
    poll.start(0);
    trigger();
    poll.stop();
    return acted;
}

// The control of that name inside parent; the test ends at once when there is none.
template <typename T> T* Child(const QObject* parent, const char* name) {
    T* control = parent->findChild<T*>(name);
    if (control == nullptr)
        qFatal("no control named %s", name);
    return control;
}

inline QStringList Entries(const QListWidget* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

} // namespace window_testing
