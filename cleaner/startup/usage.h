// What `sorvel --help` and `sorvel --version` print: the one place for these texts (the manual
// page says the same).
#pragma once

#include <string>
#include <string_view>

namespace cleaner {

enum class Request {
    Window,         // no command-line text
    SuiteRemoval,   // any other text: it names the suite's subkey to remove
    Usage,          // --help, -h, /?
    Version,        // --version
    UnknownOption,  // another text that begins with "--"
};

// What the command line asks for. Blanks around the text do not count for the options.
Request RequestOf(std::string_view commandLine);

std::string UsageText();
std::string VersionText();

}  // namespace cleaner
