#pragma once
// Running a check in a child process (Linux only): as an unprivileged user,
// for whom permission bits count (root passes them all), or in a mount
// namespace of its own.  A check returns "" when it passed, otherwise what
// went wrong; a child that cannot set itself up returns kSkipMark + reason.
#include <grp.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <exception>
#include <functional>
#include <string>

#include <gtest/gtest.h>

namespace testing_support {

constexpr uid_t kNobodyId = 65534;
inline constexpr char kSkipMark[] = "SKIP: ";

// Runs prepare and then check in a child, which is killed after the timeout
// (a hang is a failure).
inline std::string RunInChild(const std::function<std::string()>& prepare,
                              const std::function<std::string()>& check, unsigned timeoutSeconds = 20) {
    int pipeFds[2];
    if (pipe(pipeFds) != 0) return "pipe failed";
    const pid_t child = fork();
    if (child < 0) return "fork failed";
    if (child == 0) {
        close(pipeFds[0]);
        alarm(timeoutSeconds);
        std::string outcome = prepare();
        if (outcome.empty()) {
            try {
                outcome = check();
            } catch (const std::exception& e) {
                outcome = std::string("exception: ") + e.what();
            }
        }
        (void)!write(pipeFds[1], outcome.data(), outcome.size());
        _exit(0);
    }
    close(pipeFds[1]);
    std::string outcome;
    char buffer[512];
    for (ssize_t got; (got = read(pipeFds[0], buffer, sizeof buffer)) > 0;) outcome.append(buffer, got);
    close(pipeFds[0]);
    int status = 0;
    waitpid(child, &status, 0);
    if (WIFSIGNALED(status)) return "child killed by signal " + std::to_string(WTERMSIG(status)) + " (hung?)";
    return outcome;
}

// Becomes an ordinary user; as one already, nothing to do.
inline std::string DropPrivileges() {
    if (geteuid() != 0) return "";
    if (setgroups(0, nullptr) != 0 || setgid(kNobodyId) != 0 || setuid(kNobodyId) != 0)
        return std::string(kSkipMark) + "cannot switch to an unprivileged user";
    return "";
}

}  // namespace testing_support

// Skips when the child could not set itself up, fails when its check failed.
#define EXPECT_CHILD_PASSES(outcome)                                                           \
    do {                                                                                       \
        const std::string result_ = (outcome);                                                 \
        if (result_.rfind(::testing_support::kSkipMark, 0) == 0) GTEST_SKIP() << result_;      \
        EXPECT_EQ(result_, "");                                                                \
    } while (0)
