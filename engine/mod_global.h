#pragma once

// Small shared routines: path completion, existence tests, the error log, and the few
// names and byte helpers every layer shares.

#include "disk.h"

#include <string>

namespace modGlobal {

// The path with the platform's separator appended when it does not already end with one.
std::string AddBackslash(const std::string& path);

// True when an ordinary file (or a link to one) of that name exists; a folder gives false.
bool CheckFileExists(const std::string& name, Disk& disk = RealDisk());

// True when a folder (or a link to one) of that name exists.
bool CheckFolderExists(const std::string& name);

// Appends the line and a CR+LF to the error log, creating the log and its folder when
// missing. Returns false when the line could not be written, so the caller can show the
// report another way: no report may be lost.
bool AppendLogLine(const std::string& line, Disk& disk = RealDisk());

// Where the error log lives: "error.log" in the given folder, or a file of the caller's
// choosing. Until one of them is called the log goes to "error.log" in the working folder.
void SetLogFolder(const std::string& folder);
void SetLogFile(const std::string& file);

// Letter case of ASCII letters only; every other byte stays as it is.
inline char AsciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}
std::string AsciiLowered(std::string text);

// Two upper-case hexadecimal digits of a byte, appended to text.
void AppendHex(std::string& text, unsigned char byte);

// The text with control characters and the backslash as C escapes (\n, \r, \t, \\, \xNN):
// one line that says every byte.
std::string CEscaped(const std::string& text);

} // namespace modGlobal
