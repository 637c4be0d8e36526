// How much the batch costs beyond the system calls it cannot avoid.
//
//   batch_bench [--files N] [--copy-files N] [--copy-size BYTES]
//               [--memory-files N] [--rounds N] [--dir FOLDER]
//
// Move: N small files dropped as one folder on RunBatch (default format, move
// mode, destination on the same file system) against a minimal loop that
// lists the folder and, per file, checks that the new name is free and
// renames.  Copy: files of 1 MiB against a plain read/write copy loop.  Each
// side runs on its own fresh files; the best of the rounds counts.  Memory:
// the peak resident size of a child process that runs only a batch of the
// memory-files count.
#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "batch/batch_run.h"
#include "fs/fs.h"

extern char** environ;

namespace {

namespace fsys = std::filesystem;

struct Options {
    int files = 10000;
    int copyFiles = 500;
    long copySize = 1L << 20;
    int memoryFiles = 100000;
    int rounds = 3;
    std::string dir;
    std::string memoryChild;  // internal: run one batch on this folder and report the peak
};

class SilentHost : public BatchHost {
public:
    bool AskYesNo(const ByteString&, const ByteString&) override { return true; }
    void ShowMessage(const ByteString&, const ByteString&) override {}
    void SetTitle(const ByteString&) override {}
};

[[noreturn]] void Fail(const std::string& what) {
    std::fprintf(stderr, "batch_bench: %s\n", what.c_str());
    std::exit(1);
}

double SecondsOf(const std::function<void()>& work) {
    const auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string FileName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "file%07d.dat", i);
    return name;
}

void CreateFiles(const std::string& folder, int count, long size) {
    fsys::create_directories(folder);
    const std::string content(static_cast<size_t>(size), 'x');
    for (int i = 0; i < count; ++i) {
        const std::string path = folder + "/" + FileName(i);
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd < 0 || write(fd, content.data(), content.size()) != static_cast<ssize_t>(content.size()))
            Fail("cannot create " + path);
        close(fd);
    }
}

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

std::vector<std::string> ListNames(const std::string& folder) {
    std::vector<std::string> names;
    DIR* dir = opendir(folder.c_str());
    if (!dir) Fail("cannot list " + folder);
    while (const dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.push_back(entry->d_name);
    }
    closedir(dir);
    return names;
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

void RunBatchOn(const std::string& folder, const std::string& destination, int32_t mode, const std::string& logs) {
    DropSettings settings;
    settings.m_sWhere = destination;
    settings.m_sFileNameFormat = Cp932(u8"[ファイルタイトル]_[現在の日付].[拡張子]");
    settings.m_nMode = mode;
    BatchState state;
    NameProgram program;
    NameRandom random;
    SilentHost host;
    BatchRun batch(settings, state, program, random, host, CurrentTimeSeconds, logs);
    batch.RunBatch(std::vector<ByteString>{folder});
    if (state.m_nFailure != 0 || state.m_nSuccess != state.m_nTotal) Fail("the batch reported failures");
}

struct Comparison {
    double batch = 1e30;
    double loop = 1e30;
};

// Best of the rounds for each side, every run on fresh files in fresh folders.
Comparison Compare(const Options& options, const std::string& label, int count, long size, int32_t mode,
                   const std::function<void(const std::string&, const std::string&)>& loop) {
    Comparison best;
    for (int round = 0; round < options.rounds; ++round) {
        const std::string base = options.dir + "/" + label + std::to_string(round);
        // Alternate which side goes first, so that neither always meets a warmer cache.
        for (const bool isBatch : {round % 2 == 0, round % 2 != 0}) {
            const std::string side = base + (isBatch ? "-batch" : "-loop");
            CreateFiles(side + "/in", count, size);
            fsys::create_directories(side + "/out");
            if (isBatch) {
                best.batch = std::min(best.batch, SecondsOf([&] { RunBatchOn(side + "/in", side + "/out", mode, side); }));
            } else {
                best.loop = std::min(best.loop, SecondsOf([&] { loop(side + "/in", side + "/out"); }));
            }
            if (ListNames(side + "/out").size() != static_cast<size_t>(count)) Fail(label + ": files missing");
            fsys::remove_all(side);
        }
    }
    return best;
}

// The peak resident size of this process, in KiB, as the kernel recorded it.
long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

int RunMemoryChild(const std::string& folder) {
    fsys::create_directories(folder + "-out");
    RunBatchOn(folder, folder + "-out", 0, folder + "-out");
    std::printf("%ld\n", PeakResidentKiB());
    return 0;
}

// Runs a batch of the memory-files count in a child process of its own, so
// that nothing the benchmark itself allocated counts; returns its peak in KiB.
long MeasureMemory(const Options& options, const char* self) {
    const std::string folder = options.dir + "/memory";
    CreateFiles(folder, options.memoryFiles, 16);
    int pipeFds[2];
    if (pipe(pipeFds) != 0) Fail("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::string flag = "--memory-child";
    std::vector<char*> argv{const_cast<char*>(self), flag.data(), const_cast<char*>(folder.c_str()), nullptr};
    pid_t child;
    if (posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0) Fail("spawn failed");
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    char text[64] = {};
    const ssize_t got = read(pipeFds[0], text, sizeof text - 1);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    fsys::remove_all(folder);
    fsys::remove_all(folder + "-out");
    if (got <= 0 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the memory run failed");
    return std::atol(text);
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
        else if (flag == "--memory-files") options.memoryFiles = std::stoi(value);
        else if (flag == "--rounds") options.rounds = std::max(1, std::stoi(value));
        else if (flag == "--dir") options.dir = value;
        else if (flag == "--memory-child") options.memoryChild = value;
        else Fail("unknown option " + flag);
    }
    return options;
}

void PrintRow(const char* what, const Comparison& c, double target) {
    const double ratio = c.batch / c.loop;
    std::printf("%-34s %9.3f %9.3f %7.2f  <= %.1f  %s\n", what, c.batch, c.loop, ratio, target,
                ratio <= target ? "ok" : "MISSED");
}

}  // namespace

int main(int argc, char** argv) {
    Options options = ParseOptions(argc, argv);
    if (!options.memoryChild.empty()) return RunMemoryChild(options.memoryChild);

    const bool ownFolder = options.dir.empty();
    if (ownFolder) {
        char pattern[] = "/tmp/tessarbolink-bench-XXXXXX";
        if (!mkdtemp(pattern)) Fail("cannot create a work folder");
        options.dir = pattern;
    }

    const Comparison move = Compare(options, "move", options.files, 100, 0, MinimalMoveLoop);
    const Comparison copy = Compare(options, "copy", options.copyFiles, options.copySize, 1, PlainCopyLoop);
    const long peakKiB = MeasureMemory(options, argv[0]);
    if (ownFolder) fsys::remove_all(options.dir);

    char moveLabel[64], copyLabel[64];
    std::snprintf(moveLabel, sizeof moveLabel, "move, %d files of 100 B", options.files);
    std::snprintf(copyLabel, sizeof copyLabel, "copy, %d files of %ld KiB", options.copyFiles, options.copySize / 1024);
    std::printf("%-34s %9s %9s %7s  %s\n", "case", "batch s", "loop s", "ratio", "target");
    PrintRow(moveLabel, move, 1.3);
    PrintRow(copyLabel, copy, 1.2);
    const double peakMiB = peakKiB / 1024.0;
    std::printf("peak memory, batch of %d files: %.1f MiB  (< 100 MiB)  %s\n", options.memoryFiles, peakMiB,
                peakMiB < 100 ? "ok" : "MISSED");
    return 0;
}
