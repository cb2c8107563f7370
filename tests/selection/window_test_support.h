#pragma once

// Pieces shared by the tests of the program's windows: message boxes answered from a
// queue and recorded, modal windows answered while their handler waits, lookups of
// windows and controls by name, a settings store of the test's own, and the main window
// on a site of the test's own.

#include "frm_main.h"
#include "message_box.h"
#include "registry.h"
#include "test_support.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <functional>
#include <memory>
#include <optional>

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

// Calls trigger, which shows a modal window and waits for it, and runs answer on that
// window meanwhile; answer must close it. False when no modal window showed.
inline bool WithModal(const std::function<void()>& trigger,
                      const std::function<void(QWidget*)>& answer) {
    bool answered = false;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll.stop();
            answered = true;
            answer(modal);
        }
    });
    poll.start(0);
    trigger();
    poll.stop();
    return answered;
}

// The top-level window of that name; the test ends at once when there is none.
template <typename T = QWidget> T* TopLevel(const char* name) {
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->objectName() == name)
            if (auto* window = qobject_cast<T*>(widget))
                return window;
    qFatal("no window named %s", name);
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

// The folders of a directory list from top to bottom, each as its full path.
inline QStringList FolderPaths(const QTreeWidget* tree) {
    QStringList paths;
    for (QTreeWidgetItemIterator it(const_cast<QTreeWidget*>(tree)); *it; ++it)
        paths << (*it)->data(0, Qt::UserRole).toString();
    return paths;
}

// The names of the focus chain from first, as far as Tab reaches, for the first count stops.
inline QStringList TabOrder(QWidget* first, int count) {
    QStringList order;
    QWidget* widget = first;
    do {
        if (widget->focusPolicy() & Qt::TabFocus)
            order << widget->objectName();
        widget = widget->nextInFocusChain();
    } while (widget != first && order.size() < count);
    return order;
}

// The per-user settings store in a folder of the test's own, for as long as it lives.
class TemporaryStore {
  public:
    TemporaryStore() {
        Registry::SetStoreFile(Registry::HKEY_CURRENT_USER, dir_ / "config/settings.ini");
    }
    std::string file() const { return dir_ / "config/settings.ini"; }
    std::optional<std::string> Read(const std::string& key) const {
        return Registry::ReadSetting(Registry::HKEY_CURRENT_USER, key, "String");
    }
    void Write(const std::string& key, const std::string& text) const {
        Registry::WriteSetting(Registry::HKEY_CURRENT_USER, key, "String", text);
    }

  private:
    testing_support::TempDir dir_;
};

// The base of a test of the main window: each test function gets a settings store and a
// site folder of its own, its message boxes answered and recorded, and the main window
// started on demand. init() calls BeginSession, cleanup() EndSession, which also puts
// back the current folder, which a test may move into its site.
class MainWindowTest : public QObject {
  protected:
    void BeginSession() {
        store = std::make_unique<TemporaryStore>();
        site = std::make_unique<testing_support::TempDir>();
        boxes = std::make_unique<BoxRecorder>();
    }
    void EndSession() {
        window.reset();
        boxes.reset();
        QDir::setCurrent(startFolder);
        site.reset();
        store.reset();
    }
    // Shows a new main window, which reads the stored settings as it starts; a run in it
    // lets events through after every line.
    void Start() {
        window = std::make_unique<frmMain>();
        window->setEventInterval(0);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void Restart() {
        window.reset();
        Start();
    }

    const QString startFolder = QDir::currentPath();
    std::unique_ptr<TemporaryStore> store;
    std::unique_ptr<testing_support::TempDir> site;
    std::unique_ptr<BoxRecorder> boxes;
    std::unique_ptr<frmMain> window;
};

} // namespace window_testing
