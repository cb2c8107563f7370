#include "cshfileop.h"
#include "test_support.h"

#include <functional>
#include <gtest/gtest.h>

using testing_support::FolderNames;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using namespace std::string_literals;

struct OptionCase {
    const char* option;
    std::function<void(CSHFileOp&)> set;
    std::uint16_t flags;
};

} // namespace

TEST(CSHFileOp, StartsWithTheDefaultsThatGiveNoConfirmationAlone) {
    const CSHFileOp op;
    EXPECT_FALSE(op.AllowUndo());
    EXPECT_TRUE(op.ConfirmMakeDir());
    EXPECT_FALSE(op.ConfirmOperation());
    EXPECT_EQ(op.CustomText(), "");
    EXPECT_TRUE(op.IncludeDirectories());
    EXPECT_EQ(op.ParentWnd(), 0u);
    EXPECT_FALSE(op.RenameOnCollision());
    EXPECT_FALSE(op.SilentMode());

    const SHFileOpStruct record = op.BuildRecord(FO_COPY);
    EXPECT_EQ(record.fFlags, FOF_NOCONFIRMATION);
    EXPECT_EQ(record.fFlags, 0x0010);
    EXPECT_EQ(record.hwnd, 0u);
    EXPECT_EQ(record.fAnyOperationsAborted, 0u);
    EXPECT_EQ(record.hNameMappings, 0u);
    EXPECT_EQ(record.lpszProgressTitle, "\0"s);
}

TEST(CSHFileOp, EachOptionSetsItsFlag) {
    const OptionCase cases[] = {
        {"AllowUndo", [](CSHFileOp& op) { op.SetAllowUndo(true); }, 0x0050},
        {"SilentMode", [](CSHFileOp& op) { op.SetSilentMode(true); }, 0x0014},
        {"RenameOnCollision", [](CSHFileOp& op) { op.SetRenameOnCollision(true); }, 0x0018},
        {"ConfirmOperation", [](CSHFileOp& op) { op.SetConfirmOperation(true); }, 0x0000},
        {"ConfirmMakeDir", [](CSHFileOp& op) { op.SetConfirmMakeDir(false); }, 0x0210},
        {"IncludeDirectories", [](CSHFileOp& op) { op.SetIncludeDirectories(false); }, 0x0090},
        {"CustomText", [](CSHFileOp& op) { op.SetCustomText("Saving pages"); }, 0x0110},
        {"ParentWnd", [](CSHFileOp& op) { op.SetParentWnd(0x00C0FFEE); }, 0x0010},
        {"ConfirmMakeDir and IncludeDirectories",
         [](CSHFileOp& op) {
             op.SetConfirmMakeDir(false);
             op.SetIncludeDirectories(false);
         },
         0x0290},
    };
    for (const OptionCase& option : cases) {
        CSHFileOp op;
        op.AddSourceFile("page.html");
        option.set(op);
        EXPECT_EQ(op.BuildRecord(FO_COPY).fFlags, option.flags) << option.option;
    }
}

TEST(CSHFileOp, CustomTextBecomesTheProgressTitle) {
    CSHFileOp op;
    op.SetCustomText("Saving pages");
    EXPECT_EQ(op.BuildRecord(FO_COPY).lpszProgressTitle, "Saving pages\0"s);
}

TEST(CSHFileOp, MoreThanOneDestinationSetsMultipleDestinationFiles) {
    CSHFileOp op;
    op.AddSourceFile("a.html");
    op.AddSourceFile("b.html");
    op.AddDestFile("one.html");
    EXPECT_EQ(op.BuildRecord(FO_COPY).fFlags, 0x0010);
    op.AddDestFile("two.html");
    EXPECT_EQ(op.BuildRecord(FO_COPY).fFlags, 0x0011);
}

TEST(CSHFileOp, NameBuffersAreDoubleNulTerminated) {
    CSHFileOp op;
    op.AddSourceFile("/site/page.html");
    SHFileOpStruct record = op.BuildRecord(FO_DELETE);
    EXPECT_EQ(record.pFrom, "/site/page.html\0\0"s);
    EXPECT_EQ(record.pTo, "\0"s); // no destination list at all
    op.ClearDestFiles();
    EXPECT_EQ(op.BuildRecord(FO_DELETE).pTo, "\0"s);

    op.AddDestFile("/site/page.bak");
    record = op.BuildRecord(FO_COPY);
    EXPECT_EQ(record.wFunc, FO_COPY);
    EXPECT_EQ(record.pTo, "/site/page.bak\0\0"s);
}

TEST(CSHFileOp, ListsKeepOrderAndDuplicatesAndClearingDiscardsThem) {
    CSHFileOp op;
    for (const char* name : {"b.html", "a.html", "b.html"})
        op.AddSourceFile(name);
    op.AddDestFile("x");
    op.AddDestFile("y");
    op.AddDestFile("x");
    SHFileOpStruct record = op.BuildRecord(FO_COPY);
    EXPECT_EQ(record.pFrom, "b.html\0a.html\0b.html\0\0"s);
    EXPECT_EQ(record.pTo, "x\0y\0x\0\0"s);

    op.ClearSourceFiles();
    op.ClearDestFiles();
    op.AddSourceFile("c.html");
    record = op.BuildRecord(FO_COPY);
    EXPECT_EQ(record.pFrom, "c.html\0\0"s);
    EXPECT_EQ(record.pTo, "\0"s);
}

TEST(CSHFileOp, EveryOperationHandsItsCode) {
    EXPECT_EQ(FO_MOVE, 1u);
    EXPECT_EQ(FO_COPY, 2u);
    EXPECT_EQ(FO_DELETE, 3u);
    EXPECT_EQ(FO_RENAME, 4u);
    CSHFileOp op;
    op.SetParentWnd(0x1234);
    for (const std::uint32_t code : {FO_MOVE, FO_COPY, FO_DELETE, FO_RENAME}) {
        const SHFileOpStruct record = op.BuildRecord(code);
        EXPECT_EQ(record.wFunc, code);
        EXPECT_EQ(record.hwnd, 0x1234u);
    }
}

TEST(CSHFileOp, PacksTheThirtyByteRecordWithoutPadding) {
    SHFileOpStruct record;
    record.hwnd = 0x11223344;
    record.wFunc = FO_RENAME;
    record.fFlags = 0x0218;
    record.fAnyOperationsAborted = 0x55667788;
    record.hNameMappings = 0x99AABBCC;

    const std::array<std::uint8_t, 30> expected = {
        0x44, 0x33, 0x22, 0x11, // hwnd
        0x04, 0x00, 0x00, 0x00, // wFunc
        0xA3, 0xA2, 0xA1, 0xA0, // pFrom
        0xB3, 0xB2, 0xB1, 0xB0, // pTo
        0x18, 0x02,             // fFlags
        0x88, 0x77, 0x66, 0x55, // fAnyOperationsAborted
        0xCC, 0xBB, 0xAA, 0x99, // hNameMappings
        0xC3, 0xC2, 0xC1, 0xC0, // lpszProgressTitle
    };
    EXPECT_EQ(record.Pack(0xA0A1A2A3, 0xB0B1B2B3, 0xC0C1C2C3), expected);
}

TEST(CSHFileOp, AnEmptySourceListRaisesTheErrorAndLeavesTheDiskAlone) {
    TempDir dir;
    WriteFile(dir / "page.html", "page");
    const std::function<bool(CSHFileOp&)> operations[] = {
        &CSHFileOp::MoveFiles, &CSHFileOp::CopyFiles, &CSHFileOp::DeleteFiles,
        &CSHFileOp::RenameFiles};
    for (const bool cleared : {false, true}) {
        for (const auto& operation : operations) {
            CSHFileOp op;
            if (cleared) {
                op.AddSourceFile(dir / "page.html");
                op.ClearSourceFiles();
            }
            // With a destination a shell call would have something to do.
            op.AddDestFile(dir / "copy.html");
            try {
                operation(op);
                ADD_FAILURE() << "no error raised";
            } catch (const CSHFileOpError& error) {
                EXPECT_EQ(error.number(), -2147220504);
                EXPECT_EQ(static_cast<std::uint32_t>(error.number()), 0x800403E8u);
                EXPECT_STREQ(error.what(), "No source files specified file operation");
            }
        }
    }
    EXPECT_EQ(FolderNames(dir.path()), std::vector<std::string>{"page.html"});
    EXPECT_EQ(ReadFile(dir / "page.html"), "page");
}

TEST(CSHFileOp, TheResultIsTrueOnlyWhenTheWholeOperationSucceeded) {
    TempDir dir;
    WriteFile(dir / "new.html", "new");
    WriteFile(dir / "page.html", "old");
    CSHFileOp op;
    op.AddSourceFile(dir / "new.html");
    op.AddDestFile(dir / "page.html");

    // A refusal reaches the object only through fAnyOperationsAborted; the shell returns 0.
    op.SetConfirmOperation(true);
    const SHFileOpStruct before = op.BuildRecord(FO_COPY);
    EXPECT_FALSE(op.CopyFiles());
    EXPECT_EQ(ReadFile(dir / "page.html"), "old");
    // A failed operation changes neither the lists nor the options.
    const SHFileOpStruct after = op.BuildRecord(FO_COPY);
    EXPECT_EQ(after.pFrom, before.pFrom);
    EXPECT_EQ(after.pTo, before.pTo);
    EXPECT_EQ(after.fFlags, before.fFlags);

    op.SetConfirmOperation(false);
    EXPECT_TRUE(op.CopyFiles());
    EXPECT_EQ(ReadFile(dir / "page.html"), "new");

    op.ClearSourceFiles();
    op.AddSourceFile(dir / "missing.html");
    EXPECT_FALSE(op.CopyFiles());
}
