// sorvel's platform on Linux: the registry of the Wine prefix that WINEPREFIX names (or ~/.wine),
// the command line from the program's arguments, the terminal's output and error streams, and
// backup files written through to the disc. By itself it has no window (a build without Qt);
// the Qt window's platform (cleaner/qt/qt_platform.h) adds one.
#pragma once

#include "cleaner/startup/startup_platform.h"
#include "platform/files/durable_files.h"

#include <memory>
#include <string>
#include <vector>

namespace cleaner {

// The program's arguments as one text, as Windows hands a command line to a program: joined by
// single blanks, in the narrow code page (the arguments arrive as UTF-8; a character the code
// page lacks becomes '?').
std::string CommandLineText(int argc, const char* const* argv);

// The Wine prefix's registry (platform::WinePrefixStore) as the start-up's RegistryStore.
// Throws platform::StoreError when the prefix is refused.
std::unique_ptr<RegistryStore> OpenWinePrefix(const std::string& prefix);

class LinuxPlatform : public StartupPlatform {
public:
    LinuxPlatform(int& argc, char** argv, std::string prefix);

    std::string CommandLine() override;
    // The arguments as they came (UTF-8 file names), not joined and not in the narrow code page.
    std::vector<std::string> Arguments() override;
    std::string RegistryName() override { return prefix_; }
    void WriteOutput(const std::string& text) override;
    void WriteError(const std::string& text) override;
    std::unique_ptr<RegistryStore> OpenRegistry() override;
    platform::BackupFiles& BackupFiles() override;
    // Without a window: the problem is this build itself.
    std::string WindowProblem() override;
    void ShowReport(const std::string& text) override;
    void ProcessEvents() override;
    std::unique_ptr<MainWindow> CreateMainWindow() override;
    void EndProgram(int exitStatus) override;

protected:
    int& argc_;
    char** argv_;

private:
    std::string prefix_;
    platform::DurableBackupFiles backupFiles_;
};

}  // namespace cleaner
