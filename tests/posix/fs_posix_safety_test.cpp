// The Linux file layer under refused operations: full disks, other file
// systems, files that appear at the wrong moment, special files and an
// unprivileged user.  Each refusal is real (root passes permission bits, so
// those tests drop to an unprivileged user or mount a tiny file system).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "fs/fs.h"
#include "support/fs_posix_steps.h"
#include "support/fs_seams.h"
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

// Creates `folder` with one file in it that the unprivileged user owns but,
// the folder being closed to it, can neither remove nor put anything beside.
ByteString FileInClosedFolder(const ByteString& folder, const std::string& content) {
    MakeFolder(folder);
    const ByteString file = folder + "/file";
    WriteBytes(file, content);
    GiveToRunner(file);
    EXPECT_EQ(chmod(Native(folder).c_str(), 0555), 0);
    return file;
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

// For checks that only need a child to be killed when they hang.
std::string NoSetUp() { return ""; }

std::string Check(bool ok, const std::string& what) { return ok ? "" : what + "\n"; }

void MakeFifo(const ByteString& path) { ASSERT_EQ(mkfifo(Native(path).c_str(), 0644), 0); }

void SetModeAndTime(const ByteString& path, mode_t mode, struct timespec modified) {
    ASSERT_EQ(chmod(Native(path).c_str(), mode), 0);
    const struct timespec times[2] = {modified, modified};
    ASSERT_EQ(utimensat(AT_FDCWD, Native(path).c_str(), times, 0), 0);
}

struct stat StatOf(const ByteString& path) {
    struct stat st {};
    stat(Native(path).c_str(), &st);
    return st;
}

mode_t ModeOf(const ByteString& path) { return StatOf(path).st_mode & 07777; }

}  // namespace

// ---------------------------------------------------------------------------
// Moves

// Moves within one file system, with RENAME_NOREPLACE and with the link()
// fallback of file systems that refuse it.
class FsPosixMove : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { testing_support::SetRenameNoReplace(GetParam()); }
    void TearDown() override { testing_support::SetRenameNoReplace(true); }
    TempFolder temp;
};

INSTANTIATE_TEST_SUITE_P(Renames, FsPosixMove, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "NoReplaceFlag" : "LinkFallback"; });

TEST_P(FsPosixMove, ADestinationThatAppearsAfterTheCheckIsNotReplaced) {
    const ByteString source = temp.Join("source");
    const ByteString late = temp.Join("late");
    WriteBytes(source, "mine");
    WriteBytes(late, "theirs");  // created after the caller's existence check
    EXPECT_FALSE(testing_support::MoveWithoutPrecheck(source, late));
    EXPECT_EQ(ReadBytes(source), "mine");
    EXPECT_EQ(ReadBytes(late), "theirs");

    EXPECT_TRUE(MoveNoOverwrite(source, temp.Join("free")));
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"free", "late"}));
    EXPECT_EQ(ReadBytes(temp.Join("free")), "mine");
}

TEST_P(FsPosixMove, ASourceThatCannotBeRemovedStays) {
    const ByteString source = FileInClosedFolder(temp.Join("closed"), "x");
    MakeFolder(temp.Join("open"));
    ASSERT_EQ(chmod(Native(temp.Join("open")).c_str(), 0777), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(!MoveNoOverwrite(source, temp.Join("open") + "/target"), "the move reported success");
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
        testing_support::SetUnnamedTempFiles(GetParam());
    }
    void TearDown() override {
        testing_support::SetUnnamedTempFiles(true);
        testing_support::SetBeforePublish(nullptr);
    }

    TempFolder temp;
    ShmFolder shm;
};

INSTANTIATE_TEST_SUITE_P(TempFiles, FsPosixCrossDeviceMove, ::testing::Values(true, false),
                         [](const auto& info) { return info.param ? "Unnamed" : "Named"; });

TEST_P(FsPosixCrossDeviceMove, KeepsContentTimeAndPermissions) {
    const ByteString source = temp.Join("report.txt");
    const std::string content(300000, 'r');
    WriteBytes(source, content);
    SetModeAndTime(source, 0640, {1200000000, 500});

    const ByteString destination = shm.Join("moved.txt");
    ASSERT_TRUE(MoveNoOverwrite(source, destination));
    EXPECT_FALSE(Exists(source));
    EXPECT_EQ(ReadBytes(destination), content);
    EXPECT_EQ(ModeOf(destination), 0640u);
    EXPECT_EQ(StatOf(destination).st_mtim.tv_sec, 1200000000);
    EXPECT_EQ(StatOf(destination).st_mtim.tv_nsec, 500);
    EXPECT_EQ(NamesIn(shm.Path()), std::vector<ByteString>{"moved.txt"});
}

TEST_P(FsPosixCrossDeviceMove, AMoveThatCannotFinishLeavesTheSourceAndNoCopy) {
    const ByteString source = temp.Join("source");
    const ByteString destination = shm.Join("target");
    const std::string content(100000, 's');
    WriteBytes(source, content);
    {
        ShortWritesAfter diskFullAfter(5000);
        EXPECT_FALSE(MoveNoOverwrite(source, destination));
    }
    EXPECT_TRUE(NamesIn(shm.Path()).empty());

    // A destination that appears while the copy is made wins.
    testing_support::SetBeforePublish([&] { WriteBytes(destination, "theirs"); });
    EXPECT_FALSE(MoveNoOverwrite(source, destination));
    EXPECT_EQ(ReadBytes(destination), "theirs");
    EXPECT_EQ(NamesIn(shm.Path()), std::vector<ByteString>{"target"}) << "the copy must not stay behind";
    EXPECT_EQ(ReadBytes(source), content);
}

// Saved over by an editor (a new file renamed into its place), still growing,
// or rewritten in place: the source stays as it is now, and no copy remains.
TEST_P(FsPosixCrossDeviceMove, ASourceThatChangesDuringTheMoveStays) {
    const ByteString source = temp.Join("draft.txt");
    const ByteString destination = shm.Join("draft.txt");
    const struct {
        const char* what;
        std::function<void()> change;
        const char* content;
    } cases[] = {
        {"saved over", [&] { WriteBytes(temp.Join("new"), "v2"); fsys::rename(Native(temp.Join("new")), Native(source)); }, "v2"},
        {"growing", [&] { std::ofstream(Native(source), std::ios::app) << "+more"; }, "v1+more"},
        {"rewritten with the same size", [&] { std::ofstream(Native(source), std::ios::in | std::ios::out) << "V"; SetModeAndTime(source, 0644, {1300000000, 0}); }, "V1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        WriteBytes(source, "v1");
        testing_support::SetBeforeSourceRemoval(c.change);
        EXPECT_FALSE(MoveNoOverwrite(source, destination));
        testing_support::SetBeforeSourceRemoval(nullptr);
        EXPECT_EQ(ReadBytes(source), c.content);
        EXPECT_TRUE(NamesIn(shm.Path()).empty()) << "the copy must be taken back";
    }
}

TEST_P(FsPosixCrossDeviceMove, OnlyPlainFilesAreCarried) {
    WriteBytes(temp.Join("file"), "x");
    fsys::create_symlink("file", Native(temp.Join("link")));
    MakeFifo(temp.Join("fifo"));

    EXPECT_FALSE(MoveNoOverwrite(temp.Join("link"), shm.Join("link")));
    EXPECT_CHILD_PASSES(RunInChild(NoSetUp, [&] {
        return Check(!MoveNoOverwrite(temp.Join("fifo"), shm.Join("fifo")), "a FIFO was moved");
    }));
    EXPECT_EQ(KindOf(temp.Join("link")), EntryKind::File);
    EXPECT_EQ(KindOf(temp.Join("fifo")), EntryKind::Special);
    EXPECT_TRUE(NamesIn(shm.Path()).empty());
}

TEST_P(FsPosixCrossDeviceMove, ASourceThatCannotBeRemovedIsNotDuplicated) {
    const ByteString source = FileInClosedFolder(temp.Join("closed"), "only once");
    ASSERT_EQ(chmod(shm.Path().c_str(), 0777), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(!MoveNoOverwrite(source, shm.Join("target")), "the move reported success");
    }));
    EXPECT_EQ(ReadBytes(source), "only once");
    EXPECT_TRUE(NamesIn(shm.Path()).empty()) << "the copy must be taken back";
}

// ---------------------------------------------------------------------------
// Copies

// In a shared sticky folder (such as /tmp) another user may plant a link at
// the name a copy goes to; the system would not follow it for us, and
// neither does the copy.  Links of our own, or of the folder's owner, are
// followed as before.
TEST(FsPosixCopy, AnotherUsersLinkInASharedStickyFolderIsNotFollowed) {
    if (geteuid() != 0) GTEST_SKIP() << "giving a link to another user needs root";
    TempFolder temp;
    const ByteString shared = temp.Join("shared");
    MakeFolder(shared);
    ASSERT_EQ(chmod(Native(shared).c_str(), 01777), 0);
    WriteBytes(temp.Join("victim"), "precious");
    WriteBytes(temp.Join("source"), "copied");
    const struct {
        uid_t owner;
        bool followed;
    } cases[] = {{kNobodyId, false}, {geteuid(), true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.owner);
        WriteBytes(temp.Join("victim"), "precious");
        const ByteString link = shared + "/planted";
        fsys::remove(Native(link));
        fsys::create_symlink(Native(temp.Join("victim")), Native(link));
        ASSERT_EQ(lchown(Native(link).c_str(), c.owner, c.owner), 0);

        EXPECT_EQ(CopyOverwrite(temp.Join("source"), link), c.followed ? 1 : 0);
        EXPECT_EQ(ReadBytes(temp.Join("victim")), c.followed ? "copied" : "precious");
        EXPECT_TRUE(fsys::is_symlink(Native(link)));
    }
}

TEST(FsPosixCopy, TheSameFileUnderAnotherNameIsRefused) {
    TempFolder temp;
    const ByteString file = temp.Join("file");
    WriteBytes(file, "precious");
    fsys::create_hard_link(Native(file), Native(temp.Join("hard")));
    fsys::create_symlink("file", Native(temp.Join("soft")));

    for (const auto& [from, to] : {std::pair{"file", "hard"}, {"hard", "file"}, {"file", "soft"}, {"soft", "file"}})
        EXPECT_FALSE(CopyOverwrite(temp.Join(from), temp.Join(to))) << from << " -> " << to;
    EXPECT_EQ(ReadBytes(file), "precious");
    EXPECT_EQ(KindOf(temp.Join("soft")), EntryKind::File);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"file", "hard", "soft"}));
}

TEST(FsPosixCopy, KeepsTimeAndPermissionsAndWritesThroughALinkedDestination) {
    TempFolder temp;
    const ByteString source = temp.Join("source");
    WriteBytes(source, "fresh");
    SetModeAndTime(source, 0604, {1100000000, 0});
    MakeFolder(temp.Join("real"));
    WriteBytes(temp.Join("real/target"), "stale");
    fsys::create_symlink("real/target", Native(temp.Join("link")));
    fsys::create_symlink("source", Native(temp.Join("source-link")));

    ASSERT_TRUE(CopyOverwrite(temp.Join("source-link"), temp.Join("link")));
    EXPECT_EQ(ReadBytes(temp.Join("real/target")), "fresh");
    EXPECT_TRUE(fsys::is_symlink(Native(temp.Join("link"))));
    EXPECT_EQ(ModeOf(temp.Join("real/target")), 0604u);
    EXPECT_EQ(StatOf(temp.Join("real/target")).st_mtim.tv_sec, 1100000000);
    EXPECT_EQ(NamesIn(temp.Join("real")), std::vector<ByteString>{"target"});

    fsys::create_symlink("nowhere", Native(temp.Join("dangling")));
    EXPECT_FALSE(CopyOverwrite(source, temp.Join("dangling"))) << "a dangling link leads nowhere chosen";
}

// ---------------------------------------------------------------------------
// Special files: never opened, so never waited for

TEST(FsPosixSpecialFiles, AreNeitherReadNorWrittenNorCopied) {
    TempFolder temp;
    const ByteString fifo = temp.Join("fifo");
    MakeFifo(fifo);
    fsys::create_symlink(Native(fifo), Native(temp.Join("to-fifo")));
    fsys::create_symlink("/dev/zero", Native(temp.Join("endless")));
    EXPECT_CHILD_PASSES(RunInChild(NoSetUp, [&] {
        return Check(!CopyOverwrite(fifo, temp.Join("a")), "a FIFO was copied") +
               Check(!CopyOverwrite(temp.Join("to-fifo"), temp.Join("b")), "a link to a FIFO was copied") +
               Check(!CopyOverwrite("/dev/zero", temp.Join("c")), "a device was copied") +
               Check(ReadTextFile(fifo).empty(), "read a FIFO") +
               Check(ReadTextFile(temp.Join("endless")).empty(), "read a device") +
               Check(ReadTextFile(temp.Path()).empty(), "read a folder") +
               Check(!AppendTextToFile(fifo, "x"), "appended to a FIFO") +
               Check(!WriteTextFile(fifo, "x"), "wrote to a FIFO") +
               Check(!WriteTextFileSafely(fifo, "x"), "safely wrote to a FIFO");
    }, 5));
    EXPECT_FALSE(CopyOverwrite(temp.Path(), temp.Join("d"))) << "a folder was copied";
    EXPECT_EQ(KindOf(fifo), EntryKind::Special);
    EXPECT_EQ(NamesIn(temp.Path()), (std::vector<ByteString>{"endless", "fifo", "to-fifo"}));
}

// ---------------------------------------------------------------------------
// Writes

TEST(FsPosixWrite, PlainWriteOfAReadOnlyFileAsAnOrdinaryUser) {
    TempFolder temp;
    const ByteString path = temp.Join("settings");
    WriteBytes(path, "old");
    GiveToRunner(path);
    ASSERT_EQ(chmod(Native(path).c_str(), 0444), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(WriteTextFile(path, "new"), "the read-only file was not written");
    }));
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(ModeOf(path), 0644u) << "only the owner's read and write permission is added";
}

TEST(FsPosixWrite, SafeWriteReplacesALinksTargetAndKeepsTheLink) {
    TempFolder temp;
    MakeFolder(temp.Join("real"));
    WriteBytes(temp.Join("real/settings"), "old");
    ASSERT_EQ(chmod(Native(temp.Join("real/settings")).c_str(), 0440), 0);
    fsys::create_symlink("real/settings", Native(temp.Join("link")));

    ASSERT_TRUE(WriteTextFileSafely(temp.Join("link"), "new"));
    EXPECT_TRUE(fsys::is_symlink(Native(temp.Join("link"))));
    EXPECT_EQ(ReadBytes(temp.Join("real/settings")), "new");
    EXPECT_EQ(ModeOf(temp.Join("real/settings")), 0640u);
    EXPECT_EQ(NamesIn(temp.Join("real")), std::vector<ByteString>{"settings"});
}

TEST(FsPosixWrite, SafeWriteFallsBackWhereNoFileCanBeCreatedBeside) {
    TempFolder temp;
    const ByteString folder = temp.Join("closed");
    const ByteString path = FileInClosedFolder(folder, "old");
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(WriteTextFileSafely(path, "new"), "the fallback write failed") +
               Check(!WriteTextFileSafely(folder + "/absent", "x"), "a file appeared in a closed folder");
    }));
    EXPECT_EQ(ReadBytes(path), "new");
    EXPECT_EQ(NamesIn(folder), std::vector<ByteString>{"file"});
}

TEST(FsPosixWrite, SafeWriteOfAFileThatCannotBeReplacedWritesInPlace) {
    TempFolder temp;
    const ByteString path = temp.Join("settings");
    const ByteString mounted = temp.Join("mounted");
    WriteBytes(path, "old");
    WriteBytes(mounted, "old");
    EXPECT_CHILD_PASSES(RunInChild(BindMountFile(Native(mounted), Native(path)), [&] {
        return Check(WriteTextFileSafely(path, "new"), "the settings were not written") +
               Check(NamesIn(temp.Path()) == std::vector<ByteString>{"mounted", "settings"},
                     "the temporary file was left");
    }));
    EXPECT_EQ(ReadBytes(mounted), "new") << "the mounted file is the one written";
}

// ---------------------------------------------------------------------------
// Full disks

TEST(FsPosixFullDisk, AFailedCopyOrSafeWriteKeepsTheOldFile) {
    TempFolder temp;
    const ByteString small = temp.Join("small");
    MakeFolder(small);
    const ByteString source = temp.Join("big");
    WriteBytes(source, std::string(256 * 1024, 'b'));
    const ByteString copy = small + "/copy";
    const ByteString settings = small + "/settings";

    EXPECT_CHILD_PASSES(RunInChild(MountTinyFileSystem(Native(small), 16), [&] {
        WriteBytes(copy, "old copy");
        WriteBytes(settings, "old settings");
        std::string failures = Check(!CopyOverwrite(source, copy), "the copy reported success");
        try {
            (void)WriteTextFileSafely(settings, std::string(64 * 1024, 'n'));
            failures += "the safe write raised no error\n";
        } catch (const FileError& error) {
            failures += Check(error.cause() == FileErrorCause::DiskFull, "not a full disk");
            failures += Check(error.path() == settings, "the message would name another file");
        }
        failures += Check(ReadBytes(copy) == "old copy", "the copy damaged the old destination");
        failures += Check(ReadBytes(settings) == "old settings", "the safe write damaged the old file");
        failures += Check(NamesIn(small) == std::vector<ByteString>{"copy", "settings"}, "a partial file was left");
        return failures;
    }));
}

TEST(FsPosixFullDisk, AppendingToAFullDeviceRaisesDiskFull) {
    TempFolder temp;
    const ByteString link = temp.Join("change.log");
    fsys::create_symlink("/dev/full", Native(link));
    try {
        (void)AppendTextToFile(link, "a line\r\n");
        FAIL() << "the write to a full device must be raised";
    } catch (const FileError& error) {
        EXPECT_EQ(error.cause(), FileErrorCause::DiskFull);
        EXPECT_EQ(error.step(), FileStep::Write);
        EXPECT_EQ(error.path(), link);
    }
}

TEST(FsPosixMove, IntoADropBoxOnAnotherFileSystemThatCannotBeRead) {
    // A folder others may put files in but not list: it cannot be opened to
    // be flushed, and a move into it must still be done.
    TempFolder source;
    ShmFolder box;
    if (!box.OnAnotherFileSystemThan(source.Path())) GTEST_SKIP() << "no /dev/shm on another file system";
    GiveToRunner(source.Path());
    WriteBytes(source.Join("report.pdf"), "the report");
    GiveToRunner(source.Join("report.pdf"));
    GiveToRunner(box.Path());
    ASSERT_EQ(chmod(Native(box.Path()).c_str(), 0300), 0);
    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        return Check(MoveNoOverwrite(source.Join("report.pdf"), box.Join("report.pdf")), "the move failed");
    }));
    EXPECT_EQ(ReadBytes(box.Join("report.pdf")), "the report");
    EXPECT_FALSE(Exists(source.Join("report.pdf")));
}
