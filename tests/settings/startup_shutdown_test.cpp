#include "frm_main.h"
#include "frm_recent.h"
#include "frm_select_folder.h"
#include "mod_global.h"
#include "stored_settings.h"
#include "test_support.h"
#include "window_test_support.h"

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <QWindow>

using namespace testing_support;
using namespace window_testing;

class StartupShutdownTest : public MainWindowTest {
    Q_OBJECT

  private:
    QAction* action(const char* name) { return Child<QAction>(window.get(), name); }
    std::string Stored(const char* key) { return store->Read(key).value_or("(none)"); }

  private slots:
    void init() {
        BeginSession();
        WriteFile(*site / "index.htm", "<reririduruv=inc.txt>\r\nold\r\n</reririduruv>\r\n");
        WriteFile(*site / "inc.txt", "new\r\n");
        modGlobal::SetLogFile(*site / "log/error.log");
        QVERIFY(QDir::setCurrent(QString::fromStdString(site->path())));
    }
    void cleanup() { EndSession(); }

    void firstStartWithAnEmptyStore() {
        Start();
        QVERIFY(!action("mnuBackup")->isChecked());
        QVERIFY(!action("mnuErrmsgoff")->isChecked());
        QVERIFY(!window->runState().AbortRequested);
        QVERIFY(!Child<QPushButton>(window.get(), "cmdProcess")->isEnabled());
        auto* folderDialog = TopLevel<frmSelectFolder>("frmSelectFolder");
        auto* recentDialog = TopLevel<frmRecent>("frmRecent");
        QVERIFY(!folderDialog->isVisible() && !recentDialog->isVisible());
        QVERIFY(!Child<QCheckBox>(folderDialog, "chkHTMLonly")->isChecked());
        QVERIFY(!Child<QCheckBox>(recentDialog, "chkHTMLonly")->isChecked());
        QCOMPARE(folderDialog->FilesPattern(), QString("*.*"));
        QCOMPARE(recentDialog->RecentCount(), 0);
        QCOMPARE(Child<QListWidget>(recentDialog, "lstRecent")->count(), 0);

        // Centred, give or take the frame that the desktop adds once a window shows.
        const QRect screen = window->screen()->geometry();
        for (const QWidget* centred :
             std::initializer_list<const QWidget*>{window.get(), folderDialog, recentDialog}) {
            const QPoint offset = centred->frameGeometry().center() - screen.center();
            QVERIFY2(std::abs(offset.x()) <= 4 && std::abs(offset.y()) <= 4,
                     qPrintable(centred->objectName()));
        }
        // Starting reads the store and writes nothing to it.
        QVERIFY(!Exists(store->file()));
    }

    void optionsSurviveExitAndTheCloseBox() {
        Start();
        action("mnuBackup")->trigger();
        action("mnuErrmsgoff")->trigger();
        action("mnuErrmsgoff")->trigger();
        action("mnuExit")->trigger();
        QVERIFY(!window->isVisible());
        QCOMPARE(Stored(StoredSettings::kBackupKey), "True");
        QCOMPARE(Stored(StoredSettings::kErrmsgoffKey), "False");

        Restart();
        QVERIFY(action("mnuBackup")->isChecked());
        QVERIFY(!action("mnuErrmsgoff")->isChecked());
        action("mnuErrmsgoff")->trigger();
        window->windowHandle()->close();
        QVERIFY(!window->isVisible());
        QCOMPARE(Stored(StoredSettings::kBackupKey), "True");
        QCOMPARE(Stored(StoredSettings::kErrmsgoffKey), "True");

        Restart();
        QVERIFY(action("mnuBackup")->isChecked());
        QVERIFY(action("mnuErrmsgoff")->isChecked());
        action("mnuBackup")->trigger();
        action("mnuErrmsgoff")->trigger();
        window->windowHandle()->close();
        QCOMPARE(Stored(StoredSettings::kBackupKey), "False");
        QCOMPARE(Stored(StoredSettings::kErrmsgoffKey), "False");
        Restart();
        QVERIFY(!action("mnuBackup")->isChecked());
        QVERIFY(!action("mnuErrmsgoff")->isChecked());
    }

    void storedOptionTextsAtStartUp_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("checked");
        QTest::newRow("True") << "True" << true;
        QTest::newRow("False") << "False" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("other letter case") << "true" << false;
        QTest::newRow("a number") << "1" << false;
        QTest::newRow("other text") << "yes" << false;
    }
    void storedOptionTextsAtStartUp() {
        QFETCH(QString, text);
        QFETCH(bool, checked);
        store->Write(StoredSettings::kBackupKey, text.toStdString());
        store->Write(StoredSettings::kErrmsgoffKey, text.toStdString());
        Start();
        QCOMPARE(action("mnuBackup")->isChecked(), checked);
        QCOMPARE(action("mnuErrmsgoff")->isChecked(), checked);
    }

    void exitEndsTheProgramWithAnotherWindowOpen() {
        Start();
        // Another window on screen would keep the program running on its own.
        QWidget other;
        other.show();
        QVERIFY(QTest::qWaitForWindowExposed(&other));
        QTimer::singleShot(0, action("mnuExit"), &QAction::trigger);
        QCOMPARE(QApplication::exec(), 0);
        QVERIFY(!window->isVisible());
        QCOMPARE(Stored(StoredSettings::kBackupKey), "False");
    }

    void closingDuringARunStoresTheOptionsAfterIt() {
        Start();
        action("mnuBackup")->trigger();
        window->setAvailableFiles(QString::fromStdString(site->path()), {"index.htm"});
        connect(window.get(), &frmMain::statusChanged, this, [this](const QString& text) {
            if (!text.isEmpty()) {
                QCOMPARE(Stored(StoredSettings::kBackupKey), "(none)");
                window->close();
            }
        });
        window->cmdProcess_Click();
        QVERIFY(!window->isVisible());
        QCOMPARE(Stored(StoredSettings::kBackupKey), "True");
        QCOMPARE(ReadFile(*site / "index.htm"),
                 "<reririduruv=inc.txt>\r\nold\r\n</reririduruv>\r\n");
        // The stopped run still counts as a run in that folder.
        QCOMPARE(Stored("Software\\reririDuruv\\recent files\\1"), site->path());
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    StartupShutdownTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "startup_shutdown_test.moc"
