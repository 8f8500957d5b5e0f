// Runs a piece of a test in a child process, for what must not happen in the test process
// itself: running out of memory, being killed.
#pragma once

#include <cstddef>
#include <fstream>
#include <functional>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fetchel_test {

// How a child ended: its exit status, or 128 + the signal that ended it (134: it aborted).
inline int Outcome(int waitStatus) {
    return WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
}

// What a child ends with when an exception leaves body.
inline constexpr int kExceptionEscaped = 99;

// Runs body in a child whose address space may grow by at most headroom bytes beyond what it
// has at the start; returns its outcome, body's result when it returns.
inline int RunWithLittleMemory(const std::function<int()>& body, std::size_t headroom) {
    const pid_t child = fork();
    if (child == 0) {
        std::size_t pages = 0;
        std::ifstream("/proc/self/statm") >> pages;
        const rlim_t limit = pages * static_cast<std::size_t>(sysconf(_SC_PAGESIZE)) + headroom;
        const rlimit bounded{limit, limit};
        setrlimit(RLIMIT_AS, &bounded);
        try {
            _exit(body());
        } catch (...) {
            _exit(kExceptionEscaped);  // never back into the test framework's copy
        }
    }
    int status = 0;
    waitpid(child, &status, 0);
    return Outcome(status);
}

}  // namespace fetchel_test
