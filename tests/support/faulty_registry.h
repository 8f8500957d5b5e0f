// One fault injector for every registry the tests use (the in-memory one, the Wine-prefix
// store, advapi32 under Wine): a RegistryApi that forwards to another and makes chosen calls
// fail. A fault is named by the key it hits (opening, deleting, enumerating a subkey of it),
// by the nth call of one operation (which throws std::bad_alloc, as an allocation inside the
// platform would), or by the nth registry call of any kind (which gives a result code or
// throws; the sweeps go through every call of a run with it).
//
// Keys are named as the in-memory registry and a Wine prefix name them: HKEY_CLASSES_ROOT is
// HKEY_LOCAL_MACHINE\Software\Classes, letter case aside. A key is known by the path of the
// handle it was reached through, so only handles opened through this wrapper meet key faults.
// Header only: the registry layer's tests use it in the Windows build too.
#pragma once

#include "platform/registry/registry_api.h"
#include "platform/registry/text.h"

#include <functional>
#include <map>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace testsupport {

class FaultyRegistry : public platform::RegistryApi {
public:
    using DWORD = platform::DWORD;
    using HKEY = platform::HKEY;
    using LONG = platform::LONG;

    enum class Op { Open, Close, Query, EnumKey, EnumValue, Delete, NarrowLoss };

    explicit FaultyRegistry(platform::RegistryApi& inner) : inner_(inner) {}

    // --- Faults at a key; each holds until ClearFaults. Paths are below a predefined root.
    void FailOpen(HKEY root, std::string_view path, LONG code) { Add(Op::Open, root, path, 0, code); }
    void FailDelete(HKEY root, std::string_view path, LONG code) { Add(Op::Delete, root, path, 0, code); }
    // Enumerating the subkey at index of this key gives code.
    void FailEnumKey(HKEY root, std::string_view path, DWORD index, LONG code) {
        Add(Op::EnumKey, root, path, index, code);
    }
    void ClearFaults() {
        faults_.clear();
        failAt_ = 0;
        throwAt_.clear();
    }

    // --- Faults by count, from now on: once each.
    void ThrowOnCall(Op op, int nth = 1) { throwAt_[op] = Calls(op) + nth; }
    // The nth call of any operation gives code, or with code 0 throws std::bad_alloc, and does
    // not reach the registry.
    void FailNthCall(int nth, LONG code) {
        failAt_ = total_ + nth;
        failCode_ = code;
    }
    bool NthCallFailed() const { return failAt_ != 0 && total_ >= failAt_; }

    int Calls(Op op) const {
        const auto it = calls_.find(op);
        return it == calls_.end() ? 0 : it->second;
    }
    int Calls() const { return total_; }

    // When set and returning a code, that code replaces the call.
    std::function<std::optional<LONG>(HKEY, DWORD index, char* name, DWORD* nameSize)> enumKey;
    std::function<std::optional<LONG>(HKEY, DWORD index)> enumValue;
    // Called with the subKey of every delete that succeeded.
    std::function<void(const std::string& subKey)> onDeleted;

    // What was asked: the subKey of every delete that succeeded, the index of every subkey
    // enumeration, the options of every open.
    std::vector<std::string> deleted;
    std::vector<DWORD> enumKeyIndexes;
    std::vector<DWORD> openOptions;

    // --- RegistryApi
    LONG RegOpenKeyExA(HKEY key, const char* subKey, DWORD options, DWORD sam,
                       HKEY* result) override {
        if (const auto code = Count(Op::Open)) return *code;
        openOptions.push_back(options);
        const std::optional<std::string> place = PlaceBelow(key, subKey);
        if (const auto code = Find(Op::Open, place, 0)) return *code;
        const LONG rc = inner_.RegOpenKeyExA(key, subKey, options, sam, result);
        if (rc == platform::kErrorSuccess && result && place) places_[*result] = *place;
        return rc;
    }
    LONG RegCloseKey(HKEY key) override {
        if (const auto code = Count(Op::Close)) return *code;
        const LONG rc = inner_.RegCloseKey(key);
        if (rc == platform::kErrorSuccess) places_.erase(key);
        return rc;
    }
    LONG RegQueryValueExA(HKEY key, const char* name, DWORD* reserved, DWORD* type,
                          unsigned char* data, DWORD* size) override {
        if (const auto code = Count(Op::Query)) return *code;
        return inner_.RegQueryValueExA(key, name, reserved, type, data, size);
    }
    LONG RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       char* className, DWORD* classSize, std::uint64_t* time) override {
        if (const auto code = Count(Op::EnumKey)) return *code;
        enumKeyIndexes.push_back(index);
        if (const auto code = Find(Op::EnumKey, PlaceBelow(key, nullptr), index)) return *code;
        if (enumKey)
            if (const auto code = enumKey(key, index, name, nameSize)) return *code;
        return inner_.RegEnumKeyExA(key, index, name, nameSize, reserved, className, classSize,
                                    time);
    }
    LONG RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD* reserved,
                       DWORD* type, unsigned char* data, DWORD* dataSize) override {
        if (const auto code = Count(Op::EnumValue)) return *code;
        if (enumValue)
            if (const auto code = enumValue(key, index)) return *code;
        return inner_.RegEnumValueA(key, index, name, nameSize, reserved, type, data, dataSize);
    }
    LONG RegDeleteKeyA(HKEY key, const char* subKey) override {
        if (const auto code = Count(Op::Delete)) return *code;
        if (const auto code = Find(Op::Delete, PlaceBelow(key, subKey), 0)) return *code;
        const LONG rc = inner_.RegDeleteKeyA(key, subKey);
        if (rc != platform::kErrorSuccess) return rc;
        deleted.emplace_back(subKey ? subKey : "");
        if (onDeleted) onDeleted(deleted.back());
        return rc;
    }
    LONG QueryNarrowLoss(HKEY key, DWORD* loss) override {
        if (const auto code = Count(Op::NarrowLoss)) return *code;
        return inner_.QueryNarrowLoss(key, loss);
    }
    LONG QueryKeyClass(HKEY key, bool* hasClass) override { return inner_.QueryKeyClass(key, hasClass); }
    DWORD FormatMessageA(DWORD flags, const void* source, DWORD id, DWORD language, char* buffer,
                         DWORD size, void* arguments) override {
        return inner_.FormatMessageA(flags, source, id, language, buffer, size, arguments);
    }
    bool HasWow64Node() const override { return inner_.HasWow64Node(); }
    bool MergesUserClasses() const override { return inner_.MergesUserClasses(); }

private:
    struct Fault {
        Op op;
        std::string place;
        DWORD index = 0;
        LONG code = 0;
    };

    // A key's place: its hive's letter and its path, each name lowercased as Wine compares them
    // and joined by one backslash.
    static void Append(std::string& place, std::string_view path) {
        std::size_t start = 0;
        while (start <= path.size()) {
            std::size_t end = path.find('\\', start);
            if (end == std::string_view::npos) end = path.size();
            if (end > start) {
                place += '\\';
                place += platform::text::Utf16ToUtf8(
                    platform::text::FoldWine(platform::text::FromCp1252(path.substr(start, end - start))));
            }
            start = end + 1;
        }
    }
    std::optional<std::string> PlaceOf(HKEY key) const {
        switch (key) {
            case platform::kHkeyLocalMachine: return std::string("M");
            case platform::kHkeyCurrentUser: return std::string("U");
            case platform::kHkeyClassesRoot: return std::string("M\\software\\classes");
            default: break;
        }
        const auto it = places_.find(key);
        if (it == places_.end()) return std::nullopt;  // not opened through this wrapper
        return it->second;
    }
    std::optional<std::string> PlaceBelow(HKEY key, const char* subKey) const {
        std::optional<std::string> place = PlaceOf(key);
        if (place && subKey) Append(*place, subKey);
        return place;
    }

    void Add(Op op, HKEY root, std::string_view path, DWORD index, LONG code) {
        std::optional<std::string> place = PlaceOf(root);
        if (!place) throw std::invalid_argument("a fault's key is named below a predefined root");
        Append(*place, path);
        faults_.push_back({op, *place, index, code});
    }
    std::optional<LONG> Find(Op op, const std::optional<std::string>& place, DWORD index) const {
        if (!place) return std::nullopt;
        for (const Fault& f : faults_)
            if (f.op == op && f.index == index && f.place == *place) return f.code;
        return std::nullopt;
    }

    std::optional<LONG> Count(Op op) {
        const int n = ++calls_[op];
        ++total_;
        if (const auto it = throwAt_.find(op); it != throwAt_.end() && it->second == n) {
            throwAt_.erase(it);
            throw std::bad_alloc();
        }
        if (total_ == failAt_) {
            if (failCode_ == platform::kErrorSuccess) throw std::bad_alloc();
            return failCode_;
        }
        return std::nullopt;
    }

    platform::RegistryApi& inner_;
    std::unordered_map<HKEY, std::string> places_;  // handles opened through this wrapper
    std::vector<Fault> faults_;
    std::map<Op, int> calls_;
    std::map<Op, int> throwAt_;
    int total_ = 0;
    int failAt_ = 0;
    LONG failCode_ = 0;
};

}  // namespace testsupport
