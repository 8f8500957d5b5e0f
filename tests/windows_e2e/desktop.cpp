#include "tests/windows_e2e/desktop.h"

#include "tests/support/wine.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace e2e {
namespace {

using namespace std::chrono_literals;

// Generous: the first start of Wine in a fresh copy of a prefix, on a loaded machine, has been
// seen to take over a minute before the window came.
constexpr auto kWindowTimeout = 180s;

using testsupport::Quote;

// The status of a child that ended, or nullopt while it runs.
std::optional<int> Reap(pid_t pid, bool block) {
    int status = 0;
    pid_t done;
    do {
        done = ::waitpid(pid, &status, block ? 0 : WNOHANG);
    } while (done < 0 && errno == EINTR);
    if (done != pid) return std::nullopt;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

Process::Process(const std::vector<std::string>& argv, const Environment& env,
                 const std::string& folder) {
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        if (::chdir(folder.c_str()) != 0) std::_Exit(126);
        const int output = ::open("output.txt", O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const int input = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        ::dup2(input, STDIN_FILENO);
        ::dup2(output, STDOUT_FILENO);
        ::dup2(output, STDERR_FILENO);
        for (const auto& [name, value] : env) {
            if (value) {
                ::setenv(name.c_str(), value->c_str(), 1);
            } else {
                ::unsetenv(name.c_str());
            }
        }
        std::vector<char*> args;
        for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
        args.push_back(nullptr);
        ::execvp(args[0], args.data());
        std::_Exit(127);
    }
}

Process::~Process() {
    if (!status_ && !Reap(pid_, false)) {
        ::kill(pid_, SIGKILL);
        Reap(pid_, true);
    }
}

std::optional<int> Process::Wait(std::chrono::milliseconds timeout) {
    WaitUntil([&] { return (status_ = status_ ? status_ : Reap(pid_, false)).has_value(); },
              timeout);
    return status_;
}

// Xvfb chooses a free display itself and writes its number to a pipe when it is ready.
VirtualDisplay::VirtualDisplay() {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe failed");
    pid_ = ::fork();
    if (pid_ < 0) throw std::runtime_error("fork failed");
    if (pid_ == 0) {
        ::close(ready[0]);
        const int quiet = ::open("/dev/null", O_RDWR);
        ::dup2(quiet, STDIN_FILENO);
        ::dup2(quiet, STDOUT_FILENO);
        ::dup2(quiet, STDERR_FILENO);
        const std::string fd = std::to_string(ready[1]);
        ::execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-dpi",
                 "96", "-nolisten", "tcp", static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    ::close(ready[1]);
    std::string number;
    char c;
    while (::read(ready[0], &c, 1) == 1 && c != '\n') number.push_back(c);
    ::close(ready[0]);
    if (number.empty()) throw std::runtime_error("Xvfb did not start (is it installed?)");
    name_ = ":" + number;
}

VirtualDisplay::~VirtualDisplay() {
    ::kill(pid_, SIGTERM);
    Reap(pid_, true);
}

std::string Desktop::Run(const std::string& arguments, int* status) {
    const std::string command = "DISPLAY=" + display_ + " xdotool " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) throw std::runtime_error("cannot run xdotool");
    std::string output;
    char buffer[512];
    std::size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    const int ended = ::pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(ended) ? WEXITSTATUS(ended) : -1;
    return output;
}

std::vector<std::string> Desktop::Windows(const std::string& title) {
    std::istringstream lines(Run("search --onlyvisible --name " + Quote(title)));
    std::vector<std::string> windows;
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty()) windows.push_back(line);
    }
    return windows;
}

std::string Desktop::WaitForWindow(const std::string& title, const std::vector<std::string>& seen) {
    std::string found;
    const bool came = WaitUntil(
        [&] {
            for (const std::string& window : Windows(title)) {
                if (std::find(seen.begin(), seen.end(), window) == seen.end()) {
                    found = window;
                    return true;
                }
            }
            return false;
        },
        kWindowTimeout);
    if (!came) throw std::runtime_error("no window \"" + title + "\" came");
    return found;
}

std::pair<int, int> Desktop::Size(const std::string& window) {
    std::istringstream lines(Run("getwindowgeometry --shell " + window));
    int width = 0;
    int height = 0;
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("WIDTH=", 0) == 0) width = std::atoi(line.c_str() + 6);
        if (line.rfind("HEIGHT=", 0) == 0) height = std::atoi(line.c_str() + 7);
    }
    return {width, height};
}

void Desktop::Click(const std::string& window, int x, int y) {
    Run("mousemove --window " + window + " " + std::to_string(x) + " " + std::to_string(y) +
        " click 1");
}

void Desktop::Key(const std::string& key) { Run("key " + Quote(key)); }

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(50ms);
    }
    return true;
}

}  // namespace e2e
