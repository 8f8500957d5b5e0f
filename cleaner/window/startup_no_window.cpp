// A build without the Qt window (SORVEL_WINDOW=OFF) keeps
// the command-line mode; started without a command line it says that it has no window. When the
// window is linked in (SORVEL_HAS_WINDOW), its own ShowMainWindow (qt_show_window.cpp) is used.
#ifndef SORVEL_HAS_WINDOW

#include "cleaner/window/show_window.h"

#include <iostream>

namespace cleaner {

int ShowMainWindow(int, char**, platform::WinePrefixStore*, const std::string& storeError) {
    if (!storeError.empty()) std::cerr << "sorvel: " << storeError << '\n';
    std::cerr << "sorvel: this build has no window. Start it with a command line to remove the "
                 "suite's settings keys.\n";
    return 1;
}

}  // namespace cleaner

#endif
