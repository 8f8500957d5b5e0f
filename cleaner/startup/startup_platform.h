// What the start-up needs of the platform it runs on. The start-up (startup.h) makes every
// decision; a platform only provides. The program links exactly one platform library, which
// defines MakeStartupPlatform: on Linux the Wine-prefix store with the Qt window
// (cleaner/qt) or without any window (cleaner/linux/console_platform.cpp); on Windows the registry itself with
// a Win32 window. Tests hand the start-up a platform of their own.
//
// The main window the platform makes is a MainWindow (cleaner/run/form.h).
//
// Text is UTF-8 throughout, except where the registry's narrow code page (Windows-1252) is said.
//
// Standard library only: this header is compiled for Windows too.
#pragma once

#include "cleaner/run/form.h"
#include "cleaner/startup/usage.h"
#include "platform/files/backup_files.h"
#include "platform/registry/registry_api.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace cleaner {

// The registry the program works on and its lasting copy: a Wine prefix's files on Linux; on
// Windows the registry itself, whose changes last at once (Refresh and Save do nothing there).
class RegistryStore {
public:
    virtual ~RegistryStore() = default;
    virtual platform::RegistryApi& Registry() = 0;
    // Makes Registry() the registry as it is on disc now. Called at the start of every run of the
    // window, also when the last save failed: changes that could not be saved are then given up
    // (the keys are still on disc, and in the backup). Throws std::exception, whose what() tells
    // the user why, when the registry can no longer be used.
    virtual void Refresh() = 0;
    // Whether Registry() holds changes that are not yet lasting.
    virtual bool HasChanges() const = 0;
    // Makes the changes lasting, all or each file whole. Throws std::exception, whose what()
    // tells the user what was not saved and why, when it cannot.
    virtual void Save() = 0;
    // The folder of the files that hold the registry (a Wine prefix), which no backup may write
    // over; empty when the platform does not know it (see RegistryFilesFolder).
    virtual std::string FilesFolder() const { return {}; }
};

class StartupPlatform {
public:
    virtual ~StartupPlatform() = default;

    // The command line as one text in the narrow code page: everything after the program's
    // name, as the program receives it (Linux: the arguments joined by single blanks; Windows:
    // the command line of the process after the program's name). Empty: no command-line text.
    virtual std::string CommandLine() = 0;
    // The command line's words as file names of this platform, for the options that take them.
    // Unless a platform knows them better, CommandLine() split as Windows splits a command line.
    virtual std::vector<std::string> Arguments() { return CommandLineWords(CommandLine()); }
    // What the registry is, for a report that programs read: the prefix's path, or "windows".
    virtual std::string RegistryName() { return "windows"; }

    // A text in the registry's narrow code page (a registry report, the command line) as UTF-8.
    // Linux: Windows-1252, in which the Wine-prefix store gives out every name. Windows: the
    // system's ANSI code page, in which Windows writes its own texts (FormatMessageA) and the
    // narrow functions give out names; a Russian or a Japanese Windows' are not Windows-1252.
    virtual std::string NarrowToUtf8(const std::string& narrow);

    // Standard output and standard error (or what the platform has instead), written exactly as
    // given and flushed.
    virtual void WriteOutput(const std::string& text) = 0;
    virtual void WriteError(const std::string& text) = 0;

    // Opens the registry. Throws std::exception, whose what() tells the user why (naming what was
    // refused and what to do), when it is refused; nothing has then been changed.
    virtual std::unique_ptr<RegistryStore> OpenRegistry() = 0;

    // The backup's files; on Linux each block reaches the disc before its key is deleted.
    virtual platform::BackupFiles& BackupFiles() = 0;

    // Empty when windows and message boxes can be shown; otherwise why not, as one sentence for
    // standard error (say, a display that cannot be opened, named). May be asked more than once.
    virtual std::string WindowProblem() = 0;
    // Only after WindowProblem() came back empty: a modal OK-only box titled "sorvel"; the
    // processing of pending events while no window of the program waits; and the main window.
    virtual void ShowReport(const std::string& text) = 0;
    virtual void ProcessEvents() = 0;
    virtual std::unique_ptr<MainWindow> CreateMainWindow() = 0;

    // Ends the program at once with the exit status, without returning to the caller (Cancel may
    // come in the middle of a run). A test's platform may return instead.
    virtual void EndProgram(int exitStatus) = 0;
};

// Defined by the platform library that the program links.
std::unique_ptr<StartupPlatform> MakeStartupPlatform(int& argc, char** argv);

}  // namespace cleaner
