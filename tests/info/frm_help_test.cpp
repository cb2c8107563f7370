#include "frm_help.h"
#include "frm_main.h"
#include "test_support.h"
#include "window_test_support.h"

#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <cstdlib>

using namespace testing_support;
using namespace window_testing;

namespace {

const QString kHelpText = "1. Click Select Path button and select target folder\r"
                          "2. Go to step 3 (process all) or select files\r"
                          "3. Click Process button\r"
                          "\r"
                          "Replaces text between the <reririduruv=file> and\r"
                          "</reririduruv> tags within specified file.";

} // namespace

class FrmHelpTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TemporaryStore> store;
    std::unique_ptr<BoxRecorder> boxes;
    std::unique_ptr<frmMain> window;

    // Opens the help window from Help, "Help" and takes steps while it shows. False when
    // no help window showed or the steps left it open; it is closed then all the same.
    bool WhileShown(const std::function<void(frmHelp*)>& steps) {
        bool closedBySteps = false;
        const bool shown = WithModal([this] { window->mnuHelp_Click(); },
                                     [&](QWidget* modal) {
                                         auto* help = qobject_cast<frmHelp*>(modal);
                                         if (help != nullptr && QTest::qWaitForWindowActive(help))
                                             steps(help);
                                         closedBySteps = !modal->isVisible();
                                         modal->hide();
                                     });
        return shown && closedBySteps;
    }
    static QPushButton* Button(frmHelp* help, const char* name) {
        return Child<QPushButton>(help, name);
    }
    // Centred, give or take the frame that the desktop adds once a window shows.
    static void VerifyCentred(const QWidget* shown) {
        const QPoint offset =
            shown->frameGeometry().center() - shown->screen()->geometry().center();
        QVERIFY2(std::abs(offset.x()) <= 4 && std::abs(offset.y()) <= 4,
                 qPrintable(QString("%1 off the centre").arg(offset.manhattanLength())));
    }
    // What the main window shows, to see that the help window leaves it alone.
    QStringList MainWindowState() {
        return QStringList{Child<QLineEdit>(window.get(), "txtPathdisplay")->text()} +
               Entries(Child<QListWidget>(window.get(), "lstSelected")) +
               Entries(Child<QListWidget>(window.get(), "lstProcessed"));
    }

  private slots:
    void init() {
        store = std::make_unique<TemporaryStore>();
        boxes = std::make_unique<BoxRecorder>();
        window = std::make_unique<frmMain>();
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window.get()));
        window->setAvailableFiles("/site", {"a.htm", "b.htm"});
        window->addProcessed("a.htm,1");
    }
    void cleanup() {
        window.reset();
        boxes.reset();
        store.reset();
    }

    void showsTheDesignedWindowWithTheExactText() {
        QVERIFY(WhileShown([](frmHelp* help) {
            QCOMPARE(help->objectName(), QString("frmHelp"));
            QCOMPARE(help->windowTitle(), QString("reririDuruv Help"));
            QVERIFY(help->parentWidget() == nullptr);
            QCOMPARE(help->windowModality(), Qt::ApplicationModal);
            QVERIFY(!(help->windowFlags() & Qt::WindowMinimizeButtonHint));
            QVERIFY(!(help->windowFlags() & Qt::WindowMaximizeButtonHint));
            QCOMPARE(help->size(), QSize(402, 213));
            QCOMPARE(help->minimumSize(), help->maximumSize());
            QCOMPARE(Button(help, "CancelButton")->geometry(), QRect(312, 40, 81, 25));
            QCOMPARE(Button(help, "OKButton")->geometry(), QRect(312, 8, 81, 25));
            QCOMPARE(Child<QLabel>(help, "lblText")->geometry(), QRect(16, 16, 281, 177));
            QCOMPARE(Button(help, "OKButton")->text(), QString("OK"));
            QCOMPARE(Button(help, "CancelButton")->text(), QString("Cancel"));

            QCOMPARE(help->Text(), kHelpText);
            // The label breaks the lines where the text has its carriage returns.
            QString lines = kHelpText;
            lines.replace('\r', '\n');
            QCOMPARE(Child<QLabel>(help, "lblText")->text(), lines);
            QCOMPARE(Child<QLabel>(help, "lblText")->textFormat(), Qt::PlainText);

            QCOMPARE(QApplication::focusWidget(), Button(help, "OKButton"));
            QCOMPARE(TabOrder(Button(help, "OKButton"), 2),
                     QStringList({"OKButton", "CancelButton"}));
            QVERIFY(!Button(help, "OKButton")->isDefault());
            QVERIFY(!Button(help, "CancelButton")->isDefault());
            Button(help, "OKButton")->click();
        }));
    }

    void eachOpeningIsBuiltAfreshAndCentred() {
        QPointer<frmHelp> first;
        QVERIFY(WhileShown([&](frmHelp* help) {
            first = help;
            VerifyCentred(help);
            help->move(help->pos() + QPoint(37, 21));
            Child<QLabel>(help, "lblText")->setText("changed");
            Button(help, "OKButton")->click();
        }));
        QVERIFY(first.isNull());
        QVERIFY(WhileShown([&](frmHelp* help) {
            VerifyCentred(help);
            QCOMPARE(help->Text(), kHelpText);
            QCOMPARE(Child<QLabel>(help, "lblText")->text().count('\n'), 5);
            Button(help, "CancelButton")->click();
        }));
    }

    void okCancelTheCloseBoxAndEnterCloseAlikeButEscDoesNot() {
        const QStringList before = MainWindowState();
        const std::vector<std::pair<const char*, std::function<void(frmHelp*)>>> ways = {
            {"OK", [](frmHelp* help) { Button(help, "OKButton")->click(); }},
            {"Cancel", [](frmHelp* help) { Button(help, "CancelButton")->click(); }},
            {"close box", [](frmHelp* help) { help->windowHandle()->close(); }},
            {"Enter at opening",
             [](frmHelp*) { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); }},
            {"Enter on Cancel",
             [](frmHelp* help) {
                 QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
                 QCOMPARE(QApplication::focusWidget(), Button(help, "CancelButton"));
                 QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
             }},
        };
        for (const auto& [way, close] : ways) {
            QPointer<frmHelp> shown;
            QVERIFY2(WhileShown([&](frmHelp* help) {
                         shown = help;
                         QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
                         QVERIFY2(help->isVisible(), "Esc closed the help window");
                         close(help);
                         QVERIFY2(!help->isVisible(), way);
                     }),
                     way);
            QVERIFY2(shown.isNull(), way);
            QCOMPARE(MainWindowState(), before);
        }
        QVERIFY(boxes->shown.isEmpty());
    }
};

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    FrmHelpTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "frm_help_test.moc"
