// The command line as sorvel receives it on Windows.
#pragma once

#include <string>

namespace cleaner::win32 {

// What follows the program's name in a process's command line (GetCommandLineA), by Windows'
// rules for the name: a name that begins with a quotation mark ends at the next one, any other
// at the first blank (space or tab); the blanks after the name are no part of the text. The
// rest is kept as it is, quotation marks and blanks included: it names one key.
std::string CommandLineText(const std::string& commandLine);

}  // namespace cleaner::win32
