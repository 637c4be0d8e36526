// Request counts, delays and failures of the test file system, and the
// control socket through which a test sets them and reads the counts.
//
// Commands, one line per connection, answered with lines and then the end
// of the connection ("ok" or "error: ..." unless told otherwise):
//   delay MICROSECONDS                   every request waits this long first
//                                        (requests waiting now go at once)
//   fail OP ERRNO [TIMES [PATH-PART]]    the next TIMES requests of kind OP
//                                        (whose path contains PATH-PART) fail
//                                        with ERRNO; TIMES 0 or none: all of them
//   gone ERRNO DELAY-US [AFTER]          after AFTER more requests (0: now)
//                                        every request waits DELAY-US and fails
//                                        with ERRNO, as a server that went away
//   clear                                no more failures, no server gone
//                                        (requests waiting now go at once)
//   counts                               "NAME COUNT" for each kind with a
//                                        count, then "total COUNT"
//   reset                                all counts back to 0
//   cut                                  the power cut; the server then ends
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "test_fs.h"

namespace testfs {

namespace {

constexpr size_t kOps = static_cast<size_t>(Op::Count);

constexpr std::array<const char*, kOps> kNames = {
    "getattr", "readlink", "mknod", "mkdir", "unlink", "rmdir", "symlink", "rename", "link", "chmod", "chown",
    "truncate", "open", "read", "write", "statfs", "flush", "release", "fsync", "setxattr", "getxattr",
    "listxattr", "removexattr", "opendir", "readdir", "releasedir", "fsyncdir", "access", "create", "utimens",
    "fallocate", "copy_file_range", "lseek"};

std::array<std::atomic<uint64_t>, kOps> g_counts{};
std::atomic<int64_t> g_delay{0};

struct FailRule {
    Op op;
    int error;
    int64_t left;  // negative: every request
    std::string pathPart;
};

struct Gone {
    bool armed = false;
    int64_t after = 0;  // requests still answered before the server goes
    int error = 0;
    int64_t delay = 0;
};

std::mutex g_faultMutex;
std::vector<FailRule> g_rules;
Gone g_gone;
std::atomic<bool> g_anyFault{false};

// Requests waiting out a delay; a new delay, or the faults cleared, lets
// them go at once (so a test can hold requests for long and still end fast).
std::mutex g_waitMutex;
std::condition_variable g_waitChanged;
uint64_t g_waitGeneration = 0;

void Sleep(int64_t microseconds) {
    if (microseconds <= 0) return;
    std::unique_lock<std::mutex> lock(g_waitMutex);
    const uint64_t generation = g_waitGeneration;
    g_waitChanged.wait_for(lock, std::chrono::microseconds(microseconds),
                           [generation] { return g_waitGeneration != generation; });
}

void ReleaseWaiting() {
    {
        std::lock_guard<std::mutex> lock(g_waitMutex);
        ++g_waitGeneration;
    }
    g_waitChanged.notify_all();
}

bool ParseOp(const std::string& name, Op& op) {
    for (size_t i = 0; i < kOps; ++i) {
        if (name == kNames[i]) {
            op = static_cast<Op>(i);
            return true;
        }
    }
    return false;
}

// The errors of requests that came with a fault set; zero when none applies.
// The delay of a server that went away goes to delay.
int FaultFor(Op op, const char* path, int64_t& delay) {
    std::lock_guard<std::mutex> lock(g_faultMutex);
    if (g_gone.armed) {
        if (g_gone.after > 0) {
            --g_gone.after;
        } else {
            delay = g_gone.delay;
            return g_gone.error;
        }
    }
    for (auto rule = g_rules.begin(); rule != g_rules.end(); ++rule) {
        if (rule->op != op) continue;
        if (!rule->pathPart.empty() && (!path || !std::strstr(path, rule->pathPart.c_str()))) continue;
        const int error = rule->error;
        if (rule->left > 0 && --rule->left == 0) g_rules.erase(rule);
        return error;
    }
    return 0;
}

void UpdateAnyFault() { g_anyFault = g_gone.armed || !g_rules.empty(); }

std::string CountsText() {
    std::ostringstream out;
    uint64_t total = 0;
    for (size_t i = 0; i < kOps; ++i) {
        const uint64_t count = g_counts[i].load();
        total += count;
        if (count != 0) out << kNames[i] << ' ' << count << '\n';
    }
    out << "total " << total << '\n';
    return out.str();
}

std::string Execute(const std::string& line, std::string (*onCut)(), bool& endAfter) {
    std::istringstream in(line);
    std::string command;
    in >> command;
    if (command == "delay") {
        int64_t microseconds = -1;
        if (!(in >> microseconds) || microseconds < 0) return "error: delay MICROSECONDS\n";
        SetDelay(microseconds);
        return "ok\n";
    }
    if (command == "fail") {
        std::string name;
        FailRule rule{};
        int64_t times = 0;
        if (!(in >> name >> rule.error) || !ParseOp(name, rule.op) || rule.error <= 0)
            return "error: fail OP ERRNO [TIMES [PATH-PART]]\n";
        in >> times >> rule.pathPart;
        rule.left = times > 0 ? times : -1;
        std::lock_guard<std::mutex> lock(g_faultMutex);
        g_rules.push_back(rule);
        UpdateAnyFault();
        return "ok\n";
    }
    if (command == "gone") {
        Gone gone;
        gone.armed = true;
        if (!(in >> gone.error >> gone.delay) || gone.error <= 0 || gone.delay < 0)
            return "error: gone ERRNO DELAY-US [AFTER]\n";
        in >> gone.after;
        std::lock_guard<std::mutex> lock(g_faultMutex);
        g_gone = gone;
        UpdateAnyFault();
        return "ok\n";
    }
    if (command == "clear") {
        {
            std::lock_guard<std::mutex> lock(g_faultMutex);
            g_rules.clear();
            g_gone = Gone{};
            UpdateAnyFault();
        }
        ReleaseWaiting();
        return "ok\n";
    }
    if (command == "counts") return CountsText();
    if (command == "reset") {
        for (auto& count : g_counts) count = 0;
        return "ok\n";
    }
    if (command == "cut") {
        const std::string refused = onCut();
        if (!refused.empty()) return "error: " + refused + "\n";
        endAfter = true;
        return "ok\n";
    }
    return "error: unknown command\n";
}

void Serve(int listener, std::string (*onCut)()) {
    for (;;) {
        const int client = accept(listener, nullptr, nullptr);
        if (client < 0) {
            if (errno == EINTR) continue;
            return;
        }
        std::string line;
        char c;
        while (read(client, &c, 1) == 1 && c != '\n') line.push_back(c);
        bool endAfter = false;
        const std::string answer = Execute(line, onCut, endAfter);
        for (size_t done = 0; done < answer.size();) {
            const ssize_t put = write(client, answer.data() + done, answer.size() - done);
            if (put <= 0) break;
            done += static_cast<size_t>(put);
        }
        close(client);
        // A server whose power was cut answers nothing more: the kernel sees
        // the connection end and fails every request from then on.
        if (endAfter) _exit(0);
    }
}

}  // namespace

const char* OpName(Op op) { return kNames[static_cast<size_t>(op)]; }

void SetDelay(int64_t microseconds) {
    g_delay = microseconds;
    ReleaseWaiting();
}

int Enter(Op op, const char* path) {
    g_counts[static_cast<size_t>(op)].fetch_add(1);
    int64_t delay = g_delay.load();
    int error = 0;
    if (g_anyFault.load()) error = FaultFor(op, path, delay);
    Sleep(delay);
    return error;
}

bool StartControl(const std::string& socketPath, std::string (*onCut)()) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    const int listener = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener < 0) return false;
    unlink(socketPath.c_str());
    if (bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || listen(listener, 8) != 0) {
        close(listener);
        return false;
    }
    std::thread(Serve, listener, onCut).detach();
    return true;
}

}  // namespace testfs
