// Finds, for a fixed list of folded patterns, which entries of a search's cache contain each of
// them. Every further keyword of a search is compared against the same cached texts; one
// Aho-Corasick pass over those texts answers all patterns at once, so the time grows with the
// size of the cache and the number of matches, not with the number of keywords.
//
// The automaton is kept as a full transition table when that stays small (an ordinary keyword
// list); a very large list (hundreds of thousands of keywords, or megabyte-long ones) keeps only
// the trie with its failure links, which costs memory in proportion to the patterns' length.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cleaner {

class PatternSet {
public:
    static constexpr std::size_t kDefaultDenseCellLimit = std::size_t{1} << 24;

    // patterns: folded texts; equal patterns share their results; an empty pattern matches
    // nothing. denseCellLimit bounds the full transition table (states x byte classes).
    explicit PatternSet(const std::vector<std::string>& patterns,
                        std::size_t denseCellLimit = kDefaultDenseCellLimit);

    // Records entry as a hit of every pattern that occurs in foldedText. Entries must be given in
    // non-decreasing order; an entry made of several texts is scanned once per text.
    void Scan(std::uint32_t entry, std::string_view foldedText);

    // The entries recorded for pattern index p (as in the constructor's list), ascending, each
    // once.
    const std::vector<std::uint32_t>& Hits(std::size_t p) const;

    bool UsesDenseTable() const { return !dense_.empty(); }

private:
    std::uint32_t Child(std::uint32_t state, std::uint16_t cls) const;
    std::uint32_t Step(std::uint32_t state, std::uint16_t cls) const;
    void Record(std::uint32_t state, std::uint32_t entry);

    std::vector<std::uint32_t> uniqueOf_;       // pattern index -> unique pattern (or none)
    std::vector<std::vector<std::uint32_t>> hits_;  // per unique pattern
    std::vector<std::uint32_t> noHits_;

    std::uint16_t classOf_[256] = {};  // byte -> class; 0 for bytes in no pattern
    std::uint32_t classCount_ = 1;

    // Trie in compressed rows: the children of state s are edges [edgeBegin_[s], edgeBegin_[s+1]),
    // sorted by class.
    std::vector<std::uint32_t> edgeBegin_;
    std::vector<std::uint16_t> edgeClass_;
    std::vector<std::uint32_t> edgeChild_;
    std::vector<std::uint32_t> fail_;
    std::vector<std::uint32_t> terminal_;   // unique pattern ending at the state, or none
    std::vector<std::uint32_t> output_;     // nearest state on the failure chain (itself included)
                                            // where a pattern ends, or none
    std::vector<std::uint32_t> dense_;      // state * classCount_ + class -> next state
};

}  // namespace cleaner
