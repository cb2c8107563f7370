#include "cshfileop.h"

namespace {

std::string DoubleNulBuffer(const std::optional<std::vector<std::string>>& names) {
    std::string buffer;
    if (names) {
        for (const std::string& name : *names) {
            buffer += name;
            buffer += '\0';
        }
    }
    buffer += '\0';
    return buffer;
}

void PutLittleEndian(std::uint8_t* at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i)
        at[i] = static_cast<std::uint8_t>(value >> (8 * i));
}

} // namespace

std::array<std::uint8_t, 30> SHFileOpStruct::Pack(std::uint32_t fromAddress,
                                                  std::uint32_t toAddress,
                                                  std::uint32_t titleAddress) const {
    std::array<std::uint8_t, 30> bytes{};
    PutLittleEndian(&bytes[0], hwnd, 4);
    PutLittleEndian(&bytes[4], wFunc, 4);
    PutLittleEndian(&bytes[8], fromAddress, 4);
    PutLittleEndian(&bytes[12], toAddress, 4);
    PutLittleEndian(&bytes[16], fFlags, 2);
    PutLittleEndian(&bytes[18], fAnyOperationsAborted, 4);
    PutLittleEndian(&bytes[22], hNameMappings, 4);
    PutLittleEndian(&bytes[26], titleAddress, 4);
    return bytes;
}

CSHFileOp::CSHFileOp()
    : allowUndo_(false), confirmMakeDir_(true), confirmOperation_(false), includeDirectories_(true),
      parentWnd_(0), renameOnCollision_(false), silentMode_(false) {}

void CSHFileOp::AddSourceFile(const std::string& sFilename) {
    if (!sourceFiles_)
        sourceFiles_.emplace();
    sourceFiles_->push_back(sFilename);
}

void CSHFileOp::AddDestFile(const std::string& sFilename) {
    if (!destFiles_)
        destFiles_.emplace();
    destFiles_->push_back(sFilename);
}

SHFileOpStruct CSHFileOp::BuildRecord(std::uint32_t operation) const {
    SHFileOpStruct record;
    std::uint16_t flags = 0;
    if (allowUndo_)
        flags |= FOF_ALLOWUNDO;
    if (silentMode_)
        flags |= FOF_SILENT;
    if (renameOnCollision_)
        flags |= FOF_RENAMEONCOLLISION;
    if (!confirmOperation_)
        flags |= FOF_NOCONFIRMATION;
    if (!confirmMakeDir_)
        flags |= FOF_NOCONFIRMMKDIR;
    if (!includeDirectories_)
        flags |= FOF_FILESONLY;
    if (!customText_.empty())
        flags |= FOF_SIMPLEPROGRESS;
    if (destFiles_ && destFiles_->size() > 1)
        flags |= FOF_MULTIDESTFILES;

    record.hwnd = parentWnd_;
    record.wFunc = operation;
    record.pFrom = DoubleNulBuffer(sourceFiles_);
    record.pTo = DoubleNulBuffer(destFiles_);
    record.fFlags = flags;
    record.lpszProgressTitle = customText_ + '\0';
    return record;
}

bool CSHFileOp::PerformFileOperation(std::uint32_t operation) {
    if (!sourceFiles_ || sourceFiles_->empty())
        throw CSHFileOpError(CSHFileOpError::kNoSourceFiles,
                             "No source files specified file operation");
    SHFileOpStruct record = BuildRecord(operation);
    const int result = ShellFileOperation(record);
    return result == 0 && record.fAnyOperationsAborted == 0;
}
