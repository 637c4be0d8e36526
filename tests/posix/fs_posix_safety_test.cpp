// The Linux file layer under refused operations: full disks, other file
// systems, files that appear at the wrong moment, special files and an
// unprivileged user.  Each refusal is real (root passes permission bits, so
// those tests drop to an unprivileged user or mount a tiny file system).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <grp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "fs/fs.h"
#include "fs/fs_posix_internal.h"
#include "support/child_process.h"
#include "support/shm_folder.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {


std::string Native(const ByteString& path) { return NativePath(path).string(); }

// Gives a test file to the user DropPrivileges switches to.
void GiveToRunner(const ByteString& path) {
    if (geteuid() == 0) {
        ASSERT_EQ(chown(Native(path).c_str(), kNobodyId, kNobodyId), 0);
    }
}

// Enters a mount namespace of its own (and a user namespace when not root),
// so that mounts made in the child stay there.
std::string EnterMountNamespace() {
    const uid_t uid = geteuid();
    const gid_t gid = getegid();
    if (uid == 0) {
        if (unshare(CLONE_NEWNS) != 0) return std::string(kSkipMark) + "no mount namespace";
    } else {
        if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return std::string(kSkipMark) + "no user namespace";
        std::ofstream("/proc/self/setgroups") << "deny";
        std::ofstream("/proc/self/uid_map") << "0 " << uid << " 1";
        std::ofstream("/proc/self/gid_map") << "0 " << gid << " 1";
    }
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
        return std::string(kSkipMark) + "cannot make the mounts private";
    return "";
}

// Mounts a tmpfs of a few KiB on the folder.
std::function<std::string()> MountTinyFileSystem(const std::string& where, int kib) {
    return [where, kib]() -> std::string {
        if (std::string refused = EnterMountNamespace(); !refused.empty()) return refused;
        const std::string options = "size=" + std::to_string(kib) + "k";
        if (mount("tmpfs", where.c_str(), "tmpfs", 0, options.c_str()) != 0)
            return std::string(kSkipMark) + "cannot mount a tmpfs";
        return "";
    };
}

// Mounts one file on another (a bind mount): the file that is mounted on
// cannot be renamed over.
std::function<std::string()> BindMountFile(const std::string& file, const std::string& onto) {
    return [file, onto]() -> std::string {
        if (std::string refused = EnterMountNamespace(); !refused.empty()) return refused;
        if (mount(file.c_str(), onto.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return std::string(kSkipMark) + "cannot bind-mount a file";
        return "";
    };
}

std::string Check(bool ok, const std::string& what) { return ok ? "" : what + "\n"; }

struct stat StatOf(const ByteString& path) {
    struct stat st {};
    stat(Native(path).c_str(), &st);
    return st;
}

}  // namespace

// ---------------------------------------------------------------------------
// Moves

// Moves within one file system, with RENAME_NOREPLACE and with the link()
// fallback of file systems that refuse it.
class FsPosixMove : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { fs_posix_steps::SetRenameNoReplaceForTesting(GetParam()); }
    void TearDown() override { fs_posix_steps::SetRenameNoReplaceForTesting(true); }
    TempFolder temp;
};

INSTANTIATE_TEST_SUITE_P(Renames, FsPosixMove, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "NoReplaceFlag" : "LinkFallback"; });

TEST_P(FsPosixMove, ADestinationThatAppearsAfterTheCheckIsNotReplaced) {
    const ByteString source = temp.Join("source");
    const ByteString late = temp.Join("late");
    WriteBytes(source, "mine");
    WriteBytes(late, "theirs");  // created after the caller's existence check
    EXPECT_EQ(fs_posix_steps::MoveWithoutPrecheck(source, late), 0);
    EXPECT_EQ(ReadBytes(source), "mine");
    EXPECT_EQ(ReadBytes(late), "theirs");

    EXPECT_EQ(MoveNoOverwrite(source, temp.Join("free")), 1);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"free", "late"}));
    EXPECT_EQ(ReadBytes(temp.Join("free")), "mine");
}

TEST_P(FsPosixMove, ASourceThatCannotBeRemovedStays) {
    const ByteString locked = temp.Join("locked");
    MakeFolder(locked);
    MakeFolder(temp.Join("open"));
    const ByteString source = locked + "/source";
    WriteBytes(source, "x");
    GiveToRunner(source);
    ASSERT_EQ(chmod(Native(locked).c_str(), 0555), 0);
    ASSERT_EQ(chmod(Native(temp.Join("open")).c_str(), 0777), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(MoveNoOverwrite(source, temp.Join("open") + "/target") == 0, "the move reported success");
    }));
    EXPECT_EQ(ReadBytes(source), "x");
    EXPECT_TRUE(NamesIn(temp.Join("open")).empty()) << "the second name must be taken back";
}

// Moves between /tmp and /dev/shm, with an unnamed (O_TMPFILE) and with a
// named temporary copy.
class FsPosixCrossDeviceMove : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override {
        if (!shm.OnAnotherFileSystemThan(temp.Path())) GTEST_SKIP() << "/dev/shm is not another file system here";
        fs_posix_steps::SetUnnamedTempFilesForTesting(GetParam());
    }
    void TearDown() override { fs_posix_steps::SetUnnamedTempFilesForTesting(true); }

    TempFolder temp;
    ShmFolder shm;
};

INSTANTIATE_TEST_SUITE_P(TempFiles, FsPosixCrossDeviceMove, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });

TEST_P(FsPosixCrossDeviceMove, KeepsContentTimeAndPermissions) {
    const ByteString source = temp.Join("report.txt");
    const std::string content(300000, 'r');
    WriteBytes(source, content);
    ASSERT_EQ(chmod(Native(source).c_str(), 0640), 0);
    const struct timespec times[2] = {{1000000000, 0}, {1200000000, 500}};
    ASSERT_EQ(utimensat(AT_FDCWD, Native(source).c_str(), times, 0), 0);

    const ByteString destination = shm.Join("moved.txt");
    ASSERT_EQ(MoveNoOverwrite(source, destination), 1);
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(ReadBytes(destination), content);
    const struct stat st = StatOf(destination);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(st.st_mtim.tv_nsec, 500);
    EXPECT_EQ(NamesIn(shm.Path()), std::vector<ByteString>{"moved.txt"});
}

TEST_P(FsPosixCrossDeviceMove, ADestinationThatAppearsDuringTheCopyWins) {
    const ByteString source = temp.Join("source");
    const ByteString destination = shm.Join("target");
    WriteBytes(source, "mine");
    fs_posix_steps::SetBeforePublishHookForTesting([&] { WriteBytes(destination, "theirs"); });
    const int moved = MoveNoOverwrite(source, destination);
    fs_posix_steps::SetBeforePublishHookForTesting(nullptr);

    EXPECT_EQ(moved, 0);
    EXPECT_EQ(ReadBytes(source), "mine");
    EXPECT_EQ(ReadBytes(destination), "theirs");
    EXPECT_EQ(NamesIn(shm.Path()), std::vector<ByteString>{"target"}) << "the copy must not stay behind";
}

TEST_P(FsPosixCrossDeviceMove, OnlyPlainFilesAreCarried) {
    WriteBytes(temp.Join("file"), "x");
    fsys::create_symlink("file", Native(temp.Join("link")));
    ASSERT_EQ(mkfifo(Native(temp.Join("fifo")).c_str(), 0644), 0);

    EXPECT_EQ(MoveNoOverwrite(temp.Join("link"), shm.Join("link")), 0);
    EXPECT_CHILD_PASSES(RunInChild([] { return ""; }, [&] {
        return Check(MoveNoOverwrite(temp.Join("fifo"), shm.Join("fifo")) == 0, "a FIFO was moved");
    }));
    EXPECT_EQ(KindOf(temp.Join("link")), EntryKind::File);
    EXPECT_EQ(KindOf(temp.Join("fifo")), EntryKind::Special);
    EXPECT_TRUE(NamesIn(shm.Path()).empty());
}

TEST_P(FsPosixCrossDeviceMove, AFailedCopyLeavesTheSourceAndNoRemains) {
    const ByteString source = temp.Join("source");
    WriteBytes(source, std::string(100000, 's'));
    SetShortWriteAfterForTesting(5000);
    const int moved = MoveNoOverwrite(source, shm.Join("target"));
    SetShortWriteAfterForTesting(-1);

    EXPECT_EQ(moved, 0);
    EXPECT_EQ(ReadBytes(source), std::string(100000, 's'));
    EXPECT_TRUE(NamesIn(shm.Path()).empty());
}

TEST_P(FsPosixCrossDeviceMove, ASourceThatCannotBeRemovedIsNotDuplicated) {
    const ByteString locked = temp.Join("locked");
    MakeFolder(locked);
    const ByteString source = locked + "/source";
    WriteBytes(source, "only once");
    GiveToRunner(source);
    ASSERT_EQ(chmod(Native(locked).c_str(), 0555), 0);
    ASSERT_EQ(chmod(shm.Path().c_str(), 0777), 0);

    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(MoveNoOverwrite(source, shm.Join("target")) == 0, "the move reported success");
    }));
    EXPECT_EQ(ReadBytes(source), "only once");
    EXPECT_TRUE(NamesIn(shm.Path()).empty()) << "the copy must be taken back";
}

// ---------------------------------------------------------------------------
// Copies

TEST(FsPosixCopy, TheSameFileUnderAnotherNameIsRefused) {
    TempFolder temp;
    const ByteString file = temp.Join("file");
    WriteBytes(file, "precious");
    fsys::create_hard_link(Native(file), Native(temp.Join("hard")));
    fsys::create_symlink("file", Native(temp.Join("soft")));

    EXPECT_EQ(CopyOverwrite(file, temp.Join("hard")), 0);
    EXPECT_EQ(CopyOverwrite(temp.Join("hard"), file), 0);
    EXPECT_EQ(CopyOverwrite(file, temp.Join("soft")), 0);
    EXPECT_EQ(CopyOverwrite(temp.Join("soft"), file), 0);
    EXPECT_EQ(ReadBytes(file), "precious");
    EXPECT_EQ(KindOf(temp.Join("soft")), EntryKind::File);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"file", "hard", "soft"}));
}

TEST(FsPosixCopy, SpecialSourcesAreNeverOpened) {
    TempFolder temp;
    ASSERT_EQ(mkfifo(Native(temp.Join("fifo")).c_str(), 0644), 0);
    fsys::create_symlink(Native(temp.Join("fifo")), Native(temp.Join("to-fifo")));
    EXPECT_CHILD_PASSES(RunInChild([] { return ""; }, [&] {
        return Check(CopyOverwrite(temp.Join("fifo"), temp.Join("a")) == 0, "a FIFO was copied") +
               Check(CopyOverwrite(temp.Join("to-fifo"), temp.Join("b")) == 0, "a link to a FIFO was copied") +
               Check(CopyOverwrite("/dev/zero", temp.Join("c")) == 0, "a device was copied");
    }, 5));
    EXPECT_EQ(CopyOverwrite(temp.Path(), temp.Join("d")), 0);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"fifo", "to-fifo"}));
}

TEST(FsPosixCopy, KeepsTimeAndPermissionsAndWritesThroughALinkedDestination) {
    TempFolder temp;
    const ByteString source = temp.Join("source");
    WriteBytes(source, "fresh");
    ASSERT_EQ(chmod(Native(source).c_str(), 0604), 0);
    const struct timespec times[2] = {{1100000000, 0}, {1100000000, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, Native(source).c_str(), times, 0), 0);
    MakeFolder(temp.Join("real"));
    WriteBytes(temp.Join("real/target"), "stale");
    fsys::create_symlink("real/target", Native(temp.Join("link")));
    fsys::create_symlink("source", Native(temp.Join("source-link")));

    ASSERT_EQ(CopyOverwrite(temp.Join("source-link"), temp.Join("link")), 1);
    EXPECT_EQ(ReadBytes(temp.Join("real/target")), "fresh");
    EXPECT_TRUE(fsys::is_symlink(Native(temp.Join("link"))));
    const struct stat st = StatOf(temp.Join("real/target"));
    EXPECT_EQ(st.st_mode & 07777, 0604u);
    EXPECT_EQ(st.st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(NamesIn(temp.Join("real")), std::vector<ByteString>{"target"});

    fsys::create_symlink("nowhere", Native(temp.Join("dangling")));
    EXPECT_EQ(CopyOverwrite(source, temp.Join("dangling")), 0) << "a dangling link leads nowhere chosen";
}

TEST(FsPosixCopy, AFullDiskLeavesTheOldDestinationIntact) {
    TempFolder temp;
    const ByteString small = temp.Join("small");
    MakeFolder(small);
    const ByteString source = temp.Join("big");
    WriteBytes(source, std::string(256 * 1024, 'b'));
    const ByteString destination = small + "/target";

    EXPECT_CHILD_PASSES(RunInChild(MountTinyFileSystem(Native(small), 16), [&] {
        WriteBytes(destination, "old content");
        std::string failures = Check(CopyOverwrite(source, destination) == 0, "the copy reported success");
        failures += Check(ReadBytes(destination) == "old content", "the old destination was damaged");
        failures += Check(NamesIn(small) == std::vector<ByteString>{"target"}, "the partial copy was left");
        return failures;
    }));
}

// ---------------------------------------------------------------------------
// Whole-file reads and writes

TEST(FsPosixRead, OnlyPlainFilesAreRead) {
    TempFolder temp;
    ASSERT_EQ(mkfifo(Native(temp.Join("fifo")).c_str(), 0644), 0);
    fsys::create_symlink("/dev/zero", Native(temp.Join("endless")));
    EXPECT_CHILD_PASSES(RunInChild([] { return ""; }, [&] {
        return Check(ReadTextFile(temp.Join("fifo")).empty(), "read a FIFO") +
               Check(ReadTextFile(temp.Join("endless")).empty(), "read a device") +
               Check(ReadTextFile(temp.Path()).empty(), "read a folder");
    }, 5));
}

TEST(FsPosixWrite, PlainWriteOfAReadOnlyFileAsAnOrdinaryUser) {
    TempFolder temp;
    const ByteString path = temp.Join("settings");
    WriteBytes(path, "old");
    GiveToRunner(path);
    ASSERT_EQ(chmod(Native(path).c_str(), 0444), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(WriteTextFile(path, "new") == 1, "the read-only file was not written");
    }));
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(StatOf(path).st_mode & 07777, 0644u) << "only the owner's read and write permission is added";
}

TEST(FsPosixWrite, SafeWriteReplacesALinksTargetAndKeepsTheLink) {
    TempFolder temp;
    MakeFolder(temp.Join("real"));
    WriteBytes(temp.Join("real/settings"), "old");
    ASSERT_EQ(chmod(Native(temp.Join("real/settings")).c_str(), 0440), 0);
    fsys::create_symlink("real/settings", Native(temp.Join("link")));

    ASSERT_EQ(WriteTextFileSafely(temp.Join("link"), "new"), 1);
    EXPECT_TRUE(fsys::is_symlink(Native(temp.Join("link"))));
    EXPECT_EQ(ReadBytes(temp.Join("real/settings")), "new");
    EXPECT_EQ(StatOf(temp.Join("real/settings")).st_mode & 07777, 0640u);
    EXPECT_EQ(NamesIn(temp.Join("real")), std::vector<ByteString>{"settings"});
}

TEST(FsPosixWrite, SafeWriteFallsBackWhereNoFileCanBeCreatedBeside) {
    TempFolder temp;
    const ByteString folder = temp.Join("closed");
    MakeFolder(folder);
    const ByteString path = folder + "/settings";
    WriteBytes(path, "old");
    GiveToRunner(path);
    ASSERT_EQ(chmod(Native(folder).c_str(), 0555), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(WriteTextFileSafely(path, "new") == 1, "the fallback write failed") +
               Check(WriteTextFileSafely(folder + "/absent", "x") == 0, "a file appeared in a closed folder");
    }));
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(NamesIn(folder), std::vector<ByteString>{"settings"});
}

TEST(FsPosixWrite, SafeWriteOfAFileThatCannotBeReplacedWritesInPlace) {
    TempFolder temp;
    const ByteString path = temp.Join("settings");
    const ByteString mounted = temp.Join("mounted");
    WriteBytes(path, "old");
    WriteBytes(mounted, "old");
    EXPECT_CHILD_PASSES(RunInChild(BindMountFile(Native(mounted), Native(path)), [&] {
        return Check(WriteTextFileSafely(path, "new") == 1, "the settings were not written") +
               Check(NamesIn(temp.Path()) == std::vector<ByteString>{"mounted", "settings"},
                     "the temporary file was left");
    }));
    EXPECT_EQ(ReadBytes(mounted), "new") << "the mounted file is the one written";
}

TEST(FsPosixWrite, SafeWriteOnAFullDiskThrowsAndKeepsTheOldFile) {
    TempFolder temp;
    const ByteString small = temp.Join("small");
    MakeFolder(small);
    const ByteString path = small + "/settings";
    EXPECT_CHILD_PASSES(RunInChild(MountTinyFileSystem(Native(small), 16), [&] {
        WriteBytes(path, "old settings");
        std::string failures;
        try {
            WriteTextFileSafely(path, std::string(64 * 1024, 'n'));
            failures += "no error raised\n";
        } catch (const FileError& error) {
            failures += Check(error.cause() == FileErrorCause::DiskFull, "not a full disk");
            failures += Check(error.path() == path, "the message would name another file");
        }
        failures += Check(ReadBytes(path) == "old settings", "the old file was damaged");
        failures += Check(NamesIn(small) == std::vector<ByteString>{"settings"}, "the temporary file was left");
        return failures;
    }));
}

TEST(FsPosixAppend, AppendingToAFullDeviceRaisesDiskFull) {
    TempFolder temp;
    const ByteString link = temp.Join("change.log");
    fsys::create_symlink("/dev/full", Native(link));
    try {
        AppendTextToFile(link, "a line\r\n");
        FAIL() << "the write to a full device must be raised";
    } catch (const FileError& error) {
        EXPECT_EQ(error.cause(), FileErrorCause::DiskFull);
        EXPECT_EQ(error.step(), FileStep::Write);
        EXPECT_EQ(FileErrorMessage(error), link + Cp932(u8" へのｱｸｾｽ中にﾃﾞｨｽｸがいっぱいになりました。"));
    }
}

TEST(FsPosixAppend, AFifoIsNotWaitedFor) {
    TempFolder temp;
    ASSERT_EQ(mkfifo(Native(temp.Join("fifo")).c_str(), 0644), 0);
    EXPECT_CHILD_PASSES(RunInChild([] { return ""; }, [&] {
        return Check(AppendTextToFile(temp.Join("fifo"), "x") == 0, "appended to a FIFO") +
               Check(WriteTextFile(temp.Join("fifo"), "x") == 0, "wrote to a FIFO") +
               Check(WriteTextFileSafely(temp.Join("fifo"), "x") == 0, "safely wrote to a FIFO");
    }, 5));
    EXPECT_EQ(KindOf(temp.Join("fifo")), EntryKind::Special);
}
