// A small HKEY_CLASSES_ROOT in memory, the registry layer over it (through the fault injector), a recording view, and the
// module under test.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "cleaner/search/modFennick.h"
#include "platform/registry/memory_registry.h"
#include "tests/support/faulty_registry.h"
#include "tests/cleaner/search/fake_view.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace cleaner::testing {

class SearchTest : public ::testing::Test {
protected:
    platform::MemoryRegistry registry;
    testsupport::FaultyRegistry faulty{registry};
    FakeView view;
    modRegFuncs reg{faulty, view};
    modFennick fennick{reg, view};

    void Key(const std::string& path) { registry.CreateKey(platform::kHkeyClassesRoot, path); }
    // The key's default value.
    void Default(const std::string& path, const std::string& text) {
        registry.SetString(platform::kHkeyClassesRoot, path, "", text);
    }
    void Class(const std::string& id, const std::string& description) {
        Default("CLSID\\" + id, description);
    }
    void ClassSub(const std::string& id, const std::string& sub, const std::string& value) {
        Default("CLSID\\" + id + "\\" + sub, value);
    }
    void Interface(const std::string& id, const std::string& typeLib) {
        Default("Interface\\" + id, "I" + id);
        Default("Interface\\" + id + "\\TypeLib", typeLib);
    }

    void UseKeywords(std::initializer_list<const char*> texts) {
        fennick.Keywords.clear();
        for (const char* t : texts) {
            fennick.Keywords.push_back(Keyword{t, ""});
        }
    }

    // FoundKeys as "Branch|ProgId|SubKey|TypeLibId", and a check that the count agrees.
    std::vector<std::string> Found() const {
        std::vector<std::string> out;
        for (const FoundKey& k : fennick.FoundKeys) {
            out.push_back(k.Branch + "|" + k.ProgId + "|" + k.SubKey + "|" + k.TypeLibId);
        }
        EXPECT_EQ(static_cast<std::size_t>(fennick.FoundKeyCount()), fennick.FoundKeys.size());
        return out;
    }

    void TearDown() override { EXPECT_EQ(registry.OpenHandleCount(), 0u) << "a key was left open"; }
};

using Lines = std::vector<std::string>;

}  // namespace cleaner::testing
