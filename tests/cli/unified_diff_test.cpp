// --diff's hunks are diff -u's: generated pairs of pages of every shape, compared with the
// real diff(1); a page whose changes span more than the bound gives no diff.

#include "support.h"
#include "unified_diff.h"

#include <fcntl.h>
#include <gtest/gtest.h>

using namespace testing_support;

namespace {

// Lines "line 1" ... "line count", each with its LF.
std::string Lines(int count) {
    std::string text;
    for (int i = 1; i <= count; ++i)
        text += "line " + std::to_string(i) + "\n";
    return text;
}

// The text with line number `at` (from 1) replaced by `with` (removed when empty).
std::string Change(std::string text, int at, const std::string& with) {
    const std::string line = "line " + std::to_string(at) + "\n";
    return text.replace(text.find(line), line.size(), with);
}

TEST(UnifiedDiff, HunksAsDiffGroupsThem) {
    const std::string base = Lines(40);
    // clang-format off
    const std::vector<std::pair<const char*, std::string>> rows = {
        {"at the start", Change(base, 1, "first\n")},
        {"at the end", Change(base, 40, "last\nmore\n")},
        {"six lines apart: one hunk", Change(Change(base, 10, "new 10\n"), 17, "new 17\n")},
        {"seven lines apart: two hunks", Change(Change(base, 10, "new 10\n"), 18, "")},
        {"lines added", Change(base, 20, "line 20\nadded 1\nadded 2\n")},
        {"no final line end on one side", base.substr(0, base.size() - 1)},
        {"no final line end on either", Change(base, 3, "x\n").substr(0, base.size() - 2)},
        {"CR+LF against LF", Change(Change(base, 5, "line 5\r\n"), 6, "line 6\r\n")},
    };
    // clang-format on
    TempDir dir;
    std::string diff;
    // The diff of the files a and b, from disk: 0 or an errno value.
    const auto diffOf = [&](const std::string& before, const std::string& after) {
        WriteFile(dir / "a", before);
        WriteFile(dir / "b", after);
        const FileDescriptor a(::open((dir / "a").c_str(), O_RDONLY));
        const FileDescriptor b(::open((dir / "b").c_str(), O_RDONLY));
        return UnifiedDiffOfFiles(RealDisk(), a.get(), b.get(), "a/p", "b/p", diff);
    };
    for (const auto& [what, after] : rows) {
        SCOPED_TRACE(what);
        ASSERT_EQ(diffOf(base, after), 0);
        const ProgramRun expected =
            RunProgram({"diff", "-u", "--label", "a/p", "--label", "b/p", dir / "a", dir / "b"});
        ASSERT_EQ(expected.status, 1) << "diff(1) must be installed: " << expected.err;
        EXPECT_EQ(diff, expected.out);
    }
    // Changes from the first line to the last of a long page are not diffed in memory.
    const std::string longPage = Lines(kMostDiffLines + 10);
    EXPECT_EQ(diffOf(longPage, Change(Change(longPage, 1, "x\n"), kMostDiffLines + 10, "")), EFBIG);
}

} // namespace
