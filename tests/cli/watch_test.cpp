// The watch: it refreshes exactly the pages a save puts out of date, follows what they
// depend on but never a link out of the site, says what ends it, and is not started again by
// its own writes.

#include "support.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

using namespace testing_support;

namespace {

const std::string kCli = CLI_PATH;
const std::string kNav = "<reririduruv=nav.inc>\r\n</reririduruv>\r\n";

class WatchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        WriteFile(site / "nav.inc", "<nav/>\r\n");
        WriteFile(site / "index.htm", kNav);
    }
    // What the last refresh printed after its time stamp line.
    static std::string LastRefresh(const std::string& out) {
        return out.substr(out.rfind("]\n") + 2);
    }
    TempDir site;
};

TEST_F(WatchTest, RefreshesExactlyThePagesThatDependOnWhatWasSaved) {
    ::mkdir((site / "blog").c_str(), 0755);
    WriteFile(site / "foot.inc", "foot\r\n");
    WriteFile(site / "blog/post.htm", "<reririduruv=../nav.inc>\r\n</reririduruv>\r\n");
    WriteFile(site / "about.htm", "<reririduruv=foot.inc>\r\n</reririduruv>\r\n");
    Program cli({kCli, "--watch", "--recursive", "--exclude", "burst1*", site.path()});
    ASSERT_TRUE(cli.WaitForLines(">", 2)) << cli.out() << cli.err();
    WriteFile(site / "nav.new", "<nav2/>\r\n");
    ::rename((site / "nav.new").c_str(), (site / "nav.inc").c_str());
    ASSERT_TRUE(cli.WaitForLines(">", 4));
    EXPECT_EQ(LastRefresh(cli.out()), "index.htm,1\nblog/post.htm,1\n>2 file(s) processed. \n"
                                      ">0 file(s) skipped.\n");

    WriteFile(site / "foot.inc", "foot2\r\n");
    ::mkdir((site / "news").c_str(), 0755);
    WriteFile(site / "news/new.htm", "<reririduruv=../foot.inc>\r\n</reririduruv>\r\n");
    ASSERT_TRUE(cli.WaitForLines(">", 6));
    EXPECT_EQ(LastRefresh(cli.out()),
              "about.htm,1\nnews/new.htm,1\n>2 file(s) processed. \n>0 file(s) skipped.\n");
    ::unlink((site / "foot.inc").c_str());
    for (int i = 0; i < 100 && ::usleep(1000) == 0; ++i)
        WriteFile(site / ("burst" + std::to_string(i) + ".htm"), kNav);
    ASSERT_TRUE(cli.WaitForLines(">89 file(s) processed.", 1)) << cli.out();
    cli.Signal(SIGINT);
    const ProgramRun run = cli.Wait();
    EXPECT_EQ(run.status, 130);
    EXPECT_EQ(std::count(run.out.begin(), run.out.end(), '['), 4) << "the burst is refreshed once";
    EXPECT_EQ(run.err, "reririduruv-cli: Could not locate replacement file " + site.path() +
                           "foot.inc: No such file or directory\n");
}

// A link put where a new folder was a moment ago (while the watch is stopped, so that it
// surely comes late) is never followed; an include file outside the site still is.
TEST_F(WatchTest, NeverWritesAPageOutsideTheSite) {
    TempDir outside;
    WriteFile(outside / "nav.inc", "<out/>\r\n");
    WriteFile(outside / "page.htm", kNav);
    WriteFile(site / "index.htm",
              "<reririduruv=" + outside.path() + "nav.inc>\r\n</reririduruv>\r\n");
    Program cli({kCli, "--watch", "--recursive", site.path()});
    ASSERT_TRUE(cli.WaitForLines(">", 2)) << cli.err();
    cli.Signal(SIGSTOP);
    ::mkdir((site / "sub").c_str(), 0755);
    ::rmdir((site / "sub").c_str());
    ::symlink(outside.path().c_str(), (site / "sub").c_str());
    cli.Signal(SIGCONT);
    WriteFile(outside / "page.htm", kNav);
    WriteFile(outside / "nav.inc", "<out2/>\r\n");
    ASSERT_TRUE(cli.WaitForLines(">", 4)) << cli.err();
    EXPECT_EQ(LastRefresh(cli.out()), "index.htm,1\n>1 file(s) processed. \n>0 file(s) skipped.\n");
    EXPECT_EQ(ReadFile(outside / "page.htm"), kNav);
}

// A folder of include files made anew, an include link pointed elsewhere and the file it
// now leads to are all followed; saves that go on do not hold a refresh back for ever.
TEST_F(WatchTest, FollowsWhatThePagesDependOn) {
    for (const char* folder : {"parts", "v"})
        ::mkdir((site / folder).c_str(), 0755);
    WriteFile(site / "parts/menu.inc", "menu");
    WriteFile(site / "v/one.inc", "one");
    WriteFile(site / "v/two.inc", "two");
    ::symlink("v/one.inc", (site / "link.inc").c_str());
    const auto page = [](const std::string& menu, const std::string& link) {
        return "<reririduruv=parts/menu.inc>" + menu + "\n</reririduruv>\n<reririduruv=link.inc>" +
               link + "\n</reririduruv>\n";
    };
    WriteFile(site / "index.htm", page("", ""));
    Program cli({kCli, "--watch", site.path()});
    ASSERT_TRUE(cli.WaitForLines(">", 2)) << cli.err();
    const auto shows = [&](const std::string& menu, const std::string& link) { // up to 20 s
        for (int tries = 0; tries < 2000 && ReadFile(site / "index.htm") != page(menu, link);
             ++tries)
            ::usleep(10 * 1000);
        return ReadFile(site / "index.htm") == page(menu, link);
    };
    std::filesystem::remove_all(site / "parts");
    ::mkdir((site / "parts").c_str(), 0755);
    WriteFile(site / "parts/menu.inc", "menu2");
    EXPECT_TRUE(shows("menu2", "one")) << cli.err();
    ::unlink((site / "link.inc").c_str());
    ::symlink("v/two.inc", (site / "link.inc").c_str());
    EXPECT_TRUE(shows("menu2", "two"));
    WriteFile(site / "v/two.inc", "two2");
    EXPECT_TRUE(shows("menu2", "two2"));
    for (int i = 0; i < 400 && ReadFile(site / "index.htm") != page("menu2", "two3");
         ++i, ::usleep(40 * 1000))
        WriteFile(site / "v/two.inc", "two3");
    EXPECT_EQ(ReadFile(site / "index.htm"), page("menu2", "two3"));
}

// Root reads and watches every folder: where the tests run as root, the watch runs as
// another user. Its end is waited for at most 20 s.
TEST_F(WatchTest, SaysWhatEndsItAndWhatItCannotWatch) {
    std::vector<std::string> command{"timeout", "20",      "setpriv",     "--pdeathsig", "SIGKILL",
                                     kCli,      "--watch", "--recursive", site.path()};
    if (::geteuid() == 0)
        command.insert(command.begin() + 5, {"--reuid=65534", "--regid=65534", "--clear-groups"});
    ::chmod(site.path().c_str(), 0);
    ProgramRun run = RunProgram(command);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err,
              "reririduruv-cli: cannot read folder: " + site.path() + ": Permission denied\n");

    ::chmod(site.path().c_str(), 0777);
    WriteFile(site / "index.htm", "<reririduruv=nav.inc><nav/>\r\n</reririduruv>\r\n");
    ::mkdir((site / "a").c_str(), 0777);
    ::mkdir((site / "a/c").c_str(), 0);
    Program cli(command);
    ASSERT_TRUE(cli.WaitForLines(">", 2)) << cli.err();
    ::rename((site / "a").c_str(), (site / "b").c_str());
    WriteFile(site / "index.htm", "<reririduruv=nav.inc><nav/>\r\n</reririduruv>\r\n");
    ASSERT_TRUE(cli.WaitForLines(">", 4)) << cli.err();
    ::chmod((site / "b/c").c_str(), 0755);
    std::filesystem::remove_all(site.path());
    run = cli.Wait();
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "reririduruv-cli: cannot watch " + site / "a/c/: Permission denied\n" +
                           "reririduruv-cli: Could not locate replacement file " +
                           site / "nav.inc: No such file or directory\n" +
                           "reririduruv-cli: the folder is gone: " + site.path() + "\n");
}

// The error log lies in the site, and a page includes it and has a problem: the log that
// each refresh of that page appends to starts no new refresh.
TEST_F(WatchTest, ItsOwnWritesStartNothing) {
    WriteFile(site / "log.htm", "<reririduruv=error.log>\r\n</reririduruv>\r\n"
                                "<reririduruv=gone.inc>\r\n</reririduruv>\r\n");
    Program cli({kCli, "--watch", "--backup", "--log", site / "error.log", site.path()});
    ASSERT_TRUE(cli.WaitForLines(">", 3)) << cli.err();
    WriteFile(site / "index.htm", kNav);
    ASSERT_TRUE(cli.WaitForLines(">", 5));
    const std::string out = cli.out();
    EXPECT_EQ(std::count(out.begin(), out.end(), '['), 2) << out;
    EXPECT_EQ(LastRefresh(out), "index.htm,1\n>1 file(s) processed. \n>0 file(s) skipped.\n");
}

} // namespace
