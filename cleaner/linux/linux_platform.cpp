#include "cleaner/linux/linux_platform.h"

#include "platform/registry/text.h"
#include "platform/wine/wine_store.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <stdexcept>
#include <utility>

namespace cleaner {
namespace {

class WinePrefixRegistry : public RegistryStore {
public:
    explicit WinePrefixRegistry(std::unique_ptr<platform::WinePrefixStore> store)
        : store_(std::move(store)) {}
    platform::RegistryApi& Registry() override { return store_->Registry(); }
    void Refresh() override { store_->Refresh(); }
    bool HasChanges() const override { return store_->HasChanges(); }
    void Save() override { store_->Save(); }
    std::string FilesFolder() const override { return store_->Prefix(); }

private:
    std::unique_ptr<platform::WinePrefixStore> store_;
};

}  // namespace

std::string CommandLineText(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined.push_back(' ');
        joined.append(argv[i]);
    }
    return platform::text::ToCp1252(platform::text::Utf8ToUtf16(joined));
}

std::unique_ptr<RegistryStore> OpenWinePrefix(const std::string& prefix) {
    return std::make_unique<WinePrefixRegistry>(platform::WinePrefixStore::Open(prefix));
}

LinuxPlatform::LinuxPlatform(int& argc, char** argv, std::string prefix)
    : argc_(argc), argv_(argv), prefix_(std::move(prefix)) {}

std::string LinuxPlatform::CommandLine() { return CommandLineText(argc_, argv_); }

std::vector<std::string> LinuxPlatform::Arguments() {
    return std::vector<std::string>(argv_ + std::min(argc_, 1), argv_ + argc_);
}

void LinuxPlatform::WriteOutput(const std::string& text) { std::cout << text << std::flush; }

void LinuxPlatform::WriteError(const std::string& text) { std::cerr << text << std::flush; }

std::unique_ptr<RegistryStore> LinuxPlatform::OpenRegistry() { return OpenWinePrefix(prefix_); }

platform::BackupFiles& LinuxPlatform::BackupFiles() { return backupFiles_; }

std::string LinuxPlatform::WindowProblem() {
    return "this build of sorvel has no window. Start it with a command line to remove the "
           "suite's settings keys.";
}

// The start-up asks for these only when WindowProblem() is empty, which it never is here.
void LinuxPlatform::ShowReport(const std::string& text) { WriteError("sorvel: " + text + "\n"); }

void LinuxPlatform::ProcessEvents() {}

std::unique_ptr<MainWindow> LinuxPlatform::CreateMainWindow() {
    throw std::logic_error("this build of sorvel has no window");
}

void LinuxPlatform::EndProgram(int exitStatus) {
    std::fflush(nullptr);  // what was written reaches its file; nothing is unwound
    std::_Exit(exitStatus);
}

}  // namespace cleaner
