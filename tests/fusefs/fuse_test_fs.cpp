#include "fuse_test_fs.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#ifndef TESSARBOLINK_TESTFS_PROGRAM
#error "TESSARBOLINK_TESTFS_PROGRAM must name the test file system's program"
#endif

namespace testfs {

namespace {

namespace fsys = std::filesystem;

// Whether something is mounted on the path, as the system's table says: a
// server that went away makes every look at the mount itself fail.
bool IsMountPoint(const std::string& path) {
    std::ifstream mounts("/proc/self/mounts");
    for (std::string line; std::getline(mounts, line);) {
        const size_t start = line.find(' ');
        if (start != std::string::npos && line.compare(start + 1, path.size() + 1, path + " ") == 0) return true;
    }
    return false;
}

// Waits up to the time for the process to end; true when it has.
bool WaitForEnd(pid_t pid, std::chrono::milliseconds time) {
    const auto until = std::chrono::steady_clock::now() + time;
    for (;;) {
        int status;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid || (done < 0 && errno == ECHILD)) return true;
        if (std::chrono::steady_clock::now() >= until) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

FuseTestFs::FuseTestFs() : FuseTestFs(Options{}) {}

FuseTestFs::FuseTestFs(Options options) : options_(std::move(options)) {
    std::string pattern = options_.parent + "/tessarbolink-testfs-XXXXXX";
    if (!mkdtemp(pattern.data())) {
        error_ = "cannot create a temporary folder in " + options_.parent;
        return;
    }
    folder_ = pattern;
    backingPath_ = folder_ + "/backing";
    mountPath_ = folder_ + "/mnt";
    statePath_ = folder_ + "/state";
    controlPath_ = folder_ + "/control";
    logPath_ = folder_ + "/server.log";
    if (mkdir(backingPath_.c_str(), 0755) != 0 || mkdir(mountPath_.c_str(), 0755) != 0 ||
        mkdir(statePath_.c_str(), 0700) != 0) {
        error_ = "cannot create the folders in " + folder_;
        return;
    }
    Mount();
}

FuseTestFs::~FuseTestFs() {
    Unmount();
    // Never through a mount that is still there: that would empty the backing
    // folder of whatever server still answers.
    if (!folder_.empty() && !IsMountPoint(mountPath_)) {
        std::error_code error;
        fsys::remove_all(folder_, error);
    }
}

bool FuseTestFs::Mount() {
    std::vector<std::string> args = {TESSARBOLINK_TESTFS_PROGRAM, "--backing", backingPath_, "--control",
                                     controlPath_, "--delay-us", std::to_string(options_.delayMicroseconds),
                                     "--cache-seconds", std::to_string(options_.cacheSeconds)};
    if (options_.powerCut) {
        args.push_back("--state");
        args.push_back(statePath_);
    }
    args.push_back(mountPath_);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);

    const pid_t parent = getpid();
    const pid_t child = fork();
    if (child < 0) {
        error_ = "fork failed";
        return false;
    }
    if (child == 0) {
        // Should the test process die, the server ends too, and unmounts.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        if (getppid() != parent) _exit(1);
        const int log = open(logPath_.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log >= 0) {
            dup2(log, STDOUT_FILENO);
            dup2(log, STDERR_FILENO);
        }
        execv(argv[0], argv.data());
        _exit(127);
    }
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!IsMountPoint(mountPath_)) {
        int status;
        if (waitpid(child, &status, WNOHANG) == child) {
            error_ = "the test file system did not mount: " + ReadAll(logPath_);
            return false;
        }
        if (std::chrono::steady_clock::now() >= until) {
            kill(child, SIGKILL);
            waitpid(child, nullptr, 0);
            error_ = "the test file system did not mount in time: " + ReadAll(logPath_);
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    server_ = child;
    return true;
}

void FuseTestFs::Unmount() {
    if (server_ <= 0) return;
    // Requests held by a delay go now, so that the server can end.
    Command("clear");
    if (umount2(mountPath_.c_str(), MNT_DETACH) != 0 && IsMountPoint(mountPath_)) {
        const std::string command = "fusermount3 -u -z '" + mountPath_ + "' 2>/dev/null";
        (void)!std::system(command.c_str());
    }
    // A server whose mount is still in use by open files does not learn of
    // the unmount: it is ended, which fails those files from then on.
    if (!WaitForEnd(server_, std::chrono::seconds(3))) {
        kill(server_, SIGKILL);
        waitpid(server_, nullptr, 0);
    }
    server_ = -1;
}

std::string FuseTestFs::Command(const std::string& line) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (controlPath_.size() >= sizeof address.sun_path) return "error: control path too long";
    std::memcpy(address.sun_path, controlPath_.c_str(), controlPath_.size() + 1);
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return "error: no socket";
    if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close(fd);
        return "error: the server does not answer";
    }
    const std::string request = line + "\n";
    std::string answer;
    if (write(fd, request.data(), request.size()) == static_cast<ssize_t>(request.size())) {
        char buffer[4096];
        for (ssize_t got; (got = read(fd, buffer, sizeof buffer)) > 0;) answer.append(buffer, static_cast<size_t>(got));
    }
    close(fd);
    return answer;
}

bool FuseTestFs::Ok(const std::string& line) {
    const std::string answer = Command(line);
    if (answer == "ok\n") return true;
    error_ = line + ": " + answer;
    return false;
}

bool FuseTestFs::SetDelay(int64_t microseconds) { return Ok("delay " + std::to_string(microseconds)); }

bool FuseTestFs::Fail(const std::string& kind, int error, int times, const std::string& pathPart) {
    if (kind.find_first_of(" \n") != std::string::npos || pathPart.find_first_of(" \n") != std::string::npos) {
        error_ = "kinds and path parts hold no blank";
        return false;
    }
    return Ok("fail " + kind + " " + std::to_string(error) + " " + std::to_string(times) + " " + pathPart);
}

bool FuseTestFs::GoAway(int error, int64_t delayMicroseconds, int64_t afterRequests) {
    return Ok("gone " + std::to_string(error) + " " + std::to_string(delayMicroseconds) + " " +
              std::to_string(afterRequests));
}

bool FuseTestFs::ClearFaults() { return Ok("clear"); }

bool FuseTestFs::ResetCounts() { return Ok("reset"); }

std::map<std::string, uint64_t> FuseTestFs::Counts() {
    std::map<std::string, uint64_t> counts;
    std::istringstream in(Command("counts"));
    std::string name;
    uint64_t count;
    while (in >> name >> count) counts[name] = count;
    if (counts.find("total") == counts.end()) {
        error_ = "counts: no answer";
        counts.clear();
    }
    return counts;
}

bool FuseTestFs::PowerCut() {
    if (!Ok("cut")) return false;
    // The server ends by itself once it has answered.
    if (!WaitForEnd(server_, std::chrono::seconds(5))) kill(server_, SIGKILL);
    WaitForEnd(server_, std::chrono::seconds(5));
    server_ = -1;
    if (umount2(mountPath_.c_str(), MNT_DETACH) != 0 && IsMountPoint(mountPath_)) {
        error_ = "cannot unmount after the cut";
        return false;
    }
    return Mount();
}

}  // namespace testfs
