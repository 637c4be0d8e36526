// Kills batches at random moments and checks what each leaves behind.
//
// Every run lays out a fresh tree (files from empty to several MiB, in nested
// folders, one of them with a file of its new name already in the
// destination), starts a child process that runs one batch over it through
// BatchRun with a host that answers Yes (the emptied-folder rule on), and
// kills the child with SIGKILL at a random moment: the kills of a mode are
// aimed evenly over the files of the batch (the host reports each file
// done), each a random part of the way through its file, a few just after
// the batch.  The runs take turns at three modes: copies (every other one to
// another file system), moves within one file system, and moves to another
// one (the system's temporary folder to /dev/shm).  After each run:
//
//   lost                 every file exists under its old or its new name;
//   moved twice          a file moved within one file system exists under
//                        exactly one of them (a move to another one that was
//                        killed between naming the copy and removing the
//                        source leaves both, whole: counted, no failure);
//   source damaged       a file at its old name holds exactly its bytes;
//   half-written         a file at its new name holds exactly the source's
//                        bytes, or (where it replaced an older file) the
//                        older file's, whole;
//   replaced by a move   a move never replaces the file already there;
//   temporary file left  no entry other than these is left in either tree
//                        (other stray entries are "unexpected entry"), but
//                        for a whole copy under a hidden name by the copy
//                        that replaces a file, killed between naming it and
//                        putting it in place: counted, no failure;
//   batch incomplete     a batch that was not killed did all of its work;
//   batch crashed        the child ended only by the kill or a clean exit.
//
// Usage: batch_kill_harness [--runs N] [--undo-runs N] [--modes copy,move,cross]
//                           [--seed S] [--verbose]
// The undo runs let a move batch finish with its journal, kill its undo at
// a random moment, and check that every file is whole at exactly one of its
// two places.
// Prints one summary line; exits 1 when any invariant failed.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "batch/journal.h"
#include "batch/undo_run.h"

namespace fsys = std::filesystem;

namespace {

enum class Mode { Copy, Move, CrossMove };
constexpr const char* kModeNames[] = {"copy", "move", "cross"};
constexpr const char* kModeTitles[] = {"copies", "same-volume moves", "cross-volume moves"};

// The tree every run lays out: where each file sits and how big it is.  The
// sizes span the copy buffer many times over, so that most kills land in the
// middle of a copy.
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

constexpr char8_t kFormat[] = u8"moved-[ファイルタイトル].[拡張子]";

std::string Title(size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "f%02zu", index);
    return name;
}
std::string OldName(size_t index) { return Title(index) + ".bin"; }
std::string NewName(size_t index) { return "moved-" + Title(index) + ".bin"; }

// Distinct bytes for every file: slices at random places of one block of
// pseudorandom bytes made once (a file shifted or swapped for another never
// matches).
std::string ContentFor(std::mt19937_64& random, size_t size) {
    static const std::string pool = [] {
        std::string bytes(16 * kMiB, '\0');
        std::mt19937_64 generator(12345);
        for (size_t i = 0; i < bytes.size(); i += 8) {
            const uint64_t word = generator();
            std::memcpy(&bytes[i], &word, 8);
        }
        return bytes;
    }();
    return pool.substr(random() % (pool.size() - size), size);
}

void WriteFile(const fsys::path& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out) {
        std::fprintf(stderr, "cannot write %s\n", path.c_str());
        std::exit(2);
    }
}

std::optional<std::string> ReadFile(const fsys::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return std::nullopt;
    std::string content;
    struct stat st;
    if (fstat(fd, &st) == 0) content.resize(static_cast<size_t>(st.st_size));
    size_t done = 0;
    for (ssize_t got; done < content.size() && (got = read(fd, &content[done], content.size() - done)) > 0;)
        done += static_cast<size_t>(got);
    close(fd);
    if (done != content.size()) return std::nullopt;
    return content;
}

bool Exists(const fsys::path& path) {
    std::error_code error;
    return fsys::exists(fsys::symlink_status(path, error));
}

fsys::path FreshFolder(const fsys::path& parent) {
    std::string pattern = (parent / "tessarbolink-kill-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::fprintf(stderr, "cannot create a folder in %s\n", parent.c_str());
        std::exit(2);
    }
    return pattern;
}

bool OnOneFileSystem(const fsys::path& a, const fsys::path& b) {
    struct stat sa, sb;
    return stat(a.c_str(), &sa) == 0 && stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev;
}

// Answers Yes, and writes "p" to the pipe each time the batch shows its
// counts, that is once a file has been handled.
class YesHost : public BatchHost {
public:
    explicit YesHost(int pipeOut) : pipeOut_(pipeOut) {}
    bool AskYesNo(const ByteString&, const ByteString&) override { return true; }
    void ShowMessage(const ByteString&, const ByteString&) override {}
    void SetTitle(const ByteString&) override { (void)!write(pipeOut_, "p", 1); }

private:
    int pipeOut_;
};

// One run's folders and the bytes each file must hold.
struct Run {
    Mode mode;
    fsys::path sourceParent, destinationParent;  // removed after the run
    fsys::path dropped, destination;
    std::vector<std::string> contents;
    std::string olderContent;

    fsys::path OldPath(size_t i) const { return dropped / kTree[i].folder / OldName(i); }
    fsys::path NewPath(size_t i) const { return destination / NewName(i); }
};

Run LayOut(Mode mode, bool toOtherFileSystem, std::mt19937_64& random, const fsys::path& local,
          const fsys::path& other) {
    Run run;
    run.mode = mode;
    run.sourceParent = FreshFolder(local);
    run.destinationParent = toOtherFileSystem ? FreshFolder(other) : run.sourceParent;
    run.dropped = run.sourceParent / "dropped";
    run.destination = run.destinationParent / "out";
    fsys::create_directories(run.destination);
    for (size_t i = 0; i < kFileCount; ++i) {
        fsys::create_directories(run.dropped / kTree[i].folder);
        run.contents.push_back(ContentFor(random, kTree[i].size));
        WriteFile(run.OldPath(i), run.contents.back());
    }
    run.olderContent = ContentFor(random, kOlderFileSize);
    WriteFile(run.NewPath(kTakenName), run.olderContent);
    return run;
}

// The journal of a run's batch, for the undo runs: outside both trees.
fsys::path JournalOf(const Run& run) { return run.sourceParent.string() + "-journal"; }

void Remove(const Run& run) {
    std::error_code error;
    for (const char* suffix : {"", ".lock", ".new"}) fsys::remove(JournalOf(run).string() + suffix, error);
    fsys::remove_all(run.sourceParent, error);
    if (run.destinationParent != run.sourceParent) fsys::remove_all(run.destinationParent, error);
}

// The child's side: one batch over the dropped folder.  Writes "s" to the
// pipe when the batch starts, "p" after each file and "d" with the counts
// when it is done.
// The child's side of an undo run: the undo of the batch whose journal the
// run holds, with the same marks as a batch.
[[noreturn]] void RunUndoInChild(const Run& run, int pipeOut) {
    DropSettings settings;
    BatchState state;
    YesHost host(pipeOut);
    UndoRun undo(settings, state, host, run.sourceParent.string(), JournalOf(run).string());
    (void)!write(pipeOut, "s", 1);
    undo.Run();
    char done[64];
    const int length = std::snprintf(done, sizeof done, "d %d %d", state.m_nSuccess, state.m_nFailure);
    (void)!write(pipeOut, done, static_cast<size_t>(length));
    _exit(0);
}

[[noreturn]] void RunBatchInChild(const Run& run, int pipeOut, bool journaled) {
    DropSettings settings;
    settings.m_sWhere = run.destination.string();  // ASCII paths: the same in code page 932
    settings.m_sFileNameFormat = Cp932(kFormat);
    settings.m_nMode = run.mode == Mode::Copy ? 1 : 0;
    settings.m_bDeleteDerectory = 1;
    BatchState state;
    NameProgram program;
    NameRandom random;
    YesHost host(pipeOut);
    JournalWriter journal(JournalOf(run).string());
    BatchRun batch(settings, state, program, random, host, [] { return int64_t{1700000000}; },
                   run.sourceParent.string(), journaled ? &journal : nullptr);
    (void)!write(pipeOut, "s", 1);
    batch.RunBatch({DroppedPath{run.dropped.string(), true}});
    char done[64];
    const int length = std::snprintf(done, sizeof done, "d %d %d %d", state.m_nSuccess, state.m_nFailure,
                                     state.m_nTotal);
    (void)!write(pipeOut, done, static_cast<size_t>(length));
    _exit(0);
}

// Where a kill is aimed: once the batch has handled this many files, after
// this delay.
struct KillPlan {
    size_t filesDone = 0;
    double delay = 0;
};

struct Outcome {
    bool started = false;
    bool finished = false;  // the batch returned before the kill
    bool killed = false;
    bool crashed = false;   // ended otherwise than by the kill or a clean exit
    std::string counts;     // "success failure total" of a finished batch
    std::vector<double> fileEnds;  // seconds from the start until each file was handled
};

void Sleep(double seconds) {
    const long nanoseconds = static_cast<long>(seconds * 1e9);
    const timespec pause{nanoseconds / 1'000'000'000, nanoseconds % 1'000'000'000};
    nanosleep(&pause, nullptr);
}

// Runs the batch in a child and kills it as planned, or lets it finish.
enum class Child { Batch, JournaledBatch, Undo };

Outcome RunAndKill(const Run& run, std::optional<KillPlan> plan, Child what = Child::Batch) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(2);
    std::fflush(nullptr);
    const pid_t child = fork();
    if (child < 0) std::exit(2);
    if (child == 0) {
        close(fds[0]);
        if (what == Child::Undo) RunUndoInChild(run, fds[1]);
        RunBatchInChild(run, fds[1], what == Child::JournaledBatch);
    }
    close(fds[1]);
    Outcome outcome;
    char mark = 0;
    outcome.started = read(fds[0], &mark, 1) == 1 && mark == 's';
    const auto start = std::chrono::steady_clock::now();
    auto killWhenDue = [&] {
        if (plan && outcome.fileEnds.size() == plan->filesDone) {
            Sleep(plan->delay);
            kill(child, SIGKILL);
            plan.reset();
        }
    };
    if (outcome.started) killWhenDue();
    // One byte at a time, so that the kill follows its file as closely as
    // the scheduler allows.
    while (read(fds[0], &mark, 1) == 1) {
        if (mark == 'p') {
            outcome.fileEnds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            killWhenDue();
        } else {
            outcome.counts += mark;
        }
    }
    if (plan) kill(child, SIGKILL);  // never started, or stopped short
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    outcome.finished = outcome.counts.rfind("d ", 0) == 0;
    outcome.counts = outcome.finished ? outcome.counts.substr(2) : "";
    outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    outcome.crashed = !outcome.killed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return outcome;
}

struct Failure {
    std::string invariant;
    std::string detail;
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
};

// Every entry under root, files and folders, as paths.
std::vector<fsys::path> EntriesUnder(const fsys::path& root) {
    std::vector<fsys::path> entries;
    std::error_code error;
    if (!Exists(root)) return entries;
    for (auto it = fsys::recursive_directory_iterator(root, error);
         !error && it != fsys::recursive_directory_iterator(); it.increment(error))
        entries.push_back(it->path());
    return entries;
}

std::string Describe(const std::optional<std::string>& content) {
    return content ? std::to_string(content->size()) + " bytes" : "unreadable";
}

// What a run may leave in its trees: the dropped folder and its folders,
// the destination, and both names of every file.
std::set<fsys::path> ExpectedEntries(const Run& run) {
    std::set<fsys::path> expected{run.dropped, run.destination};
    for (size_t i = 0; i < kFileCount; ++i) {
        for (fsys::path folder = run.OldPath(i).parent_path(); folder != run.sourceParent;
             folder = folder.parent_path())
            expected.insert(folder);
        expected.insert(run.OldPath(i));
        expected.insert(run.NewPath(i));
    }
    return expected;
}

// Hands every other entry of the run's trees to stray.
template <typename Stray>
void ForEachStrayEntry(const Run& run, Stray&& stray) {
    const std::set<fsys::path> expected = ExpectedEntries(run);
    std::vector<fsys::path> roots{run.sourceParent};
    if (run.destinationParent != run.sourceParent) roots.push_back(run.destinationParent);
    for (const fsys::path& root : roots)
        for (const fsys::path& entry : EntriesUnder(root))
            if (!expected.count(entry)) stray(entry);
}

bool IsTemporaryName(const fsys::path& entry) { return entry.filename().string().rfind(".tessarbolink-", 0) == 0; }

Findings Check(const Run& run, bool finished) {
    Findings findings;
    auto fail = [&](const char* invariant, const fsys::path& path, const std::string& what) {
        findings.failures.push_back({invariant, path.string() + ": " + what});
    };
    const bool move = run.mode != Mode::Copy;
    for (size_t i = 0; i < kFileCount; ++i) {
        const fsys::path oldPath = run.OldPath(i), newPath = run.NewPath(i);
        const std::string& content = run.contents[i];
        const auto atOld = ReadFile(oldPath);
        const bool oldExists = Exists(oldPath), newExists = Exists(newPath);
        if (oldExists && atOld != content)
            fail("source damaged", oldPath, Describe(atOld) + ", expected " + std::to_string(content.size()));

        if (i == kTakenName) {
            const auto atNew = ReadFile(newPath);
            if (!oldExists) fail(move ? "replaced by a move" : "lost", oldPath, "gone");
            if (atNew != run.olderContent && (move || atNew != content))
                fail(move ? "replaced by a move" : "half-written", newPath,
                     Describe(atNew) + (move ? ", expected the older file" : ", expected the older or the new file"));
            if (finished && !move && atNew != content) fail("batch incomplete", newPath, "older file not replaced");
            continue;
        }
        if (!oldExists && !newExists) {
            fail("lost", oldPath, "neither it nor " + newPath.filename().string() + " exists");
            continue;
        }
        if (!move && !oldExists) fail("source damaged", oldPath, "a copied file is gone");
        if (move && oldExists && newExists) {
            if (run.mode == Mode::Move) fail("moved twice", oldPath, "also at " + newPath.string());
            else ++findings.underBothNames;  // both checked whole
        }
        if (newExists) {
            const auto atNew = ReadFile(newPath);
            if (atNew != content)
                fail("half-written", newPath, Describe(atNew) + ", expected " + std::to_string(content.size()));
        }
        if (finished && (!newExists || (move && oldExists)))
            fail("batch incomplete", oldPath, "not moved or copied");
    }
    ForEachStrayEntry(run, [&](const fsys::path& entry) {
        if (!move && IsTemporaryName(entry) && entry.parent_path() == run.NewPath(kTakenName).parent_path() &&
            ReadFile(entry) == run.contents[kTakenName]) {
            ++findings.finishedCopiesUnderTemporaryNames;
            return;
        }
        std::error_code error;
        const auto size = fsys::is_regular_file(entry, error) ? fsys::file_size(entry, error) : 0;
        fail(IsTemporaryName(entry) ? "temporary file left" : "unexpected entry", entry,
             std::to_string(size) + " bytes");
    });
    return findings;
}

// After an undo of a finished move batch, killed or not: every file is whole
// at exactly one of its two places (both, whole, only for a move across file
// systems killed between naming its copy and removing the moved file), the
// file that had the taken name is untouched, and nothing else is left.
Findings CheckUndo(const Run& run, bool finished) {
    Findings findings;
    auto fail = [&](const char* invariant, const fsys::path& path, const std::string& what) {
        findings.failures.push_back({invariant, path.string() + ": " + what});
    };
    for (size_t i = 0; i < kFileCount; ++i) {
        const fsys::path oldPath = run.OldPath(i), newPath = run.NewPath(i);
        const bool oldExists = Exists(oldPath), newExists = Exists(newPath);
        if (i == kTakenName) {
            if (ReadFile(oldPath) != run.contents[i]) fail("lost", oldPath, "the file whose move was refused");
            if (ReadFile(newPath) != run.olderContent) fail("replaced by a move", newPath, "the older file");
            continue;
        }
        if (!oldExists && !newExists) fail("lost", oldPath, "neither it nor " + newPath.filename().string() + " exists");
        if (oldExists && ReadFile(oldPath) != run.contents[i]) fail("half-written", oldPath, "moved back, not whole");
        if (newExists && ReadFile(newPath) != run.contents[i]) fail("half-written", newPath, "not whole");
        if (oldExists && newExists) {
            if (run.mode == Mode::Move) fail("moved twice", oldPath, "also at " + newPath.string());
            else ++findings.underBothNames;
        }
        if (finished && !oldExists) fail("undo incomplete", oldPath, "not moved back");
    }
    ForEachStrayEntry(run, [&](const fsys::path& entry) {
        fail(IsTemporaryName(entry) ? "temporary file left" : "unexpected entry", entry, "");
    });
    return findings;
}

struct Options {
    int runs = 210;
    int undoRuns = 60;  // a move batch let finish, then its undo killed
    std::vector<Mode> modes{Mode::Copy, Mode::Move, Mode::CrossMove};
    uint64_t seed = std::random_device{}();
    bool verbose = false;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (arg == "--runs" && value) {
            options.runs = std::atoi(value), ++i;
        } else if (arg == "--undo-runs" && value) {
            options.undoRuns = std::atoi(value), ++i;
        } else if (arg == "--seed" && value) {
            options.seed = std::strtoull(value, nullptr, 10), ++i;
        } else if (arg == "--modes" && value) {
            options.modes.clear();
            for (int m = 0; m < 3; ++m)
                if (std::string(",") .append(value).append(",").find(std::string(",") + kModeNames[m] + ",") !=
                    std::string::npos)
                    options.modes.push_back(static_cast<Mode>(m));
            ++i;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            std::fprintf(stderr, "usage: %s [--runs N] [--undo-runs N] [--modes copy,move,cross] [--seed S] [--verbose]\n", argv[0]);
            std::exit(2);
        }
    }
    if (options.modes.empty() || options.runs + options.undoRuns < 1) {
        std::fprintf(stderr, "no runs to do\n");
        std::exit(2);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const fsys::path local = fsys::temp_directory_path();
    const fsys::path other = "/dev/shm";
    if (!fsys::is_directory(other) || OnOneFileSystem(local, other)) {
        std::fprintf(stderr, "%s is not another file system than %s: cross-volume runs are impossible here\n",
                     other.c_str(), local.c_str());
        return 2;
    }
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    std::map<std::string, std::map<std::string, int>> failuresByInvariant;  // invariant -> mode -> count
    int printed = 0, totalFailures = 0;
    auto report = [&](const std::string& what, Mode mode, const std::vector<Failure>& failures) {
        for (const Failure& failure : failures) {
            ++failuresByInvariant[failure.invariant][kModeNames[static_cast<int>(mode)]];
            ++totalFailures;
            if (options.verbose || printed++ < 12)
                std::printf("FAIL %s: %s: %s\n", what.c_str(), failure.invariant.c_str(), failure.detail.c_str());
        }
    };

    // How long each file of a batch takes in each mode (by its place in the
    // batch), from batches that are let finish and must then have done all
    // their work: the median of three.
    const size_t modeCount = options.modes.size();
    std::vector<std::vector<double>> fileSeconds(modeCount, std::vector<double>(kFileCount, 0));
    std::vector<double> batchSeconds(modeCount, 0);
    for (size_t m = 0; m < modeCount; ++m) {
        const Mode mode = options.modes[m];
        std::vector<std::vector<double>> measured(kFileCount);
        std::vector<double> whole;
        for (int round = 0; round < 3; ++round) {
            const bool toOther = mode == Mode::CrossMove || (mode == Mode::Copy && round == 1);
            Run run = LayOut(mode, toOther, random, local, other);
            const Outcome outcome = RunAndKill(run, std::nullopt);
            // Every file succeeds, except that a move refuses the taken name.
            const size_t refused = mode == Mode::Copy ? 0 : 1;
            const std::string expectedCounts = std::to_string(kFileCount - refused) + " " +
                                               std::to_string(refused) + " " + std::to_string(kFileCount);
            std::vector<Failure> failures = Check(run, true).failures;
            if (outcome.crashed) failures.push_back({"batch crashed", "see its output above"});
            if (!outcome.finished || outcome.counts != expectedCounts || outcome.fileEnds.size() != kFileCount)
                failures.push_back({"batch incomplete", "counts \"" + outcome.counts + "\", expected \"" +
                                                            expectedCounts + "\""});
            report(std::string("uninterrupted ") + kModeNames[static_cast<int>(mode)] + " batch", mode, failures);
            for (size_t i = 0; i < kFileCount && i < outcome.fileEnds.size(); ++i)
                measured[i].push_back(outcome.fileEnds[i] - (i ? outcome.fileEnds[i - 1] : 0));
            whole.push_back(outcome.fileEnds.empty() ? 0 : outcome.fileEnds.back());
            Remove(run);
        }
        auto median = [](std::vector<double> values) {
            std::sort(values.begin(), values.end());
            return values.empty() ? 0 : values[values.size() / 2];
        };
        for (size_t i = 0; i < kFileCount; ++i) fileSeconds[m][i] = median(measured[i]);
        batchSeconds[m] = median(whole);
        if (options.verbose) {
            std::printf("%s: batch %.2f ms; files (ms):", kModeNames[static_cast<int>(mode)], batchSeconds[m] * 1e3);
            for (double file : fileSeconds[m]) std::printf(" %.2f", file * 1e3);
            std::printf("\n");
        }
    }

    // The killed runs: the modes take turns.  Within a mode the kills are
    // aimed evenly over the files of the batch (and a little past its end),
    // each at a random point of its own slice: while the file of that place
    // is handled, a random part of the way through it.
    std::vector<int> runsOfMode(modeCount, 0), midBatchOfMode(modeCount, 0);
    std::vector<std::set<size_t>> filesHitOfMode(modeCount);
    int underBothNames = 0, finishedCopiesUnderTemporaryNames = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int r = 0; r < options.runs; ++r) {
        const size_t m = static_cast<size_t>(r) % modeCount;
        const Mode mode = options.modes[m];
        const int perMode = (options.runs + static_cast<int>(modeCount) - 1 - static_cast<int>(m)) /
                            static_cast<int>(modeCount);
        const int slice = runsOfMode[m]++;
        const double place = (slice + unit(random)) / perMode * (kFileCount + 0.1);
        KillPlan plan;
        plan.filesDone = std::min(static_cast<size_t>(place), kFileCount - 1);
        plan.delay = (place - static_cast<double>(plan.filesDone)) * fileSeconds[m][plan.filesDone];
        const bool toOther = mode == Mode::CrossMove || (mode == Mode::Copy && slice % 2 == 1);
        Run run = LayOut(mode, toOther, random, local, other);
        const Outcome outcome = RunAndKill(run, plan);
        const bool midBatch = outcome.started && !outcome.finished && outcome.killed;
        midBatchOfMode[m] += midBatch;
        // The file being handled when the kill landed (none: the last one
        // was done, the batch was finishing).
        if (midBatch && outcome.fileEnds.size() < kFileCount) filesHitOfMode[m].insert(outcome.fileEnds.size());
        char delayText[32];
        std::snprintf(delayText, sizeof delayText, "%.2f", plan.delay * 1e3);
        const std::string what = "run " + std::to_string(r) + " (" + kModeNames[static_cast<int>(mode)] +
                                 (mode == Mode::Copy && toOther ? " to another file system" : "") + ", killed " +
                                 delayText + " ms after file " + std::to_string(plan.filesDone) + " of " +
                                 std::to_string(kFileCount) + (midBatch ? "" : ", after the batch") + ")";
        if (!outcome.started) report(what, mode, {{"harness", "the batch never started"}});
        if (outcome.crashed) report(what, mode, {{"batch crashed", "see its output above"}});
        const Findings findings = Check(run, outcome.finished);
        report(what, mode, findings.failures);
        underBothNames += findings.underBothNames;
        finishedCopiesUnderTemporaryNames += findings.finishedCopiesUnderTemporaryNames;
        Remove(run);
    }
    // The undo runs: a move batch (within /tmp, or to /dev/shm) let finish
    // with its journal, then its undo killed at a random moment, spread
    // evenly over the files it moves back and a little past its end.
    int undoMidway = 0;
    for (int r = 0; r < options.undoRuns; ++r) {
        const Mode mode = r % 2 == 0 ? Mode::Move : Mode::CrossMove;
        const auto measuredMode = std::find(options.modes.begin(), options.modes.end(), mode);
        const double perFile = measuredMode == options.modes.end()
                                   ? 1e-3
                                   : batchSeconds[static_cast<size_t>(measuredMode - options.modes.begin())] / kFileCount;
        Run run = LayOut(mode, mode == Mode::CrossMove, random, local, other);
        const Outcome batch = RunAndKill(run, std::nullopt, Child::JournaledBatch);
        const std::string what = "undo run " + std::to_string(r) + " (" + kModeNames[static_cast<int>(mode)] + ")";
        if (!batch.finished) report(what, mode, {{"batch incomplete", "the batch before the undo"}});
        const double place = (r / 2 + unit(random)) / ((options.undoRuns + 1) / 2) * (kFileCount + 0.1);
        KillPlan plan;
        plan.filesDone = std::min(static_cast<size_t>(place), kFileCount - 1);
        plan.delay = (place - static_cast<double>(plan.filesDone)) * perFile;
        const Outcome undo = RunAndKill(run, plan, Child::Undo);
        undoMidway += undo.started && !undo.finished && undo.killed;
        if (undo.crashed) report(what, mode, {{"batch crashed", "the undo; see its output above"}});
        const Findings findings = CheckUndo(run, undo.finished);
        report(what, mode, findings.failures);
        underBothNames += findings.underBothNames;
        Remove(run);
    }

    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    int midBatch = 0;
    std::string perMode;
    for (size_t m = 0; m < modeCount; ++m) {
        midBatch += midBatchOfMode[m];
        char part[160];
        std::snprintf(part, sizeof part, "%s%d %s (batch %.0f ms; %d killed mid-batch, during %zu of its %zu files)",
                      m ? ", " : "", runsOfMode[m], kModeTitles[static_cast<int>(options.modes[m])],
                      batchSeconds[m] * 1e3, midBatchOfMode[m], filesHitOfMode[m].size(), kFileCount);
        perMode += part;
    }
    std::printf("kill harness: %d runs [%s], %d kills landed mid-batch, %d invariant failures (seed %llu, %.1f s)\n",
                options.runs, perMode.c_str(), midBatch, totalFailures,
                static_cast<unsigned long long>(options.seed), seconds);
    if (options.undoRuns > 0)
        std::printf("  undo: %d runs of a finished move batch's undo, %d killed mid-undo\n", options.undoRuns,
                    undoMidway);
    if (underBothNames > 0)
        std::printf("  %d files left whole under both names by a move to another file system killed between "
                    "publishing the copy and removing the source (nothing lost)\n",
                    underBothNames);
    if (finishedCopiesUnderTemporaryNames > 0)
        std::printf("  %d finished copies left under a hidden name by a copy that replaces a file, killed between "
                    "naming the copy and putting it in place (nothing lost or half-written)\n",
                    finishedCopiesUnderTemporaryNames);
    for (const auto& [invariant, byMode] : failuresByInvariant) {
        std::string modes;
        for (const auto& [mode, count] : byMode)
            modes += (modes.empty() ? "" : ", ") + mode + " " + std::to_string(count);
        std::printf("  failed invariant \"%s\": %s\n", invariant.c_str(), modes.c_str());
    }
    return totalFailures == 0 ? 0 : 1;
}
