#include "frm_about.h"
#include "frm_main.h"
#include "registry.h"
#include "test_support.h"
#include "window_test_support.h"

#include <QFrame>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QWindow>
#include <cstdlib>
#include <sys/stat.h>

using namespace testing_support;
using namespace window_testing;
using namespace std::string_literals;

namespace {

const QString kUnavailable = "System Information Is Unavailable At This Time";
const std::string kToolPathKey = "[SOFTWARE\\Microsoft\\Shared Tools\\MSINFO]\n";
const std::string kToolFolderKey = "[SOFTWARE\\Microsoft\\Shared Tools Location]\n";

} // namespace

class FrmAboutTest : public QObject {
    Q_OBJECT

  private:
    std::unique_ptr<TemporaryStore> store;
    std::unique_ptr<TempDir> dir;
    std::unique_ptr<BoxRecorder> boxes;
    QByteArray originalPath;
    // Every program StartSysInfo asked to start, in order.
    QStringList started;

    std::string MachineStore() const { return *dir / "machine.ini"; }
    std::string Bin() const { return *dir / "bin"; }
    std::string Tools() const { return *dir / "tools"; }
    std::string Record() const { return *dir / "started"; }

    // A program that only notes, in the file "started", the path it was started by.
    std::string RecordingProgram(const std::string& path) const {
        WriteFile(path, "#!/bin/sh\necho \"$0\" >> '" + Record() + "'\n");
        if (::chmod(path.c_str(), 0755) != 0)
            qFatal("cannot make %s executable", path.c_str());
        return path;
    }
    void WriteStore(const std::string& text) const { WriteFile(MachineStore(), text); }
    // Runs StartSysInfo as the About box's button does, outside a shown box.
    void StartSysInfo() {
        frmAbout about;
        about.StartSysInfo();
    }
    // The one program that was started, and it really ran.
    void VerifyStarted(const std::string& program) {
        QCOMPARE(started, QStringList({QString::fromStdString(program)}));
        QTRY_VERIFY(Exists(Record()));
        QTRY_COMPARE(ReadFile(Record()), program + "\n");
        QVERIFY(boxes->shown.isEmpty());
    }
    void VerifyUnavailable() {
        QCOMPARE(boxes->texts(), QStringList({kUnavailable}));
        QCOMPARE(boxes->shown[0].title, QString("reririDuruv"));
        QCOMPARE(boxes->shown[0].buttons, MessageBox::Buttons::Ok);
        QCOMPARE(boxes->shown[0].icon, MessageBox::Icon::None);
        QVERIFY(!Exists(Record()));
    }

    // Opens the About box from Help, "About ReririDuruv" of a main window and takes steps
    // while it shows. False when no About box showed or the steps left it open; it is
    // closed then all the same.
    bool WhileShown(frmMain& window, const std::function<void(frmAbout*)>& steps) {
        bool closedBySteps = false;
        const bool shown = WithModal([&] { window.mnuAbout_Click(); },
                                     [&](QWidget* modal) {
                                         auto* about = qobject_cast<frmAbout*>(modal);
                                         if (about != nullptr && QTest::qWaitForWindowActive(about))
                                             steps(about);
                                         closedBySteps = !modal->isVisible();
                                         modal->hide();
                                     });
        return shown && closedBySteps;
    }
    // Centred, give or take the frame that the desktop adds once a window shows.
    static void VerifyCentred(const QWidget* shown) {
        const QPoint offset =
            shown->frameGeometry().center() - shown->screen()->geometry().center();
        QVERIFY2(std::abs(offset.x()) <= 4 && std::abs(offset.y()) <= 4,
                 qPrintable(QString("%1 off the centre").arg(offset.manhattanLength())));
    }
    static QColor ColourOf(QWidget* widget) {
        return widget->grab().toImage().pixelColor(widget->width() / 2, widget->height() / 2);
    }

  private slots:
    void init() {
        store = std::make_unique<TemporaryStore>();
        dir = std::make_unique<TempDir>();
        boxes = std::make_unique<BoxRecorder>();
        // Neither the machine's own store nor its own programs take part: the store is a
        // file of the test's, and PATH holds only a folder of the test's.
        Registry::SetStoreFile(Registry::HKEY_LOCAL_MACHINE, MachineStore());
        QVERIFY(::mkdir(Bin().c_str(), 0755) == 0);
        QVERIFY(::mkdir(Tools().c_str(), 0755) == 0);
        originalPath = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(Bin()));
        started.clear();
        frmAbout::SetProgramStarter([this](const QString& program) {
            started << program;
            return frmAbout::StartDetached(program);
        });
    }
    void cleanup() {
        frmAbout::SetProgramStarter(nullptr);
        qputenv("PATH", originalPath);
        // Not left pointing into the removed folder, where a later test could make a file.
        Registry::SetStoreFile(Registry::HKEY_LOCAL_MACHINE, "/nonexistent/machine.ini");
        boxes.reset();
        dir.reset();
        store.reset();
    }

    void showsTheDesignedBox() {
        frmMain window;
        QVERIFY(WhileShown(window, [&](frmAbout* about) {
            QCOMPARE(about->objectName(), QString("frmAbout"));
            QCOMPARE(about->windowTitle(), QString("About reririDuruv"));
            QVERIFY(about->parentWidget() == nullptr);
            QCOMPARE(about->windowModality(), Qt::ApplicationModal);
            QCOMPARE(about->size(), QSize(382, 267));

            struct Control {
                const char* name;
                QRect geometry;
            };
            for (const Control& control :
                 {Control{"cmdOK", {283, 175, 84, 23}}, Control{"picIcon", {16, 16, 36, 36}},
                  Control{"cmdSysInfo", {284, 205, 83, 23}},
                  Control{"lblDescription", {70, 75, 259, 38}},
                  Control{"lblDisclaimer", {8, 176, 267, 85}},
                  Control{"lblTitle", {70, 16, 259, 32}}, Control{"lblVersion", {70, 52, 259, 15}},
                  Control{"Label1", {72, 128, 257, 33}}, Control{"Line1_1", {6, 163, 371, 1}},
                  Control{"Line1_0", {7, 164, 370, 2}}})
                QCOMPARE(Child<QWidget>(about, control.name)->geometry(), control.geometry);

            QCOMPARE(Child<QLabel>(about, "lblTitle")->text(), QString("reririDuruv"));
            QCOMPARE(Child<QLabel>(about, "lblVersion")->text(), QString(EXPECTED_VERSION_LINE));
            QCOMPARE(Child<QLabel>(about, "lblDescription")->text(),
                     QString("HTML Editing utility"));
            QCOMPARE(Child<QLabel>(about, "lblDisclaimer")->text(), QString());
            const QString copyright = Child<QLabel>(about, "Label1")->text();
            QVERIFY2(copyright.startsWith("Copyright") && !copyright.contains('\n'),
                     qPrintable(copyright));

            const QPixmap icon = Child<QLabel>(about, "picIcon")->pixmap();
            QVERIFY(!icon.isNull());
            QCOMPARE(icon.size(), QSize(32, 32));

            // The divider: a grey line over a white one, two pixels high, engraved.
            QCOMPARE(ColourOf(Child<QFrame>(about, "Line1_1")), QColor(128, 128, 128));
            QCOMPARE(ColourOf(Child<QFrame>(about, "Line1_0")), QColor(255, 255, 255));

            auto* ok = Child<QPushButton>(about, "cmdOK");
            auto* sysInfo = Child<QPushButton>(about, "cmdSysInfo");
            QCOMPARE(ok->text(), QString("OK"));
            QCOMPARE(sysInfo->text(), QString("&System Info..."));
            QVERIFY(ok->isDefault());
            QCOMPARE(QApplication::focusWidget(), ok);
            QCOMPARE(TabOrder(ok, 2), QStringList({"cmdOK", "cmdSysInfo"}));
            ok->click();
        }));
        QVERIFY(boxes->shown.isEmpty());
    }

    void versionLineHasMajorMinorAndRevision() {
        QCOMPARE(VersionLine("1.1.0.3"), QString("Version 1.1.3"));
        QCOMPARE(VersionLine("2.10.7.12"), QString("Version 2.10.12"));
        QCOMPARE(VersionLine("3.04.0.05"), QString("Version 3.4.5"));
        QCOMPARE(VersionLine("1.2"), QString("Version 1.2.0"));
    }

    void enterAndEscapeCloseAndEachOpeningIsBuiltAfresh() {
        frmMain window;
        QPointer<frmAbout> first;
        QVERIFY(WhileShown(window, [&](frmAbout* about) {
            first = about;
            VerifyCentred(about);
            about->move(about->pos() + QPoint(40, 25));
            about->setWindowTitle("changed");
            Child<QLabel>(about, "lblTitle")->setText("changed");
            Child<QLabel>(about, "lblVersion")->setText("changed");
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        }));
        QVERIFY(first.isNull());
        QVERIFY(WhileShown(window, [&](frmAbout* about) {
            VerifyCentred(about);
            QCOMPARE(about->windowTitle(), QString("About reririDuruv"));
            QCOMPARE(Child<QLabel>(about, "lblTitle")->text(), QString("reririDuruv"));
            QCOMPARE(Child<QLabel>(about, "lblVersion")->text(), QString(EXPECTED_VERSION_LINE));
            // Esc presses OK wherever the focus is.
            Child<QPushButton>(about, "cmdSysInfo")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        }));
        QVERIFY(WhileShown(window, [&](frmAbout* about) { about->windowHandle()->close(); }));
        QVERIFY(boxes->shown.isEmpty());
        QVERIFY(started.isEmpty());
    }

    void systemInfoButtonLeavesTheBoxOpen() {
        const std::string tool = RecordingProgram(Tools() + "/msinfo");
        WriteStore(kToolPathKey + "PATH=" + tool + "\n");
        frmMain window;
        QVERIFY(WhileShown(window, [&](frmAbout* about) {
            QTest::keyClick(about, Qt::Key_S, Qt::AltModifier);
            // The access key presses the button the way a click does, a moment later.
            QTRY_VERIFY(!started.isEmpty());
            QVERIFY(about->isVisible());
            Child<QPushButton>(about, "cmdOK")->click();
        }));
        VerifyStarted(tool);

        // Failing, too, it stays open.
        ::unlink(MachineStore().c_str());
        QVERIFY(WhileShown(window, [&](frmAbout* about) {
            Child<QPushButton>(about, "cmdSysInfo")->click();
            QVERIFY(about->isVisible());
            QCOMPARE(boxes->texts(), QStringList({kUnavailable}));
            Child<QPushButton>(about, "cmdOK")->click();
        }));
    }

    void locationOneStartsItsProgram() {
        const std::string tool = RecordingProgram(Tools() + "/msinfo");
        // Found before location 2 and before the tools on PATH.
        RecordingProgram(Tools() + "/MSINFO32.EXE");
        RecordingProgram(Bin() + "/hardinfo");
        WriteStore(kToolPathKey + "PATH=" + tool + "\n" + kToolFolderKey + "MSINFO=" + Tools() +
                   "\n");
        StartSysInfo();
        VerifyStarted(tool);
    }

    void locationTwoStartsTheToolInItsFolder() {
        const std::string tool = RecordingProgram(Tools() + "/MSINFO32.EXE");
        RecordingProgram(Bin() + "/hardinfo");
        // The folder written the Windows way: backslashes read as "/". The store's file
        // writes a backslash of a value as two.
        std::string folder;
        for (const char c : Tools())
            folder += c == '/' ? std::string("\\\\") : std::string(1, c);
        WriteStore(kToolFolderKey + "MSINFO=" + folder + "\n");
        StartSysInfo();
        VerifyStarted(tool);
    }

    void locationTwoWithoutTheToolGivesTheMessage() {
        // The store names a folder, so a tool on PATH is not tried instead.
        RecordingProgram(Bin() + "/hardinfo");
        RecordingProgram(Tools() + "/msinfo32.exe");
        WriteStore(kToolFolderKey + "MSINFO=" + Tools() + "\n");
        StartSysInfo();
        VerifyUnavailable();
        QVERIFY(started.isEmpty());

        // A folder of that name is no ordinary file.
        boxes->shown.clear();
        QVERIFY(::mkdir((Tools() + "/MSINFO32.EXE").c_str(), 0755) == 0);
        StartSysInfo();
        VerifyUnavailable();
        QVERIFY(started.isEmpty());
    }

    void anEmptyStoreStartsTheFirstToolOnPath() {
        RecordingProgram(Bin() + "/kinfocenter");
        const std::string tool = RecordingProgram(Bin() + "/hardinfo");
        // Not executable: not a program to start.
        WriteFile(Bin() + "/hardinfo2", "#!/bin/sh\n");
        StartSysInfo();
        VerifyStarted(tool);
    }

    void nothingAnywhereGivesTheMessage() {
        StartSysInfo();
        VerifyUnavailable();
        QVERIFY(started.isEmpty());

        // A store that names other things only.
        boxes->shown.clear();
        WriteStore("[SOFTWARE\\Microsoft\\Shared Tools]\nPATH=/x\n" + kToolPathKey + "Other=/x\n");
        StartSysInfo();
        VerifyUnavailable();
        QVERIFY(started.isEmpty());
    }

    void locationOneNamingNoProgramGivesTheMessage() {
        // Location 1 is taken as it is, even where location 2 would have had the tool.
        RecordingProgram(Tools() + "/MSINFO32.EXE");
        WriteFile(Tools() + "/not a program", "text\n");
        const std::string folder = kToolFolderKey + "MSINFO=" + Tools() + "\n";
        for (const std::string& value : {Tools() + "/missing", Tools() + "/not a program",
                                         "dword:0000002a"s, "hex(7):41,00,00"s, "hex:"s}) {
            boxes->shown.clear();
            started.clear();
            WriteStore(kToolPathKey + "PATH=" + value + "\n" + folder);
            StartSysInfo();
            VerifyUnavailable();
        }
        // A number, or a value of another type (read as empty), is started and fails.
        WriteStore(kToolPathKey + "PATH=dword:0000002a\n");
        started.clear();
        StartSysInfo();
        QCOMPARE(started, QStringList({"42"}));
        WriteStore(kToolPathKey + "PATH=hex:41\n");
        started.clear();
        StartSysInfo();
        QCOMPARE(started, QStringList({""}));
    }

    void zeroBytesAtLocationOneEndInTheMessage() {
        // The value has no last character to test: the lookup breaks off, and location 2
        // is not tried.
        RecordingProgram(Tools() + "/MSINFO32.EXE");
        WriteStore(kToolPathKey + "PATH=hex(1):\n" + kToolFolderKey + "MSINFO=" + Tools() + "\n");
        StartSysInfo();
        VerifyUnavailable();
        QVERIFY(started.isEmpty());
    }

    void anUnreadableStoreFailsLikeMissingKeys() {
        // Root reads any file whatever its permissions, so the store is made unreadable by
        // being a folder.
        QVERIFY(::mkdir(MachineStore().c_str(), 0755) == 0);
        StartSysInfo();
        VerifyUnavailable();
        QVERIFY(started.isEmpty());
    }

    void getKeyValueReadsTextsAndNumbers() {
        const std::string key = "SOFTWARE\\Tool";
        const std::string longText(1023, 'x');
        WriteStore("[" + key + "]\n" + "with nul=hex(1):2f,61,00\n" + "without nul=hex(1):2f,61\n" +
                   "text=/a\n" + "number=dword:0000002a\n" + "big number=dword:ffffffff\n" +
                   "binary=hex:41,42\n" + "fits=" + longText + "\n" + "too long=" + longText +
                   "y\n" + "empty=hex(1):\n");
        const auto read = [&](const std::string& value, std::string text = {}) {
            const bool found =
                frmAbout::GetKeyValue(Registry::HKEY_LOCAL_MACHINE, key, value, text);
            return std::pair{found, text};
        };
        QCOMPARE(read("with nul"), std::pair(true, "/a"s));
        QCOMPARE(read("without nul"), std::pair(true, "/a"s));
        QCOMPARE(read("text"), std::pair(true, "/a"s));
        QCOMPARE(read("number"), std::pair(true, "42"s));
        QCOMPARE(read("big number"), std::pair(true, "4294967295"s));
        // Another type leaves the text as the caller passed it.
        QCOMPARE(read("binary", "as passed"), std::pair(true, "as passed"s));
        // Up to 1024 bytes, the NUL that ends a text counted.
        QCOMPARE(read("fits"), std::pair(true, longText));
        QCOMPARE(read("too long", "as passed"), std::pair(false, ""s));
        QCOMPARE(read("missing", "as passed"), std::pair(false, ""s));
        std::string text;
        QVERIFY(
            !frmAbout::GetKeyValue(Registry::HKEY_LOCAL_MACHINE, "SOFTWARE\\Other", "text", text));
        QVERIFY_THROWS_EXCEPTION(std::runtime_error, read("empty"));
    }
};

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    FrmAboutTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "frm_about_test.moc"
