// The batch driven end to end through a scripted host, on real files in
// temporary folders.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "batch/batch_run.h"
#include "fs/fs.h"
#include "support/batch_fixture.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

const ByteString kSep(1, kPathSeparator);

ByteString LogLine(const ByteString& source, const ByteString& destination) {
    return source + ">" + destination + "\r\n";
}

class BatchRunTest : public BatchFixture {
protected:
    BatchRunTest() : BatchFixture(Cp932(u8"[ファイルタイトル].[拡張子]")) {}

    ByteString Log(const ByteString& name) const { return logs.Join(name); }

    void Run(const std::vector<ByteString>& paths) { batch.RunBatch(AsDropped(paths)); }

    void KeepSmallFiles(int32_t kbytes, int32_t mode) {
        settings.m_bFileDontMove = 1;
        settings.m_nKBytes = kbytes;
        settings.m_nDontMoveMode = mode;
    }

    std::vector<ScriptedHost::Box> ShownBoxes() const {
        std::vector<ScriptedHost::Box> shown;
        for (const auto& box : host.boxes)
            if (box.kind == "show") shown.push_back(box);
        return shown;
    }
};

TEST_F(BatchRunTest, NoAnswerOrNoDestinationResetsTheStateAndTouchesNothing) {
    WriteBytes(In("alpha.txt"), "a");
    settings.m_bChangeLog = settings.m_bErrorLog = 1;
    settings.m_bDeleteDerectory = 1;
    struct Case {
        bool answer;
        ByteString where;
        int32_t mode;
        ByteString caption;
    };
    const Case cases[] = {
        {false, target.Join("out"), 0, Cp932(u8"移動処理")},
        {true, "", 3, Cp932(u8"コピー処理")},  // any mode but 0 copies
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.answer ? "no destination" : "answered No");
        host = ScriptedHost{};
        host.answers = {c.answer};
        state = {7, 8, 9, 10, "old change", "old error"};
        settings.m_sWhere = c.where;
        settings.m_nMode = c.mode;

        Run({source.Path()});

        ASSERT_EQ(host.boxes.size(), c.answer ? 2u : 1u);
        EXPECT_EQ(host.boxes[0].kind, "ask");
        EXPECT_EQ(host.boxes[0].text, Cp932(u8"実行しますか？"));
        EXPECT_EQ(host.boxes[0].caption, c.caption);
        if (c.answer) {
            EXPECT_EQ(host.boxes[1].kind, "show");
            EXPECT_EQ(host.boxes[1].text, Cp932(u8"格納先を指定してください"));
            EXPECT_EQ(host.boxes[1].caption, Cp932(u8"警告"));
        }
        EXPECT_TRUE(host.titles.empty());
        EXPECT_EQ(state.m_nSuccess + state.m_nFailure + state.m_nTotal + state.m_nSerial, 0);
        EXPECT_TRUE(state.m_sChangeLog.empty());
        EXPECT_TRUE(state.m_sErrorLog.empty());
        EXPECT_FALSE(Exists(target.Join("out")));
        EXPECT_EQ(NamesIn(source.Path()), std::vector<ByteString>{"alpha.txt"});
        EXPECT_TRUE(NamesIn(logs.Path()).empty());
        EXPECT_EQ(settings.m_sWhere, c.where);  // no separator added
    }
}

TEST_F(BatchRunTest, MovesLogTitlesAndResultAreExact) {
    WriteBytes(In("alpha.txt"), "1");
    WriteBytes(In("bravo.txt"), "2");
    MakeFolder(target.Join("out"));
    WriteBytes(Out("bravo.txt"), "already there");
    WriteBytes(Log("change.log"), "earlier\r\n");
    settings.m_bChangeLog = settings.m_bErrorLog = 1;

    Run({In("alpha.txt"), In("bravo.txt"), In("gone.txt")});

    EXPECT_EQ(ReadBytes(Out("alpha.txt")), "1");
    EXPECT_FALSE(Exists(In("alpha.txt")));
    EXPECT_EQ(ReadBytes(In("bravo.txt")), "2");  // the move never replaces
    EXPECT_EQ(ReadBytes(Out("bravo.txt")), "already there");

    // The vanished path goes to the folder walk and contributes nothing.
    EXPECT_EQ(host.titles, (std::vector<ByteString>{"Tessarbolink  1 0 1", "Tessarbolink  1 1 2"}));
    EXPECT_EQ(ReadBytes(Log("change.log")), "earlier\r\n" + LogLine(In("alpha.txt"), Out("alpha.txt")));
    EXPECT_EQ(ReadBytes(Log("error.log")), LogLine(In("bravo.txt"), Out("bravo.txt")));
    const auto shown = ShownBoxes();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, Cp932(u8"成功：1　失敗：1　トータル：2"));
    EXPECT_EQ(shown[0].caption, Cp932(u8"結果"));
    EXPECT_EQ(settings.m_sWhere, target.Join("out") + kSep);
}

TEST_F(BatchRunTest, CopyOverwritesAndKeepsTheSource) {
    WriteBytes(In("alpha.txt"), "new");
    MakeFolder(target.Join("out"));
    WriteBytes(Out("alpha.txt"), "old content");
    settings.m_nMode = 1;
    settings.m_sWhere = target.Join("out") + kSep;  // a second separator is never added

    Run({In("alpha.txt")});

    EXPECT_EQ(ReadBytes(Out("alpha.txt")), "new");
    EXPECT_EQ(ReadBytes(In("alpha.txt")), "new");
    EXPECT_EQ(state.m_sChangeLog, LogLine(In("alpha.txt"), Out("alpha.txt")));
    EXPECT_EQ(state.m_nSuccess, 1);
    EXPECT_EQ(settings.m_sWhere, target.Join("out") + kSep);
}

TEST_F(BatchRunTest, NamesEndingInTheByte5CAreFoldersOfTheirOwn) {
    // 表 and 能 end in the byte 0x5C, the Windows separator.  The destination
    // still gets its separator, and a dropped folder so named is walked into
    // its subfolder, not into a sibling whose name merely starts with it.
    const ByteString where = target.Join(Cp932(u8"表"));
    const ByteString dropped = In(Cp932(u8"能"));
    MakeFolder(dropped);
    MakeFolder(dropped + kSep + "sub");
    WriteBytes(dropped + kSep + "sub" + kSep + "alpha.txt", "a");
    MakeFolder(dropped + "sub");  // what the walk would reach with the byte read as a separator
    WriteBytes(dropped + "sub" + kSep + "beta.txt", "b");
    settings.m_sWhere = where;

    Run({dropped});

    EXPECT_EQ(settings.m_sWhere, where + kSep);
    EXPECT_EQ(NamesIn(where), std::vector<ByteString>{"alpha.txt"});
    EXPECT_EQ(state.m_nSuccess, 1);
    EXPECT_EQ(state.m_nTotal, 1);
    EXPECT_EQ(ReadBytes(dropped + "sub" + kSep + "beta.txt"), "b");
}

TEST_F(BatchRunTest, LogsAreWrittenEvenWhenEmptyAndOnlyWhenOn) {
    settings.m_bErrorLog = 1;
    settings.m_bChangeLog = 2;  // flags count only when exactly 1
    Run({});
    EXPECT_EQ(NamesIn(logs.Path()), std::vector<ByteString>{"error.log"});
    EXPECT_EQ(ReadBytes(Log("error.log")), "");
    EXPECT_EQ(ShownBoxes().at(0).text, Cp932(u8"成功：0　失敗：0　トータル：0"));
}

TEST_F(BatchRunTest, SmallFilesFollowTheirRuleAndSizesCountInWholeThousands) {
    struct Case {
        size_t size;
        int32_t kbytes, mode;
        const char* fate;
        int32_t success;
    };
    const Case cases[] = {
        {9999, 10, 0, "deleted", 1},  // 9 whole thousands
        {10000, 10, 0, "moved", 1},
        {0, 0, 0, "moved", 1},  // a zero threshold makes nothing small
        {0, 1, 1, "left", 1},
        {0, 1, -1, "left", 0},  // no rule chosen: the file only counts in the total
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.size << " bytes, threshold " << c.kbytes << ", mode " << c.mode);
        WriteBytes(In("file.txt"), std::string(c.size, 'x'));
        KeepSmallFiles(c.kbytes, c.mode);

        Run({In("file.txt")});

        const bool in = Exists(In("file.txt")), out = Exists(Out("file.txt"));
        EXPECT_EQ(in ? (out ? "both" : "left") : (out ? "moved" : "deleted"), std::string(c.fate));
        EXPECT_EQ(state.m_nSuccess, c.success);
        EXPECT_EQ(state.m_nFailure, 0);
        EXPECT_EQ(state.m_nTotal, 1);
        // A deletion is a success that goes to neither log.
        EXPECT_EQ(state.m_sChangeLog, out ? LogLine(In("file.txt"), Out("file.txt")) : "");
        EXPECT_TRUE(state.m_sErrorLog.empty());
        std::filesystem::remove(NativePath(Out("file.txt")));
    }
}

TEST_F(BatchRunTest, AFileWhoseSizeCannotBeReadIsNeverSmall) {
    KeepSmallFiles(1, 1);  // a small file would count as left in place
    CompileNameFormat(settings.m_sFileNameFormat, program, host);
    batch.ProcessFile(In("vanished.txt"));
    EXPECT_EQ(state.m_nSuccess, 0);
    EXPECT_EQ(state.m_nFailure, 1);
    EXPECT_EQ(state.m_sErrorLog, LogLine(In("vanished.txt"), Out("vanished.txt")));
}

TEST_F(BatchRunTest, SerialCounterRunsAcrossFilesAndRestartsPerBatch) {
    settings.m_sFileNameFormat = Cp932(u8"[連番]-[連番]");
    for (const char* name : {"alpha", "bravo", "charlie"}) WriteBytes(In(name), name);

    Run({In("alpha"), In("bravo"), In("charlie")});
    EXPECT_EQ(ReadBytes(Out("0-1")), "alpha");
    EXPECT_EQ(ReadBytes(Out("2-3")), "bravo");
    EXPECT_EQ(ReadBytes(Out("4-5")), "charlie");

    WriteBytes(In("delta"), "delta");
    settings.m_nMode = 1;
    Run({In("delta")});
    EXPECT_EQ(ReadBytes(Out("0-1")), "delta");  // copy mode overwrote the first
}

TEST_F(BatchRunTest, TwoFilesInTheSameSecondCollideInMoveMode) {
    settings.m_sFileNameFormat = Cp932(u8"[現在の日付]");
    WriteBytes(In("alpha"), "first");
    WriteBytes(In("bravo"), "second");

    Run({In("alpha"), In("bravo")});

    // The batch's own clock names the file: 2023-11-14 22:13:20 UTC, the
    // 14th or 15th in any time zone.
    const auto names = NamesIn(target.Join("out"));
    ASSERT_EQ(names.size(), 1u);
    EXPECT_EQ(names[0].substr(0, 7), "2023111");
    EXPECT_EQ(ReadBytes(Out(names[0])), "first");
    EXPECT_TRUE(Exists(In("bravo")));
    EXPECT_EQ(state.m_nFailure, 1);
}

TEST_F(BatchRunTest, AFormatThatFailsToCompileStillRunsTheBatch) {
    settings.m_sFileNameFormat = "abc]";
    WriteBytes(In("alpha.txt"), "a");
    for (const int32_t mode : {0, 1}) {
        SCOPED_TRACE(mode == 0 ? "move" : "copy");
        host.boxes.clear();
        settings.m_nMode = mode;

        Run({In("alpha.txt")});

        // The empty name aims at the destination folder itself: the move or
        // copy fails and the folder stays a folder.
        ASSERT_EQ(host.boxes.size(), 3u);
        EXPECT_EQ(host.boxes[0].text, Cp932(u8"ファイル名フォーマットが不正です。"));
        EXPECT_EQ(host.boxes[1].kind, "ask");
        EXPECT_TRUE(program.empty());
        EXPECT_EQ(ReadBytes(In("alpha.txt")), "a");
        EXPECT_EQ(KindOf(target.Join("out")), EntryKind::Folder);
        EXPECT_TRUE(NamesIn(target.Join("out")).empty());
        EXPECT_EQ(state.m_nFailure, 1);
        EXPECT_EQ(state.m_sErrorLog, LogLine(In("alpha.txt"), target.Join("out") + kSep));
    }
}

TEST_F(BatchRunTest, EmptiedFoldersAreRemovedFromTheDeepestUpAndOthersStay) {
    // "gone" is emptied down to its deepest folder; in "stays", a small file
    // is left in place and a move fails, while its third folder is emptied.
    const ByteString gone = In("gone"), stays = In("stays");
    const std::string large(2000, 'l');
    MakeFolder(gone + kSep + "mid" + kSep + "deep");
    MakeFolder(gone + kSep + "empty");
    WriteBytes(gone + kSep + "one.txt", large);
    WriteBytes(gone + kSep + "mid" + kSep + "two.txt", large);
    WriteBytes(gone + kSep + "mid" + kSep + "deep" + kSep + "three.txt", large);
    for (const char* folder : {"small", "failed", "emptied"}) MakeFolder(stays + kSep + folder);
    WriteBytes(stays + kSep + "small" + kSep + "tiny.txt", "");
    WriteBytes(stays + kSep + "failed" + kSep + "taken.txt", large);
    WriteBytes(stays + kSep + "emptied" + kSep + "moved.txt", large);
    MakeFolder(target.Join("out"));
    WriteBytes(Out("taken.txt"), "occupied");
    settings.m_bDeleteDerectory = 1;
    KeepSmallFiles(1, 1);

    Run({gone, stays});

    EXPECT_FALSE(Exists(gone));
    EXPECT_EQ(NamesIn(stays), (std::vector<ByteString>{"failed", "small"}));
    EXPECT_TRUE(Exists(stays + kSep + "small" + kSep + "tiny.txt"));
    EXPECT_TRUE(Exists(stays + kSep + "failed" + kSep + "taken.txt"));
    EXPECT_EQ(NamesIn(target.Join("out")),
              (std::vector<ByteString>{"moved.txt", "one.txt", "taken.txt", "three.txt", "two.txt"}));
    EXPECT_EQ(state.m_nSuccess, 5);
    EXPECT_EQ(state.m_nFailure, 1);
}

TEST_F(BatchRunTest, ADestinationInsideTheDroppedFolderIsNotWalked) {
    settings.m_sWhere = In("out");
    settings.m_sFileNameFormat = Cp932(u8"[連番]_[ファイルタイトル]");
    settings.m_bDeleteDerectory = 1;
    MakeFolder(In("sub"));
    WriteBytes(In("alpha"), "a");
    WriteBytes(In("sub") + kSep + "bravo", "b");

    Run({source.Path()});

    EXPECT_EQ(state.m_nTotal, 2);
    EXPECT_EQ(NamesIn(source.Path()), std::vector<ByteString>{"out"});  // "sub" emptied and removed
    const auto placed = NamesIn(In("out"));
    EXPECT_TRUE((placed == std::vector<ByteString>{"0_alpha", "1_bravo"}) ||
                (placed == std::vector<ByteString>{"0_bravo", "1_alpha"}));
}

// The program's folders hold its settings, logs, journal and the program
// itself: dropped, met inside a dropped folder, or dropped one by one, none of
// them is touched or counted, in either mode and with the emptied-folder rule
// on; a file of the user's dropped from the program's folder is filed.
TEST_F(BatchRunTest, TheProgramsOwnFoldersAreLeftAloneWhereverTheyAreMet) {
    settings.m_bDeleteDerectory = 1;
    const ByteString program = In("program");
    const ByteString data = In("data");
    const struct {
        const char* what;
        ByteString dropped;
        int32_t total;  // the one other file, when it is dropped too
    } cases[] = {
        {"the program's folder dropped", program, 0},
        {"the data folder dropped with a trailing separator", data + kSep, 0},
        {"a file in the data folder dropped", data + kSep + "Morvandel.sav", 0},
        {"the program itself dropped", program + kSep + "tessarbolink", 0},
        {"a folder holding both dropped", source.Path(), 1},
        {"a file of the user's dropped from the program's folder", program + kSep + "report.pdf", 1},
    };
    for (const int32_t mode : {0, 1}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (mode == 0 ? ", moving" : ", copying"));
            settings.m_nMode = mode;
            settings.m_sWhere = target.Join("out");
            MakeFolder(program);
            MakeFolder(data);
            MakeFolder(data + kSep + "sub");
            WriteBytes(program + kSep + "tessarbolink", "exe");
            for (const char* name : {"Morvandel.sav", "change.log", "undo.journal"}) WriteBytes(data + kSep + name, name);
            WriteBytes(In("other.txt"), "o");
            const bool userFile = c.dropped == program + kSep + "report.pdf";
            if (userFile) WriteBytes(c.dropped, "r");
            batch.LeaveAlone({program + kSep, data},
                             {"tessarbolink", "Morvandel.sav", "change.log", "error.log", "undo.journal"});

            Run({c.dropped});

            EXPECT_EQ(state.m_nTotal, c.total);
            EXPECT_EQ(state.m_nSuccess, c.total);
            const std::vector<ByteString> programFiles =
                userFile && mode == 1 ? std::vector<ByteString>{"report.pdf", "tessarbolink"}
                                      : std::vector<ByteString>{"tessarbolink"};
            EXPECT_EQ(NamesIn(program), programFiles);
            if (userFile) std::filesystem::remove(NativePath(c.dropped));
            EXPECT_EQ(NamesIn(data), (std::vector<ByteString>{"Morvandel.sav", "change.log", "sub", "undo.journal"}));
            EXPECT_EQ(ReadBytes(data + kSep + "undo.journal"), "undo.journal");
            EXPECT_EQ(Exists(In("other.txt")), mode == 1 || c.total == 0 || userFile);
            std::filesystem::remove_all(NativePath(target.Join("out")));
        }
    }
}

TEST_F(BatchRunTest, ADroppedFolderWithTrailingSeparatorGivesDoubledChildSeparators) {
    WriteBytes(In("alpha.txt"), "a");
    Run({source.Path() + kSep});
    EXPECT_EQ(state.m_sChangeLog, LogLine(source.Path() + kSep + kSep + "alpha.txt", Out("alpha.txt")));
}

TEST_F(BatchRunTest, EveryFileOfALargeFolderRenamedInPlaceIsHandledOnce) {
    // Dropping the destination itself renames its files inside the folder
    // that is being walked.
    constexpr int kFiles = 2000;
    for (int i = 0; i < kFiles; ++i) WriteBytes(In(std::to_string(i) + "f"), "");
    settings.m_sWhere = source.Path();
    settings.m_sFileNameFormat = Cp932(u8"[連番]_[ファイルタイトル]");

    Run({source.Path()});

    EXPECT_EQ(state.m_nTotal, kFiles);
    EXPECT_EQ(state.m_nSuccess, kFiles);
    const auto names = NamesIn(source.Path());
    ASSERT_EQ(names.size(), static_cast<size_t>(kFiles));
    for (const ByteString& name : names) {
        const size_t underscore = name.find('_');
        ASSERT_NE(underscore, ByteString::npos) << name;
        EXPECT_EQ(name.find('_', underscore + 1), ByteString::npos) << name << " renamed twice";
    }
}

// Both logs are tried whatever became of the other; the lines that did not
// reach them are named after the result box, log by log.
TEST_F(BatchRunTest, LogLinesThatCannotBeWrittenAreCountedAfterTheResult) {
    WriteBytes(In("alpha.txt"), "a");
    settings.m_bChangeLog = settings.m_bErrorLog = 1;
    {
        ShortWritesAfter fullDisk(0);
        batch.RunBatch({{In("alpha.txt"), true}, {In("b?.txt"), false}, {In("c?.txt"), false}});
    }
    const auto shown = ShownBoxes();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].caption, Cp932(u8"結果"));
    EXPECT_EQ(shown[1].text, Log("change.log") + Cp932(u8" に 1 行を書き込めませんでした。"));
    EXPECT_EQ(shown[2].text, Log("error.log") + Cp932(u8" に 2 行を書き込めませんでした。"));
    EXPECT_EQ(shown[1].caption, Cp932(u8"警告"));
    EXPECT_EQ(shown[2].caption, Cp932(u8"警告"));
    EXPECT_TRUE(Exists(Out("alpha.txt")));
}

}  // namespace
