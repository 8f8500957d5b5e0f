// A FennickView that records every call in order, so tests can pin what the searches show and
// where they yield.
#pragma once

#include "cleaner/search/modFennick.h"

#include <string>
#include <vector>

namespace cleaner::testing {

class FakeView : public FennickView {
public:
    // One line per call: "yield", "keyword:<text>", "hive:<text>", "status:<text>",
    // "message:<text>".
    std::vector<std::string> calls;

    void UpdateRegistryHiveText(const std::string& text) override { calls.push_back("hive:" + text); }
    void UpdateStatusText(const std::string& text) override { calls.push_back("status:" + text); }
    void UpdateKeywordText(const std::string& text) override { calls.push_back("keyword:" + text); }
    void ShowMessage(const std::string& text) override { calls.push_back("message:" + text); }
    void DoEvents() override { calls.push_back("yield"); }

    std::vector<std::string> Matching(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const std::string& c : calls) {
            if (c.rfind(prefix, 0) == 0) {
                out.push_back(c);
            }
        }
        return out;
    }
};

}  // namespace cleaner::testing
