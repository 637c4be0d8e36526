// The test file system that the share tests and benchmarks stand on: each of
// its abilities must do what the tests built on it take for granted, or
// those tests would prove nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include "fusefs/fuse_test_fs.h"

using testfs::FuseTestFs;

namespace {

// No kernel cache of names and attributes: every lookup is a request.
FuseTestFs::Options Uncached() {
    FuseTestFs::Options options;
    options.cacheSeconds = 0;
    return options;
}

void Write(const std::string& path, const std::string& content, bool sync) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path;
    ASSERT_EQ(write(fd, content.data(), content.size()), static_cast<ssize_t>(content.size()));
    if (sync) {
        ASSERT_EQ(fsync(fd), 0);
    }
    ASSERT_EQ(close(fd), 0);
}

void SyncFolder(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(fsync(fd), 0);
    close(fd);
}

// The content, or "(none)" when the file does not exist.
std::string Content(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return "(none)";
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

bool IsMounted(const std::string& path) {
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        if (line.find(" " + path + " ") != std::string::npos) return true;
    }
    return false;
}

// The errno of a call that returns -1 on failure; 0 when it succeeded.
int ErrorOf(int result) { return result < 0 ? errno : 0; }

}  // namespace

TEST(TestFileSystem, CountsEachKindOfRequestAndLeavesNoMountBehind) {
    std::string mountPath;
    {
        FuseTestFs fs(Uncached());
        if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
        mountPath = fs.MountPath();
        ASSERT_TRUE(IsMounted(mountPath));
        ASSERT_TRUE(fs.ResetCounts());
        Write(fs.MountPath() + "/a", "abc", true);
        struct stat st;
        ASSERT_EQ(stat((fs.MountPath() + "/a").c_str(), &st), 0);
        ASSERT_EQ(rename((fs.MountPath() + "/a").c_str(), (fs.MountPath() + "/b").c_str()), 0);
        auto counts = fs.Counts();
        EXPECT_EQ(counts["create"], 1u);
        EXPECT_EQ(counts["write"], 1u);
        EXPECT_EQ(counts["fsync"], 1u);
        EXPECT_EQ(counts["rename"], 1u);
        EXPECT_GE(counts["getattr"], 1u);
        EXPECT_GE(counts["total"], counts["create"] + counts["write"] + counts["fsync"] + counts["rename"]);
        // What the test sees in the backing folder costs no request.
        EXPECT_EQ(Content(fs.BackingPath() + "/b"), "abc");
        EXPECT_EQ(fs.Counts()["total"], counts["total"]);
        ASSERT_TRUE(fs.ResetCounts());
        EXPECT_EQ(fs.Counts()["total"], 0u);
    }
    EXPECT_FALSE(IsMounted(mountPath));
}

TEST(TestFileSystem, TheDelayHoldsEachRequestBeforeItIsAnswered) {
    FuseTestFs fs(Uncached());
    if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
    Write(fs.MountPath() + "/a", "x", false);
    ASSERT_TRUE(fs.ResetCounts());
    ASSERT_TRUE(fs.SetDelay(60'000'000));
    std::atomic<bool> answered{false};
    std::thread request([&] {
        struct stat st;
        stat((fs.MountPath() + "/a").c_str(), &st);
        answered = true;
    });
    // Once the server has counted the request, it holds it for the delay
    // (a new delay lets it go).
    while (fs.Counts()["getattr"] == 0) std::this_thread::yield();
    EXPECT_FALSE(answered.load());
    ASSERT_TRUE(fs.SetDelay(0));
    request.join();
    EXPECT_TRUE(answered.load());
}

// A chosen kind of request fails with a chosen error, as many times as asked,
// and only for the paths asked.
TEST(TestFileSystem, ChosenRequestsFailWithTheChosenError) {
    struct Case {
        const char* kind;
        int error;
        std::function<int(const std::string& file)> call;
    };
    const Case cases[] = {
        {"fsync", EIO, [](const std::string& file) {
             const int fd = open(file.c_str(), O_WRONLY);
             const int result = ErrorOf(fsync(fd));
             close(fd);
             return result;
         }},
        {"open", EACCES, [](const std::string& file) {
             const int fd = open(file.c_str(), O_RDONLY);
             if (fd >= 0) close(fd);
             return fd < 0 ? errno : 0;
         }},
        {"write", ENOSPC, [](const std::string& file) {
             const int fd = open(file.c_str(), O_WRONLY);
             const int result = ErrorOf(static_cast<int>(write(fd, "y", 1)));
             close(fd);
             return result;
         }},
        {"rename", EXDEV, [](const std::string& file) { return ErrorOf(rename(file.c_str(), (file + "2").c_str())); }},
        {"setxattr", ENOTSUP,
         [](const std::string& file) { return ErrorOf(setxattr(file.c_str(), "user.k", "v", 1, 0)); }},
        {"unlink", ENOTCONN, [](const std::string& file) { return ErrorOf(unlink(file.c_str())); }},
    };
    FuseTestFs fs(Uncached());
    if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.kind);
        const std::string chosen = fs.MountPath() + "/chosen", other = fs.MountPath() + "/other";
        Write(chosen, "x", false);
        Write(other, "x", false);
        ASSERT_TRUE(fs.Fail(c.kind, c.error, 1, "chosen"));
        EXPECT_EQ(c.call(other), 0);
        EXPECT_EQ(c.call(chosen), c.error);
        Write(chosen, "x", false);
        EXPECT_EQ(c.call(chosen), 0) << "only once";
        ASSERT_TRUE(fs.ClearFaults());
        unlink(chosen.c_str());
        unlink((chosen + "2").c_str());
        unlink(other.c_str());
        unlink((other + "2").c_str());
    }
}

TEST(TestFileSystem, AServerThatGoesAwayFailsEveryRequestFromThatPointOn) {
    FuseTestFs fs(Uncached());
    if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
    const std::string file = fs.MountPath() + "/a";
    Write(file, "x", false);
    // The requests one stat takes, so that the server can go after exactly one.
    struct stat st;
    ASSERT_TRUE(fs.ResetCounts());
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    const uint64_t perStat = fs.Counts()["total"];
    ASSERT_GT(perStat, 0u);
    ASSERT_TRUE(fs.GoAway(ENOTCONN, 1000, static_cast<int64_t>(perStat)));
    EXPECT_EQ(ErrorOf(stat(file.c_str(), &st)), 0);
    EXPECT_EQ(ErrorOf(stat(file.c_str(), &st)), ENOTCONN);
    EXPECT_EQ(ErrorOf(open((fs.MountPath() + "/b").c_str(), O_WRONLY | O_CREAT, 0644)), ENOTCONN);
    ASSERT_TRUE(fs.ClearFaults());
    EXPECT_EQ(ErrorOf(stat(file.c_str(), &st)), 0);
}

// The power cut forgets exactly what was not made durable: a file's content
// needs an fsync of the file, a change of names an fsync of the folder.
TEST(TestFileSystem, APowerCutForgetsWhatWasNotMadeDurable) {
    struct Case {
        const char* what;
        std::function<void(const std::string& root)> act;  // after "old" was made durable with "1"
        const char* oldAfter;
        const char* newAfter;
    };
    const Case cases[] = {
        {"a new file, fsync'ed with its folder",
         [](const std::string& root) {
             Write(root + "/new", "2", true);
             SyncFolder(root);
         },
         "1", "2"},
        {"a new file never fsync'ed", [](const std::string& root) { Write(root + "/new", "2", false); }, "1",
         "(none)"},
        {"a new file fsync'ed, its folder not", [](const std::string& root) { Write(root + "/new", "2", true); },
         "1", "(none)"},
        {"a new name whose file was never fsync'ed",
         [](const std::string& root) {
             Write(root + "/new", "2", false);
             SyncFolder(root);
         },
         "1", ""},
        {"new content without fsync", [](const std::string& root) { Write(root + "/old", "22", false); }, "1",
         "(none)"},
        {"a rename without a folder fsync",
         [](const std::string& root) { ASSERT_EQ(rename((root + "/old").c_str(), (root + "/new").c_str()), 0); },
         "1", "(none)"},
        {"a rename with a folder fsync",
         [](const std::string& root) {
             ASSERT_EQ(rename((root + "/old").c_str(), (root + "/new").c_str()), 0);
             SyncFolder(root);
         },
         "(none)", "1"},
        {"an unlink without a folder fsync", [](const std::string& root) { ASSERT_EQ(unlink((root + "/old").c_str()), 0); },
         "1", "(none)"},
        {"a second name, then the first removed, with a folder fsync",
         [](const std::string& root) {
             ASSERT_EQ(link((root + "/old").c_str(), (root + "/new").c_str()), 0);
             ASSERT_EQ(unlink((root + "/old").c_str()), 0);
             SyncFolder(root);
         },
         "(none)", "1"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FuseTestFs::Options options;
        options.powerCut = true;
        FuseTestFs fs(options);
        if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
        const std::string root = fs.MountPath();
        Write(root + "/old", "1", true);
        SyncFolder(root);
        c.act(root);
        ASSERT_TRUE(fs.PowerCut()) << fs.Error();
        EXPECT_EQ(Content(root + "/old"), c.oldAfter);
        EXPECT_EQ(Content(root + "/new"), c.newAfter);
    }
}

TEST(TestFileSystem, APowerCutKeepsTheMarksOfAnFsyncedFileAndForgetsLaterOnes) {
    FuseTestFs::Options options;
    options.powerCut = true;
    FuseTestFs fs(options);
    if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
    const std::string file = fs.MountPath() + "/a";
    Write(file, "x", false);
    ASSERT_EQ(setxattr(file.c_str(), "user.kept", "1", 1, 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0640), 0);
    const int fd = open(file.c_str(), O_RDONLY);
    ASSERT_EQ(fsync(fd), 0);
    close(fd);
    SyncFolder(fs.MountPath());
    ASSERT_EQ(setxattr(file.c_str(), "user.lost", "1", 1, 0), 0);
    ASSERT_EQ(chmod(file.c_str(), 0600), 0);
    ASSERT_TRUE(fs.PowerCut()) << fs.Error();
    char value[8];
    EXPECT_EQ(getxattr(file.c_str(), "user.kept", value, sizeof value), 1);
    EXPECT_EQ(ErrorOf(static_cast<int>(getxattr(file.c_str(), "user.lost", value, sizeof value))), ENODATA);
    struct stat st;
    ASSERT_EQ(stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
}

// However a test leaves the server (gone, with a request held), the end of
// the test removes the mount.
TEST(TestFileSystem, AServerThatWentAwayIsStillUnmountedAtTheEnd) {
    std::string mountPath;
    std::thread request;
    std::atomic<int> error{0};
    {
        FuseTestFs fs(Uncached());
        if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
        mountPath = fs.MountPath();
        ASSERT_TRUE(fs.GoAway(EIO, 60'000'000));
        request = std::thread([&] {
            struct stat st;
            error = ErrorOf(stat((mountPath + "/a").c_str(), &st));
        });
        while (fs.Counts()["total"] == 0) std::this_thread::yield();
    }
    EXPECT_FALSE(IsMounted(mountPath));
    request.join();
    EXPECT_NE(error.load(), 0);
}
