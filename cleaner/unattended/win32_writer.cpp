// --restore on Windows: the file's keys and values written with advapi32, in the 64-bit view on a
// 64-bit system (as the removal works there: the 32-bit node is reached by its path), so a
// backup's Wow6432Node keys go back into the 32-bit node. The narrow functions take the file's
// Windows-1252 text as the removal's reads gave it.
#include "cleaner/unattended/restore.h"

#include <windows.h>

namespace cleaner {

namespace {

HKEY RealRoot(platform::HKEY root) {
    if (root == platform::kHkeyClassesRoot) return HKEY_CLASSES_ROOT;
    if (root == platform::kHkeyCurrentUser) return HKEY_CURRENT_USER;
    return HKEY_LOCAL_MACHINE;
}

std::string SystemText(LONG code) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string out = length > 0 && text != nullptr ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr) ::LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == '.')) out.pop_back();
    return out;
}

}  // namespace

bool WriteRegFileToWindows(const std::vector<RegFileKey>& keys, std::string& error) {
    for (const RegFileKey& key : keys) {
        HKEY opened = nullptr;
        LONG status = ::RegCreateKeyExA(RealRoot(key.root), key.path.c_str(), 0, nullptr, 0,
                                        KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr, &opened, nullptr);
        if (status != ERROR_SUCCESS) {
            error = "the key " + key.name + " could not be made: " + SystemText(status);
            return false;
        }
        for (const RegFileValue& value : key.values) {
            status = ::RegSetValueExA(opened, value.name.c_str(), 0, value.type,
                                      reinterpret_cast<const BYTE*>(value.bytes.data()),
                                      static_cast<DWORD>(value.bytes.size()));
            if (status != ERROR_SUCCESS) {
                error = "a value of " + key.name + " could not be written: " + SystemText(status);
                ::RegCloseKey(opened);
                return false;
            }
        }
        ::RegCloseKey(opened);
    }
    return true;
}

}  // namespace cleaner
