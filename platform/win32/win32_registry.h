// The registry of the Windows the program runs on, behind the contract of registry_api.h: each
// operation goes to advapi32's narrow function of the same name, and the system text to the
// real FormatMessageA.
//
// The contract's key handles are 32 bits wide; a 64-bit Windows gives 64-bit ones. So each key
// this object opens gets a small handle of its own that stands for the one Windows gave; the
// predefined roots keep their values. On a 64-bit system (the x86_64 program, or the i686 one
// under WOW64) every key is opened, and deleted, in the 64-bit view, so both programs see and
// do the same, and the 32-bit node is reached by its path (Wow6432Node).
#pragma once

#include "platform/registry/registry_api.h"

#include <cstddef>
#include <vector>

namespace platform {

class Win32Registry : public RegistryApi {
public:
    Win32Registry();
    ~Win32Registry() override;  // closes the keys that were left open
    Win32Registry(const Win32Registry&) = delete;
    Win32Registry& operator=(const Win32Registry&) = delete;

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
    LONG QueryNarrowLoss(HKEY key, DWORD* loss) override;
    LONG QueryKeyClass(HKEY key, bool* hasClass) override;
    bool HasWow64Node() const override { return wow64Node_; }
    // Windows merges the user's classes into HKEY_CLASSES_ROOT (Wine does not, but there a user
    // copy is simply never found below it, and removing it by its own root is still right).
    bool MergesUserClasses() const override { return true; }

private:
    // Windows' handle for a contract handle; null when it stands for nothing open.
    void* Real(HKEY key) const;
    // A contract handle for a key Windows opened.
    HKEY Adopt(void* real);

    bool wow64Node_;
    DWORD view_;  // KEY_WOW64_64KEY on a 64-bit system, else 0
    std::vector<void*> keys_;  // Windows' handle of each open key; null in a free slot
    std::vector<std::size_t> freeSlots_;
};

}  // namespace platform
