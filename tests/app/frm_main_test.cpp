#include "frm_main.h"
#include "message_box.h"
#include "mod_global.h"
#include "registry.h"
#include "test_support.h"

#include <QAction>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using namespace testing_support;
using Answer = MessageBox::Answer;

namespace {

// Answers message boxes from a queue and records every box that was asked for.
struct BoxRecorder {
    QList<MessageBox::Request> shown;
    QList<Answer> answers;

    BoxRecorder() {
        MessageBox::SetAnswerer([this](const MessageBox::Request& request) {
            shown.append(request);
            return answers.isEmpty() ? Answer::Ok : answers.takeFirst();
        });
    }
    ~BoxRecorder() { MessageBox::SetAnswerer(nullptr); }
    QStringList texts() const {
        QStringList result;
        for (const auto& request : shown)
            result << request.text;
        return result;
    }
};

QStringList Entries(const QListWidget* list) {
    QStringList entries;
    for (int i = 0; i < list->count(); ++i)
        entries << list->item(i)->text();
    return entries;
}

} // namespace

class FrmMainTest : public QObject {
    Q_OBJECT

  private:
    const std::string page = "a\r\n<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\nb\r\n";
    const std::string refreshed = "a\r\n<reririduruv=i.inc>new\r\n</reririduruv>\r\nb\r\n";
    const QStringList pages{"1.htm", "2.htm", "3.htm", "4.htm", "5.htm"};

    std::unique_ptr<TempDir> site;
    std::unique_ptr<TempDir> config;
    std::unique_ptr<frmMain> window;

    template <typename T> T* child(const char* name) {
        T* widget = window->findChild<T*>(name);
        if (widget == nullptr)
            qFatal("no control named %s", name);
        return widget;
    }
    QListWidget* available() { return child<QListWidget>("lstSelected"); }
    QListWidget* processed() { return child<QListWidget>("lstProcessed"); }
    QAction* action(const char* name) { return child<QAction>(name); }
    // The site's pages in the list, as choosing the folder in the folder dialog leaves them.
    void ShowSite() {
        window->setAvailableFiles(QString::fromStdString(site->path()), pages);
        window->EnableProcessButton();
    }

  private slots:
    void init() {
        site = std::make_unique<TempDir>();
        WriteFile(*site / "i.inc", "new\r\n");
        for (const QString& name : pages)
            WriteFile(*site / name.toStdString(), page);
        modGlobal::SetLogFile(*site / "log/error.log");
        // Runs and closing the window write settings: never into the user's own.
        config = std::make_unique<TempDir>();
        Registry::SetStoreFile(Registry::HKEY_CURRENT_USER, *config / "settings.ini");
        window = std::make_unique<frmMain>();
        window->setEventInterval(0);
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    }
    void cleanup() {
        window.reset();
        site.reset();
        config.reset();
    }

    void startsWithTheDesignedWindow() {
        QCOMPARE(window->windowTitle(), QString("reririDuruv"));
        QVERIFY(!window->windowIcon().isNull());
        // Every size that the installed icon theme gets, each drawn, none scaled.
        QList<QSize> iconSizes;
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
            iconSizes << QSize(size, size);
        QCOMPARE(window->windowIcon().availableSizes(), iconSizes);
        QVERIFY(!(window->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(window->windowFlags() & Qt::WindowMinimizeButtonHint);
        QCOMPARE(window->centralWidget()->size(), QSize(505, 326));

        struct Control {
            const char* name;
            QRect geometry;
        };
        for (const Control& control :
             {Control{"cmdAbort", {56, 8, 25, 24}}, Control{"cmdSelect", {8, 8, 25, 24}},
              Control{"Frame4", {208, 84, 289, 215}}, Control{"lstProcessed", {8, 15, 273, 178}},
              Control{"txtPathdisplay", {16, 54, 473, 18}}, Control{"cmdProcess", {32, 8, 25, 24}},
              Control{"lstSelected", {16, 99, 175, 178}}, Control{"Frame2", {8, 84, 193, 215}},
              Control{"Frame3", {8, 38, 489, 39}}, Control{"lblStatus", {88, 15, 409, 16}}})
            QCOMPARE(child<QWidget>(control.name)->geometry(), control.geometry);

        QCOMPARE(child<QGroupBox>("Frame2")->title(), QString("Available files"));
        QCOMPARE(child<QGroupBox>("Frame3")->title(), QString("Path"));
        QCOMPARE(child<QGroupBox>("Frame4")->title(), QString("Processed files"));
        QCOMPARE(processed()->parentWidget(), child<QWidget>("Frame4"));
        QCOMPARE(available()->selectionMode(), QAbstractItemView::ExtendedSelection);
        QCOMPARE(processed()->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(child<QLineEdit>("txtPathdisplay")->isReadOnly());

        // Picture buttons are named for screen readers by their tooltips.
        for (const auto& [name, tip] : {std::pair{"cmdSelect", "Select path..."},
                                        std::pair{"cmdProcess", "Process selected files"},
                                        std::pair{"cmdAbort", "Abort processing"}}) {
            auto* button = child<QPushButton>(name);
            QCOMPARE(button->toolTip(), QString(tip));
            QCOMPARE(button->accessibleName(), QString(tip));
            QVERIFY(button->text().isEmpty());
            QVERIFY(!button->icon().isNull());
            QCOMPARE(button->iconSize(), QSize(22, 22));
        }

        // Right after start-up.
        QVERIFY(child<QPushButton>("cmdSelect")->isEnabled());
        QVERIFY(child<QPushButton>("cmdSelect")->isDefault());
        QVERIFY(!child<QPushButton>("cmdProcess")->isEnabled());
        QVERIFY(!child<QPushButton>("cmdAbort")->isEnabled());
        QVERIFY(available()->count() == 0 && processed()->count() == 0);
        QVERIFY(child<QLabel>("lblStatus")->text().isEmpty());
    }

    void hasTheDesignedMenusAndTabOrder() {
        QStringList menus;
        for (QAction* entry : window->menuBar()->actions())
            menus << entry->menu()->objectName() + "=" + entry->text();
        QCOMPARE(menus, QStringList({"File=File", "Options=Options", "Help=Help"}));

        auto captions = [this](const char* menu) {
            QStringList result;
            for (QAction* entry : child<QMenu>(menu)->actions())
                result << entry->objectName() +
                              (entry->isSeparator() ? "=-" : "=" + entry->text()) +
                              (entry->isChecked() ? "*" : "");
            return result;
        };
        QCOMPARE(captions("File"),
                 QStringList({"mnuSelect=Select path", "mnuProcess=Process file(s)", "mnusep=-",
                              "mnuRecent=Recent folders...", "mnusep2=-", "mnuExit=Exit"}));
        QCOMPARE(captions("Options"),
                 QStringList({"mnuBackup=Backup originals", "mnuErrmsgoff=Error msgs off"}));
        QCOMPARE(captions("Help"), QStringList({"mnuHelp=Help", "mnuAbout=About ReririDuruv"}));

        QStringList order;
        QWidget* widget = available();
        do {
            if (widget->focusPolicy() & Qt::TabFocus)
                order << widget->objectName();
            widget = widget->nextInFocusChain();
        } while (widget != available());
        QCOMPARE(order.mid(0, 6), QStringList({"lstSelected", "cmdProcess", "txtPathdisplay",
                                               "lstProcessed", "cmdSelect", "cmdAbort"}));
    }

    void enterPressesTheDefaultButton() {
        QSignalSpy selectClicks(child<QPushButton>("cmdSelect"), &QPushButton::clicked);
        available()->setFocus();
        // Select path opens the folder dialog, which is answered with Cancel.
        QWidget* folderDialog = nullptr;
        QTimer answer;
        connect(&answer, &QTimer::timeout, [&] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                answer.stop();
                folderDialog = modal;
                modal->findChild<QPushButton*>("cmdCancel")->click();
            }
        });
        answer.start(0);
        QTest::keyClick(available(), Qt::Key_Return);
        answer.stop();
        QCOMPARE(selectClicks.count(), 1);
        QVERIFY(folderDialog != nullptr);
        QCOMPARE(folderDialog->objectName(), QString("frmSelectFolder"));
        QVERIFY(QTest::qWaitForWindowActive(window.get()));

        // Once files are listed, Enter starts a run.
        BoxRecorder boxes;
        ShowSite();
        QVERIFY(child<QPushButton>("cmdProcess")->isDefault());
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("cmdProcess"));
        QTest::keyClick(available(), Qt::Key_Return);
        QCOMPARE(boxes.texts(), QStringList({"No files selected. Process all?", "Done!"}));
        QCOMPARE(selectClicks.count(), 1);
    }

    void checkMarksToggle() {
        QAction* backup = action("mnuBackup");
        QVERIFY(!backup->isChecked());
        backup->trigger();
        QVERIFY(backup->isChecked());
        window->mnuBackup_Click();
        QVERIFY(!backup->isChecked());
        action("mnuErrmsgoff")->trigger();
        QVERIFY(window->errorMessagesOff());
        window->mnuErrmsgoff_Click();
        QVERIFY(!window->errorMessagesOff());
    }

    void processAllAfterConfirmation() {
        BoxRecorder boxes;
        ShowSite();
        QCOMPARE(child<QLineEdit>("txtPathdisplay")->text(), QString::fromStdString(site->path()));
        QSignalSpy status(window.get(), &frmMain::statusChanged);
        window->mnuProcess_Click();

        QCOMPARE(boxes.texts(), QStringList({"No files selected. Process all?", "Done!"}));
        QCOMPARE(boxes.shown[0].title, QString("No files selected"));
        QCOMPARE(boxes.shown[0].buttons, MessageBox::Buttons::OkCancel);
        QCOMPARE(boxes.shown[0].icon, MessageBox::Icon::None);
        QCOMPARE(boxes.shown[1].title, QString("reririDuruv"));
        QCOMPARE(boxes.shown[1].icon, MessageBox::Icon::Information);
        QCOMPARE(Entries(processed()),
                 QStringList({"1.htm,1", "2.htm,1", "3.htm,1", "4.htm,1", "5.htm,1",
                              ">5 file(s) processed. ", ">0 file(s) skipped."}));
        QCOMPARE(available()->selectedItems().count(), 5);
        QCOMPARE(ReadFile(*site / "5.htm"), refreshed);
        QVERIFY(!Exists(*site / "reririDuruv.tmp"));
        QVERIFY(!Exists(*site / "log/error.log"));

        QCOMPARE(status.at(0).at(0).toString(), QString("processing 1.htm..."));
        QCOMPARE(status.at(1).at(0).toString(), QString("processing 1.htm (saving new)..."));
        QCOMPARE(status.at(2).at(0).toString(), QString(""));
        QCOMPARE(child<QLabel>("lblStatus")->text(), QString(""));

        // After the run Process is the default button again and has the focus.
        QVERIFY(!child<QPushButton>("cmdAbort")->isEnabled());
        QVERIFY(child<QPushButton>("cmdProcess")->isDefault());
        QVERIFY(!child<QPushButton>("cmdAbort")->isDefault());
        QCOMPARE(QApplication::focusWidget(), child<QWidget>("cmdProcess"));
    }

    void cancelledConfirmationsChangeNothing() {
        ShowSite();
        window->addProcessed("from before");
        BoxRecorder boxes;

        // "Error msgs off" warning answered with Cancel.
        action("mnuErrmsgoff")->setChecked(true);
        boxes.answers = {Answer::Cancel};
        window->cmdProcess_Click();
        QCOMPARE(boxes.texts(), QStringList({"Error Messages Off option is active. Continue?"}));
        QCOMPARE(boxes.shown[0].title, QString("Error Message Off"));
        action("mnuErrmsgoff")->setChecked(false);

        // "Process all?" answered with Cancel.
        boxes.shown.clear();
        boxes.answers = {Answer::Cancel};
        window->cmdProcess_Click();
        QCOMPARE(boxes.texts(), QStringList({"No files selected. Process all?"}));
        QCOMPARE(available()->selectedItems().count(), 0);

        // A selection, and "Process selected file(s)?" answered with Cancel.
        available()->item(1)->setSelected(true);
        boxes.shown.clear();
        boxes.answers = {Answer::Cancel};
        window->lstSelected_DblClick();
        QCOMPARE(boxes.texts(), QStringList({"Process selected file(s)?"}));
        QCOMPARE(boxes.shown[0].title, QString("Are you sure?"));
        QCOMPARE(available()->selectedItems().count(), 1);

        QCOMPARE(Entries(processed()), QStringList({"from before"}));
        QCOMPARE(ReadFile(*site / "2.htm"), page);
    }

    void emptyListFromTheFileMenu() {
        BoxRecorder boxes;
        action("mnuProcess")->trigger();
        QCOMPARE(boxes.texts(),
                 QStringList({"No files selected. Process all?", "No files selected!"}));
        QCOMPARE(boxes.shown[1].title, QString("reririDuruv"));
        QCOMPARE(boxes.shown[1].icon, MessageBox::Icon::Exclamation);
        QCOMPARE(boxes.shown[1].buttons, MessageBox::Buttons::Ok);

        boxes.shown.clear();
        boxes.answers = {Answer::Cancel};
        action("mnuProcess")->trigger();
        QCOMPARE(boxes.texts(), QStringList({"No files selected. Process all?"}));
    }

    void selectedFilesOnly() {
        BoxRecorder boxes;
        ShowSite();
        available()->item(1)->setSelected(true);
        available()->item(3)->setSelected(true);
        window->cmdProcess_Click();
        QCOMPARE(boxes.texts(), QStringList({"Process selected file(s)?", "Done!"}));
        QCOMPARE(Entries(processed()), QStringList({"2.htm,1", "4.htm,1", ">2 file(s) processed. ",
                                                    ">0 file(s) skipped."}));
        QCOMPARE(ReadFile(*site / "1.htm"), page);
        QCOMPARE(ReadFile(*site / "4.htm"), refreshed);
    }

    void abortInTheMiddleOfARun() {
        BoxRecorder boxes;
        ShowSite();
        bool clicked = false;
        connect(window.get(), &frmMain::statusChanged, this, [&](const QString& text) {
            QVERIFY(text.isEmpty() || child<QPushButton>("cmdAbort")->isEnabled());
            if (text == "processing 3.htm..." && !clicked) {
                clicked = true;
                // A click that arrives while the page is being copied.
                QTimer::singleShot(0, child<QPushButton>("cmdAbort"), &QPushButton::click);
            }
        });
        window->cmdProcess_Click();

        QCOMPARE(Entries(processed()),
                 QStringList({"1.htm,1", "2.htm,1", ">>processing aborted!",
                              ">2 file(s) processed. ", ">0 file(s) skipped."}));
        QCOMPARE(boxes.texts().last(), QString("Processing aborted by user!"));
        QCOMPARE(boxes.shown.last().icon, MessageBox::Icon::Exclamation);
        QCOMPARE(ReadFile(*site / "2.htm"), refreshed);
        QCOMPARE(ReadFile(*site / "3.htm"), page);
        QCOMPARE(ReadFile(*site / "4.htm"), page);
        QVERIFY(!Exists(*site / "reririDuruv.tmp"));
        QVERIFY(!child<QPushButton>("cmdAbort")->isEnabled());
        QVERIFY(child<QPushButton>("cmdProcess")->isDefault());
    }

    void problemsAreShownOrLoggedNeverBoth() {
        WriteFile(*site / "2.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
        ShowSite();
        {
            BoxRecorder boxes;
            window->cmdProcess_Click();
            const QString message = QString::fromStdString("Could not locate replacement file " +
                                                           site->path() + "gone.inc");
            QCOMPARE(boxes.texts(),
                     QStringList({"No files selected. Process all?", message, "Done!"}));
            QCOMPARE(boxes.shown[1].title, QString("reririDuruv"));
            QCOMPARE(boxes.shown[1].icon, MessageBox::Icon::Critical);
            QCOMPARE(boxes.shown[1].buttons, MessageBox::Buttons::Ok);
            QVERIFY(!Exists(*site / "log/error.log"));
        }
        action("mnuErrmsgoff")->setChecked(true);
        BoxRecorder boxes;
        window->cmdProcess_Click();
        // The entries are still selected from the first run.
        QCOMPARE(boxes.texts(), QStringList({"Error Messages Off option is active. Continue?",
                                             "Process selected file(s)?", "Done!"}));
        QCOMPARE(Entries(processed()).at(1), QString(">2.htm,missing repl. file"));
        const QString log = QString::fromStdString(ReadFile(*site / "log/error.log"));
        const QRegularExpression format(
            "^ \r\nProcessing path: " +
            QRegularExpression::escape(QString::fromStdString(site->path())) +
            " - ([1-9]|1[0-2])/([1-9]|[12][0-9]|3[01])/[0-9]{2} (0[1-9]|1[0-2]):[0-5][0-9] "
            "(AM|PM)\r\n"
            " -Could not locate replacement file " +
            QRegularExpression::escape(QString::fromStdString(site->path())) +
            "gone.inc in 2.htm\r\n$");
        QVERIFY2(format.match(log).hasMatch(), qPrintable(log));
    }

    void secondStartDuringARunIsIgnored() {
        BoxRecorder boxes;
        ShowSite();
        connect(window.get(), &frmMain::statusChanged, this, [&](const QString& text) {
            if (text == "processing 2.htm...") {
                QVERIFY(window->isRunning());
                window->cmdProcess_Click();
                window->cmdSelect_Click();
            }
        });
        window->cmdProcess_Click();
        QCOMPARE(boxes.texts(), QStringList({"No files selected. Process all?", "Done!"}));
        QCOMPARE(processed()->count(), 7);
        QCOMPARE(child<QLineEdit>("txtPathdisplay")->text(), QString::fromStdString(site->path()));
    }

    void closingDuringARunStopsItFirst() {
        BoxRecorder boxes;
        ShowSite();
        connect(window.get(), &frmMain::statusChanged, this, [&](const QString& text) {
            if (text == "processing 2.htm...")
                QTimer::singleShot(0, window.get(), &QWidget::close);
        });
        window->cmdProcess_Click();
        QVERIFY(!window->isVisible());
        QCOMPARE(ReadFile(*site / "1.htm"), refreshed);
        QCOMPARE(ReadFile(*site / "2.htm"), page);
        QVERIFY(!Exists(*site / "reririDuruv.tmp"));
        QCOMPARE(boxes.texts(), QStringList({"No files selected. Process all?"}));
    }

    void realMessageBoxesAnswerEscAsCancel() {
        // No answerer: real boxes, answered by key presses.
        auto press = [](Qt::Key key) {
            QTimer::singleShot(0, [key] {
                QWidget* box = QApplication::activeModalWidget();
                QVERIFY(box != nullptr);
                QVERIFY(qobject_cast<QMessageBox*>(box) != nullptr);
                QTest::keyClick(box, key);
            });
        };
        press(Qt::Key_Escape);
        QCOMPARE(MessageBox::Show("Process selected file(s)?", "Are you sure?",
                                  MessageBox::Buttons::OkCancel, MessageBox::Icon::None),
                 Answer::Cancel);
        press(Qt::Key_Return);
        QCOMPARE(MessageBox::Show("Process selected file(s)?", "Are you sure?",
                                  MessageBox::Buttons::OkCancel, MessageBox::Icon::None),
                 Answer::Ok);

        // The whole road through real boxes: Process all, then Done!.
        ShowSite();
        QStringList seen;
        std::function<void()> answerNext = [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) {
                QTimer::singleShot(10, answerNext);
                return;
            }
            seen << box->windowTitle() + ": " + box->text();
            QTest::keyClick(box, Qt::Key_Return);
            if (seen.size() < 2)
                QTimer::singleShot(10, answerNext);
        };
        QTimer::singleShot(0, answerNext);
        window->cmdProcess_Click();
        QCOMPARE(seen, QStringList({"No files selected: No files selected. Process all?",
                                    "reririDuruv: Done!"}));
        QCOMPARE(ReadFile(*site / "5.htm"), refreshed);
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FrmMainTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "frm_main_test.moc"
