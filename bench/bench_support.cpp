#include "bench_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "batch/undo_run.h"
#include "fs/fs.h"

extern char** environ;

namespace bench {

namespace {

namespace fsys = std::filesystem;

class SilentHost : public BatchHost {
public:
    bool AskYesNo(const ByteString&, const ByteString&) override { return true; }
    void ShowMessage(const ByteString&, const ByteString&) override {}
    void SetTitle(const ByteString&) override {}
};

}  // namespace

void Fail(const std::string& what) {
    std::fprintf(stderr, "bench: %s\n", what.c_str());
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

std::string WorkFolder(const std::string& given) {
    if (!given.empty()) return given;
    char pattern[] = "/tmp/tessarbolink-bench-XXXXXX";
    if (!mkdtemp(pattern)) Fail("cannot create a work folder");
    return pattern;
}

DropSettings BenchSettings(const std::string& destination, int32_t mode) {
    DropSettings settings;
    settings.m_sWhere = destination;
    settings.m_sFileNameFormat = Cp932(u8"[ファイルタイトル]_[現在の日付].[拡張子]");
    settings.m_nMode = mode;
    settings.m_bChangeLog = 0;
    settings.m_bErrorLog = 0;
    settings.m_bFileDontMove = 0;
    settings.m_bDeleteDerectory = 0;
    return settings;
}

void RunBatchOn(const std::string& folder, const std::string& destination, int32_t mode, const std::string& logs,
                BatchRecorder* recorder) {
    DropSettings settings = BenchSettings(destination, mode);
    BatchState state;
    NameProgram program;
    NameRandom random;
    SilentHost host;
    BatchRun batch(settings, state, program, random, host, CurrentTimeSeconds, logs, recorder);
    batch.RunBatch({DroppedPath{folder, true}});
    if (state.m_nFailure != 0 || state.m_nSuccess != state.m_nTotal) Fail("the batch reported failures");
}

void RunUndoOn(const std::string& journal, const std::string& logs) {
    const DropSettings settings = BenchSettings("", 0);
    BatchState state;
    SilentHost host;
    UndoRun(settings, state, host, logs, journal).Run();
    if (state.m_nFailure != 0 || state.m_nSuccess == 0) Fail("the undo reported failures");
}

long PeakResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return -1;
}

long RunChildForNumber(const char* self, const std::vector<std::string>& arguments) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) Fail("pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> words{self};
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    pid_t child;
    if (posix_spawn(&child, "/proc/self/exe", &actions, nullptr, argv.data(), environ) != 0) Fail("spawn failed");
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string text;
    char block[256];
    ssize_t got;
    while ((got = read(pipeFds[0], block, sizeof block)) > 0) text.append(block, static_cast<size_t>(got));
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (text.empty() || !WIFEXITED(status) || WEXITSTATUS(status) != 0) Fail("the child run failed");
    return std::atol(text.c_str());
}

Comparison CompareOnFreshFiles(const std::string& dir, const std::string& label, int rounds, int count, long size,
                               const std::function<double(const std::string&, const std::string&)>& batchSide,
                               const std::function<double(const std::string&, const std::string&)>& otherSide,
                               const std::string& sourceDir) {
    Comparison best;
    for (int round = 0; round < rounds; ++round) {
        const std::string base = "/" + label + std::to_string(round);
        for (const bool isBatch : {round % 2 == 0, round % 2 != 0}) {
            const std::string side = base + (isBatch ? "-batch" : "-other");
            const std::string in = (sourceDir.empty() ? dir : sourceDir) + side + "/in";
            CreateFiles(in, count, size);
            fsys::create_directories(dir + side + "/out");
            if (isBatch) {
                best.batch = std::min(best.batch, batchSide(in, dir + side + "/out"));
            } else {
                best.other = std::min(best.other, otherSide(in, dir + side + "/out"));
            }
            if (ListNames(dir + side + "/out").size() != static_cast<size_t>(count)) Fail(label + ": files missing");
            fsys::remove_all(dir + side);
            if (!sourceDir.empty()) fsys::remove_all(sourceDir + side);
        }
    }
    return best;
}

long MeasureMemoryInChild(const char* self, const std::string& dir, int count) {
    const std::string folder = dir + "/memory";
    CreateFiles(folder, count, 16);
    const long peak = RunChildForNumber(self, {"--memory-child", folder});
    fsys::remove_all(folder);
    fsys::remove_all(folder + "-out");
    return peak;
}

}  // namespace bench
