#pragma once

// Small shared routines: path completion, existence tests and the error log.

#include <string>

namespace modGlobal {

// The path with the platform's separator appended when it does not already end with one.
std::string AddBackslash(const std::string& path);

// True when an ordinary file (or a link to one) of that name exists; a folder gives false.
bool CheckFileExists(const std::string& name);

// True when a folder (or a link to one) of that name exists.
bool CheckFolderExists(const std::string& name);

// Appends the line and a CR+LF to the error log, creating the log and its folder when
// missing. Returns false when the line could not be written, so the caller can show the
// report another way: no report may be lost.
bool AppendLogLine(const std::string& line);

// Where the error log lives: "error.log" in the given folder, or a file of the caller's
// choosing. Until one of them is called the log goes to "error.log" in the working folder.
void SetLogFolder(const std::string& folder);
void SetLogFile(const std::string& file);
std::string LogFileName();

} // namespace modGlobal
