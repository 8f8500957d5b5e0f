// Times a run of the real Qt window (offscreen) from the press of Remove... to the first
// question, and takes the process's peak memory, for 1,000, 10,000 and 90,001 keywords, on a
// registry in memory of 2,000 ProgIDs and 2,000 classes that no keyword matches (so every
// keyword is compared, shown and yielded in each search). Each size runs in a process of its
// own, so each peak is its own. Prints figures; asserts nothing.
#include "cleaner/qt/frmFennick.h"
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/run/run.h"
#include "cleaner/search/modFennick.h"
#include "platform/registry/memory_registry.h"

#include <QApplication>
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

long PeakKilobytes() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

void Fill(platform::MemoryRegistry& registry) {
    for (int i = 0; i < 2000; ++i) {
        char clsid[64];
        std::snprintf(clsid, sizeof clsid, "{%08X-1111-2222-3333-%012d}", i * 2654435761u, i);
        const std::string progId = "Vendor" + std::to_string(i % 50) + ".Doc" + std::to_string(i);
        registry.SetString(platform::kHkeyClassesRoot, progId + "\\CLSID", "", clsid);
        const std::string key = std::string("CLSID\\") + clsid;
        registry.SetString(platform::kHkeyClassesRoot, key, "", "Document " + std::to_string(i));
        registry.SetString(platform::kHkeyClassesRoot, key + "\\ProgID", "", progId);
        registry.SetString(platform::kHkeyClassesRoot, key + "\\InprocServer32", "",
                           "C:\\Program Files\\Vendor\\doc" + std::to_string(i) + ".dll");
    }
}

// One run in this process; prints its line.
int RunOnce(int keywords, const std::string& folder) {
    const std::string file = folder + "/keywords-" + std::to_string(keywords) + ".txt";
    {
        std::ofstream out(file, std::ios::binary);
        for (int i = 0; i < keywords; ++i) out << "Keyword" << i << "\r\n";
    }
    const auto fileBytes = std::filesystem::file_size(file);

    qputenv("QT_QPA_PLATFORM", "offscreen");
    int argc = 1;
    char name[] = "bench_window";
    char* argv[] = {name, nullptr};
    QApplication app(argc, argv);
    platform::MemoryRegistry registry;
    Fill(registry);

    cleaner::frmFennick window;
    cleaner::modRegFuncs reg(registry, window);
    cleaner::modFennick fennick(reg, window);
    cleaner::FennickRun run(fennick, window);
    window.Attach(run);
    Clock::time_point asked{};
    window.SetAsker([&](const QString&) {
        asked = Clock::now();
        return cleaner::RunWindow::Answer::Cancel;
    });
    window.SetTeller([](const QString& text) {
        std::printf("message: %s\n", text.toStdString().c_str());
    });
    window.txtKeyFile->setText(QString::fromStdString(file));
    window.Check1->setChecked(true);
    window.Check2->setChecked(false);
    window.show();
    QApplication::processEvents();
    const long before = PeakKilobytes();

    const auto pressed = Clock::now();
    window.cmdRemove->click();
    const double seconds = std::chrono::duration<double>(asked - pressed).count();
    std::printf("%7d keywords (%8.0f kB file): %8.3f s to the question, peak %7ld kB "
                "(%ld kB before the press)\n",
                keywords, static_cast<double>(fileBytes) / 1024.0, seconds, PeakKilobytes(),
                before);
    return asked == Clock::time_point{} ? 1 : 0;
}

}  // namespace

int main() {
    char pattern[] = "/tmp/sorvel-bench-window-XXXXXX";
    if (::mkdtemp(pattern) == nullptr) return 1;
    const std::string folder = pattern;
    int failed = 0;
    for (const int keywords : {1000, 10000, 90001}) {
        std::fflush(stdout);
        const pid_t child = ::fork();
        if (child == 0) {
            const int result = RunOnce(keywords, folder);
            std::fflush(stdout);
            std::_Exit(result);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) ++failed;
    }
    std::filesystem::remove_all(folder);
    return failed == 0 ? 0 : 1;
}
