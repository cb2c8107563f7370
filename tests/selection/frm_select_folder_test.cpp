#include "frm_main.h"
#include "frm_select_folder.h"
#include "test_support.h"
#include "window_test_support.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStorageInfo>
#include <QTest>
#include <QWindow>
#include <filesystem>

using namespace testing_support;
using namespace window_testing;

namespace {

QString Reason(std::errc code) {
    return QString::fromStdString(std::make_error_code(code).message());
}

} // namespace

class FrmSelectFolderTest : public MainWindowTest {
    Q_OBJECT

  private:
    // The site's folder without the trailing "/", or a folder in it.
    QString Folder(const QString& name = {}) const {
        const QString root = QString::fromStdString(site->path()).chopped(1);
        return name.isEmpty() ? root : root + "/" + name;
    }
    frmSelectFolder* dialog() { return TopLevel<frmSelectFolder>("frmSelectFolder"); }
    QTreeWidget* Dir1(frmSelectFolder* d) { return Child<QTreeWidget>(d, "Dir1"); }
    QString pathBox() { return Child<QLineEdit>(window.get(), "txtPathdisplay")->text(); }
    QStringList available() { return Entries(Child<QListWidget>(window.get(), "lstSelected")); }
    QPushButton* processButton() { return Child<QPushButton>(window.get(), "cmdProcess"); }

    // Opens the folder dialog with the Select path button and takes steps while it shows;
    // false when it did not show. A dialog that the steps leave open is closed afterwards.
    bool Select(const std::function<void(frmSelectFolder*)>& steps) {
        return WithModal([this] { window->cmdSelect_Click(); },
                         [&](QWidget* modal) {
                             auto* shown = qobject_cast<frmSelectFolder*>(modal);
                             QVERIFY(shown != nullptr);
                             QVERIFY(QTest::qWaitForWindowExposed(shown));
                             steps(shown);
                             if (shown->isVisible()) {
                                 shown->hide();
                                 QFAIL("the folder dialog stayed open");
                             }
                         });
    }
    QTreeWidgetItem* FolderItem(frmSelectFolder* d, const QString& path) {
        for (QTreeWidgetItemIterator it(Dir1(d)); *it; ++it)
            if ((*it)->data(0, Qt::UserRole).toString() == path)
                return *it;
        qFatal("the directory list shows no %s", qPrintable(path));
    }
    void DoubleClick(frmSelectFolder* d, const QString& path) {
        QTreeWidget* tree = Dir1(d);
        const QPoint where = tree->visualItemRect(FolderItem(d, path)).center();
        // QTest's double-click is only the second click of a pair.
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {}, where);
        QTest::mouseDClick(tree->viewport(), Qt::LeftButton, {}, where);
    }
    void Click(frmSelectFolder* d, const QString& path) {
        QTreeWidget* tree = Dir1(d);
        QTest::mouseClick(tree->viewport(), Qt::LeftButton, {},
                          tree->visualItemRect(FolderItem(d, path)).center());
    }
    static void Ok(frmSelectFolder* d) { Child<QPushButton>(d, "cmdOK")->click(); }
    static void Cancel(frmSelectFolder* d) { Child<QPushButton>(d, "cmdCancel")->click(); }

  private slots:
    void init() {
        BeginSession();
        for (const char* name : {"index.HTM", "a.html", "b.shtml", "notes.txt", ".hidden.htm"})
            WriteFile(*site / name, "page\r\n");
        for (const char* name : {"alpha", "Beta", "Beta/inner", "zeta", ".git"})
            std::filesystem::create_directory(*site / name);
        WriteFile(*site / "Beta/page.htm", "page\r\n");
        WriteFile(*site / "zeta/z.htm", "page\r\n");
        // The dialog starts at the program's current folder.
        QVERIFY(QDir::setCurrent(Folder()));
        Start();
    }
    void cleanup() { EndSession(); }

    void hasTheDesignedLayout() {
        frmSelectFolder* d = dialog();
        QVERIFY(!d->isVisible());
        QCOMPARE(d->windowTitle(), QString("Select Folder"));
        QCOMPARE(d->size(), QSize(439, 288));
        struct Control {
            const char* name;
            QRect geometry;
        };
        for (const Control& control :
             {Control{"Dir1", {7, 88, 281, 178}}, Control{"chkHTMLonly", {16, 24, 177, 25}},
              Control{"cmdOK", {336, 8, 81, 25}}, Control{"cmdCancel", {336, 40, 81, 25}},
              Control{"lblTitle", {8, 8, 289, 33}}, Control{"lstFiles", {296, 88, 137, 158}},
              Control{"Drive1", {8, 56, 281, 19}}})
            QCOMPARE(Child<QWidget>(d, control.name)->geometry(), control.geometry);
        QCOMPARE(Child<QCheckBox>(d, "chkHTMLonly")->text(), QString("*.htm,*.html,*.shtml  only"));
        QCOMPARE(Child<QLabel>(d, "lblTitle")->text(),
                 QString("Select the folder that contains the files to be processed"));
        QCOMPARE(Child<QPushButton>(d, "cmdOK")->text(), QString("OK"));
        QCOMPARE(Child<QPushButton>(d, "cmdCancel")->text(), QString("Cancel"));
        QVERIFY(!Child<QWidget>(d, "lstFiles")->isEnabled());
        QCOMPARE(TabOrder(Dir1(d), 6),
                 QStringList({"Dir1", "chkHTMLonly", "cmdOK", "cmdCancel", "lstFiles", "Drive1"}));
    }

    void checkBoxTakesClicksWhereTheTitleOverlapsIt() {
        QVERIFY(Select([&](frmSelectFolder* d) {
            // On the box's caption, and inside the title's area as designed.
            const QPoint where(40, 36);
            QVERIFY(Child<QLabel>(d, "lblTitle")->geometry().contains(where));
            QTest::mouseClick(d->windowHandle(), Qt::LeftButton, {}, where);
            QVERIFY(Child<QCheckBox>(d, "chkHTMLonly")->isChecked());
            QCOMPARE(d->FileNames(), QStringList({"a.html", "b.shtml", "index.HTM"}));
            Cancel(d);
        }));
    }

    void startsAtTheCurrentFolderWithItsSubFoldersAndFiles() {
        frmSelectFolder* d = dialog();
        QCOMPARE(d->Dir1Path(), Folder());
        // The chain from the drive's root down to the site, then its sub-folders: hidden
        // ones left out, sorted ignoring case.
        const QString drive = QStorageInfo(Folder()).rootPath();
        QStringList chain{drive};
        for (const QString& part : Folder().mid(drive.size()).split('/', Qt::SkipEmptyParts))
            chain << (chain.last().endsWith('/') ? chain.last() : chain.last() + "/") + part;
        QCOMPARE(FolderPaths(Dir1(d)),
                 chain + QStringList({Folder("alpha"), Folder("Beta"), Folder("zeta")}));
        QCOMPARE(Dir1(d)->currentItem()->data(0, Qt::UserRole).toString(), Folder());
        QCOMPARE(d->Drive1Drive(), drive);
        QCOMPARE(d->FilesPattern(), QString("*.*"));
        QCOMPARE(d->FileNames(), QStringList({"a.html", "b.shtml", "index.HTM", "notes.txt"}));
    }

    void listsTheDrivesRootFirstWithoutSystemMounts() {
        auto* drives = Child<QComboBox>(dialog(), "Drive1");
        QVERIFY(drives->count() >= 1);
        QCOMPARE(drives->itemData(0).toString(), QString("/"));
        for (int i = 0; i < drives->count(); ++i) {
            const QString drive = drives->itemData(i).toString();
            QVERIFY2(QFileInfo(drive).isDir(), qPrintable(drive));
            for (const char* system : {"/proc", "/sys", "/dev"})
                QVERIFY2(!drive.startsWith(system), qPrintable(drive));
        }
    }

    void okHandsTheOpenFolderToTheMainWindow() {
        window->addProcessed("from before");
        QVERIFY(Select([&](frmSelectFolder* d) {
            QVERIFY(Child<QListWidget>(window.get(), "lstProcessed")->count() == 0);
            DoubleClick(d, Folder("zeta"));
            QCOMPARE(d->Dir1Path(), Folder("zeta"));
            QCOMPARE(d->FileNames(), QStringList({"z.htm"}));
            DoubleClick(d, Folder());
            Ok(d);
        }));
        QCOMPARE(pathBox(), Folder() + "/");
        QCOMPARE(available(), QStringList({"a.html", "b.shtml", "index.HTM", "notes.txt"}));
        QCOMPARE(Child<QListWidget>(window.get(), "lstSelected")->selectedItems().count(), 0);
        QVERIFY(processButton()->isEnabled());
        QVERIFY(processButton()->isDefault());
        QVERIFY(QTest::qWaitForWindowActive(window.get()));
        QCOMPARE(QApplication::focusWidget(), processButton());
        QVERIFY(boxes->shown.isEmpty());
    }

    void highlightedFolderIsNotTaken() {
        QVERIFY(Select([&](frmSelectFolder* d) {
            Click(d, Folder("zeta"));
            QCOMPARE(Dir1(d)->currentItem()->data(0, Qt::UserRole).toString(), Folder("zeta"));
            QCOMPARE(d->Dir1Path(), Folder());
            Ok(d);
        }));
        QCOMPARE(pathBox(), Folder() + "/");
    }

    void enterOpensTheHighlightedFolderAndNeitherButtonAnswersEnterOrEsc() {
        QVERIFY(Select([&](frmSelectFolder* d) {
            Click(d, Folder("zeta"));
            QTest::keyClick(Dir1(d), Qt::Key_Return);
            QCOMPARE(d->Dir1Path(), Folder("zeta"));
            QTest::keyClick(d, Qt::Key_Escape);
            QVERIFY(d->isVisible());
            auto* ok = Child<QPushButton>(d, "cmdOK");
            QVERIFY(!ok->isDefault() && !Child<QPushButton>(d, "cmdCancel")->isDefault());
            ok->setFocus();
            QTest::keyClick(ok, Qt::Key_Return);
            QVERIFY(d->isVisible());
            Cancel(d);
        }));
        QCOMPARE(pathBox(), QString());
    }

    void cancelAndTheCloseBoxLeaveTheMainWindowAlone() {
        QVERIFY(Select([&](frmSelectFolder* d) { Ok(d); }));
        window->addProcessed("from before");
        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder("zeta"));
            Cancel(d);
        }));
        QCOMPARE(pathBox(), Folder() + "/");
        QCOMPARE(available().size(), 4);
        // The processed-files list was cleared when the dialog opened.
        QCOMPARE(Child<QListWidget>(window.get(), "lstProcessed")->count(), 0);

        // The browsing before Cancel is dropped: the path box's folder opens again.
        QVERIFY(Select([&](frmSelectFolder* d) {
            QCOMPARE(d->Dir1Path(), Folder());
            DoubleClick(d, Folder("alpha"));
            d->windowHandle()->close();
        }));
        QCOMPARE(pathBox(), Folder() + "/");
        QCOMPARE(available().size(), 4);
        QVERIFY(Select([&](frmSelectFolder* d) {
            QCOMPARE(d->Dir1Path(), Folder());
            Cancel(d);
        }));
    }

    void emptyOrVanishedPathBoxOpensWhereTheDialogWasLeft() {
        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder("alpha"));
            Cancel(d);
        }));
        QVERIFY(Select([&](frmSelectFolder* d) {
            QCOMPARE(d->Dir1Path(), Folder("alpha"));
            DoubleClick(d, Folder());
            DoubleClick(d, Folder("zeta"));
            Ok(d);
        }));
        QCOMPARE(pathBox(), Folder("zeta") + "/");

        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder());
            DoubleClick(d, Folder("Beta"));
            Cancel(d);
        }));
        std::filesystem::remove_all(*site / "zeta");
        QVERIFY(Select([&](frmSelectFolder* d) {
            QCOMPARE(d->Dir1Path(), Folder("Beta"));
            Cancel(d);
        }));
        QVERIFY(boxes->shown.isEmpty());
    }

    void okOnAFolderWithoutMatchingFilesKeepsTheProcessButton() {
        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder("alpha"));
            Ok(d);
        }));
        QCOMPARE(pathBox(), Folder("alpha") + "/");
        QVERIFY(available().isEmpty());
        QVERIFY(!processButton()->isEnabled());
        QVERIFY(Child<QPushButton>(window.get(), "cmdSelect")->isDefault());

        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder());
            Ok(d);
        }));
        QVERIFY(processButton()->isEnabled());
        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder("alpha"));
            Ok(d);
        }));
        QVERIFY(available().isEmpty());
        QVERIFY(processButton()->isEnabled());
        QVERIFY(processButton()->isDefault());
    }

    void theRootKeepsItsOneSlash() {
        QVERIFY(Select([&](frmSelectFolder* d) {
            Child<QComboBox>(d, "Drive1")->setCurrentIndex(0);
            DoubleClick(d, "/");
            QCOMPARE(d->Dir1Path(), QString("/"));
            QCOMPARE(FolderPaths(Dir1(d)).first(), QString("/"));
            Ok(d);
        }));
        QCOMPARE(pathBox(), QString("/"));
    }

    void folderThatWentWhileShownIsReportedOnce() {
        const QString expected = "The folder %1 cannot be read: %2.";
        QVERIFY(Select([&](frmSelectFolder* d) {
            // A sub-folder removed after it was listed.
            std::filesystem::remove(*site / "alpha");
            DoubleClick(d, Folder("alpha"));
            QCOMPARE(boxes->texts(),
                     QStringList({expected.arg(Folder("alpha"),
                                               Reason(std::errc::no_such_file_or_directory))}));
            QCOMPARE(boxes->shown[0].title, QString("reririDuruv"));
            QCOMPARE(boxes->shown[0].icon, MessageBox::Icon::Exclamation);
            QCOMPARE(boxes->shown[0].buttons, MessageBox::Buttons::Ok);
            QVERIFY(d->isVisible());
            QCOMPARE(d->Dir1Path(), Folder());
            QVERIFY(!FolderPaths(Dir1(d)).contains(Folder("alpha")));

            // A sub-folder replaced by a file.
            boxes->shown.clear();
            std::filesystem::remove(*site / "zeta/z.htm");
            std::filesystem::remove(*site / "zeta");
            WriteFile(*site / "zeta", "no folder\r\n");
            DoubleClick(d, Folder("zeta"));
            QCOMPARE(
                boxes->texts(),
                QStringList({expected.arg(Folder("zeta"), Reason(std::errc::not_a_directory))}));
            QCOMPARE(d->Dir1Path(), Folder());

            // The open folder removed, then one of its sub-folders chosen: one report, and
            // the dialog returns to the nearest folder above that is still there.
            DoubleClick(d, Folder("Beta"));
            std::filesystem::remove_all(*site / "Beta");
            boxes->shown.clear();
            DoubleClick(d, Folder("Beta/inner"));
            QCOMPARE(boxes->texts(),
                     QStringList({expected.arg(Folder("Beta/inner"),
                                               Reason(std::errc::no_such_file_or_directory))}));
            QCOMPARE(d->Dir1Path(), Folder());
            QCOMPARE(d->FilesPath(), Folder());
            Ok(d);
        }));
        QCOMPARE(pathBox(), Folder() + "/");
    }

    void okOnAFolderThatWentIsRefused() {
        std::filesystem::create_directory(*site / "Beta/inner/deep");
        QVERIFY(Select([&](frmSelectFolder* d) {
            DoubleClick(d, Folder("Beta"));
            DoubleClick(d, Folder("Beta/inner"));
            DoubleClick(d, Folder("Beta/inner/deep"));
            std::filesystem::remove_all(*site / "Beta/inner");
            Ok(d);
            QCOMPARE(boxes->texts(),
                     QStringList({QString("The folder %1 cannot be read: %2.")
                                      .arg(Folder("Beta/inner/deep"),
                                           Reason(std::errc::no_such_file_or_directory))}));
            QVERIFY(d->isVisible());
            QCOMPARE(d->Dir1Path(), Folder("Beta"));
            QCOMPARE(d->FileNames(), QStringList({"page.htm"}));
            Ok(d);
        }));
        QCOMPARE(pathBox(), Folder("Beta") + "/");
        QCOMPARE(available(), QStringList({"page.htm"}));
    }

    void driveThatWentIsReportedAndTheListReturns() {
        // A drive listed when the dialog opened and gone since, as a stick pulled out.
        const TempDir stick;
        const QString gone = QString::fromStdString(stick.path()).chopped(1) + "/stick";
        QVERIFY(Select([&](frmSelectFolder* d) {
            auto* drives = Child<QComboBox>(d, "Drive1");
            const QString drive = d->Drive1Drive();
            drives->addItem(gone, gone);
            drives->setCurrentIndex(drives->count() - 1);
            QCOMPARE(boxes->texts(),
                     QStringList({QString("The drive %1 cannot be read: %2.")
                                      .arg(gone, Reason(std::errc::no_such_file_or_directory))}));
            QCOMPARE(boxes->shown[0].icon, MessageBox::Icon::Exclamation);
            QCOMPARE(d->Drive1Drive(), drive);
            QCOMPARE(d->Dir1Path(), Folder());
            QCOMPARE(d->FilesPath(), Folder());
            Cancel(d);
        }));
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FrmSelectFolderTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "frm_select_folder_test.moc"
