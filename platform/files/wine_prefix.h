// Which Wine prefix a program run from here works on: the one Wine itself would use.
#pragma once

#include <string>

namespace platform {

// $WINEPREFIX when it is set and not empty, else .wine in the home folder ($HOME, else the
// password database's home folder); without trailing slashes, so that names built from it
// ("<prefix>/system.reg") and messages read cleanly. The path is not checked.
std::string DefaultWinePrefix();

// path without the slashes at its end ("/" stays "/").
std::string WithoutTrailingSlashes(std::string path);

}  // namespace platform
