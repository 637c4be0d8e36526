// Undo of the last batch, from the journal the batch writes, on real files
// in temporary folders: same volume and another one (/dev/shm on Linux,
// Z:\dev\shm under Wine).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <optional>
#include <string>

#include "batch/batch_run.h"
#include "batch/journal.h"
#include "batch/undo_run.h"
#include "fs/fs.h"
#include "support/test_support.h"

using namespace testing_support;

namespace {

namespace fsys = std::filesystem;

const ByteString kSep(1, kPathSeparator);

// Every entry under a folder: "relative path" -> "folder", or the file's
// content and modification time.
std::map<std::string, std::string> Snapshot(const ByteString& root) {
    std::map<std::string, std::string> entries;
    const fsys::path native = NativePath(root);
    for (auto it = fsys::recursive_directory_iterator(native); it != fsys::recursive_directory_iterator(); ++it) {
        const std::string relative = fsys::relative(it->path(), native).generic_string();
        if (it->is_directory()) {
            entries[relative] = "folder";
        } else {
            std::ifstream in(it->path(), std::ios::binary);
            const std::string content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            entries[relative] =
                content + " @" + std::to_string(fsys::last_write_time(it->path()).time_since_epoch().count());
        }
    }
    return entries;
}

// A folder on another volume than the temporary folder, when there is one.
std::optional<ByteString> OtherVolume() {
    const ByteString other = kPathSeparator == '/' ? "/dev/shm" : "Z:\\dev\\shm";
    const auto here = FileIdOf(TempFolder().Path()), there = FileIdOf(other);
    if (!here || !there || here->volume == there->volume) return std::nullopt;
    return other;
}

class BatchUndoTest : public ::testing::TestWithParam<bool> {
protected:
    BatchUndoTest() {
        if (GetParam()) {
            const auto other = OtherVolume();
            if (other) destinationParent.emplace(*other);
        } else {
            destinationParent.emplace();
        }
        if (destinationParent) settings.m_sWhere = destinationParent->Join("out");
        settings.m_sFileNameFormat = Cp932(u8"[連番]-[ファイルタイトル].[拡張子]");
        settings.m_nMode = 0;
    }

    void SetUp() override {
        if (!destinationParent) GTEST_SKIP() << "no second volume here";
    }

    ByteString In(const ByteString& relative) const { return source.Join(relative); }
    ByteString Out(const ByteString& name) const { return destinationParent->Join("out") + kSep + name; }
    ByteString Journal() const { return logs.Join(kJournalFileName); }

    void Write(const ByteString& path, const std::string& content, int age = 1000) {
        WriteBytes(path, content);
        fsys::last_write_time(NativePath(path), fsys::file_time_type::clock::now() - std::chrono::hours(age));
    }

    void RunBatch(const std::vector<ByteString>& paths) {
        JournalWriter journal(Journal());
        BatchRun batch(settings, state, program, random, host, [] { return int64_t{1700000000}; }, logs.Path(),
                       &journal);
        batch.RunBatch(AsDropped(paths));
    }

    // Only the undo's boxes, titles and log lines are left to see.
    void RunUndo() {
        state = BatchState{};
        host.boxes.clear();
        host.titles.clear();
        std::filesystem::remove(NativePath(logs.Join("change.log")));
        std::filesystem::remove(NativePath(logs.Join("error.log")));
        UndoRun(settings, state, host, logs.Path(), Journal()).Run();
    }

    ByteString LastBox() const { return host.boxes.empty() ? ByteString() : host.boxes.back().text; }
    static ByteString Result(int undone, int notUndone) {
        return Cp932(u8"戻した：") + std::to_string(undone) + Cp932(u8"　戻せない：") + std::to_string(notUndone);
    }

    TempFolder source, logs;
    std::optional<TempFolder> destinationParent;
    DropSettings settings;
    BatchState state;
    NameProgram program;
    NameRandom random;
    ScriptedHost host;
};

// Subfolders, a folder that only the emptied-folder rule removes, an empty
// folder, names whose second byte is "\" (ソ, 表), a dropped folder and a
// dropped file: all back as they were, modification times included.
TEST_P(BatchUndoTest, MoveThenUndoGivesBackTheTreeExactly) {
    const ByteString drop = In("drop"), soft = Cp932(u8"ソフト"), table = Cp932(u8"表.txt");
    MakeFolder(drop);
    MakeFolder(drop + kSep + "sub");
    MakeFolder(drop + kSep + "sub" + kSep + soft);
    MakeFolder(drop + kSep + "empty");
    MakeFolder(In("loose"));
    Write(drop + kSep + "a.txt", "alpha", 10);
    Write(drop + kSep + "sub" + kSep + "b.dat", std::string(70000, 'b'), 20);
    Write(drop + kSep + "sub" + kSep + soft + kSep + table, "table", 30);
    Write(In("loose") + kSep + "c.txt", "loose file", 40);
    settings.m_bDeleteDerectory = 1;
    const auto before = Snapshot(source.Path());

    RunBatch({drop, In("loose") + kSep + "c.txt"});
    ASSERT_EQ(state.m_nSuccess, 4);
    ASSERT_FALSE(Exists(drop)) << "emptied and removed";
    ASSERT_TRUE(JournalHasRecords(Journal()));

    RunUndo();
    EXPECT_EQ(Snapshot(source.Path()), before);
    EXPECT_TRUE(NamesIn(destinationParent->Join("out")).empty());
    EXPECT_EQ(LastBox(), Result(4, 0));
    EXPECT_EQ(host.boxes.front().text, Cp932(u8"直前の処理を元に戻しますか？"));
    EXPECT_EQ(host.boxes.front().caption, Cp932(u8"元に戻す"));
    EXPECT_EQ(host.boxes.back().caption, Cp932(u8"結果"));
    EXPECT_EQ(host.titles.back(), "Tessarbolink  4 0 4");
    EXPECT_FALSE(JournalHasRecords(Journal())) << "emptied";
}

// Only new copies that are still unchanged go; a copy over an older file
// and a deleted small file cannot be undone, and an edited copy stays.
TEST_P(BatchUndoTest, CopyThenUndoRemovesExactlyTheNewUnchangedCopies) {
    settings.m_nMode = 1;
    settings.m_sFileNameFormat = Cp932(u8"[ファイルタイトル].[拡張子]");
    settings.m_bFileDontMove = 1;
    settings.m_nKBytes = 1;
    settings.m_nDontMoveMode = 0;
    settings.m_bErrorLog = settings.m_bChangeLog = 1;
    const std::string big(2000, 'x');
    Write(In("new.txt"), big + "new");
    Write(In("edited.txt"), big + "edited");
    Write(In("over.txt"), big + "over");
    Write(In("small.txt"), "s");
    MakeFolder(destinationParent->Join("out"));
    Write(Out("over.txt"), "older file");

    RunBatch({In("new.txt"), In("edited.txt"), In("over.txt"), In("small.txt")});
    ASSERT_EQ(state.m_nSuccess, 4);
    WriteBytes(Out("edited.txt"), "changed since");

    RunUndo();
    EXPECT_EQ(NamesIn(destinationParent->Join("out")), (std::vector<ByteString>{"edited.txt", "over.txt"}));
    EXPECT_EQ(ReadBytes(Out("over.txt")), big + "over") << "the copy that replaced a file stays";
    EXPECT_EQ(ReadBytes(In("new.txt")), big + "new") << "sources untouched";
    EXPECT_FALSE(Exists(In("small.txt")));
    EXPECT_EQ(LastBox(), Result(1, 3));
    EXPECT_EQ(ReadBytes(logs.Join("error.log")),
              Out("small.txt") + ">" + In("small.txt") + "\r\n" + Out("over.txt") + ">" + In("over.txt") + "\r\n" +
                  Out("edited.txt") + ">" + In("edited.txt") + "\r\n");
}

// A placed file changed since, one gone, and a source path taken again stay
// as they are and count; the rest goes back, newest first.
TEST_P(BatchUndoTest, ChangedPlacedFilesAndTakenSourcesAreLeftAloneAndCounted) {
    settings.m_bErrorLog = settings.m_bChangeLog = 1;
    for (const char* name : {"back.txt", "edited.txt", "gone.txt", "taken.txt"}) Write(In(name), name);
    RunBatch({In("back.txt"), In("edited.txt"), In("gone.txt"), In("taken.txt")});
    ASSERT_EQ(state.m_nSuccess, 4);
    Write(Out("1-edited.txt"), "edited.txt", 5);  // same size, other time
    std::filesystem::remove(NativePath(Out("2-gone.txt")));
    Write(In("taken.txt"), "someone else's");

    RunUndo();
    EXPECT_EQ(LastBox(), Result(1, 3));
    EXPECT_EQ(ReadBytes(In("back.txt")), "back.txt");
    EXPECT_EQ(ReadBytes(In("taken.txt")), "someone else's");
    EXPECT_EQ(ReadBytes(Out("3-taken.txt")), "taken.txt");
    EXPECT_EQ(ReadBytes(Out("1-edited.txt")), "edited.txt");
    EXPECT_FALSE(Exists(In("edited.txt")));
    EXPECT_EQ(ReadBytes(logs.Join("change.log")), Out("0-back.txt") + ">" + In("back.txt") + "\r\n");
    EXPECT_EQ(ReadBytes(logs.Join("error.log")),
              Out("3-taken.txt") + ">" + In("taken.txt") + "\r\n" + Out("2-gone.txt") + ">" + In("gone.txt") +
                  "\r\n" + Out("1-edited.txt") + ">" + In("edited.txt") + "\r\n");
}

// A batch cut short leaves a journal whose last line may be cut short: the
// complete records are undone, the broken one is no record.  No touches
// nothing.
TEST_P(BatchUndoTest, JournalCutShortIsUndoneAsFarAsItGoes) {
    for (const char* name : {"one.txt", "two.txt", "three.txt"}) Write(In(name), name);
    RunBatch({In("one.txt"), In("two.txt"), In("three.txt")});
    const ByteString journal = ReadBytes(Journal());
    WriteBytes(Journal(), journal.substr(0, journal.size() - 5));

    host.answers = {false};
    RunUndo();
    EXPECT_EQ(NamesIn(destinationParent->Join("out")).size(), 3u) << "answered No";
    EXPECT_TRUE(JournalHasRecords(Journal()));

    RunUndo();
    EXPECT_EQ(LastBox(), Result(2, 0));
    EXPECT_EQ(ReadBytes(In("one.txt")), "one.txt");
    EXPECT_EQ(ReadBytes(In("two.txt")), "two.txt");
    EXPECT_EQ(NamesIn(destinationParent->Join("out")), (std::vector<ByteString>{"2-three.txt"}));
}

// A copy may be all that is left of its data: it goes only while its source
// is still the file that was copied, unchanged.
TEST_P(BatchUndoTest, ACopyGoesOnlyWhileItsSourceIsThereUnchanged) {
    settings.m_nMode = 1;
    settings.m_sFileNameFormat = Cp932(u8"[ファイルタイトル].[拡張子]");
    settings.m_bErrorLog = 1;
    struct Case {
        const char* name;
        std::function<void(const ByteString&)> afterBatch;
        bool removed;
    };
    const Case cases[] = {
        {"kept.txt", [](const ByteString&) {}, true},
        {"deleted.txt", [](const ByteString& path) { fsys::remove(NativePath(path)); }, false},
        {"edited.txt", [this](const ByteString& path) { Write(path, "edited.txt", 5); }, false},
        {"replaced.txt",
         [this](const ByteString& path) {
             fsys::remove(NativePath(path));
             Write(path, "replaced.txt");
         },
         false},
    };
    std::vector<ByteString> dropped;
    for (const Case& c : cases) dropped.push_back(In(c.name));
    for (const Case& c : cases) Write(In(c.name), c.name);
    RunBatch(dropped);
    ASSERT_EQ(state.m_nSuccess, 4);
    for (const Case& c : cases) c.afterBatch(In(c.name));

    RunUndo();
    EXPECT_EQ(LastBox(), Result(1, 3));
    for (const Case& c : cases) EXPECT_EQ(Exists(Out(c.name)), !c.removed) << c.name;
    EXPECT_EQ(ReadBytes(Out("deleted.txt")), "deleted.txt");
}

// A move back that the file system refuses for a passing reason (here a full
// disk across volumes) stays in the journal and is done by a later undo; a
// file changed since goes from the journal.
TEST_P(BatchUndoTest, WhatFailedForAPassingReasonIsLeftForALaterUndo) {
    if (!GetParam()) GTEST_SKIP() << "a move within one volume writes nothing";
    for (const char* name : {"alpha.txt", "bravo.txt", "charlie.txt"}) Write(In(name), name);
    RunBatch({In("alpha.txt"), In("bravo.txt"), In("charlie.txt")});
    Write(Out("1-bravo.txt"), "bravo.txt", 5);
    // The disk has room again for the journal of what is left.
    std::optional<ShortWritesAfter> fullDisk(0);
    host.onTitle = [&] {
        if (host.titles.size() == 3) fullDisk.reset();
    };
    RunUndo();
    host.onTitle = nullptr;
    EXPECT_EQ(LastBox(), Result(0, 3));
    ASSERT_TRUE(JournalHasRecords(Journal()));

    RunUndo();
    EXPECT_EQ(LastBox(), Result(2, 0)) << "the changed file is not tried again";
    EXPECT_EQ(ReadBytes(In("alpha.txt")), "alpha.txt");
    EXPECT_EQ(ReadBytes(In("charlie.txt")), "charlie.txt");
    EXPECT_EQ(NamesIn(destinationParent->Join("out")), std::vector<ByteString>{"1-bravo.txt"});
    EXPECT_FALSE(JournalHasRecords(Journal()));
}

INSTANTIATE_TEST_SUITE_P(Volumes, BatchUndoTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "ToAnotherVolume" : "OnOneVolume"; });

// What the journal itself guarantees, on one volume.
class UndoJournalTest : public BatchUndoTest {
protected:
    JournalHeader Header() const { return JournalHeader{destinationParent->Join("out") + kSep, {source.Path()}}; }
    BatchRun Batch(BatchRecorder& recorder) {
        return BatchRun(settings, state, program, random, host, [] { return int64_t{1700000000}; }, logs.Path(),
                        &recorder);
    }
};

// While a batch records (here in this process: another open of the lock is
// another window), a second batch and an undo say so and touch nothing.
TEST_P(UndoJournalTest, OneBatchOrUndoAtATime) {
    const ByteString busy = Cp932(u8"別のウィンドウで処理中です。終わってからもう一度お試しください。");
    Write(In("alpha.txt"), "a");
    RunBatch({In("alpha.txt")});
    Write(In("bravo.txt"), "b");
    {
        JournalWriter running(Journal());
        ASSERT_EQ(running.Begin(Header()), RecorderStart::Recording);
        host.boxes.clear();
        JournalWriter second(Journal());
        Batch(second).RunBatch(AsDropped({In("bravo.txt")}));
        ASSERT_EQ(host.boxes.size(), 2u);
        EXPECT_EQ(host.boxes[1].text, busy);
        EXPECT_EQ(host.boxes[1].caption, Cp932(u8"警告"));
        EXPECT_TRUE(Exists(In("bravo.txt")));
        running.Record(JournalRecord{JournalKind::RemovedFolder, In("x"), "", {}, {}, {}, 0});

        RunUndo();
        EXPECT_EQ(LastBox(), busy);
        EXPECT_EQ(host.boxes.size(), 2u);
    }
    RunUndo();
    EXPECT_EQ(host.boxes.size(), 2u) << "the running batch's journal replaced the one before";
    EXPECT_TRUE(Exists(Out("0-alpha.txt")));
}

// A journal that cannot be made (a folder stands where the new one would be
// written, or where it would be put): asked before anything moves; No keeps
// the journal of the batch before, Yes acts and leaves nothing to undo, not
// even that one.
TEST_P(UndoJournalTest, WithoutAJournalTheUserIsAskedAndNothingOlderIsUndone) {
    for (const ByteString& blocked : {NewJournalPath(Journal()), Journal()}) {
        SCOPED_TRACE(blocked);
        Write(In("alpha.txt"), "a");
        Write(In("bravo.txt"), "b");
        RunBatch({In("alpha.txt")});
        if (blocked == Journal()) fsys::rename(NativePath(Journal()), NativePath(logs.Join("kept")));
        MakeFolder(blocked);
        for (const bool answer : {false, true}) {
            host = ScriptedHost{};
            host.answers = {true, answer};
            RunBatch({In("bravo.txt")});
            ASSERT_GE(host.boxes.size(), 2u);
            EXPECT_EQ(host.boxes[1].text, Cp932(u8"元に戻すための記録を作れません。元に戻せないまま実行しますか？"));
            EXPECT_EQ(host.boxes[1].caption, Cp932(u8"移動処理"));
            EXPECT_EQ(Exists(In("bravo.txt")), !answer);
            EXPECT_EQ(JournalHasRecords(Journal()), !answer && blocked != Journal());
        }
        RunUndo();
        EXPECT_TRUE(host.boxes.empty());
        EXPECT_TRUE(Exists(Out("0-alpha.txt")));
        fsys::remove_all(NativePath(destinationParent->Join("out")));
        fsys::remove_all(NativePath(blocked));
    }
}

// Records that cannot be written are counted after the result; those that
// were written are undone.
TEST_P(UndoJournalTest, RecordsThatCannotBeWrittenAreCountedAfterTheResult) {
    for (const char* name : {"alpha.txt", "bravo.txt", "charlie.txt"}) Write(In(name), name);
    std::optional<ShortWritesAfter> fullDisk;
    host.onTitle = [&] { fullDisk.emplace(0); };
    RunBatch({In("alpha.txt"), In("bravo.txt"), In("charlie.txt")});
    fullDisk.reset();
    host.onTitle = nullptr;
    EXPECT_EQ(state.m_nSuccess, 3);
    ASSERT_EQ(host.boxes.size(), 3u);
    EXPECT_EQ(host.boxes[1].caption, Cp932(u8"結果"));
    EXPECT_EQ(host.boxes[2].text, Cp932(u8"元に戻す記録を書けなかったため、2 件は元に戻せません。"));
    EXPECT_EQ(host.boxes[2].caption, Cp932(u8"警告"));

    RunUndo();
    EXPECT_EQ(LastBox(), Result(1, 0));
    EXPECT_EQ(ReadBytes(In("alpha.txt")), "alpha.txt");
}

// A journal names any path it likes: only records within the destination
// and the dropped paths of its header are acted on; a journal of the older
// format has nothing to undo.
TEST_P(UndoJournalTest, OnlyRecordsWithinTheHeadersPathsAreActedOn) {
    TempFolder elsewhere;
    MakeFolder(Out(""));
    const ByteString inDestination[] = {Out("ok"), Out("outside"), Out("up"), Out("away")};
    for (const ByteString& path : inDestination) Write(path, "placed");
    Write(elsewhere.Join("placed"), "placed");
    const auto record = [&](const ByteString& from, const ByteString& to) {
        return JournalRecord{JournalKind::Moved, from, to, *FileStampOf(to), {}, {}, 0};
    };
    ByteString text;
    AppendJournalHeader(text, Header());
    AppendJournalLine(text, record(In("ok"), Out("ok")));
    AppendJournalLine(text, record(elsewhere.Join("outside"), Out("outside")));
    AppendJournalLine(text, record(In("..") + kSep + "up", Out("up")));
    AppendJournalLine(text, record(In("away"), elsewhere.Join("placed")));
    WriteBytes(Journal(), text);

    RunUndo();
    EXPECT_EQ(LastBox(), Result(1, 3));
    EXPECT_EQ(NamesIn(source.Path()), std::vector<ByteString>{"ok"});
    EXPECT_EQ(NamesIn(destinationParent->Join("out")), (std::vector<ByteString>{"away", "outside", "up"}));
    EXPECT_TRUE(Exists(elsewhere.Join("placed")));

    WriteBytes(Journal(), "Tessarbolink undo journal 1\nM\t3\t" + In("x") + "\t" + Out("away") + "\t1\t2\t3\t4\n");
    EXPECT_FALSE(JournalHasRecords(Journal()));
}

INSTANTIATE_TEST_SUITE_P(OneVolume, UndoJournalTest, ::testing::Values(false));

// Many records, lines longer than the blocks the journal is read in, and a
// last line cut short: every record is read, in order, both ways.
TEST(JournalReaderTest, ReadsEveryRecordForwardsAndBackwards) {
    TempFolder folder;
    const ByteString path = folder.Join(kJournalFileName);
    {
        JournalWriter writer(path);
        ASSERT_EQ(writer.Begin(JournalHeader{folder.Path() + kSep, {folder.Path()}}), RecorderStart::Recording);
        for (int i = 0; i < 3000; ++i) {
            const ByteString name(static_cast<size_t>(i % 7 == 0 ? 70000 : 1 + i % 300), 'a' + i % 26);
            writer.Record(JournalRecord{JournalKind::Deleted, folder.Join(name), std::to_string(i), {}, {}, {}, 0});
        }
    }
    WriteBytes(path, ReadBytes(path) + "D\tcut");
    JournalReader reader;
    ASSERT_TRUE(reader.Open(path));
    JournalRecord record;
    int forwards = 0;
    while (reader.Next(record)) ASSERT_EQ(record.destination, std::to_string(forwards++));
    EXPECT_EQ(forwards, 3000);
    int backwards = 3000;
    uint64_t offset = 0;
    size_t length = 0;
    while (reader.Previous(record, offset, length)) ASSERT_EQ(record.destination, std::to_string(--backwards));
    EXPECT_EQ(backwards, 0);
}

// Paths with the escaped bytes come back as they were written.
TEST(JournalLine, RoundTripsEveryByteOfAPath) {
    const ByteString paths[] = {"plain", "tab\there", "cr\rlf\n", "100%25%", Cp932(u8"表\\ソ")};
    for (const ByteString& path : paths) {
        const JournalRecord record{JournalKind::Copied, path,          path + "x", FileStamp{FileId{7, 8}, 9, -10},
                                   FileStamp{FileId{1, 2}, 3, 4},  FileId{5, 6}, 0755, 1000};
        ByteString line;
        AppendJournalLine(line, record);
        ASSERT_EQ(line.find('\n'), line.size() - 1) << path;
        JournalRecord back;
        ASSERT_TRUE(ParseJournalLine(line.substr(0, line.size() - 1), back)) << path;
        EXPECT_EQ(back.source, path);
        EXPECT_EQ(back.destination, path + "x");
        EXPECT_TRUE(back.placed == record.placed);
        EXPECT_TRUE(back.original == record.original);
        EXPECT_TRUE(back.folder == record.folder);
        EXPECT_EQ(back.mode, 0755u);
        EXPECT_EQ(back.owner, 1000u);
    }
}

}  // namespace
