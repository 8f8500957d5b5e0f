// The start-up of sorvel: the one place that decides what the program does. With an empty
// command line it opens the registry and hands over to the window; with --help, -h, /? or
// --version it prints and ends; with any other command-line text it shows no window, removes
// the suite's keys (RemoveSuiteKeys), keeps the result and ends. What it needs of the platform
// it asks of StartupPlatform (startup_platform.h).
#pragma once

#include "cleaner/startup/startup_platform.h"

#include <string>
#include <vector>

namespace cleaner {

// Exit statuses.
inline constexpr int kExitDone = 0;
// Nothing was done (an unknown option, a refused registry, no display for the window), or what
// the removal deleted could not all be kept, or an unexpected failure ended it.
inline constexpr int kExitFailed = 1;
// The command-line removal ran and was kept, but the registry layer reported failures (a key
// that could not be opened, for instance), so some keys may still be there.
inline constexpr int kExitReported = 2;

// The modes for scripts (--preview, --clean, --restore), which live above the start-up, in
// cleaner/unattended: the program hands them in, so that neither library needs the other.
using UnattendedModes = int (*)(StartupPlatform& platform, const std::vector<std::string>& words);

// The whole program: decides the mode and returns the exit status. Without unattended modes,
// their options are refused as unknown.
int Startup(StartupPlatform& platform, UnattendedModes unattended = nullptr);

// The command-line mode: RemoveSuiteKeys(commandLine) on the platform's registry, kept. The
// registry layer's reports are message boxes when the platform can show them, otherwise lines
// on standard error; a refused registry or a failed save goes to standard error.
int RunCommandLine(StartupPlatform& platform, const std::string& commandLine);

// The folder of the files that hold the store's registry, which no backup may write over: the
// store's own (the Wine prefix on Linux), or under Wine the prefix of the Wine running the
// Windows program. Empty when there is none.
std::string RegistryFilesFolder(const RegistryStore& store);

// The window mode: frmFennick on the platform's registry until the window is gone.
int RunWindowMode(StartupPlatform& platform);

}  // namespace cleaner
