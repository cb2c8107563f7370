// The main window: its message boxes as one table, the run it starts and what it does while
// that run goes on, the options it keeps, names of any bytes, the list's double-click, and
// the program's command line.

#include "frm_main.h"
#include "mod_global.h"
#include "store_support.h"
#include "stored_settings.h"
#include "window.h"
#include "window_support.h"

#include <QAction>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace window_testing;
using Answer = MessageBox::Answer;
using Buttons = MessageBox::Buttons;
using Icon = MessageBox::Icon;

namespace {

const std::string kPage = "a\r\n<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
const std::string kNew = "a\r\n<reririduruv=i.inc>new\r\n</reririduruv>\r\n";

class MainWindowTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(site / "i.inc", "new\r\n");
        for (const std::string& name : pages)
            WriteFile(site / name, kPage);
        modGlobal::SetLogFile(site / "log/error.log");
        Start();
    }
    void Start() {
        window = std::make_unique<frmMain>();
        window->setEventInterval(0);
        window->show();
    }
    // The site's pages in the list, as choosing the folder in the folder dialog leaves them.
    void ShowSite() {
        window->setAvailableFiles(site.path(), pages);
        window->EnableProcessButton();
    }
    QListWidget* List(const char* name) { return Child<QListWidget>(window.get(), name); }
    QAction* Action(const char* name) { return Child<QAction>(window.get(), name); }

    TemporaryStore store;
    TempDir site;
    BoxRecorder boxes;
    std::vector<std::string> pages{"1.htm", "caf\xE9.htm", "3.htm"};
    std::unique_ptr<frmMain> window;
};

using Box = MessageBox::Request;
const Box kErrorsOff{"Error Messages Off option is active. Continue?", "Error Message Off",
                     Buttons::OkCancel, Icon::None};
const Box kProcessAll{"No files selected. Process all?", "No files selected", Buttons::OkCancel,
                      Icon::None};
const Box kSure{"Process selected file(s)?", "Are you sure?", Buttons::OkCancel, Icon::None};
const Box kNoFiles{"No files selected!", "reririDuruv", Buttons::Ok, Icon::Exclamation};
const Box kAborted{"Processing aborted by user!", "reririDuruv", Buttons::Ok, Icon::Exclamation};
const Box kDone{"Done!", "reririDuruv", Buttons::Ok, Icon::Information};
const Box kMissing{"Could not locate replacement file SITE/gone.inc", "reririDuruv", Buttons::Ok,
                   Icon::Critical};

enum Situation { kNone = 0, kErrorsOffSet = 1, kBroken = 2, kAbort = 4, kEmptyList = 8 };
// During the run: Process, File "Process file(s)" and a double-click; the window closed.
constexpr int kRestart = 16, kClose = 32;

struct RunRow {
    const char* what;
    int situation;
    int selected; // -1: none
    QList<Answer> answers;
    QList<Box> expected;
    QStringList entries; // the processed-files list afterwards
};

TEST_F(MainWindowTest, EveryMessageBoxOfARun) {
    const QStringList oneMissing{">1.htm,missing repl. file", ">0 file(s) processed. ",
                                 ">1 file(s) skipped."};
    // clang-format off
    const RunRow rows[] = {
        {"all after asking",      kNone,         -1, {}, {kProcessAll, kDone},
         {"1.htm,1", "caf\uFFFD.htm,1", "3.htm,1", ">3 file(s) processed. ", ">0 file(s) skipped."}},
        {"the selected",          kNone,          1, {}, {kSure, kDone},
         {"caf\uFFFD.htm,1", ">1 file(s) processed. ", ">0 file(s) skipped."}},
        {"errors off declined",   kErrorsOffSet,  1, {Answer::Cancel}, {kErrorsOff}, {}},
        {"errors off",            kErrorsOffSet | kBroken, 0, {}, {kErrorsOff, kSure, kDone}, oneMissing},
        {"a problem",             kBroken,        0, {}, {kSure, kMissing, kDone}, oneMissing},
        {"aborted",               kAbort,         2, {}, {kSure, kAborted},
         {">>processing aborted!", ">0 file(s) processed. ", ">0 file(s) skipped."}},
        {"nothing listed",        kEmptyList,    -1, {}, {kProcessAll, kNoFiles}, {}},
        {"started again",         kRestart | kAbort, 1, {}, {kSure, kAborted},
         {">>processing aborted!", ">0 file(s) processed. ", ">0 file(s) skipped."}},
        {"closed",                kErrorsOffSet | kClose, -1, {}, {kErrorsOff, kProcessAll},
         {">>processing aborted!", ">0 file(s) processed. ", ">0 file(s) skipped."}},
    };
    // clang-format on
    for (const RunRow& row : rows) {
        SCOPED_TRACE(row.what);
        for (const std::string& name : pages)
            WriteFile(site / name, kPage);
        if (row.situation & kBroken)
            WriteFile(site / "1.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
        Start();
        if (!(row.situation & kEmptyList))
            ShowSite();
        if (row.selected >= 0)
            List("lstSelected")->item(row.selected)->setSelected(true);
        Action("mnuErrmsgoff")->setChecked(row.situation & kErrorsOffSet);
        QTimer abort; // clicks Abort whenever a run lets events through
        abort.callOnTimeout(Child<QPushButton>(window.get(), "cmdAbort"), &QPushButton::click);
        if (row.situation & kAbort)
            abort.start(0);
        if (row.situation & kClose)
            QTimer::singleShot(0, window.get(), &QWidget::close);
        if (row.situation & kRestart)
            QTimer::singleShot(0, window.get(), [&] {
                Child<QPushButton>(window.get(), "cmdProcess")->click();
                Action("mnuProcess")->trigger();
                QTest::mouseDClick(List("lstSelected")->viewport(), Qt::LeftButton);
            });
        boxes.shown.clear();
        boxes.answers = row.answers;
        Action("mnuProcess")->trigger();

        const auto describe = [&](const QList<Box>& list) {
            QStringList described;
            for (const Box& box : list)
                described << QString("%1 / %2 / %3 / %4")
                                 .arg(box.text, box.title)
                                 .arg(static_cast<int>(box.buttons))
                                 .arg(static_cast<int>(box.icon));
            return described.join("\n").replace("SITE/", QString::fromStdString(site.path()));
        };
        EXPECT_EQ(describe(boxes.shown), describe(row.expected));
        EXPECT_EQ(Entries(List("lstProcessed")), row.entries);
        const bool refreshed = !row.entries.isEmpty() && !row.entries[0].startsWith('>');
        EXPECT_EQ(ReadFile(site / pages[row.selected < 0 ? 0 : row.selected]) == kNew, refreshed);
        EXPECT_EQ(window->isVisible(), !(row.situation & kClose)) << "closed once the run ended";
        EXPECT_EQ(store.Read(StoredSettings::kErrmsgoffKey).value_or(""),
                  row.situation & kClose ? "True" : "");
    }
}

TEST_F(MainWindowTest, EscAndTheCloseBoxOfARealBoxAnswerCancel) {
    MessageBox::SetAnswerer(nullptr);
    ShowSite();
    List("lstProcessed")->addItem("last run");
    for (int i = 0; i < 6; ++i) {
        const Box box = QList<Box>{kErrorsOff, kProcessAll, kSure}[i / 2];
        Action("mnuErrmsgoff")->setChecked(box.text == kErrorsOff.text);
        List("lstSelected")->item(1)->setSelected(box.text != kProcessAll.text);
        QStringList shown;
        QTimer answer; // every box shown gets the same answer, so none is left waiting
        QObject::connect(&answer, &QTimer::timeout, [&] {
            if (QWidget* shownBox = QApplication::activeModalWidget()) {
                shown << shownBox->property("text").toString();
                i % 2 ? (void)shownBox->close() : QTest::keyClick(shownBox, Qt::Key_Escape);
            }
        });
        answer.start(0);
        window->cmdProcess_Click();
        EXPECT_EQ(shown.join("; "), box.text) << (i % 2 ? "the close box" : "Esc");
        EXPECT_EQ(Entries(List("lstProcessed")), QStringList{"last run"});
        EXPECT_EQ(List("lstSelected")->selectedItems().size(),
                  box.text == kProcessAll.text ? 0 : 1);
    }
}

TEST_F(MainWindowTest, AFolderGivenAtStartIsChosenAsInTheFolderDialog) {
    store.Write(StoredSettings::kHtmlKey, "1");
    Start();
    window->ChooseFolder(std::filesystem::relative(site.path())); // from the working folder
    EXPECT_EQ(window->pathDisplay(), std::filesystem::canonical(site.path()).string() + "/");
    EXPECT_EQ(Entries(List("lstSelected")), (QStringList{"1.htm", "3.htm", "caf\uFFFD.htm"}));
    EXPECT_TRUE(Child<QPushButton>(window.get(), "cmdProcess")->isDefault());
    EXPECT_TRUE(StoredSettings::ReadRecentFolders().empty()) << "no run, so no recent folder";
}

TEST(WindowCommandLine, AnswersWithoutADisplay) {
    const std::string program = WINDOW_PATH;
    const std::string rows[][4] = {
        // arguments, exit status, start of stdout, of stderr
        {"--version", "0", "reririduruv " RERIRIDURUV_VERSION "\n", ""},
        {"--help", "0", "Usage: reririduruv ", ""},
        {"--help >/dev/full", "3", "", "reririduruv: could not write the output: No space"},
        {"--bogus .", "2", "", "reririduruv: unknown option --bogus ("},
        {"-display :9 " + program + "-gone", "2", "", "reririduruv: " + program + "-gone: No such"},
        {program, "2", "", "reririduruv: " + program + ": Not a directory\n"},
        {"-- . -x", "2", "", "reririduruv: one FOLDER at most, not also -x\n"},
    };
    for (const auto& [arguments, status, out, err] : rows) {
        // No QT_QPA_PLATFORM, no DISPLAY: nothing here may need a display.
        const ProgramRun run = RunProgram({"env", "-i", "bash", "-c", program + " " + arguments});
        EXPECT_EQ(std::to_string(run.status), status) << arguments << run.err;
        EXPECT_EQ(run.out.substr(0, out.size()), out) << arguments;
        EXPECT_EQ(run.err.substr(0, err.size()), err) << arguments;
    }
}

TEST_F(MainWindowTest, ARunRecordsItsFolderAndTheOptionsAreKeptAtExit) {
    ShowSite();
    Action("mnuBackup")->trigger();
    Action("mnuProcess")->trigger();
    EXPECT_EQ(ReadFile(site / "caf\xE9.htm"), kNew) << "a name that is not UTF-8 keeps its bytes";
    EXPECT_EQ(ReadFile(site / "caf\xE9.bak"), kPage);
    EXPECT_EQ(StoredSettings::ReadRecentFolders(), std::vector<std::string>{site.path()});
    window->close();
    EXPECT_EQ(store.Read("Software\\reririDuruv\\backup"), "True");
    Start();
    EXPECT_TRUE(Action("mnuBackup")->isChecked());
}

TEST_F(MainWindowTest, EnterPressesTheDefaultButtonAndADoubleClickAnywhereStartsTheRun) {
    EXPECT_TRUE(WithModal([&] { QTest::keyClick(window.get(), Qt::Key_Return); },
                          [](QWidget* dialog) { dialog->close(); }))
        << "Select path is the default button at start";
    boxes.answers = {Answer::Cancel, Answer::Cancel, Answer::Cancel};
    QWidget* list = List("lstSelected")->viewport();
    QTest::mouseDClick(list, Qt::LeftButton, {}, QPoint(10, 10)); // the list is empty
    ShowSite();
    QTest::keyClick(window.get(), Qt::Key_Return); // then Process is
    QTest::mouseDClick(list, Qt::LeftButton, {}, QPoint(10, list->height() - 5));
    EXPECT_EQ(boxes.texts(), QStringList(3, kProcessAll.text));
}

TEST_F(MainWindowTest, EveryTextOfEveryWindowShowsWhole) {
    QStringList crowded;
    const auto look = [&](QWidget* shown) { // and each window stands in the screen's centre
        const QPoint off = shown->frameGeometry().center() - shown->screen()->geometry().center();
        EXPECT_LE(off.manhattanLength(), 4) << shown->objectName().toStdString();
        for (QWidget* widget : shown->findChildren<QWidget*>())
            if (NeedsMoreRoom(*widget))
                crowded << shown->objectName() + "." + widget->objectName();
        if (shown != window.get())
            shown->close();
    };
    look(window.get());
    for (const auto open : {&frmMain::mnuSelect_Click, &frmMain::mnuRecent_Click,
                            &frmMain::mnuHelp_Click, &frmMain::mnuAbout_Click})
        EXPECT_TRUE(WithModal([&] { (window.get()->*open)(); }, look));
    EXPECT_TRUE(crowded.isEmpty()) << crowded.join(", ").toStdString();
}

} // namespace
