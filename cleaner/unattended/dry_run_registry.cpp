#include "cleaner/unattended/dry_run_registry.h"

#include "cleaner/registry/case_fold.h"

#include <string_view>
#include <vector>

namespace cleaner {

namespace {

using platform::kErrorAccessDenied;
using platform::kErrorFileNotFound;
using platform::kErrorInvalidHandle;
using platform::kErrorMoreData;
using platform::kErrorNoMoreItems;
using platform::kErrorSuccess;

std::string RootName(platform::HKEY key) {
    switch (key) {
        case platform::kHkeyClassesRoot: return "HKCR";
        case platform::kHkeyCurrentUser: return "HKCU";
        case platform::kHkeyLocalMachine: return "HKLM";
        default: return {};
    }
}

}  // namespace

std::string DryRunRegistry::PathBelow(HKEY key, const char* subKey) const {
    std::string path = RootName(key);
    if (path.empty()) {
        const auto opened = paths_.find(key);
        if (opened == paths_.end()) return {};
        path = opened->second;
    }
    std::string below = FoldCase(subKey ? subKey : "");
    while (!below.empty() && below.back() == '\\') below.pop_back();
    if (!below.empty()) path += "\\" + below;
    return path;
}

bool DryRunRegistry::Deleted(const std::string& path) const {
    std::string_view key = path;
    while (true) {
        if (deleted_.count(std::string(key)) != 0) return true;
        const std::size_t parent = key.rfind('\\');
        if (parent == std::string_view::npos) return false;
        key = key.substr(0, parent);
    }
}

DryRunRegistry::LONG DryRunRegistry::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                                   HKEY* result) {
    const std::string path = PathBelow(key, subKey);
    if (path.empty()) return kErrorInvalidHandle;
    if (Deleted(path)) return kErrorFileNotFound;
    const LONG rc = inner_.RegOpenKeyExA(key, subKey, options, samDesired, result);
    if (rc == kErrorSuccess) paths_[*result] = path;
    return rc;
}

DryRunRegistry::LONG DryRunRegistry::RegCloseKey(HKEY key) {
    paths_.erase(key);
    return inner_.RegCloseKey(key);
}

DryRunRegistry::LONG DryRunRegistry::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize,
                                   DWORD* reserved, char* className, DWORD* classSize,
                                   std::uint64_t* lastWriteTime) {
    const std::string path = PathBelow(key, nullptr);
    if (deleted_.empty() || path.empty()) {
        return inner_.RegEnumKeyExA(key, index, name, nameSize, reserved, className, classSize,
                                    lastWriteTime);
    }
    // The index-th subkey of those not deleted here: each one below is looked at by its name.
    DWORD visible = 0;
    std::vector<char> found(16384);
    for (DWORD real = 0;; ++real) {
        DWORD size = static_cast<DWORD>(found.size());
        const LONG rc = inner_.RegEnumKeyExA(key, real, found.data(), &size, nullptr, nullptr,
                                             nullptr, nullptr);
        if (rc == kErrorNoMoreItems) return rc;
        if (rc != kErrorSuccess && rc != kErrorMoreData) return rc;
        if (rc == kErrorSuccess && Deleted(path + "\\" + FoldCase(std::string(found.data(), size)))) continue;
        if (visible++ == index) {
            return inner_.RegEnumKeyExA(key, real, name, nameSize, reserved, className, classSize,
                                        lastWriteTime);
        }
    }
}

bool DryRunRegistry::HasSubkeys(HKEY key) {
    char name[2];
    DWORD size = sizeof name;
    const LONG rc = RegEnumKeyExA(key, 0, name, &size, nullptr, nullptr, nullptr, nullptr);
    return rc == kErrorSuccess || rc == kErrorMoreData;
}

DryRunRegistry::LONG DryRunRegistry::RegDeleteKeyA(HKEY key, const char* subKey) {
    const std::string path = PathBelow(key, subKey);
    if (path.empty()) return kErrorInvalidHandle;
    // As the registry itself would answer: a key that is not there, or that still has subkeys,
    // is not deleted.
    HKEY target = 0;
    const LONG opened = RegOpenKeyExA(key, subKey, 0, platform::kKeyRead, &target);
    if (opened != kErrorSuccess) return opened;
    const bool hasSubkeys = HasSubkeys(target);
    RegCloseKey(target);
    if (hasSubkeys) return kErrorAccessDenied;
    deleted_.insert(path);
    return kErrorSuccess;
}

}  // namespace cleaner
