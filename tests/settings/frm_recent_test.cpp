#include "frm_main.h"
#include "frm_recent.h"
#include "mod_global.h"
#include "stored_settings.h"
#include "test_support.h"
#include "window_test_support.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>
#include <QWindow>

using namespace testing_support;
using namespace window_testing;
using StoredSettings::RecentFolderKey;

class FrmRecentTest : public MainWindowTest {
    Q_OBJECT

  private:
    frmRecent* dialog() { return TopLevel<frmRecent>("frmRecent"); }
    QListWidget* recentList() { return Child<QListWidget>(dialog(), "lstRecent"); }
    QStringList recent() { return Entries(recentList()); }
    QString pathBox() { return Child<QLineEdit>(window.get(), "txtPathdisplay")->text(); }
    QStringList available() { return Entries(Child<QListWidget>(window.get(), "lstSelected")); }

    // The stored list: the count, then entries 1 to 21 as far as they exist.
    QStringList Stored() {
        QStringList stored{QString::fromStdString(store->Read(RecentFolderKey(0)).value_or("-"))};
        for (int i = 1; i <= 21; ++i)
            if (const auto entry = store->Read(RecentFolderKey(i)))
                stored << QString::number(i) + "=" + QString::fromStdString(*entry);
        return stored;
    }
    void StoreList(const QStringList& folders) {
        store->Write(RecentFolderKey(0), std::to_string(folders.size()));
        for (int i = 0; i < folders.size(); ++i)
            store->Write(RecentFolderKey(i + 1), folders[i].toStdString());
    }
    static QStringList Numbered(const QStringList& folders) {
        QStringList stored{QString::number(folders.size())};
        for (int i = 0; i < folders.size(); ++i)
            stored << QString::number(i + 1) + "=" + folders[i];
        return stored;
    }

    // Opens the dialog from File, "Recent folders..." and takes steps while it shows; a
    // dialog that the steps leave open is closed afterwards, and counts as a failure.
    bool WhileShown(const std::function<void(frmRecent*)>& steps, bool staysOpen = false) {
        return WithModal([this] { window->mnuRecent_Click(); },
                         [&](QWidget* modal) {
                             auto* shown = qobject_cast<frmRecent*>(modal);
                             QVERIFY(shown != nullptr);
                             QVERIFY(QTest::qWaitForWindowExposed(shown));
                             steps(shown);
                             if (shown->isVisible()) {
                                 shown->hide();
                                 QVERIFY2(staysOpen, "the recent-folders dialog stayed open");
                             }
                         });
    }
    static void Press(frmRecent* d, const char* button) { Child<QPushButton>(d, button)->click(); }
    void DoubleClick(int row) {
        QListWidget* list = recentList();
        const QPoint where = list->visualItemRect(list->item(row)).center();
        // QTest's double-click is only the second click of a pair.
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, where);
        QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, where);
    }
    // A run over the site's pages, as the Process button starts it.
    void RunInSite() {
        window->setAvailableFiles(QString::fromStdString(site->path()), {"index.htm"});
        window->cmdProcess_Click();
    }

  private slots:
    void init() {
        BeginSession();
        WriteFile(*site / "index.htm", "<reririduruv=inc.txt>\r\nold\r\n</reririduruv>\r\n");
        WriteFile(*site / "inc.txt", "new\r\n");
        WriteFile(*site / "notes.txt", "notes\r\n");
        modGlobal::SetLogFile(*site / "log/error.log");
        QVERIFY(QDir::setCurrent(QString::fromStdString(site->path())));
    }
    void cleanup() { EndSession(); }

    void hasTheDesignedLayout() {
        Start();
        frmRecent* d = dialog();
        QVERIFY(!d->isVisible());
        QCOMPARE(d->windowTitle(), QString("Recent Folders"));
        QCOMPARE(d->size(), QSize(402, 207));
        QVERIFY(!(d->windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(d->windowFlags() & Qt::WindowMaximizeButtonHint));
        QVERIFY(d->windowFlags() & Qt::WindowCloseButtonHint);
        struct Control {
            const char* name;
            QRect geometry;
            QString caption;
        };
        for (const Control& control :
             {Control{"OKButton", {312, 8, 81, 25}, "OK"},
              Control{"CancelButton", {312, 40, 81, 25}, "Cancel"},
              Control{"cmdClear", {312, 168, 81, 25}, "Clear"},
              Control{"chkHTMLonly", {8, 0, 177, 25}, "*.htm,*.html,*.shtml  only"}}) {
            auto* button = Child<QAbstractButton>(d, control.name);
            QCOMPARE(button->geometry(), control.geometry);
            QCOMPARE(button->text(), control.caption);
            if (auto* push = qobject_cast<QPushButton*>(button))
                QVERIFY(!push->isDefault() && !push->autoDefault());
        }
        QCOMPARE(recentList()->geometry(), QRect(8, 32, 297, 147));
        QCOMPARE(recentList()->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!recentList()->isSortingEnabled());
        QCOMPARE(TabOrder(Child<QWidget>(d, "OKButton"), 5),
                 QStringList({"OKButton", "CancelButton", "lstRecent", "cmdClear", "chkHTMLonly"}));
    }

    void runsPutTheirFolderAtTheHead() {
        Start();
        RunInSite();
        QCOMPARE(boxes->texts(), QStringList({"No files selected. Process all?", "Done!"}));
        const QString folder = QString::fromStdString(site->path());
        QCOMPARE(recent(), QStringList({folder}));
        QCOMPARE(dialog()->RecentCount(), 1);
        QCOMPARE(Stored(), Numbered({folder}));

        // An aborted run counts as well.
        StoreList({"/x", "/y", folder, "/z"});
        Restart();
        connect(window.get(), &frmMain::statusChanged, this, [this](const QString& text) {
            if (!text.isEmpty())
                window->cmdAbort_Click();
        });
        RunInSite();
        QCOMPARE(boxes->texts().last(), QString("Processing aborted by user!"));
        QCOMPARE(recent(), QStringList({folder, "/x", "/y", "/z"}));
        QCOMPARE(Stored(), Numbered({folder, "/x", "/y", "/z"}));
    }

    void updateMovesOrAddsTheFolder() {
        StoreList({"/x", "/y", "/z"});
        Start();
        QCOMPARE(recent(), QStringList({"/x", "/y", "/z"}));
        dialog()->UpdateRecentFolders("/y");
        QCOMPARE(recent(), QStringList({"/y", "/x", "/z"}));
        QCOMPARE(dialog()->RecentCount(), 3);
        QCOMPARE(Stored(), Numbered({"/y", "/x", "/z"}));

        // Letter case and a trailing "/" make different entries.
        dialog()->UpdateRecentFolders("/Y");
        dialog()->UpdateRecentFolders("/y/");
        QCOMPARE(recent(), QStringList({"/y/", "/Y", "/y", "/x", "/z"}));
        QCOMPARE(Stored(), Numbered({"/y/", "/Y", "/y", "/x", "/z"}));
    }

    void listKeepsTwentyEntries() {
        QStringList twenty;
        for (int i = 1; i <= 20; ++i)
            twenty << QString("/f%1").arg(i);
        StoreList(twenty);
        Start();
        QCOMPARE(dialog()->RecentCount(), 20);

        dialog()->UpdateRecentFolders("/new");
        const QStringList afterNew = QStringList{"/new"} + twenty.mid(0, 19);
        QCOMPARE(recent(), afterNew);
        QCOMPARE(Stored(), Numbered(afterNew));

        // The last entry run again moves to the head; nothing falls off.
        dialog()->UpdateRecentFolders("/f19");
        const QStringList afterLast = QStringList{"/f19", "/new"} + twenty.mid(0, 18);
        QCOMPARE(recent(), afterLast);
        QCOMPARE(dialog()->RecentCount(), 20);
        QCOMPARE(Stored(), Numbered(afterLast));
    }

    void restoreClosesGapsAndReadsTwentyAtMost() {
        // Entry 2 missing, entry 4 empty.
        store->Write(RecentFolderKey(0), "5");
        store->Write(RecentFolderKey(1), "/a");
        store->Write(RecentFolderKey(3), "/c");
        store->Write(RecentFolderKey(4), "");
        store->Write(RecentFolderKey(5), "/e");
        Start();
        QCOMPARE(recent(), QStringList({"/a", "/c", "/e"}));
        QCOMPARE(dialog()->RecentCount(), 3);
        dialog()->UpdateRecentFolders("/new");
        QCOMPARE(Stored(), Numbered({"/new", "/a", "/c", "/e"}));

        // A count beyond 20, written by someone else: the first 20 entries are read.
        QStringList many;
        for (int i = 1; i <= 25; ++i)
            many << QString("/m%1").arg(i);
        StoreList(many);
        store->Write(RecentFolderKey(0), "99999999999999999999");
        Restart();
        QCOMPARE(recent(), many.mid(0, 20));
        dialog()->UpdateRecentFolders("/m25");
        QCOMPARE(Stored(), Numbered(QStringList{"/m25"} + many.mid(0, 19)));

        for (const char* count : {"abc", "3x", "-2", "", " "}) {
            StoreList({"/a", "/b"});
            store->Write(RecentFolderKey(0), count);
            Restart();
            QVERIFY2(recent().isEmpty(), count);
            QCOMPARE(dialog()->RecentCount(), 0);
        }
    }

    void clearAsksFirstAndLastsAcrossARestart() {
        StoreList({"/x", "/y"});
        Start();
        QVERIFY(WhileShown(
            [&](frmRecent* d) {
                boxes->answers = {MessageBox::Answer::Cancel};
                Press(d, "cmdClear");
                QVERIFY(d->isVisible());
            },
            true));
        QCOMPARE(boxes->texts(), QStringList({"Clear list?"}));
        QCOMPARE(boxes->shown[0].title, QString("Are you sure?"));
        QCOMPARE(boxes->shown[0].buttons, MessageBox::Buttons::OkCancel);
        QCOMPARE(boxes->shown[0].icon, MessageBox::Icon::None);
        QCOMPARE(recent(), QStringList({"/x", "/y"}));
        QCOMPARE(Stored(), Numbered({"/x", "/y"}));

        QVERIFY(WhileShown([&](frmRecent* d) { Press(d, "cmdClear"); }));
        QVERIFY(recent().isEmpty());
        QCOMPARE(dialog()->RecentCount(), 0);
        QCOMPARE(Stored(), QStringList({"-"}));
        Restart();
        QVERIFY(recent().isEmpty());
    }

    void choosingAFolderFillsTheMainWindowWithoutReordering() {
        const QString folder = QString::fromStdString(site->path()).chopped(1);
        StoreList({"/elsewhere", folder});
        Start();
        QVERIFY(WhileShown([&](frmRecent*) { DoubleClick(1); }));
        QCOMPARE(pathBox(), folder + "/");
        QCOMPARE(available(), QStringList({"inc.txt", "index.htm", "notes.txt"}));
        auto* process = Child<QPushButton>(window.get(), "cmdProcess");
        QVERIFY(process->isEnabled() && process->isDefault());
        QCOMPARE(recent(), QStringList({"/elsewhere", folder}));
        QVERIFY(boxes->shown.isEmpty());
    }

    void folderThatNoLongerExists() {
        const QString gone = QString::fromStdString(site->path()) + "gone";
        StoreList({gone});
        Start();
        window->setPathDisplayText("/before/");
        QVERIFY(WhileShown([&](frmRecent* d) {
            recentList()->setCurrentRow(0);
            Press(d, "OKButton");
        }));
        QCOMPARE(boxes->texts(), QStringList({"Path does not exist."}));
        QCOMPARE(boxes->shown[0].title, QString("reririDuruv"));
        QCOMPARE(boxes->shown[0].icon, MessageBox::Icon::Exclamation);
        QCOMPARE(boxes->shown[0].buttons, MessageBox::Buttons::Ok);
        QCOMPARE(pathBox(), QString("/before/"));
        QVERIFY(available().isEmpty());
        QCOMPARE(recent(), QStringList({gone}));
        QCOMPARE(Stored(), Numbered({gone}));
    }

    void okWithoutSelectionCancelAndTheCloseBoxOnlyClose() {
        const QString folder = QString::fromStdString(site->path());
        StoreList({folder});
        Start();
        QVERIFY(WhileShown([&](frmRecent* d) { Press(d, "OKButton"); }));
        QVERIFY(WhileShown([&](frmRecent* d) {
            recentList()->setCurrentRow(0);
            Press(d, "CancelButton");
        }));
        QVERIFY(WhileShown([&](frmRecent* d) {
            QTest::keyClick(d, Qt::Key_Escape);
            QVERIFY(d->isVisible());
            d->windowHandle()->close();
        }));
        QCOMPARE(pathBox(), QString());
        QVERIFY(available().isEmpty());
        QCOMPARE(recent(), QStringList({folder}));
        QCOMPARE(dialog()->RecentCount(), 1);
        QVERIFY(boxes->shown.isEmpty());

        // The selection is kept from the last opening.
        QVERIFY(WhileShown([&](frmRecent* d) {
            QCOMPARE(recentList()->currentRow(), 0);
            Press(d, "OKButton");
        }));
        QCOMPARE(pathBox(), folder);
    }
};

int main(int argc, char* argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    FrmRecentTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "frm_recent_test.moc"
