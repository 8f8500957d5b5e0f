#include "report.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

namespace fetchel {
namespace {

struct TableEntry {
    std::int32_t code;
    std::string_view message;
};

// Windows' own English texts from WinINet's message table, which ends each with CR LF.
constexpr std::array kMessages = {
    TableEntry{kErrorInternetTimeout, "The operation timed out\r\n"},
    TableEntry{kErrorInternetInternalError,
               "An internal error occurred in the Microsoft Internet extensions\r\n"},
    TableEntry{kErrorInternetInvalidUrl, "The URL is invalid\r\n"},
    TableEntry{kErrorInternetUnrecognizedScheme, "The URL does not use a recognized protocol\r\n"},
    TableEntry{kErrorInternetNameNotResolved, "The server name or address could not be resolved\r\n"},
    TableEntry{kErrorInternetCannotConnect,
               "A connection with the server could not be established\r\n"},
    TableEntry{kErrorInternetConnectionAborted,
               "The connection with the server was terminated abnormally\r\n"},
    TableEntry{kErrorInternetConnectionReset, "The connection with the server was reset\r\n"},
    TableEntry{kErrorInternetInvalidCa, "The certificate authority is invalid or incorrect\r\n"},
    TableEntry{kErrorHttpInvalidServerResponse,
               "The server returned an invalid or unrecognized response\r\n"},
    TableEntry{kErrorHttpRedirectFailed, "The HTTP redirect request failed\r\n"},
    TableEntry{kErrorInternetSecurityChannelError,
               "An error occurred in the secure channel support\r\n"},
};

}  // namespace

std::string_view WinInetText(std::int32_t code) {
    const auto entry = std::find_if(kMessages.begin(), kMessages.end(),
                                    [code](const TableEntry& e) { return e.code == code; });
    return entry == kMessages.end() ? std::string_view{} : entry->message;
}

ReportText ErrorReport(std::string_view step, const WinInetError& error) {
    const auto stepLength = static_cast<int>(std::min<std::size_t>(step.size(), 16));
    const auto messageLength = static_cast<int>(std::min<std::size_t>(error.message.size(), 255));
    ReportText report{};
    std::snprintf(report.data(), report.size(), "%.*s error code: %d\nMessage: %.*s\n", stepLength,
                  step.data(), static_cast<int>(error.code), messageLength, error.message.data());
    return report;
}

ReportText FixedReport(std::string_view text) {
    ReportText report{};
    std::copy_n(text.begin(), std::min(text.size(), report.size() - 1), report.begin());
    return report;
}

void CopyReport(char* errorText, const ReportText& report) {
    if (errorText) std::strcpy(errorText, report.data());
}

void WriteErrorReport(char* errorText, std::string_view step, const WinInetError& error) {
    CopyReport(errorText, ErrorReport(step, error));
}

}  // namespace fetchel
