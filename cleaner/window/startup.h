// The start-up of sorvel. With an empty command line it opens the prefix's registry and hands
// over to the window; with any command-line text it shows no window, removes the suite's keys
// from the prefix's registry (RemoveSuiteKeys), saves the registry and ends.
#pragma once

#include "cleaner/registry/modRegFuncs.h"

#include <iosfwd>
#include <memory>
#include <string>

namespace cleaner {

// The program's command line as one text, as Windows hands it to a program: the arguments
// joined by single spaces, in the narrow code page (Windows-1252; the arguments arrive as
// UTF-8, and a character the code page lacks becomes '?').
std::string CommandLineText(int argc, const char* const* argv);

// Exit statuses of the command-line mode.
inline constexpr int kExitDone = 0;
// The prefix was refused, its changes could not be saved, or an unexpected failure ended the
// removal: nothing or not everything that was deleted is kept.
inline constexpr int kExitFailed = 1;
// The removal ran and was saved, but the registry layer reported failures (a key that could not
// be opened, for instance), so some keys may still be there.
inline constexpr int kExitReported = 2;

// The command-line mode on the Wine prefix at prefix: RemoveSuiteKeys(commandLine) on its
// registry, then the changed files saved. The registry layer's reports go to ui; a refused
// prefix or a failed save is written to errors. Returns one of the exit statuses above.
int RunCommandLine(const std::string& commandLine, const std::string& prefix, RegistryUi& ui,
                   std::ostream& errors);

// Where the registry layer's reports go in the command-line mode: message boxes titled
// "sorvel" when a display is there (DISPLAY or WAYLAND_DISPLAY set) and this build has a
// window, otherwise standard error. The window toolkit is started only for the first report.
std::unique_ptr<RegistryUi> MakeCommandLineUi(int& argc, char** argv);

// Writes reports to errors, one per line, converted from the narrow code page to UTF-8.
std::unique_ptr<RegistryUi> MakeConsoleUi(std::ostream& errors);

// The whole program: decides the mode and returns the exit status.
int Startup(int argc, char** argv);

}  // namespace cleaner
