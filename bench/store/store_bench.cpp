// Loads and saves a generated Wine prefix of about 1,000,000 keys and 100 MB through the store,
// and prints the speed of each and the peak memory of the process. Beside the load it prints
// one plain pass over the same files (read them, split them into lines): the floor any loader
// stands on.
//
//   bench_store [groups] [folder]
//
// Each group is a suite's class registration of three keys under Software\Classes. A folder
// that already holds the generated prefix is used again as it is (so a profiler sees only the
// load and the save).
#include "platform/wine/wine_store.h"

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

// Processor time of this process (user and system), which other programs on a busy machine
// disturb less than the time on the clock.
double CpuSeconds() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

double PeakMegabytes() {
    rusage usage {};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1024.0;  // ru_maxrss is in KiB on Linux
}

// Writes system.reg in Wine's own form and order: groups are numbered so that their names sort
// as they are written. Each group is a program identifier with its CLSID and CurVer subkeys;
// every eighth carries a binary value that wraps over two lines.
std::size_t WriteSystemReg(const std::string& path, unsigned groups) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    std::fputs("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n", f);
    const char* key = "\n[Software\\\\Classes\\\\Maker.C%06u%s] 1765000000\n#time=1dc6a1b2c3d4e5f\n";
    for (unsigned i = 0; i < groups; ++i) {
        std::fprintf(f, key, i, "");
        std::fprintf(f, "@=\"Maker component %u\"\n", i);
        if (i % 8 == 0)
            std::fputs("\"Data\"=hex:7b,00,31,00,32,00,33,00,34,00,35,00,36,00,37,00,38,00,2d,00,41,00,\\\n"
                       "  42,00,43,00,44,00,7d,00,00,00\n", f);
        std::fprintf(f, key, i, "\\\\CLSID");
        std::fprintf(f, "@=\"{%08X-0000-0000-C000-000000000046}\"\n", i);
        std::fprintf(f, key, i, "\\\\CurVer");
        std::fprintf(f, "@=\"Maker.C%06u.1\"\n", i);
    }
    const long size = std::ftell(f);
    if (std::fclose(f) != 0 || size < 0) throw std::runtime_error("cannot write " + path);
    return static_cast<std::size_t>(size);
}

std::size_t WriteUserReg(const std::string& path) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) throw std::runtime_error("cannot create " + path);
    std::fputs("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n"
               "#arch=win64\n\n[Software\\\\Maker\\\\Suite] 1765000000\n#time=1dc6a1b2c3d4e5f\n"
               "\"Version\"=\"8.1\"\n", f);
    const long size = std::ftell(f);
    std::fclose(f);
    return static_cast<std::size_t>(size);
}

// Reads the files through one buffer and splits them into lines; returns the number of lines.
std::size_t SplitIntoLines(const std::string& prefix) {
    std::size_t lines = 0;
    std::string buffer(1 << 20, '\0');
    for (const char* name : {"/system.reg", "/user.reg"}) {
        std::FILE* f = std::fopen((prefix + name).c_str(), "rb");
        if (!f) throw std::runtime_error("cannot read " + prefix + name);
        std::size_t n;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), f)) > 0) {
            const char* at = buffer.data();
            const char* end = at + n;
            while (const void* nl = std::memchr(at, '\n', static_cast<std::size_t>(end - at))) {
                at = static_cast<const char*>(nl) + 1;
                ++lines;
            }
        }
        std::fclose(f);
    }
    return lines;
}

std::size_t FileSize(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 ? static_cast<std::size_t>(st.st_size) : 0;
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned groups = argc > 1 ? static_cast<unsigned>(std::strtoul(argv[1], nullptr, 10)) : 340000;
    std::string folder;
    if (argc > 2) {
        folder = argv[2];
    } else {
        const char* tmp = std::getenv("TMPDIR");
        folder = std::string(tmp && *tmp ? tmp : "/tmp") + "/sorvel-store-bench-XXXXXX";
        if (!mkdtemp(folder.data())) return 1;
    }
    const std::string prefix = folder + "/prefix";
    std::filesystem::create_directories(prefix);
    try {
        std::size_t bytes = FileSize(prefix + "/system.reg") + FileSize(prefix + "/user.reg");
        const bool reused = argc > 2 && FileSize(prefix + "/system.reg") > 0 && FileSize(prefix + "/user.reg") > 0;
        if (!reused) bytes = WriteSystemReg(prefix + "/system.reg", groups) + WriteUserReg(prefix + "/user.reg");
        const double megabytes = static_cast<double>(bytes) / 1e6;
        if (reused)
            std::printf("prefix: %.1f MB (system.reg and user.reg) in %s, as generated before\n", megabytes, prefix.c_str());
        else
            std::printf("prefix: %u keys, %.1f MB (system.reg and user.reg) in %s\n", groups * 3 + 4, megabytes,
                        prefix.c_str());
        const auto splitStart = Clock::now();
        const double splitCpuStart = CpuSeconds();
        const std::size_t lines = SplitIntoLines(prefix);
        const double split = Seconds(splitStart, Clock::now());
        const double splitCpu = CpuSeconds() - splitCpuStart;
        std::printf("read and split into lines: %.3f s (processor %.3f s), %.0f MB/s (%zu lines)\n", split, splitCpu,
                    megabytes / split, lines);
        std::printf("peak memory before loading: %.1f MB\n", PeakMegabytes());

        const auto loadStart = Clock::now();
        const double loadCpuStart = CpuSeconds();
        auto store = platform::WinePrefixStore::Open(prefix);
        const auto loadEnd = Clock::now();
        const double load = Seconds(loadStart, loadEnd);
        const double loadCpu = CpuSeconds() - loadCpuStart;
        std::printf("load: %.3f s (processor %.3f s), %.0f MB/s = %.1f x reading and splitting (processor: %.1f x)\n",
                    load, loadCpu, megabytes / load, load / split, loadCpu / splitCpu);
        std::printf("peak memory after loading: %.1f MB = %.2f x the files' size\n", PeakMegabytes(),
                    PeakMegabytes() / megabytes);

        // One deletion makes system.reg a changed file: the save writes all of it. (A prefix used
        // again lacks the keys that earlier runs deleted.)
        bool deleted = false;
        for (unsigned i = 7; i < groups && !deleted; i += 8) {
            char victim[64];
            std::snprintf(victim, sizeof victim, "Software\\Classes\\Maker.C%06u\\CurVer", i);
            deleted = store->Registry().RegDeleteKeyA(platform::kHkeyLocalMachine, victim) == 0;
        }
        if (!deleted) {
            std::fprintf(stderr, "no generated key left to delete\n");
            return 1;
        }
        const auto saveStart = Clock::now();
        store->Save();
        const auto saveEnd = Clock::now();
        struct stat st {};
        ::stat((prefix + "/system.reg").c_str(), &st);
        const double saved = static_cast<double>(st.st_size) / 1e6;
        std::printf("save: %.3f s, %.0f MB/s (%.1f MB written and flushed to disc)\n", Seconds(saveStart, saveEnd),
                    saved / Seconds(saveStart, saveEnd), saved);
        const double peak = PeakMegabytes();
        std::printf("peak memory: %.1f MB = %.2f x the files' size\n", peak, peak / megabytes);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_store: %s\n", e.what());
        std::filesystem::remove_all(folder);
        return 1;
    }
    if (argc <= 2) std::filesystem::remove_all(folder);
    return 0;
}
