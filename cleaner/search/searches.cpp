// The four searches of HKEY_CLASSES_ROOT. Each walks its branch of the registry once and keeps
// what it saw in its SearchCache, a local list that lives only while the search runs. Every
// cached text is folded to lower case as it enters the cache; the first keyword is compared
// while the walk goes on, and all further keywords are answered together by one PatternSet pass
// over the cache, so a long keyword list costs little more than a short one. The records appended
// to FoundKeys, their order, the yields and the texts shown are those of comparing one keyword at
// a time.
#include "cleaner/registry/case_fold.h"
#include "cleaner/search/modFennick.h"
#include "cleaner/search/pattern_set.h"

#include <optional>
#include <unordered_set>
#include <utility>

namespace cleaner {
namespace {

using platform::kHkeyClassesRoot;

const std::string kClsid = "CLSID";
const std::string kInterface = "INTERFACE";
const std::string kTypeLib = "TYPELIB";
const std::string kDefaultValue;  // the empty name reads a key's default value

void Append(modFennick& m, FoundKey key) {
    m.FoundKeys.push_back(std::move(key));
    ++m.FoundKeyCount;
}

std::vector<std::string> FoldedKeywords(const std::vector<Keyword>& keywords) {
    std::vector<std::string> folded;
    folded.reserve(keywords.size());
    for (const Keyword& k : keywords) {
        folded.push_back(FoldCase(k.Text));
    }
    return folded;
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
    read = reg.RegGet(key, kDefaultValue, data);
    if (!read) {
        data.clear();
    }
    reg.RegClose(key);
    return true;
}

// --- SearchRootKeys

struct RootRecord {
    std::string Name;
    std::string Folded;
};

void AppendRootFind(modFennick& m, const std::string& name) {
    Append(m, FoundKey{name, {}, {}, {}});
}

// --- SearchClassIds

struct ClassRecord {
    std::string ClassId;
    std::string ProgId;
    // Folded, in the order the further keywords try them: description, ProgId, last value read.
    std::string Texts[3];
};

// Appends the class find and carries the class's type library, when it has a readable one, into
// the record and into the keyword that found it.
void RecordClass(modFennick& m, modRegFuncs& reg, std::size_t keyword, const std::string& classId,
                 const std::string& progId) {
    Append(m, FoundKey{kClassBranch, progId, classId, {}});
    std::string typeLib;
    bool read = false;
    ReadSubkeyDefault(reg, kClassBranch + classId, "TypeLib", typeLib, read);
    if (read) {
        m.FoundKeys.back().TypeLibId = typeLib;
        m.Keywords[keyword].TypeLibId = typeLib;
    }
}

// One class under CLSID for the first keyword: caches what it reads and tells whether the
// keyword occurs in the description, the ProgId or the server path.
bool ReadClass(modRegFuncs& reg, ClassRecord& record, const std::string& keyword) {
    HKEY key = 0;
    if (!reg.RegOpen(kHkeyClassesRoot, kClsid, record.ClassId, key)) {
        return false;
    }
    const std::string classPath = kClassBranch + record.ClassId;
    std::string last;  // every read leaves its outcome here; a failed read leaves it empty
    std::string description;
    if (reg.RegGet(key, kDefaultValue, last)) {
        description = last;
    }
    bool read = false;
    ReadSubkeyDefault(reg, classPath, "ProgId", last, read);
    if (read) {
        record.ProgId = last;
    }
    // A class with a local server is judged by that path alone.
    if (!ReadSubkeyDefault(reg, classPath, "LocalServer32", last, read)) {
        ReadSubkeyDefault(reg, classPath, "InprocServer32", last, read);
    }
    record.Texts[0] = FoldCase(description);
    record.Texts[1] = FoldCase(record.ProgId);
    record.Texts[2] = FoldCase(last);
    reg.RegClose(key);
    // The description and the ProgId only count when read; a failed read is empty and matches
    // nothing, so comparing the three cached texts is the same test.
    return ContainsFolded(record.Texts[0], keyword) || ContainsFolded(record.Texts[1], keyword) ||
           ContainsFolded(record.Texts[2], keyword);
}

// --- SearchInterfaces and SearchTypeLibs

struct InterfaceRecord {
    std::string InterfaceId;
    std::string TypeLib;
    std::string FoldedTypeLib;
};

struct TypeLibRecord {
    std::string TypeLibId;
    std::string FoldedPath;
};

void AppendInterfaceFind(modFennick& m, const InterfaceRecord& record) {
    Append(m, FoundKey{kInterfaceBranch, {}, record.InterfaceId, record.TypeLib});
}

void AppendTypeLibFind(modFennick& m, const std::string& typeLibId) {
    Append(m, FoundKey{kTypeLibBranch, {}, {}, typeLibId});
}

}  // namespace

void modFennick::SearchRootKeys() {
    std::vector<RootRecord> cache;  // SearchCache: the names directly under HKEY_CLASSES_ROOT
    std::optional<PatternSet> further;
    for (std::size_t k = 0; k < Keywords.size(); ++k) {
        view_.DoEvents();
        view_.UpdateKeywordText(Keywords[k].Text);
        if (k == 0) {
            const std::string keyword = FoldCase(Keywords[k].Text);
            std::string name;
            if (reg_.RegFirstKey(kHkeyClassesRoot, name)) {
                do {
                    cache.push_back(RootRecord{name, FoldCase(name)});
                    if (ContainsFolded(cache.back().Folded, keyword)) {
                        AppendRootFind(*this, name);
                    }
                } while (reg_.RegNextKey(kHkeyClassesRoot, name));
            }
            continue;
        }
        if (!further) {
            further.emplace(FoldedKeywords(Keywords));
            for (std::size_t i = 0; i < cache.size(); ++i) {
                further->Scan(static_cast<std::uint32_t>(i), cache[i].Folded);
            }
        }
        for (std::uint32_t i : further->Hits(k)) {
            AppendRootFind(*this, cache[i].Name);
        }
    }
}

void modFennick::SearchClassIds() {
    std::vector<ClassRecord> cache;  // SearchCache: one record per class identifier under CLSID
    std::optional<PatternSet> further;
    for (std::size_t k = 0; k < Keywords.size(); ++k) {
        view_.DoEvents();
        view_.UpdateKeywordText(Keywords[k].Text);
        if (k == 0) {
            const std::string keyword = FoldCase(Keywords[k].Text);
            HKEY clsid = 0;
            if (!reg_.RegOpen(kHkeyClassesRoot, kClsid, {}, clsid)) {
                continue;  // no CLSID branch: nothing cached, so no keyword finds a class
            }
            std::string classId;
            if (reg_.RegFirstKey(clsid, classId)) {
                do {
                    cache.push_back(ClassRecord{classId, {}, {}});
                    if (ReadClass(reg_, cache.back(), keyword)) {
                        RecordClass(*this, reg_, k, classId, cache.back().ProgId);
                    }
                } while (reg_.RegNextKey(clsid, classId));
            }
            reg_.RegClose(clsid);
            continue;
        }
        if (!further) {
            further.emplace(FoldedKeywords(Keywords));
            for (std::size_t i = 0; i < cache.size(); ++i) {
                for (const std::string& text : cache[i].Texts) {
                    further->Scan(static_cast<std::uint32_t>(i), text);
                }
            }
        }
        for (std::uint32_t i : further->Hits(k)) {
            RecordClass(*this, reg_, k, cache[i].ClassId, cache[i].ProgId);
        }
    }
}

void modFennick::SearchInterfaces() {
    // SearchCache: each interface under INTERFACE with the default value of its TypeLib subkey.
    std::vector<InterfaceRecord> cache;
    HKEY branch = 0;
    if (reg_.RegOpen(kHkeyClassesRoot, kInterface, {}, branch)) {
        std::string interfaceId;
        if (reg_.RegFirstKey(branch, interfaceId)) {
            do {
                InterfaceRecord& record = cache.emplace_back();
                record.InterfaceId = interfaceId;
                HKEY key = 0;
                if (reg_.RegOpen(kHkeyClassesRoot, kInterface, interfaceId, key)) {
                    bool read = false;
                    ReadSubkeyDefault(reg_, kInterfaceBranch + interfaceId, "TypeLib",
                                      record.TypeLib, read);
                    reg_.RegClose(key);
                }
                record.FoldedTypeLib = FoldCase(record.TypeLib);
            } while (reg_.RegNextKey(branch, interfaceId));
        }
        reg_.RegClose(branch);
    }

    // Every type-library identifier asked about below is known now: those of the records found
    // so far (pattern i) and those of the keywords (pattern found + k).
    const std::size_t found = FoundKeys.size();
    std::vector<std::string> patterns;
    patterns.reserve(found + Keywords.size());
    for (std::size_t i = 0; i < found; ++i) {
        patterns.push_back(FoldCase(FoundKeys[i].TypeLibId));
    }
    for (const Keyword& keyword : Keywords) {
        patterns.push_back(FoldCase(keyword.TypeLibId));
    }
    PatternSet typeLibs(patterns);
    for (std::size_t i = 0; i < cache.size(); ++i) {
        typeLibs.Scan(static_cast<std::uint32_t>(i), cache[i].FoldedTypeLib);
    }

    for (std::size_t i = 0; i < found; ++i) {  // records appended here are not followed
        view_.DoEvents();
        const std::string typeLibId = FoundKeys[i].TypeLibId;
        view_.UpdateKeywordText(typeLibId);
        if (!typeLibId.empty()) {
            for (std::uint32_t e : typeLibs.Hits(i)) {
                AppendInterfaceFind(*this, cache[e]);
            }
        }
    }
    for (std::size_t k = 0; k < Keywords.size(); ++k) {
        view_.DoEvents();
        view_.UpdateKeywordText(Keywords[k].Text);
        if (!Keywords[k].TypeLibId.empty()) {
            for (std::uint32_t e : typeLibs.Hits(found + k)) {
                AppendInterfaceFind(*this, cache[e]);
            }
        }
    }
}

void modFennick::SearchTypeLibs() {
    // Many records carry the same type library (a class and each of its interfaces). Nothing
    // changes the registry while the search runs, so a library seen registered once is not
    // opened again; one that did not open is tried again each time, so that any failure other
    // than a missing key is reported every time it happens, as for any other open.
    std::unordered_set<std::string> registered;
    auto isRegistered = [&](const std::string& typeLibId) {
        HKEY key = 0;
        if (!reg_.RegOpen(kHkeyClassesRoot, kTypeLib, typeLibId, key)) {
            return false;
        }
        reg_.RegClose(key);
        return true;
    };
    const std::size_t found = FoundKeys.size();
    for (std::size_t i = 0; i < found; ++i) {
        view_.DoEvents();
        const std::string typeLibId = FoundKeys[i].TypeLibId;
        view_.UpdateKeywordText(typeLibId);
        if (!typeLibId.empty() && (registered.count(typeLibId) != 0 || isRegistered(typeLibId))) {
            registered.insert(typeLibId);
            AppendTypeLibFind(*this, typeLibId);
        }
    }

    // SearchCache: each type library under TYPELIB that has a file path below a WIN32 key.
    std::vector<TypeLibRecord> cache;
    HKEY branch = 0;
    if (reg_.RegOpen(kHkeyClassesRoot, kTypeLib, {}, branch)) {
        std::string typeLibId;
        if (reg_.RegFirstKey(branch, typeLibId)) {
            do {
                view_.UpdateKeywordText(typeLibId);
                std::string path;
                // The search below the library walks subkeys with the same shared position as
                // this walk over TYPELIB.
                const std::int32_t position = reg_.RegGetKeyIndex();
                reg_.RegFindSubkeyValue(kHkeyClassesRoot, "WIN32", kTypeLib, typeLibId, path);
                reg_.RegSetKeyIndex(position);
                if (!path.empty()) {
                    cache.push_back(TypeLibRecord{typeLibId, FoldCase(path)});
                }
            } while (reg_.RegNextKey(branch, typeLibId));
        }
        reg_.RegClose(branch);
    }

    PatternSet keywords(FoldedKeywords(Keywords));
    for (std::size_t i = 0; i < cache.size(); ++i) {
        keywords.Scan(static_cast<std::uint32_t>(i), cache[i].FoldedPath);
    }
    for (std::size_t k = 0; k < Keywords.size(); ++k) {
        view_.DoEvents();
        view_.UpdateKeywordText(Keywords[k].Text);
        for (std::uint32_t e : keywords.Hits(k)) {
            AppendTypeLibFind(*this, cache[e].TypeLibId);
        }
    }
}

}  // namespace cleaner
