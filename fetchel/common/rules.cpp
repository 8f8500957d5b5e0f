#include "rules.h"

#include <algorithm>
#include <array>
#include <cstdlib>

namespace fetchel {
namespace {

constexpr std::string_view kNotFoundText = "404 OBJECT NOT FOUND";

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

}  // namespace

bool HoldsNotFoundText(std::string_view chunk) {
    chunk = chunk.substr(0, std::min(chunk.find('\0'), kChunkSize));
    std::array<char, kChunkSize> upper{};  // on the stack: no allocation
    std::transform(chunk.begin(), chunk.end(), upper.begin(), AsciiUpper);
    return std::string_view(upper.data(), chunk.size()).find(kNotFoundText) != std::string_view::npos;
}

HeadKind JudgeStatus(long status, bool hasLocation) {
    if (status >= 100 && status <= 199) return HeadKind::Interim;
    if (status >= 200 && status <= 299) return HeadKind::Body;
    if (status >= 300 && status <= 399 && hasLocation) return HeadKind::Redirect;
    return HeadKind::NotFound;
}

bool IsDownloadScheme(std::string_view scheme) {
    constexpr std::array<std::string_view, 3> kSchemes = {"HTTP", "HTTPS", "FTP"};
    return std::any_of(kSchemes.begin(), kSchemes.end(), [scheme](std::string_view known) {
        return known.size() == scheme.size() &&
               std::equal(known.begin(), known.end(), scheme.begin(),
                          [](char a, char b) { return a == AsciiUpper(b); });
    });
}

bool HasControlCharacter(std::string_view url) {
    return std::any_of(url.begin(), url.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

std::optional<std::uint64_t> ParseContentLength(std::string_view text) {
    if (text.empty() || text.size() > 19) return std::nullopt;
    std::uint64_t length = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        length = length * 10 + static_cast<std::uint64_t>(c - '0');
    }
    return length;
}

std::chrono::milliseconds StallLimitFrom(const char* text) {
    if (text && *text) {
        char* end = nullptr;
        const long long value = std::strtoll(text, &end, 10);
        if (*end == '\0' && value > 0) return std::chrono::milliseconds(value);
    }
    return kDefaultStallLimit;
}

}  // namespace fetchel
