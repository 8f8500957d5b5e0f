// The depth-first walk of a key tree that export, delete and find share; not for use outside
// the layer.
//
// The walk owns everything the three have in common: the open keys (one per level, kept on an
// explicit stack so that a tree of any depth is walked without running out of stack, closed as
// the walk leaves them and all at once when a failure cuts it short), the shared subkey position
// (saved before the walk goes down into a subkey and set again when it comes back, one step
// back when that subkey is gone), the yield to the window, link keys, and the record of what
// could not be walked.
//
// Link keys are the registry's plumbing: the walk never goes into one, never hands one to its
// visitor, and leaves it where it is (its parent then stays too). A link has no subkeys, so only
// keys without subkeys are asked whether they are one. Children are opened with
// kRegOptionOpenLink, so that Windows, which otherwise opens a link's target, opens the link.
//
// A visitor has these members:
//   bool Finished()                         asked after each subkey read; true ends every level
//   bool Descend(HKEY parent, const std::string& name)
//                                           a subkey (its name not empty): walk its tree?
//   void Leave(HKEY key, const std::string& path)
//                                           all of key's subkeys are walked; key is still open
//   bool Left(HKEY parent, const char* name) the walk is back in parent after the subkey name
//                                           (walked, or not opened); true when it is gone
#pragma once

#include "cleaner/registry/layer_internal.h"
#include "cleaner/registry/modRegFuncs.h"

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

namespace cleaner {

class modRegFuncs::TreeWalk {
public:
    enum class Yield { Never, PerSubkey };
    enum class Start { Opened, Missing, Failed, Link };

    // path is what the walk reports as the start key's path (Leave's path); each subkey adds
    // a backslash and its name. Every key of the tree is opened for access.
    TreeWalk(modRegFuncs& reg, Yield yield, std::string path, platform::DWORD access)
        : reg_(reg), yield_(yield), path_(std::move(path)), access_(access) {}

    // Opens fullPath below root, the key to walk. Failed: its report was shown.
    Start Open(HKEY root, const std::string& fullPath) {
        HKEY handle = 0;
        const platform::LONG result =
            reg_.OpenKey(root, fullPath.c_str(), platform::kRegOptionOpenLink, access_, handle);
        if (result == platform::kErrorFileNotFound) {
            return Start::Missing;
        }
        if (result != platform::kErrorSuccess) {
            whole_ = false;
            return Start::Failed;
        }
        levels_.push_back(Level{detail::ScopedKey(reg_.api_, handle), path_.size()});
        return Start::Opened;
    }

    // Walks the opened key's tree. False when the start key turned out to be a link, and was
    // left alone.
    template <typename Visitor>
    bool Run(Visitor& visitor) {
        std::string name;
        while (!levels_.empty()) {
            Level& level = levels_.back();
            const SubkeyRead read = reg_.ReadSubkey(level.key.Get(), name, !level.started);
            level.started = true;
            if (read == SubkeyRead::Found || read == SubkeyRead::Unreadable) {
                level.hasSubkeys = true;
                if (visitor.Finished()) {
                    Ascend(visitor);
                    continue;
                }
                if (yield_ == Yield::PerSubkey) {
                    reg_.ui_.DoEvents();
                }
                if (read == SubkeyRead::Unreadable) {
                    whole_ = false;  // a subkey that no name reaches stays, with its tree
                }
                if (!name.empty() && visitor.Descend(level.key.Get(), name)) {
                    Enter(visitor, name);
                }
                continue;
            }
            if (read == SubkeyRead::Failed) {
                whole_ = false;
            }
            if (!Ascend(visitor)) {
                return false;
            }
        }
        return true;
    }

    // Nothing failed to open or to be walked (each such failure showed its report), and every
    // subkey had a name that reaches it.
    bool Whole() const { return whole_; }

private:
    struct Level {
        detail::ScopedKey key;
        std::size_t pathLength;  // the key's path is path_.substr(0, pathLength)
        std::int32_t saved = 0;  // the subkey position just after the subkey being walked
        bool started = false;
        bool hasSubkeys = false;
    };

    // Goes down into the subkey name of the innermost level.
    template <typename Visitor>
    void Enter(Visitor& visitor, const std::string& name) {
        Level& parent = levels_.back();
        parent.saved = reg_.KeyEnumIndex;
        path_.append(1, '\\').append(name);
        HKEY child = 0;
        const platform::LONG result =
            reg_.OpenKey(parent.key.Get(), name.c_str(), platform::kRegOptionOpenLink, access_,
                         child);
        if (result == platform::kErrorSuccess) {
            levels_.push_back(Level{detail::ScopedKey(reg_.api_, child), path_.size()});
            return;
        }
        if (result != platform::kErrorFileNotFound) {
            whole_ = false;
        }
        BackIn(visitor, parent, true);
    }

    // The innermost level has no more subkeys: it is left and closed. False when it was the
    // start key and a link.
    template <typename Visitor>
    bool Ascend(Visitor& visitor) {
        Level& level = levels_.back();
        const bool link = !level.hasSubkeys && reg_.IsLink(level.key.Get());
        if (!link) {
            visitor.Leave(level.key.Get(), path_);
        }
        const HKEY done = level.key.Release();
        levels_.pop_back();
        reg_.RegClose(done);
        if (levels_.empty()) {
            return !link;
        }
        BackIn(visitor, levels_.back(), !link);
        return true;
    }

    // Back in parent after its subkey, whose name ends path_: the walk goes on after that
    // subkey, or where it was when the subkey is gone and its followers have moved down.
    template <typename Visitor>
    void BackIn(Visitor& visitor, Level& parent, bool visit) {
        const char* name = path_.c_str() + parent.pathLength + 1;
        const bool gone = visit && visitor.Left(parent.key.Get(), name);
        reg_.KeyEnumIndex = gone ? parent.saved - 1 : parent.saved;
        path_.resize(parent.pathLength);
    }

    modRegFuncs& reg_;
    Yield yield_;
    std::string path_;
    platform::DWORD access_;
    std::vector<Level> levels_;
    bool whole_ = true;
};

}  // namespace cleaner
