// Undo against what only a POSIX system shows: folders and journals of other
// users or open to them, links and FIFOs planted where the program writes,
// modes, and a batch of another process.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "batch/batch_run.h"
#include "batch/journal.h"
#include "batch/undo_run.h"
#include "fs/fs.h"
#include "support/child_process.h"
#include "support/test_support.h"

using namespace testing_support;
namespace fsys = std::filesystem;

namespace {

class BatchUndoPosixTest : public ::testing::Test {
protected:
    BatchUndoPosixTest() {
        settings.m_sWhere = target.Join("out");
        settings.m_sFileNameFormat = Cp932(u8"[ファイルタイトル].[拡張子]");
        settings.m_nMode = 0;
        settings.m_bDeleteDerectory = 1;
    }

    std::string Native(const ByteString& path) const { return NativePath(path).string(); }
    ByteString In(const ByteString& relative) const { return source.Join(relative); }
    ByteString Out(const ByteString& name) const { return target.Join("out") + "/" + name; }
    ByteString Journal() const { return logs.Join(kJournalFileName); }

    void RunBatch(const std::vector<ByteString>& paths) {
        JournalWriter journal(Journal());
        BatchRun batch(settings, state, program, random, host, [] { return int64_t{1700000000}; }, logs.Path(),
                       &journal);
        batch.RunBatch(AsDropped(paths));
    }
    ByteString RunUndo() {
        host.boxes.clear();
        UndoRun(settings, state, host, logs.Path(), Journal()).Run();
        return host.boxes.empty() ? ByteString() : host.boxes.back().text;
    }
    static ByteString Result(int undone, int notUndone) {
        return Cp932(u8"戻した：") + std::to_string(undone) + Cp932(u8"　戻せない：") + std::to_string(notUndone);
    }
    static mode_t ModeOf(const std::string& path) {
        struct stat st {};
        return lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    TempFolder source, target, logs, elsewhere;
    DropSettings settings;
    BatchState state;
    NameProgram program;
    NameRandom random;
    ScriptedHost host;
};

// A dropped folder (0700) and its subfolder (0750), both removed as emptied.
// Whatever now stands at their paths decides where the files may go back.
TEST_F(BatchUndoPosixTest, FilesGoBackOnlyIntoFoldersTheUserAloneMayWriteTo) {
    struct Case {
        const char* what;
        std::function<void(const std::string& drop)> meanwhile;
        int undone;
    };
    const Case cases[] = {
        {"nothing: both made again, with their modes", [](const std::string&) {}, 2},
        {"another user's folder",
         [](const std::string& drop) {
             fsys::create_directory(drop);
             ASSERT_EQ(chown(drop.c_str(), kNobodyId, kNobodyId), 0);
         },
         0},
        {"the user's, open to others", [](const std::string& drop) {
             fsys::create_directory(drop);
             fsys::permissions(drop, fsys::perms::all);
         },
         0},
        {"the user's alone", [](const std::string& drop) { fsys::create_directory(drop); }, 2},
        {"the user's, its subfolder a link",
         [this](const std::string& drop) {
             fsys::create_directory(drop);
             fsys::create_directory_symlink(Native(elsewhere.Path()), drop + "/sub");
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const ByteString drop = In("drop");
        MakeFolder(drop);
        MakeFolder(drop + "/sub");
        WriteBytes(drop + "/top.txt", "top");
        WriteBytes(drop + "/sub/deep.txt", "deep");
        fsys::permissions(Native(drop + "/sub"), fsys::perms::owner_all | fsys::perms::group_read |
                                                     fsys::perms::group_exec);
        fsys::permissions(Native(drop), fsys::perms::owner_all);
        RunBatch({drop});
        ASSERT_FALSE(Exists(drop));
        c.meanwhile(Native(drop));

        EXPECT_EQ(RunUndo(), Result(c.undone, 2 - c.undone));
        EXPECT_EQ(NamesIn(target.Join("out")).size(), static_cast<size_t>(2 - c.undone));
        EXPECT_TRUE(NamesIn(elsewhere.Path()).empty());
        if (c.undone == 2) {
            EXPECT_EQ(ReadBytes(drop + "/sub/deep.txt"), "deep");
        }
        if (std::string(c.what).rfind("nothing", 0) == 0) {
            EXPECT_EQ(ModeOf(Native(drop)), 0700u);
            EXPECT_EQ(ModeOf(Native(drop + "/sub")), 0750u);
        }
        fsys::remove_all(Native(drop));
        fsys::remove_all(Native(target.Join("out")));
    }
}

// Only the user's own plain journal, which nobody else could have written,
// is acted on; anything else at its name leaves undo with nothing to do.
TEST_F(BatchUndoPosixTest, AJournalThatIsNotTheUsersOwnPlainFileIsNotActedOn) {
    const std::function<void(const std::string&)> replacements[] = {
        [](const std::string& journal) { ASSERT_EQ(chown(journal.c_str(), kNobodyId, kNobodyId), 0); },
        [](const std::string& journal) { fsys::permissions(journal, fsys::perms::group_write, fsys::perm_options::add); },
        [this](const std::string& journal) {
            fsys::rename(journal, Native(elsewhere.Join("journal")));
            fsys::create_symlink(Native(elsewhere.Join("journal")), journal);
        },
        [](const std::string& journal) {
            fsys::remove(journal);
            ASSERT_EQ(mkfifo(journal.c_str(), 0600), 0);
        },
        [](const std::string& journal) {
            fsys::remove(journal);
            fsys::create_directory(journal);
        },
    };
    WriteBytes(In("alpha.txt"), "alpha");
    for (const auto& replace : replacements) {
        RunBatch({In("alpha.txt")});
        ASSERT_TRUE(JournalHasRecords(Journal()));
        replace(Native(Journal()));
        EXPECT_FALSE(JournalHasRecords(Journal()));
        EXPECT_EQ(RunUndo(), "");
        EXPECT_TRUE(Exists(Out("alpha.txt")));
        fsys::remove_all(Native(Journal()));
        fsys::remove(Native(elsewhere.Join("journal")));
        fsys::rename(Native(Out("alpha.txt")), Native(In("alpha.txt")));
    }
}

// Links planted at the journal's names are replaced, never written through;
// the journal is the user's alone.
TEST_F(BatchUndoPosixTest, TheJournalIsANewFileOfTheUsersNeverWrittenThroughALink) {
    WriteBytes(elsewhere.Join("victim"), "victim");
    fsys::create_symlink(Native(elsewhere.Join("victim")), Native(Journal()));
    fsys::create_symlink(Native(elsewhere.Join("victim")), Native(NewJournalPath(Journal())));
    WriteBytes(In("alpha.txt"), "alpha");

    RunBatch({In("alpha.txt")});
    EXPECT_EQ(ReadBytes(elsewhere.Join("victim")), "victim");
    EXPECT_TRUE(fsys::is_regular_file(fsys::symlink_status(Native(Journal()))));
    EXPECT_EQ(ModeOf(Native(Journal())), 0600u);
    EXPECT_EQ(RunUndo(), Result(1, 0));
}

// Another process runs a batch (it holds the journal's lock): a batch in this
// one says so and touches nothing, and so does an undo.
TEST_F(BatchUndoPosixTest, ABatchOfAnotherProcessKeepsThisOneFromActing) {
    WriteBytes(In("alpha.txt"), "alpha");
    RunBatch({In("alpha.txt")});
    WriteBytes(In("bravo.txt"), "bravo");
    ProgramLock::Outcome outcome;
    const ProgramLock running = LockJournal(Journal(), outcome);
    ASSERT_EQ(outcome, ProgramLock::Outcome::Taken);
    const ByteString busy = Cp932(u8"別のウィンドウで処理中です。終わってからもう一度お試しください。");
    EXPECT_CHILD_PASSES(RunInChild([] { return std::string(); }, [&]() -> std::string {
        host.boxes.clear();
        RunBatch({In("bravo.txt")});
        if (host.boxes.size() != 2 || host.boxes[1].text != busy) return "the batch did not say it must wait";
        if (RunUndo() != busy) return "the undo did not say it must wait";
        if (!Exists(In("bravo.txt")) || !Exists(Out("alpha.txt"))) return "a file was touched";
        return "";
    }));
}

}  // namespace
