#include "platform/win32/code_page.h"

#include <windows.h>

namespace platform {

std::wstring WideFromCodePage(const std::string& text, unsigned int codePage) {
    if (text.empty()) return {};
    const int length = static_cast<int>(text.size());
    const int wideLength = ::MultiByteToWideChar(codePage, 0, text.data(), length, nullptr, 0);
    if (wideLength <= 0) return {};
    std::wstring wide(static_cast<std::size_t>(wideLength), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), length, wide.data(), wideLength);
    return wide;
}

std::string CodePageFromWide(const std::wstring& wide, unsigned int codePage) {
    if (wide.empty()) return {};
    const int length = static_cast<int>(wide.size());
    const int textLength =
        ::WideCharToMultiByte(codePage, 0, wide.data(), length, nullptr, 0, nullptr, nullptr);
    if (textLength <= 0) return {};
    std::string text(static_cast<std::size_t>(textLength), '\0');
    ::WideCharToMultiByte(codePage, 0, wide.data(), length, text.data(), textLength, nullptr,
                          nullptr);
    return text;
}

}  // namespace platform
