// A registry whose deletes never reach the one below it: each deleted key is only remembered,
// and from then on this registry answers as if it were gone (it cannot be opened, enumerations
// pass over it, deleting it again finds nothing). The preview runs the removal on it where the
// registry has no copy of its own that could be left unsaved (Windows' registry), so that what
// it lists is what the removal would delete, and nothing is deleted.
//
// Keys are told apart by their paths below the root they were opened from, letter case aside
// (as the cleaner folds it); the removal reaches each key by one path, so one key reached by two
// (HKEY_CLASSES_ROOT and HKEY_LOCAL_MACHINE\Software\Classes) is not a case it meets.
#pragma once

#include "platform/registry/registry_api.h"

#include <map>
#include <set>
#include <string>

namespace cleaner {

class DryRunRegistry : public platform::RegistryApi {
public:
    explicit DryRunRegistry(platform::RegistryApi& inner) : inner_(inner) {}

    using HKEY = platform::HKEY;
    using DWORD = platform::DWORD;
    using LONG = platform::LONG;

    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                       HKEY* result) override;
    LONG RegCloseKey(HKEY key) override;
    LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                          unsigned char* data, DWORD* dataSize) override {
        return inner_.RegQueryValueExA(key, valueName, reserved, type, data, dataSize);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       char* className, DWORD* classSize, std::uint64_t* lastWriteTime) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       DWORD* type, unsigned char* data, DWORD* dataSize) override {
        return inner_.RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
    }
    LONG RegDeleteKeyA(HKEY key, const char* subKey) override;
    DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                         char* buffer, DWORD size, void* arguments) override {
        return inner_.FormatMessageA(flags, source, messageId, languageId, buffer, size, arguments);
    }
    LONG QueryNarrowLoss(HKEY key, DWORD* loss) override { return inner_.QueryNarrowLoss(key, loss); }
    LONG QueryKeyClass(HKEY key, bool* hasClass) override { return inner_.QueryKeyClass(key, hasClass); }
    bool HasWow64Node() const override { return inner_.HasWow64Node(); }

private:
    // The folded path of a key below a handle, "" for a bad handle.
    std::string PathBelow(HKEY key, const char* subKey) const;
    // Whether the key at path, or a key above it, was deleted here.
    bool Deleted(const std::string& path) const;
    // Whether the key has a subkey that was not deleted here.
    bool HasSubkeys(HKEY key);

    platform::RegistryApi& inner_;
    std::map<HKEY, std::string> paths_;  // of the handles opened through this registry
    std::set<std::string> deleted_;
};

}  // namespace cleaner
