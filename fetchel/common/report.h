// The failure report of taDownloadFile, alike in both builds: the step that failed, WinINet's
// error code and the text WinINet's message table has for it, or one of the fixed texts.
#pragma once

#include "fetchel.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace fetchel {

// The longest report with its terminating zero: the longest step name (16 characters), a code
// of 11 characters and a 255-character message.
inline constexpr std::size_t kErrorReportSize = FETCHEL_ERROR_TEXT_SIZE;
using ReportText = std::array<char, kErrorReportSize>;

// The steps a report names, after the WinINet calls they stand for.
inline constexpr std::string_view kStepOpen = "InternetOpen";
inline constexpr std::string_view kStepOpenUrl = "InternetOpenUrl";
inline constexpr std::string_view kStepRead = "InternetReadFile";

// The fixed texts.
inline constexpr std::string_view kTextNotFound = "File Not Accessable or Does Not Exist";
inline constexpr std::string_view kTextOpenFailed = "File Open Failed";
inline constexpr std::string_view kTextWriteFailed = "File Write Failed";

// The error codes the library reports (WinINet's own numbers; 8, out of memory, is the system's
// and has no text in WinINet's table).
enum : std::int32_t {
    kErrorNotEnoughMemory = 8, kErrorInternetTimeout = 12002, kErrorInternetInternalError = 12004,
    kErrorInternetInvalidUrl = 12005, kErrorInternetUnrecognizedScheme = 12006,
    kErrorInternetNameNotResolved = 12007, kErrorInternetCannotConnect = 12029,
    kErrorInternetConnectionAborted = 12030, kErrorInternetConnectionReset = 12031,
    kErrorInternetInvalidCa = 12045, kErrorHttpInvalidServerResponse = 12152,
    kErrorHttpRedirectFailed = 12156, kErrorInternetSecurityChannelError = 12157,
};

struct WinInetError {
    std::int32_t code;
    std::string_view message;  // as the WinINet message table gives it, line break included
};

// Windows' English text for the codes above ("" for 8 and for codes not listed), line break
// included.
std::string_view WinInetText(std::int32_t code);

// "<step> error code: <code>\nMessage: <message>\n", the code as a signed number; the step and
// the message cut to the lengths the report size is made of. Allocates nothing, so that it can
// also report running out of memory.
ReportText ErrorReport(std::string_view step, const WinInetError& error);

// One of the fixed texts as a report.
ReportText FixedReport(std::string_view text);

// Copies a report into the caller's errorText (nothing when it is null).
void CopyReport(char* errorText, const ReportText& report);

// Both at once: the report written into errorText.
void WriteErrorReport(char* errorText, std::string_view step, const WinInetError& error);

}  // namespace fetchel
