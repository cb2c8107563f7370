#include "unified_diff.h"

#include <algorithm>
#include <gtest/gtest.h>
#include <random>
#include <regex>
#include <sstream>

namespace {

std::string Hunks(std::string_view before, std::string_view after) {
    const std::string diff = UnifiedDiff(before, after, "a/p", "b/p");
    const std::string header = "--- a/p\n+++ b/p\n";
    if (diff.compare(0, header.size(), header) != 0)
        return "missing header: " + diff;
    return diff.substr(header.size());
}

std::string Numbers(int from, int to) {
    std::string text;
    for (int i = from; i <= to; ++i)
        text += std::to_string(i) + "\n";
    return text;
}

TEST(UnifiedDiff, EqualTextsGiveNothing) {
    EXPECT_EQ(UnifiedDiff("", "", "a/p", "b/p"), "");
    EXPECT_EQ(UnifiedDiff("a\r\nb", "a\r\nb", "a/p", "b/p"), "");
}

TEST(UnifiedDiff, HeadersNameTheTwoSides) {
    EXPECT_EQ(UnifiedDiff("a\nb\nc\n", "a\nB\nc\n", "a/blog/post.htm", "b/blog/post.htm"),
              "--- a/blog/post.htm\n+++ b/blog/post.htm\n@@ -1,3 +1,3 @@\n a\n-b\n+B\n c\n");
}

TEST(UnifiedDiff, ThreeLinesOfContextAndHunksJoinedAcrossSixLines) {
    // As diff -u: changes with six unchanged lines between them share a hunk, with seven
    // they do not.
    std::string before = Numbers(1, 20);
    std::string sixApart = before;
    sixApart.replace(sixApart.find("\n5\n") + 1, 1, "X");
    std::string sevenApart = sixApart;
    sixApart.replace(sixApart.find("\n12\n") + 1, 2, "Y");
    sevenApart.replace(sevenApart.find("\n13\n") + 1, 2, "Y");

    EXPECT_EQ(Hunks(before, sixApart), "@@ -2,14 +2,14 @@\n 2\n 3\n 4\n-5\n+X\n 6\n 7\n 8\n 9\n"
                                       " 10\n 11\n-12\n+Y\n 13\n 14\n 15\n");
    EXPECT_EQ(Hunks(before, sevenApart),
              "@@ -2,7 +2,7 @@\n 2\n 3\n 4\n-5\n+X\n 6\n 7\n 8\n"
              "@@ -10,7 +10,7 @@\n 10\n 11\n 12\n-13\n+Y\n 14\n 15\n 16\n");
}

TEST(UnifiedDiff, RangesOfOneLineAndOfNoLine) {
    EXPECT_EQ(Hunks("x\n", "y\n"), "@@ -1 +1 @@\n-x\n+y\n");
    EXPECT_EQ(Hunks("", "a\nb\n"), "@@ -0,0 +1,2 @@\n+a\n+b\n");
    EXPECT_EQ(Hunks("a\nb\n", ""), "@@ -1,2 +0,0 @@\n-a\n-b\n");
    // Lines added at the end have context before them only.
    EXPECT_EQ(Hunks(Numbers(1, 4), Numbers(1, 6)), "@@ -2,3 +2,5 @@\n 2\n 3\n 4\n+5\n+6\n");
}

TEST(UnifiedDiff, LastLineWithoutLineFeedIsMarked) {
    EXPECT_EQ(Hunks("a\nb", "a\nc"), "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n"
                                     "+c\n\\ No newline at end of file\n");
    // Only the line feed differs: the line counts as changed.
    EXPECT_EQ(Hunks("a\nb", "a\nb\n"),
              "@@ -1,2 +1,2 @@\n a\n-b\n\\ No newline at end of file\n+b\n");
    // An unchanged last line without line feed, as context.
    EXPECT_EQ(Hunks("a\nb\nend", "a\nB\nend"),
              "@@ -1,3 +1,3 @@\n a\n-b\n+B\n end\n\\ No newline at end of file\n");
}

TEST(UnifiedDiff, CarriageReturnsAndOtherBytesStayInTheirLines) {
    EXPECT_EQ(Hunks("a\r\nb\r\nc\r\n", "a\r\nB\r\nc\r\n"),
              "@@ -1,3 +1,3 @@\n a\r\n-b\r\n+B\r\n c\r\n");
    // A line end of a CR alone is no line end to diff(1): the page is one line.
    EXPECT_EQ(Hunks("a\rb\r", "a\rc\r"), "@@ -1 +1 @@\n-a\rb\r\n\\ No newline at end of file\n"
                                         "+a\rc\r\n\\ No newline at end of file\n");
    const std::string before("x\0\xff\n", 4);
    const std::string after("x\0\xfe\n", 4);
    EXPECT_EQ(Hunks(before, after), "@@ -1 +1 @@\n-" + before + "+" + after);
}

// What a unified diff says, read back.
struct Hunk {
    std::size_t beforeStart = 0, beforeCount = 0, afterStart = 0, afterCount = 0;
    std::vector<std::pair<char, std::string>> lines; // mark, line with its LF if any
};

std::vector<std::string> SplitKeepingLineFeeds(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::vector<Hunk> ParseHunks(const std::string& diff) {
    static const std::regex header("@@ -([0-9]+)(,([0-9]+))? \\+([0-9]+)(,([0-9]+))? @@\n");
    std::vector<Hunk> hunks;
    for (const std::string& line : SplitKeepingLineFeeds(diff)) {
        std::smatch match;
        if (std::regex_match(line, match, header)) {
            Hunk hunk;
            hunk.beforeStart = std::stoul(match[1]);
            hunk.beforeCount = match[3].matched ? std::stoul(match[3]) : 1;
            hunk.afterStart = std::stoul(match[4]);
            hunk.afterCount = match[6].matched ? std::stoul(match[6]) : 1;
            hunks.push_back(hunk);
        } else if (line == "\\ No newline at end of file\n") {
            hunks.back().lines.back().second.pop_back();
        } else if (!hunks.empty()) {
            hunks.back().lines.push_back({line[0], line.substr(1)});
        }
    }
    return hunks;
}

// The length of a longest common sequence of lines: a shortest diff changes every other line.
std::size_t CommonLines(const std::vector<std::string>& a, const std::vector<std::string>& b) {
    std::vector<std::vector<std::size_t>> length(a.size() + 1,
                                                 std::vector<std::size_t>(b.size() + 1, 0));
    for (std::size_t i = 1; i <= a.size(); ++i)
        for (std::size_t j = 1; j <= b.size(); ++j)
            length[i][j] = a[i - 1] == b[j - 1] ? length[i - 1][j - 1] + 1
                                                : std::max(length[i - 1][j], length[i][j - 1]);
    return length[a.size()][b.size()];
}

std::string RandomText(std::mt19937& random) {
    std::string text;
    const int lines = static_cast<int>(random() % 25);
    for (int i = 0; i < lines; ++i) {
        text += "line " + std::to_string(random() % 6);
        text += random() % 4 == 0 ? "\r\n" : "\n";
    }
    if (random() % 3 == 0)
        text += "tail";
    return text;
}

// Random texts, diffed and read back: the hunks turn the one text into the other exactly,
// their headers count their lines, they carry at most three lines of context at either end
// and more than six between them, and they change no more lines than a shortest diff.
TEST(UnifiedDiff, HunksTurnTheOldTextIntoTheNewAndAreShortest) {
    std::mt19937 random(20260412);
    for (int round = 0; round < 400; ++round) {
        std::string before = RandomText(random);
        std::string after = round % 2 == 0 ? RandomText(random) : before;
        if (round % 2 == 1 && !after.empty())
            after.insert(random() % after.size(), "line 9\n");
        SCOPED_TRACE("before [" + before + "] after [" + after + "]");
        const std::vector<std::string> beforeLines = SplitKeepingLineFeeds(before);
        const std::vector<std::string> afterLines = SplitKeepingLineFeeds(after);
        const std::string diff = UnifiedDiff(before, after, "a/p", "b/p");
        if (before == after) {
            EXPECT_EQ(diff, "");
            continue;
        }
        const std::vector<Hunk> hunks = ParseHunks(diff);
        ASSERT_FALSE(hunks.empty());

        std::vector<std::string> rebuilt;
        std::size_t next = 0; // next line of before, 0-based
        std::size_t changed = 0;
        for (const Hunk& hunk : hunks) {
            const std::size_t first =
                hunk.beforeCount == 0 ? hunk.beforeStart : hunk.beforeStart - 1;
            ASSERT_GE(first, next);
            if (next > 0) {
                EXPECT_GT(first - next, 0u) << "hunks that should be one";
            }
            rebuilt.insert(rebuilt.end(), beforeLines.begin() + next, beforeLines.begin() + first);
            EXPECT_EQ(hunk.afterCount == 0 ? hunk.afterStart : hunk.afterStart - 1, rebuilt.size());
            std::size_t beforeSeen = 0, afterSeen = 0, leading = 0, trailing = 0;
            bool changeSeen = false;
            next = first;
            for (const auto& [mark, line] : hunk.lines) {
                if (mark == ' ' || mark == '-') {
                    ASSERT_LT(next, beforeLines.size());
                    EXPECT_EQ(line, beforeLines[next]);
                    ++next;
                    ++beforeSeen;
                }
                if (mark == ' ' || mark == '+') {
                    rebuilt.push_back(line);
                    ++afterSeen;
                }
                if (mark == ' ') {
                    ++(changeSeen ? trailing : leading);
                } else {
                    changeSeen = true;
                    trailing = 0;
                    ++changed;
                }
            }
            EXPECT_EQ(beforeSeen, hunk.beforeCount);
            EXPECT_EQ(afterSeen, hunk.afterCount);
            EXPECT_TRUE(leading == 3 || (leading < 3 && first == 0)) << leading;
            EXPECT_TRUE(trailing == 3 || (trailing < 3 && next == beforeLines.size())) << trailing;
        }
        rebuilt.insert(rebuilt.end(), beforeLines.begin() + next, beforeLines.end());
        EXPECT_EQ(rebuilt, afterLines);
        EXPECT_EQ(changed, beforeLines.size() + afterLines.size() -
                               2 * CommonLines(beforeLines, afterLines));
    }
}

} // namespace
