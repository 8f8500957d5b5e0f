// Prints how long RemoveFoundKeys takes for a few thousand class keys, without a backup, with
// the standard-library backup (each block handed to the system) and with the durable one (each
// block synced to the disc before its key is deleted), so the cost of the sync is visible.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/files/durable_files.h"
#include "platform/registry/memory_registry.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>

namespace {

class QuietView : public cleaner::FennickView {
public:
    void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void DoEvents() override {}
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string&) override {}
};

std::string Id(int i) {
    char id[40];
    std::snprintf(id, sizeof id, "{BE4C0000-0000-0000-0000-%012d}", i);
    return id;
}

// Seconds for one removal of keys class keys, each with a subkey and three values.
double Measure(int keys, platform::BackupFiles* files, const std::string& backupPath) {
    platform::MemoryRegistry registry;
    QuietView view;
    cleaner::modRegFuncs reg(registry, view);
    cleaner::modFennick fennick(reg, view);
    if (files != nullptr) fennick.UseBackupFiles(*files);
    for (int i = 0; i < keys; ++i) {
        const std::string key = "CLSID\\" + Id(i);
        registry.SetString(platform::kHkeyClassesRoot, key, "", "Bench thing");
        registry.SetString(platform::kHkeyClassesRoot, key + "\\InprocServer32", "",
                           "c:\\bench\\thing.dll");
        registry.SetString(platform::kHkeyClassesRoot, key + "\\InprocServer32",
                           "ThreadingModel", "Both");
        fennick.FoundKeys.push_back({"CLSID\\", "", Id(i), ""});
    }
    const auto start = std::chrono::steady_clock::now();
    fennick.RemoveFoundKeys(backupPath);
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    return took.count();
}

}  // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 2000;
    char pattern[] = "/tmp/sorvel-bench-removal-XXXXXX";
    const std::string folder = ::mkdtemp(pattern);
    const std::string backup = folder + "/taDeletedRegKeys.reg";
    platform::DurableBackupFiles durable;

    std::printf("RemoveFoundKeys of %d class keys (2 keys, 3 values each), backup in %s\n", keys,
                folder.c_str());
    const double none = Measure(keys, nullptr, "");
    const double standard = Measure(keys, nullptr, backup);
    const auto size = std::filesystem::file_size(backup);
    // Each removal starts a new backup: the earlier one would be kept aside, which is not measured.
    std::filesystem::remove(backup);
    const double synced = Measure(keys, &durable, backup);
    for (const auto& [name, seconds] : {std::pair{"no backup", none},
                                        std::pair{"backup, flushed to the system", standard},
                                        std::pair{"backup, synced to the disc", synced}}) {
        std::printf("  %-32s %8.1f ms  %9.0f keys/s  %7.3f ms/key\n", name, seconds * 1e3,
                    keys / seconds, seconds * 1e3 / keys);
    }
    std::printf("  backup file: %ju bytes\n", static_cast<std::uintmax_t>(size));
    std::filesystem::remove_all(folder);
    return 0;
}
