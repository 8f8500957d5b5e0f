#include "platform/registry/memory_registry.h"

#include "platform/registry/registry_tree.h"
#include "platform/registry/system_text.h"
#include "platform/registry/text.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform {

using detail::Hive;
using detail::Key;
using detail::Value;

namespace {

constexpr LONG kErrorInvalidParameter = 87;
constexpr HKEY kFirstHandle = 0x1000;

bool IsStringType(DWORD type) { return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz; }

// The components of a narrow path; empty ones (doubled, leading or trailing backslashes) are
// skipped, as Wine's server does.
std::vector<std::u16string> SplitPath(std::string_view path) {
    std::vector<std::u16string> parts;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string_view::npos) end = path.size();
        if (end > start) parts.push_back(text::FromCp1252(path.substr(start, end - start)));
        start = end + 1;
    }
    return parts;
}

// A key named by its hive and its folded path, for the rights granted on it.
struct Place {
    Hive hive = Hive::kMachine;
    std::u16string path;

    void Append(std::u16string_view name) {
        if (!path.empty()) path.push_back(u'\\');
        path += text::FoldWine(name);
    }
};

Place PlaceOf(const detail::Tree& tree, const Key& key) {
    std::vector<const Key*> chain;
    for (const Key* k = &key; k->parent; k = k->parent) chain.push_back(k);
    Place place{key.hive(), {}};
    for (auto it = chain.rbegin(); it != chain.rend(); ++it) place.Append(tree.Name(**it).ToU16());
    return place;
}

// The rights a protected key and the keys below it grant.
struct Grant {
    Place place;
    DWORD rights = 0;
};

// Narrow bytes of a value, as the A functions give them out.
std::string NarrowData(const Value& value) {
    if (!IsStringType(value.type)) return value.data;
    std::string out;
    out.reserve(value.data.size() / 2);
    for (std::size_t i = 0; i + 1 < value.data.size(); i += 2) {
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(value.data[i]) |
                                                static_cast<unsigned char>(value.data[i + 1]) << 8);
        out.push_back(text::ToCp1252(unit));
    }
    return out;
}

std::string WideData(DWORD type, std::string_view bytes) {
    if (!IsStringType(type)) return std::string(bytes);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char16_t unit : text::FromCp1252(bytes)) {
        out.push_back(static_cast<char>(unit & 0xFF));
        out.push_back(static_cast<char>(unit >> 8));
    }
    return out;
}

// A key or value name as the narrow functions give it out. A NUL inside a name (Wine's files
// can hold one) becomes '?', as an unmappable character does: passed back to RegOpenKeyExA
// the name would otherwise stop at the NUL and open the parent again, and a tree walk
// would never end.
std::string NarrowName(detail::NameView name) {
    std::string out;
    if (name.narrow()) {
        out.assign(name.NarrowBytes(), name.size());  // ASCII already
    } else {
        out = text::ToCp1252(std::u16string_view(name.WideUnits(), name.size()));
    }
    for (char& c : out)
        if (c == '\0') c = '?';
    return out;
}

// Copies a name into a caller's buffer of *size characters (NUL included), as the Enum
// functions do: 234 with the length needed when it does not fit.
LONG CopyName(const std::string& name, char* buffer, DWORD* size) {
    if (!buffer || !size) return kErrorInvalidParameter;
    if (name.size() >= *size) {
        *size = static_cast<DWORD>(name.size());
        return kErrorMoreData;
    }
    std::memcpy(buffer, name.data(), name.size());
    buffer[name.size()] = '\0';
    *size = static_cast<DWORD>(name.size());
    return kErrorSuccess;
}

// Hands out a value's type and data with RegQueryValueExA's size rules.
LONG CopyData(const Value& value, DWORD* type, unsigned char* data, DWORD* dataSize) {
    if (type) *type = value.type;
    if (!data && !dataSize) return kErrorSuccess;
    const std::string bytes = NarrowData(value);
    const auto needed = static_cast<DWORD>(bytes.size());
    if (!data) {
        *dataSize = needed;
        return kErrorSuccess;
    }
    if (!dataSize) return kErrorInvalidParameter;
    if (*dataSize < needed) {
        *dataSize = needed;
        return kErrorMoreData;
    }
    std::memcpy(data, bytes.data(), bytes.size());
    *dataSize = needed;
    return kErrorSuccess;
}

}  // namespace

struct MemoryRegistry::State {
    detail::Tree tree;
    std::unordered_map<HKEY, Key*> handles;
    HKEY nextHandle = kFirstHandle;
    std::vector<Grant> grants;  // Windows' protected keys (GrantOnly)
    bool wow64Node = false;
    bool mergeUserClasses = false;

    // The two copies of a key below a merged HKEY_CLASSES_ROOT; either may be missing.
    struct Copies {
        Key* user = nullptr;
        Key* machine = nullptr;
        Key* Seen() const { return user ? user : machine; }
    };
    std::unordered_map<HKEY, Copies> merged;  // the handles opened below a merged root

    static bool IsRoot(HKEY key) {
        return key == kHkeyClassesRoot || key == kHkeyCurrentUser || key == kHkeyLocalMachine;
    }

    static Hive HiveOf(HKEY root) { return root == kHkeyCurrentUser ? Hive::kUser : Hive::kMachine; }

    // HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes.
    Key* ClassesRoot() {
        Key* software = tree.FindChild(tree.Root(Hive::kMachine), std::u16string_view(u"Software"));
        return software ? tree.FindChild(*software, std::u16string_view(u"Classes")) : nullptr;
    }

    Key* UserClassesRoot() {
        Key* software = tree.FindChild(tree.Root(Hive::kUser), std::u16string_view(u"Software"));
        return software ? tree.FindChild(*software, std::u16string_view(u"Classes")) : nullptr;
    }

    // The copies a handle stands for when it is below a merged HKEY_CLASSES_ROOT; a copy deleted
    // since counts as missing.
    std::optional<Copies> CopiesOf(HKEY handle) {
        if (!mergeUserClasses) return std::nullopt;
        Copies copies;
        if (handle == kHkeyClassesRoot) {
            copies = {UserClassesRoot(), ClassesRoot()};
        } else {
            auto it = merged.find(handle);
            if (it == merged.end()) return std::nullopt;
            copies = it->second;
        }
        if (copies.user && copies.user->deleted) copies.user = nullptr;
        if (copies.machine && copies.machine->deleted) copies.machine = nullptr;
        return copies;
    }

    // The key that subKey below handle names (below a merged root: the copy it sees, and both
    // copies in *copies). 2 when it does not exist, or Resolve's codes.
    LONG Find(HKEY handle, const char* subKey, Key*& key, std::optional<Copies>* copies = nullptr) {
        if (std::optional<Copies> base = CopiesOf(handle)) {
            Copies found;
            if (base->user && Walk(*base->user, subKey, found.user) != kErrorSuccess)
                found.user = nullptr;
            if (base->machine && Walk(*base->machine, subKey, found.machine) != kErrorSuccess)
                found.machine = nullptr;
            key = found.Seen();
            if (!key) return kErrorFileNotFound;
            if (copies) *copies = found;
            return kErrorSuccess;
        }
        Key* base = nullptr;
        if (LONG rc = Resolve(handle, base); rc != kErrorSuccess) return rc;
        return Walk(*base, subKey, key);
    }

    // The subkeys a key shows: below a merged root, those of both copies in Wine's order, each
    // name once (the user's copy's).
    std::vector<const Key*> SubkeysOf(HKEY handle, const Key& key) {
        const std::optional<Copies> copies = CopiesOf(handle);
        if (!copies || !copies->user || !copies->machine) {
            return {key.Subkeys().begin(), key.Subkeys().end()};
        }
        std::vector<const Key*> out;
        const auto user = copies->user->Subkeys();
        const auto machine = copies->machine->Subkeys();
        std::size_t u = 0, m = 0;
        while (u < user.size() || m < machine.size()) {
            if (m == machine.size()) {
                out.push_back(user[u++]);
                continue;
            }
            if (u == user.size()) {
                out.push_back(machine[m++]);
                continue;
            }
            const int order = detail::CompareNames(tree.Name(*user[u]), tree.Name(*machine[m]));
            if (order <= 0) out.push_back(user[u++]);
            if (order >= 0) {
                if (order != 0) out.push_back(machine[m]);
                ++m;
            }
        }
        return out;
    }

    LONG Resolve(HKEY handle, Key*& key) {
        if (std::optional<Copies> copies = CopiesOf(handle)) {
            key = copies->Seen();
            if (key) return kErrorSuccess;
            return handle == kHkeyClassesRoot ? kErrorFileNotFound : kErrorKeyDeleted;
        }
        switch (handle) {
            case kHkeyLocalMachine: key = &tree.Root(Hive::kMachine); return kErrorSuccess;
            case kHkeyCurrentUser: key = &tree.Root(Hive::kUser); return kErrorSuccess;
            case kHkeyClassesRoot:
                key = ClassesRoot();
                return key ? kErrorSuccess : kErrorFileNotFound;
            default: break;
        }
        auto it = handles.find(handle);
        if (it == handles.end()) return kErrorInvalidHandle;
        key = it->second;
        return key->deleted ? kErrorKeyDeleted : kErrorSuccess;
    }

    // Walks a narrow relative path; 2 when a component is missing.
    LONG Walk(Key& base, const char* subKey, Key*& key) const {
        key = &base;
        if (!subKey) return kErrorSuccess;
        for (const std::u16string& part : SplitPath(subKey)) {
            key = tree.FindChild(*key, std::u16string_view(part));
            if (!key) return kErrorFileNotFound;
        }
        return kErrorSuccess;
    }

    Place PlaceFor(HKEY root, std::string_view path) const {
        Place place{HiveOf(root), {}};
        if (root == kHkeyClassesRoot) place.path = u"software\\classes";
        for (const std::u16string& part : SplitPath(path)) place.Append(part);
        return place;
    }

    // The rights granted on the key at place: those of the nearest grant at or above it.
    std::optional<DWORD> Granted(const Place& place) const {
        const Grant* nearest = nullptr;
        for (const Grant& g : grants) {
            if (g.place.hive != place.hive) continue;
            const std::u16string& above = g.place.path;
            const bool covers = place.path == above ||
                                (place.path.size() > above.size() &&
                                 place.path.compare(0, above.size(), above) == 0 &&
                                 (above.empty() || place.path[above.size()] == u'\\'));
            if (covers && (!nearest || above.size() > nearest->place.path.size())) nearest = &g;
        }
        if (!nearest) return std::nullopt;
        return nearest->rights;
    }

    // The key to build under a root (HKEY_CLASSES_ROOT: under HKLM\Software\Classes).
    Key& BuildRoot(HKEY root) {
        Key& hive = tree.Root(HiveOf(root));
        if (root != kHkeyClassesRoot) return hive;
        return MakeChild(MakeChild(hive, u"Software"), u"Classes");
    }

    Key& MakeChild(Key& parent, std::u16string_view name) {
        const std::size_t before = parent.subkeyCount;
        Key& child = tree.Child(parent, name);
        if (parent.subkeyCount != before) {
            tree.SetTime(child, detail::NowFiletime());
            tree.Change(child);
            tree.MarkChanged(child.hive());
        }
        return child;
    }

    Key& Build(HKEY root, std::string_view path) {
        Key* key = &BuildRoot(root);
        for (const std::u16string& part : SplitPath(path)) key = &MakeChild(*key, part);
        return *key;
    }

    const Value* FindValue(const Key& key, std::u16string_view name) const {
        for (const Value& v : tree.Values(key))
            if (text::NamesEqual(v.name, name)) return &v;
        return nullptr;
    }
};

MemoryRegistry::MemoryRegistry() : state_(std::make_unique<State>()) {}
MemoryRegistry::~MemoryRegistry() = default;

detail::Tree& MemoryRegistry::Tree() { return state_->tree; }

void MemoryRegistry::SwapTree(detail::Tree& keys) {
    state_->tree.Swap(keys);
    state_->handles.clear();
    state_->merged.clear();
}

void MemoryRegistry::CreateKey(HKEY root, std::string_view path) { state_->Build(root, path); }

void MemoryRegistry::SetValue(HKEY root, std::string_view path, std::string_view name, DWORD type,
                              std::string_view bytes) {
    Key& key = state_->Build(root, path);
    std::vector<Value>& values = state_->tree.Change(key);
    const std::u16string wideName = text::FromCp1252(name);
    auto existing = std::find_if(values.begin(), values.end(),
                                 [&](const Value& v) { return text::NamesEqual(v.name, wideName); });
    if (existing == values.end()) existing = values.insert(values.end(), Value{wideName, type, {}});
    existing->type = type;
    existing->data = WideData(type, bytes);
    state_->tree.MarkChanged(key.hive());
}

void MemoryRegistry::SetString(HKEY root, std::string_view path, std::string_view name,
                               std::string_view textValue) {
    std::string bytes(textValue);
    bytes.push_back('\0');
    SetValue(root, path, name, kRegSz, bytes);
}

void MemoryRegistry::SetDword(HKEY root, std::string_view path, std::string_view name,
                              std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>(value >> 24)};
    SetValue(root, path, name, kRegDword, std::string_view(bytes, 4));
}

bool MemoryRegistry::KeyExists(HKEY root, std::string_view path) const {
    if (!State::IsRoot(root)) return false;
    const std::string text(path);
    Key* key = nullptr;
    return state_->Find(root, text.c_str(), key) == kErrorSuccess;
}

void MemoryRegistry::GrantOnly(HKEY root, std::string_view path, DWORD granted) {
    state_->grants.push_back({state_->PlaceFor(root, path), granted});
}

std::size_t MemoryRegistry::OpenHandleCount() const { return state_->handles.size(); }

LONG MemoryRegistry::RegOpenKeyExA(HKEY key, const char* subKey, DWORD, DWORD samDesired,
                                   HKEY* result) {
    if (!result) return kErrorInvalidParameter;
    Key* target = nullptr;
    std::optional<State::Copies> copies;
    if (LONG rc = state_->Find(key, subKey, target, &copies); rc != kErrorSuccess) return rc;
    if (!state_->grants.empty())
        if (auto granted = state_->Granted(PlaceOf(state_->tree, *target)))
            if ((samDesired & ~kKeyWow64Views & ~*granted) != 0) return kErrorAccessDenied;
    HKEY handle = state_->nextHandle;
    while (state_->handles.count(handle) || State::IsRoot(handle) || handle == 0) handle += 4;
    state_->nextHandle = handle + 4;
    state_->handles.emplace(handle, target);
    if (copies) state_->merged.emplace(handle, *copies);
    *result = handle;
    return kErrorSuccess;
}

LONG MemoryRegistry::RegCloseKey(HKEY key) {
    if (State::IsRoot(key)) return kErrorSuccess;
    state_->merged.erase(key);
    return state_->handles.erase(key) ? kErrorSuccess : kErrorInvalidHandle;
}

LONG MemoryRegistry::RegQueryValueExA(HKEY key, const char* valueName, DWORD*, DWORD* type,
                                      unsigned char* data, DWORD* dataSize) {
    Key* target = nullptr;
    if (LONG rc = state_->Resolve(key, target); rc != kErrorSuccess) return rc;
    const Value* value = state_->FindValue(*target, text::FromCp1252(valueName ? valueName : ""));
    if (!value) return kErrorFileNotFound;
    return CopyData(*value, type, data, dataSize);
}

LONG MemoryRegistry::RegEnumKeyExA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*,
                                   char* className, DWORD* classSize,
                                   std::uint64_t* lastWriteTime) {
    Key* parent = nullptr;
    if (LONG rc = state_->Resolve(key, parent); rc != kErrorSuccess) return rc;
    const std::vector<const Key*> subkeys = state_->SubkeysOf(key, *parent);
    if (index >= subkeys.size()) return kErrorNoMoreItems;
    const Key& sub = *subkeys[index];
    if (LONG rc = CopyEnumName(NarrowName(state_->tree.Name(sub)), name, nameSize, false);
        rc != kErrorSuccess)
        return rc;
    if (className && classSize && *classSize > 0) {
        const std::optional<std::u16string> cls = state_->tree.ClassName(sub);
        if (LONG rc = CopyName(cls ? text::ToCp1252(*cls) : std::string(), className, classSize); rc != kErrorSuccess)
            return rc;
    }
    if (lastWriteTime) *lastWriteTime = state_->tree.Time(sub);
    return kErrorSuccess;
}

LONG MemoryRegistry::RegEnumValueA(HKEY key, DWORD index, char* name, DWORD* nameSize, DWORD*,
                                   DWORD* type, unsigned char* data, DWORD* dataSize) {
    Key* target = nullptr;
    if (LONG rc = state_->Resolve(key, target); rc != kErrorSuccess) return rc;
    const std::vector<Value>& values = state_->tree.Values(*target);
    if (index >= values.size()) return kErrorNoMoreItems;
    const Value& value = values[index];
    if (LONG rc = CopyEnumName(NarrowName(detail::NameView(value.name)), name, nameSize, true);
        rc != kErrorSuccess)
        return rc;
    return CopyData(value, type, data, dataSize);
}

LONG MemoryRegistry::RegDeleteKeyA(HKEY key, const char* subKey) {
    Key* base = nullptr;
    if (LONG rc = state_->Resolve(key, base); rc != kErrorSuccess) return rc;
    Key* target = nullptr;
    if (LONG rc = state_->Find(key, subKey, target); rc != kErrorSuccess) return rc;
    if (!state_->grants.empty())
        if (auto granted = state_->Granted(PlaceOf(state_->tree, *target)))
            if ((*granted & kAccessDelete) == 0) return kErrorAccessDenied;
    // A predefined root or a hive's top cannot be deleted, nor a key that still has subkeys.
    if (!target->parent || (target == base && State::IsRoot(key)) || target->subkeyCount != 0)
        return kErrorAccessDenied;
    Key& parent = *target->parent;
    state_->tree.Unlink(*target);
    // Wine stamps the parent with the time of the deletion, and writes it anew.
    state_->tree.Change(parent);
    state_->tree.SetTime(parent, detail::NowFiletime());
    state_->tree.MarkChanged(parent.hive());
    return kErrorSuccess;
}

DWORD MemoryRegistry::FormatMessageA(DWORD flags, const void*, DWORD messageId, DWORD,
                                     char* buffer, DWORD size, void*) {
    return FormatSystemText(flags, messageId, buffer, size);
}

void MemoryRegistry::SetWow64Node(bool present) { state_->wow64Node = present; }

bool MemoryRegistry::HasWow64Node() const { return state_->wow64Node; }

void MemoryRegistry::MergeUserClasses(bool merge) {
    state_->mergeUserClasses = merge;
    state_->merged.clear();  // not merged any more: each handle stands for the copy it saw
}

bool MemoryRegistry::MergesUserClasses() const { return state_->mergeUserClasses; }

// --- Narrow text and short name buffers

namespace {

// Whether a unit comes out of the narrow functions as it is: it has its own byte.
bool NarrowExact(char16_t unit) {
    return unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF) || text::ToCp1252(unit) != '?';
}

// A name holding a NUL comes out with '?' (NarrowName).
bool NarrowNameExact(detail::NameView name) {
    for (std::size_t i = 0; i < name.size(); ++i)
        if (name[i] == 0 || !NarrowExact(name[i])) return false;
    return true;
}

bool NarrowDataExact(const Value& value) {
    if (!IsStringType(value.type)) return true;
    const std::string& bytes = value.data;
    if (bytes.size() % 2 != 0) return false;  // the narrow form cannot carry the odd byte
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        if (bytes[i + 1] == 0 && static_cast<unsigned char>(bytes[i]) < 0x80) continue;
        const auto unit = static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                                static_cast<unsigned char>(bytes[i + 1]) << 8);
        if (!NarrowExact(unit)) return false;
    }
    return true;
}

}  // namespace

void MemoryRegistry::SetNameBufferRules(NameBufferRules rules) { nameBufferRules_ = rules; }

LONG MemoryRegistry::QueryNarrowLoss(HKEY key, DWORD* loss) {
    if (!loss) return kErrorInvalidParameter;
    Key* target = nullptr;
    if (LONG rc = state_->Resolve(key, target); rc != kErrorSuccess) return rc;
    *loss = 0;
    for (const Key* sub : target->Subkeys())
        if (!NarrowNameExact(state_->tree.Name(*sub))) *loss |= kNarrowNamesInexact;
    for (const Value& value : state_->tree.Values(*target)) {
        if (!NarrowNameExact(detail::NameView(value.name))) *loss |= kNarrowNamesInexact;
        if (!NarrowDataExact(value)) *loss |= kNarrowTextInexact;
    }
    return kErrorSuccess;
}

LONG MemoryRegistry::QueryKeyClass(HKEY key, bool* hasClass) {
    Key* target = nullptr;
    if (LONG rc = state_->Resolve(key, target); rc != kErrorSuccess) return rc;
    *hasClass = state_->tree.ClassName(*target).has_value();
    return kErrorSuccess;
}

void MemoryRegistry::SetStringW(HKEY root, std::u16string_view path, std::u16string_view name,
                                std::u16string_view textValue) {
    Key* key = &state_->BuildRoot(root);
    for (std::size_t start = 0; start <= path.size();) {
        const std::size_t end = std::min(path.find(u'\\', start), path.size());
        if (end > start) key = &state_->MakeChild(*key, path.substr(start, end - start));
        start = end + 1;
    }
    std::string bytes;
    for (const char16_t unit : textValue) {
        bytes.push_back(static_cast<char>(unit & 0xFF));
        bytes.push_back(static_cast<char>(unit >> 8));
    }
    bytes.append(2, '\0');
    std::vector<Value>& values = state_->tree.Change(*key);
    auto existing = std::find_if(values.begin(), values.end(),
                                 [&](const Value& v) { return text::NamesEqual(v.name, name); });
    if (existing == values.end())
        existing = values.insert(values.end(), Value{std::u16string(name), kRegSz, {}});
    existing->type = kRegSz;
    existing->data = std::move(bytes);
    state_->tree.MarkChanged(key->hive());
}

LONG MemoryRegistry::CopyEnumName(const std::string& name, char* buffer, DWORD* size,
                                  bool cutOff) const {
    if (nameBufferRules_ == NameBufferRules::kTellNeededSize || !buffer || !size ||
        name.size() < *size) {
        return CopyName(name, buffer, size);
    }
    // Windows: the size stays as passed; RegEnumValueA writes as much of the name as fits.
    if (cutOff && *size > 0) {
        std::memcpy(buffer, name.data(), *size - 1);
        buffer[*size - 1] = '\0';
    }
    return kErrorMoreData;
}

}  // namespace platform
