// Kills batches at random moments and checks what each leaves behind.
//
// Every run lays out a fresh tree (files from empty to several MiB, in nested
// folders, one of them with a file of its new name already in the
// destination), starts a child process that runs one batch over it through
// BatchRun with a host that answers Yes (the emptied-folder rule on), and
// kills the child with SIGKILL at a random moment.  The runs take turns at
// the modes asked for:
//
//   copy        copies (every other one to another file system);
//   move        moves within one file system;
//   cross       moves to another one (the system's temporary folder to
//               /dev/shm);
//   share-copy, share-move ("share": both)
//               copies and moves from the local disk onto a file server:
//               the test file system (FUSE, as root), each run with its own
//               delay per request between 0 and 2 ms, and files an eighth
//               of the size.
//
// The kills of a local mode are aimed evenly over the files of the batch
// (the host reports each file done), each a random part of the way through
// its file, a few just after the batch; those onto the file server evenly
// over the time the batch takes at the run's delay (several files may be in
// flight at once there).  The checks after each run are those of
// harness_run.h: nothing lost, moved twice, damaged at its source,
// half-written or replaced by a move, nothing stray left but what is
// counted (a file left whole under both names by a move to another file
// system; a finished copy under a hidden name by a copy that replaces a
// file; hidden temporary files on the file server, which has no unnamed
// files), a batch that was not killed did all its work ("batch incomplete")
// and the child ended only by the kill or a clean exit ("batch crashed").
//
// Usage: batch_kill_harness [--runs N] [--undo-runs N]
//                           [--modes copy,move,cross,share-copy,share-move,share]
//                           [--seed S] [--verbose]
// The undo runs let a move batch finish with its journal, kill its undo at
// a random moment, and check that every file is whole at exactly one of its
// two places.
// Prints one summary line (and a line for each kind counted or failed);
// exits 1 when any invariant failed, 77 when the file server cannot be
// mounted here (skipped).
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "batch/undo_run.h"
#include "fusefs/fuse_test_fs.h"
#include "harness_run.h"

using namespace harness;

namespace {

enum class Mode { Copy, Move, CrossMove, ShareCopy, ShareMove };
constexpr int kModeCount = 5;
constexpr const char* kModeNames[] = {"copy", "move", "cross", "share-copy", "share-move"};
constexpr const char* kModeTitles[] = {"copies", "same-volume moves", "cross-volume moves",
                                       "copies onto a file server", "moves onto a file server"};

bool OnServer(Mode mode) { return mode == Mode::ShareCopy || mode == Mode::ShareMove; }
const char* NameOf(Mode mode) { return kModeNames[static_cast<int>(mode)]; }

// The file server's runs: smaller files, as every request there costs a
// round trip, and a delay per request of up to this many microseconds.
constexpr size_t kServerSizeDivisor = 8;
constexpr int64_t kMaxServerDelay = 2000;

// Where the runs lay out their trees.
struct Places {
    fsys::path local, other;
    testfs::FuseTestFs* server = nullptr;
};

Run LayOutFor(Mode mode, bool toOther, const Places& places, std::mt19937_64& random) {
    switch (mode) {
    case Mode::Copy:
        return LayOut(false, places.local, toOther ? std::optional(places.other) : std::nullopt, places.other, 1,
                      random);
    case Mode::Move: return LayOut(true, places.local, std::nullopt, places.local, 1, random);
    case Mode::CrossMove: return LayOut(true, places.local, places.other, places.other, 1, random);
    case Mode::ShareCopy:
    case Mode::ShareMove: break;
    }
    Run run = LayOut(mode == Mode::ShareMove, places.local, fsys::path(places.server->MountPath()),
                     places.server->BackingPath(), kServerSizeDivisor, random);
    run.namedTemporaries = true;
    return run;
}

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

// Runs the batch in a child and kills it as planned, or lets it finish.
enum class Child { Batch, JournaledBatch, Undo };

Outcome RunAndKill(const Run& run, std::optional<KillPlan> plan, Child what = Child::Batch) {
    int fds[2];
    if (pipe(fds) != 0) std::exit(2);
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) std::exit(2);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) _exit(1);
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
    // A child killed in the middle of a request to the file server ends
    // only once the server has answered it: after this, nothing more of the
    // batch reaches the server.
    int status = 0;
    waitpid(child, &status, 0);
    outcome.finished = outcome.counts.rfind("d ", 0) == 0;
    outcome.counts = outcome.finished ? outcome.counts.substr(2) : "";
    outcome.killed = WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL;
    outcome.crashed = !outcome.killed && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return outcome;
}

// A batch onto the file server at the given delay per request; the delay
// goes back to none for the checks.
Outcome RunOnServer(const Places& places, const Run& run, int64_t delay, std::optional<KillPlan> plan,
                    std::vector<Failure>& failures) {
    if (!places.server->SetDelay(delay)) failures.push_back({"harness", places.server->Error()});
    Outcome outcome = RunAndKill(run, plan);
    if (!places.server->SetDelay(0)) failures.push_back({"harness", places.server->Error()});
    return outcome;
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
        bool known = true;
        if (arg == "--runs" && value) {
            options.runs = std::atoi(value), ++i;
        } else if (arg == "--undo-runs" && value) {
            options.undoRuns = std::atoi(value), ++i;
        } else if (arg == "--seed" && value) {
            options.seed = std::strtoull(value, nullptr, 10), ++i;
        } else if (arg == "--modes" && value) {
            options.modes.clear();
            const std::string list = std::string(value) + ",";
            for (size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 1) {
                const std::string name = list.substr(at, comma - at);
                bool found = false;
                for (int m = 0; m < kModeCount; ++m) {
                    if (name == kModeNames[m] || (name == "share" && OnServer(static_cast<Mode>(m)))) {
                        if (std::find(options.modes.begin(), options.modes.end(), static_cast<Mode>(m)) ==
                            options.modes.end())
                            options.modes.push_back(static_cast<Mode>(m));
                        found = true;
                    }
                }
                known = known && found;
            }
            ++i;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            known = false;
        }
        if (!known) {
            std::fprintf(stderr,
                         "usage: %s [--runs N] [--undo-runs N] [--modes copy,move,cross,share-copy,share-move,share] "
                         "[--seed S] [--verbose]\n",
                         argv[0]);
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
    Places places;
    places.local = fsys::temp_directory_path();
    places.other = "/dev/shm";
    const bool needsOther = options.undoRuns > 0 ||
                            std::any_of(options.modes.begin(), options.modes.end(),
                                        [](Mode mode) { return mode == Mode::Copy || mode == Mode::CrossMove; });
    if (needsOther && (!fsys::is_directory(places.other) || OnOneFileSystem(places.local, places.other))) {
        std::fprintf(stderr, "%s is not another file system than %s: cross-volume runs are impossible here\n",
                     places.other.c_str(), places.local.c_str());
        return 2;
    }
    std::unique_ptr<testfs::FuseTestFs> server;
    if (std::any_of(options.modes.begin(), options.modes.end(), OnServer)) {
        server = std::make_unique<testfs::FuseTestFs>();
        if (!server->IsMounted()) {
            std::string why = server->Error();
            while (!why.empty() && std::isspace(static_cast<unsigned char>(why.back()))) why.pop_back();
            std::printf("kill harness: skipped, the test file system cannot be mounted here (it needs /dev/fuse "
                        "and root): %s\n",
                        why.c_str());
            return 77;
        }
        places.server = server.get();
    }
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    FailureTally tally(options.verbose);
    auto report = [&](const std::string& what, Mode mode, const std::vector<Failure>& failures) {
        tally.Add(what, NameOf(mode), failures);
    };

    // How long each file of a batch takes in each local mode (by its place
    // in the batch), from batches that are let finish and must then have
    // done all their work: the median of three.  Onto the file server, how
    // long the whole batch takes at no delay, half the largest and the
    // largest.
    const size_t modeCount = options.modes.size();
    std::vector<std::vector<double>> fileSeconds(modeCount, std::vector<double>(kFileCount, 0));
    std::vector<std::vector<double>> roundSeconds(modeCount);
    std::vector<double> batchSeconds(modeCount, 0);
    for (size_t m = 0; m < modeCount; ++m) {
        const Mode mode = options.modes[m];
        std::vector<std::vector<double>> measured(kFileCount);
        for (int round = 0; round < 3; ++round) {
            const bool toOther = mode == Mode::CrossMove || (mode == Mode::Copy && round == 1);
            Run run = LayOutFor(mode, toOther, places, random);
            std::vector<Failure> failures;
            const Outcome outcome = OnServer(mode) ? RunOnServer(places, run, round * kMaxServerDelay / 2,
                                                                 std::nullopt, failures)
                                                   : RunAndKill(run, std::nullopt);
            // Every file succeeds, except that a move refuses the taken name.
            const size_t refused = run.move ? 1 : 0;
            const std::string expectedCounts = std::to_string(kFileCount - refused) + " " +
                                               std::to_string(refused) + " " + std::to_string(kFileCount);
            const Findings findings = Check(run, true);
            failures.insert(failures.end(), findings.failures.begin(), findings.failures.end());
            if (findings.temporariesOnServer + findings.finishedCopiesUnderTemporaryNames > 0)
                failures.push_back({"temporary file left", "by a batch that was not killed"});
            if (outcome.crashed) failures.push_back({"batch crashed", "see its output above"});
            if (!outcome.finished || outcome.counts != expectedCounts || outcome.fileEnds.size() != kFileCount)
                failures.push_back({"batch incomplete", "counts \"" + outcome.counts + "\", expected \"" +
                                                            expectedCounts + "\""});
            report(std::string("uninterrupted ") + NameOf(mode) + " batch", mode, failures);
            for (size_t i = 0; i < kFileCount && i < outcome.fileEnds.size(); ++i)
                measured[i].push_back(outcome.fileEnds[i] - (i ? outcome.fileEnds[i - 1] : 0));
            roundSeconds[m].push_back(outcome.fileEnds.empty() ? 0 : outcome.fileEnds.back());
            Remove(run);
        }
        for (size_t i = 0; i < kFileCount; ++i) fileSeconds[m][i] = Median(measured[i]);
        batchSeconds[m] = Median(roundSeconds[m]);
        if (options.verbose) {
            std::printf("%s: batch %.2f ms (rounds:", NameOf(mode), batchSeconds[m] * 1e3);
            for (double seconds : roundSeconds[m]) std::printf(" %.2f", seconds * 1e3);
            std::printf("); files (ms):");
            for (double file : fileSeconds[m]) std::printf(" %.2f", file * 1e3);
            std::printf("\n");
        }
    }

    // The killed runs: the modes take turns.  Within a local mode the kills
    // are aimed evenly over the files of the batch (and a little past its
    // end), each at a random point of its own slice: while the file of that
    // place is handled, a random part of the way through it.  Onto the file
    // server they are aimed evenly over the time the batch takes at the
    // run's delay, and a little past it.
    std::vector<int> runsOfMode(modeCount, 0), midBatchOfMode(modeCount, 0);
    std::vector<std::set<size_t>> filesHitOfMode(modeCount);
    int underBothNames = 0, finishedCopiesUnderTemporaryNames = 0, temporariesOnServer = 0;
    const auto started = std::chrono::steady_clock::now();
    for (int r = 0; r < options.runs; ++r) {
        const size_t m = static_cast<size_t>(r) % modeCount;
        const Mode mode = options.modes[m];
        const int perMode = (options.runs + static_cast<int>(modeCount) - 1 - static_cast<int>(m)) /
                            static_cast<int>(modeCount);
        const int slice = runsOfMode[m]++;
        const double share = (slice + unit(random)) / perMode;
        KillPlan plan;
        const int64_t delay = OnServer(mode) ? static_cast<int64_t>(unit(random) * kMaxServerDelay) : 0;
        if (OnServer(mode)) {
            plan.delay = share * 1.05 * AtDelay(roundSeconds[m], delay, kMaxServerDelay);
        } else {
            const double place = share * (kFileCount + 0.1);
            plan.filesDone = std::min(static_cast<size_t>(place), kFileCount - 1);
            plan.delay = (place - static_cast<double>(plan.filesDone)) * fileSeconds[m][plan.filesDone];
        }
        const bool toOther = mode == Mode::CrossMove || (mode == Mode::Copy && slice % 2 == 1);
        Run run = LayOutFor(mode, toOther, places, random);
        std::vector<Failure> harnessFailures;
        const Outcome outcome =
            OnServer(mode) ? RunOnServer(places, run, delay, plan, harnessFailures) : RunAndKill(run, plan);
        const bool midBatch = outcome.started && !outcome.finished && outcome.killed;
        midBatchOfMode[m] += midBatch;
        // The file being handled when the kill landed (none: the last one
        // was done, the batch was finishing).
        if (midBatch && outcome.fileEnds.size() < kFileCount) filesHitOfMode[m].insert(outcome.fileEnds.size());
        char when[96];
        if (OnServer(mode))
            std::snprintf(when, sizeof when, "%.2f ms per request, killed %.2f ms into the batch", delay / 1e3,
                          plan.delay * 1e3);
        else
            std::snprintf(when, sizeof when, "killed %.2f ms after file %zu of %zu", plan.delay * 1e3, plan.filesDone,
                          kFileCount);
        const std::string what = "run " + std::to_string(r) + " (" + NameOf(mode) +
                                 (mode == Mode::Copy && toOther ? " to another file system" : "") + ", " + when +
                                 (midBatch ? "" : ", after the batch") + ")";
        report(what, mode, harnessFailures);
        if (!outcome.started) report(what, mode, {{"harness", "the batch never started"}});
        if (outcome.crashed) report(what, mode, {{"batch crashed", "see its output above"}});
        const Findings findings = Check(run, outcome.finished);
        report(what, mode, findings.failures);
        underBothNames += findings.underBothNames;
        finishedCopiesUnderTemporaryNames += findings.finishedCopiesUnderTemporaryNames;
        temporariesOnServer += findings.temporariesOnServer;
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
        Run run = LayOutFor(mode, mode == Mode::CrossMove, places, random);
        const Outcome batch = RunAndKill(run, std::nullopt, Child::JournaledBatch);
        const std::string what = "undo run " + std::to_string(r) + " (" + NameOf(mode) + ")";
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
        char batch[96];
        if (OnServer(options.modes[m]))
            std::snprintf(batch, sizeof batch, "batch %.0f ms at no delay, %.0f ms at %.0f ms per request",
                          roundSeconds[m][0] * 1e3, roundSeconds[m][2] * 1e3, kMaxServerDelay / 1e3);
        else
            std::snprintf(batch, sizeof batch, "batch %.0f ms", batchSeconds[m] * 1e3);
        char part[256];
        std::snprintf(part, sizeof part, "%s%d %s (%s; %d killed mid-batch, during %zu of its %zu files)",
                      m ? ", " : "", runsOfMode[m], kModeTitles[static_cast<int>(options.modes[m])], batch,
                      midBatchOfMode[m], filesHitOfMode[m].size(), kFileCount);
        perMode += part;
    }
    std::printf("kill harness: %d runs [%s], %d kills landed mid-batch, %d invariant failures (seed %llu, %.1f s)\n",
                options.runs, perMode.c_str(), midBatch, tally.Total(),
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
    if (temporariesOnServer > 0)
        std::printf("  %d hidden temporary files left on the file server by the kills (it has no unnamed files; "
                    "nothing lost or half-written)\n",
                    temporariesOnServer);
    tally.PrintByInvariant();
    return tally.Total() == 0 ? 0 : 1;
}
