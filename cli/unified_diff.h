#pragma once

// The unified diff that --diff prints: what `diff -u` shows for two byte strings.

#include <cstddef>
#include <string>
#include <string_view>

class Disk;

// The differences of after against before as a unified diff: "--- " + beforeName and
// "+++ " + afterName, then hunks with three lines of context. Lines end at LF, as diff(1)
// reads them, so a CR of a CR+LF line end stays part of its line and is printed as it
// stands; a last line without LF is followed by "\ No newline at end of file". Empty when
// the two are equal. firstLine is the number of lines that stand before both texts (their
// hunks' line numbers start after them).
std::string UnifiedDiff(std::string_view before, std::string_view after,
                        const std::string& beforeName, const std::string& afterName,
                        std::size_t firstLine = 0);

// The most of each file that UnifiedDiffOfFiles holds: the lines from the first change to
// the last, with their context.
inline constexpr std::size_t kMostDiffBytes = 4 << 20;
inline constexpr std::size_t kMostDiffLines = 20000;

// UnifiedDiff of two open files, read in blocks: only the lines from their first difference
// to their last (and three lines of context around them) are held in memory. 0 with the
// diff in out; EFBIG when that part of either file is larger than kMostDiffBytes or
// kMostDiffLines; another errno value when a file could not be read.
int UnifiedDiffOfFiles(Disk& disk, int before, int after, const std::string& beforeName,
                       const std::string& afterName, std::string& out);
