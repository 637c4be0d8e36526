// What a large undo journal costs: at start, where only whether it holds a
// record is read, and for an undo, which streams it.
//
//   journal_bench [--records N] [--rounds N] [--dir FOLDER]
//
// Start: a dialog object made over a data folder whose journal holds N
// records, and asked whether there is anything to undo (what start and the
// undo item do), against the same over a data folder without a journal; best
// of the rounds.  Undo: the undo of those N records, whose files are gone
// (every record is looked at and none can be undone), in a child process,
// with the child's peak memory.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

#include "batch/journal.h"
#include "batch/undo_run.h"
#include "bench_support.h"
#include "ui/drop_dialog.h"

using namespace bench;

namespace {

namespace fsys = std::filesystem;

struct Options {
    int records = 1000000;
    int rounds = 5;
    std::string dir;
    std::string undoChild;  // internal: undo the journal of this data folder and report the peak
};

class SilentHost : public BatchHost {
public:
    bool AskYesNo(const ByteString&, const ByteString&) override { return true; }
    void ShowMessage(const ByteString&, const ByteString&) override {}
    void SetTitle(const ByteString&) override {}
};

// A journal as a batch of this many moved files writes it.
void WriteJournal(const std::string& dataFolder, const std::string& work, int records) {
    JournalWriter writer(dataFolder + "/" + kJournalFileName);
    if (writer.Begin(JournalHeader{work + "/out/", {work + "/in"}}) != RecorderStart::Recording)
        Fail("cannot write the journal");
    writer.Record(JournalRecord{JournalKind::EnteredFolder, work + "/in", "", {}, {}, FileId{1, 2}, 0755, 0});
    for (int i = 0; i < records; ++i) {
        const std::string name = FileName(i);
        writer.Record(JournalRecord{JournalKind::Moved, work + "/in/" + name,
                                    work + "/out/" + name.substr(0, 11) + "_20240101120000.dat",
                                    FileStamp{FileId{66306, 1000000u + i}, 100, 1700000000123456789}, {}, {}, 0, 0});
    }
    if (writer.LostRecords() != 0) Fail("journal records lost");
}

double BestStart(const std::string& dataFolder, int rounds, bool expected) {
    double best = 1e30;
    for (int round = 0; round < rounds; ++round) {
        best = std::min(best, SecondsOf([&] {
                            CDropDlg dialog(dataFolder + "/");
                            if (dialog.CanUndo() != expected) Fail("unexpected answer to CanUndo");
                        }));
    }
    return best;
}

int RunUndoChild(const std::string& dataFolder) {
    DropSettings settings;
    BatchState state;
    SilentHost host;
    UndoRun(settings, state, host, dataFolder, dataFolder + "/" + kJournalFileName).Run();
    if (state.m_nFailure == 0) Fail("the undo did nothing");
    std::printf("%ld\n", PeakResidentKiB());
    return 0;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) Fail("missing value after " + flag);
        const std::string value = argv[++i];
        if (flag == "--records") options.records = std::stoi(value);
        else if (flag == "--rounds") options.rounds = std::max(1, std::stoi(value));
        else if (flag == "--dir") options.dir = value;
        else if (flag == "--undo-child") options.undoChild = value;
        else Fail("unknown option " + flag);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    if (!options.undoChild.empty()) return RunUndoChild(options.undoChild);

    const bool ownFolder = options.dir.empty();
    options.dir = WorkFolder(options.dir);
    const std::string withJournal = options.dir + "/data", without = options.dir + "/empty";
    fsys::create_directories(withJournal);
    fsys::create_directories(without);
    WriteJournal(withJournal, options.dir, options.records);
    const double journalBytes = static_cast<double>(fsys::file_size(withJournal + "/" + kJournalFileName));

    const double start = BestStart(withJournal, options.rounds, true);
    const double plain = BestStart(without, options.rounds, false);
    long peakKiB = 0;
    const double undo = SecondsOf([&] { peakKiB = RunChildForNumber(argv[0], {"--undo-child", withJournal}); });
    if (ownFolder) fsys::remove_all(options.dir);

    std::printf("journal of %d records, %.0f MB\n", options.records, journalBytes / 1e6);
    const double added = start - plain;
    std::printf("start: %.3f ms with it, %.3f ms without: adds %.3f ms  (< 100 ms)  %s\n", start * 1e3,
                plain * 1e3, added * 1e3, added < 0.1 ? "ok" : "MISSED");
    std::printf("undo of every record (files gone): %.2f s, peak memory %.1f MiB\n", undo, peakKiB / 1024.0);
    return 0;
}
