// The folder dialog: what OK hands to the main window, the filter, keys, and folders that
// cannot be read.

#include "fake_main_window.h"
#include "frm_select_folder.h"
#include "store_support.h"
#include "window_support.h"

#include <QCheckBox>
#include <QDir>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;
using namespace window_testing;

namespace {

class FolderDialogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ::mkdir((site / "d\xEFr").c_str(), 0755);
        for (const char* name : {"index.HTM", "a.html", "Notes.txt", "d\xEFr/caf\xE9.htm"})
            WriteFile(site / name, "");
        dialog = std::make_unique<frmSelectFolder>(main);
    }
    void Press(const char* button) { Child<QPushButton>(dialog.get(), button)->click(); }

    TemporaryStore store;
    TempDir site;
    BoxRecorder boxes;
    FakeMainWindow main;
    std::unique_ptr<frmSelectFolder> dialog;
};

TEST_F(FolderDialogTest, OkHandsTheFolderAndItsFilesUnderTheFilterToTheMainWindow) {
    ASSERT_TRUE(dialog->SetDir1Path(site.path()));
    Press("cmdOK");
    EXPECT_EQ(main.path, site.path());
    EXPECT_EQ(main.files, (std::vector<std::string>{"a.html", "index.HTM", "Notes.txt"}));

    Child<QCheckBox>(dialog.get(), "chkHTMLonly")->click();
    EXPECT_EQ(store.Read("Software\\reririDuruv\\html"), "1");
    ASSERT_TRUE(dialog->SetDir1Path(site / "d\xEFr"));
    Press("cmdOK");
    EXPECT_EQ(main.path, site / "d\xEFr/") << "a name that is not UTF-8 keeps its bytes";
    EXPECT_EQ(main.files, std::vector<std::string>{"caf\xE9.htm"});

    frmSelectFolder restarted(main);
    EXPECT_TRUE(restarted.HtmlOnly()) << "the filter is kept";
    ASSERT_TRUE(restarted.SetDir1Path(site.path()));
    Child<QCheckBox>(&restarted, "chkHTMLonly")->click(); // off: every file again
    Child<QPushButton>(&restarted, "cmdOK")->click();
    EXPECT_EQ(main.files.size(), 3u);
}

TEST_F(FolderDialogTest, AHighlightedFolderIsNotTakenEnterOpensItOrPressesTheFocusedButton) {
    ASSERT_TRUE(dialog->SetDir1Path(site.path()));
    dialog->show();
    auto* tree = Child<QTreeWidget>(dialog.get(), "Dir1");
    tree->setCurrentItem(
        tree->findItems(QString::fromUtf8("d\xEF\xBF\xBDr"), Qt::MatchRecursive)[0]);
    Press("cmdCancel");
    EXPECT_TRUE(main.path.empty());
    Press("cmdOK");
    EXPECT_EQ(main.path, site.path()) << "the folder opened before, not the highlighted one";
    dialog->show();
    QTest::keyClick(tree, Qt::Key_Return);
    EXPECT_EQ(dialog->Dir1Path(), site / "d\xEFr");
    auto* ok = Child<QPushButton>(dialog.get(), "cmdOK");
    ok->setFocus();
    QTest::keyClick(ok, Qt::Key_Return);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(main.path, site / "d\xEFr/");
}

TEST_F(FolderDialogTest, AFolderThatCannotBeReadIsSaidAndLeft) {
    ASSERT_TRUE(dialog->SetDir1Path(site / "d\xEFr"));
    ::rename((site / "d\xEFr").c_str(), (site / "moved").c_str());
    Press("cmdOK");
    EXPECT_TRUE(main.path.empty());
    ASSERT_EQ(boxes.shown.size(), 1);
    EXPECT_TRUE(boxes.texts()[0].startsWith("The folder " + QString::fromStdString(site.path())));
    EXPECT_TRUE(boxes.texts()[0].endsWith(" cannot be read: No such file or directory."));
    EXPECT_EQ(dialog->Dir1Path(), site.path().substr(0, site.path().size() - 1));
}

} // namespace
