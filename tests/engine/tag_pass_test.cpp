// The pass's output and problem rules, as one table, through the batch run every host
// runs. Every row runs at the normal buffer sizes and at tiny ones (so tags and line ends
// fall across buffer edges): checked, refreshed one page at a time and with pages in
// flight, refreshed as only-changed, then once more when it is up to date.

#include "batch_run.h"
#include "support.h"
#include "text_stream.h"

#include <fcntl.h>
#include <filesystem>
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
    std::int64_t line = 0;    // the line the problem names
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
    {"reririDuruv.tmp", "an include like any other\r\n"},
};

// clang-format off
const Row kRows[] = {
    {"block lines replaced, tags kept", "top\r\n<reririduruv=nav.inc>\r\nold 1\r\nold 2\r\n</reririduruv>\r\nend\r\n", "page.htm,1",
     "top\r\n<reririduruv=nav.inc><a>one</a>\r\n<a>two</a>\r\n</reririduruv>\r\nend\r\n"},
    {"text around the tags; any letter case, the name keeps its case",
     "x<reririduruv=nav.inc>gone\r\ndropped\r\nalso gone</reririduruv>kept\r\n<REriRIDURUV=Menu.htm>\r\n</REririduruv>\r\n", "page.htm,2",
     "x<reririduruv=nav.inc><a>one</a>\r\n<a>two</a>\r\n</reririduruv>kept\r\n<REriRIDURUV=Menu.htm>menu\r\n</REririduruv>\r\n"},
    {"empty include; the program's old file name is a name like any other",
     "<reririduruv=empty.inc>\r\nold\r\n</reririduruv>\r\n<reririduruv=reririDuruv.tmp></reririduruv>\r\n", "page.htm,2",
     "<reririduruv=empty.inc></reririduruv>\r\n<reririduruv=reririDuruv.tmp>an include like any other\r\n</reririduruv>\r\n"},
    {"a closing tag before the opening tag does not end its block",
     "a</reririduruv>b<reririduruv=Menu.htm>c\r\nold\r\n</reririduruv>end\r\n", "page.htm,1",
     "a</reririduruv>b<reririduruv=Menu.htm>menu\r\n</reririduruv>end\r\n"},
    {"blocks do not nest; an include is read for each block",
     "<reririduruv=Menu.htm>\r\n<reririduruv=other.inc>\r\n</reririduruv>\r\nmid\r\n<reririduruv=Menu.htm>\r\n</reririduruv>\r\n", "page.htm,2",
     "<reririduruv=Menu.htm>menu\r\n</reririduruv>\r\nmid\r\n<reririduruv=Menu.htm>menu\r\n</reririduruv>\r\n"},
    {"lone LF page keeps LF and refreshes every block",
     "<reririduruv=mixed.inc>\n</reririduruv>\n<reririduruv=mixed.inc>\nold\n</reririduruv>", "page.htm,2",
     "<reririduruv=mixed.inc>a\nb\nc\nd\n</reririduruv>\n<reririduruv=mixed.inc>a\nb\nc\nd\n</reririduruv>\n"},
    {"a CR page is written with CR+LF; the first line end decides", "one\r<reririduruv=mixed.inc>\n</reririduruv>\rlast",
     "page.htm,1", "one\r\n<reririduruv=mixed.inc>a\r\nb\r\nc\r\nd\r\n</reririduruv>\r\nlast\r\n"},
    {"up to date but for the last line's end", "<reririduruv=Menu.htm>menu\r\n</reririduruv>", "page.htm,1",
     "<reririduruv=Menu.htm>menu\r\n</reririduruv>\r\n"},
    {"bytes pass through", kBinary + "<reririduruv=bin.inc>" + kBinary + "\r\n</reririduruv>" + kBinary + "\r\n", "page.htm,1",
     kBinary + "<reririduruv=bin.inc>" + kBinary + "\r\n" + kBinary + "\r\n</reririduruv>" + kBinary + "\r\n"},
    {"sub-folder, backslash and absolute names",
     "<reririduruv=sub\\part.inc>\r\n</reririduruv>\r\n<reririduruv=DIR/sub/part.inc></reririduruv>\r\n", "page.htm,2",
     "<reririduruv=sub\\part.inc>part\r\n</reririduruv>\r\n<reririduruv=DIR/sub/part.inc>part\r\n</reririduruv>\r\n"},
    {"no block", "plain\nlines\n", "page.htm,0", ""},
    {"missing include", "one\r\n<reririduruv=\"nav.inc\">\r\n</reririduruv>\r\n", ">page.htm,missing repl. file", "",
     "Could not locate replacement file DIR/\"nav.inc\"", 2},
    {"empty name is the folder itself", "<reririduruv=>\r\n</reririduruv>\r\n", ">page.htm,missing repl. file", "",
     "Could not locate replacement file DIR/", 1},
    {"no closing tag after the opening tag", "<reririduruv=nav.inc>\r\nold\r\n", ">page.htm,unmatched tags", "",
     "Unmatched tags found in page.htm", 1},
    {"only a closing tag before it", "a\r\ntext</reririduruv><reririduruv=nav.inc>tail\r\n", ">page.htm,unmatched tags", "",
     "Unmatched tags found in page.htm", 2},
    {"no > after the keyword", "<reririduruv=nav.inc\r\n</reririduruv>\r\n", ">page.htm,unmatched tags", "",
     "Unmatched tags found in page.htm", 1},
    {"include with a closing tag, checked before the closing tag is sought", "\n\n<reririduruv=nested.inc>\r\nno end\r\n",
     ">page.htm,nested tags", "", "Nested tags found in DIR/nested.inc", 3},
};
// clang-format on

class TagPassTable : public ::testing::TestWithParam<std::tuple<int, bool>> {
  protected:
    void SetUp() override {
        ::mkdir((dir / "sub").c_str(), 0755);
        for (const auto& [name, bytes] : kIncludes)
            WriteFile(dir / name, bytes);
        if (std::get<1>(GetParam()))
            text::SetBufferSizes(52, 3);
    }
    void TearDown() override { text::SetBufferSizes(256 * 1024, 64 * 1024); }

    std::string Expand(const std::string& text) const {
        return std::regex_replace(text, std::regex("DIR/"), dir.path());
    }

    // Runs the row's page in one mode and checks the entry and the problem; the refreshed
    // bytes a check keeps.
    std::vector<std::string> Run(const Row& row, RunOptions options) {
        RecordingHost host(dir.path());
        options.folder = dir.path();
        host.options = options;
        const RunOutcome outcome = host.Run({"page.htm"});
        EXPECT_EQ(host.entries.front(), row.entry);
        EXPECT_EQ(host.problems.empty() ? "" : host.problems[0], Expand(row.problem));
        EXPECT_EQ(host.reported.empty() ? 0 : host.reported[0].line, row.line);
        EXPECT_EQ(outcome.wouldChange.size(), options.checkOnly && !row.expected.empty());
        return host.refreshed;
    }

    TempDir dir;
};

TEST_P(TagPassTable, InEveryMode) {
    const Row& row = kRows[std::get<0>(GetParam())];
    SCOPED_TRACE(row.what);
    const std::string page = Expand(row.page);
    const std::string expected = row.expected.empty() ? page : Expand(row.expected);
    const std::string path = dir / "page.htm";

    RunOptions check;
    check.checkOnly = true;
    check.keepRefreshed = true;
    RunOptions onlyChanged;
    onlyChanged.onlyChanged = true;
    RunOptions oneAtATime;
    oneAtATime.pagesInFlight = 1;
    WriteFile(path, page);
    const std::vector<std::string> refreshed = Run(row, check);
    EXPECT_EQ(ReadFile(path), page) << "a check changes nothing";
    EXPECT_EQ(refreshed, row.expected.empty() ? std::vector<std::string>{}
                                              : std::vector<std::string>{expected});
    for (const RunOptions& options : {RunOptions{}, oneAtATime, onlyChanged}) {
        WriteFile(path, page);
        Run(row, options);
        EXPECT_EQ(ReadFile(path), expected);
    }
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
              static_cast<long>(kIncludes.size() + 1))
        << "nothing is left beside it";

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

// Every line of a page, as the scanner sees it.
std::vector<std::vector<std::int64_t>> Scan(const std::string& path) {
    FileDescriptor fd(::open(path.c_str(), O_RDONLY));
    text::PageScanner scanner(RealDisk(), fd.get());
    std::vector<std::vector<std::int64_t>> lines;
    for (text::Line line; scanner.NextLine(line);)
        lines.push_back({line.start, line.end, line.next, static_cast<int>(line.lineEnd),
                         line.opening, line.tagEnd, line.closing, line.closingAfterTag});
    return lines;
}

// Each tag and line end at every position across the buffer's edge, for every buffer size
// from the smallest up to a few tags' length more: the scanner sees what it sees in one
// buffer.
TEST(PageScanner, TagsAndLineEndsAcrossEveryBufferEdge) {
    TempDir dir;
    const std::string lines = "a</reririduruv>b<REriRIDURUV=n.inc>c</reririduruv>d\r\n"
                              "e\r\rf\n\n<reririduruv=x.inc>></reririduruv>\r";
    for (std::size_t buffer = 52; buffer <= 52 + 3 * text::kClosingTagLength; ++buffer) {
        for (std::size_t pad = 0; pad <= buffer + text::kClosingTagLength; ++pad) {
            const std::string page = std::string(pad, 'x') + lines + std::string(pad % 5, 'y') +
                                     lines + std::string(buffer, 'z');
            WriteFile(dir / "page", page);
            text::SetBufferSizes(256 * 1024, 64 * 1024);
            const auto whole = Scan(dir / "page");
            text::SetBufferSizes(buffer, 1);
            ASSERT_EQ(Scan(dir / "page"), whole) << "buffer " << buffer << ", pad " << pad;
        }
    }
    text::SetBufferSizes(256 * 1024, 64 * 1024);
}

} // namespace
