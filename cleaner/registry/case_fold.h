// Case folding for every "occurs anywhere, regardless of case" comparison of the cleaner: the
// searches' keyword matches and the registry layer's search for a subkey by part of its name.
//
// Registry text reaches the cleaner as narrow Windows-1252 bytes, so letters are folded the way
// Windows folds that code page (CharLowerA on code page 1252): A-Z, the accented capitals
// 0xC0-0xDE except the multiplication sign 0xD7, and the four capitals Windows-1252 keeps in
// 0x80-0x9F (S caron, OE, Z caron, Y diaeresis) map to their small letters. Every other byte,
// sharp s and micro sign included, stays as it is. One byte maps to one byte, so a folded text
// has the same length as the original and positions agree.
//
// The searches fold each text once, when it enters their cache; comparisons then work on folded
// bytes only.
#pragma once

#include <string>
#include <string_view>

namespace cleaner {

char FoldCase(char c);
std::string FoldCase(std::string_view text);

// True when the folded part occurs anywhere in the folded text. An empty text contains nothing,
// and an empty part occurs nowhere.
bool ContainsFolded(std::string_view foldedText, std::string_view foldedPart);

}  // namespace cleaner
