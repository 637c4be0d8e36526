// Copies and moves to another file system keep every byte and mark: extended
// attributes and POSIX ACLs where the destination holds them, the holes of a
// sparse file, and a destination that cannot hold a mark does not fail the
// file.  Sources lie in the system's temporary folder (ext4 here), the
// destinations on /dev/shm (tmpfs), on a tiny tmpfs mounted in a child's own
// mount namespace, or on the test file system.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "fs/fs.h"
#include "fusefs/fuse_test_fs.h"
#include "support/child_process.h"
#include "support/shm_folder.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

std::string Native(const ByteString& path) { return NativePath(path).string(); }

enum class Mode { Move, Copy };

bool Place(Mode mode, const ByteString& from, const ByteString& to) {
    return mode == Mode::Move ? MoveNoOverwrite(from, to) : CopyOverwrite(from, to);
}

// Every extended attribute of a file, by name.
std::map<std::string, std::string> MarksOf(const std::string& path) {
    std::map<std::string, std::string> marks;
    std::vector<char> names(65536);
    const ssize_t length = llistxattr(path.c_str(), names.data(), names.size());
    for (ssize_t at = 0; at < length;) {
        const std::string name = names.data() + at;
        at += static_cast<ssize_t>(name.size()) + 1;
        std::vector<char> value(65536);
        const ssize_t size = lgetxattr(path.c_str(), name.c_str(), value.data(), value.size());
        if (size >= 0) marks[name] = std::string(value.data(), static_cast<size_t>(size));
    }
    return marks;
}

void SetMark(const std::string& path, const std::string& name, const std::string& value) {
    ASSERT_EQ(setxattr(path.c_str(), name.c_str(), value.data(), value.size(), 0), 0) << name;
}

// An access ACL that gives user 1234 read access besides the owner: the
// kernel's binary form (version 2, then tag, permissions and id per entry).
std::string AccessAcl() {
    struct Entry {
        uint16_t tag, perm;
        uint32_t id;
    };
    const Entry entries[] = {{0x01, 6, ~0u}, {0x02, 4, 1234}, {0x04, 4, ~0u}, {0x10, 4, ~0u}, {0x20, 0, ~0u}};
    std::string acl("\x02\0\0\0", 4);
    for (const Entry& entry : entries) acl.append(reinterpret_cast<const char*>(&entry), sizeof entry);
    return acl;
}

// A file of the size holding one byte at each of the offsets, holes elsewhere.
void WriteSparse(const std::string& path, off_t size, const std::vector<off_t>& offsets) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0);
    for (const off_t at : offsets) ASSERT_EQ(pwrite(fd, "x", 1, at), 1);
    ASSERT_EQ(ftruncate(fd, size), 0);
    close(fd);
}

}  // namespace

TEST(FsPosixMarks, CopiesAndMovesAcrossFileSystemsKeepExtendedAttributesAndAcls) {
    const std::string big(3000, 'v');
    for (const Mode mode : {Mode::Move, Mode::Copy}) {
        SCOPED_TRACE(mode == Mode::Move ? "move" : "copy");
        TempFolder source;
        ShmFolder destination;
        ASSERT_TRUE(destination.OnAnotherFileSystemThan(source.Path()));
        const ByteString from = source.Join("a.txt");
        WriteBytes(from, "content");
        SetMark(Native(from), "user.short", "1");
        SetMark(Native(from), "user.empty", "");
        SetMark(Native(from), "user.big", big);
        SetMark(Native(from), "system.posix_acl_access", AccessAcl());
        SetMark(Native(from), "trusted.admin", "x");
        std::map<std::string, std::string> expected = MarksOf(Native(from));
        ASSERT_EQ(expected.erase("trusted.admin"), 1u);
        struct stat before;
        ASSERT_EQ(stat(Native(from).c_str(), &before), 0);

        const ByteString to = destination.Join("b.txt");
        ASSERT_TRUE(Place(mode, from, to));
        EXPECT_EQ(ReadBytes(to), "content");
        EXPECT_EQ(MarksOf(Native(to)), expected) << "user.* and the ACL kept, trusted.* not carried";
        struct stat after;
        ASSERT_EQ(stat(Native(to).c_str(), &after), 0);
        EXPECT_EQ(after.st_mode & 0777, before.st_mode & 0777) << "the ACL's mask and the mode agree";
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(Exists(from), mode == Mode::Copy);
    }
}

// A file of 64 MiB holding 3 bytes (at its start, its middle and its last
// byte) fits a volume of 16 MiB and stays sparse there.
TEST(FsPosixMarks, ASparseFileKeepsItsHolesOnAVolumeSmallerThanItsSize) {
    constexpr off_t kSize = 64 << 20;
    const std::vector<off_t> offsets = {0, kSize / 2, kSize - 1};
    for (const Mode mode : {Mode::Move, Mode::Copy}) {
        SCOPED_TRACE(mode == Mode::Move ? "move" : "copy");
        TempFolder source;
        const ByteString from = source.Join("sparse.img");
        WriteSparse(Native(from), kSize, offsets);
        const std::string volume = Native(source.Join("volume"));
        MakeFolder(source.Join("volume"));
        EXPECT_CHILD_PASSES(RunInChild(
            [&]() -> std::string {
                if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
                    return std::string(kSkipMark) + "no mount namespace";
                if (mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=16m") != 0)
                    return std::string(kSkipMark) + "cannot mount a tmpfs";
                return "";
            },
            [&]() -> std::string {
                const ByteString to = source.Join("volume/sparse.img");
                if (!Place(mode, from, to)) return "the file did not fit";
                const int fd = open(Native(to).c_str(), O_RDONLY);
                struct stat st;
                if (fd < 0 || fstat(fd, &st) != 0) return "no copy";
                std::string problems;
                if (st.st_size != kSize) problems += "size " + std::to_string(st.st_size) + "\n";
                if (st.st_blocks * 512 > (1 << 20)) problems += "allocated " + std::to_string(st.st_blocks * 512) + "\n";
                for (const off_t at : offsets) {
                    char byte = 0;
                    if (pread(fd, &byte, 1, at) != 1 || byte != 'x') problems += "byte at " + std::to_string(at) + "\n";
                }
                char zero = 1;
                if (pread(fd, &zero, 1, kSize / 4) != 1 || zero != 0) problems += "a hole reads as other than 0\n";
                close(fd);
                if (Exists(from) != (mode == Mode::Copy)) problems += "source\n";
                return problems;
            }));
    }
}

// A destination that cannot hold a mark keeps the file without it; one that
// fails as a device fails (a server in trouble) fails the move, which leaves
// the source where it was and nothing on the destination.
TEST(FsPosixMarks, ADestinationThatCannotHoldAMarkStillTakesTheFile) {
    struct Case {
        int error;
        bool placed;
    };
    const Case cases[] = {{ENOTSUP, true}, {EPERM, true}, {E2BIG, true}, {EIO, false}, {ENOTCONN, false}};
    testfs::FuseTestFs share;
    if (!share.IsMounted()) GTEST_SKIP() << share.Error();
    for (const Case& c : cases) {
        for (const Mode mode : {Mode::Move, Mode::Copy}) {
            SCOPED_TRACE(std::to_string(c.error) + (mode == Mode::Move ? " move" : " copy"));
            TempFolder source;
            const ByteString from = source.Join("a.txt");
            WriteBytes(from, "content");
            ASSERT_EQ(chmod(Native(from).c_str(), 0640), 0);
            SetMark(Native(from), "user.mark", "1");
            const std::string name = "e" + std::to_string(c.error) + (mode == Mode::Move ? "m" : "c");
            ASSERT_TRUE(share.Fail("setxattr", c.error));
            EXPECT_EQ(Place(mode, from, ByteString(share.MountPath() + "/" + name)), c.placed);
            ASSERT_TRUE(share.ClearFaults());
            EXPECT_EQ(Exists(from), mode == Mode::Copy || !c.placed);
            const std::string placed = share.BackingPath() + "/" + name;
            if (c.placed) {
                EXPECT_EQ(ReadBytes(ByteString(placed)), "content");
                struct stat st;
                ASSERT_EQ(stat(placed.c_str(), &st), 0);
                EXPECT_EQ(st.st_mode & 0777, 0640u);
                EXPECT_TRUE(MarksOf(placed).empty());
            }
            std::vector<ByteString> left = NamesIn(ByteString(share.BackingPath()));
            EXPECT_EQ(std::count(left.begin(), left.end(), ByteString(name)), c.placed ? 1 : 0);
        }
    }
    // Nothing but the placed files: no temporary file left behind.
    EXPECT_EQ(NamesIn(ByteString(share.BackingPath())).size(), 6u);
}
