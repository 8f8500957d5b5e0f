// The operations on a whole key tree: export, delete, find.
//
// Each walks the tree depth first with the shared subkey position, saving it before it goes
// down into a subkey and setting it again when it comes back, as nested walks of this layer
// must. The levels of the walk are kept on an explicit stack rather than on the call stack, so
// that a tree of any depth is walked without running out of stack.
#include "cleaner/registry/modRegFuncs.h"

#include "cleaner/registry/backup_format.h"
#include "cleaner/registry/case_fold.h"
#include "cleaner/registry/failure_reports.h"
#include "cleaner/registry/layer_internal.h"

#include <cstddef>
#include <utility>
#include <vector>

namespace cleaner {

namespace {

using platform::LONG;

constexpr const char* kTreeFailureLabel = "Delete - error #";

}  // namespace

// --- Export

bool modRegFuncs::RegExportTree(HKEY root, const std::string& displayRoot,
                                const std::string& keyPath, const std::string& subKey,
                                std::string& text) {
    struct Level {
        detail::ScopedKey key;
        std::size_t pathLength;  // the key's display path is path.substr(0, pathLength)
        std::int32_t saved = 0;  // the subkey position to go on from after a subkey's tree
        bool started = false;
    };
    try {
        // A backup that lacks part of the tree must not pass for a whole one: the tree would
        // then be deleted with parts that nothing can bring back. Parts that could not be
        // opened or walked have shown their report; they make the result false. A key that
        // does not exist is no failure.
        const std::uint64_t reportsBefore = reportsShown_;
        bool complete = true;
        HKEY opened = 0;
        if (!RegOpen(root, keyPath, subKey, opened)) {
            return reportsShown_ == reportsBefore;
        }
        detail::ScopedKey start(api_, opened);
        std::string path = displayRoot;
        path.append(1, '\\').append(detail::JoinPath(keyPath, subKey));
        std::vector<Level> levels;
        levels.push_back(Level{std::move(start), path.size()});

        WholeValue value;
        std::string block;
        std::string name;
        while (!levels.empty()) {
            Level& level = levels.back();
            const bool found = level.started ? RegNextKey(level.key.Get(), name)
                                             : RegFirstKey(level.key.Get(), name);
            level.started = true;
            if (found) {
                ui_.DoEvents();
                if (name.empty()) {
                    continue;
                }
                level.saved = RegGetKeyIndex();
                HKEY child = 0;
                if (RegOpen(level.key.Get(), name, std::string(), child)) {
                    detail::ScopedKey childKey(api_, child);
                    path.append(1, '\\').append(name);
                    levels.push_back(Level{std::move(childKey), path.size()});
                } else {
                    RegSetKeyIndex(level.saved);
                }
                continue;
            }
            // All subkeys' trees are written: the key's own block follows them.
            if (!AppendKeyBlock(level.key.Get(), path, value, block, text)) {
                complete = false;
            }
            const HKEY done = level.key.Release();
            levels.pop_back();
            RegClose(done);
            if (!levels.empty()) {
                path.resize(levels.back().pathLength);
                RegSetKeyIndex(levels.back().saved);
            }
        }
        return complete && reportsShown_ == reportsBefore;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure(kTreeFailureLabel, failure);
        return false;
    }
}

// A key's block goes into text whole or not at all, so that text never ends in half a block.
// False when the value walk was cut short by anything but its normal end.
bool modRegFuncs::AppendKeyBlock(HKEY handle, const std::string& path, WholeValue& value,
                                 std::string& block, std::string& text) {
    block.clear();
    AppendKeyLine(block, path);
    ValueEnumIndex = 0;
    LONG result = platform::kErrorSuccess;
    while ((result = ReadWholeValue(handle, value)) == platform::kErrorSuccess) {
        AppendValueLine(block, value.name, value.type, value.bytes);
    }
    text += block;
    return result == platform::kErrorNoMoreItems;
}

// --- Delete

bool modRegFuncs::RegDeleteTree(HKEY root, const std::string& keyPath,
                                const std::string& subKey) {
    struct Level {
        explicit Level(detail::ScopedKey opened) : key(std::move(opened)) {}
        detail::ScopedKey key;
        std::string child;       // the subkey whose tree is being deleted
        std::int32_t saved = 0;  // the position just after that subkey
        bool started = false;
    };
    // The subkeys after a deleted one move down by one, so the walk goes on one step back;
    // after a subkey that is still there (protected, say) it goes on after it, or the same
    // subkey would be read again and again.
    const auto deleteChild = [this](Level& level) {
        const LONG result = api_.RegDeleteKeyA(level.key.Get(), level.child.c_str());
        RegSetKeyIndex(result == platform::kErrorSuccess ? level.saved - 1 : level.saved);
    };
    try {
        std::vector<Level> levels;
        HKEY opened = 0;
        if (RegOpen(root, keyPath, subKey, opened)) {
            detail::ScopedKey start(api_, opened);
            levels.push_back(Level(std::move(start)));
        }
        std::string name;
        while (!levels.empty()) {
            Level& level = levels.back();
            const bool found = level.started ? RegNextKey(level.key.Get(), name)
                                             : RegFirstKey(level.key.Get(), name);
            level.started = true;
            if (found) {
                if (name.empty()) {
                    continue;
                }
                level.saved = RegGetKeyIndex();
                level.child = name;
                HKEY child = 0;
                if (RegOpen(level.key.Get(), name, std::string(), child)) {
                    detail::ScopedKey childKey(api_, child);
                    levels.push_back(Level(std::move(childKey)));
                } else {
                    deleteChild(level);  // a key that does not open may still go
                }
                continue;
            }
            const HKEY done = level.key.Release();
            levels.pop_back();
            RegClose(done);
            if (!levels.empty()) {
                deleteChild(levels.back());
            }
        }
        const std::string path = detail::JoinPath(keyPath, subKey);
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
    struct Level {
        explicit Level(detail::ScopedKey opened) : key(std::move(opened)) {}
        detail::ScopedKey key;
        std::int32_t saved = 0;
        bool started = false;
    };
    try {
        HKEY opened = 0;
        if (!RegOpen(root, keyPath, subKey, opened)) {
            return true;
        }
        detail::ScopedKey start(api_, opened);
        std::vector<Level> levels;
        levels.push_back(Level(std::move(start)));

        const std::string foldedPart = FoldCase(part);
        std::string name;
        while (!levels.empty()) {
            Level& level = levels.back();
            const bool found = level.started ? RegNextKey(level.key.Get(), name)
                                             : RegFirstKey(level.key.Get(), name);
            level.started = true;
            if (found && result.empty()) {
                ui_.DoEvents();
                if (name.empty()) {
                    continue;
                }
                HKEY child = 0;
                if (FoldCase(name).find(foldedPart) != std::string::npos) {
                    // A matching subkey gives its default value; its own subkeys are not searched.
                    if (RegOpen(level.key.Get(), name, std::string(), child)) {
                        detail::ScopedKey match(api_, child);
                        RegGet(match.Get(), std::string(), result);
                        RegClose(match.Release());
                    }
                    continue;
                }
                level.saved = RegGetKeyIndex();
                if (RegOpen(level.key.Get(), name, std::string(), child)) {
                    detail::ScopedKey childKey(api_, child);
                    levels.push_back(Level(std::move(childKey)));
                } else {
                    RegSetKeyIndex(level.saved);
                }
                continue;
            }
            const HKEY done = level.key.Release();
            levels.pop_back();
            RegClose(done);
            if (!levels.empty()) {
                RegSetKeyIndex(levels.back().saved);
            }
        }
        return true;
    } catch (const std::exception& failure) {
        ShowUnexpectedFailure(kTreeFailureLabel, failure);
        return false;
    }
}

}  // namespace cleaner
