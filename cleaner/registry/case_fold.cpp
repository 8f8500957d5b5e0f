#include "cleaner/registry/case_fold.h"

#include <array>

namespace cleaner {
namespace {

constexpr std::array<unsigned char, 256> MakeLowerTable() {
    std::array<unsigned char, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        table[i] = static_cast<unsigned char>(i);
    }
    for (unsigned c = 'A'; c <= 'Z'; ++c) {
        table[c] = static_cast<unsigned char>(c + 0x20);
    }
    for (unsigned c = 0xC0; c <= 0xDE; ++c) {
        if (c != 0xD7) {
            table[c] = static_cast<unsigned char>(c + 0x20);
        }
    }
    table[0x8A] = 0x9A;  // S caron
    table[0x8C] = 0x9C;  // OE ligature
    table[0x8E] = 0x9E;  // Z caron
    table[0x9F] = 0xFF;  // Y diaeresis
    return table;
}

constexpr std::array<unsigned char, 256> kLower = MakeLowerTable();

}  // namespace

char FoldCase(char c) {
    return static_cast<char>(kLower[static_cast<unsigned char>(c)]);
}

std::string FoldCase(std::string_view text) {
    std::string folded(text.size(), '\0');
    for (std::size_t i = 0; i < text.size(); ++i) {
        folded[i] = FoldCase(text[i]);
    }
    return folded;
}

bool ContainsFolded(std::string_view foldedText, std::string_view foldedPart) {
    if (foldedText.empty() || foldedPart.empty()) {
        return false;
    }
    return foldedText.find(foldedPart) != std::string_view::npos;
}

}  // namespace cleaner
