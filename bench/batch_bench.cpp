// How much the batch costs beyond the system calls it cannot avoid.
//
//   batch_bench [--files N] [--copy-files N] [--copy-size BYTES]
//               [--large-files N] [--large-size BYTES]
//               [--memory-files N] [--rounds N] [--dir FOLDER]
//
// Undo: the undo of the move of N files against that move (with its journal).
// Move: N small files dropped as one folder on RunBatch (default format, move
// mode, destination on the same file system) against a minimal loop that
// lists the folder and, per file, checks that the new name is free and
// renames.  Copy: files of 1 MiB against a plain read/write copy loop.  Large
// files (what the copy in pieces costs, each piece reported): copies of files
// of 256 MiB against a loop that copies each whole file in the kernel at once,
// and moves of them from /dev/shm to the work folder's file system (copied,
// flushed as they go) against a loop that copies each whole file, flushes it
// once, renames it into place and removes the source.  Each side runs on its
// own fresh files; the best of the rounds counts.  Memory:
// the peak resident size of a child process that runs only a batch of the
// memory-files count.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "bench_support.h"
#include "fs/fs.h"

using namespace bench;

namespace {

namespace fsys = std::filesystem;

struct Options {
    int files = 10000;
    int copyFiles = 500;
    long copySize = 1L << 20;
    int largeFiles = 4;
    long largeSize = 256L << 20;
    int memoryFiles = 100000;
    int rounds = 3;
    std::string dir;
    std::string memoryChild;  // internal: run one batch on this folder and report the peak
};

// The new name the default format gives: title, "_", 14 date digits, ".", extension.
std::string DefaultFormatName(const std::string& name, const std::string& stamp) {
    const size_t dot = name.rfind('.');
    return name.substr(0, dot) + "_" + stamp + name.substr(dot);
}

std::string DateStamp() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d%H%M%S", &local);
    return stamp;
}

void MinimalMoveLoop(const std::string& from, const std::string& to) {
    const std::string stamp = DateStamp();
    for (const std::string& name : ListNames(from)) {
        const std::string destination = to + "/" + DefaultFormatName(name, stamp);
        struct stat st;
        if (lstat(destination.c_str(), &st) == 0) continue;
        if (rename((from + "/" + name).c_str(), destination.c_str()) != 0) Fail("rename failed");
    }
}

void PlainCopyLoop(const std::string& from, const std::string& to) {
    const std::string stamp = DateStamp();
    std::vector<char> buffer(1 << 20);
    for (const std::string& name : ListNames(from)) {
        const int in = open((from + "/" + name).c_str(), O_RDONLY);
        const int out = open((to + "/" + DefaultFormatName(name, stamp)).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) Fail("cannot open for the copy loop");
        ssize_t got;
        while ((got = read(in, buffer.data(), buffer.size())) > 0) {
            if (write(out, buffer.data(), static_cast<size_t>(got)) != got) Fail("copy loop write failed");
        }
        close(in);
        close(out);
    }
}

// Copies each whole file in the kernel in one go, as a copy without pieces would.
void WholeFileCopyLoop(const std::string& from, const std::string& to) {
    const std::string stamp = DateStamp();
    for (const std::string& name : ListNames(from)) {
        const int in = open((from + "/" + name).c_str(), O_RDONLY);
        const int out = open((to + "/" + DefaultFormatName(name, stamp)).c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        struct stat st;
        if (in < 0 || out < 0 || fstat(in, &st) != 0) Fail("cannot open for the whole-file loop");
        for (off_t done = 0; done < st.st_size;) {
            const ssize_t copied = copy_file_range(in, nullptr, out, nullptr, static_cast<size_t>(st.st_size - done), 0);
            if (copied <= 0) Fail("whole-file copy failed");
            done += copied;
        }
        close(in);
        close(out);
    }
}

// A move to another file system without pieces: the whole file copied, one
// flush at the end, the name given, the folder flushed, the source removed.
void WholeFileMoveLoop(const std::string& from, const std::string& to) {
    const std::string stamp = DateStamp();
    std::vector<char> buffer(256 << 10);
    for (const std::string& name : ListNames(from)) {
        const std::string temp = to + "/.moving", target = to + "/" + DefaultFormatName(name, stamp);
        const int in = open((from + "/" + name).c_str(), O_RDONLY);
        const int out = open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        if (in < 0 || out < 0) Fail("cannot open for the move loop");
        ssize_t got;
        while ((got = read(in, buffer.data(), buffer.size())) > 0) {
            if (write(out, buffer.data(), static_cast<size_t>(got)) != got) Fail("move loop write failed");
        }
        if (got < 0 || fsync(out) != 0 || close(out) != 0 || rename(temp.c_str(), target.c_str()) != 0)
            Fail("move loop failed");
        const int folder = open(to.c_str(), O_RDONLY | O_DIRECTORY);
        fsync(folder);
        close(folder);
        close(in);
        if (unlink((from + "/" + name).c_str()) != 0) Fail("move loop unlink failed");
    }
}

// The batch against a minimal loop on the same number of fresh files.
Comparison Compare(const Options& options, const std::string& label, int count, long size, int32_t mode,
                   const std::function<void(const std::string&, const std::string&)>& loop,
                   const std::string& sourceDir = std::string()) {
    return CompareOnFreshFiles(
        options.dir, label, options.rounds, count, size,
        [&](const std::string& in, const std::string& out) {
            return SecondsOf([&] { RunBatchOn(in, out, mode, out); });
        },
        [&](const std::string& in, const std::string& out) { return SecondsOf([&] { loop(in, out); }); }, sourceDir);
}

// Undo of a move batch against that batch (which writes the journal), on
// the same files: best of the rounds for each.
Comparison CompareUndo(const Options& options) {
    Comparison best;
    for (int round = 0; round < options.rounds; ++round) {
        const std::string base = options.dir + "/undo" + std::to_string(round);
        CreateFiles(base + "/in", options.files, 100);
        fsys::create_directories(base + "/out");
        const std::string journal = base + "/undo.journal";
        best.other = std::min(best.other, SecondsOf([&] {
            JournalWriter writer(journal);
            RunBatchOn(base + "/in", base + "/out", 0, base, &writer);
        }));
        best.batch = std::min(best.batch, SecondsOf([&] { RunUndoOn(journal, base); }));
        if (ListNames(base + "/in").size() != static_cast<size_t>(options.files)) Fail("undo: files missing");
        fsys::remove_all(base);
    }
    return best;
}

int RunMemoryChild(const std::string& folder) {
    fsys::create_directories(folder + "-out");
    RunBatchOn(folder, folder + "-out", 0, folder + "-out");
    std::printf("%ld\n", PeakResidentKiB());
    return 0;
}

Options ParseOptions(int argc, char** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::string flag = argv[i];
        if (i + 1 >= argc) Fail("missing value after " + flag);
        const std::string value = argv[++i];
        if (flag == "--files") options.files = std::stoi(value);
        else if (flag == "--copy-files") options.copyFiles = std::stoi(value);
        else if (flag == "--copy-size") options.copySize = std::stol(value);
        else if (flag == "--large-files") options.largeFiles = std::stoi(value);
        else if (flag == "--large-size") options.largeSize = std::stol(value);
        else if (flag == "--memory-files") options.memoryFiles = std::stoi(value);
        else if (flag == "--rounds") options.rounds = std::max(1, std::stoi(value));
        else if (flag == "--dir") options.dir = value;
        else if (flag == "--memory-child") options.memoryChild = value;
        else Fail("unknown option " + flag);
    }
    return options;
}

void PrintRow(const char* what, const Comparison& c, double target) {
    const double ratio = c.batch / c.other;
    std::printf("%-34s %9.3f %9.3f %7.2f  <= %.2f  %s\n", what, c.batch, c.other, ratio, target,
                ratio <= target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    if (!options.memoryChild.empty()) return RunMemoryChild(options.memoryChild);

    const bool ownFolder = options.dir.empty();
    options.dir = WorkFolder(options.dir);

    const Comparison move = Compare(options, "move", options.files, 100, 0, MinimalMoveLoop);
    const Comparison copy = Compare(options, "copy", options.copyFiles, options.copySize, 1, PlainCopyLoop);
    const Comparison undo = CompareUndo(options);
    const Comparison largeCopy =
        Compare(options, "large-copy", options.largeFiles, options.largeSize, 1, WholeFileCopyLoop);
    // From memory, so that the reading costs nothing and the writing and
    // flushing are what is measured.
    Comparison largeMove;
    if (fsys::is_directory("/dev/shm")) {
        char pattern[] = "/dev/shm/tessarbolink-bench-XXXXXX";
        if (!mkdtemp(pattern)) Fail("cannot create a folder in /dev/shm");
        largeMove = Compare(options, "large-move", options.largeFiles / 2, options.largeSize, 0, WholeFileMoveLoop,
                            pattern);
        fsys::remove_all(pattern);
    }
    const long peakKiB = MeasureMemoryInChild(argv[0], options.dir, options.memoryFiles);
    if (ownFolder) fsys::remove_all(options.dir);

    char moveLabel[64], copyLabel[64];
    std::snprintf(moveLabel, sizeof moveLabel, "move, %d files of 100 B", options.files);
    std::snprintf(copyLabel, sizeof copyLabel, "copy, %d files of %ld KiB", options.copyFiles, options.copySize / 1024);
    std::printf("%-34s %9s %9s %7s  %s\n", "case", "batch s", "loop s", "ratio", "target");
    PrintRow(moveLabel, move, 1.3);
    PrintRow(copyLabel, copy, 1.2);
    char undoLabel[64];
    std::snprintf(undoLabel, sizeof undoLabel, "undo of the move of %d files", options.files);
    std::printf("%-34s %9s %9s\n", "", "undo s", "batch s");
    PrintRow(undoLabel, undo, 1.3);
    char largeLabel[64], moveAcrossLabel[64];
    std::snprintf(largeLabel, sizeof largeLabel, "copy, %d files of %ld MiB", options.largeFiles,
                  options.largeSize >> 20);
    std::snprintf(moveAcrossLabel, sizeof moveAcrossLabel, "move from shm, %d files of %ld MiB",
                  options.largeFiles / 2, options.largeSize >> 20);
    std::printf("%-34s %9s %9s   (copies in pieces against whole files)\n", "", "batch s", "whole s");
    PrintRow(largeLabel, largeCopy, 1.05);
    if (largeMove.batch < 1e30) PrintRow(moveAcrossLabel, largeMove, 1.05);
    const double peakMiB = peakKiB / 1024.0;
    std::printf("peak memory, batch of %d files: %.1f MiB  (< 100 MiB)  %s\n", options.memoryFiles, peakMiB,
                peakMiB < 100 ? "ok" : "MISSED");
    return 0;
}
