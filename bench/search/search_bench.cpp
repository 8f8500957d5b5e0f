// Times the four searches on a generated HKEY_CLASSES_ROOT: 60,000 keys directly under it,
// 15,000 classes with their ProgId and server subkeys, 25,000 interfaces and 3,000 type
// libraries. Beside them it times one bare walk of the same keys (the same opens, reads and
// enumerations, no comparison), and, for scale, what comparing one keyword at a time against
// the cached texts would cost. Prints figures; asserts nothing.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/registry/case_fold.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/search/pattern_set.h"
#include "platform/registry/memory_registry.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace {

using cleaner::FennickView;
using cleaner::modFennick;
using cleaner::modRegFuncs;
using platform::HKEY;
using platform::kHkeyClassesRoot;

constexpr int kRootKeys = 60000;
constexpr int kClasses = 15000;
constexpr int kInterfaces = 25000;
constexpr int kTypeLibs = 3000;
constexpr int kVendors = 150;

class QuietView : public FennickView {
public:
    void UpdateRegistryHiveText(const std::string&) override {}
    void UpdateStatusText(const std::string&) override {}
    void UpdateKeywordText(const std::string&) override {}
    void ShowMessage(const std::string& text) override { std::printf("message: %s\n", text.c_str()); }
    void DoEvents() override {}
};

std::string Guid(unsigned kind, unsigned n) {
    char text[64];
    std::snprintf(text, sizeof text, "{%08X-%04X-11D3-9C2A-%012X}", n * 2654435761u, kind,
                  n * 40503u + kind);
    return text;
}

std::string Vendor(int v) {
    static const char* const syllables[] = {"Ka", "Lo", "Mi", "Ne", "Su", "Ta", "Ri", "Vo"};
    return std::string(syllables[v % 8]) + syllables[(v / 8) % 8] + syllables[(v / 64) % 8] +
           "soft";
}

void Build(platform::MemoryRegistry& r) {
    auto set = [&](const std::string& path, const std::string& value) {
        r.SetString(kHkeyClassesRoot, path, "", value);
    };
    int rootKeys = 3;  // CLSID, Interface, TypeLib
    for (int i = 0; i < kClasses; ++i) {
        const std::string vendor = Vendor(i % kVendors);
        const std::string clsid = "CLSID\\" + Guid(1, static_cast<unsigned>(i));
        const std::string progId = vendor + ".Component" + std::to_string(i);
        set(clsid, vendor + " Component " + std::to_string(i) + " Class");
        set(clsid + "\\ProgID", progId + ".1");
        set(clsid + "\\VersionIndependentProgID", progId);
        const std::string folder = "C:\\Program Files\\" + vendor + "\\";
        if (i % 5 == 0) {
            set(clsid + "\\LocalServer32", folder + "server" + std::to_string(i) + ".exe");
        }
        set(clsid + "\\InprocServer32", folder + "comp" + std::to_string(i) + ".dll");
        r.SetString(kHkeyClassesRoot, clsid + "\\InprocServer32", "ThreadingModel", "Apartment");
        set(clsid + "\\TypeLib", Guid(3, static_cast<unsigned>(i % kTypeLibs)));
        set(progId + ".1", vendor + " Component " + std::to_string(i));
        set(progId + ".1\\CLSID", Guid(1, static_cast<unsigned>(i)));
        set(progId, vendor + " Component " + std::to_string(i));
        rootKeys += 2;
    }
    for (int i = 0; rootKeys < kRootKeys; ++i, ++rootKeys) {
        if (i % 2 == 0) {
            set(".ext" + std::to_string(i), "filetype" + std::to_string(i));
        } else {
            set("filetype" + std::to_string(i) + "\\shell\\open\\command", "c:\\app.exe \"%1\"");
        }
    }
    for (int i = 0; i < kInterfaces; ++i) {
        const std::string key = "Interface\\" + Guid(2, static_cast<unsigned>(i));
        set(key, "IComponent" + std::to_string(i));
        set(key + "\\ProxyStubClsid32", "{00020424-0000-0000-C000-000000000046}");
        set(key + "\\TypeLib", Guid(3, static_cast<unsigned>(i % kTypeLibs)));
    }
    for (int i = 0; i < kTypeLibs; ++i) {
        const std::string vendor = Vendor(i % kVendors);
        const std::string key = "TypeLib\\" + Guid(3, static_cast<unsigned>(i)) + "\\1.0";
        set(key, vendor + " Type Library " + std::to_string(i));
        set(key + "\\0\\win32", "C:\\Program Files\\" + vendor + "\\lib" + std::to_string(i) + ".tlb");
        if (i % 3 == 0) {
            set(key + "\\0\\win64", "C:\\Program Files\\" + vendor + "\\lib64.tlb");
        }
        set(key + "\\FLAGS", "0");
        set(key + "\\HELPDIR", "C:\\Program Files\\" + vendor);
    }
}

// count keywords, of which `matching` (spread through the list) name a vendor and so find that
// vendor's registrations everywhere; the rest find nothing.
std::vector<cleaner::Keyword> Keywords(int count, int matching) {
    std::vector<cleaner::Keyword> keywords;
    const int step = count / matching;
    for (int k = 0; k < count; ++k) {
        std::string text = k % step == 0 && k / step < matching
                               ? Vendor(k / step * 7 % kVendors)
                               : "Nomatch" + std::to_string(k) + "ware";
        keywords.push_back({text, ""});
    }
    return keywords;
}

double Seconds(const std::function<void()>& work) {
    auto start = std::chrono::steady_clock::now();
    work();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The registry work of the four searches without any comparison; collects the texts the
// searches would compare, for the one-keyword-at-a-time figure.
struct Walk {
    std::vector<std::string> texts;
    void Run(modRegFuncs& reg, bool keep, int part) {
        if (part == 0) {
            texts.clear();
        }
        std::string name;
        auto keepText = [&](const std::string& t) {
            if (keep) {
                texts.push_back(cleaner::FoldCase(t));
            }
        };
        if (part == 0 && reg.RegFirstKey(kHkeyClassesRoot, name)) {
            do {
                keepText(name);
            } while (reg.RegNextKey(kHkeyClassesRoot, name));
        }
        auto readDefault = [&](const std::string& path, const std::string& sub, std::string& out) {
            HKEY h = 0;
            if (!reg.RegOpen(kHkeyClassesRoot, path, sub, h)) {
                return false;
            }
            reg.RegGet(h, "", out);
            reg.RegClose(h);
            return true;
        };
        HKEY branch = 0;
        if (part == 1 && reg.RegOpen(kHkeyClassesRoot, "CLSID", "", branch)) {
            if (reg.RegFirstKey(branch, name)) {
                do {
                    HKEY h = 0;
                    if (reg.RegOpen(kHkeyClassesRoot, "CLSID", name, h)) {
                        std::string value;
                        const std::string path = "CLSID\\" + name;
                        reg.RegGet(h, "", value);
                        keepText(value);
                        readDefault(path, "ProgId", value);
                        keepText(value);
                        if (!readDefault(path, "LocalServer32", value)) {
                            readDefault(path, "InprocServer32", value);
                        }
                        keepText(value);
                        reg.RegClose(h);
                    }
                } while (reg.RegNextKey(branch, name));
            }
            reg.RegClose(branch);
        }
        if (part == 2 && reg.RegOpen(kHkeyClassesRoot, "INTERFACE", "", branch)) {
            if (reg.RegFirstKey(branch, name)) {
                do {
                    HKEY h = 0;
                    if (reg.RegOpen(kHkeyClassesRoot, "INTERFACE", name, h)) {
                        std::string value;
                        readDefault("INTERFACE\\" + name, "TypeLib", value);
                        reg.RegClose(h);
                    }
                } while (reg.RegNextKey(branch, name));
            }
            reg.RegClose(branch);
        }
        if (part == 3 && reg.RegOpen(kHkeyClassesRoot, "TYPELIB", "", branch)) {
            if (reg.RegFirstKey(branch, name)) {
                do {
                    std::string path;
                    const std::int32_t position = reg.RegGetKeyIndex();
                    reg.RegFindSubkeyValue(kHkeyClassesRoot, "WIN32", "TYPELIB", name, path);
                    reg.RegSetKeyIndex(position);
                    keepText(path);
                } while (reg.RegNextKey(branch, name));
            }
            reg.RegClose(branch);
        }
    }
};

constexpr int kRuns = 5;

void Row(const char* label, const double* times) {
    std::printf("%-26s %8.1f %8.1f %8.1f %8.1f %9.1f", label, times[0] * 1e3, times[1] * 1e3,
                times[2] * 1e3, times[3] * 1e3, (times[0] + times[1] + times[2] + times[3]) * 1e3);
}

// Each figure is the best of kRuns; the bare walk is timed again beside every keyword count, so
// that both see the same load on the machine.
void Table(modRegFuncs& reg, QuietView& view, const Walk& walk,
           const std::function<std::vector<cleaner::Keyword>(int)>& keywordsFor) {
    std::printf("%-26s %8s %8s %8s %8s %9s %7s %8s %13s\n", "(ms)", "root", "CLSID", "INTERF.",
                "TYPELIB", "all four", "x walk", "found", "1-at-a-time");
    for (int count : {10, 100, 1000}) {
        double bare[4] = {1e9, 1e9, 1e9, 1e9};
        double times[4] = {1e9, 1e9, 1e9, 1e9};
        std::int32_t found = 0;
        for (int run = 0; run < kRuns; ++run) {
            for (int part = 0; part < 4; ++part) {
                bare[part] = std::min(bare[part], Seconds([&] { Walk().Run(reg, false, part); }));
            }
            modFennick fennick(reg, view);
            fennick.Keywords = keywordsFor(count);
            const double t[4] = {Seconds([&] { fennick.SearchRootKeys(); }),
                                 Seconds([&] { fennick.SearchClassIds(); }),
                                 Seconds([&] { fennick.SearchInterfaces(); }),
                                 Seconds([&] { fennick.SearchTypeLibs(); })};
            for (int i = 0; i < 4; ++i) {
                times[i] = std::min(times[i], t[i]);
            }
            found = fennick.FoundKeyCount;
        }
        // What the comparisons alone would cost one keyword at a time, even with folded texts.
        std::vector<cleaner::Keyword> keywords = keywordsFor(count);
        std::size_t hits = 0;
        double plain = Seconds([&] {
            for (const cleaner::Keyword& k : keywords) {
                std::string folded = cleaner::FoldCase(k.Text);
                for (const std::string& t : walk.texts) {
                    hits += cleaner::ContainsFolded(t, folded) ? 1 : 0;
                }
            }
        });
        const double bareTotal = bare[0] + bare[1] + bare[2] + bare[3];
        const double total = times[0] + times[1] + times[2] + times[3];
        std::printf("%d keywords\n", count);
        Row("  bare walk", bare);
        std::printf("\n");
        Row("  searches", times);
        std::printf(" %7.2f %8d %13.1f\n", total / bareTotal, found, plain * 1e3);
        if (hits == 0) {
            std::printf("(no keyword occurs in any text)\n");
        }
    }
}

}  // namespace

int main() {
    platform::MemoryRegistry registry;
    double build = Seconds([&] { Build(registry); });
    QuietView view;
    modRegFuncs reg(registry, view);
    std::printf("generated HKEY_CLASSES_ROOT in %.2f s: %d root keys, %d classes, %d interfaces, "
                "%d type libraries\n",
                build, kRootKeys, kClasses, kInterfaces, kTypeLibs);

    Walk walk;
    for (int part = 0; part < 4; ++part) {
        walk.Run(reg, true, part);
    }
    std::printf("(best of %d runs; \"1-at-a-time\": comparing each keyword in turn against the "
                "cached texts)\n", kRuns);
    std::printf("\nFive keywords find a vendor's registrations, the others find nothing:\n");
    Table(reg, view, walk, [](int count) { return Keywords(count, 5); });
    std::printf("\nOne keyword in twenty finds a vendor's registrations (the finds grow too):\n");
    Table(reg, view, walk, [](int count) { return Keywords(count, std::max(1, count / 20)); });
    return 0;
}
