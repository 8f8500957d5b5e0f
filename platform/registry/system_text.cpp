#include "platform/registry/system_text.h"

#include <cstring>

namespace platform {

const char* SystemText(DWORD code) {
    switch (code) {
        case 0: return "The operation completed successfully.\r\n";
        case 1: return "Incorrect function.\r\n";
        case 2: return "The system cannot find the file specified.\r\n";
        case 3: return "The system cannot find the path specified.\r\n";
        case 5: return "Access is denied.\r\n";
        case 6: return "The handle is invalid.\r\n";
        case 8: return "Not enough memory resources are available to process this command.\r\n";
        case 87: return "The parameter is incorrect.\r\n";
        case 161: return "The specified path is invalid.\r\n";
        case 234: return "More data is available.\r\n";
        case 259: return "No more data is available.\r\n";
        case 1009: return "The configuration registry database is corrupt.\r\n";
        case 1010: return "The configuration registry key is invalid.\r\n";
        case 1018:
            return "Illegal operation attempted on a registry key that has been marked for "
                   "deletion.\r\n";
        default: return nullptr;
    }
}

DWORD FormatSystemText(DWORD flags, DWORD code, char* buffer, DWORD size) {
    constexpr DWORD kAllocateBuffer = 0x100;
    if (!(flags & kFormatMessageFromSystem) || (flags & kAllocateBuffer) || !buffer) return 0;
    const char* text = SystemText(code);
    if (!text) return 0;
    const std::size_t length = std::strlen(text);
    if (length + 1 > size) return 0;
    std::memcpy(buffer, text, length + 1);
    return static_cast<DWORD>(length);
}

}  // namespace platform
