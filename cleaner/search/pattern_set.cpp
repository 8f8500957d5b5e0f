#include "cleaner/search/pattern_set.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace cleaner {
namespace {

constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

struct Edge {
    std::uint32_t parent;
    std::uint16_t cls;
    std::uint32_t child;
};

std::size_t CommonPrefix(std::string_view a, std::string_view b) {
    std::size_t n = std::min(a.size(), b.size());
    std::size_t i = 0;
    while (i < n && a[i] == b[i]) {
        ++i;
    }
    return i;
}

}  // namespace

PatternSet::PatternSet(const std::vector<std::string>& patterns, std::size_t denseCellLimit)
    : uniqueOf_(patterns.size(), kNone) {
    // Equal patterns are one pattern of the automaton; sorting them also lets the trie be built
    // with each state's children in class order.
    std::vector<std::uint32_t> order;
    for (std::uint32_t p = 0; p < patterns.size(); ++p) {
        if (!patterns[p].empty()) {
            order.push_back(p);
        }
    }
    std::sort(order.begin(), order.end(),
              [&](std::uint32_t a, std::uint32_t b) { return patterns[a] < patterns[b]; });
    std::vector<std::string_view> unique;
    for (std::uint32_t p : order) {
        if (unique.empty() || unique.back() != patterns[p]) {
            unique.push_back(patterns[p]);
        }
        uniqueOf_[p] = static_cast<std::uint32_t>(unique.size() - 1);
    }
    hits_.resize(unique.size());

    bool used[256] = {};
    for (std::string_view u : unique) {
        for (char c : u) {
            used[static_cast<unsigned char>(c)] = true;
        }
    }
    for (unsigned b = 0; b < 256; ++b) {
        if (used[b]) {
            classOf_[b] = static_cast<std::uint16_t>(classCount_++);
        }
    }

    // The trie, from the sorted patterns: each pattern shares its common prefix with the one
    // before it.
    std::vector<Edge> edges;
    std::vector<std::uint32_t> path{0};
    terminal_.push_back(kNone);
    std::string_view previous;
    for (std::uint32_t u = 0; u < unique.size(); ++u) {
        std::string_view pattern = unique[u];
        std::size_t shared = CommonPrefix(previous, pattern);
        path.resize(shared + 1);
        for (std::size_t d = shared; d < pattern.size(); ++d) {
            auto child = static_cast<std::uint32_t>(terminal_.size());
            terminal_.push_back(kNone);
            edges.push_back({path[d], classOf_[static_cast<unsigned char>(pattern[d])], child});
            path.push_back(child);
        }
        terminal_[path[pattern.size()]] = u;
        previous = pattern;
    }
    const std::size_t stateCount = terminal_.size();

    edgeBegin_.assign(stateCount + 1, 0);
    for (const Edge& e : edges) {
        ++edgeBegin_[e.parent + 1];
    }
    std::partial_sum(edgeBegin_.begin(), edgeBegin_.end(), edgeBegin_.begin());
    edgeClass_.resize(edges.size());
    edgeChild_.resize(edges.size());
    {
        std::vector<std::uint32_t> next(edgeBegin_.begin(), edgeBegin_.end() - 1);
        for (const Edge& e : edges) {  // stable: a parent's children stay in class order
            std::uint32_t at = next[e.parent]++;
            edgeClass_[at] = e.cls;
            edgeChild_[at] = e.child;
        }
    }
    edges.clear();
    edges.shrink_to_fit();

    // Failure links and outputs, breadth first, so that a state's failure target (shallower)
    // is complete before the state itself.
    fail_.assign(stateCount, 0);
    output_.assign(stateCount, kNone);
    std::vector<std::uint32_t> bfs;
    bfs.reserve(stateCount);
    bfs.push_back(0);
    for (std::size_t i = 0; i < bfs.size(); ++i) {
        std::uint32_t s = bfs[i];
        for (std::uint32_t e = edgeBegin_[s]; e < edgeBegin_[s + 1]; ++e) {
            std::uint32_t child = edgeChild_[e];
            std::uint32_t f = 0;
            if (s != 0) {
                f = fail_[s];
                for (;;) {
                    std::uint32_t g = Child(f, edgeClass_[e]);
                    if (g != kNone) {
                        f = g;
                        break;
                    }
                    if (f == 0) {
                        break;
                    }
                    f = fail_[f];
                }
            }
            fail_[child] = f;
            output_[child] = terminal_[child] != kNone ? child : output_[f];
            bfs.push_back(child);
        }
    }

    if (std::uint64_t{stateCount} * classCount_ <= denseCellLimit) {
        dense_.assign(stateCount * classCount_, 0);
        for (std::uint32_t s : bfs) {
            std::uint32_t* row = &dense_[std::size_t{s} * classCount_];
            if (s != 0) {
                const std::uint32_t* failRow = &dense_[std::size_t{fail_[s]} * classCount_];
                std::copy(failRow, failRow + classCount_, row);
            }
            for (std::uint32_t e = edgeBegin_[s]; e < edgeBegin_[s + 1]; ++e) {
                row[edgeClass_[e]] = edgeChild_[e];
            }
        }
    }
}

std::uint32_t PatternSet::Child(std::uint32_t state, std::uint16_t cls) const {
    auto first = edgeClass_.begin() + edgeBegin_[state];
    auto last = edgeClass_.begin() + edgeBegin_[state + 1];
    auto it = std::lower_bound(first, last, cls);
    if (it == last || *it != cls) {
        return kNone;
    }
    return edgeChild_[static_cast<std::size_t>(it - edgeClass_.begin())];
}

std::uint32_t PatternSet::Step(std::uint32_t state, std::uint16_t cls) const {
    if (cls == 0) {
        return 0;  // a byte that no pattern holds ends every partial match
    }
    for (;;) {
        std::uint32_t g = Child(state, cls);
        if (g != kNone) {
            return g;
        }
        if (state == 0) {
            return 0;
        }
        state = fail_[state];
    }
}

void PatternSet::Record(std::uint32_t state, std::uint32_t entry) {
    for (std::uint32_t t = output_[state]; t != kNone; t = output_[fail_[t]]) {
        std::vector<std::uint32_t>& list = hits_[terminal_[t]];
        if (list.empty() || list.back() != entry) {
            list.push_back(entry);
        }
    }
}

void PatternSet::Scan(std::uint32_t entry, std::string_view foldedText) {
    if (hits_.empty()) {
        return;
    }
    std::uint32_t state = 0;
    if (!dense_.empty()) {
        for (char c : foldedText) {
            state = dense_[std::size_t{state} * classCount_ + classOf_[static_cast<unsigned char>(c)]];
            if (output_[state] != kNone) {
                Record(state, entry);
            }
        }
        return;
    }
    for (char c : foldedText) {
        state = Step(state, classOf_[static_cast<unsigned char>(c)]);
        if (output_[state] != kNone) {
            Record(state, entry);
        }
    }
}

const std::vector<std::uint32_t>& PatternSet::Hits(std::size_t p) const {
    std::uint32_t u = uniqueOf_[p];
    return u == kNone ? noHits_ : hits_[u];
}

}  // namespace cleaner
