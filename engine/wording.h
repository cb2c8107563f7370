#pragma once

// Every text that the pass and the run are shown with: status line, processed-files list,
// problem messages and error-log lines. Hosts word the events of run_host.h here.

#include "run_host.h"

#include <cstdint>
#include <ctime>
#include <string>

class Disk;

// A problem goes to the error log when "Error msgs off" is checked, else to the host. A
// line that cannot be written to the log is shown instead: no report is ever lost.
void ReportProblem(RunEvents& events, bool errorMessagesOff, const Problem& problem, Disk& disk);

// "processing PAGE...", "processing PAGE (backing up)...", "processing PAGE (saving new)...".
std::string StatusText(const std::string& page, PageStage stage);

// "waiting for another run in FOLDER...": the status line while another run holds the
// folder.
std::string WaitingText(const std::string& folder);

// The problem's message box text.
std::string ProblemMessage(const Problem& problem);
// Its error-log line: " -" + the message, and " in " + the page where the message names
// only the include file.
std::string ProblemLogLine(const Problem& problem);

// "PAGE,N" for a finished page, ">PAGE,reason" for a failed one; empty when aborted.
std::string ProcessedEntry(const std::string& page, const PageOutcome& outcome);
std::string ProcessedEntry(const PageOutcome& outcome);

inline constexpr char kAbortedLine[] = ">>processing aborted!";
std::string ProcessedLine(std::int64_t count); // ">N file(s) processed. "
std::string SkippedLine(std::int64_t count);   // ">N file(s) skipped."

// "Processing path: " + folder + " - " + date as m/d/yy + " " + time as hh:mm AM/PM.
std::string LogHeaderLine(const std::string& folder, const std::tm& when);
