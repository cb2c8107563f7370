// The pass's output and problem rules, as one table. Every row runs at the normal buffer
// sizes and at tiny ones (so tags and line ends fall across buffer edges), checked, refreshed
// as only-changed (a plain refresh is compared with it by the fuzz target), then once more
// when it is up to date.

#include "batch_run.h"
#include "mod_global.h"
#include "support.h"
#include "text_stream.h"

#include <gtest/gtest.h>
#include <regex>
#include <sys/stat.h>

using namespace testing_support;

namespace {

struct Row {
    const char* what;
    std::string page;
    std::string entry;        // "PAGE,N", or ">PAGE,reason" with the page left as it was
    std::string expected;     // the page afterwards, for a page with blocks
    std::string problem = {}; // the message box text; "DIR/" stands for the folder
    bool stable = true;       // refreshing the refreshed page changes nothing
};

const std::string kBinary("\x00\xff\x80 \xc3\xa4 <\x01>", 10);

// Include files of every row, by name in the page's folder.
const std::vector<std::pair<std::string, std::string>> kIncludes = {
    {"nav.inc", "<a>one</a>\r\n<a>two</a>\r\n"},
    {"Menu.htm", "menu\r\n"},
    {"menu.htm", "wrong\r\n"},
    {"empty.inc", ""},
    {"mixed.inc", "a\r\nb\rc\nd"},
    {"sub/part.inc", "part\n"},
    {"nested.inc", "x\r\n</REririduruv>\r\n"},
    {"bin.inc", kBinary + "\r\n" + kBinary},
};

// clang-format off
const Row kRows[] = {
    {"block lines replaced, tags kept", "top\r\n<reririduruv=nav.inc>\r\nold 1\r\nold 2\r\n</reririduruv>\r\nend\r\n", "page.htm,1",
     "top\r\n<reririduruv=nav.inc><a>one</a>\r\n<a>two</a>\r\n</reririduruv>\r\nend\r\n"},
    {"text around the tags", "x<reririduruv=nav.inc>gone\r\ndropped\r\nalso gone</reririduruv>kept\r\n", "page.htm,1",
     "x<reririduruv=nav.inc><a>one</a>\r\n<a>two</a>\r\n</reririduruv>kept\r\n"},
    {"any letter case, the name keeps its case", "<REriRIDURUV=Menu.htm>\r\n</REririduruv>\r\n", "page.htm,1",
     "<REriRIDURUV=Menu.htm>menu\r\n</REririduruv>\r\n"},
    {"empty include", "<reririduruv=empty.inc>\r\nold\r\n</reririduruv>\r\n", "page.htm,1",
     "<reririduruv=empty.inc></reririduruv>\r\n"},
    {"closing tag before the opening tag on its line", "a</reririduruv>b<reririduruv=Menu.htm>c\r\nnext\r\n", "page.htm,1",
     "a</reririduruv>b<reririduruv=Menu.htm>menu\r\n</reririduruv>b<reririduruv=Menu.htm>c\r\nnext\r\n", {}, false},
    {"blocks do not nest; an include is read for each block",
     "<reririduruv=Menu.htm>\r\n<reririduruv=other.inc>\r\n</reririduruv>\r\nmid\r\n<reririduruv=Menu.htm>\r\n</reririduruv>\r\n", "page.htm,2",
     "<reririduruv=Menu.htm>menu\r\n</reririduruv>\r\nmid\r\n<reririduruv=Menu.htm>menu\r\n</reririduruv>\r\n"},
    {"lone LF page keeps LF and refreshes every block",
     "<reririduruv=mixed.inc>\n</reririduruv>\n<reririduruv=mixed.inc>\nold\n</reririduruv>", "page.htm,2",
     "<reririduruv=mixed.inc>a\nb\nc\nd\n</reririduruv>\n<reririduruv=mixed.inc>a\nb\nc\nd\n</reririduruv>\n"},
    {"CR page is written with CR+LF", "<reririduruv=mixed.inc>\r</reririduruv>\rlast", "page.htm,1",
     "<reririduruv=mixed.inc>a\r\nb\r\nc\r\nd\r\n</reririduruv>\r\nlast\r\n"},
    {"the first line end decides", "one\r\n<reririduruv=mixed.inc>\n</reririduruv>\n", "page.htm,1",
     "one\r\n<reririduruv=mixed.inc>a\r\nb\r\nc\r\nd\r\n</reririduruv>\r\n"},
    {"page without a line end", "<reririduruv=Menu.htm></reririduruv>", "page.htm,1",
     "<reririduruv=Menu.htm>menu\r\n</reririduruv>\r\n"},
    {"bytes pass through", kBinary + "<reririduruv=bin.inc>" + kBinary + "\r\n</reririduruv>" + kBinary + "\r\n", "page.htm,1",
     kBinary + "<reririduruv=bin.inc>" + kBinary + "\r\n" + kBinary + "\r\n</reririduruv>" + kBinary + "\r\n"},
    {"sub-folder, backslash and absolute names",
     "<reririduruv=sub\\part.inc>\r\n</reririduruv>\r\n<reririduruv=DIR/sub/part.inc></reririduruv>\r\n", "page.htm,2",
     "<reririduruv=sub\\part.inc>part\r\n</reririduruv>\r\n<reririduruv=DIR/sub/part.inc>part\r\n</reririduruv>\r\n"},
    {"no block", "plain\nlines\n", "page.htm,0", ""},
    {"missing include", "<reririduruv=\"nav.inc\">\r\n</reririduruv>\r\n", ">page.htm,missing repl. file", "",
     "Could not locate replacement file DIR/\"nav.inc\""},
    {"empty name is the folder itself", "<reririduruv=>\r\n</reririduruv>\r\n", ">page.htm,missing repl. file", "",
     "Could not locate replacement file DIR/"},
    {"no closing tag", "<reririduruv=nav.inc>\r\nold\r\n", ">page.htm,unmatched tags", "", "Unmatched tags found in page.htm"},
    {"no > after the keyword", "<reririduruv=nav.inc\r\n</reririduruv>\r\n", ">page.htm,unmatched tags", "",
     "Unmatched tags found in page.htm"},
    {"include with a closing tag, checked before the closing tag is sought", "<reririduruv=nested.inc>\r\nno end\r\n",
     ">page.htm,nested tags", "", "Nested tags found in DIR/nested.inc"},
};
// clang-format on

class TagPassTable : public ::testing::TestWithParam<std::tuple<int, bool>> {
  protected:
    void SetUp() override {
        ::mkdir((dir / "sub").c_str(), 0755);
        for (const auto& [name, bytes] : kIncludes)
            WriteFile(dir / name, bytes);
        // Copying the temporary file into itself would never end: it must be refused.
        WriteFile(dir / modGlobal::kTempFileName, "left over\r\n");
        if (std::get<1>(GetParam()))
            text::SetBufferSizes(52, 3);
    }
    void TearDown() override { text::SetBufferSizes(256 * 1024, 64 * 1024); }

    std::string Expand(const std::string& text) const {
        return std::regex_replace(text, std::regex("DIR/"), dir.path());
    }

    // Runs the pass over the row's page in one mode and checks the entry and the problem.
    void Run(const Row& row, const PassOptions& options) {
        RecordingHost host(dir.path());
        const PageOutcome outcome = ProcessFile(host, "page.htm", options);
        EXPECT_EQ(host.entries, std::vector<std::string>{row.entry});
        EXPECT_LE(host.problems.size(), 1u);
        EXPECT_EQ(host.problems.empty() ? "" : host.problems[0], Expand(row.problem));
        EXPECT_EQ(outcome.wouldChange, options.checkOnly && !row.expected.empty());
    }

    TempDir dir;
};

TEST_P(TagPassTable, InEveryMode) {
    const Row& row = kRows[std::get<0>(GetParam())];
    SCOPED_TRACE(row.what);
    const std::string page = Expand(row.page);
    const std::string expected = row.expected.empty() ? page : Expand(row.expected);
    const std::string path = dir / "page.htm";

    PassOptions check;
    check.checkOnly = true;
    PassOptions onlyChanged;
    onlyChanged.onlyChanged = true;
    WriteFile(path, page);
    Run(row, check);
    EXPECT_EQ(ReadFile(path), page) << "a check changes nothing";
    Run(row, onlyChanged);
    EXPECT_EQ(ReadFile(path), expected);
    if (!row.stable)
        return;

    // Up to date now: a check finds nothing to change, and the page is left alone.
    const long before = Modified(path);
    Row again = row;
    again.expected.clear();
    Run(again, check);
    Run(row, onlyChanged);
    EXPECT_EQ(Modified(path), before);
}

INSTANTIATE_TEST_SUITE_P(Rows, TagPassTable,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kRows))),
                                            ::testing::Bool()));

} // namespace
