// The rules both builds apply to a download, whatever carries it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fetchel {

// The first chunk of a body: 1023 bytes however the connection cuts the body, tested as text.
inline constexpr std::size_t kChunkSize = 1023;

// The first chunk holds "404 Object Not Found" in any letter case (a to z), looked for up to its
// first zero byte, as a text search over the chunk would.
bool HoldsNotFoundText(std::string_view chunk);

// What the head of a response makes of it.
enum class HeadKind {
    Interim,   // 100-199: the real response follows
    Redirect,  // 300-399 with a Location: to be followed
    Body,      // 200-299: the body to store
    NotFound,  // anything else: the server's page about a failure, or a redirect to nowhere
};
HeadKind JudgeStatus(long status, bool hasLocation);

// Redirects followed before a download fails with kErrorHttpRedirectFailed: a loop ends there.
inline constexpr int kMaxRedirects = 10;

// The schemes a download may open and be redirected to, letter case aside: WinINet's own for
// InternetOpenUrl.
bool IsDownloadScheme(std::string_view scheme);

// A URL with a control character (below 0x20, or 0x7F) is refused before anything is sent: a CR
// LF would otherwise end the request line and let the URL write headers of its own.
bool HasControlCharacter(std::string_view url);

// The length a head's Content-Length announces; nothing when it is missing or not a number.
std::optional<std::uint64_t> ParseContentLength(std::string_view text);

// The bound on a transfer's progress, 60 seconds: the head of the final response must be in
// within it of the start, and after that each further kMinimumProgress bytes of the body must
// arrive within it; otherwise the download fails with WinINet's timeout code.
inline constexpr std::chrono::milliseconds kDefaultStallLimit{60'000};
inline constexpr std::uint64_t kMinimumProgress = 1024;
// Tests shorten the bound through this environment variable, which nothing else reads.
inline constexpr const char* kStallLimitVariable = "FETCHEL_TEST_STALL_MS";
// The bound for the variable's text (null when it is unset).
std::chrono::milliseconds StallLimitFrom(const char* text);

}  // namespace fetchel
