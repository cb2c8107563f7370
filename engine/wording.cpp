#include "wording.h"

#include "mod_global.h"

#include <cstdio>

std::string StatusText(const std::string& page, PageStage stage) {
    switch (stage) {
    case PageStage::BackingUp:
        return "processing " + page + " (backing up)...";
    case PageStage::Saving:
        return "processing " + page + " (saving new)...";
    case PageStage::Started:
        break;
    }
    return "processing " + page + "...";
}

std::string WaitingText(const std::string& folder) {
    return "waiting for another run in " + folder + "...";
}

namespace {

struct Wording {
    const char* message; // followed by the page, or by the path where namesPath
    bool namesPath;
    const char* reason; // of the processed-files entry
};

Wording WordingOf(ProblemKind kind) {
    switch (kind) {
    case ProblemKind::MissingInclude:
        return {"Could not locate replacement file ", true, "missing repl. file"};
    case ProblemKind::UnmatchedTags:
        return {"Unmatched tags found in ", false, "unmatched tags"};
    case ProblemKind::NestedTags:
        return {"Nested tags found in ", true, "nested tags"};
    case ProblemKind::BackupFailed:
        return {"Could not backup file ", false, "backup err"};
    case ProblemKind::CreateFailed:
        return {"Could not create replaced file ", false, "create error"};
    case ProblemKind::ReadFailed:
        return {"Could not read file ", false, "read error"};
    case ProblemKind::PageChanged:
        return {"Page changed during processing ", false, "page changed"};
    case ProblemKind::FolderUnreadable:
        return {"Could not read folder ", true, ""};
    case ProblemKind::FolderNotFlushed:
        return {"Could not flush folder ", true, ""};
    }
    return {"", false, ""};
}

} // namespace

std::string ProblemMessage(const Problem& problem) {
    const Wording wording = WordingOf(problem.kind);
    return wording.message + (wording.namesPath ? problem.path : problem.page);
}

std::string ProblemLogLine(const Problem& problem) {
    const Wording wording = WordingOf(problem.kind);
    const bool inPage = wording.namesPath && !problem.page.empty();
    return " -" + ProblemMessage(problem) + (inPage ? " in " + problem.page : "");
}

std::string ProcessedEntry(const std::string& page, const PageOutcome& outcome) {
    switch (outcome.result) {
    case PageResult::Aborted:
        return {};
    case PageResult::Failed:
        return ">" + page + "," + WordingOf(outcome.problem->kind).reason;
    case PageResult::Replaced:
    case PageResult::NoBlocks:
        break;
    }
    return page + "," + std::to_string(outcome.blocks);
}

std::string ProcessedLine(std::int64_t count) {
    return ">" + std::to_string(count) + " file(s) processed. ";
}

std::string SkippedLine(std::int64_t count) {
    return ">" + std::to_string(count) + " file(s) skipped.";
}

std::string LogHeaderLine(const std::string& folder, const std::tm& when) {
    const int hour12 = when.tm_hour % 12 == 0 ? 12 : when.tm_hour % 12;
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%d/%d/%02d %02d:%02d %s", when.tm_mon + 1, when.tm_mday,
                  when.tm_year % 100, hour12, when.tm_min, when.tm_hour < 12 ? "AM" : "PM");
    return "Processing path: " + folder + " - " + stamp;
}

std::string ProcessedEntry(const PageOutcome& outcome) {
    return ProcessedEntry(outcome.page, outcome);
}

void ReportProblem(RunEvents& events, bool errorMessagesOff, const Problem& problem, Disk& disk) {
    if (errorMessagesOff && modGlobal::AppendLogLine(ProblemLogLine(problem), disk))
        return;
    events.showProblem(problem);
}
