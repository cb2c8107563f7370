#include "unified_diff.h"

#include "disk.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <dtl/dtl.hpp>
#include <vector>

namespace {

constexpr std::size_t kContext = 3;

// The lines of text, each with its LF (the last one may have none).
std::vector<std::string_view> SplitLines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t start = 0;
    while (start < text.size()) {
        const std::size_t lf = text.find('\n', start);
        const std::size_t end = lf == std::string_view::npos ? text.size() : lf + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// One run of lines removed from before and put in after, at 0-based line positions.
struct Change {
    std::size_t beforeStart = 0;
    std::size_t beforeCount = 0;
    std::size_t afterStart = 0;
    std::size_t afterCount = 0;
};

std::vector<Change> FindChanges(const std::vector<std::string_view>& before,
                                const std::vector<std::string_view>& after) {
    dtl::Diff<std::string_view, std::vector<std::string_view>> diff(before, after);
    diff.compose();
    std::vector<Change> changes;
    std::size_t beforeLine = 0;
    std::size_t afterLine = 0;
    bool inChange = false;
    for (const auto& [line, info] : diff.getSes().getSequence()) {
        (void)line;
        if (info.type == dtl::SES_COMMON) {
            inChange = false;
            ++beforeLine;
            ++afterLine;
            continue;
        }
        if (!inChange) {
            changes.push_back({beforeLine, 0, afterLine, 0});
            inChange = true;
        }
        if (info.type == dtl::SES_DELETE) {
            ++changes.back().beforeCount;
            ++beforeLine;
        } else {
            ++changes.back().afterCount;
            ++afterLine;
        }
    }
    return changes;
}

// A hunk header's range as diff(1) writes it: "start,count", only "start" for one line,
// and for no lines the line before the range with ",0".
std::string Range(std::size_t start, std::size_t count) {
    if (count == 0)
        return std::to_string(start) + ",0";
    if (count == 1)
        return std::to_string(start + 1);
    return std::to_string(start + 1) + "," + std::to_string(count);
}

constexpr std::size_t kBlock = 64 * 1024;

// One of the two files being compared, read in blocks.
struct Side {
    Disk& disk;
    int fd;
    off_t size = 0;
    std::string block;

    // The bytes [at, at + count) in block; false when they could not be read.
    bool Read(off_t at, std::size_t count) {
        block.resize(count);
        for (std::size_t done = 0; done < count;) {
            std::size_t got = 0;
            if (disk.Read(fd, block.data() + done, count - done, at + static_cast<off_t>(done),
                          got) != 0 ||
                got == 0)
                return false;
            done += got;
        }
        return true;
    }
};

// Where the bytes that both sides share at their start end, moved back to the start of a
// line; lines counts the lines before it.
bool CommonLines(Side& a, Side& b, off_t& lineStart, std::size_t& lines) {
    const off_t common = std::min(a.size, b.size);
    lineStart = 0;
    lines = 0;
    for (off_t at = 0; at < common;) {
        const std::size_t count = static_cast<std::size_t>(std::min<off_t>(kBlock, common - at));
        if (!a.Read(at, count) || !b.Read(at, count))
            return false;
        const std::size_t same = static_cast<std::size_t>(
            std::mismatch(a.block.begin(), a.block.end(), b.block.begin()).first - a.block.begin());
        for (std::size_t i = 0; i < same; ++i)
            if (a.block[i] == '\n') {
                ++lines;
                lineStart = at + static_cast<off_t>(i) + 1;
            }
        if (same < count)
            break;
        at += static_cast<off_t>(count);
    }
    return true;
}

// How many bytes both sides share at their end, not reaching back before from, cut so that
// they start a line on both sides.
bool CommonEnd(Side& a, Side& b, off_t from, off_t& suffix) {
    const off_t room = std::min(a.size, b.size) - from;
    suffix = 0;
    while (suffix < room) {
        const std::size_t count = static_cast<std::size_t>(std::min<off_t>(kBlock, room - suffix));
        if (!a.Read(a.size - suffix - static_cast<off_t>(count), count) ||
            !b.Read(b.size - suffix - static_cast<off_t>(count), count))
            return false;
        std::size_t same = 0;
        while (same < count && a.block[count - 1 - same] == b.block[count - 1 - same])
            ++same;
        suffix += static_cast<off_t>(same);
        if (same < count)
            break;
    }
    // The shared end starts a line where both sides have a line end before it, or where
    // one side's changed part is empty and the other's ends with a line end.
    const auto startsLine = [&](Side& side) {
        const off_t start = side.size - suffix;
        return start == from || (side.Read(start - 1, 1) && side.block[0] == '\n');
    };
    if (suffix == 0 || (startsLine(a) && startsLine(b)))
        return true;
    // Else it starts after the first line end within it, which both sides share.
    for (off_t at = a.size - suffix; at < a.size; at += static_cast<off_t>(kBlock)) {
        const std::size_t count = static_cast<std::size_t>(std::min<off_t>(kBlock, a.size - at));
        if (!a.Read(at, count))
            return false;
        const std::size_t lf = a.block.find('\n');
        if (lf != std::string::npos) {
            suffix = a.size - (at + static_cast<off_t>(lf) + 1);
            return true;
        }
    }
    suffix = 0;
    return true;
}

// Moves at, the start of a line, over up to kContext lines: backwards to the start of the
// first of them, or forwards past the line end of the last. Backwards, taken tells how
// many.
bool OverContext(Side& side, off_t& at, bool backwards, std::size_t& taken) {
    taken = 0;
    std::size_t ends = 0; // line ends passed
    while (backwards ? at > 0 : at < side.size) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<off_t>(kBlock, backwards ? at : side.size - at));
        if (!side.Read(backwards ? at - static_cast<off_t>(count) : at, count))
            return false;
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t index = backwards ? count - 1 - i : i;
            if (side.block[index] != '\n')
                continue;
            // Backwards, the line end just before at ends the first line passed.
            if (++ends == kContext + (backwards ? 1 : 0)) {
                at = backwards ? at - static_cast<off_t>(count) + static_cast<off_t>(index) + 1
                               : at + static_cast<off_t>(index) + 1;
                taken = kContext;
                return true;
            }
        }
        at = backwards ? at - static_cast<off_t>(count) : at + static_cast<off_t>(count);
    }
    taken = std::min(ends, kContext); // backwards, the file's first line starts at 0
    return true;
}

void AppendLine(std::string& out, char mark, std::string_view line) {
    out += mark;
    out += line;
    if (line.empty() || line.back() != '\n')
        out += "\n\\ No newline at end of file\n";
}

} // namespace

std::string UnifiedDiff(std::string_view before, std::string_view after,
                        const std::string& beforeName, const std::string& afterName,
                        std::size_t firstLine) {
    const std::vector<std::string_view> beforeLines = SplitLines(before);
    const std::vector<std::string_view> afterLines = SplitLines(after);
    const std::vector<Change> changes = FindChanges(beforeLines, afterLines);
    if (changes.empty())
        return {};

    std::string out = "--- " + beforeName + "\n+++ " + afterName + "\n";
    std::size_t first = 0;
    while (first < changes.size()) {
        // Changes closer together than twice the context share one hunk.
        std::size_t last = first;
        while (last + 1 < changes.size() &&
               changes[last + 1].beforeStart -
                       (changes[last].beforeStart + changes[last].beforeCount) <=
                   2 * kContext)
            ++last;
        const Change& head = changes[first];
        const Change& tail = changes[last];
        const std::size_t leading = std::min(head.beforeStart, kContext);
        const std::size_t tailEnd = tail.beforeStart + tail.beforeCount;
        const std::size_t trailing = std::min(beforeLines.size() - tailEnd, kContext);
        const std::size_t beforeStart = head.beforeStart - leading;
        const std::size_t afterStart = head.afterStart - leading;
        const std::size_t beforeEnd = tailEnd + trailing;
        const std::size_t afterEnd = tail.afterStart + tail.afterCount + trailing;

        out += "@@ -" + Range(firstLine + beforeStart, beforeEnd - beforeStart) + " +" +
               Range(firstLine + afterStart, afterEnd - afterStart) + " @@\n";
        std::size_t line = beforeStart;
        for (std::size_t i = first; i <= last; ++i) {
            const Change& change = changes[i];
            for (; line < change.beforeStart; ++line)
                AppendLine(out, ' ', beforeLines[line]);
            for (std::size_t k = 0; k < change.beforeCount; ++k)
                AppendLine(out, '-', beforeLines[change.beforeStart + k]);
            for (std::size_t k = 0; k < change.afterCount; ++k)
                AppendLine(out, '+', afterLines[change.afterStart + k]);
            line = change.beforeStart + change.beforeCount;
        }
        for (; line < beforeEnd; ++line)
            AppendLine(out, ' ', beforeLines[line]);
        first = last + 1;
    }
    return out;
}

int UnifiedDiffOfFiles(Disk& disk, int before, int after, const std::string& beforeName,
                       const std::string& afterName, std::string& out) {
    out.clear();
    Side a{disk, before, 0, {}};
    Side b{disk, after, 0, {}};
    struct stat status {};
    if (const int error = disk.StatusOf(before, status))
        return error;
    a.size = status.st_size;
    if (const int error = disk.StatusOf(after, status))
        return error;
    b.size = status.st_size;

    off_t lineStart = 0;
    std::size_t lines = 0;
    off_t suffix = 0;
    if (!CommonLines(a, b, lineStart, lines) || !CommonEnd(a, b, lineStart, suffix))
        return EIO;
    if (a.size == b.size && lineStart + suffix >= a.size)
        return 0; // the same bytes
    off_t from = lineStart;
    off_t afterEnd = a.size - suffix;
    std::size_t leading = 0;
    std::size_t ignored = 0;
    if (!OverContext(a, from, true, leading) || !OverContext(a, afterEnd, false, ignored))
        return EIO;
    const off_t tail = afterEnd - (a.size - suffix); // the context after the changes
    const off_t lengthA = a.size - suffix + tail - from;
    const off_t lengthB = b.size - suffix + tail - from;
    if (std::max(lengthA, lengthB) > static_cast<off_t>(kMostDiffBytes))
        return EFBIG;
    if (!a.Read(from, static_cast<std::size_t>(lengthA)) ||
        !b.Read(from, static_cast<std::size_t>(lengthB)))
        return EIO;
    const auto lineCount = [](const std::string& text) {
        return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
    };
    if (std::max(lineCount(a.block), lineCount(b.block)) > kMostDiffLines)
        return EFBIG;
    out = UnifiedDiff(a.block, b.block, beforeName, afterName, lines - leading);
    return 0;
}
