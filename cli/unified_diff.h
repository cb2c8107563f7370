#pragma once

// The unified diff that --diff prints: what `diff -u` shows for two byte strings.

#include <string>
#include <string_view>

// The differences of after against before as a unified diff: "--- " + beforeName and
// "+++ " + afterName, then hunks with three lines of context. Lines end at LF, as diff(1)
// reads them, so a CR of a CR+LF line end stays part of its line and is printed as it
// stands; a last line without LF is followed by "\ No newline at end of file". Empty when
// the two are equal.
std::string UnifiedDiff(std::string_view before, std::string_view after,
                        const std::string& beforeName, const std::string& afterName);
