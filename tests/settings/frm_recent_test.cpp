// The recent-folders dialog: the list's order and limit, what is stored, choosing a folder,
// clearing, and the filter box it shares with the folder dialog.

#include "fake_main_window.h"
#include "frm_recent.h"
#include "frm_select_folder.h"
#include "store_support.h"
#include "stored_settings.h"
#include "window_support.h"

#include <QCheckBox>
#include <QPushButton>
#include <QTest>
#include <gtest/gtest.h>

using namespace testing_support;
using namespace window_testing;

namespace {

class RecentTest : public ::testing::Test {
  protected:
    void SetUp() override {
        folderDialog = std::make_unique<frmSelectFolder>(main);
        dialog = std::make_unique<frmRecent>(*folderDialog, main);
    }
    QListWidget* List() { return Child<QListWidget>(dialog.get(), "lstRecent"); }
    QStringList Shown() { return Entries(List()); }

    TemporaryStore store;
    TempDir site;
    BoxRecorder boxes;
    FakeMainWindow main;
    std::unique_ptr<frmSelectFolder> folderDialog;
    std::unique_ptr<frmRecent> dialog;
};

TEST_F(RecentTest, ARunPutsItsFolderFirstOnceAndTwentyAtMost) {
    for (const char* folder : {"/z/", "/y/", "/x/"})
        dialog->UpdateRecentFolders(folder);
    dialog->UpdateRecentFolders("/y/");
    EXPECT_EQ(Shown(), (QStringList{"/y/", "/x/", "/z/"}));
    dialog->UpdateRecentFolders("/Y/");
    EXPECT_EQ(Shown(), (QStringList{"/Y/", "/y/", "/x/", "/z/"})) << "folders compare exactly";
    for (int n = 1; n <= 25; ++n)
        dialog->UpdateRecentFolders("/f" + std::to_string(n) + "/");
    EXPECT_EQ(dialog->RecentCount(), 20);
    EXPECT_EQ(Shown().front(), "/f25/");
    EXPECT_EQ(Shown().back(), "/f6/");
    EXPECT_EQ(StoredSettings::ReadRecentFolders().size(), 20u);
    EXPECT_EQ(store.Read("Software\\reririDuruv\\recent files\\20"), "/f6/");

    frmRecent restarted(*folderDialog, main);
    restarted.RestoreRecentFolders();
    EXPECT_EQ(restarted.RecentCount(), 20);
}

TEST_F(RecentTest, ChoosingAFolderFillsTheMainWindowAndKeepsItsBytes) {
    const std::string folder = site / "d\xEFr";
    ::mkdir(folder.c_str(), 0755);
    WriteFile(folder + "/caf\xE9.htm", "");
    dialog->UpdateRecentFolders(folder);
    dialog->UpdateRecentFolders("/gone/");
    List()->setCurrentRow(0);
    Child<QPushButton>(dialog.get(), "OKButton")->click();
    EXPECT_TRUE(main.path.empty()) << "a folder that is not there";
    EXPECT_EQ(boxes.texts(), QStringList{"Path does not exist."});
    EXPECT_EQ(boxes.shown[0].icon, MessageBox::Icon::Exclamation);

    List()->setCurrentRow(1);
    Child<QPushButton>(dialog.get(), "OKButton")->click();
    EXPECT_EQ(main.path, folder + "/");
    EXPECT_EQ(main.files, std::vector<std::string>{"caf\xE9.htm"});
    EXPECT_EQ(Shown()[0], "/gone/") << "choosing a folder does not reorder the list";
}

TEST_F(RecentTest, ClearAsksFirstAndTheFilterBoxesMirrorEachOther) {
    dialog->UpdateRecentFolders("/a/");
    boxes.answers = {MessageBox::Answer::Cancel};
    Child<QPushButton>(dialog.get(), "cmdClear")->click();
    EXPECT_EQ(Shown(), QStringList{"/a/"});
    Child<QPushButton>(dialog.get(), "cmdClear")->click();
    EXPECT_EQ(boxes.texts(), (QStringList{"Clear list?", "Clear list?"}));
    EXPECT_EQ(dialog->RecentCount(), 0);
    EXPECT_TRUE(StoredSettings::ReadRecentFolders().empty());

    // The two filter boxes mirror each other.
    Child<QCheckBox>(dialog.get(), "chkHTMLonly")->click();
    EXPECT_TRUE(folderDialog->HtmlOnly());
    Child<QCheckBox>(folderDialog.get(), "chkHTMLonly")->click();
    EXPECT_FALSE(Child<QCheckBox>(dialog.get(), "chkHTMLonly")->isChecked());
}

} // namespace
