// WinINet's error numbers and English texts for what libcurl reports, so that a caller that
// checks the code in a failure report behaves the same on Windows and on Linux.
#pragma once

#include <cstdint>
#include <string_view>

#include <curl/curl.h>

namespace fetchel {

struct WinInetError {
    std::int32_t code;
    std::string_view message;  // as the WinINet message table gives it, line break included
};

inline constexpr std::int32_t kErrorNotEnoughMemory = 8;  // not in WinINet's table: no text
inline constexpr std::int32_t kErrorInternetTimeout = 12002;
inline constexpr std::int32_t kErrorInternetInternalError = 12004;
inline constexpr std::int32_t kErrorInternetInvalidUrl = 12005;
inline constexpr std::int32_t kErrorInternetUnrecognizedScheme = 12006;
inline constexpr std::int32_t kErrorInternetNameNotResolved = 12007;
inline constexpr std::int32_t kErrorInternetCannotConnect = 12029;
inline constexpr std::int32_t kErrorInternetConnectionAborted = 12030;
inline constexpr std::int32_t kErrorInternetConnectionReset = 12031;
inline constexpr std::int32_t kErrorHttpInvalidServerResponse = 12152;
inline constexpr std::int32_t kErrorHttpRedirectFailed = 12156;
inline constexpr std::int32_t kErrorInternetSecurityChannelError = 12157;
inline constexpr std::int32_t kErrorInternetInvalidCa = 12045;

// The code and text for a WinINet error number; codes outside WinINet's message table get an
// empty text, as FormatMessageA leaves it for them.
WinInetError WinInetErrorFromCode(std::int32_t code);

// The WinINet error that stands for a failed libcurl transfer of a URL whose scheme was accepted
// before the transfer. osError is the system error number libcurl saw last (0 when none);
// httpStatus the status of the last response (0 when none).
WinInetError WinInetErrorFor(CURLcode result, long osError, long httpStatus);

// The longest report with its terminating zero: the longest step name, a code of 11 characters
// and a 255-character message.
inline constexpr std::size_t kErrorReportSize = 307;

// Writes "<step> error code: <code>\nMessage: <message>\n" into errorText, cut to
// kErrorReportSize bytes with the terminating zero.
void WriteErrorReport(char* errorText, std::string_view step, const WinInetError& error);

}  // namespace fetchel
