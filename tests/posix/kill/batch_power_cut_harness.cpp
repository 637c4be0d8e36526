// Cuts the power of a file server in the middle of batches and checks what
// the server kept.
//
// Every run mounts a fresh test file system that forgets what was not made
// durable when its power is cut (FUSE, as root), lays out a tree on the
// local disk (the files of batch_kill_harness, an eighth of the size) and
// the destination folder on the server (with a file at one of the new
// names), made durable, and starts a child process that runs one batch from
// the one onto the other through BatchRun with a host that answers Yes.
// The child runs in a mount namespace of its own, so that after the cut it
// meets a server that is gone (every request fails) rather than the file
// system mounted again for the checks.  The runs take turns at moves and
// copies; each has its own delay per request, between 0 and 1 ms.
//
// The cut is aimed evenly over the batch, and a little past its end: every
// other run after a number of requests to the server (of those an
// uninterrupted batch makes), the others after a time (of the time it
// takes at the run's delay), each at a random point of its own slice.  The
// batch then has to end by itself; one that has not ended a generous time
// after the cut is killed ("batch hung").  The checks, against what the
// server kept, are those of harness_run.h: every file whole at its source or
// whole at its new name (at least one: "lost"), nothing half-written at a
// new name, no file replaced by a move, copied files still at their
// source, nothing stray but counted hidden temporary files on the server and
// files a move left whole under both names; a move batch that ended before
// the cut has every file at its new name ("batch incomplete"); the child
// ends by itself with a clean exit ("batch crashed" otherwise).
//
// Usage: batch_power_cut_harness [--runs N] [--modes copy,move] [--seed S]
//                                [--hang-seconds S] [--verbose]
// Prints one summary line (and a line for each kind counted or failed);
// exits 1 when any invariant failed, 77 when the test file system or a mount
// namespace of its own is not possible here (skipped).
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "fusefs/fuse_test_fs.h"
#include "harness_run.h"

using namespace harness;

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kSizeDivisor = 8;
constexpr int64_t kMaxDelay = 1000;  // microseconds per request

double SecondsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// Leaves the harness's mount namespace for a private one: mounts and
// unmounts on either side are no longer seen on the other.
bool EnterPrivateMountNamespace() {
    return unshare(CLONE_NEWNS) == 0 && mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0;
}

// Whether a child can have a mount namespace of its own here.
bool PrivateMountNamespacePossible() {
    const pid_t child = fork();
    if (child == 0) _exit(EnterPrivateMountNamespace() ? 0 : 1);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// Makes a file or folder on the server durable; false when the server refused.
bool MakeDurable(const fsys::path& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    const bool synced = fd >= 0 && fsync(fd) == 0;
    if (fd >= 0) close(fd);
    return synced;
}

// Where a cut is aimed: after this many requests to the server since the
// batch began, or this long after it began.
struct CutPlan {
    bool byRequests = false;
    uint64_t requests = 0;
    double seconds = 0;
};

struct Outcome {
    std::vector<Failure> harness;  // what went wrong with the run itself
    bool started = false;
    bool finishedBeforeCut = false;
    bool finished = false;      // the batch returned at all
    bool hungBeforeCut = false; // stopped short of the cut for a long time
    bool hung = false;          // killed a long time after the cut
    bool crashed = false;       // ended otherwise than by a clean exit
    size_t filesBeforeCut = 0;  // files reported done when the power went
    uint64_t requests = 0;      // requests to the server until the cut
    double seconds = 0;         // from the start of the batch until the cut
    double endAfterCut = 0;     // seconds the batch took to end after the cut
    std::string counts;         // "success failure total" of a finished batch
};

// Runs the batch in a child and cuts the server's power as planned, or once
// the batch is done; waits for the batch to end, at most hangSeconds.
Outcome RunAndCut(const Run& run, testfs::FuseTestFs& server, int64_t delay, std::optional<CutPlan> plan,
                  double hangSeconds) {
    Outcome outcome;
    int fds[2];
    if (!server.ResetCounts() || !server.SetDelay(delay) || pipe2(fds, O_CLOEXEC) != 0) {
        outcome.harness.push_back({"harness", "cannot start the batch: " + server.Error()});
        return outcome;
    }
    std::fflush(nullptr);
    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) std::exit(2);
    if (child == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent || !EnterPrivateMountNamespace()) _exit(3);
        close(fds[0]);
        RunBatchInChild(run, fds[1], false);
    }
    close(fds[1]);
    std::string marks;
    bool ended = false;  // the pipe was closed: the batch is done or gone
    // Reads what the child wrote within the time (under a second); notes
    // when the pipe is closed.
    auto readMarks = [&](double seconds) {
        pollfd waiting{fds[0], POLLIN, 0};
        const timespec time{0, static_cast<long>(seconds * 1e9)};
        if (ppoll(&waiting, 1, &time, nullptr) <= 0) return;
        char buffer[64];
        const ssize_t got = read(fds[0], buffer, sizeof buffer);
        if (got <= 0) ended = true;
        else marks.append(buffer, static_cast<size_t>(got));
    };
    const auto forked = SteadyClock::now();
    while (!ended && marks.empty() && SecondsSince(forked) < hangSeconds) readMarks(0.1);
    outcome.started = !marks.empty() && marks[0] == 's';
    const auto start = SteadyClock::now();
    auto done = [&] { return marks.find('d') != std::string::npos; };
    // Whether the cut is due: the server's count of requests, or the clock.
    auto due = [&] {
        if (!plan) return false;
        if (!plan->byRequests) return SecondsSince(start) >= plan->seconds;
        const auto counts = server.Counts();
        const auto total = counts.find("total");
        if (total != counts.end()) return total->second >= plan->requests;
        outcome.harness.push_back({"harness", "no request counts: " + server.Error()});
        return true;
    };
    // A batch that stops short of the cut, or never ends, is cut after the
    // same generous time.
    while (outcome.started && !ended && !done() && !due()) {
        if (SecondsSince(start) >= hangSeconds) {
            outcome.hungBeforeCut = true;
            break;
        }
        readMarks(0.0001);
    }
    outcome.finishedBeforeCut = done();
    outcome.filesBeforeCut = static_cast<size_t>(std::count(marks.begin(), marks.end(), 'p'));
    outcome.seconds = SecondsSince(start);
    if (const auto counts = server.Counts(); counts.count("total")) outcome.requests = counts.at("total");
    const auto cut = SteadyClock::now();
    if (!server.PowerCut()) outcome.harness.push_back({"harness", "the power cut failed: " + server.Error()});
    while (!ended && SecondsSince(cut) < hangSeconds) readMarks(0.1);
    int status = 0;
    for (;;) {
        if (waitpid(child, &status, WNOHANG) == child) break;
        if (SecondsSince(cut) >= hangSeconds && !outcome.hung) {
            outcome.hung = true;
            kill(child, SIGKILL);
        }
        Sleep(0.005);
    }
    outcome.endAfterCut = SecondsSince(cut);
    close(fds[0]);
    if (WIFEXITED(status) && WEXITSTATUS(status) == 3)
        outcome.harness.push_back({"harness", "the batch could not have a mount namespace of its own"});
    outcome.finished = done();
    outcome.counts = outcome.finished ? marks.substr(marks.find('d') + 2) : "";
    outcome.crashed = !outcome.hung && !(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    return outcome;
}

enum class Mode { Copy, Move };
constexpr const char* kModeNames[] = {"copy", "move"};
constexpr const char* kModeTitles[] = {"copies", "moves"};

struct Options {
    int runs = 200;
    std::vector<Mode> modes{Mode::Move, Mode::Copy};
    uint64_t seed = std::random_device{}();
    double hangSeconds = 90;
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
        } else if (arg == "--seed" && value) {
            options.seed = std::strtoull(value, nullptr, 10), ++i;
        } else if (arg == "--hang-seconds" && value) {
            options.hangSeconds = std::atof(value), ++i;
        } else if (arg == "--modes" && value) {
            options.modes.clear();
            const std::string list = std::string(value) + ",";
            for (size_t at = 0, comma; (comma = list.find(',', at)) != std::string::npos; at = comma + 1) {
                const std::string name = list.substr(at, comma - at);
                if (name == "move") options.modes.push_back(Mode::Move);
                else if (name == "copy") options.modes.push_back(Mode::Copy);
                else known = false;
            }
            ++i;
        } else if (arg == "--verbose") {
            options.verbose = true;
        } else {
            known = false;
        }
        if (!known) {
            std::fprintf(stderr,
                         "usage: %s [--runs N] [--modes copy,move] [--seed S] [--hang-seconds S] [--verbose]\n",
                         argv[0]);
            std::exit(2);
        }
    }
    if (options.modes.empty() || options.runs < 1 || options.hangSeconds <= 0) {
        std::fprintf(stderr, "no runs to do\n");
        std::exit(2);
    }
    return options;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    const fsys::path local = fsys::temp_directory_path();
    if (!PrivateMountNamespacePossible()) {
        std::printf("power-cut harness: skipped, a child cannot have a mount namespace of its own here\n");
        return 77;
    }
    std::mt19937_64 random(options.seed);
    std::uniform_real_distribution<double> unit(0.0, 1.0);

    FailureTally tally(options.verbose);
    auto report = [&](const std::string& what, Mode mode, const std::vector<Failure>& failures) {
        tally.Add(what, kModeNames[static_cast<int>(mode)], failures);
    };
    int underBothNames = 0, temporariesOnServer = 0;
    double longestEnd = 0;
    // One run: a fresh server, the batch, the cut, the checks.  False when
    // the server cannot be mounted at all.
    auto runOnce = [&](const std::string& what, Mode mode, int64_t delay, std::optional<CutPlan> plan,
                       Outcome& outcome) {
        testfs::FuseTestFs::Options serverOptions;
        serverOptions.powerCut = true;
        testfs::FuseTestFs server(serverOptions);
        if (!server.IsMounted()) {
            outcome.harness.push_back({"harness", "the test file system cannot be mounted: " + server.Error()});
            return false;
        }
        Run run = LayOut(mode == Mode::Move, local, fsys::path(server.MountPath()), server.BackingPath(),
                         kSizeDivisor, random);
        run.namedTemporaries = true;
        for (const fsys::path& made : {run.NewPath(kTakenName), run.seenDestination, run.seenDestinationParent})
            if (!MakeDurable(fsys::path(server.MountPath()) / made.lexically_relative(server.BackingPath())) ||
                !MakeDurable(server.MountPath())) {
                outcome.harness.push_back({"harness", "cannot make the layout durable on the server"});
                return true;
            }
        outcome = RunAndCut(run, server, delay, plan, options.hangSeconds);
        if (!outcome.started) outcome.harness.push_back({"harness", "the batch never started"});
        char hang[64];
        std::snprintf(hang, sizeof hang, "%g s", options.hangSeconds);
        if (outcome.hungBeforeCut)
            outcome.harness.push_back({"batch hung", std::string("did not go on for ") + hang + " before the cut"});
        if (outcome.hung) outcome.harness.push_back({"batch hung", std::string("killed ") + hang + " after the cut"});
        if (outcome.crashed) outcome.harness.push_back({"batch crashed", "see its output above"});
        report(what, mode, outcome.harness);
        const Findings findings = Check(run, outcome.finishedBeforeCut && run.move);
        report(what, mode, findings.failures);
        underBothNames += findings.underBothNames;
        temporariesOnServer += findings.temporariesOnServer;
        longestEnd = std::max(longestEnd, outcome.endAfterCut);
        std::error_code error;
        fsys::remove_all(run.sourceParent, error);
        return true;
    };

    // How many requests an uninterrupted batch makes and how long it takes
    // at no delay, half the largest and the largest: each is let finish,
    // then cut.
    const size_t modeCount = options.modes.size();
    std::vector<std::vector<double>> roundSeconds(modeCount);
    std::vector<std::vector<double>> roundRequests(modeCount);
    for (size_t m = 0; m < modeCount; ++m) {
        const Mode mode = options.modes[m];
        for (int round = 0; round < 3; ++round) {
            Outcome outcome;
            const std::string what = std::string("uninterrupted ") + kModeNames[static_cast<int>(mode)] + " batch";
            if (!runOnce(what, mode, round * kMaxDelay / 2, std::nullopt, outcome)) {
                std::printf("power-cut harness: skipped, %s\n", outcome.harness.front().detail.c_str());
                return 77;
            }
            const size_t refused = mode == Mode::Move ? 1 : 0;
            const std::string expectedCounts = std::to_string(kFileCount - refused) + " " +
                                               std::to_string(refused) + " " + std::to_string(kFileCount);
            if (!outcome.finishedBeforeCut || outcome.counts != expectedCounts)
                report(what, mode, {{"batch incomplete", "counts \"" + outcome.counts + "\", expected \"" +
                                                             expectedCounts + "\""}});
            roundSeconds[m].push_back(outcome.seconds);
            roundRequests[m].push_back(static_cast<double>(outcome.requests));
        }
        if (options.verbose)
            std::printf("%s: %.0f requests; batch %.2f / %.2f / %.2f ms at 0 / %.1f / %.1f ms per request\n",
                        kModeNames[static_cast<int>(mode)], Median(roundRequests[m]), roundSeconds[m][0] * 1e3,
                        roundSeconds[m][1] * 1e3, roundSeconds[m][2] * 1e3, kMaxDelay / 2e3, kMaxDelay / 1e3);
    }

    // The cut runs: the modes take turns; within a mode the cuts are aimed
    // evenly over the batch and a little past its end, by requests and by
    // time in turn.
    std::vector<int> runsOfMode(modeCount, 0), midBatchOfMode(modeCount, 0);
    std::vector<std::set<size_t>> filesHitOfMode(modeCount);
    int byRequests = 0;
    const auto started = SteadyClock::now();
    for (int r = 0; r < options.runs; ++r) {
        const size_t m = static_cast<size_t>(r) % modeCount;
        const Mode mode = options.modes[m];
        const int perMode = (options.runs + static_cast<int>(modeCount) - 1 - static_cast<int>(m)) /
                            static_cast<int>(modeCount);
        const int slice = runsOfMode[m]++;
        const double share = (slice + unit(random)) / perMode * 1.05;
        const int64_t delay = static_cast<int64_t>(unit(random) * kMaxDelay);
        CutPlan plan;
        plan.byRequests = slice % 2 == 0;
        byRequests += plan.byRequests;
        plan.requests = static_cast<uint64_t>(share * Median(roundRequests[m]));
        plan.seconds = share * AtDelay(roundSeconds[m], delay, kMaxDelay);
        char when[96];
        if (plan.byRequests)
            std::snprintf(when, sizeof when, "cut after %llu requests", static_cast<unsigned long long>(plan.requests));
        else
            std::snprintf(when, sizeof when, "cut %.2f ms into the batch", plan.seconds * 1e3);
        const std::string what = "run " + std::to_string(r) + " (" + kModeNames[static_cast<int>(mode)] + ", " +
                                 std::to_string(delay) + " us per request, " + when + ")";
        Outcome outcome;
        runOnce(what, mode, delay, plan, outcome);
        const bool midBatch = outcome.started && !outcome.finishedBeforeCut;
        midBatchOfMode[m] += midBatch;
        if (midBatch && outcome.filesBeforeCut < kFileCount) filesHitOfMode[m].insert(outcome.filesBeforeCut);
    }
    const double seconds = SecondsSince(started);

    int midBatch = 0;
    std::string perMode;
    for (size_t m = 0; m < modeCount; ++m) {
        midBatch += midBatchOfMode[m];
        char part[256];
        std::snprintf(part, sizeof part,
                      "%s%d %s (batch %.0f requests, %.0f ms at no delay, %.0f ms at %.0f ms per request; %d cut "
                      "mid-batch, during %zu of its %zu files)",
                      m ? ", " : "", runsOfMode[m], kModeTitles[static_cast<int>(options.modes[m])],
                      Median(roundRequests[m]), roundSeconds[m][0] * 1e3, roundSeconds[m][2] * 1e3, kMaxDelay / 1e3,
                      midBatchOfMode[m], filesHitOfMode[m].size(), kFileCount);
        perMode += part;
    }
    std::printf("power-cut harness: %d runs [%s], %d cuts landed mid-batch (%d aimed by requests, %d by time), "
                "%d invariant failures (seed %llu, %.1f s)\n",
                options.runs, perMode.c_str(), midBatch, byRequests, options.runs - byRequests, tally.Total(),
                static_cast<unsigned long long>(options.seed), seconds);
    std::printf("  the longest a batch took to end after the cut (the server mounted again meanwhile): %.2f s\n",
                longestEnd);
    if (underBothNames > 0)
        std::printf("  %d files kept whole under both names by moves cut between publishing the copy and removing "
                    "the source (nothing lost)\n",
                    underBothNames);
    if (temporariesOnServer > 0)
        std::printf("  %d hidden temporary files kept by the server (copies in flight at the cut; nothing lost or "
                    "half-written)\n",
                    temporariesOnServer);
    tally.PrintByInvariant();
    return tally.Total() == 0 ? 0 : 1;
}
