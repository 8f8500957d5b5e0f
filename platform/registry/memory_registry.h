// A registry held in memory that behaves as Windows does for every operation of RegistryApi:
// names compared without regard to case and kept as written, subkeys in Wine's sorted order,
// values in stored order, the same result codes. HKEY_CLASSES_ROOT is
// HKEY_LOCAL_MACHINE\Software\Classes, as in a Wine prefix, unless it merges the user's classes
// as Windows does (MergeUserClasses). Tests build their registries with it, and the
// Wine-prefix store keeps a loaded prefix in it.
#pragma once

#include "platform/registry/registry_api.h"

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace platform {

namespace detail {
class Tree;
}

class MemoryRegistry : public RegistryApi {
public:
    MemoryRegistry();
    ~MemoryRegistry() override;
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    // --- Building. Paths are narrow (Windows-1252), components joined by one backslash, below a
    // predefined root; missing keys on the way are created.
    void CreateKey(HKEY root, std::string_view path);
    // Stores a value with its exact bytes as the narrow functions return them (for string types:
    // Windows-1252 text with its terminating NUL).
    void SetValue(HKEY root, std::string_view path, std::string_view name, DWORD type,
                  std::string_view bytes);
    void SetString(HKEY root, std::string_view path, std::string_view name, std::string_view text);
    void SetDword(HKEY root, std::string_view path, std::string_view name, std::uint32_t value);
    bool KeyExists(HKEY root, std::string_view path) const;
    // Whether this registry has a 32-bit node (see RegistryApi::HasWow64Node); false at first.
    void SetWow64Node(bool present);
    // Windows' HKEY_CLASSES_ROOT (see RegistryApi::MergesUserClasses): a key opened below it is
    // HKEY_CURRENT_USER\Software\Classes' copy when there is one, else the machine's; its values
    // are that copy's, its subkeys those of both copies; a delete takes the user's copy first.
    // Building below HKEY_CLASSES_ROOT still builds the machine's copy. False at first.
    void MergeUserClasses(bool merge);

    // Windows' protected keys: this key and every key below it grant only `granted` (rights
    // of the access mask, the view flags aside). An open that asks for more gives 5, and so
    // does a delete when DELETE is not granted.
    void GrantOnly(HKEY root, std::string_view path, DWORD granted);

    // Handles opened and not yet closed (to catch leaks in tests).
    std::size_t OpenHandleCount() const;

    // The keys themselves, for the Wine-prefix store that loads into and saves from them.
    detail::Tree& Tree();
    // Puts the keys of `keys` in place of this registry's own, which `keys` receives. Handles
    // opened before are closed (they named keys of the old tree).
    void SwapTree(detail::Tree& keys);

    // --- RegistryApi
    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD samDesired,
                       HKEY* result) override;
    LONG RegCloseKey(HKEY key) override;
    LONG RegQueryValueExA(HKEY key, const char* valueName, DWORD* reserved, DWORD* type,
                          unsigned char* data, DWORD* dataSize) override;
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       char* className, DWORD* classSize, std::uint64_t* lastWriteTime) override;
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       DWORD* type, unsigned char* data, DWORD* dataSize) override;
    LONG RegDeleteKeyA(HKEY key, const char* subKey) override;
    DWORD FormatMessageA(DWORD flags, const void* source, DWORD messageId, DWORD languageId,
                         char* buffer, DWORD size, void* arguments) override;
    bool HasWow64Node() const override;
    bool MergesUserClasses() const override;

    // --- Narrow text and short name buffers (registry_api.h): what the narrow functions give
    // out inexactly, and, for testing callers, Windows' answer to a name buffer that is too
    // small instead of this registry's own (which tells the size needed).
    enum class NameBufferRules { kTellNeededSize, kWindows };
    void SetNameBufferRules(NameBufferRules rules);
    LONG QueryNarrowLoss(HKEY key, DWORD* loss) override;
    LONG QueryKeyClass(HKEY key, bool* hasClass) override;
    // Stores a REG_SZ value given in UTF-16, below a path given in UTF-16 (keys on the way are
    // created), for text that the narrow code page cannot carry.
    void SetStringW(HKEY root, std::u16string_view path, std::u16string_view name,
                    std::u16string_view text);

private:
    // A name handed out by RegEnumKeyExA (cutOff false) or RegEnumValueA (cutOff true), under
    // the chosen NameBufferRules.
    LONG CopyEnumName(const std::string& name, char* buffer, DWORD* size, bool cutOff) const;
    NameBufferRules nameBufferRules_ = NameBufferRules::kTellNeededSize;

    struct State;
    std::unique_ptr<State> state_;
};

}  // namespace platform
