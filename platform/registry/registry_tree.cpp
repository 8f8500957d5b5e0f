#include "platform/registry/registry_tree.h"

#include "platform/registry/text.h"
#include "platform/registry/wine_reg_file.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace platform::detail {
namespace {
constexpr std::size_t kPoolChunk = 64 * 1024;  // UTF-16 units per chunk of the name pool
}

std::uint64_t NowFiletime() {
    using namespace std::chrono;
    const auto since1970 = duration_cast<nanoseconds>(system_clock::now().time_since_epoch());
    return static_cast<std::uint64_t>(since1970.count() / 100) + 116444736000000000ull;
}

Tree::Tree() {
    roots_[0] = &NewKey(Hive::kMachine, u"", nullptr);
    roots_[1] = &NewKey(Hive::kUser, u"", nullptr);
}

Key& Tree::NewKey(Hive hive, std::u16string_view name, Key* parent) {
    Key& key = keys_.emplace_back();
    key.name = StoreName(name);
    key.parent = parent;
    key.hive = hive;
    return key;
}

std::u16string_view Tree::StoreName(std::u16string_view name) {
    if (name.empty()) return {};
    if (poolUsed_ + name.size() > poolSize_) {
        poolSize_ = std::max(kPoolChunk, name.size());
        namePool_.push_back(std::make_unique<char16_t[]>(poolSize_));
        poolUsed_ = 0;
    }
    char16_t* place = namePool_.back().get() + poolUsed_;
    std::copy(name.begin(), name.end(), place);
    poolUsed_ += name.size();
    return {place, name.size()};
}

Key* Tree::FindChild(const Key& parent, std::u16string_view name) {
    const auto& subs = parent.subkeys;
    auto it = std::lower_bound(subs.begin(), subs.end(), name, [](const Key* k, std::u16string_view n) {
        return text::CompareNames(k->name, n) < 0;
    });
    if (it != subs.end() && text::CompareNames((*it)->name, name) == 0) return *it;
    return nullptr;
}

Key& Tree::Child(Key& parent, std::u16string_view name) {
    auto& subs = parent.subkeys;
    // Files list siblings in order, so the new key usually goes last.
    auto it = subs.end();
    if (!subs.empty() && text::CompareNames(subs.back()->name, name) >= 0) {
        it = std::lower_bound(subs.begin(), subs.end(), name, [](const Key* k, std::u16string_view n) {
            return text::CompareNames(k->name, n) < 0;
        });
        if (text::CompareNames((*it)->name, name) == 0) return **it;
    }
    Key& key = NewKey(parent.hive, name, &parent);
    subs.insert(it, &key);
    return key;
}

Key& Tree::AppendChild(Key& parent, std::u16string_view name) {
    Key& key = NewKey(parent.hive, name, &parent);
    parent.subkeys.push_back(&key);
    return key;
}

void Tree::Unlink(Key& key) {
    if (!key.parent) return;
    auto& subs = key.parent->subkeys;
    subs.erase(std::remove(subs.begin(), subs.end(), &key), subs.end());
    key.deleted = true;
}

std::vector<Value>& Tree::Values(Key& key) {
    if (!key.values) {
        key.values = std::make_unique<std::vector<Value>>();
        if (key.raw) ParseBlockValues(std::string_view(key.raw, key.rawSize), *key.values);
    }
    return *key.values;
}

std::vector<Value>& Tree::Change(Key& key) {
    std::vector<Value>& values = Values(key);
    key.changed = true;
    return values;
}

const std::string& Tree::KeepText(std::string text) { return texts_.emplace_back(std::move(text)); }

}  // namespace platform::detail
