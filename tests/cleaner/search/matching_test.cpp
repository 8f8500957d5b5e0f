// The case folding and the all-patterns-at-once matcher behind the searches' comparisons,
// checked against the plain one-pattern-at-a-time rule.
#include "cleaner/registry/case_fold.h"
#include "cleaner/search/pattern_set.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace cleaner {
namespace {

TEST(CaseFold, FoldsExactlyTheWindows1252CapitalsToTheirSmallLetters) {
    for (int b = 0; b < 256; ++b) {
        int expected = b;
        if ((b >= 'A' && b <= 'Z') || (b >= 0xC0 && b <= 0xDE && b != 0xD7)) {
            expected = b + 0x20;
        } else if (b == 0x8A || b == 0x8C || b == 0x8E) {
            expected = b + 0x10;
        } else if (b == 0x9F) {
            expected = 0xFF;
        }
        EXPECT_EQ(static_cast<unsigned char>(FoldCase(static_cast<char>(b))), expected) << b;
    }
    EXPECT_EQ(FoldCase(std::string("Acme\0X\xC0", 7)), std::string("acme\0x\xE0", 7));
}

TEST(CaseFold, EmptyTextsContainNothing) {
    EXPECT_TRUE(ContainsFolded("acme", "cm"));
    EXPECT_FALSE(ContainsFolded("", "a"));
    EXPECT_FALSE(ContainsFolded("acme", ""));
    EXPECT_FALSE(ContainsFolded("cm", "acme"));
}

// Entries of one or more texts; the reference answer compares each pattern with each text.
std::vector<std::vector<std::uint32_t>> Reference(const std::vector<std::string>& patterns,
                                                  const std::vector<std::vector<std::string>>& entries) {
    std::vector<std::vector<std::uint32_t>> hits(patterns.size());
    for (std::size_t p = 0; p < patterns.size(); ++p) {
        for (std::uint32_t e = 0; e < entries.size(); ++e) {
            for (const std::string& text : entries[e]) {
                if (ContainsFolded(text, patterns[p])) {
                    hits[p].push_back(e);
                    break;
                }
            }
        }
    }
    return hits;
}

void ExpectSameAsReference(const std::vector<std::string>& patterns,
                           const std::vector<std::vector<std::string>>& entries) {
    auto expected = Reference(patterns, entries);
    for (std::size_t limit : {PatternSet::kDefaultDenseCellLimit, std::size_t{0}}) {
        PatternSet set(patterns, limit);
        EXPECT_EQ(set.UsesDenseTable(), limit != 0);
        for (std::uint32_t e = 0; e < entries.size(); ++e) {
            for (const std::string& text : entries[e]) {
                set.Scan(e, text);
            }
        }
        for (std::size_t p = 0; p < patterns.size(); ++p) {
            EXPECT_EQ(set.Hits(p), expected[p]) << "pattern " << p << " limit " << limit;
        }
    }
}

TEST(PatternSet, FindsOverlappingNestedAndRepeatedPatternsOncePerEntry) {
    ExpectSameAsReference({"he", "she", "his", "hers", "e", "", "she", "ushers", "x"},
                          {{"ushers"}, {"his", "hers"}, {""}, {"sheshe"}, {"h", "e"}, {"x"}});
}

TEST(PatternSet, FindsPatternsMadeOfAnyByte) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all.push_back(static_cast<char>(b));
    }
    ExpectSameAsReference({std::string("\0", 1), "\xFF", all.substr(250), all},
                          {{all}, {std::string("a\0b", 3)}, {"\xFF\xFE"}});
}

TEST(PatternSet, AgreesWithThePlainRuleOnRandomTexts) {
    std::mt19937 random(12345);
    auto text = [&](std::size_t maxLength) {
        std::string s(random() % (maxLength + 1), ' ');
        for (char& c : s) {
            c = "abcab{}-\\"[random() % 9];
        }
        return s;
    };
    for (int round = 0; round < 50; ++round) {
        std::vector<std::string> patterns;
        for (int i = 0; i < 20; ++i) {
            patterns.push_back(text(5));
        }
        std::vector<std::vector<std::string>> entries;
        for (int i = 0; i < 40; ++i) {
            entries.push_back({text(30), text(10), text(3)});
        }
        ExpectSameAsReference(patterns, entries);
    }
}

}  // namespace
}  // namespace cleaner
