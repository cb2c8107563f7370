#include "reference_model.h"

namespace model {

namespace {

const std::string kOpeningKeyword = "<reririduruv=";
const std::string kClosingTag = "</reririduruv>";

char AsciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

Outcome Failure(const Options& options, int blocks, const std::string& reason,
                const std::string& message, const std::string& logLine) {
    Outcome outcome;
    outcome.result = Result::Failed;
    outcome.blocks = blocks;
    outcome.entry = ">" + options.pageName + "," + reason;
    outcome.message = message;
    outcome.logLine = logLine;
    return outcome;
}

} // namespace

std::vector<Line> SplitLines(const std::string& bytes) {
    std::vector<Line> lines;
    Line current;
    for (std::string::size_type i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') {
            current.end = LineEnd::CRLF;
            ++i;
        } else if (c == '\r') {
            current.end = LineEnd::CR;
        } else if (c == '\n') {
            current.end = LineEnd::LF;
        } else {
            current.text += c;
            continue;
        }
        lines.push_back(current);
        current = Line{};
    }
    if (!current.text.empty())
        lines.push_back(current);
    return lines;
}

std::string::size_type FindIgnoringCase(const std::string& text, const std::string& lowerPattern,
                                        std::string::size_type from) {
    for (std::string::size_type at = from; at + lowerPattern.size() <= text.size(); ++at) {
        bool same = true;
        for (std::string::size_type k = 0; k < lowerPattern.size() && same; ++k)
            same = AsciiLower(text[at + k]) == lowerPattern[k];
        if (same)
            return at;
    }
    return std::string::npos;
}

std::string ResolveIncludePath(const std::string& folder, std::string name) {
    for (char& c : name)
        if (c == '\\')
            c = '/';
    return (!name.empty() && name[0] == '/') ? name : folder + name;
}

Outcome RefreshPage(const std::string& page, const Options& options,
                    const std::function<IncludeLookup(const std::string& path)>& lookup) {
    const std::vector<Line> lines = SplitLines(page);
    const std::string lineEnd = (!lines.empty() && lines[0].end == LineEnd::LF) ? "\n" : "\r\n";

    Outcome outcome;
    std::string out;
    int blocks = 0;
    long eventPumps = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (++eventPumps == options.abortAtEventPump) {
            outcome.result = Result::Aborted;
            return outcome;
        }
        const std::string& line = lines[i].text;
        const auto opening = FindIgnoringCase(line, kOpeningKeyword);
        if (opening == std::string::npos) {
            out += line + lineEnd;
            continue;
        }
        ++blocks;
        const auto tagEnd = line.find('>', opening);
        if (tagEnd == std::string::npos) {
            const std::string message = "Unmatched tags found in " + options.pageName;
            return Failure(options, blocks, "unmatched tags", message, " -" + message);
        }
        const std::string name = line.substr(opening + kOpeningKeyword.size(),
                                             tagEnd - opening - kOpeningKeyword.size());
        const std::string path = ResolveIncludePath(options.folder, name);

        // A name with a NUL byte can name no file at all.
        const IncludeLookup include = name.find('\0') != std::string::npos
                                          ? IncludeLookup{IncludeLookup::Kind::Missing, {}}
                                          : lookup(path);
        if (include.kind == IncludeLookup::Kind::Unpredictable) {
            outcome.result = Result::Unpredictable;
            return outcome;
        }
        if (include.kind == IncludeLookup::Kind::Missing) {
            const std::string message = "Could not locate replacement file " + path;
            return Failure(options, blocks, "missing repl. file", message,
                           " -" + message + " in " + options.pageName);
        }
        if (FindIgnoringCase(include.bytes, kClosingTag) != std::string::npos) {
            const std::string message = "Nested tags found in " + path;
            return Failure(options, blocks, "nested tags", message,
                           " -" + message + " in " + options.pageName);
        }

        std::size_t closingLine = i;
        auto closing = FindIgnoringCase(lines[closingLine].text, kClosingTag);
        while (closing == std::string::npos) {
            if (++closingLine == lines.size()) {
                const std::string message = "Unmatched tags found in " + options.pageName;
                return Failure(options, blocks, "unmatched tags", message, " -" + message);
            }
            closing = FindIgnoringCase(lines[closingLine].text, kClosingTag);
        }

        out += line.substr(0, tagEnd + 1);
        for (const Line& includeLine : SplitLines(include.bytes))
            out += includeLine.text + lineEnd;
        out += lines[closingLine].text.substr(closing) + lineEnd;
        outcome.includesUsed.push_back(path);
        i = closingLine;
    }

    outcome.blocks = blocks;
    outcome.entry = options.pageName + "," + std::to_string(blocks);
    if (blocks == 0) {
        outcome.result = Result::NoBlocks;
        return outcome;
    }
    outcome.result = Result::Replaced;
    outcome.refreshed = out;
    return outcome;
}

} // namespace model
