// The walk against what only a POSIX file system offers: symbolic links,
// FIFOs, names without a code page 932 form, /dev/full, an unprivileged user.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "batch/batch_run.h"
#include "fs/fs.h"
#include "support/batch_fixture.h"
#include "support/child_process.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {

class BatchWalkTest : public BatchFixture {
protected:
    BatchWalkTest() : BatchFixture(Cp932(u8"[連番]_[ファイルタイトル]")) {}

    void SetUp() override {
        // A walk that follows a link or opens a FIFO hangs or loops: fail
        // loudly instead of waiting for the test runner's timeout.
        alarm(60);
    }
    void TearDown() override { alarm(0); }

    fsys::path Native(const ByteString& path) const { return NativePath(path); }

    std::optional<FileError> RunCatching(const std::vector<DroppedPath>& paths) {
        try {
            batch.RunBatch(paths);
        } catch (const FileError& error) {
            return error;
        }
        return std::nullopt;
    }

    bool ResultBoxShown() const {
        for (const auto& box : host.boxes)
            if (box.caption == Cp932(u8"結果")) return true;
        return false;
    }
};

TEST_F(BatchWalkTest, LinksToFoldersAreWalkedOnlyWhenDroppedAndAreKept) {
    // Inside the drop, one link leads back up and one out of it; a third,
    // dropped on its own, leads to a folder that is walked.
    TempFolder elsewhere, real;
    WriteBytes(elsewhere.Join("outside"), "o");
    WriteBytes(real.Join("bravo"), "b");
    MakeFolder(In("inner"));
    WriteBytes(In("inner") + "/alpha", "a");
    fsys::create_directory_symlink(Native(source.Path()), Native(In("inner") + "/up"));
    fsys::create_directory_symlink(Native(elsewhere.Path()), Native(In("away")));
    fsys::create_directory_symlink(Native(real.Path()), Native(target.Join("dropped")));
    settings.m_bDeleteDerectory = 1;

    batch.RunBatch(AsDropped({source.Path(), target.Join("dropped")}));

    EXPECT_EQ(state.m_nTotal, 2);
    EXPECT_EQ(NamesIn(target.Join("out")), (std::vector<ByteString>{"0_alpha", "1_bravo"}));
    EXPECT_EQ(NamesIn(elsewhere.Path()), std::vector<ByteString>{"outside"});
    EXPECT_TRUE(fsys::is_symlink(Native(In("inner") + "/up")));  // and its folder stays
    EXPECT_TRUE(fsys::is_symlink(Native(In("away"))));
    EXPECT_TRUE(fsys::is_symlink(Native(target.Join("dropped"))));
    EXPECT_TRUE(fsys::is_directory(Native(real.Path())));
}

TEST_F(BatchWalkTest, FifosAreCountedAsFailuresAndNeverOpened) {
    ASSERT_EQ(mkfifo(Native(In("pipe")).c_str(), 0600), 0);
    WriteBytes(In("alpha"), "a");
    for (const int32_t mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "move" : "copy");
        settings.m_nMode = mode;
        settings.m_sWhere = target.Join("out");

        batch.RunBatch(AsDropped({source.Path(), In("pipe")}));

        EXPECT_EQ(state.m_nTotal, mode == 0 ? 3 : 2);  // the file moved away in the first round
        EXPECT_EQ(state.m_nFailure, 2);
        EXPECT_NE(state.m_sErrorLog.find(In("pipe") + ">"), ByteString::npos);
        EXPECT_TRUE(fsys::is_fifo(Native(In("pipe"))));
        EXPECT_FALSE(fsys::exists(Native(target.Join("out") + "/0_pipe")));
    }
}

TEST_F(BatchWalkTest, NamesWithoutACodePage932FormAreFailuresLeftUntouched) {
    const fsys::path folder = Native(source.Path());
    WriteBytes(In("caf?.txt"), "the real question mark");
    {
        std::ofstream(folder / "caf\xC3\xA9.txt") << "accented";
        std::ofstream(folder / "\xF0\x9F\x98\x80.txt") << "emoji";
        fsys::create_directory(folder / "r\xC3\xA9p");
        std::ofstream(folder / "r\xC3\xA9p" / "inner") << "inside";
    }
    settings.m_sFileNameFormat = Cp932(u8"[ファイルタイトル].[拡張子]");
    settings.m_bErrorLog = 1;

    // The "?" form of a dropped name aims at an existing file: it must not be
    // moved in its place before the walk reaches it.
    batch.RunBatch(std::vector<DroppedPath>{{In("caf?.txt"), false}, {source.Path(), true}});

    EXPECT_EQ(state.m_nTotal, 5);
    EXPECT_EQ(state.m_nFailure, 4);
    EXPECT_EQ(state.m_sChangeLog, In("caf?.txt") + ">" + Out("caf?.txt") + "\r\n");
    EXPECT_EQ(ReadBytes(Out("caf?.txt")), "the real question mark");
    std::ifstream accented(folder / "caf\xC3\xA9.txt");
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(accented), {}), "accented");
    EXPECT_TRUE(fsys::exists(folder / "\xF0\x9F\x98\x80.txt"));
    EXPECT_TRUE(fsys::exists(folder / "r\xC3\xA9p" / "inner"));
    EXPECT_NE(state.m_sErrorLog.find(In("caf?.txt") + ">" + Out("caf?.txt") + "\r\n"), ByteString::npos);
    EXPECT_NE(state.m_sErrorLog.find(In("?.txt") + ">"), ByteString::npos);
    EXPECT_NE(state.m_sErrorLog.find(In("r?p") + ">"), ByteString::npos);
}

TEST_F(BatchWalkTest, TheDestinationIsRecognisedByIdentityNotByText) {
    // One folder inside the drop, named by a link to it and through a link
    // to the dropped folder.
    MakeFolder(In("out"));
    WriteBytes(In("out") + "/placed", "p");
    fsys::create_directory_symlink(Native(In("out")), Native(target.Join("destination")));
    fsys::create_directory_symlink(Native(source.Path()), Native(target.Join("alias")));
    settings.m_bDeleteDerectory = 1;
    const std::pair<ByteString, ByteString> rounds[] = {{target.Join("destination"), "alpha"},
                                                        {target.Join("alias") + "/out", "bravo"}};
    for (const auto& [where, name] : rounds) {
        SCOPED_TRACE(where);
        settings.m_sWhere = where;
        WriteBytes(In(name), name);

        batch.RunBatch(AsDropped({source.Path()}));

        EXPECT_EQ(state.m_nTotal, 1) << "files in the destination must not be handled again";
        EXPECT_EQ(ReadBytes(In("out") + "/0_" + name), name);
    }
    EXPECT_EQ(NamesIn(In("out")), (std::vector<ByteString>{"0_alpha", "0_bravo", "placed"}));
}

TEST_F(BatchWalkTest, AFullDiskOnTheFirstLogStillWritesTheSecondAndSaysSo) {
    if (!fsys::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    WriteBytes(In("alpha"), "a");
    settings.m_bChangeLog = settings.m_bErrorLog = 1;
    fsys::create_symlink("/dev/full", Native(logs.Join("change.log")));

    // The untouchable path gives the error log a line to write.
    const auto error = RunCatching({{In("alpha"), true}, {In("gon?"), false}});

    EXPECT_FALSE(error);
    EXPECT_EQ(ReadBytes(logs.Join("error.log")), In("gon?") + ">" + Out("1_gon?") + "\r\n");
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[1].caption, Cp932(u8"結果"));
    EXPECT_EQ(host.boxes[2].text, logs.Join("change.log") + Cp932(u8" に 1 行を書き込めませんでした。"));
}

TEST_F(BatchWalkTest, AFileOfFourGibibytesIsNeverSmall) {
    // Its low 32 bits say 5 bytes; deleting it as small would lose it.
    WriteBytes(In("huge"), "");
    fsys::resize_file(Native(In("huge")), (uint64_t{1} << 32) + 5);
    settings.m_bFileDontMove = 1;
    settings.m_nKBytes = 10;
    settings.m_nDontMoveMode = 0;

    batch.RunBatch(AsDropped({In("huge")}));

    EXPECT_EQ(fsys::file_size(Native(Out("0_huge"))), (uint64_t{1} << 32) + 5);
}

TEST_F(BatchWalkTest, ASmallFileThatCannotBeDeletedIsAFailureLoggedWithItsTarget) {
    WriteBytes(In("tiny"), "");
    settings.m_bFileDontMove = 1;
    settings.m_nKBytes = 1;
    settings.m_nDontMoveMode = 0;
    ASSERT_EQ(chmod(Native(source.Path()).c_str(), 0555), 0);

    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        batch.RunBatch(AsDropped({In("tiny")}));
        std::string wrong;
        if (state.m_nSuccess != 0 || state.m_nFailure != 1 || state.m_nTotal != 1) wrong += "miscounted; ";
        // The target names where the file would have gone, though nothing was written there.
        if (state.m_sErrorLog != In("tiny") + ">" + Out("0_tiny") + "\r\n") wrong += "error log: " + state.m_sErrorLog;
        if (!state.m_sChangeLog.empty()) wrong += "change log: " + state.m_sChangeLog;
        return wrong;
    }));
    EXPECT_TRUE(Exists(In("tiny")));
}

TEST_F(BatchWalkTest, ADroppedFileIsMovedFromAFolderThatCanBeEnteredButNotListed) {
    WriteBytes(In("hidden.txt"), "kept");
    // Everybody may enter and change both folders; nobody else may list the source.
    ASSERT_EQ(chmod(Native(source.Path()).c_str(), 0733), 0);
    ASSERT_EQ(chmod(Native(target.Path()).c_str(), 0777), 0);

    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        batch.RunBatch(AsDropped({In("hidden.txt")}));
        if (state.m_nSuccess != 1 || state.m_nTotal != 1) return "not moved; error log: " + state.m_sErrorLog;
        return std::string();
    }));
    EXPECT_EQ(ReadBytes(Out("0_hidden")), "kept");
}

// Someone with write access to a shared folder swaps the dropped tree's
// folders for links to another folder holding files of the same names, once
// the batch has started.  The folder being walked goes on through what it
// is, the other one is never entered: nothing outside the drop is moved or
// deleted, though the small-file rule deletes and every name matches.
TEST_F(BatchWalkTest, FoldersSwappedForLinksDuringTheBatchLeadNowhereElse) {
    TempFolder outside;
    for (const char* folder : {"x", "y"}) {
        MakeFolder(In(folder));
        for (const char* file : {"1", "2", "3"}) WriteBytes(In(folder) + "/" + file, "mine");
    }
    for (const char* file : {"1", "2", "3"}) WriteBytes(outside.Join(file), "theirs");
    settings.m_bFileDontMove = 1;  // every file here is small: deleted
    settings.m_nKBytes = 1;
    settings.m_nDontMoveMode = 0;
    settings.m_bDeleteDerectory = 1;
    bool swapped = false;
    host.onTitle = [&] {
        if (std::exchange(swapped, true)) return;
        for (const char* folder : {"x", "y"}) {
            fsys::rename(Native(In(folder)), Native(In(folder) + ".old"));
            fsys::create_directory_symlink(Native(outside.Path()), Native(In(folder)));
        }
    };

    batch.RunBatch(AsDropped({source.Path()}));

    EXPECT_EQ(NamesIn(outside.Path()), (std::vector<ByteString>{"1", "2", "3"}));
    for (const char* file : {"1", "2", "3"}) EXPECT_EQ(ReadBytes(outside.Join(file)), "theirs");
    EXPECT_TRUE(fsys::is_symlink(Native(In("x"))));
    EXPECT_TRUE(fsys::is_symlink(Native(In("y"))));
    // The first folder's three files were deleted where they now are; the
    // second folder counts once, as a folder that could not be walked.
    EXPECT_EQ(state.m_nSuccess, 3);
    EXPECT_EQ(state.m_nFailure, 1);
    EXPECT_EQ(state.m_nTotal, 4);
}

TEST_F(BatchWalkTest, AFolderThatCannotBeListedIsOneFailureWithItsLogLine) {
    MakeFolder(In("locked"));
    WriteBytes(In("locked") + "/hidden", "h");
    WriteBytes(In("open"), "o");
    for (const ByteString& folder : {source.Path(), target.Path()}) ASSERT_EQ(chmod(Native(folder).c_str(), 0777), 0);
    ASSERT_EQ(chmod(Native(In("locked")).c_str(), 0), 0);

    EXPECT_CHILD_PASSES(RunInChild(DropPrivileges, [&] {
        batch.RunBatch(AsDropped({source.Path()}));
        std::string wrong;
        if (state.m_nSuccess != 1 || state.m_nFailure != 1 || state.m_nTotal != 2) wrong += "miscounted; ";
        const ByteString line = In("locked") + ">" + target.Join("out") + kPathSeparator + "\r\n";
        if (state.m_sErrorLog != line) wrong += "error log: " + state.m_sErrorLog;
        return wrong;
    }));
    ASSERT_EQ(chmod(Native(In("locked")).c_str(), 0755), 0);
    EXPECT_EQ(ReadBytes(In("locked") + "/hidden"), "h");
}

// Deeper than any path the system takes in one piece, and than a recursive
// walk should go: the file at the bottom is moved and every emptied folder
// removed, deepest first.
TEST_F(BatchWalkTest, ATreeThreeThousandFoldersDeepIsWalked) {
    constexpr int kDepth = 3000;
    int folder = open(Native(source.Path()).c_str(), O_RDONLY | O_DIRECTORY);
    ASSERT_GE(folder, 0);
    for (int level = 0; level < kDepth; ++level) {
        ASSERT_EQ(mkdirat(folder, "d", 0755), 0) << level;
        const int deeper = openat(folder, "d", O_RDONLY | O_DIRECTORY);
        close(folder);
        ASSERT_GE(deeper, 0) << level;
        folder = deeper;
    }
    const int file = openat(folder, "bottom", O_WRONLY | O_CREAT, 0644);
    ASSERT_GE(file, 0);
    ASSERT_EQ(write(file, "deep", 4), 4);
    close(file);
    close(folder);
    settings.m_bDeleteDerectory = 1;

    batch.RunBatch(AsDropped({In("d")}));

    EXPECT_EQ(state.m_nSuccess, 1);
    EXPECT_EQ(state.m_nTotal, 1);
    EXPECT_EQ(ReadBytes(Out("0_bottom")), "deep");
    EXPECT_TRUE(NamesIn(source.Path()).empty()) << "every emptied folder is removed";
}

}  // namespace
