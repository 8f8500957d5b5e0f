// A Wine prefix of two registry files in a temporary folder, for tests of the command-line mode
// and of what a removal leaves in the files. Keys are added through the store itself, so the
// files are what the store writes and loads.
#pragma once

#include "platform/registry/memory_registry.h"
#include "platform/wine/wine_store.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>

namespace removal_test {

class TempPrefix {
public:
    TempPrefix() {
        char pattern[] = "/tmp/sorvel-removal-prefix-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) throw std::runtime_error("mkdtemp failed");
        path_ = pattern;
        Write("system.reg",
              "WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\Machine\n\n#arch=win64\n");
        Write("user.reg",
              "WINE REGISTRY Version 2\n;; All keys relative to "
              "REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n");
    }
    ~TempPrefix() { std::filesystem::remove_all(path_); }
    TempPrefix(const TempPrefix&) = delete;
    TempPrefix& operator=(const TempPrefix&) = delete;

    const std::string& Path() const { return path_; }

    // Opens the prefix, lets build change its registry, and saves it.
    void Change(const std::function<void(platform::MemoryRegistry&)>& build) const {
        auto store = platform::WinePrefixStore::Open(path_);
        build(dynamic_cast<platform::MemoryRegistry&>(store->Registry()));
        store->Save();
    }

    // Whether the key exists in the saved files.
    bool KeyExists(platform::HKEY root, const std::string& path) const {
        auto store = platform::WinePrefixStore::Open(path_);
        return dynamic_cast<platform::MemoryRegistry&>(store->Registry()).KeyExists(root, path);
    }

    std::string Read(const std::string& name) const {
        std::ifstream in(path_ + "/" + name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

private:
    void Write(const std::string& name, const std::string& text) const {
        std::ofstream(path_ + "/" + name, std::ios::binary) << text;
    }

    std::string path_;
};

}  // namespace removal_test
