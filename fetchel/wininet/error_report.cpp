#include "error_report.h"

#include <windows.h>

namespace fetchel::win32 {

ReportText ErrorReport(std::string_view step, std::uint32_t code) {
    // The message table of wininet.dll only: the system's own table knows none of its codes.
    // Inserts are ignored, since there is nothing to put into them.
    char message[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                   GetModuleHandleA("wininet.dll"), code, 0, message, sizeof message - 1, nullptr);
    const auto signedCode = static_cast<std::int32_t>(code);
    // Wine's table lacks some of the codes the library reports (12031, 12152, 12156): those get
    // Windows' own text, as the Linux library gives it.
    return fetchel::ErrorReport(step, {signedCode, message[0] ? std::string_view(message) : WinInetText(signedCode)});
}

std::uint32_t WinInetCode(std::uint32_t error) {
    switch (error) {
        case WSAECONNRESET:
            return kErrorInternetConnectionReset;
        case WSAECONNABORTED:
            return kErrorInternetConnectionAborted;
        default:
            return error;
    }
}

}  // namespace fetchel::win32
