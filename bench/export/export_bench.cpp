// Times (processor time, best of five) RegExportTree and RegDeleteTree on a generated tree of
// class registrations, beside a bare walk of the same tree (open, subkeys, close: the traversal
// every tree operation makes) and a walk that also reads every value, so that the export's own
// cost shows. The export is timed twice: into a new text, as a removal does it, and into a text
// whose memory is already there, which leaves out the cost of the system handing out fresh
// memory for the output (its page faults are printed). Run at three sizes, the figures also show
// whether time and text grow linearly with the tree.
//
//   bench_export [keys]      (default: 100000; also runs a quarter and half of it)
//
// Processor time on a shared machine varies from run to run; instruction counts do not:
//   valgrind --tool=callgrind bench_export 20000; callgrind_annotate --inclusive=yes ...
// shows WalkKeys, WalkKeysAndValues, ExportTree and DeleteTree each as a function of its own.
#include "cleaner/registry/modRegFuncs.h"
#include "platform/registry/memory_registry.h"

#include <sys/resource.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

using platform::HKEY;
using Clock = std::chrono::steady_clock;

class QuietUi : public cleaner::RegistryUi {
public:
    void ShowMessage(const std::string& text) override {
        std::fprintf(stderr, "message: %s\n", text.c_str());
    }
    void DoEvents() override {}
};

constexpr HKEY kRoot = platform::kHkeyClassesRoot;
constexpr const char* kTop = "BenchClasses";

// Ten keys per class, the shape of a COM class registration, with the values such keys hold:
// strings, a server path with backslashes, a number, a long binary blob.
void AddClass(platform::MemoryRegistry& registry, int n) {
    char id[64];
    std::snprintf(id, sizeof id, "%s\\{%08X-1234-5678-9ABC-DEF012345678}", kTop,
                  static_cast<unsigned>(n));
    const std::string key = id;
    registry.SetString(kRoot, key, "", "Bench Class " + std::to_string(n));
    registry.SetString(kRoot, key + "\\InprocServer32", "",
                       "C:\\Program Files\\Suite\\bin\\component" + std::to_string(n) + ".dll");
    registry.SetString(kRoot, key + "\\InprocServer32", "ThreadingModel", "Apartment");
    registry.SetString(kRoot, key + "\\ProgID", "", "Suite.Class" + std::to_string(n) + ".1");
    registry.SetString(kRoot, key + "\\VersionIndependentProgID", "",
                       "Suite.Class" + std::to_string(n));
    registry.SetString(kRoot, key + "\\TypeLib", "", "{00000000-0000-0000-0000-000000000001}");
    registry.SetString(kRoot, key + "\\Version", "", "1.0");
    registry.CreateKey(kRoot, key + "\\Programmable");
    registry.SetDword(kRoot, key + "\\Control", "Flags", static_cast<std::uint32_t>(n));
    registry.SetValue(kRoot, key + "\\MiscStatus", "", platform::kRegBinary,
                      std::string(64 + n % 512, static_cast<char>(n)));
    registry.SetString(kRoot, key + "\\ToolboxBitmap32", "",
                       "C:\\Program Files\\Suite\\bin\\component" + std::to_string(n) + ".dll, 1");
}

// classes * 10 keys, plus the top key.
void Build(platform::MemoryRegistry& registry, int classes) {
    registry.CreateKey(kRoot, kTop);
    for (int n = 0; n < classes; ++n) {
        AddClass(registry, n);
    }
}

// The traversal without the export: every key opened, its subkeys walked with the shared
// position saved and restored around each, then closed.
long BareWalk(cleaner::modRegFuncs& reg, bool withValues) {
    struct Level {
        HKEY handle;
        std::int32_t saved;
        bool started;
    };
    long keys = 0;
    HKEY top = 0;
    if (!reg.RegOpen(kRoot, kTop, "", top)) return 0;
    std::vector<Level> levels{{top, 0, false}};
    std::string name;
    std::string data;
    while (!levels.empty()) {
        Level& level = levels.back();
        const bool found = level.started ? reg.RegNextKey(level.handle, name)
                                         : reg.RegFirstKey(level.handle, name);
        level.started = true;
        if (found) {
            level.saved = reg.RegGetKeyIndex();
            HKEY child = 0;
            if (reg.RegOpen(level.handle, name, "", child)) {
                levels.push_back({child, 0, false});
            }
            continue;
        }
        if (withValues && reg.RegFirstValue(level.handle, name, data)) {
            while (reg.RegNextValue(level.handle, name, data)) {
            }
        }
        ++keys;
        reg.RegClose(level.handle);
        levels.pop_back();
        if (!levels.empty()) reg.RegSetKeyIndex(levels.back().saved);
    }
    return keys;
}

// Separate functions, so that an instruction count shows each.
[[gnu::noinline]] long WalkKeys(cleaner::modRegFuncs& reg) { return BareWalk(reg, false); }
[[gnu::noinline]] long WalkKeysAndValues(cleaner::modRegFuncs& reg) { return BareWalk(reg, true); }
[[gnu::noinline]] bool ExportTree(cleaner::modRegFuncs& reg, std::string& text) {
    return reg.RegExportTree(kRoot, "HKEY_CLASSES_ROOT", kTop, "", text);
}
[[gnu::noinline]] bool DeleteTree(cleaner::modRegFuncs& reg) {
    return reg.RegDeleteTree(kRoot, kTop, "");
}

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// Processor time of this process: less disturbed than wall time by other programs on a
// shared machine.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

// The best of five runs: the figure least disturbed by whatever else the machine does.
template <typename Work>
double BestOfFive(const Work& work) {
    double best = 1e30;
    for (int run = 0; run < 5; ++run) {
        const double start = CpuSeconds();
        work();
        best = std::min(best, CpuSeconds() - start);
    }
    return best;
}

long PeakRssKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

long MinorFaults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

void Run(int keys) {
    const int classes = keys / 10;
    platform::MemoryRegistry registry;
    QuietUi ui;
    cleaner::modRegFuncs reg(registry, ui);

    const auto start = Clock::now();
    Build(registry, classes);
    const double build = Seconds(start);

    long walked = 0;
    const double bare = BestOfFive([&] { walked = WalkKeys(reg); });
    const double bareValues = BestOfFive([&] { WalkKeysAndValues(reg); });

    std::string text;
    bool exported = true;
    long faults = 0;
    const double exportTime = BestOfFive([&] {
        text.clear();
        text.shrink_to_fit();
        const long before = MinorFaults();
        exported = ExportTree(reg, text) && exported;
        faults = MinorFaults() - before;
    });
    const double exportKept = BestOfFive([&] {
        text.clear();  // keeps its memory
        exported = ExportTree(reg, text) && exported;
    });

    const double deleteStart = CpuSeconds();
    const bool deleted = DeleteTree(reg);
    const double deleteTime = CpuSeconds() - deleteStart;

    std::printf("%7ld keys | build %6.3f s | bare walk %6.3f s | walk+values %6.3f s | "
                "export %6.3f s (%.2fx bare, %.2fx walk+values, %ld page faults) | "
                "into a kept text %6.3f s (%.2fx walk+values) %s | text %6.1f MB, %4.0f B/key | "
                "delete %6.3f s %s | peak RSS %ld MiB\n",
                walked, build, bare, bareValues, exportTime, exportTime / bare,
                exportTime / bareValues, faults, exportKept, exportKept / bareValues,
                exported ? "ok" : "FAILED", static_cast<double>(text.size()) / 1e6,
                static_cast<double>(text.size()) / static_cast<double>(walked), deleteTime,
                deleted && !registry.KeyExists(kRoot, kTop) ? "ok" : "FAILED",
                PeakRssKiB() / 1024);
}

}  // namespace

int main(int argc, char** argv) {
    const int keys = argc > 1 ? std::atoi(argv[1]) : 100000;
    if (keys < 40) {
        std::fprintf(stderr, "usage: bench_export [keys >= 40]\n");
        return 2;
    }
    for (const int n : {keys / 4, keys / 2, keys}) {
        Run(n);
    }
    return 0;
}
