// The four searches of HKEY_CLASSES_ROOT. Each walks its branch of the registry once and keeps
// what it saw in its SearchCache, a local list that lives only while the search runs. Every
// cached text is folded to lower case as it enters the cache; the first keyword is compared
// while the walk goes on, and all further keywords are answered together by one PatternSet pass
// over the cache, so a long keyword list costs little more than a short one. The records appended
// to FoundKeys, their order, the yields and the texts shown are those of comparing one keyword at
// a time.
//
// Both nodes. On a registry with a 32-bit node (branches.h) each search walks its branch in the
// 64-bit node and then the same branch in the 32-bit node, by the same rules in each walk, and
// shows the 32-bit branch in the hive field when it moves there. A find of the 32-bit node names
// its key by its path in the 64-bit view (Branch "Wow6432Node\CLSID\", a root key's Branch
// "Wow6432Node\<name>"). How the finds of one node feed the follow-ups:
// - SearchRootKeys and SearchClassIds run whole (every keyword) over the 64-bit node, then over
//   the 32-bit node, so all 64-bit finds come first. A keyword's TypeLibId ends up holding the
//   type library of the last class found for it that has one, the 32-bit walk coming last.
// - SearchInterfaces: both walks follow the same records, those in FoundKeys when the search
//   starts (the root and class finds of both nodes), and every keyword's TypeLibId; neither
//   follows the interface finds of the other. A type library serves both nodes, so a library
//   carried by a class of either node brings in its interfaces of both.
// - SearchTypeLibs: TYPELIB is shared by the nodes and walked once; it follows every record.
//
// A type-library id takes part in those follow-ups only when it is a well-formed GUID, and then
// matches the same GUID whatever its letter case and braces: an id such as "-" would otherwise
// occur in nearly every interface of the system and bring them all in.
//
// Link keys (Wine's #link) are the registry's plumbing, never a find: a link's target is found
// by its own path or not at all. On a registry with a 32-bit node, HKEY_CLASSES_ROOT\Wow6432Node
// is that node itself, searched by the 32-bit walks, and never a root-key find: as a find it
// would take every 32-bit registration of every program with it.
#include "cleaner/registry/case_fold.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/search/pattern_set.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

namespace cleaner {
namespace {

using platform::kHkeyClassesRoot;

const std::string kDefaultValue;  // the empty name reads a key's default value

// One node of HKEY_CLASSES_ROOT as the searches walk it: its key paths, the texts shown while
// its branches are searched and the Branch of its finds (branches.h).
struct ClassesNode {
    std::string keyPath;  // below HKEY_CLASSES_ROOT; empty for the 64-bit node
    std::string rootHive;
    std::string clsidKey;
    std::string clsidHive;
    std::string classBranch;
    std::string interfaceKey;
    std::string interfaceHive;
    std::string interfaceBranch;

    // A root key's path below HKEY_CLASSES_ROOT, which is also the Branch of its find.
    std::string RootKeyPath(const std::string& name) const {
        return keyPath.empty() ? name : keyPath + "\\" + name;
    }
};

// The nodes the searches walk, in order: the 64-bit node (HKEY_CLASSES_ROOT itself, or the only
// node), then the 32-bit node when the registry keeps one and its key is not a link, which
// would lead the walks into a node they search already or somewhere they must not go.
std::vector<ClassesNode> SearchedNodes(modRegFuncs& reg) {
    std::vector<ClassesNode> nodes{{"", kHiveClassesRoot, kClsidKey, kHiveClsid, kClassBranch,
                                    kInterfaceKey, kHiveInterface, kInterfaceBranch}};
    if (reg.HasWow64Node() && !reg.IsLinkKey(kHkeyClassesRoot, kWow64NodeKey, {})) {
        nodes.push_back({kWow64NodeKey, kHiveClassesRoot32, kClsidKey32, kHiveClsid32,
                         kClassBranch32, kInterfaceKey32, kHiveInterface32, kInterfaceBranch32});
    }
    return nodes;
}

// Whether a key may be appended as a find; worked out once per cached key.
enum class Findable : unsigned char { Unknown, Yes, No };

bool IsFindable(modRegFuncs& reg, Findable& state, const std::string& keyPath,
                const std::string& subKey) {
    if (state == Findable::Unknown) {
        state = reg.IsLinkKey(kHkeyClassesRoot, keyPath, subKey) ? Findable::No : Findable::Yes;
    }
    return state == Findable::Yes;
}

// The GUID a type-library id stands for, as a number; nothing when the id is not a well-formed
// GUID (36 characters 8-4-4-4-12 of hex digits and hyphens, or those in braces). Letter case
// and braces do not count.
struct Guid {
    std::uint64_t high = 0;
    std::uint64_t low = 0;
    bool operator==(const Guid&) const = default;
};

struct GuidHash {
    std::size_t operator()(const Guid& g) const {
        return std::hash<std::uint64_t>()(g.high ^ (g.low * 0x9E3779B97F4A7C15ull));
    }
};

std::optional<Guid> TypeLibGuid(std::string_view id) {
    if (id.size() == 38) {
        if (id.front() != '{' || id.back() != '}') return std::nullopt;
        id = id.substr(1, 36);
    }
    if (id.size() != 36) return std::nullopt;
    Guid guid;
    int digits = 0;
    for (std::size_t i = 0; i < id.size(); ++i) {
        const char c = id[i];
        if (i == 8 || i == 13 || i == 18 || i == 23) {
            if (c != '-') return std::nullopt;
            continue;
        }
        unsigned value = 0;
        if (c >= '0' && c <= '9') {
            value = static_cast<unsigned>(c - '0');
        } else if (c >= 'a' && c <= 'f') {
            value = static_cast<unsigned>(c - 'a' + 10);
        } else if (c >= 'A' && c <= 'F') {
            value = static_cast<unsigned>(c - 'A' + 10);
        } else {
            return std::nullopt;
        }
        std::uint64_t& half = digits < 16 ? guid.high : guid.low;
        half = half << 4 | value;
        ++digits;
    }
    return guid;
}

// The key of a type library below TYPELIB: the id as written, in braces if it had none.
std::string TypeLibKeyName(const std::string& id) {
    return id.size() == 36 ? "{" + id + "}" : id;
}

void Append(modFennick& m, FoundKey key) {
    m.FoundKeys.push_back(std::move(key));
}

std::vector<std::string> FoldedKeywords(const std::vector<Keyword>& keywords) {
    std::vector<std::string> folded;
    folded.reserve(keywords.size());
    for (const Keyword& k : keywords) {
        folded.push_back(FoldCase(k.Text));
    }
    return folded;
}

// An open key, closed when the walk leaves it however it leaves.
class OpenKey {
public:
    OpenKey(modRegFuncs& reg, HKEY handle) : reg_(reg), handle_(handle) {}
    ~OpenKey() { reg_.RegClose(handle_); }
    OpenKey(const OpenKey&) = delete;
    OpenKey& operator=(const OpenKey&) = delete;

private:
    modRegFuncs& reg_;
    HKEY handle_;
};

// Calls visit(name) for each subkey of keyPath below HKEY_CLASSES_ROOT (of the root itself when
// keyPath is empty), in enumeration order. False when the key does not open.
template <typename Visit>
bool ForEachSubkey(modRegFuncs& reg, const std::string& keyPath, Visit&& visit) {
    HKEY key = kHkeyClassesRoot;
    std::optional<OpenKey> opened;
    if (!keyPath.empty()) {
        if (!reg.RegOpen(kHkeyClassesRoot, keyPath, {}, key)) return false;
        opened.emplace(reg, key);
    }
    std::string name;
    if (reg.RegFirstKey(key, name)) {
        do {
            visit(name);
        } while (reg.RegNextKey(key, name));
    }
    return true;
}

// Opens keyPath\subKey and reads its default value into data (empty when it cannot be read);
// read tells whether it could. When the key does not open, data keeps what it held and the
// result is false.
bool ReadSubkeyDefault(modRegFuncs& reg, const std::string& keyPath, const std::string& subKey,
                       std::string& data, bool& read) {
    HKEY key = 0;
    read = false;
    if (!reg.RegOpen(kHkeyClassesRoot, keyPath, subKey, key)) {
        return false;
    }
    const OpenKey close(reg, key);
    read = reg.RegGet(key, kDefaultValue, data);
    if (!read) {
        data.clear();
    }
    return true;
}

struct RootRecord {
    std::string Name;
    std::string Folded;
    Findable findable = Findable::Unknown;
};

struct ClassRecord {
    std::string ClassId;
    std::string ProgId;
    // Folded, in the order the further keywords try them: description, ProgId, last value read.
    std::string Texts[3];
    Findable findable = Findable::Unknown;
};

struct InterfaceRecord {
    std::string InterfaceId;
    std::string TypeLib;
    Findable findable = Findable::Unknown;
};

struct TypeLibRecord {
    std::string TypeLibId;
    std::string FoldedPath;
    Findable findable = Findable::Unknown;
};

// The type libraries that the records found so far and the keywords carry, as GUIDs; those that
// are none are left empty.
struct FollowedTypeLibs {
    std::vector<std::optional<Guid>> records;
    std::vector<std::optional<Guid>> keywords;
};

// The searches of one node, with what they share.
class NodeSearch {
public:
    NodeSearch(modFennick& m, modRegFuncs& reg, FennickView& view)
        : m_(m), reg_(reg), view_(view), hasWow64Node_(reg.HasWow64Node()) {}

    // Runs search over each node, showing the hive text of every node after the first.
    template <typename Search>
    void OverEachNode(std::string ClassesNode::*hive, Search&& search) {
        const std::vector<ClassesNode> nodes = SearchedNodes(reg_);
        for (std::size_t n = 0; n < nodes.size(); ++n) {
            if (n > 0) view_.UpdateRegistryHiveText(nodes[n].*hive);
            search(nodes[n]);
        }
    }

    void RootKeys(const ClassesNode& node) {
        std::vector<RootRecord> cache;  // SearchCache: the names directly under the node
        std::optional<PatternSet> further;
        for (std::size_t k = 0; k < m_.Keywords.size(); ++k) {
            ShowKeyword(k);
            if (k == 0) {
                const std::string keyword = FoldCase(m_.Keywords[k].Text);
                ForEachSubkey(reg_, node.keyPath, [&](const std::string& name) {
                    cache.push_back(RootRecord{name, FoldCase(name)});
                    if (ContainsFolded(cache.back().Folded, keyword)) {
                        AppendRootFind(node, cache.back());
                    }
                });
                continue;
            }
            if (!further) {
                further.emplace(FoldedKeywords(m_.Keywords));
                for (std::size_t i = 0; i < cache.size(); ++i) {
                    further->Scan(static_cast<std::uint32_t>(i), cache[i].Folded);
                }
            }
            for (std::uint32_t i : further->Hits(k)) {
                AppendRootFind(node, cache[i]);
            }
        }
    }

    void ClassIds(const ClassesNode& node) {
        std::vector<ClassRecord> cache;  // SearchCache: one record per class identifier
        std::optional<PatternSet> further;
        for (std::size_t k = 0; k < m_.Keywords.size(); ++k) {
            ShowKeyword(k);
            if (k == 0) {
                // Without a CLSID branch nothing is cached, so no keyword finds a class.
                const std::string keyword = FoldCase(m_.Keywords[k].Text);
                ForEachSubkey(reg_, node.clsidKey, [&](const std::string& classId) {
                    cache.push_back(ClassRecord{classId, {}, {}});
                    if (ReadClass(node, cache.back(), keyword)) {
                        RecordClass(node, k, cache.back());
                    }
                });
                continue;
            }
            if (!further) {
                further.emplace(FoldedKeywords(m_.Keywords));
                for (std::size_t i = 0; i < cache.size(); ++i) {
                    for (const std::string& text : cache[i].Texts) {
                        further->Scan(static_cast<std::uint32_t>(i), text);
                    }
                }
            }
            for (std::uint32_t i : further->Hits(k)) {
                RecordClass(node, k, cache[i]);
            }
        }
    }

    void Interfaces(const ClassesNode& node, const FollowedTypeLibs& followed) {
        // SearchCache: each interface of the node with the default value of its TypeLib subkey,
        // and, for the follow-ups, the interfaces of each type library in cache order.
        std::vector<InterfaceRecord> cache;
        std::unordered_map<Guid, std::vector<std::size_t>, GuidHash> ofTypeLib;
        ForEachSubkey(reg_, node.interfaceKey, [&](const std::string& interfaceId) {
            InterfaceRecord& record = cache.emplace_back();
            record.InterfaceId = interfaceId;
            HKEY key = 0;
            if (reg_.RegOpen(kHkeyClassesRoot, node.interfaceKey, interfaceId, key)) {
                const OpenKey close(reg_, key);
                bool read = false;
                ReadSubkeyDefault(reg_, node.interfaceBranch + interfaceId, "TypeLib",
                                  record.TypeLib, read);
            }
            if (const auto guid = TypeLibGuid(record.TypeLib)) {
                ofTypeLib[*guid].push_back(cache.size() - 1);
            }
        });
        auto follow = [&](const std::optional<Guid>& guid) {
            if (!guid) return;
            const auto interfaces = ofTypeLib.find(*guid);
            if (interfaces == ofTypeLib.end()) return;
            for (const std::size_t e : interfaces->second) {
                InterfaceRecord& record = cache[e];
                if (IsFindable(reg_, record.findable, node.interfaceKey, record.InterfaceId)) {
                    Append(m_, FoundKey{node.interfaceBranch, {}, record.InterfaceId,
                                        record.TypeLib});
                }
            }
        };
        for (std::size_t i = 0; i < followed.records.size(); ++i) {
            view_.DoEvents();
            view_.UpdateKeywordText(m_.FoundKeys[i].TypeLibId);
            follow(followed.records[i]);
        }
        for (std::size_t k = 0; k < m_.Keywords.size(); ++k) {
            ShowKeyword(k);
            follow(followed.keywords[k]);
        }
    }

private:
    void ShowKeyword(std::size_t k) {
        view_.DoEvents();
        view_.UpdateKeywordText(m_.Keywords[k].Text);
    }

    void AppendRootFind(const ClassesNode& node, RootRecord& record) {
        if (record.findable == Findable::Unknown && node.keyPath.empty() && hasWow64Node_ &&
            record.Folded == FoldCase(kWow64NodeKey)) {
            record.findable = Findable::No;  // the 32-bit node itself
        }
        if (IsFindable(reg_, record.findable, node.keyPath.empty() ? record.Name : node.keyPath,
                       node.keyPath.empty() ? std::string() : record.Name)) {
            Append(m_, FoundKey{node.RootKeyPath(record.Name), {}, {}, {}});
        }
    }

    // One class for the first keyword: caches what it reads and tells whether the keyword occurs
    // in the description, the ProgId or the server path.
    bool ReadClass(const ClassesNode& node, ClassRecord& record, const std::string& keyword) {
        HKEY key = 0;
        if (!reg_.RegOpen(kHkeyClassesRoot, node.clsidKey, record.ClassId, key)) {
            return false;
        }
        const OpenKey close(reg_, key);
        const std::string classPath = node.classBranch + record.ClassId;
        std::string last;  // every read leaves its outcome here; a failed read leaves it empty
        std::string description;
        if (reg_.RegGet(key, kDefaultValue, last)) {
            description = last;
        }
        bool read = false;
        ReadSubkeyDefault(reg_, classPath, "ProgId", last, read);
        if (read) {
            record.ProgId = last;
        }
        // A class with a local server is judged by that path alone.
        if (!ReadSubkeyDefault(reg_, classPath, "LocalServer32", last, read)) {
            ReadSubkeyDefault(reg_, classPath, "InprocServer32", last, read);
        }
        record.Texts[0] = FoldCase(description);
        record.Texts[1] = FoldCase(record.ProgId);
        record.Texts[2] = FoldCase(last);
        // The description and the ProgId only count when read; a failed read is empty and
        // matches nothing, so comparing the three cached texts is the same test.
        return ContainsFolded(record.Texts[0], keyword) ||
               ContainsFolded(record.Texts[1], keyword) ||
               ContainsFolded(record.Texts[2], keyword);
    }

    // Appends the class find and carries the class's type library, when it has a readable one,
    // into the record and into the keyword that found it.
    void RecordClass(const ClassesNode& node, std::size_t keyword, ClassRecord& record) {
        const std::string& classId = record.ClassId;
        if (!IsFindable(reg_, record.findable, node.clsidKey, classId)) return;
        Append(m_, FoundKey{node.classBranch, record.ProgId, classId, {}});
        std::string typeLib;
        bool read = false;
        ReadSubkeyDefault(reg_, node.classBranch + classId, "TypeLib", typeLib, read);
        if (read) {
            m_.FoundKeys.back().TypeLibId = typeLib;
            m_.Keywords[keyword].TypeLibId = typeLib;
        }
    }

    modFennick& m_;
    modRegFuncs& reg_;
    FennickView& view_;
    bool hasWow64Node_;
};

void AppendTypeLibFind(modFennick& m, const std::string& typeLibId) {
    Append(m, FoundKey{kTypeLibBranch, {}, {}, typeLibId});
}

}  // namespace

void modFennick::SearchRootKeys() {
    NodeSearch search(*this, reg_, view_);
    search.OverEachNode(&ClassesNode::rootHive,
                        [&](const ClassesNode& node) { search.RootKeys(node); });
}

void modFennick::SearchClassIds() {
    NodeSearch search(*this, reg_, view_);
    search.OverEachNode(&ClassesNode::clsidHive,
                        [&](const ClassesNode& node) { search.ClassIds(node); });
}

void modFennick::SearchInterfaces() {
    // Both walks follow the records present now (records appended here are not followed) and
    // the keywords' type libraries, which nothing changes while the search runs.
    FollowedTypeLibs followed;
    for (const FoundKey& key : FoundKeys) {
        followed.records.push_back(TypeLibGuid(key.TypeLibId));
    }
    for (const Keyword& keyword : Keywords) {
        followed.keywords.push_back(TypeLibGuid(keyword.TypeLibId));
    }
    NodeSearch search(*this, reg_, view_);
    search.OverEachNode(&ClassesNode::interfaceHive,
                        [&](const ClassesNode& node) { search.Interfaces(node, followed); });
}

void modFennick::SearchTypeLibs() {
    // Many records carry the same type library (a class and each of its interfaces). Nothing
    // changes the registry while the search runs, so a library seen registered once is not
    // opened again; one that did not open is tried again each time, so that any failure other
    // than a missing key is reported every time it happens, as for any other open.
    std::unordered_set<Guid, GuidHash> registered;
    auto isRegistered = [&](const std::string& keyName) {
        HKEY key = 0;
        if (!reg_.RegOpen(kHkeyClassesRoot, kTypeLibKey, keyName, key)) {
            return false;
        }
        reg_.RegClose(key);
        return !reg_.IsLinkKey(kHkeyClassesRoot, kTypeLibKey, keyName);
    };
    const std::size_t found = FoundKeys.size();
    for (std::size_t i = 0; i < found; ++i) {
        view_.DoEvents();
        const std::string typeLibId = FoundKeys[i].TypeLibId;
        view_.UpdateKeywordText(typeLibId);
        const std::optional<Guid> guid = TypeLibGuid(typeLibId);
        if (!guid) continue;
        const std::string keyName = TypeLibKeyName(typeLibId);
        if (registered.count(*guid) != 0 || isRegistered(keyName)) {
            registered.insert(*guid);
            AppendTypeLibFind(*this, keyName);
        }
    }

    // SearchCache: each type library under TYPELIB that has a file path below a WIN32 key.
    std::vector<TypeLibRecord> cache;
    ForEachSubkey(reg_, kTypeLibKey, [&](const std::string& typeLibId) {
        view_.UpdateKeywordText(typeLibId);
        std::string path;
        // The search below the library walks subkeys with the same shared position as this
        // walk over TYPELIB.
        const std::int32_t position = reg_.RegGetKeyIndex();
        reg_.RegFindSubkeyValue(kHkeyClassesRoot, "WIN32", kTypeLibKey, typeLibId, path);
        reg_.RegSetKeyIndex(position);
        if (!path.empty()) {
            cache.push_back(TypeLibRecord{typeLibId, FoldCase(path)});
        }
    });

    PatternSet keywords(FoldedKeywords(Keywords));
    for (std::size_t i = 0; i < cache.size(); ++i) {
        keywords.Scan(static_cast<std::uint32_t>(i), cache[i].FoldedPath);
    }
    for (std::size_t k = 0; k < Keywords.size(); ++k) {
        view_.DoEvents();
        view_.UpdateKeywordText(Keywords[k].Text);
        for (std::uint32_t e : keywords.Hits(k)) {
            TypeLibRecord& record = cache[e];
            if (IsFindable(reg_, record.findable, kTypeLibKey, record.TypeLibId)) {
                AppendTypeLibFind(*this, record.TypeLibId);
            }
        }
    }
}

}  // namespace cleaner
