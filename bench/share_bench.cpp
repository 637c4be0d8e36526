// Filing onto a slow file server: files of the local disk moved (and copied)
// onto the test file system with a delay on every request, the program's
// headless batch against `mv` (and `cp`) run in the same run, with the time
// and the requests per file of each.  Needs root (it mounts the test file
// system).
//
//   share_bench [--files N] [--size BYTES] [--delay-us N] [--dir FOLDER]
//
// The default run is short (100 files); the README's rows are of
// --files 1000.
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "batch/journal.h"
#include "bench_support.h"
#include "fuse_test_fs.h"

extern char** environ;

namespace {

namespace fsys = std::filesystem;

struct Options {
    int files = 100;
    long size = 10'000;
    long delayUs = 2000;
    std::string dir;
};

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) bench::Fail("missing value for " + flag);
        const std::string value = argv[++i];
        if (flag == "--files") options.files = std::atoi(value.c_str());
        else if (flag == "--size") options.size = std::atol(value.c_str());
        else if (flag == "--delay-us") options.delayUs = std::atol(value.c_str());
        else if (flag == "--dir") options.dir = value;
        else bench::Fail("unknown option " + flag);
    }
    if (options.files <= 0) bench::Fail("--files must be positive");
    return options;
}

// Runs a command with every file of the folder as arguments, then the
// destination ("mv -t DEST FILE..." and so on).
void RunTool(const std::string& tool, const std::string& folder, const std::string& destination) {
    std::vector<std::string> words = {tool, "-t", destination};
    for (const std::string& name : bench::ListNames(folder)) words.push_back(folder + "/" + name);
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child;
    if (posix_spawnp(&child, tool.c_str(), nullptr, nullptr, argv.data(), environ) != 0) bench::Fail("cannot start " + tool);
    int status = 0;
    waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) bench::Fail(tool + " failed");
}

struct Side {
    double seconds = 0;
    std::map<std::string, uint64_t> counts;
};

// Fresh local files, a fresh folder on the share, the counts from zero; then
// the work, timed, and a check that every file arrived.
Side Measure(testfs::FuseTestFs& share, const Options& options, const std::string& label,
             const std::function<void(const std::string& in, const std::string& out)>& work) {
    const std::string in = options.dir + "/" + label;
    bench::CreateFiles(in, options.files, options.size);
    fsys::create_directory(share.MountPath() + "/" + label);
    if (!share.ResetCounts()) bench::Fail(share.Error());
    Side side;
    side.seconds = bench::SecondsOf([&] { work(in, share.MountPath() + "/" + label); });
    side.counts = share.Counts();
    if (bench::ListNames(share.BackingPath() + "/" + label).size() != static_cast<size_t>(options.files))
        bench::Fail(label + ": files missing on the share");
    fsys::remove_all(in);
    fsys::remove_all(share.BackingPath() + "/" + label);
    return side;
}

void Report(const char* what, const Side& side, int files) {
    const double perFile = static_cast<double>(side.counts.at("total")) / files;
    std::printf("%-28s %8.3f s  %6.1f requests/file  (", what, side.seconds, perFile);
    bool first = true;
    for (const auto& [kind, count] : side.counts) {
        if (kind == "total") continue;
        std::printf("%s%s %.1f", first ? "" : ", ", kind.c_str(), static_cast<double>(count) / files);
        first = false;
    }
    std::printf(")\n");
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    const bool ownFolder = options.dir.empty();
    options.dir = bench::WorkFolder(options.dir);
    testfs::FuseTestFs::Options mount;
    mount.delayMicroseconds = options.delayUs;
    mount.parent = options.dir;
    testfs::FuseTestFs share(mount);
    if (!share.IsMounted()) bench::Fail("cannot mount the test file system: " + share.Error());

    std::printf("%d files of %ld bytes from %s onto the test file system, %ld us per request\n", options.files,
                options.size, options.dir.c_str(), options.delayUs);
    // The batches keep their journal, as the window's do.
    const auto runBatch = [&](const std::string& in, const std::string& out, int32_t mode) {
        JournalWriter journal(ByteString(options.dir + "/undo.journal"));
        bench::RunBatchOn(in, out, mode, options.dir, &journal);
    };
    const Side moveBatch = Measure(share, options, "move-batch", [&](const std::string& in, const std::string& out) {
        runBatch(in, out, 0);
    });
    const Side mv = Measure(share, options, "mv", [](const std::string& in, const std::string& out) { RunTool("mv", in, out); });
    const Side copyBatch = Measure(share, options, "copy-batch", [&](const std::string& in, const std::string& out) {
        runBatch(in, out, 1);
    });
    const Side cp = Measure(share, options, "cp", [](const std::string& in, const std::string& out) { RunTool("cp", in, out); });
    Report("move, batch", moveBatch, options.files);
    Report("mv", mv, options.files);
    std::printf("move: batch / mv = %.2f\n", moveBatch.seconds / mv.seconds);
    Report("copy, batch", copyBatch, options.files);
    Report("cp", cp, options.files);
    std::printf("copy: batch / cp = %.2f\n", copyBatch.seconds / cp.seconds);
    share.Unmount();
    if (ownFolder) fsys::remove_all(options.dir);
    return 0;
}
