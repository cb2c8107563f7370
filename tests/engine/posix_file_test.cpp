#include "posix_file.h"
#include "test_support.h"

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/capability.h>
#include <stdexcept>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

using posix::AtomicCopyFile;
using testing_support::FolderNames;
using testing_support::ReadFile;
using testing_support::TempDir;
using testing_support::WriteFile;

namespace {

using Names = std::vector<std::string>;

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("cannot stat " + path);
    return status.st_mode & 07777;
}

ino_t InodeOf(const std::string& path) {
    struct stat status {};
    if (::lstat(path.c_str(), &status) != 0)
        throw std::runtime_error("cannot stat " + path);
    return status.st_ino;
}

// Where the link at path points; empty when path is no link.
std::string LinkDestination(const std::string& path) {
    char buffer[4096];
    const ssize_t length = ::readlink(path.c_str(), buffer, sizeof buffer);
    return length < 0 ? std::string() : std::string(buffer, static_cast<std::size_t>(length));
}

void ChangeMode(const std::string& path, mode_t mode) {
    if (::chmod(path.c_str(), mode) != 0)
        throw std::runtime_error("cannot chmod " + path);
}

void MakeLink(const std::string& destination, const std::string& link) {
    if (::symlink(destination.c_str(), link.c_str()) != 0)
        throw std::runtime_error("cannot create link " + link);
}

// Root passes every permission check, so a test that needs a folder it may not write to
// drops, for its own thread and its own duration, the capabilities that let it.
class WithoutPermissionOverride {
  public:
    WithoutPermissionOverride() {
        if (::syscall(SYS_capget, &header_, saved_) != 0)
            throw std::runtime_error("cannot read the process's capabilities");
        __user_cap_data_struct reduced[2] = {saved_[0], saved_[1]};
        for (const int capability : {CAP_DAC_OVERRIDE, CAP_DAC_READ_SEARCH, CAP_FOWNER})
            reduced[capability / 32].effective &= ~(1u << (capability % 32));
        if (::syscall(SYS_capset, &header_, reduced) != 0)
            throw std::runtime_error("cannot drop capabilities");
    }
    ~WithoutPermissionOverride() { (void)::syscall(SYS_capset, &header_, saved_); }
    WithoutPermissionOverride(const WithoutPermissionOverride&) = delete;
    WithoutPermissionOverride& operator=(const WithoutPermissionOverride&) = delete;

  private:
    __user_cap_header_struct header_{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved_[2]{};
};

// Makes every write past limit bytes of a file fail with EFBIG, as a full disk would fail
// it, while the object lives.
class FileSizeLimit {
  public:
    explicit FileSizeLimit(rlim_t limit) {
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0)
            throw std::runtime_error("cannot read the file size limit");
        previousHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        rlimit reduced = saved_;
        reduced.rlim_cur = limit;
        if (::setrlimit(RLIMIT_FSIZE, &reduced) != 0)
            throw std::runtime_error("cannot set the file size limit");
    }
    ~FileSizeLimit() {
        (void)::setrlimit(RLIMIT_FSIZE, &saved_);
        std::signal(SIGXFSZ, previousHandler_);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

  private:
    rlimit saved_{};
    void (*previousHandler_)(int) = SIG_DFL;
};

std::string LargeContent() {
    std::string content;
    for (int i = 0; content.size() < 300000; ++i)
        content += "line " + std::to_string(i) + " of a page\r\n";
    return content;
}

} // namespace

TEST(AtomicCopyFile, ReplacesContentButKeepsTheTargetsPermissionBits) {
    TempDir dir;
    WriteFile(dir / "new.html", LargeContent());
    WriteFile(dir / "page.html", "old");
    ChangeMode(dir / "new.html", 0755);
    ChangeMode(dir / "page.html", 0640);

    ASSERT_TRUE(AtomicCopyFile(dir / "new.html", dir / "page.html"));
    EXPECT_EQ(ReadFile(dir / "page.html"), LargeContent());
    EXPECT_EQ(ModeOf(dir / "page.html"), 0640u);
    EXPECT_EQ(FolderNames(dir.path()), (Names{"new.html", "page.html"}));
}

TEST(AtomicCopyFile, KeepsSetIdBitsOfTheTarget) {
    TempDir dir;
    WriteFile(dir / "new", "new");
    WriteFile(dir / "tool", "old");
    ChangeMode(dir / "tool", 06755);
    ASSERT_EQ(ModeOf(dir / "tool"), 06755u) << "the set-id bits could not be set up";

    ASSERT_TRUE(AtomicCopyFile(dir / "new", dir / "tool"));
    EXPECT_EQ(ReadFile(dir / "tool"), "new");
    EXPECT_EQ(ModeOf(dir / "tool"), 06755u);
}

TEST(AtomicCopyFile, CreatesAMissingTargetWithTheSourcesBits) {
    TempDir dir;
    WriteFile(dir / "source.html", "content");
    // Bits a usual umask would take away show that the source's bits are copied as they are.
    ChangeMode(dir / "source.html", 0666);

    ASSERT_TRUE(AtomicCopyFile(dir / "source.html", dir / "copy.html"));
    EXPECT_EQ(ReadFile(dir / "copy.html"), "content");
    EXPECT_EQ(ModeOf(dir / "copy.html"), 0666u);
    EXPECT_EQ(FolderNames(dir.path()), (Names{"copy.html", "source.html"}));
}

TEST(AtomicCopyFile, FollowsALinkAsTargetAndKeepsTheLink) {
    TempDir dir;
    ::mkdir((dir / "real").c_str(), 0755);
    WriteFile(dir / "real/page.html", "old");
    WriteFile(dir / "new.html", "new");
    MakeLink("real/page.html", dir / "page.html");

    ASSERT_TRUE(AtomicCopyFile(dir / "new.html", dir / "page.html"));
    EXPECT_EQ(LinkDestination(dir / "page.html"), "real/page.html");
    EXPECT_EQ(ReadFile(dir / "real/page.html"), "new");
    EXPECT_EQ(FolderNames(dir / "real"), Names{"page.html"});
}

TEST(AtomicCopyFile, SplitsAHardLinkedTargetFromItsOtherNames) {
    TempDir dir;
    WriteFile(dir / "page.html", "old");
    ASSERT_EQ(::link((dir / "page.html").c_str(), (dir / "other.html").c_str()), 0);
    WriteFile(dir / "new.html", "new");

    ASSERT_TRUE(AtomicCopyFile(dir / "new.html", dir / "page.html"));
    EXPECT_EQ(ReadFile(dir / "page.html"), "new");
    EXPECT_EQ(ReadFile(dir / "other.html"), "old");
    EXPECT_NE(InodeOf(dir / "page.html"), InodeOf(dir / "other.html"));
}

TEST(AtomicCopyFile, RefusesToCopyAFileOntoItselfUnderAnyOfItsNames) {
    TempDir dir;
    WriteFile(dir / "page.html", "content");
    MakeLink("page.html", dir / "link.html");
    ASSERT_EQ(::link((dir / "page.html").c_str(), (dir / "hard.html").c_str()), 0);

    for (const char* target : {"page.html", "link.html", "hard.html"}) {
        errno = 0;
        EXPECT_FALSE(AtomicCopyFile(dir / "page.html", dir / target)) << target;
        EXPECT_EQ(errno, EEXIST) << target;
    }
    EXPECT_EQ(ReadFile(dir / "page.html"), "content");
    EXPECT_EQ(FolderNames(dir.path()), (Names{"hard.html", "link.html", "page.html"}));
}

TEST(AtomicCopyFile, FailsWithoutLeavingAnythingWhenTheTargetCannotBeReplaced) {
    TempDir dir;
    WriteFile(dir / "new.html", "new");
    ::mkdir((dir / "folder").c_str(), 0755);
    MakeLink("loop-b", dir / "loop-a");
    MakeLink("loop-a", dir / "loop-b");

    errno = 0;
    EXPECT_FALSE(AtomicCopyFile(dir / "new.html", dir / "folder"));
    EXPECT_EQ(errno, EISDIR);
    errno = 0;
    EXPECT_FALSE(AtomicCopyFile(dir / "new.html", dir / "missing/page.html"));
    EXPECT_EQ(errno, ENOENT);
    errno = 0;
    EXPECT_FALSE(AtomicCopyFile(dir / "new.html", dir / "loop-a"));
    EXPECT_EQ(errno, ELOOP);

    EXPECT_TRUE(FolderNames(dir / "folder").empty());
    EXPECT_EQ(FolderNames(dir.path()), (Names{"folder", "loop-a", "loop-b", "new.html"}));
    EXPECT_EQ(LinkDestination(dir / "loop-a"), "loop-b");
}

TEST(AtomicCopyFile, FailsWhenTheSourceIsNoOrdinaryFile) {
    TempDir dir;
    ::mkdir((dir / "folder").c_str(), 0755);
    WriteFile(dir / "page.html", "old");

    EXPECT_FALSE(AtomicCopyFile(dir / "folder", dir / "page.html"));
    EXPECT_FALSE(AtomicCopyFile(dir / "missing.html", dir / "page.html"));
    EXPECT_EQ(ReadFile(dir / "page.html"), "old");
    EXPECT_EQ(FolderNames(dir.path()), (Names{"folder", "page.html"}));
}

TEST(AtomicCopyFile, FailsInAFolderItMayNotWriteAndLeavesTheTargetAlone) {
    TempDir dir;
    WriteFile(dir / "new.html", "new");
    ::mkdir((dir / "locked").c_str(), 0755);
    WriteFile(dir / "locked/page.html", "old");
    ChangeMode(dir / "locked", 0555);

    bool copied = true;
    int error = 0;
    {
        WithoutPermissionOverride asAnOrdinaryUser;
        const int probe = ::open((dir / "locked/probe").c_str(), O_CREAT | O_WRONLY, 0600);
        if (probe >= 0)
            ::close(probe);
        ASSERT_LT(probe, 0) << "the folder is still writable: the failure cannot be set up";
        copied = AtomicCopyFile(dir / "new.html", dir / "locked/page.html");
        error = errno;
    }
    EXPECT_FALSE(copied);
    EXPECT_EQ(error, EACCES);
    EXPECT_EQ(ReadFile(dir / "locked/page.html"), "old");
    EXPECT_EQ(FolderNames(dir / "locked"), Names{"page.html"});
}

TEST(AtomicCopyFile, AWriteFailingHalfwayLeavesTheOldTargetAndNoStrayFile) {
    TempDir dir;
    WriteFile(dir / "new.html", LargeContent());
    WriteFile(dir / "page.html", "old");

    bool copied = true;
    int error = 0;
    {
        FileSizeLimit limit(4096);
        copied = AtomicCopyFile(dir / "new.html", dir / "page.html");
        error = errno;
    }
    EXPECT_FALSE(copied);
    EXPECT_EQ(error, EFBIG);
    EXPECT_EQ(ReadFile(dir / "page.html"), "old");
    EXPECT_EQ(FolderNames(dir.path()), (Names{"new.html", "page.html"}));
}
