#pragma once

// CSHFileOp: fill a source and a destination list, set a few options, then move, copy,
// delete or rename in one call, with the shell's semantics. The options and lists are
// turned into the shell's operation record (flags and double-NUL name buffers), which the
// operation hands to ShellFileOperation.

#include <array>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

// Operation codes and option flags of the shell's file-operation record.
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

// The error an operation raises when its source list is empty.
class CSHFileOpError : public std::runtime_error {
  public:
    static constexpr std::int32_t kNoSourceFiles = static_cast<std::int32_t>(0x800403E8);
    CSHFileOpError(std::int32_t number, const std::string& description)
        : std::runtime_error(description), number_(number) {}
    std::int32_t number() const { return number_; }

  private:
    std::int32_t number_;
};

// The shell's SHFILEOPSTRUCTA with its buffers held by value, so it can be inspected as
// data; Pack() lays it out as the 30-byte packed 32-bit record.
struct SHFileOpStruct {
    std::uint32_t hwnd = 0;
    std::uint32_t wFunc = 0;
    std::string pFrom; // names, each followed by NUL, then one more NUL
    std::string pTo;
    std::uint16_t fFlags = 0;
    std::uint32_t fAnyOperationsAborted = 0;
    std::uint32_t hNameMappings = 0;
    std::string lpszProgressTitle; // title followed by NUL

    // The packed record, with the given 32-bit addresses standing for the three buffers.
    std::array<std::uint8_t, 30> Pack(std::uint32_t fromAddress, std::uint32_t toAddress,
                                      std::uint32_t titleAddress) const;
};

// Carries out the record on this system; 0 on success, non-zero on failure. Sets
// fAnyOperationsAborted when part of the work was refused instead of done.
int ShellFileOperation(SHFileOpStruct& record);

class CSHFileOp {
  public:
    CSHFileOp(); // Class_Initialize

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

    // True when the whole operation succeeded and nothing of it was refused. Throws
    // CSHFileOpError when the source list is empty.
    bool MoveFiles() { return PerformFileOperation(FO_MOVE); }
    bool CopyFiles() { return PerformFileOperation(FO_COPY); }
    bool DeleteFiles() { return PerformFileOperation(FO_DELETE); }
    bool RenameFiles() { return PerformFileOperation(FO_RENAME); }

    void ClearSourceFiles() { sourceFiles_.reset(); }
    void AddSourceFile(const std::string& sFilename);
    void ClearDestFiles() { destFiles_.reset(); }
    void AddDestFile(const std::string& sFilename);

    // The record an operation with this code would hand to the shell.
    SHFileOpStruct BuildRecord(std::uint32_t operation) const;

  private:
    bool PerformFileOperation(std::uint32_t operation);

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
};
