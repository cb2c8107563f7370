#pragma once

// An in-memory model of one page's refresh, written for clarity rather than speed: the
// whole page and every include file are plain strings. The fuzz target compares the
// streaming engine against it byte for byte.

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace model {

enum class LineEnd { None, CR, CRLF, LF };

struct Line {
    std::string text; // without its line end
    LineEnd end = LineEnd::None;
};

// Lines end at CR+LF, CR or a lone LF; a last line without a line end counts when it is
// not empty. An empty text has no lines.
std::vector<Line> SplitLines(const std::string& bytes);

// Position of the first occurrence of lowerPattern in text, ignoring ASCII letter case.
std::string::size_type FindIgnoringCase(const std::string& text, const std::string& lowerPattern,
                                        std::string::size_type from = 0);

// The include path of a name: backslashes read as "/", a leading "/" makes it absolute,
// anything else lies in folder (which ends with "/").
std::string ResolveIncludePath(const std::string& folder, std::string name);

// What the file system holds under an include path, as far as the model can tell.
struct IncludeLookup {
    enum class Kind {
        Missing,      // no ordinary file there
        Found,        // an ordinary file with these bytes
        Unpredictable // outside what the caller controls: the input cannot be judged
    };
    Kind kind = Kind::Missing;
    std::string bytes;
};

struct Options {
    std::string folder;   // ends with "/"
    std::string pageName; // bare name
    // The main loop's event pump asks to stop at its n-th call (1-based); 0: never.
    long abortAtEventPump = 0;
};

enum class Result { Aborted, Replaced, NoBlocks, Failed, Unpredictable };

struct Outcome {
    Result result = Result::NoBlocks;
    int blocks = 0;
    std::string refreshed; // the new page, for Replaced
    std::string entry;     // the processed-list entry ("" when aborted)
    std::string message;   // the problem's message text, for Failed
    std::string logLine;   // its error-log line, for Failed
    // Every include file whose bytes went into the page, for the idempotence check.
    std::vector<std::string> includesUsed;
};

Outcome RefreshPage(const std::string& page, const Options& options,
                    const std::function<IncludeLookup(const std::string& path)>& lookup);

} // namespace model
