// What `sorvel --help` and `sorvel --version` print: the one place for these texts (the manual
// page says the same).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace cleaner {

enum class Request {
    Window,         // no command-line text
    SuiteRemoval,   // any other text: it names the suite's subkey to remove
    Usage,          // --help, -h, /?
    Version,        // --version
    Unattended,     // --preview or --clean, with their options
    UnknownOption,  // another text that begins with "--"
};

// What the command line asks for. Blanks around the text do not count for the options.
Request RequestOf(std::string_view commandLine);

// A command line split into words as Windows programs split theirs: blanks part words, double
// quotes group them (and are dropped), a backslash is itself except before a double quote.
std::vector<std::string> CommandLineWords(std::string_view commandLine);

std::string UsageText();
std::string VersionText();

}  // namespace cleaner
