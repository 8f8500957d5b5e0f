#include "cleaner/win32/win32_platform.h"

#include "cleaner/win32/command_line.h"
#include "cleaner/win32/frmFennick.h"
#include "cleaner/win32/message_boxes.h"
#include "platform/win32/win32_registry.h"

#include <cstdio>

namespace cleaner::win32 {
namespace {

// The registry itself: every change lasts at once, so there is nothing to read again or save.
class WindowsRegistry : public RegistryStore {
public:
    platform::RegistryApi& Registry() override { return registry_; }
    void Refresh() override {}
    bool HasChanges() const override { return false; }
    void Save() override {}

private:
    platform::Win32Registry registry_;
};

bool IsHandle(HANDLE handle) { return handle != nullptr && handle != INVALID_HANDLE_VALUE; }

// The console of the program that started this one, when it has one; asked once.
HANDLE ParentConsole() {
    static const HANDLE console = [] {
        if (!::AttachConsole(ATTACH_PARENT_PROCESS)) return INVALID_HANDLE_VALUE;
        return ::CreateFileA("CONOUT$", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_WRITE, nullptr,
                             OPEN_EXISTING, 0, nullptr);
    }();
    return console;
}

// Text files on Windows end their lines with CR LF.
std::string WithWindowsLineEnds(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 32);
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out.push_back('\r');
        out.push_back(text[i]);
    }
    return out;
}

bool WriteToConsole(HANDLE console, const std::string& utf8) {
    DWORD mode = 0;
    if (!::GetConsoleMode(console, &mode)) return false;
    std::wstring wide;
    if (!WideFromUtf8(utf8, wide)) return false;
    DWORD written = 0;
    return ::WriteConsoleW(console, wide.data(), static_cast<DWORD>(wide.size()), &written,
                           nullptr) != 0;
}

bool WriteToFile(HANDLE file, const std::string& utf8) {
    const std::string text = WithWindowsLineEnds(utf8);
    DWORD written = 0;
    return ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size();
}

void WriteStandard(DWORD which, const std::string& utf8) {
    const HANDLE given = ::GetStdHandle(which);
    if (IsHandle(given) && (WriteToConsole(given, utf8) || WriteToFile(given, utf8))) return;
    const HANDLE console = ParentConsole();
    if (IsHandle(console) && WriteToConsole(console, utf8)) return;
    if (WindowStationVisible()) ShowUtf8Report(nullptr, utf8);
}

}  // namespace

std::string Win32Platform::CommandLine() { return CommandLineText(::GetCommandLineA()); }

void Win32Platform::WriteOutput(const std::string& text) { WriteStandard(STD_OUTPUT_HANDLE, text); }

void Win32Platform::WriteError(const std::string& text) { WriteStandard(STD_ERROR_HANDLE, text); }

std::unique_ptr<RegistryStore> Win32Platform::OpenRegistry() {
    return std::make_unique<WindowsRegistry>();
}

platform::BackupFiles& Win32Platform::BackupFiles() { return backupFiles_; }

std::string Win32Platform::NarrowToUtf8(const std::string& narrow) {
    return Utf8FromCodePage(narrow, CP_ACP);
}

std::string Win32Platform::WindowProblem() {
    if (WindowStationVisible()) return {};
    return "sorvel runs where no one sees its windows (a service, or SYSTEM in session 0), so it "
           "shows no window and no message box";
}

void Win32Platform::ShowReport(const std::string& text) { ShowUtf8Report(nullptr, text); }

void Win32Platform::ProcessEvents() {
    MSG message{};
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
    }
}

std::unique_ptr<MainWindow> Win32Platform::CreateMainWindow() {
    return std::make_unique<frmFennick>();
}

void Win32Platform::EndProgram(int exitStatus) {
    std::fflush(nullptr);  // what was written reaches its file; nothing is unwound
    ::ExitProcess(static_cast<UINT>(exitStatus));
}

}  // namespace cleaner::win32

namespace cleaner {

std::unique_ptr<StartupPlatform> MakeStartupPlatform(int&, char**) {
    return std::make_unique<win32::Win32Platform>();
}

}  // namespace cleaner
