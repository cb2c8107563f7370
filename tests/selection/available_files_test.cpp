#include "frm_main.h"
#include "frm_select_folder.h"
#include "stored_settings.h"
#include "test_support.h"
#include "window_test_support.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

using namespace testing_support;
using namespace window_testing;

class AvailableFilesTest : public MainWindowTest {
    Q_OBJECT

  private:
    const QStringList allFiles{"a.html", "b.shtml", "index.HTM", "notes.txt"};
    const QStringList pages{"a.html", "b.shtml", "index.HTM"};

    QString Folder() const { return QString::fromStdString(site->path()).chopped(1); }
    frmSelectFolder* folderDialog() { return TopLevel<frmSelectFolder>("frmSelectFolder"); }
    QDialog* recentDialog() { return TopLevel<QDialog>("frmRecent"); }
    QCheckBox* folderBox() { return Child<QCheckBox>(folderDialog(), "chkHTMLonly"); }
    QCheckBox* recentBox() { return Child<QCheckBox>(recentDialog(), "chkHTMLonly"); }
    QStringList available() { return Entries(Child<QListWidget>(window.get(), "lstSelected")); }
    QString pathBox() { return Child<QLineEdit>(window.get(), "txtPathdisplay")->text(); }
    std::string StoredFilter() { return store->Read(StoredSettings::kHtmlKey).value_or("(none)"); }

    // Opens a dialog from the main window and takes steps while it shows; the steps close it.
    bool WhileShown(void (frmMain::*handler)(), const std::function<void(QWidget*)>& steps) {
        return WithModal([&] { (window.get()->*handler)(); },
                         [&](QWidget* modal) {
                             QVERIFY(QTest::qWaitForWindowExposed(modal));
                             steps(modal);
                             if (modal->isVisible()) {
                                 modal->hide();
                                 QFAIL("the dialog stayed open");
                             }
                         });
    }
    static void Press(QWidget* dialog, const char* button) {
        Child<QPushButton>(dialog, button)->click();
    }
    // The recent-folders list holds the site, with and without the trailing "/".
    void StoreRecentSite() {
        store->Write(StoredSettings::RecentFolderKey(0), "2");
        store->Write(StoredSettings::RecentFolderKey(1), site->path());
        store->Write(StoredSettings::RecentFolderKey(2), Folder().toStdString());
    }
    void ChooseRecent(int row) {
        QVERIFY(WhileShown(&frmMain::mnuRecent_Click, [&](QWidget* dialog) {
            Child<QListWidget>(dialog, "lstRecent")->setCurrentRow(row);
            Press(dialog, "OKButton");
        }));
    }

  private slots:
    void init() {
        BeginSession();
        for (const QString& name : allFiles)
            WriteFile(*site / name.toStdString(), "page\r\n");
        QVERIFY(QDir::setCurrent(Folder()));
    }
    void cleanup() { EndSession(); }

    void filterDecidesWhichFilesAreListed() {
        Start();
        QVERIFY(WhileShown(&frmMain::cmdSelect_Click, [&](QWidget* dialog) {
            QCOMPARE(folderDialog()->FileNames(), allFiles);
            QTest::mouseClick(folderBox(), Qt::LeftButton);
            QCOMPARE(folderDialog()->FilesPattern(), QString("*.htm;*.html;*.shtml"));
            QCOMPARE(folderDialog()->FileNames(), pages);
            QCOMPARE(StoredFilter(), "1");
            Press(dialog, "cmdOK");
        }));
        QCOMPARE(available(), pages);

        QVERIFY(WhileShown(&frmMain::cmdSelect_Click, [&](QWidget* dialog) {
            QVERIFY(folderBox()->isChecked());
            QTest::mouseClick(folderBox(), Qt::LeftButton);
            QCOMPARE(folderDialog()->FilesPattern(), QString("*.*"));
            QCOMPARE(StoredFilter(), "0");
            Press(dialog, "cmdOK");
        }));
        QCOMPARE(available(), allFiles);
        QVERIFY(boxes->shown.isEmpty());
    }

    void storedFilterIsRestoredAtStartUp_data() {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<bool>("checked");
        QTest::newRow("none") << QString() << false;
        QTest::newRow("1") << "1" << true;
        QTest::newRow("0") << "0" << false;
        QTest::newRow("empty") << "" << false;
        QTest::newRow("2") << "2" << false;
        QTest::newRow("text") << "yes" << false;
    }
    void storedFilterIsRestoredAtStartUp() {
        QFETCH(QString, stored);
        QFETCH(bool, checked);
        if (!stored.isNull())
            store->Write(StoredSettings::kHtmlKey, stored.toStdString());
        Start();
        QCOMPARE(folderBox()->isChecked(), checked);
        QCOMPARE(recentBox()->isChecked(), checked);
        QCOMPARE(folderDialog()->FileNames(), checked ? pages : allFiles);
        // An unchecked box was never clicked, so nothing was written back.
        QCOMPARE(StoredFilter(), checked ? "1" : stored.isNull() ? "(none)" : stored.toStdString());
    }

    void folderDialogBoxMirrorsToTheRecentDialog() {
        Start();
        QVERIFY(WhileShown(&frmMain::cmdSelect_Click,
                           [&](QWidget* dialog) { Press(dialog, "cmdOK"); }));
        QCOMPARE(available(), allFiles);
        QSignalSpy folderClicks(folderBox(), &QCheckBox::toggled);
        QSignalSpy recentClicks(recentBox(), &QCheckBox::toggled);

        // The recent-folders dialog has never been shown.
        QVERIFY(WhileShown(&frmMain::cmdSelect_Click, [&](QWidget* dialog) {
            QTest::mouseClick(folderBox(), Qt::LeftButton);
            Press(dialog, "cmdCancel");
        }));
        QCOMPARE(folderClicks.count(), 1);
        QCOMPARE(recentClicks.count(), 1);
        QVERIFY(recentBox()->isChecked());
        QCOMPARE(StoredFilter(), "1");
        // Only OK changes the main window.
        QCOMPARE(available(), allFiles);

        QVERIFY(WhileShown(&frmMain::mnuRecent_Click, [&](QWidget* dialog) {
            QVERIFY(recentBox()->isChecked());
            Press(dialog, "CancelButton");
        }));
        QVERIFY(WhileShown(&frmMain::cmdSelect_Click, [&](QWidget* dialog) {
            QVERIFY(folderBox()->isChecked());
            QCOMPARE(folderDialog()->FileNames(), pages);
            Press(dialog, "cmdOK");
        }));
        QCOMPARE(available(), pages);
    }

    void recentDialogBoxMirrorsToTheFolderDialog() {
        StoreRecentSite();
        Start();
        ChooseRecent(0);
        QCOMPARE(available(), allFiles);
        QSignalSpy folderClicks(folderBox(), &QCheckBox::toggled);
        QSignalSpy recentClicks(recentBox(), &QCheckBox::toggled);

        // The folder dialog has never been shown; it is the one that lists the files.
        QVERIFY(WhileShown(&frmMain::mnuRecent_Click, [&](QWidget* dialog) {
            QTest::mouseClick(recentBox(), Qt::LeftButton);
            Press(dialog, "CancelButton");
        }));
        QCOMPARE(folderClicks.count(), 1);
        QCOMPARE(recentClicks.count(), 1);
        QVERIFY(folderBox()->isChecked());
        QCOMPARE(folderDialog()->FileNames(), pages);
        QCOMPARE(StoredFilter(), "1");
        QCOMPARE(available(), allFiles);

        // The filter reaches the main window with the next fill.
        ChooseRecent(1);
        QCOMPARE(available(), pages);

        QVERIFY(WhileShown(&frmMain::mnuRecent_Click, [&](QWidget* dialog) {
            QTest::mouseClick(recentBox(), Qt::LeftButton);
            Press(dialog, "CancelButton");
        }));
        QVERIFY(!folderBox()->isChecked());
        QCOMPARE(StoredFilter(), "0");
        QCOMPARE(folderClicks.count(), 2);
        QCOMPARE(recentClicks.count(), 2);
    }

    void pathBoxGainsOneTrailingSlash() {
        StoreRecentSite();
        Start();
        ChooseRecent(1);
        QCOMPARE(pathBox(), Folder() + "/");
        ChooseRecent(0);
        QCOMPARE(pathBox(), Folder() + "/");
        QVERIFY(boxes->shown.isEmpty());
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    AvailableFilesTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "available_files_test.moc"
