#include "tests/support/run_program.h"

#include <cstdlib>
#include <stdexcept>

#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

namespace removal_test {

ProgramResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                         const std::map<std::string, std::optional<std::string>>& env) {
    int errorPipe[2];
    int outputPipe[2];
    if (::pipe(errorPipe) != 0 || ::pipe(outputPipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t child = ::fork();
    if (child < 0) throw std::runtime_error("fork failed");
    if (child == 0) {
        ::dup2(errorPipe[1], STDERR_FILENO);
        ::dup2(outputPipe[1], STDOUT_FILENO);
        for (const int fd : {errorPipe[0], errorPipe[1], outputPipe[0], outputPipe[1]}) ::close(fd);
        for (const auto& [name, value] : env) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        std::vector<char*> argv{const_cast<char*>(program.c_str())};
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        std::_Exit(127);
    }
    ::close(errorPipe[1]);
    ::close(outputPipe[1]);
    ProgramResult result;
    // Both streams at once: a program that fills one pipe while the other is read would wait.
    pollfd streams[2] = {{errorPipe[0], POLLIN, 0}, {outputPipe[0], POLLIN, 0}};
    std::string* texts[2] = {&result.errors, &result.output};
    int open = 2;
    while (open > 0 && ::poll(streams, 2, -1) > 0) {
        for (int i = 0; i < 2; ++i) {
            if (streams[i].fd < 0 || streams[i].revents == 0) continue;
            char buffer[4096];
            const ssize_t n = ::read(streams[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                texts[i]->append(buffer, static_cast<std::size_t>(n));
            } else {
                ::close(streams[i].fd);
                streams[i].fd = -1;
                --open;
            }
        }
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

}  // namespace removal_test
