// The modes that scripts, fleet tools and uninstallers start: `--preview` (what Remove... would
// remove, nothing changed), `--clean` (Remove... with OK given in advance, never without a
// backup) and `--restore` (a backup put back without Wine, restore.h), each with `--json` for a
// report that programs read. Both drive the window's own run
// (cleaner/run) through ConsoleWindow, so they search, back up, keep and refuse exactly as the
// window does; nothing here shows a window or a box.
//
// Standard library and nlohmann-json only: it builds for Windows too.
#pragma once

#include "cleaner/startup/startup_platform.h"

#include <optional>
#include <string>
#include <vector>

namespace cleaner {

struct UnattendedOptions {
    enum class Mode { Preview, Clean, Restore };
    Mode mode = Mode::Preview;
    std::string keywords = "taRegKeywords.txt";
    std::string backup = "taDeletedRegKeys.reg";
    bool settings = false;
    bool keys = true;
    bool json = false;
    std::string restoreFile;
};

// Whether the first word names one of these modes.
bool IsUnattendedMode(const std::string& word);

// Reads the words of the command line (the mode first). False with a sentence for the user when
// they ask for something these modes do not do.
bool ParseUnattended(const std::vector<std::string>& words, UnattendedOptions& options,
                     std::string& error);

// What a run did, key by key, as the report shows it.
struct KeyOutcome {
    std::string key;    // the full path as the backup names it (UTF-8)
    std::string state;  // "found", "removed", "kept", "restored", "failed"
    int tree = 0;       // keys in its tree (0 when unknown: a kept tree is not exported)
    std::string reason; // of a kept or failed one
};

struct UnattendedOutcome {
    std::string mode;  // "preview", "clean", "restore"
    std::string registry;
    std::vector<KeyOutcome> keys;
    std::optional<std::string> backup;
    std::optional<std::string> keptAside;
    std::vector<std::string> reports;
    int exit = 0;
};

// The JSON document of an outcome (its fields are described in the manual page).
std::string OutcomeJson(const UnattendedOutcome& outcome);

// The whole mode, from the words of the command line; returns the exit status: 0 done with
// nothing to report, 1 nothing done (refused, or a file that could not be read), 2 done with
// reports (a kept tree, a failed key, any report of the registry layer).
int RunUnattended(StartupPlatform& platform, const std::vector<std::string>& words);

}  // namespace cleaner
