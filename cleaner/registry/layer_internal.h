// Pieces shared by the files of modRegFuncs; not for use outside the layer.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "platform/registry/registry_api.h"

#include <string>
#include <utility>
#include <vector>

namespace cleaner::detail {

// Query value, set value, create subkey, enumerate subkeys, notify, create link: enough to
// read, walk and delete below a key, and less than all-access, which would be refused on keys
// that only an administrator may change.
inline constexpr platform::DWORD kOpenAccess = 0x3F;

// keyPath alone when subKey is empty, else keyPath + "\" + subKey. Nothing else is changed.
inline std::string JoinPath(const std::string& keyPath, const std::string& subKey) {
    if (subKey.empty()) {
        return keyPath;
    }
    std::string path;
    path.reserve(keyPath.size() + 1 + subKey.size());
    path.append(keyPath).append(1, '\\').append(subKey);
    return path;
}

// An open key of a tree walk. The walk closes its keys through RegClose as it leaves them;
// this closes what is still open when the walk is cut short by a failure.
class ScopedKey {
public:
    ScopedKey(platform::RegistryApi& api, platform::HKEY handle) : api_(&api), handle_(handle) {}
    ScopedKey(ScopedKey&& other) noexcept
        : api_(other.api_), handle_(other.handle_), owned_(std::exchange(other.owned_, false)) {}
    ScopedKey& operator=(ScopedKey&&) = delete;
    ScopedKey(const ScopedKey&) = delete;
    ScopedKey& operator=(const ScopedKey&) = delete;
    ~ScopedKey() {
        if (owned_) {
            try {
                api_->RegCloseKey(handle_);
            } catch (...) {
                // Already leaving on a failure; the report of that failure is what counts.
            }
        }
    }

    platform::HKEY Get() const { return handle_; }
    platform::HKEY Release() {
        owned_ = false;
        return handle_;
    }

private:
    platform::RegistryApi* api_;
    platform::HKEY handle_;
    bool owned_ = true;
};

}  // namespace cleaner::detail

namespace cleaner {

// One value of the export's walk, and the buffers that read it, kept from value to value so
// that a tree is read without an allocation per value.
struct modRegFuncs::WholeValue {
    std::string name;
    platform::DWORD type = 0;
    std::string bytes;
    std::vector<char> nameBuffer = std::vector<char>(256);
    std::vector<unsigned char> dataBuffer = std::vector<unsigned char>(4096);
};

}  // namespace cleaner
