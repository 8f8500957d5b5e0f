// Times the four searches on a generated HKEY_CLASSES_ROOT: 60,000 keys directly under it,
// 15,000 classes with their ProgId and server subkeys, 25,000 interfaces and 3,000 type
// libraries. Beside them it times one bare walk of the same keys (the same opens, reads and
// enumerations, no comparison), and, for scale, what comparing one keyword at a time against
// the cached texts would cost. Prints figures; asserts nothing.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/case_fold.h"
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

// One keyword in twenty names a vendor (found everywhere that vendor is); the rest find nothing.
std::vector<cleaner::Keyword> Keywords(int count) {
    std::vector<cleaner::Keyword> keywords;
    for (int k = 0; k < count; ++k) {
        std::string text = k % 20 == 0 ? Vendor(k / 20 * 7 % kVendors)
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
    void Run(modRegFuncs& reg, bool keep) {
        texts.clear();
        std::string name;
        auto keepText = [&](const std::string& t) {
            if (keep) {
                texts.push_back(cleaner::FoldCase(t));
            }
        };
        if (reg.RegFirstKey(kHkeyClassesRoot, name)) {
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
        if (reg.RegOpen(kHkeyClassesRoot, "CLSID", "", branch)) {
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
        if (reg.RegOpen(kHkeyClassesRoot, "INTERFACE", "", branch)) {
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
        if (reg.RegOpen(kHkeyClassesRoot, "TYPELIB", "", branch)) {
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
    walk.Run(reg, true);
    std::printf("(each figure is the best of 5 runs; the bare walk is timed beside each row)\n\n");
    std::printf("%9s %10s %10s %10s %10s %10s %10s %8s %10s %14s\n", "keywords", "walk ms",
                "root ms", "class ms", "iface ms", "typelib ms", "total ms", "x walk", "found",
                "1-at-a-time ms");
    for (int count : {10, 100, 1000}) {
        double times[4] = {1e9, 1e9, 1e9, 1e9};
        double total = 1e9;
        double bare = 1e9;
        std::int32_t found = 0;
        for (int run = 0; run < 5; ++run) {
            bare = std::min(bare, Seconds([&] { Walk().Run(reg, false); }));
            modFennick fennick(reg, view);
            fennick.Keywords = Keywords(count);
            double t[4] = {Seconds([&] { fennick.SearchRootKeys(); }),
                           Seconds([&] { fennick.SearchClassIds(); }),
                           Seconds([&] { fennick.SearchInterfaces(); }),
                           Seconds([&] { fennick.SearchTypeLibs(); })};
            for (int i = 0; i < 4; ++i) {
                times[i] = std::min(times[i], t[i]);
            }
            total = std::min(total, t[0] + t[1] + t[2] + t[3]);
            found = fennick.FoundKeyCount;
        }
        // What the comparisons alone would cost one keyword at a time, even with folded texts.
        std::vector<cleaner::Keyword> keywords = Keywords(count);
        std::size_t hits = 0;
        double plain = Seconds([&] {
            for (const cleaner::Keyword& k : keywords) {
                std::string folded = cleaner::FoldCase(k.Text);
                for (const std::string& t : walk.texts) {
                    hits += cleaner::ContainsFolded(t, folded) ? 1 : 0;
                }
            }
        });
        std::printf("%9d %10.1f %10.1f %10.1f %10.1f %10.1f %10.1f %8.2f %10d %14.1f\n", count,
                    bare * 1e3, times[0] * 1e3, times[1] * 1e3, times[2] * 1e3, times[3] * 1e3, total * 1e3,
                    total / bare, found, plain * 1e3);
        if (hits == 0) {
            std::printf("(no keyword occurs in any text)\n");
        }
    }
    return 0;
}
