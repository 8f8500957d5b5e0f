// The seam between the start-up and the window: the start-up opens the prefix's registry and
// decides the mode; with an empty command line it hands over to the window here.
#pragma once

#include <string>

namespace platform {
class WinePrefixStore;
}

namespace cleaner {

// Shows frmFennick and runs the program until the window is gone; returns the exit status.
// store is null when the prefix was refused; storeError then says why, and the window shows
// that reason and ends without deleting anything.
int ShowMainWindow(int argc, char** argv, platform::WinePrefixStore* store,
                   const std::string& storeError);

}  // namespace cleaner
