#pragma once
// One run of the kill and power-cut harnesses: the tree a run lays out, the
// batch a child process runs over it, and the checks of what the batch left
// behind, however it ended.
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_host.h"

namespace harness {

namespace fsys = std::filesystem;

// The tree every run lays out: where each file sits and how big it is (a
// run onto a file server divides the sizes).  The sizes span the copy buffer
// many times over, so that most kills land in the middle of a copy.
struct FilePlan {
    const char* folder;  // relative to the dropped folder, "" for the folder itself
    size_t size;
};
constexpr size_t kMiB = 1024 * 1024;
constexpr FilePlan kTree[] = {
    {"", 0},           {"", 1},          {"", 6 * kMiB + 123}, {"a", 700},
    {"a", 3 * kMiB},   {"a/b", 4096},    {"a/b", 50'000},      {"a/b/d", 2 * kMiB + 1},
    {"a/b/d", 17},     {"c", 300'000},   {"c", 5 * kMiB},      {"c/e", 1 * kMiB + 3},
    {"c/e", 4 * kMiB - 5}, {"c/e/g", 8191}, {"c/e/g", 2 * kMiB}, {"h", 3 * kMiB + 7},
};
constexpr size_t kFileCount = std::size(kTree);
// This file's new name is taken when the batch starts: a move must leave
// both alone, a copy replaces the older file.
constexpr size_t kTakenName = 4;
constexpr size_t kOlderFileSize = 100'000;

// One run's folders and the bytes each file must hold.
struct Run {
    bool move = false;
    // A move within one file system renames: a file is never under both names.
    bool sameFileSystem = false;
    // The destination has no unnamed files (a file server): the copies are
    // filled under hidden names, and a kill or a cut may leave them there.
    bool namedTemporaries = false;
    fsys::path sourceParent;       // holds the dropped folder
    fsys::path dropped;
    fsys::path destinationParent;  // holds the destination
    fsys::path destination;        // what the batch is told
    // The destination and its parent as the checks see them: the same
    // folders, or their place in a file server's backing folder.
    fsys::path seenDestinationParent, seenDestination;
    std::vector<std::string> contents;
    std::string olderContent;

    fsys::path OldPath(size_t i) const;
    fsys::path NewPath(size_t i) const;  // as the checks see it
};

// Lays out a run: the dropped tree in a fresh folder of sourceRoot, and the
// destination folder "out" (with the older file at the taken name) beside
// it, or in a fresh folder of destinationRoot, which the checks see (and the
// layout writes) at seenDestinationRoot: the backing folder of a file server
// mounted at destinationRoot.  The file sizes are divided by sizeDivisor.
Run LayOut(bool move, const fsys::path& sourceRoot, const std::optional<fsys::path>& destinationRoot,
           const fsys::path& seenDestinationRoot, size_t sizeDivisor, std::mt19937_64& random);

// The journal of a run's batch, for the undo runs: outside both trees.
fsys::path JournalOf(const Run& run);

// Removes the run's trees and journal.
void Remove(const Run& run);

// The child's side: one batch over the dropped folder, through BatchRun with
// a host that answers Yes (the emptied-folder rule on), with its journal
// when asked.  Writes "s" to the pipe when the batch starts, "p" each time it
// shows its counts (once a file has been handled), and
// "d <success> <failure> <total>" when it is done.
[[noreturn]] void RunBatchInChild(const Run& run, int pipeOut, bool journaled);

// Answers Yes, and writes "p" to the pipe each time the counts are shown.
class YesHost : public BatchHost {
public:
    explicit YesHost(int pipeOut) : pipeOut_(pipeOut) {}
    bool AskYesNo(const ByteString&, const ByteString&) override { return true; }
    void ShowMessage(const ByteString&, const ByteString&) override {}
    void SetTitle(const ByteString&) override;

private:
    int pipeOut_;
};

struct Failure {
    std::string invariant;
    std::string detail;
};

// The failures of all the runs: each printed as it comes (every one when
// verbose, otherwise the first dozen) and counted by invariant and mode for
// the summary.
class FailureTally {
public:
    explicit FailureTally(bool verbose) : verbose_(verbose) {}
    void Add(const std::string& run, const std::string& mode, const std::vector<Failure>& failures);
    int Total() const { return total_; }
    // A line "failed invariant ..." for each invariant that failed, with its
    // count in each mode.
    void PrintByInvariant() const;

private:
    bool verbose_;
    int printed_ = 0;
    int total_ = 0;
    std::map<std::string, std::map<std::string, int>> byInvariant_;  // invariant -> mode -> count
};

struct Findings {
    std::vector<Failure> failures;
    // Files a move to another file system left under both names, whole: the
    // copy is published before the source is removed, and no file system
    // call does both at once.  Nothing is lost, so this is no failure.
    int underBothNames = 0;
    // Finished copies left under a hidden name by a copy that replaces a
    // file, killed between naming the copy and putting it in the old one's
    // place: no call can replace a file with one that has no name yet.  The
    // copy is whole and its source stays, so this is no failure either.
    int finishedCopiesUnderTemporaryNames = 0;
    // Hidden temporary files left in a destination without unnamed files:
    // the copies in flight when the batch was killed or the power went.
    int temporariesOnServer = 0;
};

// What a batch left, killed, cut or finished (finished: every file must have
// been moved or copied):
//   lost                 every file exists under its old or its new name;
//   moved twice          a file moved within one file system exists under
//                        exactly one of them;
//   source damaged       a file at its old name holds exactly its bytes, and
//                        a copied file is still there;
//   half-written         a file at its new name holds exactly the source's
//                        bytes, or (where it replaced an older file) the
//                        older file's, whole;
//   replaced by a move   a move never replaces the file already there;
//   temporary file left  no other entry is left in either tree (others are
//                        "unexpected entry"), but for the counted ones of
//                        Findings;
//   batch incomplete     a finished batch did all of its work.
Findings Check(const Run& run, bool finished);

// After an undo of a finished move batch, killed or not: every file is whole
// at exactly one of its two places (both, whole, only for a move across file
// systems killed between naming its copy and removing the moved file), the
// file that had the taken name is untouched, and nothing else is left.
Findings CheckUndo(const Run& run, bool finished);

// A fresh folder "tessarbolink-kill-XXXXXX" in parent.
fsys::path FreshFolder(const fsys::path& parent);
bool OnOneFileSystem(const fsys::path& a, const fsys::path& b);
void Sleep(double seconds);

// The median of some values, 0 for none.
double Median(std::vector<double> values);

// A measure at a delay per request, between the three measured at no delay,
// half the largest and the largest.
double AtDelay(const std::vector<double>& measured, int64_t delay, int64_t largest);

}  // namespace harness
