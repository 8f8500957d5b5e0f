// libFuzzer target for the registry file loader (built with -DSORVEL_FUZZ=ON and clang).
//
// Whatever the bytes, loading must not crash; a file that loads must be readable through the
// Win32 calls, and what the writer makes of it must load again and be stable when written anew.
#include "platform/registry/memory_registry.h"
#include "store_test_util.h"

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

// Walks every key and value through the narrow calls, as the cleaner's searches do.
void ReadEverything(platform::RegistryApi& reg, platform::HKEY key, int depth) {
    char name[256];
    unsigned char data[300];
    for (platform::DWORD i = 0;; ++i) {
        platform::DWORD nameSize = sizeof name, type = 0, dataSize = sizeof data;
        const platform::LONG rc = reg.RegEnumValueA(key, i, name, &nameSize, nullptr, &type, data, &dataSize);
        if (rc != platform::kErrorSuccess && rc != platform::kErrorMoreData) break;
    }
    if (depth > 64) return;
    for (platform::DWORD i = 0;; ++i) {
        platform::DWORD nameSize = sizeof name;
        char cls[64];
        platform::DWORD classSize = sizeof cls;
        std::uint64_t time = 0;
        if (reg.RegEnumKeyExA(key, i, name, &nameSize, nullptr, cls, &classSize, &time) != platform::kErrorSuccess)
            break;
        platform::HKEY sub = 0;
        if (reg.RegOpenKeyExA(key, name, 0, 0x3F, &sub) != platform::kErrorSuccess) continue;
        ReadEverything(reg, sub, depth + 1);
        reg.RegCloseKey(sub);
    }
}

std::string LoadAndRewrite(const std::string& text, bool& loaded) {
    platform::MemoryRegistry reg;
    std::string_view header;
    platform::detail::FileProblem problem;
    loaded = storetest::Load(reg.Tree(), text, header, problem);
    if (!loaded) return {};
    storetest::RewriteAll(reg.Tree(), platform::detail::Hive::kMachine);
    return storetest::Write(reg.Tree(), header);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* bytes, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(bytes), size);
    {
        platform::MemoryRegistry reg;
        std::string_view header;
        platform::detail::FileProblem problem;
        if (!storetest::Load(reg.Tree(), text, header, problem)) return 0;
        ReadEverything(reg, platform::kHkeyLocalMachine, 0);
        // Unchanged, the file is written as it was read, up to blank lines between blocks.
        storetest::Write(reg.Tree(), header);
    }
    bool loaded = false;
    const std::string first = LoadAndRewrite(text, loaded);
    const std::string second = LoadAndRewrite(first, loaded);
    if (!loaded) std::abort();  // the writer wrote something the loader refuses
    const std::string third = LoadAndRewrite(second, loaded);
    if (!loaded || third != second) std::abort();  // writing is not stable
    return 0;
}
