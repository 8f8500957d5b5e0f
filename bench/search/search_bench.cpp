// Times the four searches on a generated HKEY_CLASSES_ROOT of a 64-bit registry: 60,000 root
// keys, 15,000 classes with their ProgId and server subkeys and 25,000 interfaces, each split
// 2:1 between the 64-bit node and the 32-bit node below Wow6432Node, and 3,000 type libraries in
// the TypeLib branch both share (the 32-bit node's TypeLib is a link to it, as in Wine). Beside
// them it times one bare walk of the same keys of both nodes (the same opens, reads and
// enumerations, no comparison), and, for scale, what comparing one keyword at a time against the
// cached texts would cost. Prints figures; asserts nothing.
#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/registry/case_fold.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/search/pattern_set.h"
#include "platform/registry/memory_registry.h"

#include <algorithm>
#include <ctime>
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

// The nodes a search walks: the 64-bit node (HKEY_CLASSES_ROOT itself) and the 32-bit one.
const std::string kNodes[] = {"", "Wow6432Node\\"};

// Two of every three generated registrations are in the 64-bit node, one in the 32-bit node.
const std::string& NodeOf(int i) { return kNodes[i % 3 == 2 ? 1 : 0]; }

void Build(platform::MemoryRegistry& r) {
    r.SetWow64Node(true);
    auto set = [&](const std::string& path, const std::string& value) {
        r.SetString(kHkeyClassesRoot, path, "", value);
    };
    std::string link;  // the 32-bit node's TypeLib: a link to the shared branch
    for (char c : std::string("\\Registry\\Machine\\Software\\Classes\\TypeLib")) {
        link += c;
        link += '\0';
    }
    r.SetValue(kHkeyClassesRoot, "Wow6432Node\\TypeLib", "SymbolicLinkValue", platform::kRegLink,
               link);
    int rootKeys = 7;  // CLSID, Interface, TypeLib, Wow6432Node, and those of the 32-bit node
    for (int i = 0; i < kClasses; ++i) {
        const std::string vendor = Vendor(i % kVendors);
        const std::string& node = NodeOf(i);
        const std::string clsid = node + "CLSID\\" + Guid(1, static_cast<unsigned>(i));
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
        set(node + progId + ".1", vendor + " Component " + std::to_string(i));
        set(node + progId + ".1\\CLSID", Guid(1, static_cast<unsigned>(i)));
        set(node + progId, vendor + " Component " + std::to_string(i));
        rootKeys += 2;
    }
    for (int i = 0; rootKeys < kRootKeys; ++i, ++rootKeys) {
        if (i % 2 == 0) {
            set(NodeOf(i / 2) + ".ext" + std::to_string(i), "filetype" + std::to_string(i));
        } else {
            set(NodeOf(i / 2) + "filetype" + std::to_string(i) + "\\shell\\open\\command",
                "c:\\app.exe \"%1\"");
        }
    }
    for (int i = 0; i < kInterfaces; ++i) {
        const std::string key = NodeOf(i) + "Interface\\" + Guid(2, static_cast<unsigned>(i));
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

// The processor time the work took: on a machine that others share, the time that passes
// measures their load as much as this program's work.
double Seconds(const std::function<void()>& work) {
    const std::clock_t start = std::clock();
    work();
    return static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC;
}

// The registry work of the four searches over both nodes without any comparison; collects the
// texts the searches would compare, for the one-keyword-at-a-time figure.
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
        auto readDefault = [&](const std::string& path, const std::string& sub, std::string& out) {
            HKEY h = 0;
            if (!reg.RegOpen(kHkeyClassesRoot, path, sub, h)) {
                return false;
            }
            reg.RegGet(h, "", out);
            reg.RegClose(h);
            return true;
        };
        // Each subkey name of path (of the root itself when path is empty).
        auto forEach = [&](const std::string& path, const std::function<void()>& visit) {
            HKEY branch = kHkeyClassesRoot;
            if (!path.empty() && !reg.RegOpen(kHkeyClassesRoot, path, "", branch)) {
                return;
            }
            if (reg.RegFirstKey(branch, name)) {
                do {
                    visit();
                } while (reg.RegNextKey(branch, name));
            }
            if (!path.empty()) {
                reg.RegClose(branch);
            }
        };
        for (const std::string& node : kNodes) {
            const std::string nodeKey = node.empty() ? "" : node.substr(0, node.size() - 1);
            if (part == 0) {
                forEach(nodeKey, [&] { keepText(name); });
            }
            if (part == 1) {
                forEach(node + "CLSID", [&] {
                    HKEY h = 0;
                    if (reg.RegOpen(kHkeyClassesRoot, node + "CLSID", name, h)) {
                        std::string value;
                        const std::string path = node + "CLSID\\" + name;
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
                });
            }
            if (part == 2) {
                forEach(node + "INTERFACE", [&] {
                    HKEY h = 0;
                    if (reg.RegOpen(kHkeyClassesRoot, node + "INTERFACE", name, h)) {
                        std::string value;
                        readDefault(node + "INTERFACE\\" + name, "TypeLib", value);
                        reg.RegClose(h);
                    }
                });
            }
        }
        if (part == 3) {
            forEach("TYPELIB", [&] {
                std::string path;
                const std::int32_t position = reg.RegGetKeyIndex();
                reg.RegFindSubkeyValue(kHkeyClassesRoot, "WIN32", "TYPELIB", name, path);
                reg.RegSetKeyIndex(position);
                keepText(path);
            });
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
            found = fennick.FoundKeyCount();
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
    std::printf("generated HKEY_CLASSES_ROOT in %.2f s: %d root keys, %d classes, %d interfaces "
                "(2:1 between the 64-bit and the 32-bit node), %d shared type libraries\n",
                build, kRootKeys, kClasses, kInterfaces, kTypeLibs);

    Walk walk;
    for (int part = 0; part < 4; ++part) {
        walk.Run(reg, true, part);
    }
    std::printf("(processor time, best of %d runs; \"1-at-a-time\": comparing each keyword in turn against the "
                "cached texts)\n", kRuns);
    std::printf("\nFive keywords find a vendor's registrations, the others find nothing:\n");
    Table(reg, view, walk, [](int count) { return Keywords(count, 5); });
    std::printf("\nOne keyword in twenty finds a vendor's registrations (the finds grow too):\n");
    Table(reg, view, walk, [](int count) { return Keywords(count, std::max(1, count / 20)); });
    return 0;
}
