#pragma once

// CSHFileOp: fill a source and a destination list, set a few options, then move, copy,
// delete or rename in one call. Names are taken literally ("*" and "?" are ordinary
// characters of a file name here); a copy onto an existing file replaces it atomically.

#include "disk.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// Operation codes and the option flags that decide what an operation does.
inline constexpr std::uint32_t FO_MOVE = 1;
inline constexpr std::uint32_t FO_COPY = 2;
inline constexpr std::uint32_t FO_DELETE = 3;
inline constexpr std::uint32_t FO_RENAME = 4;

inline constexpr std::uint16_t FOF_MULTIDESTFILES = 0x0001;
inline constexpr std::uint16_t FOF_SILENT = 0x0004;
inline constexpr std::uint16_t FOF_RENAMEONCOLLISION = 0x0008;
inline constexpr std::uint16_t FOF_NOCONFIRMATION = 0x0010;
inline constexpr std::uint16_t FOF_ALLOWUNDO = 0x0040;
inline constexpr std::uint16_t FOF_FILESONLY = 0x0080;
inline constexpr std::uint16_t FOF_SIMPLEPROGRESS = 0x0100;
inline constexpr std::uint16_t FOF_NOCONFIRMMKDIR = 0x0200;

class CSHFileOp {
  public:
    // The error of an operation called with an empty source list.
    static constexpr std::int32_t kNoSourceFiles = static_cast<std::int32_t>(0x800403E8);

    // Class_Initialize; every file-system call goes through disk.
    explicit CSHFileOp(Disk& disk = RealDisk());

    void SetAllowUndo(bool bAllowUndo) { allowUndo_ = bAllowUndo; }
    bool AllowUndo() const { return allowUndo_; }
    void SetConfirmMakeDir(bool bConfirmMakeDir) { confirmMakeDir_ = bConfirmMakeDir; }
    bool ConfirmMakeDir() const { return confirmMakeDir_; }
    void SetConfirmOperation(bool bConfirmOperation) { confirmOperation_ = bConfirmOperation; }
    bool ConfirmOperation() const { return confirmOperation_; }
    void SetCustomText(const std::string& sCustomText) { customText_ = sCustomText; }
    const std::string& CustomText() const { return customText_; }
    void SetIncludeDirectories(bool bIncludeDirectories) {
        includeDirectories_ = bIncludeDirectories;
    }
    bool IncludeDirectories() const { return includeDirectories_; }
    void SetParentWnd(std::uint32_t hParentWnd) { parentWnd_ = hParentWnd; }
    std::uint32_t ParentWnd() const { return parentWnd_; }
    void SetRenameOnCollision(bool bRenameOnCollision) { renameOnCollision_ = bRenameOnCollision; }
    bool RenameOnCollision() const { return renameOnCollision_; }
    void SetSilentMode(bool bSilentMode) { silentMode_ = bSilentMode; }
    bool SilentMode() const { return silentMode_; }

    // True when the whole operation succeeded; the first failure ends it. With an empty
    // source list nothing is done: false, with ErrorNumber() kNoSourceFiles and
    // ErrorDescription() "No source files specified file operation". An empty name names
    // no file: false, with ENOENT.
    bool MoveFiles() { return PerformFileOperation(FO_MOVE); }
    bool CopyFiles() { return PerformFileOperation(FO_COPY); }
    bool DeleteFiles() { return PerformFileOperation(FO_DELETE); }
    bool RenameFiles() { return PerformFileOperation(FO_RENAME); }

    void ClearSourceFiles() { sourceFiles_.reset(); }
    void AddSourceFile(const std::string& sFilename);
    void ClearDestFiles() { destFiles_.reset(); }
    void AddDestFile(const std::string& sFilename);

    // The error of the last operation: 0 and empty after a success; an errno value and
    // its text after a failure of the system's.
    std::int32_t ErrorNumber() const { return errorNumber_; }
    const std::string& ErrorDescription() const { return errorDescription_; }

    // The flags an operation runs with, built from the options and the lists.
    std::uint16_t Flags() const;

  private:
    bool PerformFileOperation(std::uint32_t operation);
    int Transfer(const std::string& source, const std::string& destination,
                 std::uint32_t operation);
    int Delete(const std::string& source);

    Disk& disk_;
    bool allowUndo_;
    bool confirmMakeDir_;
    bool confirmOperation_;
    std::string customText_;
    bool includeDirectories_;
    std::uint32_t parentWnd_;
    bool renameOnCollision_;
    bool silentMode_;
    std::optional<std::vector<std::string>> sourceFiles_;
    std::optional<std::vector<std::string>> destFiles_;
    std::int32_t errorNumber_ = 0;
    std::string errorDescription_;
};

// The number-th name that items colliding on name get: name itself, then "page (2).html",
// "page (3).html"... The extension of a folder, and the leading dot of a hidden name,
// stay part of the stem.
std::string NumberedName(const std::string& name, int number, bool folder);
