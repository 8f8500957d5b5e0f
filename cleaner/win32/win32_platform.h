// sorvel's platform on Windows: the registry itself (through advapi32, in the 64-bit view on a
// 64-bit system), the command line of the process, the backup's files written through to the
// disc, the Win32 window and message boxes.
#pragma once

#include "cleaner/startup/startup_platform.h"
#include "platform/win32/win32_files.h"

#include <memory>
#include <string>

namespace cleaner::win32 {

class Win32Platform : public StartupPlatform {
public:
    // The command line after the program's name (GetCommandLineA).
    std::string CommandLine() override;
    // sorvel.exe is a GUI program, which Windows starts without a console. Text for standard
    // output or error goes where the user can read it: to the file or pipe the program's
    // standard handle was given (a script that redirects it); else to the console of the
    // program that started it (a user who typed the command in a console reads it there);
    // else, started from a desktop, into a message box; where no one sees a box (see
    // WindowStationVisible), nowhere: the exit status still tells.
    void WriteOutput(const std::string& text) override;
    void WriteError(const std::string& text) override;
    // The system's ANSI code page.
    std::string NarrowToUtf8(const std::string& narrow) override;
    std::unique_ptr<RegistryStore> OpenRegistry() override;
    platform::BackupFiles& BackupFiles() override;
    // Windows shows windows and boxes unless no one sees the window station the program runs in.
    std::string WindowProblem() override;
    void ShowReport(const std::string& text) override;
    void ProcessEvents() override;
    std::unique_ptr<MainWindow> CreateMainWindow() override;
    void EndProgram(int exitStatus) override;

private:
    platform::Win32BackupFiles backupFiles_;
};

}  // namespace cleaner::win32
