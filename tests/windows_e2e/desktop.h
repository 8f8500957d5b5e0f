// What the tests that drive both programs need beyond Wine: programs started in the background,
// a virtual X server, and xdotool to find, click and type into the windows on it. Every wait
// is for a state, with a time limit.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <sys/types.h>

namespace e2e {

using Environment = std::map<std::string, std::optional<std::string>>;  // nullopt: unset

// A program started in the background in a folder of its own (its standard output and error go
// to output.txt there), with changes to this process's environment; killed when the object
// goes and it still runs.
class Process {
public:
    Process(const std::vector<std::string>& argv, const Environment& env, const std::string& folder);
    ~Process();
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    // Its exit status once it ended (-1: killed by a signal); nullopt while it runs after timeout.
    std::optional<int> Wait(std::chrono::milliseconds timeout);

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

// An X server of its own (Xvfb, 96 dots an inch), ended with the object.
class VirtualDisplay {
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay&) = delete;
    VirtualDisplay& operator=(const VirtualDisplay&) = delete;

    const std::string& Name() const { return name_; }  // ":N"

private:
    pid_t pid_ = -1;
    std::string name_;
};

// xdotool on one display. Windows are named by their X window ids.
class Desktop {
public:
    explicit Desktop(std::string display) : display_(std::move(display)) {}

    // Waits for a visible window whose title matches the regular expression and that is none of
    // those already seen; throws std::runtime_error when none comes in time.
    std::string WaitForWindow(const std::string& title, const std::vector<std::string>& seen = {});
    std::pair<int, int> Size(const std::string& window);
    // A left click at x, y of the window (pixels from its top-left corner).
    void Click(const std::string& window, int x, int y);
    // Presses a key in the window that has the keyboard.
    void Key(const std::string& key);

private:
    std::vector<std::string> Windows(const std::string& title);
    std::string Run(const std::string& arguments, int* status = nullptr);

    std::string display_;
};

// Polls condition until it holds; false when the time ran out first.
bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

}  // namespace e2e
