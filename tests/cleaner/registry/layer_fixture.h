// What the registry layer's tests share: a user interface that records what it is shown, a
// registry that forwards to the in-memory one and can be made to fail in ways the in-memory
// registry has no switch for, and a fixture with both.
#pragma once

#include "cleaner/registry/modRegFuncs.h"
#include "platform/registry/memory_registry.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <new>
#include <optional>
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

// Forwards to a MemoryRegistry. Each operation can be set to throw std::bad_alloc on its nth
// call from now (as an allocation inside the platform would), or be replaced outright.
class HookedRegistry : public platform::RegistryApi {
public:
    enum class Op { Open, Close, Query, EnumKey, EnumValue, Delete };

    explicit HookedRegistry(platform::MemoryRegistry& inner) : inner_(inner) {}

    void ThrowOnCall(Op op, int nth = 1) { throwAt_[op] = calls_[op] + nth; }
    int Calls(Op op) const {
        const auto it = calls_.find(op);
        return it == calls_.end() ? 0 : it->second;
    }

    // When set and returning a code, that code replaces the call.
    std::function<std::optional<LONG>(HKEY, DWORD index, char* name, DWORD* nameSize)> enumKey;
    std::function<std::optional<LONG>(HKEY, DWORD index)> enumValue;
    std::vector<std::string> deleted;  // subKey of every delete that succeeded

    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD sam,
                       HKEY* result) override {
        Count(Op::Open);
        openOptions.push_back(options);
        return inner_.RegOpenKeyExA(key, subKey, options, sam, result);
    }
    bool HasWow64Node() const override { return inner_.HasWow64Node(); }
    LONG QueryNarrowLoss(HKEY key, DWORD* loss) override {
        return inner_.QueryNarrowLoss(key, loss);
    }
    LONG QueryKeyClass(HKEY key, bool* hasClass) override {
        return inner_.QueryKeyClass(key, hasClass);
    }
    LONG RegCloseKey(HKEY key) override {
        Count(Op::Close);
        return inner_.RegCloseKey(key);
    }
    LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type,
                          unsigned char* data, DWORD* size) override {
        Count(Op::Query);
        return inner_.RegQueryValueExA(key, name, reserved, type, data, size);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       char* className, DWORD* classSize, std::uint64_t* time) override {
        Count(Op::EnumKey);
        enumKeyIndexes.push_back(index);
        if (enumKey) {
            if (const auto code = enumKey(key, index, name, nameSize)) {
                return *code;
            }
        }
        return inner_.RegEnumKeyExA(key, index, name, nameSize, reserved, className, classSize,
                                    time);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       DWORD* type, unsigned char* data, DWORD* dataSize) override {
        Count(Op::EnumValue);
        if (enumValue) {
            if (const auto code = enumValue(key, index)) {
                return *code;
            }
        }
        return inner_.RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
    }
    LONG RegDeleteKeyA(HKEY key, const char* subKey) override {
        Count(Op::Delete);
        const LONG result = inner_.RegDeleteKeyA(key, subKey);
        if (result == platform::kErrorSuccess) {
            deleted.emplace_back(subKey);
        }
        return result;
    }
    DWORD FormatMessageA(DWORD flags, const void* source, DWORD id, DWORD language, char* buffer,
                         DWORD size, void* arguments) override {
        return inner_.FormatMessageA(flags, source, id, language, buffer, size, arguments);
    }

    std::vector<DWORD> enumKeyIndexes;
    std::vector<DWORD> openOptions;

private:
    void Count(Op op) {
        const int n = ++calls_[op];
        if (throwAt_.count(op) != 0 && throwAt_[op] == n) {
            throwAt_.erase(op);
            throw std::bad_alloc();
        }
    }

    platform::MemoryRegistry& inner_;
    std::map<Op, int> calls_;
    std::map<Op, int> throwAt_;
};

class LayerTest : public ::testing::Test {
protected:
    platform::MemoryRegistry registry;
    HookedRegistry hooked{registry};
    RecordingUi ui;
    modRegFuncs reg{hooked, ui};

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
