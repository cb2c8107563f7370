#include "file_list.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace testing_support;

namespace {

TEST(MatchesPatterns, HtmlPatternsIgnoreLetterCase) {
    for (const char* name : {"index.HTM", "a.html", "b.shtml", "C.Shtml"})
        EXPECT_TRUE(MatchesPatterns(name, kHtmlPatterns)) << name;
    for (const char* name : {"notes.txt", "index.htm.bak", "htm", "a.xhtml"})
        EXPECT_FALSE(MatchesPatterns(name, kHtmlPatterns)) << name;
    EXPECT_TRUE(MatchesPatterns("Makefile", kAllFilesPattern));
    EXPECT_TRUE(MatchesPatterns("x.y.z", kAllFilesPattern));
}

TEST(SortFileNames, IgnoresCaseAndBreaksTiesByBytes) {
    std::vector<std::string> names{"b.htm", "B.htm", "a.htm",  "_x.htm",
                                   "A.htm", "c.htm", "10.htm", "9.htm"};
    SortFileNames(names);
    // Compared as lower case, so "_" sorts before the letters.
    EXPECT_EQ(names, (std::vector<std::string>{"10.htm", "9.htm", "_x.htm", "A.htm", "a.htm",
                                               "B.htm", "b.htm", "c.htm"}));
}

TEST(ListFiles, ListsMatchingOrdinaryFilesOnly) {
    TempDir dir;
    for (const char* name : {"index.HTM", "a.html", "b.shtml", "notes.txt", ".hidden.htm",
                             "reririDuruv.tmp", "REriRIDuruv.TMP"})
        WriteFile(dir / name, "x");
    ::mkdir((dir / "folder.htm").c_str(), 0755);
    ::symlink("a.html", (dir / "link.htm").c_str());
    ::symlink("missing", (dir / "dangling.htm").c_str());
    ::mkfifo((dir / "pipe.htm").c_str(), 0644);

    std::vector<std::string> names;
    ASSERT_TRUE(ListFiles(dir.path(), kHtmlPatterns, names));
    EXPECT_EQ(names, (std::vector<std::string>{"a.html", "b.shtml", "index.HTM", "link.htm"}));
    ASSERT_TRUE(ListFiles(dir.path(), kAllFilesPattern, names));
    EXPECT_EQ(names, (std::vector<std::string>{"a.html", "b.shtml", "index.HTM", "link.htm",
                                               "notes.txt"}));
    EXPECT_FALSE(ListFiles(dir / "missing", kAllFilesPattern, names));
    EXPECT_TRUE(names.empty());
}

} // namespace
