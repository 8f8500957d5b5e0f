// The keys and values behind MemoryRegistry and the Wine-prefix store: one tree per hive
// (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER), UTF-16 names and data exactly as Wine keeps them.
// Internal to platform/registry.
#pragma once

#include "platform/registry/registry_api.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

enum class Hive : std::uint8_t { kMachine = 0, kUser = 1 };
inline constexpr int kHiveCount = 2;

struct Value {
    std::u16string name;  // empty: the default value
    DWORD type = kRegNone;
    std::string data;     // exact bytes; string types are UTF-16LE
};

// A key loaded from a file keeps its block's text (raw) and parses its values only when they
// are first asked for, so a large prefix loads fast and small. A key that was changed (or
// built in memory) has its values in `values` and is written anew when its file is saved.
struct Key {
    std::u16string_view name;  // in the tree's name pool
    Key* parent = nullptr;
    std::vector<Key*> subkeys;  // Wine's order (text::CompareNames)
    std::unique_ptr<std::vector<Value>> values;
    std::unique_ptr<std::u16string> className;
    std::uint64_t time = 0;  // FILETIME
    const char* raw = nullptr;  // the key's block in its file, from '[' to its last line's LF
    std::uint32_t rawSize = 0;
    Hive hive = Hive::kMachine;
    bool deleted = false;
    bool changed = false;  // written anew, not from raw
    bool link = false;     // #link
};

// Current time as a FILETIME.
std::uint64_t NowFiletime();

class Tree {
public:
    Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;

    Key& Root(Hive hive) { return *roots_[static_cast<int>(hive)]; }
    const Key& Root(Hive hive) const { return *roots_[static_cast<int>(hive)]; }

    // The subkey of this name (any case), or null.
    static Key* FindChild(const Key& parent, std::u16string_view name);
    // The subkey of this name, created in its sorted place when missing.
    Key& Child(Key& parent, std::u16string_view name);
    // A new subkey added last, whatever its name; the caller restores the order.
    Key& AppendChild(Key& parent, std::u16string_view name);
    // Removes a key that has no subkeys from its parent; the key object lives on, marked
    // deleted, so handles on it stay safe.
    void Unlink(Key& key);

    // The key's values, parsed from its block first when needed.
    std::vector<Value>& Values(Key& key);
    // Makes the key's values editable and marks it to be written anew.
    std::vector<Value>& Change(Key& key);

    // The hive's files are kept here so raw blocks stay valid.
    const std::string& KeepText(std::string text);

    std::size_t KeyCount() const { return keys_.size(); }

    // Whether a hive differs from what was loaded or last saved.
    void MarkChanged(Hive hive) { changed_[static_cast<int>(hive)] = true; }
    bool Changed(Hive hive) const { return changed_[static_cast<int>(hive)]; }
    void MarkSaved(Hive hive) { changed_[static_cast<int>(hive)] = false; }

private:
    Key& NewKey(Hive hive, std::u16string_view name, Key* parent);
    std::u16string_view StoreName(std::u16string_view name);

    std::deque<Key> keys_;
    std::vector<std::unique_ptr<char16_t[]>> namePool_;
    std::size_t poolUsed_ = 0;
    std::size_t poolSize_ = 0;
    Key* roots_[kHiveCount] = {};
    std::deque<std::string> texts_;
    bool changed_[kHiveCount] = {};
};

}  // namespace platform::detail
