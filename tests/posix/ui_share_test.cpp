// Filing onto a file server (the test file system, with a delay on each
// request): small files are worked on several at once, yet the names, the
// serial numbers, the counts and the order of the log lines are those of one
// file after another; a server that goes away mid-batch ends the batch soon,
// each file not handled failing with its log line, nothing lost, and a
// warning after the result box.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "batch/run_tally.h"
#include "fusefs/fuse_test_fs.h"
#include "support/fake_controls.h"
#include "support/test_support.h"
#include "ui/drop_dialog.h"

using testing_support::Exists;
using testing_support::ReadBytes;
using testing_support::TempFolder;
using testing_support::WriteBytes;

namespace {

std::string ContentOf(int file) { return "content of file " + std::to_string(file) + std::string(3000, 'x'); }

ByteString NameOf(int file) {
    char name[16];
    std::snprintf(name, sizeof name, "f%03d", file);
    return name;
}

// One log's lines as pairs of the source's name and the new name.
std::vector<std::pair<ByteString, ByteString>> LinesOf(const ByteString& log) {
    std::vector<std::pair<ByteString, ByteString>> lines;
    for (size_t start = 0; start < log.size();) {
        const size_t end = log.find("\r\n", start);
        const ByteString line = log.substr(start, end - start);
        const size_t arrow = line.find('>');
        lines.emplace_back(line.substr(line.rfind('/', arrow) + 1, arrow - line.rfind('/', arrow) - 1),
                           line.substr(line.rfind('/') + 1));
        start = end + 2;
    }
    return lines;
}

struct ShareBatch {
    TempFolder program, source;
    testfs::FuseTestFs share{testfs::FuseTestFs::Options{.delayMicroseconds = 2000}};
    CDropDlg dlg{program.Path() + kPathSeparator, [] { return int64_t{1700000000}; }};
    FakeControls controls;

    explicit ShareBatch(int files) {
        for (int i = 0; i < files; ++i) WriteBytes(source.Join(NameOf(i)), ContentOf(i));
        dlg.Attach(controls);
        dlg.OnInitDialog();
        controls.texts[IDC_WHERE] = ByteString(share.MountPath() + "/in");
        controls.texts[IDC_FORMAT] = Cp932(u8"[連番]");
        controls.texts[IDC_KBYTES] = "0";
        controls.checks[IDC_MOVE] = true;
        controls.checks[IDC_CHANGELOG] = true;
        controls.checks[IDC_ERRORLOG] = true;
    }
    void Drop() {
        dlg.OnDropFiles([&] { return std::vector<DroppedPath>{{source.Path(), true}}; });
    }
    ByteString OnShare(const ByteString& name) const { return ByteString(share.BackingPath() + "/in/") + name; }
    ByteString Log(const char* name) const {
        const ByteString path = program.Path() + kPathSeparator + name;
        return Exists(path) ? ReadBytes(path) : ByteString();
    }
};

}  // namespace

TEST(Share, FilesWorkedOnTogetherAreToldAsOneAfterAnother) {
    constexpr int kFiles = 60;
    ShareBatch batch(kFiles);
    if (!batch.share.IsMounted()) GTEST_SKIP() << batch.share.Error();
    // Two names are taken already: their files fail and stay.
    testing_support::MakeFolder(ByteString(batch.share.MountPath() + "/in"));
    WriteBytes(ByteString(batch.share.MountPath() + "/in/7"), "taken");
    WriteBytes(ByteString(batch.share.MountPath() + "/in/31"), "taken");
    batch.Drop();

    // The serial numbers follow the order of the walk, each file's line in
    // its log in that order, and every new name holds its own file.
    const auto changes = LinesOf(batch.Log("change.log"));
    const auto errors = LinesOf(batch.Log("error.log"));
    ASSERT_EQ(changes.size(), size_t{kFiles - 2});
    ASSERT_EQ(errors.size(), 2u);
    EXPECT_EQ(errors[0].second, "7");
    EXPECT_EQ(errors[1].second, "31");
    int expected = 0;
    for (const auto& [from, to] : changes) {
        if (expected == 7 || expected == 31) ++expected;
        EXPECT_EQ(to, std::to_string(expected++));
        EXPECT_EQ(ReadBytes(batch.OnShare(to)), ContentOf(std::stoi(from.substr(1)))) << from;
        EXPECT_FALSE(Exists(batch.source.Join(from))) << from;
    }
    for (const auto& [from, to] : errors) EXPECT_EQ(ReadBytes(batch.source.Join(from)), ContentOf(std::stoi(from.substr(1))));
    EXPECT_EQ(batch.controls.boxes.back().text, Cp932(u8"成功：58　失敗：2　トータル：60"));
    // Several files a round trip: fewer than one flush of the folder each.
    EXPECT_LT(batch.share.Counts()["fsyncdir"], uint64_t{kFiles - 2});
}

TEST(Share, AServerThatGoesAwayEndsTheBatchAndEachFileLeftFailsWithItsLine) {
    constexpr int kFiles = 300;
    ShareBatch batch(kFiles);
    if (!batch.share.IsMounted()) GTEST_SKIP() << batch.share.Error();
    ASSERT_TRUE(batch.share.ResetCounts());
    // After some files, every request waits a while and fails.
    constexpr int64_t kAnswered = 200;
    ASSERT_TRUE(batch.share.GoAway(ENOTCONN, 20000, kAnswered));
    batch.Drop();

    // Few requests after the loss: the files at work, and one question
    // whether the server is there; trying each file left would take several
    // requests each.
    EXPECT_LT(batch.share.Counts()["total"], uint64_t{kAnswered + 100});
    const auto changes = LinesOf(batch.Log("change.log"));
    const auto errors = LinesOf(batch.Log("error.log"));
    EXPECT_GT(changes.size(), 0u);
    EXPECT_EQ(changes.size() + errors.size(), size_t{kFiles});
    // Nothing lost: each file whole at its new name or its old one.
    ASSERT_TRUE(batch.share.ClearFaults());
    for (const auto& [from, to] : changes)
        EXPECT_EQ(ReadBytes(batch.OnShare(to)), ContentOf(std::stoi(from.substr(1)))) << from;
    for (const auto& [from, to] : errors)
        EXPECT_EQ(ReadBytes(batch.source.Join(from)), ContentOf(std::stoi(from.substr(1)))) << from;
    // The result, then the warning.
    ASSERT_GE(batch.controls.boxes.size(), 2u);
    const auto& result = batch.controls.boxes[batch.controls.boxes.size() - 2];
    EXPECT_EQ(result.text, LabelledCounts({{u8"成功：", static_cast<int32_t>(changes.size())},
                                           {u8"　失敗：", static_cast<int32_t>(errors.size())},
                                           {u8"　トータル：", kFiles}}));
    EXPECT_EQ(batch.controls.boxes.back().caption, Cp932(u8"警告"));
    EXPECT_EQ(batch.controls.boxes.back().text,
              Cp932(u8"移動先に接続できなくなったため、残りのファイルは処理していません。"));
}

TEST(Share, CopiesWorkedOnTogetherAreToldAsOneAfterAnotherAndReplaceOnTheirOwn) {
    constexpr int kFiles = 40;
    ShareBatch batch(kFiles);
    if (!batch.share.IsMounted()) GTEST_SKIP() << batch.share.Error();
    batch.controls.checks[IDC_MOVE] = false;
    batch.controls.checks[IDC_COPY] = true;
    // A name taken by a link to an earlier new name: the copy writes
    // through it, after the copy that made that name, as one after another.
    testing_support::MakeFolder(ByteString(batch.share.MountPath() + "/in"));
    ASSERT_EQ(symlink("5", (batch.share.MountPath() + "/in/12").c_str()), 0);
    batch.Drop();

    const auto changes = LinesOf(batch.Log("change.log"));
    ASSERT_EQ(changes.size(), size_t{kFiles});
    for (size_t i = 0; i < changes.size(); ++i) EXPECT_EQ(changes[i].second, std::to_string(i));
    // The file that went to "12" wrote through the link into "5", after the
    // file that went to "5" itself.
    EXPECT_EQ(ReadBytes(batch.OnShare("5")), ContentOf(std::stoi(changes[12].first.substr(1))));
    for (size_t i = 0; i < changes.size(); ++i) {
        if (i == 5 || i == 12) continue;
        EXPECT_EQ(ReadBytes(batch.OnShare(std::to_string(i))), ContentOf(std::stoi(changes[i].first.substr(1))));
    }
    EXPECT_EQ(batch.controls.boxes.back().text, Cp932(u8"成功：40　失敗：0　トータル：40"));
}
