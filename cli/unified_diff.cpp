#include "unified_diff.h"

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

void AppendLine(std::string& out, char mark, std::string_view line) {
    out += mark;
    out += line;
    if (line.empty() || line.back() != '\n')
        out += "\n\\ No newline at end of file\n";
}

} // namespace

std::string UnifiedDiff(std::string_view before, std::string_view after,
                        const std::string& beforeName, const std::string& afterName) {
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

        out += "@@ -" + Range(beforeStart, beforeEnd - beforeStart) + " +" +
               Range(afterStart, afterEnd - afterStart) + " @@\n";
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
