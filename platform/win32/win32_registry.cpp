#include "platform/win32/win32_registry.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <vector>

namespace platform {
namespace {

using WinKey = ::HKEY;

// The contract's handles for the first predefined root and the first handle of an open key.
constexpr HKEY kFirstPredefined = 0x80000000u;
constexpr HKEY kLastPredefined = 0x80000006u;  // HKEY_DYN_DATA
constexpr HKEY kHandleStep = 4;

// A name never longer than the registry allows: 255 characters for a key, 16,383 for a value;
// anything that claims more is not grown for.
constexpr ::DWORD kLongestName = 16384;
// Each read that is told 234 grows its buffer and asks again, this many times at most: a
// registry that changes under the walk cannot keep it asking for ever.
constexpr int kMostReads = 16;

bool IsPredefined(HKEY key) { return key >= kFirstPredefined && key <= kLastPredefined; }

// Windows defines the predefined roots as these values sign-extended to a pointer.
WinKey PredefinedKey(HKEY key) {
    return reinterpret_cast<WinKey>(
        static_cast<ULONG_PTR>(static_cast<LONG_PTR>(static_cast<std::int32_t>(key))));
}

bool OnA64BitSystem() {
#ifdef _WIN64
    return true;
#else
    BOOL wow64 = FALSE;
    return ::IsWow64Process(::GetCurrentProcess(), &wow64) && wow64;
#endif
}

// Whether the narrow functions give this text out exactly: in the code page they convert to,
// every character has its own narrow form (no best fit, no default character). A name must hold
// no NUL as well, since the narrow functions end it there.
bool ExactInCodePage(const wchar_t* text, std::size_t length) {
    if (length == 0) return true;
    const int wide = static_cast<int>(length);
    std::vector<char> narrow(length * 4 + 4);
    const int size = static_cast<int>(narrow.size());
    const UINT codePage = ::GetACP();
    if (codePage == CP_UTF8) {
        // Every character has a UTF-8 form; only a broken surrogate pair has none.
        return ::WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, wide, narrow.data(),
                                     size, nullptr, nullptr) > 0;
    }
    BOOL usedDefault = FALSE;
    const int written = ::WideCharToMultiByte(codePage, WC_NO_BEST_FIT_CHARS, text, wide,
                                              narrow.data(), size, nullptr, &usedDefault);
    return written > 0 && !usedDefault;
}

bool NameExact(const wchar_t* name, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) {
        if (name[i] == L'\0') return false;
    }
    return ExactInCodePage(name, length);
}

bool IsText(::DWORD type) { return type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ; }

bool TextExact(const unsigned char* data, ::DWORD size) {
    if (size % 2 != 0) return false;
    std::vector<wchar_t> text(size / 2);
    for (std::size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<wchar_t>(data[2 * i] | data[2 * i + 1] << 8);
    }
    return ExactInCodePage(text.data(), text.size());
}

// A name buffer told 234 without the size it needs: twice as large, to the registry's limit.
bool GrowName(std::vector<wchar_t>& name) {
    if (name.size() >= kLongestName) return false;
    name.resize(std::min<std::size_t>(name.size() * 2, kLongestName));
    return true;
}

// Looks at each subkey's name; ERROR_SUCCESS when the walk reached the end.
LONG CheckSubkeyNames(WinKey key, ::DWORD longest, DWORD& loss) {
    std::vector<wchar_t> name(longest + 1);
    for (::DWORD index = 0;;) {
        LONG result = ERROR_MORE_DATA;
        ::DWORD length = 0;
        for (int read = 0; result == ERROR_MORE_DATA && read < kMostReads; ++read) {
            length = static_cast<::DWORD>(name.size());
            result = ::RegEnumKeyExW(key, index, name.data(), &length, nullptr, nullptr, nullptr,
                                     nullptr);
            if (result == ERROR_MORE_DATA && !GrowName(name)) break;
        }
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) return result;
        if (!NameExact(name.data(), length)) loss |= kNarrowNamesInexact;
        ++index;
    }
}

// Looks at each value's name and, for the string types, its data.
LONG CheckValues(WinKey key, ::DWORD longestName, ::DWORD longestData, DWORD& loss) {
    std::vector<wchar_t> name(longestName + 1);
    std::vector<unsigned char> data(longestData + 2);
    for (::DWORD index = 0;;) {
        LONG result = ERROR_MORE_DATA;
        ::DWORD length = 0;
        ::DWORD type = 0;
        ::DWORD size = 0;
        for (int read = 0; result == ERROR_MORE_DATA && read < kMostReads; ++read) {
            length = static_cast<::DWORD>(name.size());
            size = static_cast<::DWORD>(data.size());
            result = ::RegEnumValueW(key, index, name.data(), &length, nullptr, &type,
                                     data.data(), &size);
            if (result != ERROR_MORE_DATA) break;
            // The data's size is told; a name's may not be, so it grows when the data fitted.
            if (size > data.size()) {
                data.resize(size);
            } else if (!GrowName(name)) {
                break;
            }
        }
        if (result == ERROR_NO_MORE_ITEMS) return ERROR_SUCCESS;
        if (result != ERROR_SUCCESS) return result;
        if (!NameExact(name.data(), length)) loss |= kNarrowNamesInexact;
        if (IsText(type) && !TextExact(data.data(), size)) loss |= kNarrowTextInexact;
        ++index;
    }
}

}  // namespace

Win32Registry::Win32Registry()
    : wow64Node_(OnA64BitSystem()),
      view_(wow64Node_ ? KEY_WOW64_64KEY : 0) {}

Win32Registry::~Win32Registry() {
    for (void* key : keys_) {
        if (key != nullptr) ::RegCloseKey(static_cast<WinKey>(key));
    }
}

void* Win32Registry::Real(HKEY key) const {
    if (IsPredefined(key)) return PredefinedKey(key);
    if (key == 0 || key % kHandleStep != 0) return nullptr;
    const std::size_t slot = key / kHandleStep - 1;
    return slot < keys_.size() ? keys_[slot] : nullptr;
}

HKEY Win32Registry::Adopt(void* real) {
    std::size_t slot = keys_.size();
    if (freeSlots_.empty()) {
        keys_.push_back(real);
    } else {
        slot = freeSlots_.back();
        freeSlots_.pop_back();
        keys_[slot] = real;
    }
    return static_cast<HKEY>((slot + 1) * kHandleStep);
}

LONG Win32Registry::RegOpenKeyExA(HKEY key, const char* subKey, DWORD options,
                                  DWORD samDesired, HKEY* result) {
    const auto parent = static_cast<WinKey>(Real(key));
    if (parent == nullptr) return ERROR_INVALID_HANDLE;
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    WinKey opened = nullptr;
    const LONG status = ::RegOpenKeyExA(parent, subKey, options, samDesired | view_, &opened);
    if (status != ERROR_SUCCESS) return status;
    // An empty path below a predefined root gives that root's own handle.
    *result = opened == parent && IsPredefined(key) ? key : Adopt(opened);
    return ERROR_SUCCESS;
}

LONG Win32Registry::RegCloseKey(HKEY key) {
    if (IsPredefined(key)) return ERROR_SUCCESS;
    void* real = Real(key);
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    const std::size_t slot = key / kHandleStep - 1;
    keys_[slot] = nullptr;
    freeSlots_.push_back(slot);
    return ::RegCloseKey(static_cast<WinKey>(real));
}

// The contract's DWORD is Windows' DWORD in width but not in type: each in/out size goes
// through a variable of Windows' own type.
LONG Win32Registry::RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type,
                                     unsigned char* data, DWORD* dataSize) {
    const auto real = static_cast<WinKey>(Real(key));
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    ::DWORD winType = type != nullptr ? *type : 0;
    ::DWORD winSize = dataSize != nullptr ? *dataSize : 0;
    const LONG status = ::RegQueryValueExA(real, valueName, nullptr, type ? &winType : nullptr,
                                           data, dataSize ? &winSize : nullptr);
    if (type != nullptr) *type = winType;
    if (dataSize != nullptr) *dataSize = winSize;
    return status;
}

LONG Win32Registry::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*,
                                  char* className, DWORD* classSize,
                                  std::uint64_t* lastWriteTime) {
    const auto real = static_cast<WinKey>(Real(key));
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    ::DWORD winNameSize = nameSize != nullptr ? *nameSize : 0;
    // A class size of 0 asks for no class. Windows would take it for a buffer too small for
    // even the NUL and answer 234 without the name, so no class buffer goes to it then.
    const bool wantsClass = className != nullptr && classSize != nullptr && *classSize > 0;
    ::DWORD winClassSize = wantsClass ? *classSize : 0;
    FILETIME written{};
    const LONG status =
        ::RegEnumKeyExA(real, index, name, nameSize ? &winNameSize : nullptr, nullptr,
                        wantsClass ? className : nullptr, wantsClass ? &winClassSize : nullptr,
                        &written);
    if (nameSize != nullptr) *nameSize = winNameSize;
    if (wantsClass) *classSize = winClassSize;
    if (lastWriteTime != nullptr && status == ERROR_SUCCESS) {
        *lastWriteTime =
            static_cast<std::uint64_t>(written.dwHighDateTime) << 32 | written.dwLowDateTime;
    }
    return status;
}

LONG Win32Registry::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*,
                                  DWORD* type, unsigned char* data, DWORD* dataSize) {
    const auto real = static_cast<WinKey>(Real(key));
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    ::DWORD winNameSize = nameSize != nullptr ? *nameSize : 0;
    ::DWORD winType = type != nullptr ? *type : 0;
    ::DWORD winSize = dataSize != nullptr ? *dataSize : 0;
    const LONG status = ::RegEnumValueA(real, index, name, nameSize ? &winNameSize : nullptr,
                                        nullptr, type ? &winType : nullptr, data,
                                        dataSize ? &winSize : nullptr);
    if (nameSize != nullptr) *nameSize = winNameSize;
    if (type != nullptr) *type = winType;
    if (dataSize != nullptr) *dataSize = winSize;
    return status;
}

// RegDeleteKeyA deletes in the program's own view; on a 64-bit system the i686 program's would
// be the 32-bit one, so the view is named there as every open names it (a 32-bit Windows has
// one view, and no view flag).
LONG Win32Registry::RegDeleteKeyA(HKEY key, const char* subKey) {
    const auto real = static_cast<WinKey>(Real(key));
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    return ::RegDeleteKeyExA(real, subKey != nullptr ? subKey : "", view_, 0);
}

// Without arguments the inserts of a text (%1) stay as they are: FormatMessageA would
// otherwise read arguments that are not there.
DWORD Win32Registry::FormatMessageA(DWORD flags, const void* source, DWORD messageId,
                                    DWORD languageId, char* buffer, DWORD size,
                                    void* arguments) {
    if (arguments == nullptr) flags |= FORMAT_MESSAGE_IGNORE_INSERTS;
    return ::FormatMessageA(flags, source, messageId, languageId, buffer, size,
                            static_cast<va_list*>(arguments));
}

LONG Win32Registry::QueryNarrowLoss(HKEY key, DWORD* loss) {
    if (loss == nullptr) return ERROR_INVALID_PARAMETER;
    *loss = 0;
    const auto real = static_cast<WinKey>(Real(key));
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    ::DWORD longestSubkey = 0;
    ::DWORD longestValueName = 0;
    ::DWORD longestData = 0;
    LONG status = ::RegQueryInfoKeyW(real, nullptr, nullptr, nullptr, nullptr, &longestSubkey,
                                     nullptr, nullptr, &longestValueName, &longestData, nullptr,
                                     nullptr);
    if (status != ERROR_SUCCESS) return status;
    DWORD found = 0;
    status = CheckSubkeyNames(real, longestSubkey, found);
    if (status == ERROR_SUCCESS) status = CheckValues(real, longestValueName, longestData, found);
    *loss = found;
    return status;
}

LONG Win32Registry::QueryKeyClass(HKEY key, bool* hasClass) {
    if (hasClass == nullptr) return ERROR_INVALID_PARAMETER;
    *hasClass = false;
    const auto real = static_cast<WinKey>(Real(key));
    if (real == nullptr) return ERROR_INVALID_HANDLE;
    // A key has a class name when it is not empty; one longer than the buffer is one too.
    wchar_t name[256];
    ::DWORD classLength = sizeof name / sizeof name[0];
    LONG status = ::RegQueryInfoKeyW(real, name, &classLength, nullptr, nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr, nullptr, nullptr);
    if (status == ERROR_MORE_DATA) {
        *hasClass = true;
        return ERROR_SUCCESS;
    }
    if (status == ERROR_SUCCESS) *hasClass = classLength > 0;
    return status;
}

}  // namespace platform
