#include "error_report.h"

#include <algorithm>
#include <cstdio>

#include <windows.h>

namespace fetchel::win32 {

ReportText ErrorReport(std::string_view step, std::uint32_t code) {
    // The message table of wininet.dll only: the system's own table knows none of its codes.
    // Inserts are ignored, since there is nothing to put into them.
    char message[256] = {};
    FormatMessageA(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_IGNORE_INSERTS,
                   GetModuleHandleA("wininet.dll"), code, 0, message, sizeof message - 1, nullptr);
    ReportText report{};
    std::snprintf(report.data(), report.size(), "%.*s error code: %d\nMessage: %s\n",
                  static_cast<int>(std::min<std::size_t>(step.size(), 16)), step.data(),
                  static_cast<int>(code), message);
    return report;
}

ReportText FixedReport(std::string_view text) {
    ReportText report{};
    std::copy_n(text.begin(), std::min(text.size(), report.size() - 1), report.begin());
    return report;
}

}  // namespace fetchel::win32
