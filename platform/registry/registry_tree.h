// The keys and values behind MemoryRegistry and the Wine-prefix store: one tree per hive
// (HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER), UTF-16 names and data exactly as Wine keeps them.
// Internal to the registries: the in-memory one (platform/registry) and the Wine-prefix store
// (platform/wine).
//
// A prefix holds a million keys and more, so a key is small: a key read from a file keeps only
// where its block is in the file's text, and its name, values, class and time are read from
// that block when they are asked for. What a change makes different (values, time, class) is
// kept beside the key, for the few keys that change.
#pragma once

#include "platform/registry/registry_api.h"
#include "platform/registry/wine_syntax.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace platform::detail {

enum class Hive : std::uint8_t { kMachine = 0, kUser = 1 };
inline constexpr int kHiveCount = 2;

// A key name: UTF-16 units, or the bytes of a file's text where the name needed no escapes
// (each byte, below 0x80, is one unit). Names compare without regard to case (CompareNames).
// Sixteen bytes, so that it travels in registers.
class NameView {
public:
    NameView() = default;
    NameView(std::u16string_view wide) : data_(wide.data()), size_(static_cast<std::uint32_t>(wide.size())) {}
    static NameView Narrow(const char* bytes, std::size_t size) {
        NameView name;
        name.data_ = bytes;
        name.size_ = static_cast<std::uint32_t>(size);
        name.narrow_ = true;
        return name;
    }

    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    bool narrow() const { return narrow_; }
    const char* NarrowBytes() const { return static_cast<const char*>(data_); }
    const char16_t* WideUnits() const { return static_cast<const char16_t*>(data_); }
    char16_t operator[](std::size_t i) const {
        return narrow_ ? static_cast<char16_t>(NarrowBytes()[i]) : WideUnits()[i];
    }
    std::u16string ToU16() const;

private:
    const void* data_ = nullptr;
    std::uint32_t size_ = 0;  // names are far shorter; a path of them too
    bool narrow_ = false;
};

// Wine's order of names (text::CompareNames) for names in either form.
int CompareNames(NameView a, NameView b);
bool NamesEqual(NameView a, NameView b);

struct Key {
    Key* parent = nullptr;
    Key** subkeyData = nullptr;  // Wine's order (CompareNames); see Subkeys()
    // With hasBlock: the key's block in its file, from '[' to its last line's LF (rawSize
    // bytes), its name nameSize bytes from nameOffset. Without: the name's bytes. A key with
    // wideName has its name beside it (Tree::Name) instead.
    const char* text = nullptr;
    std::uint32_t rawSize = 0;
    std::uint32_t subkeyCount = 0;
    std::uint32_t extra = 0;  // 1 + the index of what changed about the key, 0 when nothing
    std::uint16_t nameOffset = 0;
    std::uint8_t nameSize = 0;
    bool userHive : 1 = false;
    bool hasBlock : 1 = false;
    bool wideName : 1 = false;
    bool deleted : 1 = false;
    bool changed : 1 = false;  // written anew from its values, not from its block
    bool link : 1 = false;     // #link
    bool lateOptions : 1 = false;  // the block has #time or #class lines after its values

    Hive hive() const { return userHive ? Hive::kUser : Hive::kMachine; }
    std::span<Key* const> Subkeys() const { return {subkeyData, subkeyCount}; }
    // The block as read; empty when the key has none.
    std::string_view Raw() const { return hasBlock ? std::string_view(text, rawSize) : std::string_view(); }
};

static_assert(sizeof(void*) != 8 || sizeof(Key) == 40, "a key's size decides the store's memory");

// Current time as a FILETIME.
std::uint64_t NowFiletime();

class Tree {
public:
    Tree();
    ~Tree();
    Tree(const Tree&) = delete;
    Tree& operator=(const Tree&) = delete;
    // Exchanges everything (keys, texts, changed flags) with other.
    void Swap(Tree& other) noexcept;

    Key& Root(Hive hive) { return *roots_[static_cast<int>(hive)]; }
    const Key& Root(Hive hive) const { return *roots_[static_cast<int>(hive)]; }

    NameView Name(const Key& key) const {
        if (key.wideName) return NameView(FindExtra(key)->name);
        return NameView::Narrow(key.hasBlock ? key.text + key.nameOffset : key.text, key.nameSize);
    }
    // The last write time (FILETIME): as set, else from the key's block, else that of its first
    // subkey (Wine gives a key that exists only through its subkeys the first one's time).
    std::uint64_t Time(const Key& key) const;
    void SetTime(Key& key, std::uint64_t time);
    std::optional<std::u16string> ClassName(const Key& key) const;
    void SetClassName(Key& key, std::u16string className);

    // The subkey of this name (any case), or null.
    Key* FindChild(const Key& parent, NameView name) const;
    // The subkey of this name, created in its sorted place when missing.
    Key& Child(Key& parent, std::u16string_view name);

    // For the loader. A new subkey named by bytes of a kept text (narrow, unescaped) or by
    // units that the tree copies, placed at index `at` of the parent's subkeys (the caller
    // keeps the order).
    Key& InsertChild(Key& parent, std::size_t at, NameView name);
    // Gives the key its block: text from '[' (the key line); the size follows with SetRawSize.
    void SetBlock(Key& key, const char* block, NameView nameInBlock);
    static void SetRawSize(Key& key, std::uint32_t size) { key.rawSize = size; }
    // Puts the parent's subkeys in Wine's order.
    void SortSubkeys(Key& parent) const;

    // Removes a key that has no subkeys from its parent; the key object lives on, marked
    // deleted, so handles on it stay safe.
    void Unlink(Key& key);

    // The key's values. For a key that did not change they are read from its block, and the
    // reference holds until Values is next called for another key.
    const std::vector<Value>& Values(const Key& key) const;
    // Makes the key's values editable and marks it to be written anew; the reference holds.
    std::vector<Value>& Change(Key& key);

    // A file's text, kept here so that blocks and names stay valid while the tree lives.
    const std::string& KeepText(std::string text);
    const std::string& KeepText(std::shared_ptr<const std::string> text);

    // Whether a hive differs from what was loaded or last saved.
    void MarkChanged(Hive hive) { changed_[static_cast<int>(hive)] = true; }
    bool Changed(Hive hive) const { return changed_[static_cast<int>(hive)]; }
    void MarkSaved(Hive hive) { changed_[static_cast<int>(hive)] = false; }

private:
    struct Extra {
        std::u16string_view name;  // with Key::wideName
        std::unique_ptr<std::vector<Value>> values;  // once changed
        std::unique_ptr<std::u16string> className;   // as set
        std::uint64_t time = 0;
        bool hasTime = false;
        bool hasClass = false;
    };
    class SubkeyArrays;

    Key& NewKey(Hive hive, Key* parent);
    Extra& ExtraOf(Key& key);
    const Extra* FindExtra(const Key& key) const { return key.extra ? &extras_[key.extra - 1] : nullptr; }
    void SetWideName(Key& key, NameView name);
    std::u16string_view StoreName(NameView name);
    void Insert(Key& parent, std::size_t at, Key& key);

    std::vector<std::unique_ptr<Key[]>> keyChunks_;
    std::size_t keysInLastChunk_ = 0;
    std::unique_ptr<SubkeyArrays> arrays_;
    std::deque<Extra> extras_;
    std::vector<std::unique_ptr<char16_t[]>> namePool_;
    std::size_t poolUsed_ = 0;
    std::size_t poolSize_ = 0;
    Key* roots_[kHiveCount] = {};
    std::vector<std::shared_ptr<const std::string>> texts_;
    bool changed_[kHiveCount] = {};
    // The values last read from a block.
    mutable const Key* parsedKey_ = nullptr;
    mutable std::vector<Value> parsed_;
};

}  // namespace platform::detail
