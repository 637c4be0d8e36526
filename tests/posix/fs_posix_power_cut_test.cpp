// Power cuts on a file server: the test file system forgets everything that
// was not made durable, and no move or copy onto it may lose a file or leave
// it half-written.  A move to the server must have its copy durable before
// the source goes, so the cut at that very moment is the hardest case.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fs/fs.h"
#include "support/fs_seams.h"
#include "fusefs/fuse_test_fs.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

// What a path holds after the cut, seen in the backing folder: its content,
// or "(none)".
std::string Held(const std::string& path) {
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) return "(none)";
    return ReadBytes(ByteString(path));
}

// Writes a file onto the share and makes it and its name durable.
void WriteDurably(const std::string& path, const std::string& content) {
    WriteBytes(ByteString(path), content);
    for (const std::string& each : {path, path.substr(0, path.rfind('/'))}) {
        const int fd = open(each.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(fsync(fd), 0);
        close(fd);
    }
}

class CutHook {
public:
    explicit CutHook(testfs::FuseTestFs& share) {
        testing_support::SetBeforeSourceRemoval([&share] { cut = share.PowerCut(); });
    }
    ~CutHook() { testing_support::SetBeforeSourceRemoval(nullptr); }
    static inline bool cut = false;
};

}  // namespace

TEST(FsPosixPowerCut, NoMoveOrCopyOntoAServerLosesAFileOrHalfWritesIt) {
    const std::string content(300000, 'n');
    struct Case {
        const char* what;
        // Does the work on the local file and the share; returns what the
        // program's call returned.
        std::function<bool(const ByteString& local, const std::string& share, testfs::FuseTestFs& fs)> act;
        bool cutDuringMove;
        // The contents the share's "new" may hold afterwards, and whether the
        // local file must still be there.
        std::vector<std::string> allowed;
        bool localStays;
    };
    const Case cases[] = {
        {"a move, cut afterwards",
         [](const ByteString& local, const std::string& share, testfs::FuseTestFs&) {
             return MoveNoOverwrite(local, ByteString(share + "/new"));
         },
         false, {content}, false},
        {"a move, cut just before the source goes",
         [](const ByteString& local, const std::string& share, testfs::FuseTestFs&) {
             return MoveNoOverwrite(local, ByteString(share + "/new"));
         },
         true, {content}, false},
        {"a copy to a new name, cut afterwards",
         [](const ByteString& local, const std::string& share, testfs::FuseTestFs&) {
             return CopyOverwrite(local, ByteString(share + "/new"));
         },
         false, {"(none)", content}, true},
        {"a copy over a file, cut afterwards",
         [](const ByteString& local, const std::string& share, testfs::FuseTestFs&) {
             WriteDurably(share + "/new", "old");
             return CopyOverwrite(local, ByteString(share + "/new"));
         },
         false, {"old", content}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        testfs::FuseTestFs::Options options;
        options.powerCut = true;
        testfs::FuseTestFs fs(options);
        if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
        TempFolder local;
        const ByteString file = local.Join("report.pdf");
        WriteBytes(file, content);
        bool result;
        {
            std::optional<CutHook> hook;
            if (c.cutDuringMove) hook.emplace(fs);
            CutHook::cut = false;
            result = c.act(file, fs.MountPath(), fs);
        }
        EXPECT_TRUE(result);
        if (c.cutDuringMove) {
            ASSERT_TRUE(CutHook::cut) << fs.Error();
        } else {
            ASSERT_TRUE(fs.PowerCut()) << fs.Error();
        }
        const std::string held = Held(fs.BackingPath() + "/new");
        EXPECT_NE(std::find(c.allowed.begin(), c.allowed.end(), held), c.allowed.end())
            << "the share holds " << held.size() << " bytes";
        EXPECT_EQ(Exists(file), c.localStays);
        EXPECT_EQ(NamesIn(ByteString(fs.BackingPath())).size(), held == "(none)" ? 0u : 1u)
            << "nothing else on the share";
    }
}

// Within the server a move is a rename: after the cut the file is whole
// under exactly one of its names.
TEST(FsPosixPowerCut, AMoveWithinTheServerLeavesTheFileUnderOneName) {
    testfs::FuseTestFs::Options options;
    options.powerCut = true;
    testfs::FuseTestFs fs(options);
    if (!fs.IsMounted()) GTEST_SKIP() << fs.Error();
    WriteDurably(fs.MountPath() + "/old", "whole");
    ASSERT_TRUE(MoveNoOverwrite(ByteString(fs.MountPath() + "/old"), ByteString(fs.MountPath() + "/new")));
    ASSERT_TRUE(fs.PowerCut()) << fs.Error();
    const std::string before = Held(fs.BackingPath() + "/old"), after = Held(fs.BackingPath() + "/new");
    EXPECT_TRUE((before == "whole") != (after == "whole")) << before << " / " << after;
    EXPECT_EQ(NamesIn(ByteString(fs.BackingPath())).size(), 1u);
}
