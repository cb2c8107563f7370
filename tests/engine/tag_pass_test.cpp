#include "mod_global.h"
#include "posix_file.h"
#include "tag_pass.h"
#include "test_support.h"
#include "text_stream.h"

#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <sys/stat.h>

using namespace testing_support;

namespace {

class TagPassTest : public ::testing::Test {
  protected:
    void SetUp() override {
        host.folder = dir.path();
        modGlobal::SetLogFile(dir / "logs/error.log");
    }
    void TearDown() override { text::SetBufferSizes(256 * 1024, 64 * 1024); }

    // Writes the page, runs the pass over it and returns the page's bytes afterwards.
    std::string Refresh(const std::string& page, const std::string& name = "page.htm",
                        const PassOptions& options = {}) {
        WriteFile(dir / name, page);
        outcome = ProcessFile(host, name, options);
        return ReadFile(dir / name);
    }

    TempDir dir;
    RecordingHost host;
    PageOutcome outcome;
};

TEST_F(TagPassTest, PageWithoutBlocksIsNotTouched) {
    WriteFile(dir / "page.htm", "plain\nlines\n");
    struct stat before {};
    ::stat((dir / "page.htm").c_str(), &before);
    outcome = ProcessFile(host, "page.htm");
    struct stat after {};
    ::stat((dir / "page.htm").c_str(), &after);

    EXPECT_EQ(outcome.result, PageResult::NoBlocks);
    EXPECT_EQ(before.st_ino, after.st_ino);
    EXPECT_EQ(ReadFile(dir / "page.htm"), "plain\nlines\n");
    EXPECT_EQ(host.processed, std::vector<std::string>{"page.htm,0"});
    EXPECT_EQ(host.state.SkippedCount, 1);
    EXPECT_EQ(host.state.ProcessedCount, 0);
    EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"page.htm"});
}

TEST_F(TagPassTest, BlockLinesAreReplacedByTheIncludeAndTagsKept) {
    WriteFile(dir / "nav.htm", "<a>one</a>\r\n<a>two</a>\r\n");
    EXPECT_EQ(
        Refresh("top\r\n<reririduruv=nav.htm>\r\nold 1\r\nold 2\r\n</reririduruv>\r\nend\r\n"),
        "top\r\n<reririduruv=nav.htm><a>one</a>\r\n<a>two</a>\r\n</reririduruv>\r\nend\r\n");
    EXPECT_EQ(outcome.result, PageResult::Replaced);
    EXPECT_EQ(host.processed, std::vector<std::string>{"page.htm,1"});
    EXPECT_EQ(host.state.ProcessedCount, 1);
    EXPECT_EQ(host.state.SkippedCount, 0);
    EXPECT_TRUE(host.problems.empty());
    EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"nav.htm", "page.htm"}));
}

TEST_F(TagPassTest, TextAroundTheTagsOnTheirLines) {
    WriteFile(dir / "a.txt", "A1\r\nA2\r\n");
    // Before the opening tag: kept. After its ">": dropped. Before the closing tag:
    // dropped. The closing tag and what follows it: kept.
    EXPECT_EQ(Refresh("some <reririduruv=a.txt>old</reririduruv> more\r\n"),
              "some <reririduruv=a.txt>A1\r\nA2\r\n</reririduruv> more\r\n");
    EXPECT_EQ(Refresh("x<reririduruv=a.txt>gone\r\ndropped\r\nalso gone</reririduruv>kept\r\n"),
              "x<reririduruv=a.txt>A1\r\nA2\r\n</reririduruv>kept\r\n");
}

TEST_F(TagPassTest, TagsMatchInAnyLetterCaseAndTheNameKeepsItsCase) {
    WriteFile(dir / "Menu.htm", "menu\r\n");
    WriteFile(dir / "menu.htm", "wrong\r\n");
    EXPECT_EQ(Refresh("<REriRIDURUV=Menu.htm>\r\n</REririduruv>\r\n"),
              "<REriRIDURUV=Menu.htm>menu\r\n</REririduruv>\r\n");
}

TEST_F(TagPassTest, EmptyIncludePutsBothTagsOnOneLine) {
    WriteFile(dir / "empty.inc", "");
    EXPECT_EQ(Refresh("<reririduruv=empty.inc>\r\nold\r\n</reririduruv>\r\n"),
              "<reririduruv=empty.inc></reririduruv>\r\n");
}

TEST_F(TagPassTest, ClosingTagEarlierOnTheOpeningLineEndsTheBlockThere) {
    WriteFile(dir / "i.inc", "I\r\n");
    EXPECT_EQ(
        Refresh("a</reririduruv>b<reririduruv=i.inc>c\r\nnext\r\n"),
        "a</reririduruv>b<reririduruv=i.inc>I\r\n</reririduruv>b<reririduruv=i.inc>c\r\nnext\r\n");
}

TEST_F(TagPassTest, BlocksDoNotNestAndEachBlockRereadsItsInclude) {
    WriteFile(dir / "i.inc", "I\r\n");
    EXPECT_EQ(Refresh("<reririduruv=i.inc>\r\n<reririduruv=other.inc>\r\n</reririduruv>\r\n"
                      "mid\r\n<reririduruv=i.inc>\r\n</reririduruv>\r\n"),
              "<reririduruv=i.inc>I\r\n</reririduruv>\r\nmid\r\n<reririduruv=i.inc>I\r\n</"
              "reririduruv>\r\n");
    EXPECT_EQ(host.processed.back(), "page.htm,2");
}

TEST_F(TagPassTest, RefreshingTwiceGivesTheSamePage) {
    WriteFile(dir / "i.inc", "line 1\r\nline 2");
    const std::string once = Refresh("head<reririduruv=i.inc>x\r\ny\r\n</reririduruv>tail\r\n");
    EXPECT_EQ(Refresh(once), once);
}

TEST_F(TagPassTest, LineEndsFollowThePagesFirstLineEnd) {
    WriteFile(dir / "mixed.inc", "a\r\nb\rc\nd");
    // A page with lone LFs keeps them, and every block of it is refreshed.
    EXPECT_EQ(Refresh("<reririduruv=mixed.inc>\n</reririduruv>\n<reririduruv=mixed.inc>\nold\n</"
                      "reririduruv>"),
              "<reririduruv=mixed.inc>a\nb\nc\nd\n</"
              "reririduruv>\n<reririduruv=mixed.inc>a\nb\nc\nd\n</reririduruv>\n");
    // CR alone and CR+LF pages are written with CR+LF.
    EXPECT_EQ(Refresh("<reririduruv=mixed.inc>\r</reririduruv>\rlast"),
              "<reririduruv=mixed.inc>a\r\nb\r\nc\r\nd\r\n</reririduruv>\r\nlast\r\n");
    // Only the first line end decides.
    EXPECT_EQ(Refresh("one\r\n<reririduruv=mixed.inc>\n</reririduruv>\n"),
              "one\r\n<reririduruv=mixed.inc>a\r\nb\r\nc\r\nd\r\n</reririduruv>\r\n");
    // A page without any line end gets CR+LF.
    EXPECT_EQ(Refresh("<reririduruv=mixed.inc></reririduruv>"),
              "<reririduruv=mixed.inc>a\r\nb\r\nc\r\nd\r\n</reririduruv>\r\n");
}

TEST_F(TagPassTest, EmptyLinesSurvive) {
    WriteFile(dir / "i.inc", "\r\n\r\nx\r\n\r\n");
    EXPECT_EQ(Refresh("\r\n\r\n<reririduruv=i.inc>\r\n\r\n</reririduruv>\r\n\r\n"),
              "\r\n\r\n<reririduruv=i.inc>\r\n\r\nx\r\n\r\n</reririduruv>\r\n\r\n");
}

TEST_F(TagPassTest, BytesPassThroughUnchanged) {
    const std::string binary("\x00\xff\xfe\x80 \xc3\xa4\xe2\x82\xac <\x01>", 14);
    WriteFile(dir / "bin.inc", binary + "\r\n" + binary);
    EXPECT_EQ(
        Refresh(binary + "<reririduruv=bin.inc>" + binary + "\r\n</reririduruv>" + binary + "\r\n"),
        binary + "<reririduruv=bin.inc>" + binary + "\r\n" + binary + "\r\n</reririduruv>" +
            binary + "\r\n");
}

TEST_F(TagPassTest, IncludeNamesResolveAgainstThePageFolder) {
    ::mkdir((dir / "parts").c_str(), 0755);
    ::mkdir((dir / "site").c_str(), 0755);
    WriteFile(dir / "parts/nav.inc", "nav\r\n");
    WriteFile(dir / "site/C:x.inc", "colon\r\n");
    WriteFile(dir / "top.inc", "top\r\n");
    host.folder = dir / "site/";

    // Sub-folders, "..", backslashes and an absolute name.
    WriteFile(dir / "site/p.htm", "<reririduruv=../parts\\nav.inc>\r\n</reririduruv>\r\n"
                                  "<reririduruv=" +
                                      dir.path() +
                                      "top.inc>\r\n</reririduruv>\r\n"
                                      "<reririduruv=C:x.inc>\r\n</reririduruv>\r\n");
    ProcessFile(host, "p.htm");
    EXPECT_EQ(ReadFile(dir / "site/p.htm"),
              "<reririduruv=../parts\\nav.inc>nav\r\n</reririduruv>\r\n"
              "<reririduruv=" +
                  dir.path() +
                  "top.inc>top\r\n</reririduruv>\r\n"
                  "<reririduruv=C:x.inc>colon\r\n</reririduruv>\r\n");
}

TEST_F(TagPassTest, MissingIncludeLeavesThePageAndReportsThePath) {
    WriteFile(dir / "nav.inc", "nav\r\n");
    const std::string page = "<reririduruv=\"nav.inc\">\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page), page);
    EXPECT_EQ(outcome.result, PageResult::Failed);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not locate replacement file " +
                                                      dir.path() + "\"nav.inc\""});
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.htm,missing repl. file"});
    EXPECT_EQ(host.state.SkippedCount, 1);
    EXPECT_EQ(host.status, "processing page.htm...");
    // The partial temporary file stays until the run removes it.
    EXPECT_TRUE(Exists(dir / "reririDuruv.tmp"));
}

TEST_F(TagPassTest, NamesThatAreNotFilesAreMissing) {
    ::mkdir((dir / "folder").c_str(), 0755);
    for (const std::string& name :
         {std::string(" nav.inc"), std::string(""), std::string("folder")}) {
        host.problems.clear();
        const std::string page = "<reririduruv=" + name + ">\r\n</reririduruv>\r\n";
        EXPECT_EQ(Refresh(page), page);
        EXPECT_EQ(host.problems, std::vector<std::string>{"Could not locate replacement file " +
                                                          dir.path() + name});
    }
}

TEST_F(TagPassTest, UnmatchedTagsLeaveThePage) {
    WriteFile(dir / "i.inc", "I\r\n");
    for (const std::string& page : {std::string("<reririduruv=i.inc>\r\nold\r\n"),
                                    // no ">" after the keyword on its line
                                    std::string("<reririduruv=i.inc\r\n</reririduruv>\r\n")}) {
        host.problems.clear();
        host.processed.clear();
        EXPECT_EQ(Refresh(page), page);
        EXPECT_EQ(outcome.result, PageResult::Failed);
        EXPECT_EQ(host.problems, std::vector<std::string>{"Unmatched tags found in page.htm"});
        EXPECT_EQ(host.processed, std::vector<std::string>{">page.htm,unmatched tags"});
    }
}

TEST_F(TagPassTest, IncludeHoldingAClosingTagIsRefused) {
    WriteFile(dir / "bad.inc", "x\r\ny</REririduruv>\r\n");
    const std::string page = "<reririduruv=bad.inc>\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page), page);
    EXPECT_EQ(host.problems,
              std::vector<std::string>{"Nested tags found in " + dir.path() + "bad.inc"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.htm,nested tags"});
}

TEST_F(TagPassTest, IncludeThatIsTheTemporaryFileIsRefused) {
    const std::string page = "<reririduruv=reririDuruv.tmp>\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page), page);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not locate replacement file " +
                                                      dir.path() + "reririDuruv.tmp"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.htm,missing repl. file"});
}

TEST_F(TagPassTest, PageThatIsTheTemporaryFileIsNotEmptied) {
    WriteFile(dir / "i.inc", "I\r\n");
    const std::string page = "<reririduruv=i.inc>\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page, "reririDuruv.tmp"), page);
    EXPECT_EQ(host.problems,
              std::vector<std::string>{"Could not create replaced file reririDuruv.tmp"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">reririDuruv.tmp,create error"});

    // Also through a link to it.
    host.problems.clear();
    ::symlink("reririDuruv.tmp", (dir / "link.htm").c_str());
    outcome = ProcessFile(host, "link.htm");
    EXPECT_EQ(ReadFile(dir / "reririDuruv.tmp"), page);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not create replaced file link.htm"});
}

TEST_F(TagPassTest, TemporaryFileNameTakenByAFolderIsACreateError) {
    WriteFile(dir / "i.inc", "I\r\n");
    ::mkdir((dir / "reririDuruv.tmp").c_str(), 0755);
    const std::string page = "<reririduruv=i.inc>\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page), page);
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.htm,create error"});
}

TEST_F(TagPassTest, TemporaryFileIsMadeAnewNotWrittenThroughALink) {
    WriteFile(dir / "i.inc", "I\r\n");
    WriteFile(dir / "precious.txt", "keep me");
    ::symlink("precious.txt", (dir / "reririDuruv.tmp").c_str());
    Refresh("<reririduruv=i.inc>\r\n</reririduruv>\r\n");
    EXPECT_EQ(outcome.result, PageResult::Replaced);
    EXPECT_EQ(ReadFile(dir / "precious.txt"), "keep me");
    EXPECT_FALSE(Exists(dir / "reririDuruv.tmp"));
}

TEST_F(TagPassTest, PageThatCannotBeReadIsReported) {
    ::mkdir((dir / "folder.htm").c_str(), 0755);
    outcome = ProcessFile(host, "folder.htm");
    EXPECT_EQ(outcome.result, PageResult::Failed);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not read file folder.htm"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">folder.htm,read error"});

    host.problems.clear();
    outcome = ProcessFile(host, "gone.htm");
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not read file gone.htm"});
}

TEST_F(TagPassTest, BackupKeepsTheOldPage) {
    WriteFile(dir / "i.inc", "new\r\n");
    WriteFile(dir / "index.bak", "older backup");
    host.backup = true;
    const std::string old = "<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(old, "index.htm"), "<reririduruv=i.inc>new\r\n</reririduruv>\r\n");
    EXPECT_EQ(ReadFile(dir / "index.bak"), old);
    EXPECT_EQ(
        host.statusHistory,
        (std::vector<std::string>{"processing index.htm...", "processing index.htm (backing up)...",
                                  "processing index.htm (saving new)...", ""}));

    // index.html shares the backup name; a name without a dot gets ".bak" added.
    Refresh(old, "index.html");
    EXPECT_EQ(ReadFile(dir / "index.bak"), old);
    Refresh(old, "README");
    EXPECT_EQ(ReadFile(dir / "README.bak"), old);
}

TEST_F(TagPassTest, FailedBackupLeavesThePage) {
    WriteFile(dir / "i.inc", "new\r\n");
    host.backup = true;
    // A page that would be its own backup cannot be backed up.
    const std::string old = "<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(old, "page.bak"), old);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not backup file page.bak"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.bak,backup err"});
    EXPECT_EQ(host.status, "processing page.bak (backing up)...");
    // The complete temporary file stays for the run to remove.
    EXPECT_EQ(ReadFile(dir / "reririDuruv.tmp"), "<reririduruv=i.inc>new\r\n</reririduruv>\r\n");
}

TEST_F(TagPassTest, ProblemsGoToTheLogWhenMessagesAreOff) {
    host.errMsgOff = true;
    Refresh("<reririduruv=none.inc>\r\n</reririduruv>\r\n", "a.htm");
    Refresh("<reririduruv=none.inc\r\n", "b.htm");
    EXPECT_TRUE(host.problems.empty());
    EXPECT_EQ(ReadFile(dir / "logs/error.log"), " -Could not locate replacement file " +
                                                    dir.path() +
                                                    "none.inc in a.htm\r\n"
                                                    " -Unmatched tags found in b.htm\r\n");
}

TEST_F(TagPassTest, ReportThatCannotBeLoggedIsShownInstead) {
    host.errMsgOff = true;
    ::mkdir((dir / "logs").c_str(), 0755);
    ::mkdir((dir / "logs/error.log").c_str(), 0755);
    Refresh("<reririduruv=none.inc>\r\n</reririduruv>\r\n");
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not locate replacement file " +
                                                      dir.path() + "none.inc"});
}

TEST_F(TagPassTest, AbortStopsBeforeTheNextLine) {
    WriteFile(dir / "i.inc", "I\r\n");
    int pumps = 0;
    host.onDoEvents = [&pumps](RecordingHost& h) {
        if (++pumps == 3)
            h.state.AbortRequested = true;
    };
    const std::string page = "1\r\n2\r\n<reririduruv=i.inc>\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page), page);
    EXPECT_EQ(outcome.result, PageResult::Aborted);
    EXPECT_TRUE(host.processed.empty());
    EXPECT_EQ(host.state.SkippedCount + host.state.ProcessedCount, 0);
    EXPECT_EQ(host.status, "processing page.htm...");
    // The run removes the temporary file later.
    EXPECT_TRUE(Exists(dir / "reririDuruv.tmp"));
}

TEST_F(TagPassTest, EventsRunBeforeEveryPageLineButNotInsideABlock) {
    WriteFile(dir / "i.inc", "1\r\n2\r\n3\r\n");
    Refresh("a\r\n<reririduruv=i.inc>\r\nx\r\ny\r\n</reririduruv>\r\nb\r\n");
    EXPECT_EQ(host.eventPumps, 3);
}

TEST_F(TagPassTest, WaitsWhileAnotherRunHoldsTheFolder) {
    WriteFile(dir / "i.inc", "I\r\n");
    std::optional<posix::FolderLock> otherRun(std::in_place);
    ASSERT_TRUE(otherRun->TryLock(dir.path()));
    host.onDoEvents = [&otherRun](RecordingHost& h) {
        if (h.eventPumps == 3)
            otherRun.reset();
    };
    EXPECT_EQ(Refresh("<reririduruv=i.inc>\r\n</reririduruv>\r\n"),
              "<reririduruv=i.inc>I\r\n</reririduruv>\r\n");
    EXPECT_EQ(host.eventPumps, 4); // three while waiting, one before the page's only line

    // An abort while waiting leaves the page alone, without a temporary file.
    otherRun.emplace();
    ASSERT_TRUE(otherRun->TryLock(dir.path()));
    host.onDoEvents = [](RecordingHost& h) { h.state.AbortRequested = true; };
    const std::string page = "<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(page), page);
    EXPECT_EQ(outcome.result, PageResult::Aborted);
    EXPECT_FALSE(Exists(dir / "reririDuruv.tmp"));
}

TEST_F(TagPassTest, CheckingChangesNothing) {
    WriteFile(dir / "i.inc", "new\r\n");
    WriteFile(dir / "reririDuruv.tmp", "left from before");
    const std::string stale = "<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
    PassOptions check;
    check.checkOnly = true;
    EXPECT_EQ(Refresh(stale, "page.htm", check), stale);
    EXPECT_TRUE(outcome.wouldChange);
    EXPECT_EQ(ReadFile(dir / "reririDuruv.tmp"), "left from before");

    const std::string fresh = "<reririduruv=i.inc>new\r\n</reririduruv>\r\n";
    Refresh(fresh, "page.htm", check);
    EXPECT_FALSE(outcome.wouldChange);
    // Same content but for the line ends still counts as a change.
    Refresh("<reririduruv=i.inc>new\r\n</reririduruv>", "page.htm", check);
    EXPECT_TRUE(outcome.wouldChange);
    EXPECT_EQ(FolderNames(dir.path()),
              (std::vector<std::string>{"i.inc", "page.htm", "reririDuruv.tmp"}));
}

TEST_F(TagPassTest, CheckingHandsOverTheRefreshedBytes) {
    WriteFile(dir / "i.inc", "new\n");
    std::string refreshed = "from the page before";
    PassOptions check;
    check.checkOnly = true;
    check.refreshedBytes = &refreshed;
    const std::string stale = "top\r\n<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
    EXPECT_EQ(Refresh(stale, "page.htm", check), stale);
    EXPECT_EQ(refreshed, "top\r\n<reririduruv=i.inc>new\r\n</reririduruv>\r\n");

    // A page without blocks is handed over as it stands.
    Refresh("plain\n", "plain.htm", check);
    EXPECT_EQ(refreshed, "plain\n");
    EXPECT_FALSE(outcome.wouldChange);
}

// An only-changed pass over a page that a refresh would leave as it is.
class OnlyChangedTest : public TagPassTest {
  protected:
    void SetUp() override {
        TagPassTest::SetUp();
        options.onlyChanged = true;
        WriteFile(dir / "i.inc", "new\r\n");
        // Made by a refresh, so it is exactly what the next refresh would write.
        Refresh("<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n");
        ASSERT_EQ(ReadFile(dir / "page.htm"), fresh);
        ::stat((dir / "page.htm").c_str(), &before);
        host = RecordingHost{};
        host.folder = dir.path();
    }
    struct stat Status() const {
        struct stat st {};
        ::stat((dir / "page.htm").c_str(), &st);
        return st;
    }

    const std::string fresh = "<reririduruv=i.inc>new\r\n</reririduruv>\r\n";
    PassOptions options;
    struct stat before {};
};

TEST_F(OnlyChangedTest, UpToDatePageIsLeftUntouchedButCountsAsProcessed) {
    host.backup = true;
    bool temporaryFileSeen = false;
    host.onDoEvents = [&](RecordingHost&) {
        temporaryFileSeen = temporaryFileSeen || Exists(dir / "reririDuruv.tmp");
    };
    outcome = ProcessFile(host, "page.htm", options);

    EXPECT_EQ(outcome.result, PageResult::Replaced);
    EXPECT_TRUE(outcome.upToDate);
    EXPECT_EQ(outcome.blocks, 1);
    EXPECT_EQ(host.processed, std::vector<std::string>{"page.htm,1"});
    EXPECT_EQ(host.state.ProcessedCount, 1);
    EXPECT_EQ(host.statusHistory, (std::vector<std::string>{"processing page.htm...", ""}));
    EXPECT_GT(host.eventPumps, 0);
    EXPECT_FALSE(temporaryFileSeen);
    const struct stat after = Status();
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
    EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
    EXPECT_EQ(FolderNames(dir.path()), (std::vector<std::string>{"i.inc", "page.htm"}));
}

TEST_F(OnlyChangedTest, ChangedPageIsRefreshedAsAnyRunWould) {
    WriteFile(dir / "i.inc", "newer\r\n");
    host.backup = true;
    outcome = ProcessFile(host, "page.htm", options);

    EXPECT_EQ(outcome.result, PageResult::Replaced);
    EXPECT_FALSE(outcome.upToDate);
    EXPECT_EQ(ReadFile(dir / "page.htm"), "<reririduruv=i.inc>newer\r\n</reririduruv>\r\n");
    EXPECT_EQ(ReadFile(dir / "page.bak"), fresh);
    EXPECT_EQ(host.processed, std::vector<std::string>{"page.htm,1"});
    EXPECT_EQ(host.state.ProcessedCount, 1);
    EXPECT_EQ(
        host.statusHistory,
        (std::vector<std::string>{"processing page.htm...", "processing page.htm (backing up)...",
                                  "processing page.htm (saving new)...", ""}));
    EXPECT_NE(Status().st_ino, before.st_ino);
    EXPECT_FALSE(Exists(dir / "reririDuruv.tmp"));
}

TEST_F(OnlyChangedTest, PageWithoutBlocksIsSkippedWithoutATemporaryFile) {
    WriteFile(dir / "plain.htm", "plain\r\n");
    bool temporaryFileSeen = false;
    host.onDoEvents = [&](RecordingHost&) {
        temporaryFileSeen = temporaryFileSeen || Exists(dir / "reririDuruv.tmp");
    };
    outcome = ProcessFile(host, "plain.htm", options);
    EXPECT_EQ(outcome.result, PageResult::NoBlocks);
    EXPECT_FALSE(outcome.upToDate);
    EXPECT_EQ(host.processed, std::vector<std::string>{"plain.htm,0"});
    EXPECT_EQ(host.state.SkippedCount, 1);
    EXPECT_FALSE(temporaryFileSeen);
}

TEST_F(OnlyChangedTest, ProblemsAreReportedOnceAndLeaveThePage) {
    WriteFile(dir / "page.htm", "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    outcome = ProcessFile(host, "page.htm", options);
    EXPECT_EQ(outcome.result, PageResult::Failed);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not locate replacement file " +
                                                      dir.path() + "gone.inc"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.htm,missing repl. file"});
    EXPECT_EQ(host.state.SkippedCount, 1);

    // A page that would change and then fails to be written is reported once too.
    host = RecordingHost{};
    host.folder = dir.path();
    host.backup = true;
    const std::string stale = "<reririduruv=i.inc>\r\nold\r\n</reririduruv>\r\n";
    WriteFile(dir / "page.bak", stale); // its own backup name
    outcome = ProcessFile(host, "page.bak", options);
    EXPECT_EQ(host.problems, std::vector<std::string>{"Could not backup file page.bak"});
    EXPECT_EQ(host.processed, std::vector<std::string>{">page.bak,backup err"});
    EXPECT_EQ(ReadFile(dir / "page.bak"), stale);
}

TEST_F(OnlyChangedTest, LeftoverTemporaryFileIsRefusedAsPageOrIncludeAsARefreshWould) {
    // An include that is a temporary file left by a killed run: a refresh makes the
    // temporary file anew and refuses to copy it into itself, so the comparison refuses it
    // too, even where the leftover's content would make the page look up to date.
    WriteFile(dir / "reririDuruv.tmp", "new\r\n");
    const std::string page = "<reririduruv=reririDuruv.tmp>new\r\n</reririduruv>\r\n";
    WriteFile(dir / "tmp.htm", page);
    outcome = ProcessFile(host, "tmp.htm", options);
    EXPECT_EQ(host.processed, std::vector<std::string>{">tmp.htm,missing repl. file"});
    EXPECT_EQ(ReadFile(dir / "tmp.htm"), page);

    WriteFile(dir / "reririDuruv.tmp", fresh);
    outcome = ProcessFile(host, "reririDuruv.tmp", options);
    EXPECT_EQ(host.processed.back(), ">reririDuruv.tmp,create error");
    EXPECT_EQ(ReadFile(dir / "reririDuruv.tmp"), fresh);
}

TEST_F(OnlyChangedTest, AbortWhileComparingLeavesNoEntry) {
    host.onDoEvents = [](RecordingHost& h) { h.state.AbortRequested = true; };
    outcome = ProcessFile(host, "page.htm", options);
    EXPECT_EQ(outcome.result, PageResult::Aborted);
    EXPECT_TRUE(host.processed.empty());
    EXPECT_EQ(host.state.ProcessedCount + host.state.SkippedCount, 0);
}

TEST_F(OnlyChangedTest, ComparisonHoldsAcrossEveryChunkEdge) {
    struct Case {
        std::string page;
        bool upToDate;
        std::string after;
    };
    const std::vector<Case> cases = {
        {fresh, true, fresh},
        {"<reririduruv=i.inc>neW\r\n</reririduruv>\r\n", false, fresh},
        {fresh.substr(0, fresh.size() - 1), false, fresh}, // the last LF missing
        {fresh + "\r\n", true, fresh + "\r\n"},            // an empty line is kept
        {fresh + "x", false, fresh + "x\r\n"},             // one byte longer
    };
    // Chunks of a few bytes put every difference at every place in a chunk.
    for (std::size_t chunk : {1, 2, 3, 5, 8}) {
        text::SetBufferSizes(64, chunk);
        for (const Case& test : cases) {
            SCOPED_TRACE(std::to_string(chunk) + " [" + test.page + "]");
            WriteFile(dir / "page.htm", test.page);
            host = RecordingHost{};
            host.folder = dir.path();
            outcome = ProcessFile(host, "page.htm", options);
            EXPECT_EQ(outcome.result, PageResult::Replaced);
            EXPECT_EQ(outcome.upToDate, test.upToDate);
            EXPECT_EQ(ReadFile(dir / "page.htm"), test.after);
        }
    }
}

TEST_F(TagPassTest, KeepsThePagesPermissionBits) {
    WriteFile(dir / "i.inc", "I\r\n");
    WriteFile(dir / "page.htm", "<reririduruv=i.inc>\r\n</reririduruv>\r\n");
    ::chmod((dir / "page.htm").c_str(), 0640);
    ProcessFile(host, "page.htm");
    struct stat st {};
    ::stat((dir / "page.htm").c_str(), &st);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// Pages built from pieces that exercise every rule, refreshed with the normal buffers and
// with buffers so small that every tag and line end falls across a buffer's edge.
TEST_F(TagPassTest, TinyBuffersGiveTheSameBytes) {
    WriteFile(dir / "i.inc", "inc 1\r\nInc </a> 2\rinc 3\n\r\nlast");
    WriteFile(dir / "e.inc", "");
    const std::vector<std::string> pieces = {"<reririduruv=i.inc>",
                                             "<REririduruv=e.inc>",
                                             "</reririduruv>",
                                             "</RERIRIDURUV>",
                                             "\r\n",
                                             "\r",
                                             "\n",
                                             "text ",
                                             ">",
                                             "<",
                                             "<reririduruv",
                                             "x"};
    std::mt19937 random(7);
    for (int round = 0; round < 300; ++round) {
        std::string page;
        const int count = 1 + static_cast<int>(random() % 40);
        for (int i = 0; i < count; ++i)
            page += pieces[random() % pieces.size()];
        if (random() % 3 == 0)
            page += std::string(200 + random() % 300, 'L');

        text::SetBufferSizes(256 * 1024, 64 * 1024);
        host = RecordingHost{};
        host.folder = dir.path();
        const std::string expected = Refresh(page);
        const auto expectedEntries = host.processed;

        text::SetBufferSizes(52 + random() % 20, 1 + random() % 9);
        host = RecordingHost{};
        host.folder = dir.path();
        ASSERT_EQ(Refresh(page), expected) << "page: " << page;
        ASSERT_EQ(host.processed, expectedEntries) << "page: " << page;
    }
}

TEST_F(TagPassTest, LinesLongerThanTheBufferKeepAllTheirBytes) {
    text::SetBufferSizes(64, 5);
    WriteFile(dir / "i.inc", std::string(300, 'i') + "\n" + std::string(150, 'j'));
    const std::string before(500, 'b');
    const std::string between(700, 'm');
    EXPECT_EQ(Refresh(before + "</reririduruv>" + between + "<reririduruv=i.inc>" +
                      std::string(400, 'd') + "\n" + std::string(90, 'z') + "\n"),
              before + "</reririduruv>" + between + "<reririduruv=i.inc>" + std::string(300, 'i') +
                  "\n" + std::string(150, 'j') + "\n</reririduruv>" + between +
                  "<reririduruv=i.inc>" + std::string(400, 'd') + "\n" + std::string(90, 'z') +
                  "\n");
}

} // namespace
