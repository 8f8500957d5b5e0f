// The operations on a whole key tree: export, delete, find. Each is a small visitor on the one
// tree walk (tree_walk.h), which keeps the positions, the open keys, the yield and the links.
#include "cleaner/registry/modRegFuncs.h"

#include "cleaner/registry/backup_format.h"
#include "cleaner/registry/case_fold.h"
#include "cleaner/registry/failure_reports.h"
#include "cleaner/registry/layer_internal.h"
#include "cleaner/registry/tree_walk.h"

#include <string_view>

namespace cleaner {

namespace {

using platform::DWORD;
using platform::LONG;

constexpr const char* kTreeFailureLabel = "Delete - error #";

}  // namespace

// --- Export

bool modRegFuncs::RegExportTree(HKEY root, const std::string& displayRoot,
                                const std::string& keyPath, const std::string& subKey,
                                std::string& text) {
    ExportFindings findings;
    return RegExportTree(root, displayRoot, keyPath, subKey, text, findings);
}

bool modRegFuncs::RegExportTree(HKEY root, const std::string& displayRoot,
                                const std::string& keyPath, const std::string& subKey,
                                std::string& text, ExportFindings& findings) {
    // The blocks of a key's subtrees come before its own (post-order): each key's block is
    // written when the walk leaves it.
    struct Export {
        modRegFuncs& reg;
        std::string& text;
        ExportFindings& findings;
        WholeValue value;

        bool Finished() const { return false; }
        bool Descend(HKEY, const std::string& name) {
            if (name.find_first_of("\r\n") != std::string::npos) {
                findings.namesExact = false;  // a key line cannot hold it
            }
            return true;
        }
        void Leave(HKEY key, const std::string& path) {
            // What the narrow functions give out of this key (its subkeys' and values' names,
            // its string data) is checked here, once for each key of the tree.
            DWORD loss = 0;
            if (reg.api_.QueryNarrowLoss(key, &loss) != platform::kErrorSuccess) {
                findings.read = false;
            }
            if ((loss & platform::kNarrowNamesInexact) != 0) findings.namesExact = false;
            if ((loss & platform::kNarrowTextInexact) != 0) findings.textExact = false;
            bool hasClass = false;
            if (reg.api_.QueryKeyClass(key, &hasClass) == platform::kErrorSuccess && hasClass) {
                findings.restorable = false;
            }
            if (path.size() > kLongestRestoredKeyName) findings.restorable = false;
            if (!reg.AppendKeyBlock(key, path, value, text)) {
                findings.read = false;
            }
        }
        bool Left(HKEY, const char*) { return false; }
    };
    findings = ExportFindings{};
    try {
        std::string path = displayRoot;
        path.append(1, '\\').append(detail::JoinPath(keyPath, subKey));
        TreeWalk walk(*this, TreeWalk::Yield::PerSubkey, path, detail::kReadAccess);
        if (walk.Open(root, detail::JoinPath(keyPath, subKey)) == TreeWalk::Start::Opened) {
            Export visitor{*this, text, findings, {}};
            walk.Run(visitor);
        }
        findings.read = findings.read && walk.Whole();
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure(kTreeFailureLabel, failure);
        findings.read = false;
    }
    return findings.read && findings.namesExact && findings.textExact;
}

// A key's block goes into text whole or not at all, so that text never ends in half a block
// (a failure raised while reading a value takes back what the block had put into text).
// False when the value walk was cut short by anything but its normal end.
bool modRegFuncs::AppendKeyBlock(HKEY handle, const std::string& path, WholeValue& value,
                                 std::string& text) {
    const std::size_t blockStart = text.size();
    try {
        AppendKeyLine(text, path);
        ValueEnumIndex = 0;
        LONG result = platform::kErrorSuccess;
        while ((result = ReadWholeValue(handle, value)) == platform::kErrorSuccess) {
            AppendValueLine(text, value.name, value.type, value.bytes);
        }
        return result == platform::kErrorNoMoreItems;
    } catch (...) {
        text.resize(blockStart);
        throw;
    }
}

// --- Delete

bool modRegFuncs::RegDeleteTree(HKEY root, const std::string& keyPath,
                                const std::string& subKey) {
    // Each key is deleted when the walk is back in its parent, after its own subkeys. A subkey
    // that does not open may still go. No events are processed during a delete.
    struct Delete {
        platform::RegistryApi& api;

        bool Finished() const { return false; }
        bool Descend(HKEY, const std::string&) { return true; }
        void Leave(HKEY, const std::string&) {}
        bool Left(HKEY parent, const char* name) {
            return api.RegDeleteKeyA(parent, name) == platform::kErrorSuccess;
        }
    };
    try {
        const std::string path = detail::JoinPath(keyPath, subKey);
        TreeWalk walk(*this, TreeWalk::Yield::Never, path, detail::kDeleteAccess);
        if (walk.Open(root, path) == TreeWalk::Start::Opened) {
            Delete visitor{api_};
            if (!walk.Run(visitor)) {
                return false;  // a link: left alone
            }
        }
        // Whether or not it opened, the key itself is deleted.
        return api_.RegDeleteKeyA(root, path.c_str()) == platform::kErrorSuccess;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure(kTreeFailureLabel, failure);
        return false;
    }
}

// --- Find

bool modRegFuncs::RegFindSubkeyValue(HKEY root, const std::string& part,
                                     const std::string& keyPath, const std::string& subKey,
                                     std::string& result) {
    // The first subkey, depth first, whose name holds part and whose default value is not
    // empty; a matching subkey's own subkeys are not searched.
    struct Find {
        modRegFuncs& reg;
        std::string foldedPart;
        std::string& result;

        bool Finished() const { return !result.empty(); }
        bool Descend(HKEY parent, const std::string& name) {
            if (!ContainsFolded(FoldCase(name), foldedPart)) {
                return true;
            }
            // A matching link gives nothing: its target is reached by its own path.
            HKEY match = 0;
            if (reg.OpenKey(parent, name.c_str(), platform::kRegOptionOpenLink,
                            detail::kReadAccess, match) == platform::kErrorSuccess) {
                detail::ScopedKey key(reg.api_, match);
                if (!reg.IsLink(key.Get())) {
                    reg.RegGet(key.Get(), std::string(), result);
                }
                reg.RegClose(key.Release());
            }
            return false;
        }
        void Leave(HKEY, const std::string&) {}
        bool Left(HKEY, const char*) { return false; }
    };
    try {
        const std::string path = detail::JoinPath(keyPath, subKey);
        TreeWalk walk(*this, TreeWalk::Yield::PerSubkey, std::string(), detail::kReadAccess);
        if (walk.Open(root, path) == TreeWalk::Start::Opened) {
            Find visitor{*this, FoldCase(part), result};
            walk.Run(visitor);
        }
        return true;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure(kTreeFailureLabel, failure);
        return false;
    }
}

}  // namespace cleaner
