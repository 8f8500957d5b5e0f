// Helpers shared by the store's tests.
#pragma once

#include "platform/registry/registry_tree.h"
#include "platform/wine/wine_reg_file.h"

#include <string>
#include <vector>

namespace storetest {

// Loads text into a fresh tree's machine hive; on a problem returns false and fills it.
inline bool Load(platform::detail::Tree& tree, const std::string& text, std::string_view& header,
                 platform::detail::FileProblem& problem) {
    const std::string& kept = tree.KeepText(text);
    platform::detail::LoadedFile loaded;
    const bool ok = platform::detail::LoadHiveFile(tree, platform::detail::Hive::kMachine, kept, loaded, problem);
    header = loaded.header;
    return ok;
}

// The hive as the store would save it.
inline std::string Write(platform::detail::Tree& tree, std::string_view header,
                         platform::detail::Hive hive = platform::detail::Hive::kMachine) {
    std::string out, all;
    platform::detail::WriteHiveFile(tree, hive, header, out, [&](std::string& chunk) {
        all += chunk;
        chunk.clear();
    });
    return all;
}

// Marks every key to be written anew from its parsed values, so that writing shows what the
// writer makes of them rather than the blocks read.
inline void RewriteAll(platform::detail::Tree& tree, platform::detail::Hive hive) {
    std::vector<platform::detail::Key*> pending{&tree.Root(hive)};
    while (!pending.empty()) {
        platform::detail::Key* key = pending.back();
        pending.pop_back();
        tree.Change(*key);
        for (auto* sub : key->Subkeys()) pending.push_back(sub);
    }
}

// The names of the key's subkeys, as the narrow enumeration gives them.
inline std::vector<std::string> SubkeyNames(platform::RegistryApi& reg, platform::HKEY key) {
    std::vector<std::string> names;
    char name[256];
    for (platform::DWORD i = 0;; ++i) {
        platform::DWORD size = sizeof name;
        if (reg.RegEnumKeyExA(key, i, name, &size, nullptr, nullptr, nullptr, nullptr) != 0) break;
        names.emplace_back(name);
    }
    return names;
}

}  // namespace storetest
