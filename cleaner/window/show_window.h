// The seam between the start-up and the window: the start-up opens the prefix's registry and
// decides the mode; with an empty command line it hands over to the window here.
#pragma once

#include <cstdlib>
#include <string>

namespace platform {
class WinePrefixStore;
}

namespace cleaner {

// True when a display to show windows and message boxes on is named (DISPLAY or
// WAYLAND_DISPLAY set).
inline bool DisplayIsThere() {
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return true;
    }
    return false;
}

// Shows frmFennick and runs the program until the window is gone; returns the exit status.
// store is null when the prefix was refused; storeError then says why, and the window shows
// that reason and ends without deleting anything. Without a display (and no window platform
// chosen with QT_QPA_PLATFORM) it says so, and the refusal if any, on standard error and
// returns 1.
int ShowMainWindow(int argc, char** argv, platform::WinePrefixStore* store,
                   const std::string& storeError);

}  // namespace cleaner
