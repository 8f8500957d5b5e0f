#include "platform/registry/registry_tree.h"

#include "platform/registry/text.h"
#include "platform/registry/wine_syntax.h"

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace platform::detail {
namespace {

constexpr std::size_t kPoolChunk = 64 * 1024;  // UTF-16 units per chunk of the name pool
constexpr std::size_t kKeyChunk = 4096;        // keys per chunk
constexpr std::size_t kMaxNarrowName = 255;    // Key::nameSize
constexpr std::size_t kMaxNameOffset = 0xFFFF; // Key::nameOffset

char16_t Lower(char16_t unit) {
    if (unit < 0x80) return (unit >= u'A' && unit <= u'Z') ? char16_t(unit + 0x20) : unit;
    return text::ToLowerWine(unit);
}

// Room for count subkeys: a power of two, so that growing one by one copies each key a few
// times only and the room needs no field of its own.
std::uint32_t Room(std::uint32_t count) { return count == 0 ? 0 : std::bit_ceil(count); }

}  // namespace

std::u16string NameView::ToU16() const {
    if (!narrow_) return std::u16string(WideUnits(), size_);
    std::u16string out(size_, u'\0');
    for (std::size_t i = 0; i < size_; ++i) out[i] = static_cast<unsigned char>(NarrowBytes()[i]);
    return out;
}

int CompareNames(NameView a, NameView b) {
    const std::size_t common = std::min(a.size(), b.size());
    if (a.narrow() && b.narrow()) {
        const auto* x = reinterpret_cast<const unsigned char*>(a.NarrowBytes());
        const auto* y = reinterpret_cast<const unsigned char*>(b.NarrowBytes());
        // Siblings in a file often share a long start: step over it eight bytes at a time.
        std::size_t i = 0;
        for (; i + 8 <= common; i += 8) {
            std::uint64_t wx, wy;
            std::memcpy(&wx, x + i, 8);
            std::memcpy(&wy, y + i, 8);
            if (wx != wy) break;
        }
        for (; i < common; ++i) {
            if (x[i] == y[i]) continue;
            const char16_t lx = Lower(x[i]), ly = Lower(y[i]);
            if (lx != ly) return lx < ly ? -1 : 1;
        }
    } else {
        for (std::size_t i = 0; i < common; ++i) {
            const char16_t ux = a[i], uy = b[i];
            if (ux == uy) continue;
            const char16_t lx = Lower(ux), ly = Lower(uy);
            if (lx != ly) return lx < ly ? -1 : 1;
        }
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool NamesEqual(NameView a, NameView b) { return a.size() == b.size() && CompareNames(a, b) == 0; }

std::uint64_t NowFiletime() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(since1970.count() / 100) + 116444736000000000ull;
}

// The subkey arrays: small ones cut from large chunks and reused through a free list per
// size, large ones (a key with thousands of subkeys) allocated on their own.
class Tree::SubkeyArrays {
public:
    static constexpr std::uint32_t kLargestSmall = 2048;

    Key** Allocate(std::uint32_t room) {
        if (room > kLargestSmall) return new Key*[room];
        const int size = std::countr_zero(room);
        if (Key** reused = free_[size]) {
            free_[size] = reinterpret_cast<Key**>(reused[0]);
            return reused;
        }
        if (used_ + room > kChunk) {
            chunks_.push_back(std::make_unique_for_overwrite<Key*[]>(kChunk));
            used_ = 0;
        }
        Key** array = chunks_.back().get() + used_;
        used_ += room;
        return array;
    }

    void Free(Key** array, std::uint32_t room) {
        if (!array) return;
        if (room > kLargestSmall) {
            delete[] array;
            return;
        }
        const int size = std::countr_zero(room);
        array[0] = reinterpret_cast<Key*>(free_[size]);
        free_[size] = array;
    }

private:
    static constexpr std::size_t kChunk = 1 << 15;
    std::vector<std::unique_ptr<Key*[]>> chunks_;
    std::size_t used_ = kChunk;
    Key** free_[12] = {};  // by log2 of the room, up to kLargestSmall
};

Tree::Tree() : arrays_(std::make_unique<SubkeyArrays>()) {
    roots_[0] = &NewKey(Hive::kMachine, nullptr);
    roots_[1] = &NewKey(Hive::kUser, nullptr);
}

Tree::~Tree() {
    // Only large subkey arrays are not in the chunks.
    for (std::size_t c = 0; c < keyChunks_.size(); ++c) {
        const std::size_t count = c + 1 == keyChunks_.size() ? keysInLastChunk_ : kKeyChunk;
        for (std::size_t i = 0; i < count; ++i) {
            const Key& key = keyChunks_[c][i];
            if (Room(key.subkeyCount) > SubkeyArrays::kLargestSmall) delete[] key.subkeyData;
        }
    }
}

void Tree::Swap(Tree& other) noexcept {
    using std::swap;
    swap(keyChunks_, other.keyChunks_);
    swap(keysInLastChunk_, other.keysInLastChunk_);
    swap(arrays_, other.arrays_);
    swap(extras_, other.extras_);
    swap(namePool_, other.namePool_);
    swap(poolUsed_, other.poolUsed_);
    swap(poolSize_, other.poolSize_);
    swap(roots_, other.roots_);
    swap(texts_, other.texts_);
    swap(changed_, other.changed_);
    swap(parsedKey_, other.parsedKey_);
    swap(parsed_, other.parsed_);
}

Key& Tree::NewKey(Hive hive, Key* parent) {
    if (keyChunks_.empty() || keysInLastChunk_ == kKeyChunk) {
        keyChunks_.push_back(std::make_unique<Key[]>(kKeyChunk));
        keysInLastChunk_ = 0;
    }
    Key& key = keyChunks_.back()[keysInLastChunk_++];
    key.parent = parent;
    key.userHive = hive == Hive::kUser;
    return key;
}

Tree::Extra& Tree::ExtraOf(Key& key) {
    if (!key.extra) {
        extras_.emplace_back();
        key.extra = static_cast<std::uint32_t>(extras_.size());
    }
    return extras_[key.extra - 1];
}

std::u16string_view Tree::StoreName(NameView name) {
    if (name.empty()) return {};
    if (poolUsed_ + name.size() > poolSize_) {
        poolSize_ = std::max(kPoolChunk, name.size());
        namePool_.push_back(std::make_unique_for_overwrite<char16_t[]>(poolSize_));
        poolUsed_ = 0;
    }
    char16_t* place = namePool_.back().get() + poolUsed_;
    for (std::size_t i = 0; i < name.size(); ++i) place[i] = name[i];
    poolUsed_ += name.size();
    return {place, name.size()};
}

void Tree::SetWideName(Key& key, NameView name) {
    const std::u16string_view stored = StoreName(name);
    ExtraOf(key).name = stored;
    key.wideName = true;
}

std::uint64_t Tree::Time(const Key& key) const {
    for (const Key* k = &key; k; k = k->subkeyCount ? k->subkeyData[0] : nullptr) {
        if (const Extra* extra = FindExtra(*k); extra && extra->hasTime) return extra->time;
        if (k->hasBlock)
            if (const std::optional<std::uint64_t> time = BlockTime(k->Raw(), k->lateOptions)) return *time;
    }
    return 0;
}

void Tree::SetTime(Key& key, std::uint64_t time) {
    Extra& extra = ExtraOf(key);
    extra.time = time;
    extra.hasTime = true;
}

std::optional<std::u16string> Tree::ClassName(const Key& key) const {
    if (const Extra* extra = FindExtra(key); extra && extra->hasClass) return *extra->className;
    if (key.hasBlock) return BlockClass(key.Raw(), key.lateOptions);
    return std::nullopt;
}

void Tree::SetClassName(Key& key, std::u16string className) {
    Extra& extra = ExtraOf(key);
    extra.className = std::make_unique<std::u16string>(std::move(className));
    extra.hasClass = true;
}

Key* Tree::FindChild(const Key& parent, NameView name) const {
    const auto subs = parent.Subkeys();
    auto it = std::lower_bound(subs.begin(), subs.end(), name, [this](const Key* k, NameView n) {
        return CompareNames(Name(*k), n) < 0;
    });
    if (it != subs.end() && CompareNames(Name(**it), name) == 0) return *it;
    return nullptr;
}

Key& Tree::Child(Key& parent, std::u16string_view name) {
    const auto subs = parent.Subkeys();
    auto it = std::lower_bound(subs.begin(), subs.end(), NameView(name), [this](const Key* k, NameView n) {
        return CompareNames(Name(*k), n) < 0;
    });
    if (it != subs.end() && CompareNames(Name(**it), NameView(name)) == 0) return **it;
    return InsertChild(parent, static_cast<std::size_t>(it - subs.begin()), NameView(name));
}

Key& Tree::InsertChild(Key& parent, std::size_t at, NameView name) {
    Key& key = NewKey(parent.hive(), &parent);
    if (name.narrow() && name.size() <= kMaxNarrowName) {
        key.text = name.NarrowBytes();
        key.nameSize = static_cast<std::uint8_t>(name.size());
    } else {
        SetWideName(key, name);
    }
    Insert(parent, at, key);
    return key;
}

void Tree::Insert(Key& parent, std::size_t at, Key& key) {
    const std::uint32_t count = parent.subkeyCount;
    if (count == Room(count)) {
        if (count == 0xFFFFFFFFu) throw std::length_error("too many subkeys");
        Key** grown = arrays_->Allocate(count == 0 ? 1 : count * 2);
        if (count) std::memcpy(grown, parent.subkeyData, count * sizeof(Key*));
        arrays_->Free(parent.subkeyData, count);
        parent.subkeyData = grown;
    }
    Key** data = parent.subkeyData;
    std::memmove(data + at + 1, data + at, (count - at) * sizeof(Key*));
    data[at] = &key;
    parent.subkeyCount = count + 1;
}

void Tree::SetBlock(Key& key, const char* block, NameView nameInBlock) {
    if (key.hasBlock) return;
    if (!key.wideName && key.parent) {
        // The name keeps the spelling it was first read with.
        const NameView current = Name(key);
        const bool same = nameInBlock.narrow() && current.size() == nameInBlock.size() &&
                          std::memcmp(current.NarrowBytes(), nameInBlock.NarrowBytes(), current.size()) == 0;
        const std::size_t offset = same ? static_cast<std::size_t>(nameInBlock.NarrowBytes() - block) : 0;
        if (same && offset <= kMaxNameOffset)
            key.nameOffset = static_cast<std::uint16_t>(offset);
        else
            SetWideName(key, current);
    }
    key.text = block;
    key.hasBlock = true;
}

void Tree::SortSubkeys(Key& parent) const {
    std::sort(parent.subkeyData, parent.subkeyData + parent.subkeyCount,
              [this](const Key* a, const Key* b) { return CompareNames(Name(*a), Name(*b)) < 0; });
}

void Tree::Unlink(Key& key) {
    if (!key.parent) return;
    Key& parent = *key.parent;
    Key** data = parent.subkeyData;
    const std::uint32_t count = parent.subkeyCount;
    Key** end = std::remove(data, data + count, &key);
    const auto left = static_cast<std::uint32_t>(end - data);
    if (Room(left) != Room(count)) {
        // Keep the room a power of two: move to the smaller array.
        Key** smaller = left ? arrays_->Allocate(Room(left)) : nullptr;
        if (left) std::memcpy(smaller, data, left * sizeof(Key*));
        arrays_->Free(data, Room(count));
        parent.subkeyData = smaller;
    }
    parent.subkeyCount = left;
    key.deleted = true;
}

const std::vector<Value>& Tree::Values(const Key& key) const {
    if (key.changed) return *FindExtra(key)->values;
    if (parsedKey_ != &key) {
        parsed_.clear();
        parsedKey_ = nullptr;
        if (key.hasBlock) ParseBlockValues(key.Raw(), parsed_);
        parsedKey_ = &key;
    }
    return parsed_;
}

std::vector<Value>& Tree::Change(Key& key) {
    Extra& extra = ExtraOf(key);
    if (!extra.values) {
        extra.values = std::make_unique<std::vector<Value>>();
        if (key.hasBlock) ParseBlockValues(key.Raw(), *extra.values);
    }
    key.changed = true;
    if (parsedKey_ == &key) parsedKey_ = nullptr;
    return *extra.values;
}

const std::string& Tree::KeepText(std::string text) {
    return KeepText(std::make_shared<const std::string>(std::move(text)));
}

const std::string& Tree::KeepText(std::shared_ptr<const std::string> text) {
    texts_.push_back(std::move(text));
    return *texts_.back();
}

}  // namespace platform::detail
