// RegOpen, RegClose, RegGet and the two reports every operation of the layer shows.
#include "cleaner/registry/modRegFuncs.h"

#include "cleaner/registry/failure_reports.h"
#include "cleaner/registry/layer_internal.h"

#include <algorithm>
#include <array>

namespace cleaner {

namespace {

using platform::DWORD;
using platform::LONG;

constexpr DWORD kGetBufferSize = 255;     // the searches rely on longer data not being read
constexpr DWORD kSystemTextSize = 255;

}  // namespace

modRegFuncs::modRegFuncs(platform::RegistryApi& api, RegistryUi& ui) : api_(api), ui_(ui) {}

bool modRegFuncs::RegOpen(HKEY root, const std::string& keyPath, const std::string& subKey,
                          HKEY& handle) {
    try {
        const std::string path = detail::JoinPath(keyPath, subKey);
        return OpenKey(root, path.c_str(), 0, detail::kReadAccess, handle) ==
               platform::kErrorSuccess;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure("Open - error #", failure);
        return false;
    }
}

LONG modRegFuncs::OpenKey(HKEY root, const char* path, DWORD options, DWORD access,
                          HKEY& handle) {
    try {
        HKEY opened = 0;
        const LONG result = api_.RegOpenKeyExA(root, path, options, access, &opened);
        if (result == platform::kErrorSuccess) {
            handle = opened;
        } else if (result != platform::kErrorFileNotFound) {
            ShowRegistryFailure("Open Reg:", path, result);
        }
        return result;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure("Open - error #", failure);
        return -1;
    }
}

bool modRegFuncs::IsLinkKey(HKEY root, const std::string& keyPath, const std::string& subKey) {
    try {
        const std::string path = detail::JoinPath(keyPath, subKey);
        HKEY opened = 0;
        if (api_.RegOpenKeyExA(root, path.c_str(), platform::kRegOptionOpenLink,
                               detail::kReadAccess, &opened) != platform::kErrorSuccess) {
            return false;
        }
        detail::ScopedKey key(api_, opened);
        return IsLink(key.Get());
    } catch (const std::exception&) {
        return false;
    }
}

// A link key holds one value, SymbolicLinkValue of type REG_LINK, naming its target. What the
// target is does not matter: a link is never followed, whatever it points to.
bool modRegFuncs::IsLink(HKEY handle) {
    DWORD type = 0;
    const LONG result =
        api_.RegQueryValueExA(handle, "SymbolicLinkValue", nullptr, &type, nullptr, nullptr);
    return result == platform::kErrorSuccess && type == platform::kRegLink;
}

bool modRegFuncs::RegClose(HKEY handle) {
    try {
        return api_.RegCloseKey(handle) == platform::kErrorSuccess;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure("Close - error #", failure);
        return false;
    }
}

bool modRegFuncs::RegGet(HKEY handle, const std::string& valueName, std::string& data) {
    try {
        std::array<unsigned char, kGetBufferSize> buffer{};
        DWORD size = kGetBufferSize;
        DWORD type = 0;
        const LONG result =
            api_.RegQueryValueExA(handle, valueName.c_str(), nullptr, &type, buffer.data(), &size);
        if (result != platform::kErrorSuccess) {
            data.clear();
            return false;
        }
        // The last byte is a string's terminating NUL. A size of 0 has none: empty data.
        const DWORD length = std::min(size, kGetBufferSize);
        data.assign(reinterpret_cast<const char*>(buffer.data()), length == 0 ? 0 : length - 1);
        return true;
    } catch (const std::exception& failure) {
        data.clear();
        ShowUnexpectedFailure("Get - error #", failure);
        return false;
    }
}

std::string modRegFuncs::SystemText(LONG code) {
    std::array<char, kSystemTextSize + 1> buffer{};
    api_.FormatMessageA(platform::kFormatMessageFromSystem, nullptr, static_cast<DWORD>(code), 0,
                        buffer.data(), kSystemTextSize, nullptr);
    // The text as the system wrote it, up to its NUL; never past the buffer.
    const char* begin = buffer.data();
    return std::string(begin, std::find(begin, begin + kSystemTextSize, '\0'));
}

void modRegFuncs::ShowRegistryFailure(const char* label, const std::string& subject, LONG code) {
    ui_.ShowMessage(RegistryFailureText(label, subject, code, SystemText(code)));
}

void modRegFuncs::ShowUnexpectedFailure(const char* label, const std::exception& failure) {
    const FailureDescription what = DescribeFailure(failure);
    ui_.ShowMessage(UnexpectedFailureText(label, what.number, what.description));
}

}  // namespace cleaner
