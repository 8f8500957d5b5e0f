#include "part_files.h"

#include <algorithm>
#include <cstdio>

namespace fetchel {
namespace {

constexpr std::size_t kRandomDigits = 8;
constexpr std::size_t kMostProcessDigits = 10;  // 4294967295: the largest id either system has

bool IsDigits(std::string_view text, bool hex = false) {
    return !text.empty() && std::all_of(text.begin(), text.end(), [hex](char c) {
        return (c >= '0' && c <= '9') || (hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
    });
}

}  // namespace

std::string PartFileName(std::string_view targetName, std::string_view marker, std::uint64_t process,
                         std::uint32_t counter, std::uint32_t random, std::size_t room) {
    char suffix[64];
    std::snprintf(suffix, sizeof suffix, "%.*s%llu-%lu-%08lx", static_cast<int>(marker.size()),
                  marker.data(), static_cast<unsigned long long>(process),
                  static_cast<unsigned long>(counter), static_cast<unsigned long>(random));
    std::string name(targetName);
    // A long file name plus the suffix could pass the system's limit.
    if (name.size() + std::string_view(suffix).size() > room) name = ".fetchel";
    return name += suffix;
}

std::uint64_t PartFileOwner(std::string_view name, std::string_view marker) {
    const auto at = name.rfind(marker);
    if (at == std::string_view::npos || at == 0) return 0;
    const std::string_view rest = name.substr(at + marker.size());  // process-counter-random
    const auto first = rest.find('-');
    if (first == std::string_view::npos) return 0;
    const auto second = rest.find('-', first + 1);
    if (second == std::string_view::npos) return 0;
    const std::string_view process = rest.substr(0, first);
    const std::string_view counter = rest.substr(first + 1, second - first - 1);
    const std::string_view random = rest.substr(second + 1);
    if (!IsDigits(process) || process.size() > kMostProcessDigits || !IsDigits(counter) ||
        random.size() != kRandomDigits || !IsDigits(random, true)) {
        return 0;
    }
    std::uint64_t owner = 0;
    for (const char c : process) owner = owner * 10 + static_cast<std::uint64_t>(c - '0');
    return owner > 0xFFFFFFFFull ? 0 : owner;
}

bool IsAbandonedPartFile(std::string_view name, std::string_view marker, std::uint64_t self,
                         const std::function<bool(std::uint64_t)>& processIsGone) {
    const std::uint64_t owner = PartFileOwner(name, marker);
    return owner != 0 && owner != self && processIsGone(owner);
}

}  // namespace fetchel
