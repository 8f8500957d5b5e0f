// The failure report of taDownloadFile: the step that failed, WinINet's error code and the text
// that wininet.dll's message table has for it.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace fetchel::win32 {

// The longest report with its terminating zero: the longest step name, a code of 11 characters
// and a 255-character message.
inline constexpr std::size_t kErrorReportSize = 307;
using ReportText = std::array<char, kErrorReportSize>;

// The steps a report names, after the WinINet calls they stand for.
inline constexpr std::string_view kStepOpen = "InternetOpen";
inline constexpr std::string_view kStepOpenUrl = "InternetOpenUrl";
inline constexpr std::string_view kStepRead = "InternetReadFile";

// Error codes the library reports of its own accord (WinINet's own numbers).
inline constexpr std::uint32_t kErrorNotEnoughMemory = 8;  // not in WinINet's table: no text
inline constexpr std::uint32_t kErrorInternetTimeout = 12002;
inline constexpr std::uint32_t kErrorInternetInvalidUrl = 12005;
inline constexpr std::uint32_t kErrorInternetConnectionAborted = 12030;
inline constexpr std::uint32_t kErrorHttpInvalidServerResponse = 12152;
inline constexpr std::uint32_t kErrorHttpRedirectFailed = 12156;

// "<step> error code: <code>\nMessage: <text>\n", the code as a signed number and the text from
// wininet.dll's message table (empty for a code it does not know; its own line break kept).
// Allocates nothing, so that it can also report running out of memory.
ReportText ErrorReport(std::string_view step, std::uint32_t code);

// One of the library's fixed texts ("File Open Failed", ...) as a report.
ReportText FixedReport(std::string_view text);

}  // namespace fetchel::win32
