// Pieces shared by the files of modRegFuncs; not for use outside the layer.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "platform/registry/registry_api.h"

#include <string>
#include <utility>
#include <vector>

namespace cleaner::detail {

// Keys are opened for what the operation does with them. The searches, the find and the export
// only read: many class keys on Windows grant administrators nothing more (TrustedInstaller
// owns them), and asking for more there is refused with 5, one report per key.
inline constexpr platform::DWORD kReadAccess = platform::kKeyRead;
// The delete walks the tree (enumerate, and query for a link) and deletes each key it opened.
// Asking for DELETE when a key is opened means a key the user may not delete is reported
// where the walk meets it, instead of failing silently at the delete.
inline constexpr platform::DWORD kDeleteAccess =
    platform::kAccessDelete | platform::kKeyEnumerateSubKeys | platform::kKeyQueryValue;

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
