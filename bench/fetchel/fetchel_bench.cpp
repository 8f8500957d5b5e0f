// Figures for fetchel:
//  1. taDownloadFile of a 1 GiB body from a loopback server (generated on the fly, never stored)
//     beside `curl -o` of the same URL in the same run, and beside `curl -o` followed by a flush
//     of the file to disc (what taDownloadFile does before it renames the file into place);
//  2. taFindCacheEntry in a URL cache of 10,000 entries (a generated, valid index file).
//
// Usage: bench_fetchel [megabytes (default 1024)] [rounds (default 5)]
#include "fetchel.h"
#include "index_builder.h"
#include "tests/fetchel/loopback_server.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/resource.h>
#include <time.h>
#include <unistd.h>

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// Serves `bytes` bytes of a repeating pattern for every request.
fetchel_test::Handler Generator(std::uint64_t bytes) {
    return [bytes](fetchel_test::Connection& c, const fetchel_test::Request&) {
        static const std::string block = [] {
            std::string b(1 << 20, '\0');
            for (std::size_t i = 0; i < b.size(); ++i) b[i] = static_cast<char>((i * 131) ^ (i >> 9));
            return b;
        }();
        if (!c.SendHead(200, bytes)) return;
        for (std::uint64_t left = bytes; left > 0;) {
            const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(left, block.size()));
            if (!c.Send(std::string_view(block).substr(0, n))) return;
            left -= n;
        }
    };
}

// One timed run: throughput in MB/s, and the processor time the client spent, in seconds.
struct Run {
    double rate;
    double cpu;
};

double ThreadCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

double ChildrenCpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_CHILDREN, &usage);
    const auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

Run Download(const std::string& url, const fs::path& target, std::uint64_t bytes) {
    char text[FETCHEL_ERROR_TEXT_SIZE];
    const double cpuBefore = ThreadCpuSeconds();
    const auto start = Clock::now();
    const int result = taDownloadFile(url.c_str(), target.c_str(), text, 0);
    const double seconds = Seconds(Clock::now() - start);
    const double cpu = ThreadCpuSeconds() - cpuBefore;
    if (result != 1 || fs::file_size(target) != bytes) {
        std::fprintf(stderr, "taDownloadFile failed: %s\n", text);
        std::exit(1);
    }
    fs::remove(target);
    return {static_cast<double>(bytes) / seconds / 1e6, cpu};
}

// curl -o, timed once when curl has finished and again when the file it wrote is on disc.
struct CurlRuns {
    Run plain;
    Run synced;
};

CurlRuns Curl(const std::string& url, const fs::path& target, std::uint64_t bytes) {
    const std::string command = "curl -s -f --noproxy '*' -o '" + target.string() + "' '" + url + "'";
    const double cpuBefore = ChildrenCpuSeconds();
    const auto start = Clock::now();
    const int status = std::system(command.c_str());
    const double seconds = Seconds(Clock::now() - start);
    const double cpu = ChildrenCpuSeconds() - cpuBefore;
    if (status != 0 || fs::file_size(target) != bytes) {
        std::fprintf(stderr, "curl failed (status %d)\n", status);
        std::exit(1);
    }
    const double syncCpuBefore = ThreadCpuSeconds();
    const int fd = open(target.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0 || fsync(fd) != 0) {
        std::fprintf(stderr, "cannot flush %s\n", target.c_str());
        std::exit(1);
    }
    close(fd);
    const double syncedSeconds = Seconds(Clock::now() - start);
    const double syncCpu = ThreadCpuSeconds() - syncCpuBefore;
    fs::remove(target);
    const auto rate = [bytes](double s) { return static_cast<double>(bytes) / s / 1e6; };
    return {{rate(seconds), cpu}, {rate(syncedSeconds), cpu + syncCpu}};
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Alternates the two clients so that both see the same conditions; the machine may be shared,
// so the processor time each client spent is printed beside the wall-clock throughput.
void BenchDownload(const fs::path& folder, const char* where, std::uint64_t megabytes, int rounds) {
    const std::uint64_t bytes = megabytes << 20;
    fetchel_test::LoopbackServer server(Generator(bytes));
    const std::string url = server.Url("/body.bin");
    std::vector<double> oursRate, oursCpu, curlRate, curlCpu, syncedRate;
    for (int round = 1; round <= rounds; ++round) {
        const Run ours = Download(url, folder / "ours.bin", bytes);
        const CurlRuns curl = Curl(url, folder / "curl.bin", bytes);
        std::printf("download %llu MiB to %s, round %d: taDownloadFile %.0f MB/s (%.2f s CPU), "
                    "curl -o %.0f MB/s (%.2f s CPU), curl -o + fsync %.0f MB/s\n",
                    static_cast<unsigned long long>(megabytes), where, round, ours.rate, ours.cpu,
                    curl.plain.rate, curl.plain.cpu, curl.synced.rate);
        oursRate.push_back(ours.rate);
        oursCpu.push_back(ours.cpu);
        curlRate.push_back(curl.plain.rate);
        curlCpu.push_back(curl.plain.cpu);
        syncedRate.push_back(curl.synced.rate);
    }
    std::printf("download to %s, median: taDownloadFile %.0f MB/s, curl -o %.0f MB/s (%.0f%%), "
                "curl -o + fsync %.0f MB/s (%.0f%%); CPU %.2f s vs %.2f s\n",
                where, Median(oursRate), Median(curlRate), 100 * Median(oursRate) / Median(curlRate),
                Median(syncedRate), 100 * Median(oursRate) / Median(syncedRate), Median(oursCpu),
                Median(curlCpu));
}

void BenchLookup(const fs::path& folder) {
    constexpr int kEntries = 10'000;
    urlcache_test::IndexBuilder builder;
    for (int i = 0; i < kEntries; ++i) {
        builder.AddUrl("http://www.example.com/downloads/product-" + std::to_string(i) +
                       "/Setup.exe?session=0123456789abcdef");
    }
    const auto bytes = builder.Bytes();
    const fs::path prefix = folder / "prefix";
    urlcache_test::WriteIndex(urlcache_test::IndexPath(prefix, "bench", urlcache_test::kContent), bytes);
    setenv("WINEPREFIX", prefix.c_str(), 1);
    setenv("USER", "bench", 1);

    struct Case {
        const char* name;
        std::string part;
    };
    const std::vector<Case> cases = {
        {"first entry", "PRODUCT-0/"},
        {"last entry", "product-9999/"},
        {"no match (whole walk)", "not-in-the-cache"},
    };
    std::printf("lookup in %d entries (index file %zu KiB, %zu hash tables):\n", kEntries,
                bytes.size() / 1024, builder.Tables().size());
    for (const auto& c : cases) {
        constexpr int kRepeats = 50;
        std::vector<char> found(4096);
        const auto start = Clock::now();
        for (int i = 0; i < kRepeats; ++i) {
            if (taFindCacheEntry(c.part.c_str(), found.data(), static_cast<std::uint32_t>(found.size())) != 1) {
                std::fprintf(stderr, "lookup failed\n");
                std::exit(1);
            }
        }
        std::printf("  %-24s %8.3f ms per lookup\n", c.name, 1e3 * Seconds(Clock::now() - start) / kRepeats);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t megabytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 5;
    const fs::path folder = fs::temp_directory_path() / ("fetchel-bench-" + std::to_string(getpid()));
    fs::create_directories(folder);
    // In memory (/dev/shm) the figures show the client's own cost; on the disc they also show
    // the flush to disc that taDownloadFile does before it renames the file into place, and
    // that curl -o does not do.
    const fs::path memory = fs::path("/dev/shm") / folder.filename();
    std::error_code error;
    if (fs::create_directories(memory, error) &&
        fs::space(memory).available > 3 * (megabytes << 20)) {
        BenchDownload(memory, "memory", megabytes, rounds);
    }
    fs::remove_all(memory, error);
    BenchDownload(folder, "disc", megabytes, rounds);
    BenchLookup(folder);
    fs::remove_all(folder);
    return 0;
}
