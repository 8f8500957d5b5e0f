// What the registry layer's tests share: a user interface that records what it is shown, and a
// fixture with it and the in-memory registry behind the fault injector.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "platform/registry/memory_registry.h"
#include "tests/support/faulty_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace cleaner::testing {

using platform::DWORD;
using platform::HKEY;
using platform::LONG;

inline constexpr HKEY kHkcr = platform::kHkeyClassesRoot;
inline constexpr HKEY kHklm = platform::kHkeyLocalMachine;

class RecordingUi : public RegistryUi {
public:
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    void DoEvents() override {
        ++doEventsCalls;
        if (onDoEvents) {
            onDoEvents();
        }
    }
    std::vector<std::string> messages;
    int doEventsCalls = 0;
    std::function<void()> onDoEvents;
};

class LayerTest : public ::testing::Test {
protected:
    platform::MemoryRegistry registry;
    testsupport::FaultyRegistry faulty{registry};
    RecordingUi ui;
    modRegFuncs reg{faulty, ui};

    // Opens a key for a test, failing the test when it does not open.
    HKEY Open(HKEY root, const std::string& path) {
        HKEY handle = 0;
        EXPECT_TRUE(reg.RegOpen(root, path, "", handle)) << path;
        return handle;
    }
    void ExpectNoMessages() { EXPECT_TRUE(ui.messages.empty()) << ui.messages.front(); }
    void ExpectNoLeaks() { EXPECT_EQ(registry.OpenHandleCount(), 0u); }
};

// label + number + " : " + description + CR + advice, as the layer shows unexpected failures.
inline std::string OutOfMemoryReport(const std::string& label) {
    return label + " 7 : Out of memory\rPlease exit and try again.";
}

}  // namespace cleaner::testing
